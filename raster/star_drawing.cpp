// Star discs and streaks: per-pixel coverage handed to the pixel kernels.
//
// Coverage of a pixel by a disc of radius r centred at c is r - |p - c|:
// full within r - 1, falling linearly to 0 at r. A streak covers a pixel as
// the disc centred at the point of the segment nearest to the pixel. The
// streak's clipping is in streak_clip.cpp, the walk over a box's lines in
// line_walk.h, and the pixel-by-pixel reference in reference_drawing.cpp.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <limits>

#include "raster/lanes.h"
#include "raster/line_walk.h"
#include "raster/pixel_kernel.h"
#include "raster/pixel_target.h"
#include "raster/streak_clip.h"
#include "raster/streak_span.h"

namespace {

bool Finite(Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }

using raster::FourPixels;
using raster::LineView;
using raster::StreakLine;
using raster::ForEachLine;
using raster::ForEachStreakFour;

// A bound on squared distances beyond which a disc of radius r (above 0)
// gives no coverage: the least float x with sqrt(x) >= r in single
// precision. Since sqrt is correctly rounded and so monotonic, d2 >= bound
// gives Length >= r and coverage r - Length <= 0 (or NaN, inf - inf, for an
// infinite r), as the per-pixel arithmetic would find; only pixels below it
// need the square root.
float LeastNoCoverageSquare(float r) {
  const double square = static_cast<double>(r) * static_cast<double>(r);
  float x = square <= static_cast<double>(std::numeric_limits<float>::max()) ? static_cast<float>(square)
                                                                            : std::numeric_limits<float>::infinity();
  // Neighbouring floats of a positive float are its bit pattern +-1.
  const auto step = [](float v, int by) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(std::bit_cast<std::uint32_t>(v) + by));
  };
  // Mostly r * r rounded is already the least: both roots at once.
  if (raster::SquareRoot(x) >= r && raster::SquareRoot(step(x, -1)) < r) return x;
  while (raster::SquareRoot(x) < r) x = step(x, 1);
  // Down to the least such x (a few steps at most; sqrt(0) = 0 < r ends
  // it), so that d2 < bound also means coverage above 0.
  for (float below = step(x, -1); raster::SquareRoot(below) >= r; below = step(x, -1)) x = below;
  return x;
}

// The distance in pixels from a disc's centre beyond which no pixel is
// covered. A pixel is covered when its distance to c, as Length computes it
// in float, is below r; the exact distance differs from that by far less
// than the room added here, so every covered pixel lies within the reach.
inline double DiscReach(float r) { return static_cast<double>(r) + (0.01 + 1e-5 * static_cast<double>(r)); }

// The rows y0..y1 of column x within the disc of radius r at c: every
// covered pixel of the column is in the span.
[[gnu::always_inline]] inline RowSpan DiscRows(Point2 c, float r, int x, int y0, int y1) {
  const double reach = DiscReach(r);
  const double dx = std::fabs(static_cast<double>(x) - c.x);
  if (dx >= reach) return {1, 0};
  const double half = raster::SquareRoot(reach * reach - dx * dx);
  // Clipped in double, then converted: both are at least y0 >= 0, so
  // truncation is floor.
  const double lo = std::max(c.y - half, static_cast<double>(y0));
  const double hi = std::min(c.y + half, static_cast<double>(y1));
  if (!(lo <= hi)) return {1, 0};
  RowSpan span{static_cast<int>(lo), static_cast<int>(hi)};
  span.last += static_cast<double>(span.last) < hi;  // ceil
  return span;
}

// The box the loops visit, with the row span's bounds.
struct Box {
  int x0, x1, y0, y1;
};

// A call's star colour as the loops use it: `whole` for pixels it covers
// fully, `f` (as floats, unclipped for a light call) scaled by a partial
// coverage, and by every coverage for the light layer.
struct CallColour {
  raster::Channels4 whole;
  raster::Floats4 f;
};

