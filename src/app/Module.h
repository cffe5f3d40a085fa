#pragma once

#include "channel/Dispatcher.h"

#include <string>

namespace tarvio {

// Loads modules/libtarvio-<name>.so beside the executable and calls its
// `tarvioAddMethods(Dispatcher&)`, which adds the module's handlers. Throws
// "internal" when the module cannot be loaded. Modules stay loaded.
void loadModule(const std::string& name, Dispatcher& dispatcher);

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
