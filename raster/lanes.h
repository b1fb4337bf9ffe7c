// Lanes: the one vocabulary of the effect's vector code (the star
// generation in starfield/, the pixel kernels and coverage in raster/).
//
// F32x4 and I32x4 are four single-precision or 32-bit integer lanes, the
// compilers' own vector types (GCC and clang read the same extension): the
// arithmetic operators, comparisons (lanes of -1 where true, 0 where not,
// false for NaN as the scalar comparison is) and `mask ? a : b` work lane by
// lane, each lane exactly the scalar operation, and a scalar operand stands
// for all four lanes. What the operators do not say is here by name: square
// roots, the lanes' sign bits as a bit set, truncation, and the pixel's
// sixteen-bit channels in and out. U64x4 is four 64-bit lanes as two halves
// of two, so that no vector wider than 16 bytes is ever passed by value: a
// function compiled without AVX (the default clone of a target_clones
// function) may then call one compiled with it, which clang refuses for
// 32-byte vector arguments.
//
// Header only, with nothing but the compiler's SSE2 intrinsics beneath it
// (every x86-64 processor has SSE2); it includes no other part of the effect,
// so that starfield/ and raster/ share it without depending on each other.
#pragma once

#include <bit>
#include <cstdint>

#if !defined(__SSE2__)
#error "raster/lanes.h needs SSE2 (every x86-64 processor has it)"
#endif
#include <emmintrin.h>

namespace lanes {

using F32x4 = float __attribute__((vector_size(16)));
using I32x4 = std::int32_t __attribute__((vector_size(16)));
using U64x2 = std::uint64_t __attribute__((vector_size(16)));

// v in every lane.
[[gnu::always_inline]] inline I32x4 AllLanes(std::int32_t v) { return reinterpret_cast<I32x4>(_mm_set1_epi32(v)); }
// {first, first + 1, first + 2, first + 3}.
[[gnu::always_inline]] inline I32x4 Iota(std::int32_t first) { return I32x4{0, 1, 2, 3} + first; }
// static_cast<float>(v), lane by lane.
[[gnu::always_inline]] inline F32x4 ToFloats(I32x4 v) { return _mm_cvtepi32_ps(reinterpret_cast<__m128i>(v)); }
// static_cast<std::int32_t>(v), lane by lane, for values within the int range.
[[gnu::always_inline]] inline I32x4 Truncated(F32x4 v) { return reinterpret_cast<I32x4>(_mm_cvttps_epi32(v)); }
// The correctly rounded square root of each lane (std::sqrt of a float).
[[gnu::always_inline]] inline F32x4 Sqrt(F32x4 v) { return _mm_sqrt_ps(v); }
// Bit i set where lane i of `mask` (lanes of -1 or 0) is true.
[[gnu::always_inline]] inline int Bits(I32x4 mask) { return _mm_movemask_ps(reinterpret_cast<__m128>(mask)); }
// ~a & b in one instruction (the compilers do not always fuse the two).
[[gnu::always_inline]] inline I32x4 AndNot(I32x4 a, I32x4 b) {
  return reinterpret_cast<I32x4>(_mm_andnot_si128(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
}
// mask ? yes : no, lane by lane, as and/and-not/or of the bits.
[[gnu::always_inline]] inline I32x4 Select(I32x4 mask, I32x4 yes, I32x4 no) { return (mask & yes) | AndNot(mask, no); }
[[gnu::always_inline]] inline F32x4 Select(I32x4 mask, F32x4 yes, F32x4 no) {
  const __m128 m = reinterpret_cast<__m128>(mask);
  return _mm_or_ps(_mm_and_ps(m, yes), _mm_andnot_ps(m, no));
}
// std::max(v, lo) as MAXPS forms it: lo where v is NaN.
[[gnu::always_inline]] inline F32x4 AtLeast(F32x4 v, float lo) { return _mm_max_ps(v, _mm_set1_ps(lo)); }
// std::min(v, hi) as MINPS forms it: hi where v is NaN.
[[gnu::always_inline]] inline F32x4 AtMost(F32x4 v, float hi) { return _mm_min_ps(v, _mm_set1_ps(hi)); }

// Four 16-bit values (a pixel's channels, as its 64 bits) zero-extended into
// lanes, and lanes within 0..65535 back into 16 bits each.
[[gnu::always_inline]] inline I32x4 Widen16(std::uint64_t bits) {
  return reinterpret_cast<I32x4>(
      _mm_unpacklo_epi16(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_setzero_si128()));
}
[[gnu::always_inline]] inline std::uint64_t Narrow16(I32x4 v) {
  // The pack saturates signed: centred on 0 first, restored after.
  const __m128i centred = reinterpret_cast<__m128i>(v - 32768);
  const __m128i packed = _mm_xor_si128(_mm_packs_epi32(centred, centred), _mm_set1_epi16(static_cast<short>(0x8000)));
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(packed));
}
// Lane 3, when it holds 0..65535.
[[gnu::always_inline]] inline int Lane3Of16(I32x4 v) { return _mm_extract_epi16(reinterpret_cast<__m128i>(v), 6); }
// Lane 3 := a (0..65535).
[[gnu::always_inline]] inline I32x4 WithLane3(I32x4 v, int a) {
  return reinterpret_cast<I32x4>(_mm_insert_epi16(_mm_insert_epi16(reinterpret_cast<__m128i>(v), a, 6), 0, 7));
}

// Four unsigned 64-bit lanes (arithmetic modulo 2^64), lanes 0-1 in `lo`,
// 2-3 in `hi`; the operators the counter-based generator's stream needs.
struct U64x4 {
  U64x2 lo, hi;

  static U64x4 Iota(std::uint64_t first) { return {U64x2{0, 1} + first, U64x2{2, 3} + first}; }
  // The lanes' low 32 bits as ints, in lane order.
  [[gnu::always_inline]] I32x4 Low32() const {
    return reinterpret_cast<I32x4>(
        _mm_shuffle_ps(reinterpret_cast<__m128>(lo), reinterpret_cast<__m128>(hi), _MM_SHUFFLE(2, 0, 2, 0)));
  }
  U64x4& operator+=(std::uint64_t s) {
    lo += s;
    hi += s;
    return *this;
  }
};
[[gnu::always_inline]] inline U64x4 operator+(U64x4 a, std::uint64_t s) { return {a.lo + s, a.hi + s}; }
[[gnu::always_inline]] inline U64x4 operator+(std::uint64_t s, U64x4 a) { return {s + a.lo, s + a.hi}; }
[[gnu::always_inline]] inline U64x4 operator*(U64x4 a, std::uint64_t s) { return {a.lo * s, a.hi * s}; }
[[gnu::always_inline]] inline U64x4 operator^(U64x4 a, U64x4 b) { return {a.lo ^ b.lo, a.hi ^ b.hi}; }
[[gnu::always_inline]] inline U64x4 operator>>(U64x4 a, int n) { return {a.lo >> n, a.hi >> n}; }

}  // namespace lanes