CallColour ColourOf(const Paint& paint) {
  const raster::Channels4 c = raster::Unpack(paint.colour);
  if (!paint.light) return {c, raster::ToFloats(c)};
  const raster::Floats4 f = raster::ToFloats(c) * raster::Floats4{paint.gain, paint.gain, paint.gain, 1.0f};
  return {raster::ToChannels(f), f};
}

// The pixel loops below visit, column by column and row by row ascending,
// the rows of each column that can be covered (shallow streaks: row by row,
// the columns of each row), and composite exactly what the reference's
// SplatPixel and TrailPixel would for each pixel they reach (the rows left
// out are pixels those would not draw). d2 is formed as Length forms it, so
// cov = r - sqrt(d2) is the same float; d2 below the no-coverage bound
// means sqrt(d2) < r, so cov > 0 (inf for an infinite r) without a test.

// A streak's loop ends a..b, unit direction u, and the box and colour
// PrepareStreak made.
struct StreakLoop {
  Point2 a, b, u;
  Box box;
  CallColour colour;
};

// Four rows y..y+3 of one column of a disc at c: the coverage of each,
// r - |p - c| as the scalar loop forms it, lane by lane, and a bit in
// `covered` for each of the first `count` rows whose squared distance is
// below the no-coverage bound.
[[gnu::always_inline]] inline FourPixels DiscFourRows(Point2 c, float dx2, int y, int count, float r, float bound) {
  const lanes::F32x4 dy = lanes::ToFloats(lanes::Iota(y)) - c.y;
  const lanes::F32x4 d2 = dx2 + dy * dy;
  return {r - lanes::Sqrt(d2), lanes::Bits(d2 < bound) & ((1 << count) - 1)};
}

// Composites the covered pixels of four, the first at pixel index i0 and
// each next `step` further (the row stride down a column, 1 along a row),
// with the colour scaled by each one's coverage, the whole colour where it
// is full.
template <class Kernel>
[[gnu::always_inline]] inline void PlotCovered(const Kernel& k, const FourPixels& four, std::size_t i0,
                                               std::size_t step, const CallColour& colour) {
  for (int m = four.covered; m != 0; m &= m - 1) {
    const int lane = std::countr_zero(static_cast<unsigned>(m));
    const float cov = four.cov[lane];
    const std::size_t i = i0 + static_cast<std::size_t>(lane) * step;
    k.Plot(i, raster::Choose(cov < 1.0f, Kernel::DiscColour(colour.f, cov), colour.whole),
           [&] { return colour.f * std::min(cov, 1.0f); });
  }
}

template <class Kernel>
void DiscPixels(const Kernel& k, BMM_Color_64* pixels, int width, Point2 c, const CallColour& colour, float r,
                float bound, const Box& box) {
  const std::size_t stride = static_cast<std::size_t>(width);
  const auto rows = [&](int x) __attribute__((always_inline)) { return DiscRows(c, r, x, box.y0, box.y1); };
  const auto columnTerm = [&](int x) __attribute__((always_inline)) {
    const float dx = static_cast<float>(x) - c.x;
    return dx * dx;
  };
  const auto prepare = [&](int x, RowSpan span) __attribute__((always_inline)) {
    return DiscFourRows(c, columnTerm(x), span.first, std::min(4, span.last - span.first + 1), r, bound);
  };
  const auto columns = LineView<false>::Of(box.x0, box.x1, box.y0, box.y1, width);
  const auto column = [&](int x, int first, int last, const FourPixels& head) __attribute__((always_inline)) {
    const float dx2 = columnTerm(x);
    for (int y = first; y <= last; y += 4) {
      const FourPixels four = y == first ? head : DiscFourRows(c, dx2, y, std::min(4, last - y + 1), r, bound);
      PlotCovered(k, four, static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x), stride, colour);
    }
  };
  ForEachLine(columns, pixels, rows, prepare, column);
}

