// Magnitude to light and B-V to colour: the documented formulas at five
// B-V values, checked through an independent integration and the published
// sRGB matrix in the other direction, and against colorimetric facts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "sky/star_light.h"

namespace sky {
namespace {

double Luminance(const LinearRgb& c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }

// Chromaticity (x, y) of a linear Rec. 709 colour through the published
// sRGB -> XYZ matrix (IEC 61966-2-1, four decimals).
struct Xy {
  double x, y;
};
Xy ChromaticityOf(const LinearRgb& c) {
  const double X = 0.4124 * c.r + 0.3576 * c.g + 0.1805 * c.b;
  const double Y = 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
  const double Z = 0.0193 * c.r + 0.1192 * c.g + 0.9505 * c.b;
  return {X / (X + Y + Z), Y / (X + Y + Z)};
}

// The black body's chromaticity by Simpson's rule at 0.25 nm over the same
// fit (Wyman, Sloan & Shirley 2013, their multi-lobe equations), Planck in
// SI units: a second implementation of the documented formula.
Xy BlackBodyChromaticity(double kelvin) {
  auto g = [](double x, double mu, double s1, double s2) {
    const double t = (x - mu) / (x < mu ? s1 : s2);
    return std::exp(-t * t / 2);
  };
  const double h = 6.62607015e-34, c = 299792458.0, k = 1.380649e-23;
  double X = 0, Y = 0, Z = 0;
  const double step = 0.25;
  const int n = static_cast<int>((830 - 360) / step);
  for (int i = 0; i <= n; ++i) {
    const double nm = 360 + i * step, m = nm * 1e-9;
    const double w = (i == 0 || i == n) ? 1 : (i % 2 ? 4 : 2);
    const double planck = 2 * h * c * c / std::pow(m, 5) / (std::exp(h * c / (m * k * kelvin)) - 1);
    X += w * planck * (1.056 * g(nm, 599.8, 37.9, 31.0) + 0.362 * g(nm, 442.0, 16.0, 26.7) - 0.065 * g(nm, 501.1, 20.4, 26.2));
    Y += w * planck * (0.821 * g(nm, 568.8, 46.9, 40.5) + 0.286 * g(nm, 530.9, 16.3, 31.1));
    Z += w * planck * (1.217 * g(nm, 437.0, 11.8, 36.0) + 0.681 * g(nm, 459.0, 26.0, 13.8));
  }
  return {X / (X + Y + Z), Y / (X + Y + Z)};
}

TEST(MagnitudeLight, FiveMagnitudesAreAHundredfold) {
  EXPECT_DOUBLE_EQ(MagnitudeLight(3.0, 3.0), 1.0);
  EXPECT_NEAR(MagnitudeLight(5.0, 0.0), 0.01, 1e-15);
  EXPECT_NEAR(MagnitudeLight(-1.44, 1.06), 10.0, 1e-12);
  EXPECT_NEAR(MagnitudeLight(1.0, 0.0) / MagnitudeLight(2.0, 0.0), std::pow(100.0, 0.2), 1e-12);
}

TEST(StarColour, FiveBvValuesFollowTheDocumentedFormula) {
  // From hot blue to cool red: temperature by Ballesteros, the colour's
  // chromaticity that of the black body at that temperature, luminance 1.
  for (double bv : {-0.30, 0.00, 0.65, 1.50, 3.00}) {
    const double kelvin = 4600.0 * (1.0 / (0.92 * bv + 1.7) + 1.0 / (0.92 * bv + 0.62));
    EXPECT_NEAR(TemperatureFromBv(bv), kelvin, 1e-9 * kelvin) << bv;
    const LinearRgb c = StarColour(static_cast<float>(bv));
    EXPECT_NEAR(Luminance(c), 1.0, 1e-12) << bv;
    EXPECT_GE(std::min({c.r, c.g, c.b}), 0.0);
    const Xy got = ChromaticityOf(c), want = BlackBodyChromaticity(kelvin);
    // The published matrix's four decimals and the 5 nm sum: 3e-4.
    EXPECT_NEAR(got.x, want.x, 3e-4) << bv;
    EXPECT_NEAR(got.y, want.y, 3e-4) << bv;
  }
  // The Sun (B-V 0.65) comes out at its own 5778 K.
  EXPECT_NEAR(TemperatureFromBv(0.65), 5778, 2);
}

TEST(BlackBodyRec709, MeetsColorimetricLandmarks) {
  // CIE illuminant A is a 2856 K black body at (0.44757, 0.40745); the fit
  // of the matching functions puts it within 2e-3.
  const Xy a = ChromaticityOf(BlackBodyRec709(2856));
  EXPECT_NEAR(a.x, 0.44757, 2e-3);
  EXPECT_NEAR(a.y, 0.40745, 2e-3);
  // Near 6500 K a black body is near the D65 white: the channels within 5 %.
  const LinearRgb w = BlackBodyRec709(6504);
  EXPECT_NEAR(w.r, 1.0, 0.05);
  EXPECT_NEAR(w.g, 1.0, 0.05);
  EXPECT_NEAR(w.b, 1.0, 0.05);
  // Redder as it cools, bluer as it heats, over the whole range.
  double lastRatio = std::numeric_limits<double>::infinity();
  for (double k = 1000; k <= 40000; k *= 1.1) {
    const LinearRgb c = BlackBodyRec709(k);
    const double ratio = c.r / (c.b + 1e-9);
    EXPECT_LT(ratio, lastRatio) << k;
    lastRatio = ratio;
  }
}

TEST(BlackBodyRec709, ClipsOutOfGamutRedAndKeepsLuminance) {
  // At 1000 K the locus is outside the Rec. 709 triangle: blue would go
  // negative; it is clipped and the colour renormalised.
  const LinearRgb c = BlackBodyRec709(1000);
  EXPECT_EQ(c.b, 0.0);
  EXPECT_GT(c.r, c.g);
  EXPECT_NEAR(Luminance(c), 1.0, 1e-12);
  // Held temperatures, and NaN is white.
  EXPECT_EQ(BlackBodyRec709(10).r, BlackBodyRec709(500).r);
  EXPECT_EQ(BlackBodyRec709(1e9).b, BlackBodyRec709(100000).b);
  EXPECT_EQ(BlackBodyRec709(std::nan("")).g, 1.0);
}

TEST(StarColour, MissingOrExtremeBvIsHandled) {
  const LinearRgb white = StarColour(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(white.r, 1.0);
  EXPECT_EQ(white.g, 1.0);
  EXPECT_EQ(white.b, 1.0);
  EXPECT_TRUE(std::isnan(TemperatureFromBv(std::nan(""))));
  // Beyond the formula's range B-V is held, never reaching its pole at -0.674.
  EXPECT_EQ(TemperatureFromBv(-0.674), TemperatureFromBv(-0.5));
  EXPECT_EQ(TemperatureFromBv(-5), TemperatureFromBv(-0.5));
  EXPECT_EQ(TemperatureFromBv(12), TemperatureFromBv(6.0));
  EXPECT_GT(TemperatureFromBv(-0.5), 30000);
  EXPECT_LT(TemperatureFromBv(6.0), 1500);
}

TEST(StarColourCache, GivesStarColoursBits) {
  StarColourCache cache;
  for (int pass = 0; pass < 2; ++pass)
    for (float bv = -0.6f; bv < 6.5f; bv += 0.01f) {
      const LinearRgb a = cache(bv), b = StarColour(bv);
      ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << bv;
    }
  const LinearRgb n = cache(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(n.r, 1.0);
}

}  // namespace
}  // namespace sky
