#include "app/Module.h"

#include "channel/HelperError.h"

#include <dlfcn.h>
#include <filesystem>

namespace tarvio {

namespace {

std::string executableFolder()
{
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return ".";
    return executable.parent_path().string();
}

std::string lastLoaderError()
{
    const char* text = dlerror();
    return text ? text : "erro desconhecido";
}

}

void* moduleSymbol(const std::string& name, const char* symbol, std::string& error)
{
    std::string path = executableFolder() + "/modules/libtarvio-" + name + ".so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* found = module ? dlsym(module, symbol) : nullptr;
    if (!found)
        error = lastLoaderError();
    return found;
}

void loadModule(const std::string& name, Dispatcher& dispatcher)
{
    std::string error;
    auto addMethods = reinterpret_cast<AddModuleMethods>(moduleSymbol(name, addModuleMethodsSymbol, error));
    if (!addMethods)
        throw internalError("falha ao carregar o módulo " + name + ": " + error);
    addMethods(dispatcher);
}

}