// Discs up to these radii are drawn by SmallDiscPixels over a window of 4
// and 8 pixels a side: their reach is at most 2 and 4 pixels
// (DiscReach(1.98) = 1.9900198, DiscReach(3.96) = 3.9700396), so the pixels
// they can cover lie in at most that many consecutive columns and rows.
constexpr float kSmallDiscRadius[2] = {1.98f, 3.96f};

// The first pixel index (of a column or row) within `reach` of `centre`,
// or lo when the reach extends below lo >= 0.
[[gnu::always_inline]] inline int FirstWithinReach(float centre, double reach, int lo) {
  const double edge = static_cast<double>(centre) - reach;
  return edge < static_cast<double>(lo) ? lo : static_cast<int>(edge) + 1;  // edge >= 0: trunc is floor
}

// The N x N bit matrix m (bit N * row + column) transposed (bit N * column
// + row), N = 4 or 8: each step swaps one bit of the row with the same bit
// of the column.
template <int N>
constexpr std::uint64_t Transposed(std::uint64_t m) {
  if constexpr (N == 4) {
    std::uint64_t t = (m ^ (m >> 3)) & 0x0A0Au;
    m ^= t ^ (t << 3);
    t = (m ^ (m >> 6)) & 0x00CCu;
    return m ^ t ^ (t << 6);
  } else {
    std::uint64_t t = (m ^ (m >> 7)) & 0x00AA00AA00AA00AAull;
    m ^= t ^ (t << 7);
    t = (m ^ (m >> 14)) & 0x0000CCCC0000CCCCull;
    m ^= t ^ (t << 14);
    t = (m ^ (m >> 28)) & 0x00000000F0F0F0F0ull;
    return m ^ t ^ (t << 28);
  }
}
static_assert(Transposed<4>(0x0002u) == 0x0010u && Transposed<4>(0x0100u) == 0x0004u &&
              Transposed<4>(0x0080u) == 0x2000u && Transposed<4>(0x8421u) == 0x8421u);
static_assert(Transposed<8>(0x2ull) == 0x100ull && Transposed<8>(1ull << 13) == 1ull << 41 &&
              Transposed<8>(1ull << 63) == 1ull << 63 && Transposed<8>(1ull << 7) == 1ull << 56);

