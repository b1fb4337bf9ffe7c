#include "starfield/star_field.h"

#include <new>

namespace {

// One draw as a fraction 0..1, single precision.
inline float Unit(Random& rng) {
  return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max);
}

// Truncates toward zero, then limits to 0..65280. NaN gives 0. The limits
// are tested on the float first, so no value outside the integer range ever
// reaches a conversion; for finite values the result equals trunc-then-limit.
inline WORD TruncToChannel(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= static_cast<float>(kFullChannel)) return kFullChannel;
  return static_cast<WORD>(static_cast<int>(v));
}

}  // namespace

bool StarField::KeyMatches(const StarFieldKey& k) const {
  return key_.count == k.count && key_.seed == k.seed &&
         key_.brightColor.r == k.brightColor.r && key_.brightColor.g == k.brightColor.g &&
         key_.brightColor.b == k.brightColor.b && key_.dimColor.r == k.dimColor.r &&
         key_.dimColor.g == k.dimColor.g && key_.dimColor.b == k.dimColor.b &&
         key_.colorVariance == k.colorVariance && key_.brightDimBalance == k.brightDimBalance &&
         key_.brightSize == k.brightSize && key_.dimSize == k.dimSize && key_.alpha16 == k.alpha16;
}

bool StarField::RefreshStarField(const StarFieldKey& key, CheckAbortCallback* abort) {
  if (stars_ && KeyMatches(key)) return true;
  key_ = key;
  key_.brightColor.a = 0;
  key_.dimColor.a = 0;
  return GenerateStarField(abort) != 0;
}

int StarField::GenerateStarField(CheckAbortCallback* abort) {
  rng_.srand(static_cast<unsigned int>(key_.seed));

  stars_.reset();
  // new[] of count records; an empty field is a valid (non-null) array.
  stars_.reset(new (std::nothrow) StarRecord[key_.count ? key_.count : 1]);
  if (!stars_) return 0;

  if (abort) abort->SetTitle(kCreatingTitle);

  const std::uint32_t count = key_.count;
  const float variance = key_.colorVariance;
  const float factorSpan = (1.0f + variance) - (1.0f - variance);
  const float factorBase = 1.0f - variance;
  const int bright[3] = {key_.brightColor.r, key_.brightColor.g, key_.brightColor.b};
  const int dim[3] = {key_.dimColor.r, key_.dimColor.g, key_.dimColor.b};

  for (std::uint32_t j = 0; j < count; ++j) {
    StarRecord& s = stars_[j];

    // Uniform in the unit ball: draw in the cube until the point is inside
    // (and not the centre, which has no direction).
    for (;;) {
      s.pos.x = Unit(rng_) * 2.0f - 1.0f;
      s.pos.y = Unit(rng_) * 2.0f - 1.0f;
      s.pos.z = Unit(rng_) * 2.0f - 1.0f;
      const float length = s.pos.Length();
      if (!(length > 1.0f) && length != 0.0f) break;
    }

    const float u0 = static_cast<float>(count - j) / static_cast<float>(count);
    const float u = BalanceCurve(u0, key_.brightDimBalance);
    s.size = u * (key_.brightSize - key_.dimSize) + key_.dimSize;

    WORD* channel[3] = {&s.color.r, &s.color.g, &s.color.b};
    for (int c = 0; c < 3; ++c) {
      const float factor = Unit(rng_) * factorSpan + factorBase;
      const float value = (static_cast<float>(bright[c] - dim[c]) * u + static_cast<float>(dim[c])) * factor;
      *channel[c] = TruncToChannel(value);
    }
    s.color.a = static_cast<WORD>(key_.alpha16 & 0xFFFF);

    if ((j & 0xFF) == 0 && abort &&
        abort->Progress(static_cast<int>(j), static_cast<int>(count))) {
      key_.count = 0;
      return 0;
    }
  }
  return 1;
}
