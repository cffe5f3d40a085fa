#include "app/Module.h"

#include "channel/HelperError.h"

#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

namespace tarvio {

// Without its module no recognizer serves any locale (Linux asks no speech
// consent, hence "authorized"), and no recording can be in progress.
const ModuleDescription speechModule {
    "speech",
    {"speech.status", "speech.transcribe"},
    {{"speech.status", {{"available", false}, {"backend", "unavailable"}, {"authorization", "authorized"}}}},
};

const ModuleDescription recordingModule {
    "recording",
    {"recording.permission", "recording.start", "recording.pause", "recording.resume", "recording.stop",
        "recording.status", "recording.selftest"},
    {{"recording.status", {{"state", "idle"}, {"durationMs", 0}, {"levels", {{"system", 0}, {"mic", 0}}}}}},
};

namespace {

// The modules folder follows the executable, so a tree copied elsewhere
// keeps working.
std::filesystem::path modulePath(const std::string& name)
{
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    auto folder = error ? std::filesystem::path(".") : executable.parent_path();
    return folder / "modules" / ("libtarvio-" + name + ".so");
}

std::mutex exitHooksLock;
std::vector<ModuleExitHook> exitHooks;
bool exitHooksRan = false;

// The loader's reason, without the module's path that it often starts with.
std::string lastLoaderError(const std::filesystem::path& path)
{
    const char* text = dlerror();
    std::string reason = text ? text : "erro desconhecido";
    std::string prefix = path.string() + ": ";
    if (reason.starts_with(prefix))
        reason.erase(0, prefix.size());
    return reason;
}

// Loads the module and returns why it could not, or "" when its methods
// are in place.
std::string loadModule(const std::filesystem::path& path, Dispatcher& dispatcher)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return "módulo não encontrado: " + path.string();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return "não foi possível carregar o módulo " + path.string() + ": " + lastLoaderError(path);
    auto addMethods = reinterpret_cast<AddModuleMethods>(dlsym(module, addModuleMethodsSymbol));
    if (!addMethods)
        return "não foi possível carregar o módulo " + path.string() + ": " + lastLoaderError(path);
    addMethods(dispatcher);
    if (auto atExit = reinterpret_cast<ModuleExitHook>(dlsym(module, moduleExitHookSymbol))) {
        std::lock_guard guard(exitHooksLock);
        exitHooks.push_back(atExit);
    }
    return {};
}

void addUnavailableMethods(const ModuleDescription& module, const std::string& reason, Dispatcher& dispatcher)
{
    for (const auto& method : module.methods) {
        auto answer = module.unavailableAnswers.find(method);
        if (answer != module.unavailableAnswers.end()) {
            dispatcher.add(method, [result = answer->second](const Json&) { return result; });
            continue;
        }
        dispatcher.add(method, [reason](const Json&) -> Json { throw unavailable(reason); });
    }
}

}

void* moduleSymbol(const std::string& name, const char* symbol, std::string& error)
{
    auto path = modulePath(name);
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* found = module ? dlsym(module, symbol) : nullptr;
    if (!found)
        error = lastLoaderError(path);
    return found;
}

void addModule(Dispatcher& dispatcher, const ModuleDescription& module)
{
    dispatcher.addDeferred(module.methods, [module](Dispatcher& target) {
        std::string reason = loadModule(modulePath(module.name), target);
        if (!reason.empty())
            addUnavailableMethods(module, reason, target);
    });
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