// A disc of radius r <= kSmallDiscRadius[N / 8], c finite (the box is not
// empty): the coverage of the window of at most N x N pixels it can reach is
// formed four columns of a row at a time, lane by lane by SplatPixel's
// operations (dx, dy, d2 = dx * dx + dy * dy, cov = r - sqrt(d2); a pixel is
// drawn where cov > 0, NaN not), and the covered pixels of the box are
// composited column by column, rows ascending, as the reference visits
// them. No span and no no-coverage bound: the window only leaves out pixels
// farther than the reach, and the lanes' own test decides the rest.
template <int N, class Kernel>
[[gnu::always_inline]] inline void SmallDiscPixels(const Kernel& k, const BMM_Color_64* pixels, int width, Point2 c,
                                                   const CallColour& colour, float r, const Box& box) {
  static_assert(N == 4 || N == 8);
  const double reach = DiscReach(r);
  const int x = FirstWithinReach(c.x, reach, box.x0);
  const int y = FirstWithinReach(c.y, reach, box.y0);
  const int columns = std::min(N, box.x1 - x + 1);
  // Rows past c.y + reach are not covered (trunc is at least floor).
  const int rows = std::min({N, box.y1 - y + 1, static_cast<int>(static_cast<double>(c.y) + reach) - y + 1});
  if (columns <= 0 || rows <= 0) return;
  const std::size_t stride = static_cast<std::size_t>(width);
  const std::size_t corner = static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x);
  // The window's rows, asked for before the arithmetic that picks the
  // pixels: a star's rows are mostly not in the cache.
  for (int row = 0; row < rows; ++row) {
    const BMM_Color_64* p = pixels + corner + static_cast<std::size_t>(row) * stride;
    __builtin_prefetch(p, 1, 3);
    __builtin_prefetch(p + columns - 1, 1, 3);
  }
  // Bit N * row + column for each pixel of the window inside the box.
  constexpr std::uint64_t kColumn0 = N == 4 ? 0x1111u : 0x0101010101010101ull;  // column 0 of each row
  const std::uint64_t inRows = rows * N == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << (rows * N)) - 1u;
  const std::uint64_t inBox = ((std::uint64_t{1} << columns) - 1u) * kColumn0 & inRows;
  alignas(16) float cov[N * N];  // row-major
  std::uint64_t covered = 0;
  lanes::F32x4 dx2[N / 4];
  for (int q = 0; q < N / 4; ++q) {
    const lanes::F32x4 dx = lanes::ToFloats(lanes::Iota(x + 4 * q)) - c.x;
    dx2[q] = dx * dx;
  }
  for (int row = 0; row < rows; ++row) {
    const float dy = static_cast<float>(y + row) - c.y;
    for (int q = 0; q < N / 4; ++q) {
      const lanes::F32x4 quadCov = r - lanes::Sqrt(dx2[q] + dy * dy);
      std::memcpy(cov + N * row + 4 * q, &quadCov, sizeof quadCov);
      covered |= static_cast<std::uint64_t>(lanes::Bits(quadCov > 0.0f)) << (N * row + 4 * q);
    }
  }
  constexpr int kShift = N == 4 ? 2 : 3;
  for (std::uint64_t m = Transposed<N>(covered & inBox); m != 0; m &= m - 1) {
    const int bit = std::countr_zero(m);
    const int column = bit >> kShift, row = bit & (N - 1);
    const float v = cov[N * row + column];
    k.Plot(corner + static_cast<std::size_t>(row) * stride + static_cast<std::size_t>(column),
           raster::Choose(v < 1.0f, Kernel::DiscColour(colour.f, v), colour.whole),
           [&] { return colour.f * std::min(v, 1.0f); });
  }
}

// Streaks at most this steep (|u.y| <= |u.x|: 45 degrees and shallower) are
// walked row by row: their rows are long and their columns short, and a
// row's pixels are contiguous.
[[gnu::always_inline]] inline bool Shallow(Point2 u) { return std::fabs(u.y) <= std::fabs(u.x); }

// The streak `s` seen along the lines of a view.
template <bool kRows>
StreakLine AlongLines(const StreakLoop& s) {
  using V = LineView<kRows>;
  return {V::Along(s.a), V::Along(s.b), V::Along(s.u)};
}

// kRows: walked row by row (see Shallow); both walks are compiled, each
// with its own constant steps.
template <bool kRows, class Kernel>
void CapsulePixels(const Kernel& k, BMM_Color_64* pixels, int width, const StreakLoop& s, float r, float bound) {
  const auto v = LineView<kRows>::Of(s.box.x0, s.box.x1, s.box.y0, s.box.y1, width);
  const auto plot = [&](int line, int pos, const FourPixels& four) __attribute__((always_inline)) {
    PlotCovered(k, four, v.Index(line, pos), v.posStep(), s.colour);
  };
  ForEachStreakFour<false>(v, pixels, AlongLines<kRows>(s), r, bound, plot);
}

