// Colour channels on the 8.8 scale: 65280 (255 x 256) is full intensity and
// full opacity of every channel the effect writes, and the one rule by which
// a channel value computed in floating point becomes a 16-bit channel.
#pragma once

#include "plugin/host.h"

inline constexpr int kFullChannel = 65280;

// v truncated toward zero and limited to 0..65280; NaN gives 0. The limits
// are tested on the float first, so no rounding corner leaves the channel
// range and nothing outside the integer range reaches a conversion; for
// finite values the result equals truncate-then-limit.
inline WORD ToChannel(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= static_cast<float>(kFullChannel)) return static_cast<WORD>(kFullChannel);
  return static_cast<WORD>(v);
}
