// The image formats the velumbra command writes, told by the output name.
//
//   *.png (any letter case)   PNG, 8 or 16 bits per channel
//   *.exr (any letter case)   OpenEXR, HALF or FLOAT colour
//   -                         PNG to standard output (a stream of one PNG
//                             file per frame, as `ffmpeg -f image2pipe`
//                             reads it)
//   an existing device or pipe (/dev/stdout, a FIFO): PNG
// Any other name is refused rather than written as PNG data under a name
// that other programs would read as another format.
#pragma once

#include <string>
#include <string_view>

namespace velumbra {

enum class ImageFormat { Png, Exr };

// The output name that means standard output.
inline constexpr std::string_view kStandardOutput = "-";

inline bool IsStandardOutput(std::string_view name) { return name == kStandardOutput; }

// The format of `name`; throws InputError naming `option` and listing the
// formats for any other extension.
ImageFormat OutputFormatOf(std::string_view name, const std::string& option);

// "PNG" or "OpenEXR".
const char* FormatName(ImageFormat format);

}  // namespace velumbra