// `b` is the caller's end, where the disc already drawn sits.
template <bool kRows, class Kernel>
void TrailPixels(const Kernel& k, BMM_Color_64* pixels, int width, const StreakLoop& s, Point2 b, float r,
                 float bound) {
  const raster::Floats4 colourF = s.colour.f;
  const float alphaF = colourF[3];
  const bool finite = r < std::numeric_limits<float>::infinity();
  // Pixel i at coverage c1 by the streak, b2 = |p - b|^2 formed as Length
  // forms it.
  const auto pixel = [&](std::size_t i, float c1, float b2) __attribute__((always_inline)) {
    const float e = std::min(c1, 1.0f);
    const auto lightAt = [&](float factor) { return [&colourF, factor] { return colourF * factor; }; };
    if (!(b2 < bound) && finite) {
      // The disc at b does not reach the pixel (its coverage is 0 or
      // less; with an infinite radius it could be inf - inf, NaN, which
      // leaves the pixel alone, so that case takes the exact test).
      k.Plot(i, Kernel::TrailColour(colourF, e), lightAt(e));
      return;
    }
    const float c2 = r - raster::SquareRoot(b2);
    if (!(c2 < 1.0f)) return;  // the disc has covered the pixel fully
    if (!(c2 > 0.0f)) {
      k.Plot(i, Kernel::TrailColour(colourF, e), lightAt(e));
      return;
    }
    raster::Channels4 star;
    float factor = e;
    if (Kernel::TrailColourAtJoint(colourF, alphaF, e, c2, star, factor)) k.Plot(i, star, lightAt(factor));
  };
  const auto v = LineView<kRows>::Of(s.box.x0, s.box.x1, s.box.y0, s.box.y1, width);
  const Point2 bAlong = v.Along(b);
  const auto plot = [&](int line, int pos, const FourPixels& four) __attribute__((always_inline)) {
    const float bl = static_cast<float>(line) - bAlong.x;
    const float bl2 = bl * bl;
    const std::size_t i0 = v.Index(line, pos);
    for (int m = four.covered; m != 0; m &= m - 1) {
      const int lane = std::countr_zero(static_cast<unsigned>(m));
      const float bp = static_cast<float>(pos + lane) - bAlong.y;
      pixel(i0 + static_cast<std::size_t>(lane) * v.posStep(), four.cov[lane], bl2 + bp * bp);
    }
  };
  ForEachStreakFour<true>(v, pixels, AlongLines<kRows>(s), r, bound, plot);
}

// True when compositing one pixel can change what the drawing reads at
// another pixel of the same call: the image and the ID channels the target
// uses (masked or stamped) overlap in memory, as when a caller lays one
// channel over another. Then the order of the pixels within a call is
// observable, and the loops keep the reference's, columns outer.
bool PixelsShareMemory(const PixelTarget& t) {
  const std::uintptr_t n = static_cast<std::uintptr_t>(t.width) * static_cast<std::uintptr_t>(t.maxY + 1);
  struct Range {
    std::uintptr_t begin, end;
  };
  Range ranges[3];
  int count = 0;
  const auto add = [&](const void* p, std::uintptr_t bytes) {
    if (p) ranges[count++] = {reinterpret_cast<std::uintptr_t>(p), reinterpret_cast<std::uintptr_t>(p) + bytes};
  };
  add(t.pixels, n * sizeof(BMM_Color_64));
  if (t.matchMaterialId || t.writeMaterialId) add(t.materialIdChannel, n * sizeof(UBYTE));
  if (t.matchObjectId || t.writeObjectId) add(t.objectIdChannel, n * sizeof(WORD));
  for (int i = 0; i < count; ++i)
    for (int j = i + 1; j < count; ++j)
      if (ranges[i].begin < ranges[j].end && ranges[j].begin < ranges[i].end) return true;
  return false;
}

}  // namespace

// The drawing operations, each with the pixel kernel handed over by
// withKernel(fn), which calls fn(kernel): DrawSplat, DrawCapsule, DrawTrail
// and their light forms choose it for their call, DrawCalls once for a
// whole list.

