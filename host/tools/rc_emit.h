// The output of rcc: a C++ source defining a module's resource tables.
#pragma once

#include <string>

#include "host/tools/rc_resources.h"

namespace rc {

// The C++ source of the tables of `r`, exporting them as
// HostModuleResources; `inputName` is named in its first line.
std::string EmitResources(const Resources& r, const std::string& inputName);

}  // namespace rc
