#include "app/Module.h"

#include "channel/HelperError.h"

#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

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

std::mutex exitHooksLock;
std::vector<ModuleExitHook> exitHooks;
bool exitHooksRan = false;

std::string lastLoaderError()
{
    const char* text = dlerror();
    return text ? text : "erro desconhecido";
}

}

void loadModule(const std::string& name, Dispatcher& dispatcher)
{
    std::string path = executableFolder() + "/modules/libtarvio-" + name + ".so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        throw internalError("falha ao carregar o módulo " + name + ": " + lastLoaderError());
    auto addMethods = reinterpret_cast<AddModuleMethods>(dlsym(module, addModuleMethodsSymbol));
    if (!addMethods)
        throw internalError("falha ao carregar o módulo " + name + ": " + lastLoaderError());
    addMethods(dispatcher);
    if (auto atExit = reinterpret_cast<ModuleExitHook>(dlsym(module, moduleExitHookSymbol))) {
        std::lock_guard guard(exitHooksLock);
        exitHooks.push_back(atExit);
    }
}

void runModuleExitHooks()
{
    std::lock_guard guard(exitHooksLock);
    if (std::exchange(exitHooksRan, true))
        return;
    for (ModuleExitHook hook : exitHooks)
        hook();
}

}
