#include "starfield/star_field_key.h"

#include <cstdint>

namespace {

WORD ColourChannel(float c) {
  const float v = c * 65535.0f;
  if (!(v > 0.0f)) return 0;
  if (v >= 65535.0f) return 65535;
  return static_cast<WORD>(static_cast<int>(v));
}

BMM_Color_64 ColourKey(const Color& c) {
  BMM_Color_64 out;
  out.r = ColourChannel(c.r);
  out.g = ColourChannel(c.g);
  out.b = ColourChannel(c.b);
  out.a = 0;
  return out;
}

}  // namespace

StarFieldKey MakeStarFieldKey(const StarFieldParams& p) {
  StarFieldKey key;
  key.count = p.starsCount > 0 ? static_cast<std::uint32_t>(p.starsCount) : 0u;
  key.seed = p.seed;
  key.brightColor = ColourKey(p.brightColor);
  key.dimColor = ColourKey(p.dimColor);
  // Percent to fraction: the product in double precision, stored as float.
  key.colorVariance = static_cast<float>(static_cast<double>(p.colorVariancePercent) * 0.01);
  key.brightDimBalance = p.brightDimBalance;
  key.brightSize = p.brightSize;
  key.dimSize = p.dimSize;
  const int alpha = p.starsAlphaFlag ? p.starsAlpha : 255;
  key.alpha16 = static_cast<std::int32_t>(static_cast<std::uint32_t>(alpha) << 8);
  return key;
}
