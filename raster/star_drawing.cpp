// Star discs and streaks: per-pixel coverage handed to PlotPixel.
//
// Coverage of a pixel by a disc of radius r centred at c is r - |p - c|:
// full within r - 1, falling linearly to 0 at r. A streak covers a pixel as
// the disc centred at the point of the segment nearest to the pixel.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <limits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/pixel_kernel.h"
#include "raster/pixel_target.h"
#include "raster/streak_span.h"

namespace {

constexpr float kFullF = static_cast<float>(kFullChannel);

// Streak ends farther than this many pixels outside the image (a streak
// clipped at the near plane projects far out) are brought near it before the
// pixel loop. In single precision the nearest point a + t*u errs by about
// |a| x 6e-8 pixels: up to here that is no worse than the image coordinates
// themselves; from a million pixels out it is a tenth of a pixel, and from
// 1e13 the streak lands anywhere.
constexpr double kFarOut = 1 << 12;

bool Finite(Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }

using raster::ScaledColour;

// Pixel indices trunc(lo) .. trunc(hi) clipped to 0..maxIndex into
// [first, last]. The bounds are clipped in floating point before they are
// converted, so far-out or infinite bounds are safe; false when the range is
// empty or a bound is NaN.
bool PixelRange(float lo, float hi, int maxIndex, int& first, int& last) {
  if (std::isnan(lo) || std::isnan(hi)) return false;
  const float below = -1.0f;
  const float above = static_cast<float>(maxIndex) + 1.0f;
  first = std::max(0, static_cast<int>(std::clamp(lo, below, above)));
  last = std::min(maxIndex, static_cast<int>(std::clamp(hi, below, above)));
  return first <= last;
}

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

}  // namespace

bool PixelTarget::PrepareStreak(Point2 a, Point2 b, float length, BMM_Color_64 colour, float r,
                                Streak& s) const {
  const float R = std::trunc(r + 1.0f);  // the box margin, whole pixels
  s.a = a;
  s.b = b;
  const double farX0 = -kFarOut, farX1 = maxX + kFarOut;
  const double farY0 = -kFarOut, farY1 = maxY + kFarOut;
  const auto nearImage = [&](Point2 p) { return p.x >= farX0 && p.x <= farX1 && p.y >= farY0 && p.y <= farY1; };
  if (nearImage(a) && nearImage(b)) {
    s.u = (b - a) * (1.0f / length);
  } else {
    // Keep only the part of the line within `reach` of the image centre m:
    // every point dropped lies farther than the box margin, so more than r,
    // from every pixel, and no pixel changes; the loop then measures from
    // ends close to the image. Worked in double, and without ever forming a
    // far end plus a long step: the line is its direction u and its foot f,
    // the point nearest to m, found from n.a = (b x a) / |b - a|, whose two
    // float products are exact in double.
    const double ax = a.x, ay = a.y, bx = b.x, by = b.y;
    const double dx = bx - ax, dy = by - ay, len = std::hypot(dx, dy);
    const double ux = dx / len, uy = dy / len, nx = -uy, ny = ux;
    const double mx = 0.5 * maxX, my = 0.5 * maxY;
    const double margin = static_cast<double>(R) + 2.0;
    const double reach = std::ceil(std::hypot(mx + margin, my + margin));
    const double h = (bx * ay - ax * by) / len - (nx * mx + ny * my);
    if (!(std::abs(h) <= reach)) return false;  // the line passes beside the image
    const double fx = mx + h * nx, fy = my + h * ny;
    // Positions of the ends along the line from f; far ends are imprecise,
    // but they only need comparing with +-reach.
    const double sa = ux * (ax - fx) + uy * (ay - fy);
    const double sb = ux * (bx - fx) + uy * (by - fy);
    if (sb < -reach || sa > reach) return false;  // the segment ends before the image
    if (sa < -reach) s.a = Point2(static_cast<float>(fx - reach * ux), static_cast<float>(fy - reach * uy));
    if (sb > reach) s.b = Point2(static_cast<float>(fx + reach * ux), static_cast<float>(fy + reach * uy));
    s.u = Point2(static_cast<float>(ux), static_cast<float>(uy));
  }
  if (!PixelRange(std::min(s.a.x, s.b.x) - R, std::max(s.a.x, s.b.x) + R, maxX, s.x0, s.x1) ||
      !PixelRange(std::min(s.a.y, s.b.y) - R, std::max(s.a.y, s.b.y) + R, maxY, s.y0, s.y1))
    return false;

  // Longer streaks spread the same light over more pixels: each channel is
  // divided by (dimming per pixel of length) x length + 1.
  s.colour = colour;
  WORD* channel[4] = {&s.colour.r, &s.colour.g, &s.colour.b, &s.colour.a};
  for (int i = 0; i < 4; ++i)
    if (streakDimming[i] > 0.0f)
      *channel[i] = ToChannel(static_cast<float>(*channel[i]) / (streakDimming[i] * length + 1.0f));
  return true;
}