template <class WithKernel>
void PixelTarget::Splat(Point2 c, const Paint& paint, float r, WithKernel&& withKernel) {
  if (!(r > 0.0f)) return;  // no pixel can get positive coverage
  const float R = std::trunc(r + 1.0f);
  int x0, x1, y0, y1;
  if (!raster::PixelRange(c.x - R, c.x + R, maxX, x0, x1) || !raster::PixelRange(c.y - R, c.y + R, maxY, y0, y1)) return;
  y0 = std::max(y0, clipY0);
  y1 = std::min(y1, clipY1);
  if (y0 > y1) return;
  if (boxLoops) {
    boxLoops->Splat(*this, c, paint, r, x0, x1, y0, y1);
    return;
  }
  const Box box{x0, x1, y0, y1};
  const CallColour colour = ColourOf(paint);
  if (r <= kSmallDiscRadius[0]) {
    withKernel([&](const auto& k) { SmallDiscPixels<4>(k, pixels, width, c, colour, r, box); });
    return;
  }
  if (r <= kSmallDiscRadius[1]) {
    withKernel([&](const auto& k) { SmallDiscPixels<8>(k, pixels, width, c, colour, r, box); });
    return;
  }
  const float bound = LeastNoCoverageSquare(r);
  withKernel([&](const auto& k) { DiscPixels(k, pixels, width, c, colour, r, bound, box); });
}

template <class WithKernel>
void PixelTarget::Capsule(Point2 a, Point2 b, const Paint& paint, float r, WithKernel&& withKernel) {
  if (!(r > 0.0f) || !Finite(a) || !Finite(b)) return;
  const float length = Length(b - a);
  if (length == 0.0f) {
    Splat(a, paint, r, withKernel);
    return;
  }
  Streak s;
  if (!PrepareStreak(a, b, length, paint, r, s)) return;
  s.y0 = std::max(s.y0, clipY0);
  s.y1 = std::min(s.y1, clipY1);
  if (s.y0 > s.y1) return;
  if (boxLoops) {
    boxLoops->Capsule(*this, s, r);
    return;
  }
  const StreakLoop loop{s.a, s.b, s.u, {s.x0, s.x1, s.y0, s.y1}, ColourOf(s.paint)};
  const float bound = LeastNoCoverageSquare(r);
  if (Shallow(loop.u) && !PixelsShareMemory(*this))
    withKernel([&](const auto& k) { CapsulePixels<true>(k, pixels, width, loop, r, bound); });
  else
    withKernel([&](const auto& k) { CapsulePixels<false>(k, pixels, width, loop, r, bound); });
}

template <class WithKernel>
void PixelTarget::Trail(Point2 a, Point2 b, const Paint& paint, float r, WithKernel&& withKernel) {
  if (!(r > 0.0f) || !Finite(a) || !Finite(b)) return;
  const float length = Length(b - a);
  if (length == 0.0f) return;
  Streak s;
  if (!PrepareStreak(a, b, length, paint, r, s)) return;
  s.y0 = std::max(s.y0, clipY0);
  s.y1 = std::min(s.y1, clipY1);
  if (s.y0 > s.y1) return;
  // The disc drawn at b is measured from the caller's b, also when the
  // loop's ends were brought in from far out.
  if (boxLoops) {
    boxLoops->Trail(*this, s, b, r);
    return;
  }
  const StreakLoop loop{s.a, s.b, s.u, {s.x0, s.x1, s.y0, s.y1}, ColourOf(s.paint)};
  const float bound = LeastNoCoverageSquare(r);
  if (Shallow(loop.u) && !PixelsShareMemory(*this))
    withKernel([&](const auto& k) { TrailPixels<true>(k, pixels, width, loop, b, r, bound); });
  else
    withKernel([&](const auto& k) { TrailPixels<false>(k, pixels, width, loop, b, r, bound); });
}

void PixelTarget::DrawSplat(Point2 c, BMM_Color_64 colour, float r) {
  Splat(c, Paint{colour}, r, [&](auto&& draw) { raster::WithPixelKernel(*this, draw); });
}

void PixelTarget::DrawCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
  Capsule(a, b, Paint{colour}, r, [&](auto&& draw) { raster::WithPixelKernel(*this, draw); });
}

