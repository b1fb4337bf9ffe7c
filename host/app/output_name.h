// Output names with frame numbers.
//
// Each '#' in a name stands for one digit of the frame number: a run of n
// '#' writes the frame with at least n digits, zero-padded; a wider number
// is written in full; a negative frame writes '-' before the padded digits
// of its magnitude. Every run in the name is replaced:
//   stars.####.png  frame 7 -> stars.0007.png,  12345 -> stars.12345.png,
//                   frame -7 -> stars.-0007.png
// A name without a '#' is one fixed file, valid only when a single frame is
// rendered.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velumbra {

// True when the name has at least one '#'.
bool HasFrameNumberField(std::string_view name);

// The name for one frame (the name itself when it has no '#').
std::string OutputNameForFrame(std::string_view name, int frame);

// Throws InputError when `frameCount` frames would all go to the one file of
// a name without '#'.
void CheckOutputName(std::string_view name, std::size_t frameCount);

}  // namespace velumbra
