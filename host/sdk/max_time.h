// The host's frame rate, as ticks per frame (4800 ticks per second).
#pragma once

#include "max_types.h"

// Ticks per frame of the current scene: 4800 / fps (160 at 30 fps).
int GetTicksPerFrame();
// Sets it; values below 1 are refused (the previous value stays) and the
// result is false.
bool SetTicksPerFrame(int ticks);
