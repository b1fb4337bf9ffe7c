// Pixel ranges of a box clipped to the image (raster/streak_clip.cpp also
// holds PixelTarget::PrepareStreak, the clipping of a streak before its loop).
#pragma once

#include <algorithm>
#include <cmath>

namespace raster {

// Pixel indices trunc(lo) .. trunc(hi) clipped to 0..maxIndex into
// [first, last]. The bounds are clipped in floating point before they are
// converted, so far-out or infinite bounds are safe; false when the range is
// empty or a bound is NaN. Inline: every disc takes it twice.
inline bool PixelRange(float lo, float hi, int maxIndex, int& first, int& last) {
  if (std::isnan(lo) || std::isnan(hi)) return false;
  const float below = -1.0f;
  const float above = static_cast<float>(maxIndex) + 1.0f;
  first = std::max(0, static_cast<int>(std::clamp(lo, below, above)));
  last = std::min(maxIndex, static_cast<int>(std::clamp(hi, below, above)));
  return first <= last;
}

}  // namespace raster
