#pragma once

#include "channel/Dispatcher.h"
#include "channel/Json.h"

#include <map>
#include <string>
#include <vector>

namespace tarvio {

// A subsystem built as a loadable module: modules/libtarvio-<name>.so beside
// the executable, which exports `tarvioAddMethods(Dispatcher&)`.
struct ModuleDescription {
    std::string name;
    std::vector<std::string> methods;
    // What the methods that never fail answer while the module is missing.
    std::map<std::string, Json> unavailableAnswers;
};

extern const ModuleDescription speechModule;
extern const ModuleDescription recordingModule;

// Registers the module's methods as deferred: the first call of one of them
// loads the module, which adds the real handlers. When the module file is
// missing or cannot be loaded, its methods answer for good with
// `unavailableAnswers`, or else with "unavailable" naming the file and why.
void addModule(Dispatcher& dispatcher, const ModuleDescription& module);

// The symbol `symbol` of modules/libtarvio-<name>.so, or none with the
// loader's reason in `error`.
void* moduleSymbol(const std::string& name, const char* symbol, std::string& error);

// What a module exports.
using AddModuleMethods = void (*)(Dispatcher&);
inline constexpr const char* addModuleMethodsSymbol = "tarvioAddMethods";
// Optional: run once before the process exits (end of input or a signal
// that ends the session), from any thread, while other threads still run.
using ModuleExitHook = void (*)();
inline constexpr const char* moduleExitHookSymbol = "tarvioAtExit";

// Runs the exit hooks of the loaded modules, once; a second caller waits
// until the first is done.
void runModuleExitHooks();

}
