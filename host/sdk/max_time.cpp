#include "max_time.h"

namespace {
int g_ticksPerFrame = TIME_TICKSPERSEC / 30;
}

int GetTicksPerFrame() { return g_ticksPerFrame; }

bool SetTicksPerFrame(int ticks) {
  if (ticks < 1) return false;
  g_ticksPerFrame = ticks;
  return true;
}