void PixelTarget::SplatPixel(Point2 p, Point2 c, BMM_Color_64 colour, float r) {
  const float cov = r - Length(p - c);
  if (!(cov > 0.0f)) return;
  if (cov < 1.0f) {
    colour = ScaledColour(colour, cov);
    if (applyMethod == kApplyAsFilter) {
      // A partly covered pixel tends to the neutral filter value, not black.
      const float neutral = (1.0f - cov) * kFullF;
      colour = {ToChannel(static_cast<float>(colour.r) + neutral), ToChannel(static_cast<float>(colour.g) + neutral),
                ToChannel(static_cast<float>(colour.b) + neutral), ToChannel(static_cast<float>(colour.a) + neutral)};
    }
  }
  PlotPixel(p.x, p.y, colour);
}

void PixelTarget::TrailPixel(Point2 p, Point2 q, Point2 b, BMM_Color_64 colour, float r) {
  const float c1 = r - Length(p - q);  // coverage by the streak
  if (!(c1 > 0.0f)) return;
  const float c2 = r - Length(p - b);  // coverage by the disc at b, already drawn
  if (!(c2 < 1.0f)) return;
  const bool filter = applyMethod == kApplyAsFilter;
  float e = std::min(c1, 1.0f);
  if (c2 > 0.0f && !filter) {
    // Only the coverage the disc left over, and for the alpha-weighted
    // methods relative to the alpha the disc already changed.
    e = e - c2;
    if (writeAlpha) {
      const float alphaCovered = static_cast<float>(colour.a) * c2 * kInvFull;
      if (applyMethod == kAdditiveWithAlpha || applyMethod == kSimpleApply) {
        // At star alpha 65280 and c2 one step below 1 this is exactly 0: the
        // disc has already made the pixel fully opaque (method 0 adds
        // nothing over full alpha; method 3 has laid the whole star over
        // it), so the pixel is taken as fully covered and left alone.
        const float divisor = 1.0f - alphaCovered;
        if (!(divisor > 0.0f)) return;
        e = e / divisor;
      } else if (applyMethod == kAdditiveWithInverseAlpha) {
        e = e / (1.0f + alphaCovered);
      }
    }
  }
  if (!filter) {
    colour = ScaledColour(colour, e);
  } else {
    // The disc multiplied the pixel by its own filter value; dividing it out
    // leaves one filter at the combined coverage.
    const float neutral = (1.0f - e) * kFullF;
    const auto channel = [&](WORD v) {
      const float fv = static_cast<float>(v);
      if (c2 > 0.0f) return ToChannel((fv * e + neutral) * kFullF / (fv * c2 + (1.0f - c2) * kFullF));
      return ToChannel(fv * e + neutral);
    };
    colour = {channel(colour.r), channel(colour.g), channel(colour.b), channel(colour.a)};
  }
  PlotPixel(p.x, p.y, colour);
}

