#include "host/app/image/dib.h"

#include <cstdint>
#include <cstdlib>

namespace velumbra {

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

// A device-independent bitmap (info header, palette, rows) as RGBA pixels
// on the 8.8 scale: uncompressed 8-bit palette, 24-bit and 32-bit images.
bool DecodeDib(const unsigned char* dib, std::size_t size, int& width, int& height, std::vector<BMM_Color_64>& px) {
  if (!dib || size < 40) return false;
  const std::uint32_t headerSize = Le32(dib);
  const auto w = static_cast<std::int32_t>(Le32(dib + 4));
  const auto h = static_cast<std::int32_t>(Le32(dib + 8));
  const int bits = dib[14] | dib[15] << 8;
  const std::uint32_t compression = Le32(dib + 16);
  std::uint32_t colours = Le32(dib + 32);
  if (headerSize < 40 || headerSize > size || w <= 0 || h == 0 || h == INT32_MIN || compression != 0) return false;
  if (bits != 8 && bits != 24 && bits != 32) return false;
  if (w > 65535 || std::abs(h) > 65535) return false;
  if (bits == 8 && colours == 0) colours = 256;
  if (bits != 8) colours = 0;
  if (colours > 256) return false;
  const std::size_t palette = headerSize;
  const std::size_t pixels = palette + std::size_t{colours} * 4;
  const std::size_t stride = (static_cast<std::size_t>(w) * static_cast<std::size_t>(bits) / 8 + 3) & ~std::size_t{3};
  const std::size_t rows = static_cast<std::size_t>(std::abs(h));
  if (pixels > size || stride * rows > size - pixels) return false;
  width = w;
  height = static_cast<int>(rows);
  px.assign(static_cast<std::size_t>(w) * rows, {});
  for (std::size_t y = 0; y < rows; ++y) {
    const std::size_t srcRow = h > 0 ? rows - 1 - y : y;  // positive height: bottom-up
    const unsigned char* row = dib + pixels + srcRow * stride;
    for (std::size_t x = 0; x < static_cast<std::size_t>(w); ++x) {
      const unsigned char* bgr = nullptr;
      if (bits == 8) {
        const unsigned index = row[x];
        if (index >= colours) return false;
        bgr = dib + palette + index * 4;
      } else {
        bgr = row + x * static_cast<std::size_t>(bits / 8);
      }
      px[y * static_cast<std::size_t>(w) + x] = {static_cast<WORD>(bgr[2] << 8), static_cast<WORD>(bgr[1] << 8),
                                                 static_cast<WORD>(bgr[0] << 8), 0xFF00};
    }
  }
  return true;
}

}  // namespace velumbra
