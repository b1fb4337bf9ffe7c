// The few Windows calls and conventions of a plug-in module, on Linux.
//
// A module's instance handle is the address of its ModuleResources (see
// resources.h); the module records the handle its entry routine is given and
// reads its own string table through it.
#pragma once

#include "host/platform/resource_constants.h"
#include "host/platform/resources.h"
#include "host/platform/winuser.h"
#include "host/sdk/max_types.h"

// Opaque handle types, distinct from each other as on Windows.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HWND__;
using HWND = HWND__*;

using LPVOID = void*;
using LPSTR = char*;
using LPCSTR = const char*;

// Calling-convention markers of exported functions; nothing on this platform.
#define APIENTRY
#define WINAPI
#define CALLBACK

// Reasons passed to a module's entry routine
// `BOOL APIENTRY DllMain(HINSTANCE, ULONG reason, LPVOID reserved)`.
inline constexpr ULONG DLL_PROCESS_DETACH = 0;
inline constexpr ULONG DLL_PROCESS_ATTACH = 1;
inline constexpr ULONG DLL_THREAD_ATTACH = 2;
inline constexpr ULONG DLL_THREAD_DETACH = 3;

// The instance handle of a module's resources, and back.
inline HINSTANCE InstanceHandleOf(const ModuleResources* resources) {
  return reinterpret_cast<HINSTANCE>(const_cast<ModuleResources*>(resources));
}
inline const ModuleResources* ModuleResourcesOf(HINSTANCE instance) {
  return ModuleResourcesOf(static_cast<const void*>(instance));
}

// Copies string `id` of the string table of the module `instance` into
// `buffer`: at most size - 1 characters, then a terminator. Returns the
// number of characters copied (without the terminator); 0 when the handle
// is null or not a module's, the string is absent or empty, or the buffer
// is null or size < 1. When a buffer of size >= 1 is given and nothing is
// copied, it receives an empty string.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