namespace {

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

// The pixel loops below visit, column by column and row by row ascending,
// the rows of each column that can be covered (shallow streaks: row by row,
// the columns of each row), and composite exactly what
// SplatPixel and TrailPixel would for each pixel they reach (the rows left
// out are pixels those would not draw). d2 is formed as Length forms it, so
// cov = r - sqrt(d2) is the same float; d2 below the no-coverage bound
// means sqrt(d2) < r, so cov > 0 (inf for an infinite r) without a test.

// A streak's loop ends a..b, unit direction u, and the box and colour
// PrepareStreak made.
struct StreakLoop {
  Point2 a, b, u;
  Box box;
  BMM_Color_64 colour;
};

// Lines (columns, or rows of a shallow streak) ahead of the one drawn whose
// pixels are fetched into the cache: each row of a column lies in its own
// page, and the first touch of a pixel mostly misses; fetching a few lines
// ahead overlaps those misses with the arithmetic.
constexpr int kLookAhead = 4;

// The coverage of four pixels in a line (rows y..y+3 of one column, or
// columns x..x+3 of one row), and a bit in `covered` for each that gets
// any.
struct FourPixels {
  alignas(16) float cov[4];
  int covered;
};

// Calls draw(line, first, last, head) for each line (column or row)
// lineFirst..lineLast, ascending, that has pixels to visit: span =
// spans(line), RowSpan's first..last along the line; head = prepare(line,
// span), the coverage of its first four pixels. The spans, fetchPixels(line,
// span) (a prefetch of the pixels) and `prepare` run kLookAhead lines ahead
// of `draw`, so that their latency (square roots most) overlaps the
// compositing of the lines before.
template <class Spans, class FetchPixels, class Prepare, class Draw>
[[gnu::always_inline]] inline void ForEachLine(int lineFirst, int lineLast, const Spans& spans,
                                               const FetchPixels& fetchPixels, const Prepare& prepare, Draw&& draw) {
  struct Ahead {
    RowSpan span;
    FourPixels head;
  };
  Ahead ahead[kLookAhead];
  const auto fetch = [&](int line, Ahead& a) {
    a.span = spans(line);
    if (a.span.first <= a.span.last) {
      fetchPixels(line, a.span);
      a.head = prepare(line, a.span);
    }
  };
  for (int line = lineFirst; line <= lineLast && line < lineFirst + kLookAhead; ++line)
    fetch(line, ahead[line - lineFirst]);
  for (int line = lineFirst; line <= lineLast; ++line) {
    Ahead& slot = ahead[(line - lineFirst) % kLookAhead];
    const RowSpan span = slot.span;
    const FourPixels head = slot.head;
    if (line + kLookAhead <= lineLast) fetch(line + kLookAhead, slot);
    if (span.first <= span.last) draw(line, span.first, span.last, head);
  }
}

// ForEachLine over the columns of the box: draw(x, first row, last row,
// head), rows(x) the span of rows of column x. Each row of a column lies in
// its own cache line, each fetched.
template <class Rows, class Prepare, class Draw>
void ForEachColumn(const Box& box, const BMM_Color_64* pixels, int width, const Rows& rows, const Prepare& prepare,
                   Draw&& draw) {
  const std::size_t stride = static_cast<std::size_t>(width);
  const auto fetchPixels = [&](int x, RowSpan span) {
    const BMM_Color_64* p = pixels + static_cast<std::size_t>(span.first) * stride + static_cast<std::size_t>(x);
    for (int y = span.first; y < span.last; ++y, p += stride) __builtin_prefetch(p, 1, 3);
    __builtin_prefetch(p, 1, 3);
  };
  ForEachLine(box.x0, box.x1, rows, fetchPixels, prepare, std::forward<Draw>(draw));
}

// ForEachLine over the rows of the box: draw(y, first column, last column,
// head), columns(y) the span of columns of row y. A row's pixels are
// contiguous: the cache lines from its first to its last are fetched.
template <class Columns, class Prepare, class Draw>
void ForEachRow(const Box& box, const BMM_Color_64* pixels, int width, const Columns& columns, const Prepare& prepare,
                Draw&& draw) {
  const std::size_t stride = static_cast<std::size_t>(width);
  const auto fetchPixels = [&](int y, RowSpan span) {
    const BMM_Color_64* row = pixels + static_cast<std::size_t>(y) * stride;
    constexpr int kPixelsPerLine = 64 / static_cast<int>(sizeof(BMM_Color_64));
    for (int x = span.first; x < span.last; x += kPixelsPerLine) __builtin_prefetch(row + x, 1, 3);
    __builtin_prefetch(row + span.last, 1, 3);
  };
  ForEachLine(box.y0, box.y1, columns, fetchPixels, prepare, std::forward<Draw>(draw));
}

// The coverage of four pixels of a streak, r - |p - q|, q the loop's
// nearest point, by the scalar loop's float operations lane by lane
// (single-precision sums, products and square roots are the same in a
// vector lane), and a bit in `covered` for each of the first `count` whose
// squared distance is below the no-coverage bound and, for a trail, that
// does not lie beyond b. The pixels are (px, py), t = (px - a.x) * u.x +
// (py - a.y) * u.y their projection from a, and fromB the same from b, each
// lane by lane as the callers form them.
#if defined(__SSE2__)
template <bool kTrail>
[[gnu::always_inline]] inline FourPixels StreakFour(const StreakLoop& s, __m128 px, __m128 py, __m128 t, __m128 fromB,
                                                    int count, float r, float bound) {
  FourPixels out;
  const __m128 zero = _mm_setzero_ps();
  const __m128 atA = _mm_cmple_ps(t, zero);                             // t <= 0: q = a
  const __m128 beyond = _mm_andnot_ps(atA, _mm_cmpge_ps(fromB, zero));  // else past b
  const auto select = [](__m128 m, __m128 yes, __m128 no) { return _mm_or_ps(_mm_and_ps(m, yes), _mm_andnot_ps(m, no)); };
  __m128 qx = _mm_add_ps(_mm_set1_ps(s.a.x), _mm_mul_ps(_mm_set1_ps(s.u.x), t));
  __m128 qy = _mm_add_ps(_mm_set1_ps(s.a.y), _mm_mul_ps(_mm_set1_ps(s.u.y), t));
  qx = select(atA, _mm_set1_ps(s.a.x), qx);
  qy = select(atA, _mm_set1_ps(s.a.y), qy);
  if constexpr (!kTrail) {
    qx = select(beyond, _mm_set1_ps(s.b.x), qx);
    qy = select(beyond, _mm_set1_ps(s.b.y), qy);
  }
  const __m128 dx = _mm_sub_ps(px, qx), dy = _mm_sub_ps(py, qy);
  const __m128 d2 = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy));
  __m128 within = _mm_cmplt_ps(d2, _mm_set1_ps(bound));
  if constexpr (kTrail) within = _mm_andnot_ps(beyond, within);
  _mm_store_ps(out.cov, _mm_sub_ps(_mm_set1_ps(r), _mm_sqrt_ps(d2)));
  out.covered = _mm_movemask_ps(within) & ((1 << count) - 1);
  return out;
}
#else
// One pixel of the same, as lane k of `out`.
template <bool kTrail>
inline void StreakPixel(const StreakLoop& s, float px, float py, float t, float fromB, int k, float r, float bound,
                        FourPixels& out) {
  const bool beyond = !(t <= 0.0f) && fromB >= 0.0f;
  if (kTrail && beyond) return;
  const Point2 q = t <= 0.0f ? s.a : beyond ? s.b : s.a + s.u * t;
  const float dx = px - q.x, dy = py - q.y;
  const float d2 = dx * dx + dy * dy;
  if (!(d2 < bound)) return;
  out.cov[k] = r - raster::SquareRoot(d2);
  out.covered |= 1 << k;
}
#endif

