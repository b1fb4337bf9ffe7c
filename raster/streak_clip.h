// Pixel ranges of a box clipped to the image (raster/streak_clip.cpp also
// holds PixelTarget::PrepareStreak, the clipping of a streak before its loop).
#pragma once

namespace raster {

// Pixel indices trunc(lo) .. trunc(hi) clipped to 0..maxIndex into
// [first, last]. The bounds are clipped in floating point before they are
// converted, so far-out or infinite bounds are safe; false when the range is
// empty or a bound is NaN.
bool PixelRange(float lo, float hi, int maxIndex, int& first, int& last);

}  // namespace raster
