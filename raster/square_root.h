// SquareRoot: the correctly rounded square root, the value std::sqrt gives,
// as one instruction. Without -fno-math-errno the compiler calls the library
// for std::sqrt (for an errno no caller here reads), and the call spills
// every floating-point register of the pixel loops around it.
#pragma once

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace raster {

inline float SquareRoot(float x) {
#if defined(__SSE2__)
  return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(x)));
#else
  return std::sqrt(x);
#endif
}

inline double SquareRoot(double x) {
#if defined(__SSE2__)
  return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(x)));
#else
  return std::sqrt(x);
#endif
}

}  // namespace raster