void PixelTarget::DrawTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
  Trail(a, b, Paint{colour}, r, [&](auto&& draw) { raster::WithPixelKernel(*this, draw); });
}

void PixelTarget::DrawLightSplat(Point2 c, BMM_Color_64 colour, float r, float gain) {
  Splat(c, Paint{colour, gain, true}, r, [&](auto&& draw) { raster::WithPixelKernel(*this, draw); });
}

void PixelTarget::DrawLightCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
  Capsule(a, b, Paint{colour, gain, true}, r, [&](auto&& draw) { raster::WithPixelKernel(*this, draw); });
}

void PixelTarget::DrawLightTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain) {
  Trail(a, b, Paint{colour, gain, true}, r, [&](auto&& draw) { raster::WithPixelKernel(*this, draw); });
}

namespace {

// Calls ahead of the one drawn whose pixels are fetched meanwhile.
constexpr std::size_t kPrefetchAhead = 6;

// Asks the processor to fetch the pixel rows (and the ID channels the
// target reads or writes) of a disc call: stars lie at random, so nearly
// every row of a disc is a cache miss otherwise. A hint only: it changes no
// result. Streaks walk their columns in order and are left alone. Inlined
// always: a function that only prefetches has no effect GCC must keep, and
// it drops the calls to it.
[[gnu::always_inline]] inline void PrefetchPixels(const PixelTarget& t, const PixelTarget::Call& call) {
  if (!call.IsDisc()) return;
  if (!(call.r > 0.0f && call.r < 8.0f) || !std::isfinite(call.a.x) || !std::isfinite(call.a.y)) return;
  const int x0 = std::clamp(static_cast<int>(call.a.x - call.r), 0, std::max(0, t.maxX));
  const int x1 = std::clamp(static_cast<int>(call.a.x + call.r), 0, std::max(0, t.maxX));
  const int y0 = std::max(t.clipY0, static_cast<int>(call.a.y - call.r));
  const int y1 = std::min(t.clipY1, static_cast<int>(call.a.y + call.r) + 1);
  const bool ids = t.matchMaterialId || t.writeMaterialId || t.matchObjectId || t.writeObjectId;
  for (int y = y0; y <= y1; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width);
    __builtin_prefetch(t.pixels + row + static_cast<std::size_t>(x0), 1);
    __builtin_prefetch(t.pixels + row + static_cast<std::size_t>(x1), 1);
    if (ids) {
      if (t.materialIdChannel) __builtin_prefetch(t.materialIdChannel + row + static_cast<std::size_t>(x0), 1);
      if (t.objectIdChannel) __builtin_prefetch(t.objectIdChannel + row + static_cast<std::size_t>(x0), 1);
    }
  }
}

}  // namespace

bool PixelTarget::DrawCalls(const Call* calls, std::size_t n, std::uint32_t limit, bool fetchAhead) {
  bool whole = true;
  raster::WithPixelKernel(*this, [&](const auto& k) {
    const auto withKernel = [&](auto&& draw) { draw(k); };
    for (std::size_t j = 0; j < n; ++j) {
      const Call& call = calls[j];
      if (call.star >= limit) {
        whole = false;
        return;
      }
      if (fetchAhead && j + kPrefetchAhead < n) PrefetchPixels(*this, calls[j + kPrefetchAhead]);
      const Paint paint{call.colour, call.gain, call.kind >= Call::kLightSplat};
      switch (call.kind) {
        case Call::kSplat:
        case Call::kLightSplat:
          Splat(call.a, paint, call.r, withKernel);
          break;
        case Call::kCapsule:
        case Call::kLightCapsule:
          Capsule(call.a, call.b, paint, call.r, withKernel);
          break;
        case Call::kTrail:
        case Call::kLightTrail:
          Trail(call.a, call.b, paint, call.r, withKernel);
          break;
      }
    }
  });
  return whole;
}
