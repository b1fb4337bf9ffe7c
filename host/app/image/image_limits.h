// The size limit of images: the largest image the command reads (PNG and
// EXR, checked against the file's header before anything is allocated) and
// the largest frame a scene may ask it to render.
//
// The default, 2^28 pixels (16384 x 16384), costs 2 GiB as 16-bit RGBA.
// The environment variable VELUMBRA_MAX_PIXELS sets another limit, a whole
// number of pixels (e.g. VELUMBRA_MAX_PIXELS=1048576 for a machine with
// little memory, or 1073741824 for very large plates).
#pragma once

#include <cstdint>
#include <string>

namespace velumbra {

inline constexpr std::uint64_t kDefaultMaxImagePixels = std::uint64_t{1} << 28;
inline constexpr std::uint64_t kLargestMaxImagePixels = std::uint64_t{1} << 62;
inline constexpr const char* kMaxPixelsVariable = "VELUMBRA_MAX_PIXELS";

// The limit in force: VELUMBRA_MAX_PIXELS when it is set, the default
// otherwise. A value that is not a whole number in 1..2^62 is an
// InputError naming the variable.
std::uint64_t MaxImagePixels();

// "<width> x <height> pixels is more than the limit of <limit> pixels
// (VELUMBRA_MAX_PIXELS changes it)", for messages.
std::string TooManyPixels(std::int64_t width, std::int64_t height, std::uint64_t limit);

}  // namespace velumbra
