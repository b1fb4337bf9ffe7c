// The generation's test of a position attempt, without a square root.
#pragma once

#include <bit>
#include <cstdint>

// The largest float whose correctly rounded square root is at most 1:
// 1 + 2^-23 (its root, 1 + 2^-24 less a little, rounds down to 1; the next
// float's root rounds up). The square root is monotonic, so for every float
// s >= 0, sqrt(s) > 1 exactly when s > kLengthOneSquared.
inline constexpr float kLengthOneSquared = std::bit_cast<float>(std::uint32_t{0x3F800001});

// !(sqrt(squared) > 1) && sqrt(squared) != 0 for a sum of squares
// (squared >= 0, not NaN): a point in the unit ball, not its centre, as
// the float length of the point decides.
inline bool InsideUnitBall(float squared) {
  return static_cast<bool>(static_cast<unsigned>(!(squared > kLengthOneSquared)) &
                           static_cast<unsigned>(squared != 0.0f));
}
