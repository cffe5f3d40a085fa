#pragma once

#include "channel/Dispatcher.h"

#include <string>

namespace tarvio {

// Loads modules/libtarvio-<name>.so beside the executable and calls its
// `tarvioAddMethods(Dispatcher&)`, which adds the module's handlers. Throws
// "internal" when the module cannot be loaded. Modules stay loaded.
void loadModule(const std::string& name, Dispatcher& dispatcher);

// The symbol `symbol` of modules/libtarvio-<name>.so, or none with the
// loader's reason in `error`.
void* moduleSymbol(const std::string& name, const char* symbol, std::string& error);

// What a module exports.
using AddModuleMethods = void (*)(Dispatcher&);
inline constexpr const char* addModuleMethodsSymbol = "tarvioAddMethods";

}
