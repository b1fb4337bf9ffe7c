// Channels4: the four channels of a pixel (r, g, b, a) as 32-bit lanes, with
// the few lane-wise operations the pixel kernels need. Each operation gives,
// in every lane, exactly what the scalar expression named beside it gives
// for that channel (IEEE single-precision products, sums and quotients are
// the same in a vector lane; truncation and limits are reproduced), so a
// kernel written with them composites to the bit as the scalar code does.
// SSE2 on x86-64, plain arrays elsewhere.
#pragma once

#include <bit>
#include <cstdint>

#include "plugin/host.h"
#include "starfield/channel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace raster {

#if defined(__SSE2__)

struct Channels4 {
  __m128i v;  // int lanes
};
struct Floats4 {
  __m128 v;
};

// The pixel's channels, zero-extended.
inline Channels4 Unpack(BMM_Color_64 c) {
  const auto bits = std::bit_cast<std::uint64_t>(c);
  return {_mm_unpacklo_epi16(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_setzero_si128())};
}
// Lanes within 0..65535 back into a pixel.
inline BMM_Color_64 Pack(Channels4 c) {
  // packs saturates signed: centre on 0 first, restore after.
  const __m128i centred = _mm_sub_epi32(c.v, _mm_set1_epi32(32768));
  const __m128i packed = _mm_xor_si128(_mm_packs_epi32(centred, centred), _mm_set1_epi16(static_cast<short>(0x8000)));
  return std::bit_cast<BMM_Color_64>(static_cast<std::uint64_t>(_mm_cvtsi128_si64(packed)));
}
inline int Alpha(Channels4 c) { return _mm_extract_epi16(c.v, 6); }  // lanes hold 0..65535
// Lane 3 := a (0..65535).
inline Channels4 WithAlpha(Channels4 c, int a) { return {_mm_insert_epi16(_mm_insert_epi16(c.v, a, 6), 0, 7)}; }
// static_cast<float>(v)
inline Floats4 ToFloats(Channels4 c) { return {_mm_cvtepi32_ps(c.v)}; }
inline Floats4 operator*(Floats4 a, float f) { return {_mm_mul_ps(a.v, _mm_set1_ps(f))}; }
inline Floats4 operator*(Floats4 a, Floats4 b) { return {_mm_mul_ps(a.v, b.v)}; }
inline Floats4 operator+(Floats4 a, float f) { return {_mm_add_ps(a.v, _mm_set1_ps(f))}; }
inline Floats4 operator+(Floats4 a, Floats4 b) { return {_mm_add_ps(a.v, b.v)}; }
inline Floats4 operator/(Floats4 a, Floats4 b) { return {_mm_div_ps(a.v, b.v)}; }
inline Channels4 operator+(Channels4 a, Channels4 b) { return {_mm_add_epi32(a.v, b.v)}; }
// static_cast<int>(v), for values within the int range.
inline Channels4 Truncated(Floats4 f) { return {_mm_cvttps_epi32(f.v)}; }
// ToChannel(v): NaN and values <= 0 give 0, values >= 65280 give 65280.
inline Channels4 ToChannels(Floats4 f) {
  // max returns its second operand (0) when the first is NaN.
  const __m128 limited = _mm_min_ps(_mm_max_ps(f.v, _mm_setzero_ps()), _mm_set1_ps(static_cast<float>(kFullChannel)));
  return {_mm_cvttps_epi32(limited)};
}
// condition ? a : b, without a branch.
inline Channels4 Choose(bool condition, Channels4 a, Channels4 b) {
  const __m128i m = _mm_set1_epi32(-static_cast<int>(condition));
  return {_mm_or_si128(_mm_and_si128(m, a.v), _mm_andnot_si128(m, b.v))};
}
// ClampColor's limit: above 65280 compared as unsigned (negative included)
// gives 65280.
inline Channels4 Limited(Channels4 c) {
  const __m128i full = _mm_set1_epi32(kFullChannel);
  const __m128i over = _mm_or_si128(_mm_cmpgt_epi32(c.v, full), _mm_cmplt_epi32(c.v, _mm_setzero_si128()));
  return {_mm_or_si128(_mm_andnot_si128(over, c.v), _mm_and_si128(over, full))};
}

#else

struct Channels4 {
  int v[4];
};
struct Floats4 {
  float v[4];
};

inline Channels4 Unpack(BMM_Color_64 c) { return {{c.r, c.g, c.b, c.a}}; }
inline BMM_Color_64 Pack(Channels4 c) {
  return {static_cast<WORD>(c.v[0]), static_cast<WORD>(c.v[1]), static_cast<WORD>(c.v[2]), static_cast<WORD>(c.v[3])};
}
inline int Alpha(Channels4 c) { return c.v[3]; }
inline Channels4 WithAlpha(Channels4 c, int a) {
  c.v[3] = a;
  return c;
}
inline Floats4 ToFloats(Channels4 c) {
  Floats4 f;
  for (int i = 0; i < 4; ++i) f.v[i] = static_cast<float>(c.v[i]);
  return f;
}
inline Floats4 operator*(Floats4 a, float f) {
  for (float& x : a.v) x = x * f;
  return a;
}
inline Floats4 operator*(Floats4 a, Floats4 b) {
  for (int i = 0; i < 4; ++i) a.v[i] = a.v[i] * b.v[i];
  return a;
}
inline Floats4 operator+(Floats4 a, float f) {
  for (float& x : a.v) x = x + f;
  return a;
}
inline Floats4 operator+(Floats4 a, Floats4 b) {
  for (int i = 0; i < 4; ++i) a.v[i] = a.v[i] + b.v[i];
  return a;
}
inline Floats4 operator/(Floats4 a, Floats4 b) {
  for (int i = 0; i < 4; ++i) a.v[i] = a.v[i] / b.v[i];
  return a;
}
inline Channels4 operator+(Channels4 a, Channels4 b) {
  for (int i = 0; i < 4; ++i) a.v[i] = a.v[i] + b.v[i];
  return a;
}
inline Channels4 Truncated(Floats4 f) {
  Channels4 c;
  for (int i = 0; i < 4; ++i) c.v[i] = static_cast<int>(f.v[i]);
  return c;
}
inline Channels4 ToChannels(Floats4 f) {
  Channels4 c;
  for (int i = 0; i < 4; ++i) c.v[i] = ToChannel(f.v[i]);
  return c;
}
inline Channels4 Choose(bool condition, Channels4 a, Channels4 b) { return condition ? a : b; }
inline Channels4 Limited(Channels4 c) {
  for (int& x : c.v)
    if (static_cast<unsigned>(x) > static_cast<unsigned>(kFullChannel)) x = kFullChannel;
  return c;
}

#endif

}  // namespace raster