// Four rows y..y+3 of one column x of a streak (StreakFour), with the
// column's terms of the projections alongA = (px - a.x) * u.x and alongB =
// (px - b.x) * u.x shared.
template <bool kTrail>
[[gnu::always_inline]] inline FourPixels StreakFourRows(const StreakLoop& s, float px, float alongA, float alongB,
                                                        int y, int count, float r, float bound) {
#if defined(__SSE2__)
  const __m128 py = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(y), _mm_setr_epi32(0, 1, 2, 3)));
  const __m128 uy = _mm_set1_ps(s.u.y);
  const __m128 t = _mm_add_ps(_mm_set1_ps(alongA), _mm_mul_ps(_mm_sub_ps(py, _mm_set1_ps(s.a.y)), uy));
  const __m128 fromB = _mm_add_ps(_mm_set1_ps(alongB), _mm_mul_ps(_mm_sub_ps(py, _mm_set1_ps(s.b.y)), uy));
  return StreakFour<kTrail>(s, _mm_set1_ps(px), py, t, fromB, count, r, bound);
#else
  FourPixels out;
  out.covered = 0;
  for (int k = 0; k < count; ++k) {
    const float py = static_cast<float>(y + k);
    StreakPixel<kTrail>(s, px, py, alongA + (py - s.a.y) * s.u.y, alongB + (py - s.b.y) * s.u.y, k, r, bound, out);
  }
  return out;
#endif
}

// Four columns x..x+3 of one row y of a streak (StreakFour), with the
// row's terms of the projections acrossA = (py - a.y) * u.y and acrossB =
// (py - b.y) * u.y shared.
template <bool kTrail>
[[gnu::always_inline]] inline FourPixels StreakFourColumns(const StreakLoop& s, float py, float acrossA, float acrossB,
                                                           int x, int count, float r, float bound) {
#if defined(__SSE2__)
  const __m128 px = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3)));
  const __m128 ux = _mm_set1_ps(s.u.x);
  const __m128 t = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(px, _mm_set1_ps(s.a.x)), ux), _mm_set1_ps(acrossA));
  const __m128 fromB = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(px, _mm_set1_ps(s.b.x)), ux), _mm_set1_ps(acrossB));
  return StreakFour<kTrail>(s, px, _mm_set1_ps(py), t, fromB, count, r, bound);
