// The command's version: the project's, from the build.
#pragma once

#include "velumbra_version.h"

namespace velumbra {

inline constexpr const char* kVelumbraVersion = VELUMBRA_VERSION_STRING;

}  // namespace velumbra
