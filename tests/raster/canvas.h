// A small bitmap with both G-buffer channels for raster tests, and the
// single-pixel views the tests compare.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>

#include "plugin/host.h"

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
