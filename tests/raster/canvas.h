// A small bitmap with both G-buffer channels for raster tests, and the
// single-pixel views the tests compare.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>
#include <vector>

#include "plugin/host.h"
#include "raster/pixel_target.h"

inline std::ostream& operator<<(std::ostream& os, const BMM_Color_64& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
}

class Canvas {
 public:
  Canvas(int width, int height, BMM_Color_64 fill = {},
         ULONG channels = BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID)
      : bitmap(width, height) {
    bitmap.CreateChannels(channels);
    for (int i = 0; i < width * height; ++i) bitmap.Storage()->Pixels()[i] = fill;
  }

  int width() const { return bitmap.Width(); }
  int height() const { return bitmap.Height(); }
  BMM_Color_64 At(int x, int y) const { return bitmap.Storage()->Pixels()[y * width() + x]; }
  void Set(int x, int y, BMM_Color_64 c) { bitmap.Storage()->Pixels()[y * width() + x] = c; }

  UBYTE* MaterialIds() {
    ULONG type;
    return static_cast<UBYTE*>(bitmap.Storage()->GetChannel(BMM_CHAN_MTL_ID, type));
  }
  WORD* ObjectIds() {
    ULONG type;
    return static_cast<WORD*>(bitmap.Storage()->GetChannel(BMM_CHAN_NODE_ID, type));
  }

  Bitmap bitmap;
};

// Full intensity of a channel.
inline constexpr int kFull = 65280;
inline constexpr BMM_Color_64 kWhite{kFull, kFull, kFull, kFull};

// A canvas whose two ID channels share memory: `shared` (one WORD a pixel)
// is the object channel and, byte by byte, the material channel. Stamping
// material ID 1 at pixel i sets a byte of object element i / 2, which the
// object mask (ID 0) then refuses if it comes later, so the order in which
// one call visits its pixels shows in what it draws.
struct SharedIdCanvas {
  SharedIdCanvas(int width, int height, UBYTE method)
      : canvas(width, height, {}, BMM_CHAN_NONE),
        shared(static_cast<size_t>(width) * static_cast<size_t>(height), 0),
        target(&canvas.bitmap, method) {
    target.objectIdChannel = shared.data();
    target.materialIdChannel = reinterpret_cast<UBYTE*>(shared.data());
    target.matchObjectId = 1;
    target.objectIdToMatch = 0;
    target.writeMaterialId = 1;
    target.materialIdToWrite = 1;
  }
  std::vector<BMM_Color_64> Pixels() const {
    const BMM_Color_64* p = canvas.bitmap.Storage()->Pixels();
    return std::vector<BMM_Color_64>(p, p + canvas.width() * canvas.height());
  }

  Canvas canvas;
  std::vector<WORD> shared;
  PixelTarget target;
};
