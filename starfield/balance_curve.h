// BalanceCurve: the bias curve of the bright/dim grading and of the radial
// density of the 3D domain.
#pragma once

#include <cmath>

// Maps a fraction x in 0..1 through the curve of balance t, in single
// precision. t = 0.5 is the identity; below it the curve bends down (most x
// give small results), above it up. For 0 < t < 1 it passes through (0, 0)
// and (1, 1) and rises monotonically.
//
// Where the formula has no value (0/0: t = 0 at x = 1, t = 1 at x = 0) the
// curve's own end point x is returned, so the result is always a finite
// fraction for x in 0..1.
inline float BalanceCurve(float x, float t) {
  if (t == 0.5f) return x;
  const float v = t * t / (1.0f - 2.0f * t);
  const float r = (v + t) * (v + t) / (v + 1.0f - x) - v;
  return std::isnan(r) ? x : r;
}