#else
  FourPixels out;
  out.covered = 0;
  for (int k = 0; k < count; ++k) {
    const float px = static_cast<float>(x + k);
    StreakPixel<kTrail>(s, px, py, (px - s.a.x) * s.u.x + acrossA, (px - s.b.x) * s.u.x + acrossB, k, r, bound, out);
  }
  return out;
#endif
}

// Four rows y..y+3 of one column of a disc at c: the coverage of each,
// r - |p - c| as the scalar loop forms it, lane by lane, and a bit in
// `covered` for each of the first `count` rows whose squared distance is
// below the no-coverage bound.
[[gnu::always_inline]] inline FourPixels DiscFourRows(Point2 c, float dx2, int y, int count, float r, float bound) {
  FourPixels out;
#if defined(__SSE2__)
  const __m128 py = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(y), _mm_setr_epi32(0, 1, 2, 3)));
  const __m128 dy = _mm_sub_ps(py, _mm_set1_ps(c.y));
  const __m128 d2 = _mm_add_ps(_mm_set1_ps(dx2), _mm_mul_ps(dy, dy));
  _mm_store_ps(out.cov, _mm_sub_ps(_mm_set1_ps(r), _mm_sqrt_ps(d2)));
  out.covered = _mm_movemask_ps(_mm_cmplt_ps(d2, _mm_set1_ps(bound))) & ((1 << count) - 1);
#else
  out.covered = 0;
  for (int k = 0; k < count; ++k) {
    const float dy = static_cast<float>(y + k) - c.y;
    const float d2 = dx2 + dy * dy;
    if (!(d2 < bound)) continue;
    out.cov[k] = r - raster::SquareRoot(d2);
    out.covered |= 1 << k;
  }
#endif
  return out;
}

// Composites the covered pixels of four, the first at pixel index i0 and
// each next `step` further (the row stride down a column, 1 along a row),
// with the colour scaled by each one's coverage, the whole colour where it
// is full.
template <class Kernel>
[[gnu::always_inline]] inline void PlotCovered(const Kernel& k, const FourPixels& four, std::size_t i0,
                                               std::size_t step, const raster::Floats4& colourF,
                                               const raster::Channels4& whole) {
  for (int m = four.covered; m != 0; m &= m - 1) {
    const int lane = std::countr_zero(static_cast<unsigned>(m));
    const float cov = four.cov[lane];
    const std::size_t i = i0 + static_cast<std::size_t>(lane) * step;
    k.Plot(i, raster::Choose(cov < 1.0f, Kernel::DiscColour(colourF, cov), whole));
  }
}

template <class Kernel>
void DiscPixels(const Kernel& k, BMM_Color_64* pixels, int width, Point2 c, BMM_Color_64 colour, float r,
                float bound, const Box& box) {
  const std::size_t stride = static_cast<std::size_t>(width);
  const raster::Channels4 whole = raster::Unpack(colour);
  const raster::Floats4 colourF = raster::ToFloats(whole);
  const auto rows = [&](int x) { return DiscRows(c, r, x, box.y0, box.y1); };
  const auto columnTerm = [&](int x) {
    const float dx = static_cast<float>(x) - c.x;
    return dx * dx;
  };
  const auto prepare = [&](int x, RowSpan span) {
    return DiscFourRows(c, columnTerm(x), span.first, std::min(4, span.last - span.first + 1), r, bound);
  };
  ForEachColumn(box, pixels, width, rows, prepare, [&](int x, int first, int last, const FourPixels& head) {
    const float dx2 = columnTerm(x);
    for (int y = first; y <= last; y += 4) {
      const FourPixels four = y == first ? head : DiscFourRows(c, dx2, y, std::min(4, last - y + 1), r, bound);
      PlotCovered(k, four, static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x), stride, colourF, whole);
    }
  });
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
                                                   BMM_Color_64 colour, float r, const Box& box) {
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
#if defined(__SSE2__)
  const __m128 rv = _mm_set1_ps(r), zero = _mm_setzero_ps();
  __m128 dx2[N / 4];
  for (int q = 0; q < N / 4; ++q) {
    const __m128 px = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(x + 4 * q), _mm_setr_epi32(0, 1, 2, 3)));
    const __m128 dx = _mm_sub_ps(px, _mm_set1_ps(c.x));
    dx2[q] = _mm_mul_ps(dx, dx);
  }
  for (int row = 0; row < rows; ++row) {
    const float dy = static_cast<float>(y + row) - c.y;
    const __m128 dy2 = _mm_set1_ps(dy * dy);
    for (int q = 0; q < N / 4; ++q) {
      const __m128 quadCov = _mm_sub_ps(rv, _mm_sqrt_ps(_mm_add_ps(dx2[q], dy2)));
      _mm_store_ps(cov + N * row + 4 * q, quadCov);
      covered |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_cmpgt_ps(quadCov, zero))) << (N * row + 4 * q);
    }
  }
