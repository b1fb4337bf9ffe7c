// The module's instance handle and its string lookup.
//
// Every user-visible text of the module lives in the string table of
// resources/Qe_Velumbra.rc and is looked up by number through GetString.
#pragma once

#include "plugin/host.h"

// The module's own instance handle, recorded by the entry routine on every
// call; null until then.
extern HINSTANCE hInstance;

// String `id` of the module's string table, loaded into one shared buffer of
// 256 characters (longer strings are cut to 255). The text lives until the
// next lookup, which overwrites it: callers copy it at once or hand it
// straight to the host. Null before hInstance is recorded (the buffer is then
// left alone), and for an ID the table does not hold.
const MCHAR* GetString(int id);
