// The catalogue's counts per magnitude and per galactic latitude, and the
// fill-in's count past its limit, against laws known by construction.
#include "sky/star_counts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sky/catalogue.h"
#include "support/synthetic_catalogue.h"

namespace {

using namespace sky;

// Magnitudes on the line log10 N(<m) = log10(n) + slope (m - faintest),
// star i at N = i + 0.5, as floats (the catalogue keeps floats).
std::vector<float> LawMagnitudes(int n, double slope, double faintest) {
  std::vector<float> m(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    m[static_cast<std::size_t>(i)] = static_cast<float>(faintest + (std::log10(i + 0.5) - std::log10(n)) / slope);
  return m;
}

double TrueCount(int n, double slope, double faintest, double m) {
  return n * std::pow(10.0, slope * (m - faintest));
}

TEST(StarCounts, GalacticAxesAreTheIausAsAstropyGivesThem) {
  // The galactic centre (l = 0, b = 0), the north galactic pole and l = 90
  // degrees in ICRS, degrees, as astropy's Galactic frame gives them (its
  // definition goes through FK5: within 0.1 arcsec of the Hipparcos one).
  const Vec3 centre = UnitVector(266.4049882865447 * kDegToRad, -28.936177761791456 * kDegToRad);
  const Vec3 pole = UnitVector(192.85947789477606 * kDegToRad, 27.128252414968028 * kDegToRad);
  const Vec3 cygnus = UnitVector(318.00438150701746 * kDegToRad, 48.329637206840914 * kDegToRad);
  const double arcsec = 1.0 / 206265.0;
  EXPECT_NEAR(AbsSinGalacticLatitude(centre), 0.0, 0.1 * arcsec);
  EXPECT_NEAR(AbsSinGalacticLatitude(pole), 1.0, 1e-12);
  EXPECT_NEAR(AbsSinGalacticLatitude(cygnus), 0.0, 0.1 * arcsec);
  const Vec3 back = GalacticToIcrs(0.0, 0.0);
  const Vec3 l90 = GalacticToIcrs(0.5 * kPi, 0.0);
  EXPECT_LT(Norm(back - centre), 0.1 * arcsec);
  EXPECT_LT(Norm(l90 - cygnus), 0.1 * arcsec);
  EXPECT_NEAR(AbsSinGalacticLatitude(GalacticToIcrs(1.0, -0.3)), std::sin(0.3), 1e-12);
}

// A catalogue cut hard at its faintest magnitude (as KStars' file is), and
// one cut within a bin: the fit finds the fullest bin and the line's slope.
TEST(StarCounts, FitFindsTheCompletenessLimitAndTheSlope) {
  struct Case {
    const char* label;
    int n;
    double slope, faintest;
    double expectedLimit;
  };
  const Case cases[] = {
      {"hard cut at a bin edge", 60000, 0.45, 9.0, 9.0},
      {"steep, cut within a bin", 20000, 0.6, 7.3, 7.25},
      {"shallow", 200000, 0.3, 12.0, 12.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::vector<float> m = LawMagnitudes(c.n, c.slope, c.faintest);
    const MagnitudeCounts fit = FitMagnitudeCounts(m);
    ASSERT_TRUE(fit.valid);
    EXPECT_EQ(fit.completeMagnitude, c.expectedLimit);
    EXPECT_NEAR(fit.slope, c.slope, 0.005 * c.slope);
    // The window: the stars of the two magnitudes above the limit.
    EXPECT_GE(m[fit.windowFirst], c.expectedLimit - 2.0);
    EXPECT_LT(m[fit.windowFirst - 1], c.expectedLimit - 2.0);
    EXPECT_LT(m[fit.windowEnd - 1], c.expectedLimit);
    // The catalogue and the fill-in together follow the true law beyond
    // the limit, two magnitudes on.
    const FillInCounts fill(fit, m);
    for (double at : {c.expectedLimit + 0.5, c.expectedLimit + 1.0, c.expectedLimit + 2.0}) {
      const double catalogue = static_cast<double>(std::count_if(m.begin(), m.end(), [&](float v) { return v < at; }));
      EXPECT_NEAR(catalogue + fill.CountTo(at), TrueCount(c.n, c.slope, c.faintest, at),
                  0.02 * TrueCount(c.n, c.slope, c.faintest, at))
          << "at " << at;
    }
  }
}

// Stars past the fullest bin (as the Yale catalogue has a few down to 8)
// are not fitted, and the fill-in only supplies what they lack.
TEST(StarCounts, ATailPastTheFullestBinIsTakenOffTheFillIn) {
  std::vector<float> m = LawMagnitudes(8000, 0.5, 6.5);
  // The law would put about 2,700 stars in [6.5, 6.75); the tail has 600
  // there, 60 in the next bin and 6 in the one after.
  for (int i = 0; i < 600; ++i) m.push_back(6.5f + 0.25f * static_cast<float>(i) / 600.0f);
  for (int i = 0; i < 60; ++i) m.push_back(6.75f + 0.25f * static_cast<float>(i) / 60.0f);
  for (int i = 0; i < 6; ++i) m.push_back(7.0f + 0.04f * static_cast<float>(i));
  const MagnitudeCounts fit = FitMagnitudeCounts(m);
  ASSERT_TRUE(fit.valid);
  EXPECT_EQ(fit.completeMagnitude, 6.5);
  EXPECT_NEAR(fit.slope, 0.5, 0.0025);
  const FillInCounts fill(fit, m);
  for (double at : {6.75, 7.0, 7.25, 8.0}) {
    const double catalogue = static_cast<double>(std::count_if(m.begin(), m.end(), [&](float v) { return v < at; }));
    EXPECT_NEAR(catalogue + fill.CountTo(at), TrueCount(8000, 0.5, 6.5, at), 0.01 * TrueCount(8000, 0.5, 6.5, at))
        << "at " << at;
  }
  // None below the limit; the bins grow from it.
  EXPECT_EQ(fill.CountTo(6.5), 0.0);
  EXPECT_EQ(fill.CountTo(-3.0), 0.0);
}

TEST(StarCounts, TooFewStarsOrNoGrowthGiveNoFillIn) {
  struct Case {
    const char* label;
    std::vector<float> magnitudes;
  };
  std::vector<float> sparse = LawMagnitudes(400, 0.45, 9.0);  // its bright bins hold fewer than 20
  std::vector<float> flat;                                     // as many stars in every bin
  for (int i = 0; i < 2000; ++i) flat.push_back(5.0f + 4.0f * static_cast<float>(i) / 2000.0f);
  std::vector<float> one(100, 7.1f);                           // a single bin
  const Case cases[] = {{"empty", {}}, {"sparse", sparse}, {"one bin", one}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const MagnitudeCounts fit = FitMagnitudeCounts(c.magnitudes);
    EXPECT_FALSE(fit.valid);
    const FillInCounts fill(fit, c.magnitudes);
    EXPECT_EQ(fill.Total(), 0.0);
    EXPECT_EQ(fill.CountTo(20.0), 0.0);
  }
  // Absurd magnitudes of a damaged file are not counted: the fit is the
  // catalogue's without them.
  std::vector<float> absurd = LawMagnitudes(60000, 0.45, 9.0);
  absurd.insert(absurd.begin(), -1e30f);
  absurd.insert(absurd.end(), {1e9f, 3e38f, HUGE_VALF, NAN});
  const MagnitudeCounts sane = FitMagnitudeCounts(absurd);
  ASSERT_TRUE(sane.valid);
  EXPECT_EQ(sane.completeMagnitude, 9.0);
  EXPECT_NEAR(sane.slope, 0.45, 0.003);
  EXPECT_GE(absurd[sane.windowFirst], 7.0f);
  EXPECT_LT(absurd[sane.windowFirst - 1], 7.0f);
  EXPECT_LT(absurd[sane.windowEnd - 1], 9.0f);
  EXPECT_GE(absurd[sane.windowEnd], 9.0f);
  // Equal bins: N(<m) still grows (linearly), so a slope is fitted; it is
  // the line's through the last two magnitudes, not a power law's.
  const MagnitudeCounts fit = FitMagnitudeCounts(flat);
  ASSERT_TRUE(fit.valid);
  EXPECT_EQ(fit.completeMagnitude, 9.0);
}

TEST(FillInCounts, MagnitudesInvertTheCountAndStopAtTheCap) {
  const std::vector<float> m = LawMagnitudes(60000, 0.45, 9.0);
  const FillInCounts fill(FitMagnitudeCounts(m), m);
  // 10 million stars are reached where the line passes 60,000 + 10^7.
  EXPECT_EQ(fill.Total(), static_cast<double>(kMaxFillInStars));
  EXPECT_EQ(fill.CountTo(30.0), fill.Total());
  double previous = 9.0;
  for (double t : {0.25, 1.0, 17.5, 1000.0, 123456.7, 2.5e6, 9.99e6}) {
    const double at = fill.MagnitudeAt(t);
    EXPECT_GT(at, previous) << t;
    EXPECT_NEAR(fill.CountTo(at), t, 1e-9 * t + 1e-6) << t;
    previous = at;
  }
  EXPECT_NEAR(fill.MagnitudeAt(9.99e6), 9.0 + std::log10((9.99e6 + 60000) / 60000) / 0.45, 0.01);
}

// The plane/pole ratio of the density 1 / (|sin b| + c), integrated
// numerically over the two bands.
double NumericRatio(double c) {
  const auto band = [&](double lo, double hi) {
    const int n = 2000;  // Simpson
    const double h = (hi - lo) / n;
    double s = 1 / (lo + c) + 1 / (hi + c);
    for (int i = 1; i < n; ++i) s += (i % 2 ? 4.0 : 2.0) / (lo + i * h + c);
    return s * h / 3;
  };
  return band(0.0, 0.2) / band(0.8, 1.0);
}

TEST(LatitudeDensity, RatioSamplingAndFitAgreeWithTheModel) {
  for (double c : {0.01, 0.1, 0.34, 1.0, 5.0}) {
    SCOPED_TRACE(c);
    EXPECT_NEAR(PlanePoleRatio(c), NumericRatio(c), 1e-6 * NumericRatio(c));
    // Sampled at evenly spaced u, the draws fill the bands in that ratio.
    LatitudeDensity d;
    d.uniform = false;
    d.softening = c;
    std::vector<float> s;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
      const double v = SampleAbsSinLatitude(d, (i + 0.5) / n);
      ASSERT_GE(v, 0.0);
      ASSERT_LE(v, 1.0);
      s.push_back(static_cast<float>(v));
    }
    const double plane = static_cast<double>(std::count_if(s.begin(), s.end(), [](float v) { return v < 0.2f; }));
    const double pole = static_cast<double>(std::count_if(s.begin(), s.end(), [](float v) { return v >= 0.8f; }));
    EXPECT_NEAR(plane / pole, NumericRatio(c), 0.002 * NumericRatio(c));
    // And the fit gives c back from them.
    const LatitudeDensity fit = FitLatitudeDensity(s);
    EXPECT_FALSE(fit.uniform);
    EXPECT_NEAR(fit.softening, c, 0.01 * c);
  }
}

// Stars placed by the synthetic sky's own rejection sampling.
TEST(LatitudeDensity, FitsTheCrowdingOfASkyAndLeavesAFlatOneFlat) {
  for (double c : {0.3, -1.0}) {
    SCOPED_TRACE(c);
    SyntheticSky sky;
    sky.softening = c;
    std::vector<float> s;
    for (int i = 0; i < 40000; ++i) {
      double ra, dec;
      synthetic::Direction(sky, i, ra, dec);
      s.push_back(static_cast<float>(AbsSinGalacticLatitude(UnitVector(ra, dec))));
    }
    const LatitudeDensity fit = FitLatitudeDensity(s);
    if (c > 0) {
      EXPECT_NEAR(fit.planePoleRatio, PlanePoleRatio(c), 0.06 * PlanePoleRatio(c));
      EXPECT_NEAR(fit.softening, c, 0.2 * c);
    } else {
      EXPECT_NEAR(fit.planePoleRatio, 1.0, 0.06);
    }
    // Whatever was fitted, its draws keep the measured ratio.
    std::vector<float> drawn;
    for (int i = 0; i < 100000; ++i) drawn.push_back(static_cast<float>(SampleAbsSinLatitude(fit, (i + 0.5) / 1e5)));
    const double plane = static_cast<double>(std::count_if(drawn.begin(), drawn.end(), [](float v) { return v < 0.2f; }));
    const double pole = static_cast<double>(std::count_if(drawn.begin(), drawn.end(), [](float v) { return v >= 0.8f; }));
    EXPECT_NEAR(plane / pole, std::max(1.0, fit.planePoleRatio), 0.01 * fit.planePoleRatio);
  }
  // Nothing near the plane, or nothing at all: a uniform sky.
  EXPECT_TRUE(FitLatitudeDensity(std::vector<float>{0.5f, 0.9f, 0.95f}).uniform);
  EXPECT_TRUE(FitLatitudeDensity({}).uniform);
  // Fewer near the plane than at the poles: uniform too (the model only
  // crowds towards the plane).
  EXPECT_TRUE(FitLatitudeDensity(std::vector<float>{0.1f, 0.85f, 0.9f}).uniform);
  // All near the plane: the tightest softening (a ratio of about 24).
  const LatitudeDensity tight = FitLatitudeDensity(std::vector<float>{0.05f, 0.1f});
  EXPECT_FALSE(tight.uniform);
  EXPECT_LT(tight.softening, 0.002);
  EXPECT_GT(PlanePoleRatio(tight.softening), 20.0);
}

// The figures docs and comments quote for Debian's two catalogues.
TEST(StarCounts, DebiansCataloguesHaveTheFiguresTheirDocsQuote) {
  struct Case {
    const char* path;
    const char* package;
    double limit, slope, ratio, softening;
    double beyond;  // the fill-in to magnitude 11: the line's count from the limit (1.008M - 123k)
  };
  const Case cases[] = {
      {"/usr/share/kstars/stars.dat", "kstars-data", 9.0, 0.456, 2.86, 0.34, 884470},
      {"/usr/share/xplanet/stars/BSC", "xplanet", 6.5, 0.491, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::ifstream in(c.path, std::ios::binary);
    ASSERT_TRUE(in) << c.path << " is missing: install Debian's " << c.package << " (packages-test.txt)";
    std::stringstream bytes;
    bytes << in.rdbuf();
    const Catalogue catalogue = ParseCatalogue(bytes.str());
    std::vector<std::pair<float, Vec3>> stars;
    for (const CatalogueStar& s : catalogue.stars) stars.push_back({s.magnitude, UnitVector(s.ra, s.dec)});
    std::stable_sort(stars.begin(), stars.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<float> m;
    for (const auto& s : stars) m.push_back(s.first);
    const MagnitudeCounts fit = FitMagnitudeCounts(m);
    ASSERT_TRUE(fit.valid);
    EXPECT_EQ(fit.completeMagnitude, c.limit);
    EXPECT_NEAR(fit.slope, c.slope, 0.0005);
    if (c.ratio == 0) continue;
    std::vector<float> latitudes;
    for (std::size_t i = fit.windowFirst; i < fit.windowEnd; ++i)
      latitudes.push_back(static_cast<float>(AbsSinGalacticLatitude(stars[i].second)));
    const LatitudeDensity density = FitLatitudeDensity(latitudes);
    EXPECT_NEAR(density.planePoleRatio, c.ratio, 0.005);
    EXPECT_NEAR(density.softening, c.softening, 0.005);
    EXPECT_NEAR(FillInCounts(fit, m).CountTo(11.0), c.beyond, 0.001 * c.beyond);
  }
}

}  // namespace