#else
  for (int row = 0; row < rows; ++row) {
    const float dy = static_cast<float>(y + row) - c.y;
    for (int column = 0; column < N; ++column) {
      const float dx = static_cast<float>(x + column) - c.x;
      const float v = r - raster::SquareRoot(dx * dx + dy * dy);
      cov[N * row + column] = v;
      covered |= static_cast<std::uint64_t>(v > 0.0f) << (N * row + column);
    }
  }
#endif
  const raster::Channels4 whole = raster::Unpack(colour);
  const raster::Floats4 colourF = raster::ToFloats(whole);
  constexpr int kShift = N == 4 ? 2 : 3;
  for (std::uint64_t m = Transposed<N>(covered & inBox); m != 0; m &= m - 1) {
    const int bit = std::countr_zero(m);
    const int column = bit >> kShift, row = bit & (N - 1);
    const float v = cov[N * row + column];
    k.Plot(corner + static_cast<std::size_t>(row) * stride + static_cast<std::size_t>(column),
           raster::Choose(v < 1.0f, Kernel::DiscColour(colourF, v), whole));
  }
}

// Walks the rows of a streak's box that can be covered, four rows of a
// column at a time: draw(x, y, four) with their coverage (for a trail, rows
// beyond b left out), columns and rows ascending.
template <bool kTrail, class Draw>
[[gnu::always_inline]] inline void ForEachStreakFour(const BMM_Color_64* pixels, int width, const StreakLoop& s,
                                                     float r, float bound, Draw&& draw) {
  const StreakSpan span(s.a, s.b, r, s.box.y0, s.box.y1);
  const auto rows = [&](int x) { return span.Rows(x); };
  const auto prepare = [&](int x, RowSpan rowSpan) {
    const float px = static_cast<float>(x);
    return StreakFourRows<kTrail>(s, px, (px - s.a.x) * s.u.x, (px - s.b.x) * s.u.x, rowSpan.first,
                                  std::min(4, rowSpan.last - rowSpan.first + 1), r, bound);
  };
  ForEachColumn(s.box, pixels, width, rows, prepare, [&](int x, int first, int last, const FourPixels& head) {
    const float px = static_cast<float>(x);
    const float alongA = (px - s.a.x) * s.u.x;  // column terms of the projections
    const float alongB = (px - s.b.x) * s.u.x;
    for (int y = first; y <= last; y += 4)
      draw(x, y, y == first ? head : StreakFourRows<kTrail>(s, px, alongA, alongB, y, std::min(4, last - y + 1), r, bound));
  });
}

// The same walk row by row, four columns of a row at a time: draw(x, y,
// four) for columns x..x+3 of row y, rows and columns ascending. A row's
// span is StreakSpan's with x and y exchanged: the same conservative cut
// through the capsule, taken along the row.
template <bool kTrail, class Draw>
[[gnu::always_inline]] inline void ForEachStreakRowFour(const BMM_Color_64* pixels, int width, const StreakLoop& s,
                                                        float r, float bound, Draw&& draw) {
  const StreakSpan span(Point2(s.a.y, s.a.x), Point2(s.b.y, s.b.x), r, s.box.x0, s.box.x1);
  const auto columns = [&](int y) { return span.Rows(y); };
  const auto prepare = [&](int y, RowSpan columnSpan) {
    const float py = static_cast<float>(y);
    return StreakFourColumns<kTrail>(s, py, (py - s.a.y) * s.u.y, (py - s.b.y) * s.u.y, columnSpan.first,
                                     std::min(4, columnSpan.last - columnSpan.first + 1), r, bound);
  };
  ForEachRow(s.box, pixels, width, columns, prepare, [&](int y, int first, int last, const FourPixels& head) {
    const float py = static_cast<float>(y);
    const float acrossA = (py - s.a.y) * s.u.y;  // row terms of the projections
    const float acrossB = (py - s.b.y) * s.u.y;
    for (int x = first; x <= last; x += 4)
      draw(x, y,
           x == first ? head : StreakFourColumns<kTrail>(s, py, acrossA, acrossB, x, std::min(4, last - x + 1), r, bound));
  });
}

