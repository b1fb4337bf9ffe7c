// The walk of the drawing loops over the lines of a pixel box: columns
// (line x, positions y along it), or, for a shallow streak, the same walk
// over the transposed box, rows (line y, positions x). Everything here is
// written once in (line, position) coordinates; a LineView says which way
// round they are and how pixel indices step. Exchanging the two coordinates
// changes no float result: the sums the coverage forms (a projection's two
// terms, a squared distance's two squares) are commutative in IEEE
// arithmetic, operand for operand.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

#include "plugin/host.h"
#include "raster/lanes.h"
#include "raster/streak_span.h"

namespace raster {

// Lines ahead of the one drawn whose pixels are fetched into the cache: each
// row of a column lies in its own page, and the first touch of a pixel
// mostly misses; fetching a few lines ahead overlaps those misses with the
// arithmetic.
inline constexpr int kLookAhead = 4;

// The coverage of four consecutive pixels of a line, r - |p - q| lane by
// lane, and a bit in `covered` for each that gets any.
struct FourPixels {
  lanes::F32x4 cov;
  int covered;
};

// A pixel box as lines: lines line0..line1, positions pos0..pos1 along each;
// pixel (line, pos) is pixels[line * lineStep + pos * posStep]. kRows: the
// lines are rows (their pixels contiguous) and the positions columns;
// otherwise the lines are columns. A compile-time choice, so that each walk
// is specialised: the steps are constants and the fetch has no branch.
template <bool kRows>
struct LineView {
  static constexpr bool byRows = kRows;
  int line0, line1, pos0, pos1;
  std::size_t width;  // pixels per image row

