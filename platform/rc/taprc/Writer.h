// Writes a compiled script as a C++ source file that defines one tap::res::ResourceModule.
#pragma once

#include <ostream>
#include <string>

#include "Script.h"

namespace tap::rc {

// SYMBOL names the ResourceModule object (a C++ identifier, optionally namespace-qualified is not
// allowed); MODULENAME is the name the module reports in messages.
void WriteResourceModule(std::ostream& out, const Script& script, const std::string& symbol,
                         const std::string& moduleName);

} // namespace tap::rc