// Streaks at most this steep (|u.y| <= |u.x|: 45 degrees and shallower) are
// walked row by row: their rows are long and their columns short, and a
// row's pixels are contiguous.
[[gnu::always_inline]] inline bool Shallow(Point2 u) { return std::fabs(u.y) <= std::fabs(u.x); }

template <class Kernel>
void CapsulePixels(const Kernel& k, BMM_Color_64* pixels, int width, const StreakLoop& s, float r, float bound,
                   bool byRows) {
  const std::size_t stride = static_cast<std::size_t>(width);
  const raster::Channels4 whole = raster::Unpack(s.colour);
  const raster::Floats4 colourF = raster::ToFloats(whole);
  const auto index = [&](int x, int y) { return static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x); };
  if (byRows) {
    ForEachStreakRowFour<false>(pixels, width, s, r, bound, [&](int x, int y, const FourPixels& four) {
      PlotCovered(k, four, index(x, y), 1, colourF, whole);
    });
    return;
  }
  ForEachStreakFour<false>(pixels, width, s, r, bound, [&](int x, int y, const FourPixels& four) {
    PlotCovered(k, four, index(x, y), stride, colourF, whole);
  });
}

// `b` is the caller's end, where the disc already drawn sits.
template <class Kernel>
void TrailPixels(const Kernel& k, BMM_Color_64* pixels, int width, const StreakLoop& s, Point2 b, float r,
                 float bound, bool byRows) {
  const std::size_t stride = static_cast<std::size_t>(width);
  const raster::Floats4 colourF = raster::ToFloats(raster::Unpack(s.colour));
  const float alphaF = static_cast<float>(s.colour.a);
  const bool finite = r < std::numeric_limits<float>::infinity();
  // Pixel i at coverage c1 by the streak, b2 = |p - b|^2 formed as Length
  // forms it.
  const auto pixel = [&](std::size_t i, float c1, float b2) {
    const float e = std::min(c1, 1.0f);
    if (!(b2 < bound) && finite) {
      // The disc at b does not reach the pixel (its coverage is 0 or
      // less; with an infinite radius it could be inf - inf, NaN, which
      // leaves the pixel alone, so that case takes the exact test).
      k.Plot(i, Kernel::TrailColour(colourF, e));
      return;
    }
    const float c2 = r - raster::SquareRoot(b2);
    if (!(c2 < 1.0f)) return;  // the disc has covered the pixel fully
    if (!(c2 > 0.0f)) {
      k.Plot(i, Kernel::TrailColour(colourF, e));
      return;
    }
    raster::Channels4 star;
    if (Kernel::TrailColourAtJoint(colourF, alphaF, e, c2, star)) k.Plot(i, star);
  };
  if (byRows) {
    ForEachStreakRowFour<true>(pixels, width, s, r, bound, [&](int x, int y, const FourPixels& four) {
      const float by = static_cast<float>(y) - b.y;
      const float by2 = by * by;
      const std::size_t i0 = static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x);
      for (int m = four.covered; m != 0; m &= m - 1) {
        const int lane = std::countr_zero(static_cast<unsigned>(m));
        const float bx = static_cast<float>(x + lane) - b.x;
        pixel(i0 + static_cast<std::size_t>(lane), four.cov[lane], bx * bx + by2);
      }
    });
    return;
  }
  ForEachStreakFour<true>(pixels, width, s, r, bound, [&](int x, int y, const FourPixels& four) {
    const float bx = static_cast<float>(x) - b.x;
    const float bx2 = bx * bx;
    for (int m = four.covered; m != 0; m &= m - 1) {
      const int lane = std::countr_zero(static_cast<unsigned>(m));
      const float by = static_cast<float>(y + lane) - b.y;
      pixel(static_cast<std::size_t>(y + lane) * stride + static_cast<std::size_t>(x), four.cov[lane],
            bx2 + by * by);
    }
  });
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

