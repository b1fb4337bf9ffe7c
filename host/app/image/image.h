// The images the command reads, whatever the file format: the frame
// (16-bit RGBA on the host's 8.8 scale) and the G-buffer ID images, and the
// options every reader takes. png_io.h and exr_io.h read into these.
#pragma once

#include <cstdint>
#include <vector>

#include "host/app/image/image_limits.h"
#include "host/sdk/color.h"
#include "host/sdk/max_types.h"

namespace velumbra {

// How a PNG file's colour relates to its alpha.
enum class PngAlpha {
  Straight,       // unassociated: what the PNG format defines (the default)
  Premultiplied,  // associated: the frame's own values, for tools that read them so
};

// The largest image read: MaxImagePixels() (image_limits.h: 2^28 pixels
// unless VELUMBRA_MAX_PIXELS says otherwise), checked against the header
// (an OpenEXR file's display window and data window each) before anything is
// allocated.
struct ImageReadOptions {
  std::uint64_t maxPixels = MaxImagePixels();  // width * height
  PngAlpha alpha = PngAlpha::Straight;         // how a PNG file's colour relates to its alpha (OpenEXR: premultiplied)
};

struct RgbaImage {
  int width = 0;
  int height = 0;
  // The file's bit depth per sample as stored (1, 2, 4, 8 or 16; a palette
  // image gives the depth of its indices). Outputs of 8-bit inputs default
  // to 8 bits, see DefaultOutputDepth.
  int fileBitDepth = 16;
  std::vector<BMM_Color_64> pixels;  // rows top to bottom, width * height

  // 16 for a 16-bit file, 8 for every other.
  int DefaultOutputDepth() const { return fileBitDepth == 16 ? 16 : 8; }
};

// Raw IDs, not on the 8.8 scale: T is WORD for object IDs, UBYTE for
// material IDs (kIdKind<T>).
template <class T>
struct IdImage {
  int width = 0;
  int height = 0;
  int fileBitDepth = 8;
  std::vector<T> values;  // raw IDs, rows top to bottom
};

enum class IdKind { Object, Material };

// The G-buffer's ID pair, each by its sample type: object IDs are 16-bit,
// material IDs 8-bit.
template <class T>
inline constexpr IdKind kIdKind = sizeof(T) == sizeof(WORD) ? IdKind::Object : IdKind::Material;
static_assert(kIdKind<WORD> == IdKind::Object && kIdKind<UBYTE> == IdKind::Material);

}  // namespace velumbra
