// The module's entry routine and its four exports, the names the host looks
// up when it loads the module. C linkage, no exception leaves any of them.
#pragma once

#include "plugin/host.h"

// Set to 1 by the entry routine's first call, so that the controls are
// initialised once per process however often the routine runs.
extern int controlsInit;

extern "C" {

// Called by the platform after the module's static objects are built, for
// every process and thread attach and detach: records `instance` as the
// module's handle on every call, initialises the host's custom controls and
// the common controls on the first call only. Never refuses: TRUE.
BOOL WINAPI DllMain(HINSTANCE instance, ULONG reason, LPVOID reserved) noexcept;

// The library description for the host's plug-in list (string 1), or null
// when the string cannot be loaded.
const MCHAR* LibDescription() noexcept;
// The number of classes the module holds: 1.
int LibNumberClasses() noexcept;
// The class descriptor for i = 0; null for any other i.
ClassDesc* LibClassDesc(int i) noexcept;
// The host interface version the module was built for (VERSION_3DSMAX).
ULONG LibVersion() noexcept;

}  // extern "C"
