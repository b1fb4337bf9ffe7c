// Colour value types.
//
// Color: three floats, nominally 0..1 (parameter colours).
// BMM_Color_64: four unsigned 16-bit channels in the order red, green, blue,
// alpha: the pixels of a Bitmap. The effect's full intensity and full
// opacity are 65280 (255 x 256, the "8.8" scale); files map their white to
// 65280 (see the host application's image I/O).
// BMM_Color_fl: four floats in the same order, on the float scale where 1.0
// is the 16-bit full value 65280; values above 1.0 are light, not clipping
// (the bitmap's light layer).
#pragma once

#include "max_types.h"

class Color {
 public:
  float r = 0.0f;
  float g = 0.0f;
  float b = 0.0f;

  constexpr Color() = default;
  constexpr Color(float r_, float g_, float b_) : r(r_), g(g_), b(b_) {}
  constexpr float& operator[](int i) { return i == 0 ? r : i == 1 ? g : b; }
  constexpr float operator[](int i) const { return i == 0 ? r : i == 1 ? g : b; }
  constexpr bool operator==(const Color&) const = default;
};

struct BMM_Color_64 {
  WORD r = 0;
  WORD g = 0;
  WORD b = 0;
  WORD a = 0;

  constexpr bool operator==(const BMM_Color_64&) const = default;
};
static_assert(sizeof(BMM_Color_64) == 8, "a pixel is four 16-bit channels");

struct BMM_Color_fl {
  float r = 0.0f;
  float g = 0.0f;
  float b = 0.0f;
  float a = 0.0f;

  constexpr bool operator==(const BMM_Color_fl&) const = default;
};
static_assert(sizeof(BMM_Color_fl) == 16, "a float pixel is four floats");