void PixelTarget::DrawSplat(Point2 c, BMM_Color_64 colour, float r) {
  if (!(r > 0.0f)) return;  // no pixel can get positive coverage
  const float R = std::trunc(r + 1.0f);
  int x0, x1, y0, y1;
  if (!PixelRange(c.x - R, c.x + R, maxX, x0, x1) || !PixelRange(c.y - R, c.y + R, maxY, y0, y1)) return;
  y0 = std::max(y0, clipY0);
  y1 = std::min(y1, clipY1);
  if (y0 > y1) return;
  if (!boxLoops) {
    const Box box{x0, x1, y0, y1};
    if (r <= kSmallDiscRadius[0]) {
      raster::WithPixelKernel(*this, [&](const auto& k) { SmallDiscPixels<4>(k, pixels, width, c, colour, r, box); });
      return;
    }
    if (r <= kSmallDiscRadius[1]) {
      raster::WithPixelKernel(*this, [&](const auto& k) { SmallDiscPixels<8>(k, pixels, width, c, colour, r, box); });
      return;
    }
    const float bound = LeastNoCoverageSquare(r);
    raster::WithPixelKernel(*this, [&](const auto& k) { DiscPixels(k, pixels, width, c, colour, r, bound, box); });
    return;
  }
  for (int x = x0; x <= x1; ++x)
    for (int y = y0; y <= y1; ++y) SplatPixel(Point2(static_cast<float>(x), static_cast<float>(y)), c, colour, r);
}

void PixelTarget::DrawCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
  if (!(r > 0.0f) || !Finite(a) || !Finite(b)) return;
  const float length = Length(b - a);
  if (length == 0.0f) {
    DrawSplat(a, colour, r);
    return;
  }
  Streak s;
  if (!PrepareStreak(a, b, length, colour, r, s)) return;
  s.y0 = std::max(s.y0, clipY0);
  s.y1 = std::min(s.y1, clipY1);
  if (s.y0 > s.y1) return;
  if (!boxLoops) {
    const StreakLoop loop{s.a, s.b, s.u, {s.x0, s.x1, s.y0, s.y1}, s.colour};
    const float bound = LeastNoCoverageSquare(r);
    const bool byRows = Shallow(loop.u) && !PixelsShareMemory(*this);
    raster::WithPixelKernel(*this, [&](const auto& k) { CapsulePixels(k, pixels, width, loop, r, bound, byRows); });
    return;
  }
  for (int x = s.x0; x <= s.x1; ++x) {
    const float px = static_cast<float>(x);
    const float alongA = (px - s.a.x) * s.u.x;  // column terms of the projections
    const float alongB = (px - s.b.x) * s.u.x;
    for (int y = s.y0; y <= s.y1; ++y) {
      const float py = static_cast<float>(y);
      const float t = alongA + (py - s.a.y) * s.u.y;
      Point2 q;
      if (t <= 0.0f)
        q = s.a;
      else if (alongB + (py - s.b.y) * s.u.y >= 0.0f)
        q = s.b;
      else
        q = s.a + s.u * t;
      SplatPixel(Point2(px, py), q, s.colour, r);
    }
  }
}

void PixelTarget::DrawTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
  if (!(r > 0.0f) || !Finite(a) || !Finite(b)) return;
  const float length = Length(b - a);
  if (length == 0.0f) return;
  Streak s;
  if (!PrepareStreak(a, b, length, colour, r, s)) return;
  s.y0 = std::max(s.y0, clipY0);
  s.y1 = std::min(s.y1, clipY1);
  if (s.y0 > s.y1) return;
  // The disc drawn at b is measured from the caller's b, also when the
  // loop's ends were brought in from far out.
  if (!boxLoops) {
    const StreakLoop loop{s.a, s.b, s.u, {s.x0, s.x1, s.y0, s.y1}, s.colour};
    const float bound = LeastNoCoverageSquare(r);
    const bool byRows = Shallow(loop.u) && !PixelsShareMemory(*this);
    raster::WithPixelKernel(*this, [&](const auto& k) { TrailPixels(k, pixels, width, loop, b, r, bound, byRows); });
    return;
  }
  for (int x = s.x0; x <= s.x1; ++x) {
    const float px = static_cast<float>(x);
    const float alongA = (px - s.a.x) * s.u.x;
    const float alongB = (px - s.b.x) * s.u.x;
    for (int y = s.y0; y <= s.y1; ++y) {
      const float py = static_cast<float>(y);
      const float t = alongA + (py - s.a.y) * s.u.y;
      if (t <= 0.0f) {
        TrailPixel(Point2(px, py), s.a, b, s.colour, r);
      } else if (alongB + (py - s.b.y) * s.u.y < 0.0f) {
        TrailPixel(Point2(px, py), s.a + s.u * t, b, s.colour, r);
      }
      // Beyond b the disc at b gives all the coverage.
    }
  }
}