  // The box x0..x1, y0..y1 of an image `width` pixels wide.
  static LineView Of(int x0, int x1, int y0, int y1, int width) {
    const std::size_t stride = static_cast<std::size_t>(width);
    if constexpr (kRows)
      return {y0, y1, x0, x1, stride};
    else
      return {x0, x1, y0, y1, stride};
  }
  std::size_t lineStep() const { return kRows ? width : 1; }
  std::size_t posStep() const { return kRows ? 1 : width; }
  // A point (x, y) of the image as (line, position).
  static Point2 Along(Point2 p) {
    if constexpr (kRows)
      return Point2(p.y, p.x);
    else
      return p;
  }
  std::size_t Index(int line, int pos) const {
    return static_cast<std::size_t>(line) * lineStep() + static_cast<std::size_t>(pos) * posStep();
  }
};

// Calls draw(line, first, last, head) for each line of the view, ascending,
// that has pixels to visit: first..last = spans(line) (a RowSpan along the
// line), head = prepare(line, span), the coverage of its first four pixels.
// The spans, the prefetch of the span's pixels and `prepare` run kLookAhead
// lines ahead of `draw`, so that their latency (square roots most) overlaps
// the compositing of the lines before.
template <bool kRows, class Spans, class Prepare, class Draw>
[[gnu::always_inline]] inline void ForEachLine(const LineView<kRows>& v, const BMM_Color_64* pixels, const Spans& spans,
                                               const Prepare& prepare, Draw&& draw) {
  struct Ahead {
    RowSpan span;
    FourPixels head;
  };
  Ahead ahead[kLookAhead];
  const auto fetch = [&](int line, Ahead& a) __attribute__((always_inline)) {
    a.span = spans(line);
    if (a.span.first > a.span.last) return;
    const BMM_Color_64* p = pixels + v.Index(line, a.span.first);
    if constexpr (kRows) {
      // A row's pixels are contiguous: its cache lines, first to last.
      constexpr int kPixelsPerLine = 64 / static_cast<int>(sizeof(BMM_Color_64));
      for (int pos = a.span.first; pos < a.span.last; pos += kPixelsPerLine, p += kPixelsPerLine)
        __builtin_prefetch(p, 1, 3);
      __builtin_prefetch(pixels + v.Index(line, a.span.last), 1, 3);
    } else {
      // Each pixel of a column lies in its own cache line.
      for (int pos = a.span.first; pos < a.span.last; ++pos, p += v.posStep()) __builtin_prefetch(p, 1, 3);
      __builtin_prefetch(p, 1, 3);
    }
    a.head = prepare(line, a.span);
  };
  for (int line = v.line0; line <= v.line1 && line < v.line0 + kLookAhead; ++line) fetch(line, ahead[line - v.line0]);
  for (int line = v.line0; line <= v.line1; ++line) {
    Ahead& slot = ahead[(line - v.line0) % kLookAhead];
    const RowSpan span = slot.span;
    const FourPixels head = slot.head;
    if (line + kLookAhead <= v.line1) fetch(line + kLookAhead, slot);
    if (span.first <= span.last) draw(line, span.first, span.last, head);
  }
}

// A streak's loop in (line, position) coordinates: ends a..b, unit
// direction u.
struct StreakLine {
  Point2 a, b, u;
};

// The coverage of four pixels of a streak at line `line`, positions pos..pos
// + 3 (the first `count` of them in the box): q the nearest point of the
// segment (a for t <= 0, b past it), by the scalar loop's float operations
// lane by lane, and a bit in `covered` for each pixel whose squared distance
// is below the no-coverage bound and, for a trail, that does not lie beyond
// b. alongA = (line - a.line) * u.line and alongB likewise from b are the
// line's terms of the projections, shared by its pixels.
template <bool kTrail>
[[gnu::always_inline]] inline FourPixels StreakFour(const StreakLine& s, float line, float alongA, float alongB, int pos,
                                                    int count, float r, float bound) {
  using lanes::F32x4, lanes::I32x4, lanes::Select;
  const F32x4 p = lanes::ToFloats(lanes::Iota(pos));
  const F32x4 t = alongA + (p - s.a.y) * s.u.y;
  const F32x4 fromB = alongB + (p - s.b.y) * s.u.y;
  const I32x4 atA = t <= 0.0f;                  // q = a
  const I32x4 beyond = lanes::AndNot(atA, fromB >= 0.0f);  // else past b
  F32x4 qLine = Select(atA, F32x4{} + s.a.x, s.a.x + s.u.x * t);
  F32x4 qPos = Select(atA, F32x4{} + s.a.y, s.a.y + s.u.y * t);
  if constexpr (!kTrail) {
    qLine = Select(beyond, F32x4{} + s.b.x, qLine);
    qPos = Select(beyond, F32x4{} + s.b.y, qPos);
  }
  const F32x4 dLine = line - qLine, dPos = p - qPos;
  const F32x4 d2 = dLine * dLine + dPos * dPos;
  I32x4 within = d2 < bound;
  if constexpr (kTrail) within = lanes::AndNot(beyond, within);
  return {r - lanes::Sqrt(d2), lanes::Bits(within) & ((1 << count) - 1)};
}

// Walks the pixels of a streak's view that can be covered, four positions
// of a line at a time: draw(line, pos, four) with their coverage (for a
// trail, pixels beyond b left out), lines and positions ascending. A line's
// span is StreakSpan's cut through the capsule, taken along the line.
template <bool kTrail, bool kRows, class Draw>
[[gnu::always_inline]] inline void ForEachStreakFour(const LineView<kRows>& v, const BMM_Color_64* pixels,
                                                     const StreakLine& s, float r, float bound, Draw&& draw) {
  const StreakSpan span(s.a, s.b, r, v.pos0, v.pos1);
  const auto spans = [&](int line) __attribute__((always_inline)) { return span.Rows(line); };
  const auto prepare = [&](int line, RowSpan along) __attribute__((always_inline)) {
    const float l = static_cast<float>(line);
    return StreakFour<kTrail>(s, l, (l - s.a.x) * s.u.x, (l - s.b.x) * s.u.x, along.first,
                              std::min(4, along.last - along.first + 1), r, bound);
  };
  // The walk's lambdas are inlined always: GCC otherwise leaves the line's
  // loop out of line (a call a line, a few percent of a short streak).
  const auto drawLine = [&](int line, int first, int last, const FourPixels& head) __attribute__((always_inline)) {
    const float l = static_cast<float>(line);
    const float alongA = (l - s.a.x) * s.u.x;
    const float alongB = (l - s.b.x) * s.u.x;
    for (int pos = first; pos <= last; pos += 4)
      draw(line, pos,
           pos == first ? head : StreakFour<kTrail>(s, l, alongA, alongB, pos, std::min(4, last - pos + 1), r, bound));
  };
  ForEachLine(v, pixels, spans, prepare, drawLine);
}

}  // namespace raster
