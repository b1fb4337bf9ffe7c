// Interval: a closed range of ticks, used as the validity of a value.
#pragma once

#include "max_types.h"

class Interval {
 public:
  constexpr Interval() = default;
  constexpr Interval(TimeValue start, TimeValue end) : start_(start), end_(end) {}

  constexpr TimeValue Start() const { return start_; }
  constexpr TimeValue End() const { return end_; }
  constexpr void Set(TimeValue s, TimeValue e) { start_ = s; end_ = e; }
  constexpr void SetInfinite() { *this = Interval(TIME_NegInfinity, TIME_PosInfinity); }
  constexpr bool InInterval(TimeValue t) const { return start_ <= t && t <= end_; }
  constexpr bool operator==(const Interval&) const = default;

 private:
  TimeValue start_ = TIME_NegInfinity;
  TimeValue end_ = TIME_NegInfinity;
};

// The whole time line: the validity a reader starts with.
inline constexpr Interval FOREVER{TIME_NegInfinity, TIME_PosInfinity};
inline constexpr Interval NEVER{TIME_NegInfinity, TIME_NegInfinity};
