// Device-independent bitmaps (the DIB of a module's BITMAP resource: info
// header, palette, rows), decoded for display.
#pragma once

#include <cstddef>
#include <vector>

#include "host/sdk/bitmap.h"

namespace velumbra {

// Decodes an uncompressed 8-bit palette, 24-bit or 32-bit DIB of `size`
// bytes into `width` x `height` RGBA pixels (rows top to bottom) on the
// host's 8.8 scale, opaque. False for anything else, or for a header,
// palette or row that does not fit in `size` (nothing is read beyond it).
bool DecodeDib(const unsigned char* dib, std::size_t size, int& width, int& height, std::vector<BMM_Color_64>& px);

}  // namespace velumbra
