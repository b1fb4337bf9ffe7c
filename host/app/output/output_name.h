// Frame patterns in file names: the one rule for every file the command
// reads or writes per frame (-o, --ids, --input, render.image,
// render.objectId, render.materialId).
//
// Two spellings of a frame-number field, as 3D applications, ffmpeg and
// compositors write them:
//   '#' runs   a run of n '#' writes the frame with at least n digits
//   printf     %0Nd (N digits at least, zero-padded) and %d (no padding);
//              '%%' is one literal '%'; any other '%' is itself
// '%#' is one literal '#', so that a name can hold '#' beside its field.
// The escapes hold in every name, with a field or without: 'pct%%.png' is
// the file pct%.png, as a single frame's output or an input.
// Blender replaces only the last '#' run of a file name and keeps every
// other '#' (a folder take#1/, a file v#2_shot_###): its names come across
// with those escaped, take%#1/v%#2_shot_###.
// A wider number is written in full; a negative frame writes '-' before the
// padded digits of its magnitude (both spellings alike). Every field in the
// name is replaced:
//   stars.####.png  frame 7 -> stars.0007.png,  12345 -> stars.12345.png,
//                   frame -7 -> stars.-0007.png
//   shot_%04d.exr   frame 7 -> shot_0007.exr
// A name without a field is one fixed file: valid as an output only when a
// single frame is rendered; as an input, the same file for every frame.
// Only the names the user or a scene wrote are patterns: the folder they
// are taken from (the scene's folder, the working folder of `velumbra
// farm`) joins them escaped (EscapeFrameName), so that a folder proj#1/
// stays proj#1/.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velumbra {

// True when the name has at least one frame-number field.
bool HasFrameNumberField(std::string_view name);

// The name for one frame: every field replaced, '%%' made '%' and '%#'
// made '#'.
std::string OutputNameForFrame(std::string_view name, int frame);

// The file of a name without a field (its escapes undone); for a name with
// one, the name as it is.
std::string FileOfName(std::string_view name);

// `literal` as a name that means exactly it: '%' written '%%', '#' as '%#'.
// (Inline: the scene reader, below this library, joins folders with it.)
inline std::string EscapeFrameName(std::string_view literal) {
  std::string out;
  out.reserve(literal.size());
  for (char c : literal) {
    if (c == '%' || c == '#') out += '%';
    out += c;
  }
  return out;
}

// Throws InputError when `frameCount` frames would all go to the one file of
// a name without a frame-number field.
void CheckOutputName(std::string_view name, std::size_t frameCount);

}  // namespace velumbra
