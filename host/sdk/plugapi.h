// The version of the host's plug-in interface. A module reports the version
// it was built for through its LibVersion export; the host loads only
// modules built for its own.
#pragma once

#include "max_types.h"

inline constexpr ULONG MAX_RELEASE = 9000;  // release 9
inline constexpr ULONG MAX_API_NUM = 21;    // interface number of the release
inline constexpr ULONG MAX_SDK_REV = 0;
// Release in the upper 16 bits, interface number in bits 8 to 15, revision
// in bits 0 to 7: 0x23281500.
inline constexpr ULONG VERSION_3DSMAX = (MAX_RELEASE << 16) + (MAX_API_NUM << 8) + MAX_SDK_REV;
static_assert(VERSION_3DSMAX == 0x23281500u);
