// Frame lists as compositing tools write them.
//
//   12            one frame
//   1-100         every frame from 1 to 100
//   1-100x2       every second frame: 1, 3, ..., 99
//   1-10,20       lists join ranges with commas, kept in the given order
//   -5  -10--1  -3-3   negative frames: a '-' right before a number is its sign
//   10-1x-1       descending ranges need an explicit negative step
//
// A range's step must be nonzero and point from the first frame towards the
// last ("10-1" without a step and "1-10x-1" are errors rather than empty
// lists, so a typo never renders nothing). The last frame is included when
// the step lands on it. Spaces around the items are allowed; duplicates are
// kept (a frame listed twice renders twice).
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace velumbra {

// The most frames one list may expand to; a bound against typos such as
// "1-1000000000".
inline constexpr std::size_t kMaxFrameListLength = 1000000;

// Parses a frame list. Throws InputError quoting the list and the item at
// fault.
std::vector<int> ParseFrameList(std::string_view text);

}  // namespace velumbra
