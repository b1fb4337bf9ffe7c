// How many stars a catalogue holds per magnitude and per galactic latitude,
// and the faint stars it is missing: the model the fill-in below a
// catalogue's limit is drawn from (effect/sky_fill_in.h).
//
// Counts per magnitude. The stars' magnitudes are counted in quarter
// magnitude bins (edges at multiples of 0.25). A catalogue is complete down
// to where its bins stop growing: the completeness limit m_c is the upper
// edge of its fullest bin (the fainter one on a tie). Over the two
// magnitudes below m_c (its last well-populated magnitudes: eight bins of
// at least kMinStarsPerBin stars each) the cumulative count is fitted as a
// straight line by least squares,
//     log10 N(<m) = a + b m,        at the nine bin edges m_c - 2 ... m_c,
// and the fill-in continues that line: in each quarter magnitude fainter
// than m_c it supplies the stars the line predicts less those the catalogue
// itself has there (none when the catalogue has as many), so that the
// catalogue and the fill-in together count 10^(a + b m) stars brighter
// than m. Within a bin magnitudes follow the same law (10^(b m) uniform).
// The bins continue to magnitude 30 or until kMaxFillInStars.
//
// KStars' stars.dat (125,982 stars, cut at V 8.99): m_c = 9.0, b = 0.456;
// the line gives 352,000 stars brighter than 10, 1.0 million brighter than
// 11, 8.2 million brighter than 13 (star counts of the real sky: about
// 0.33 and 0.9 million brighter than 10 and 11). The Yale Bright Star
// Catalogue as xplanet ships it: m_c = 6.5, b = 0.49, its 741 stars of 6.5
// and fainter taken off the line's count.
//
// Density per galactic latitude b. Stars crowd towards the Milky Way, the
// more so the fainter they are. The model is the density of a softened
// slab, per steradian
//     D(b) proportional to 1 / (|sin b| + c),
// whose plane/pole ratio is (1 + c) / c. c is fitted to the catalogue's
// stars of the same two magnitudes: the ratio Q of their mean density at
// |sin b| < 0.2 to that at |sin b| >= 0.8 (two bins of equal area) is
// measured, and c is the value for which the model gives the same ratio,
//     Q(c) = ln((0.2 + c) / c) / ln((1 + c) / (0.8 + c)).
// KStars' stars of magnitude 7 to 9: Q = 2.86, c = 0.34; the model then
// follows their density in ten bins of |sin b| within 4 % (an exponential
// in |sin b| of the same Q is up to 7 % off). A catalogue whose
// stars do not crowd towards the plane (Q <= 1) gets a uniform sky. The
// density along galactic longitude (more stars towards the galactic
// centre) is not modelled: fill-in stars are uniform in longitude.
//
// Galactic coordinates: the ICRS to galactic rotation of the Hipparcos
// catalogue (ESA 1997, vol. 1, section 1.5.3), the one astropy and ERFA
// use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sky/vec3.h"

namespace sky {

// Rows: the galactic x (towards the galactic centre), y (towards l = 90
// degrees) and z (the north galactic pole) axes in ICRS.
inline constexpr Mat3 kIcrsToGalactic = {{{-0.0548755604162154, -0.8734370902348850, -0.4838350155487132},
                                          {+0.4941094278755837, -0.4448296299600112, +0.7469822444972189},
                                          {-0.8676661490190047, -0.1980763734312015, +0.4559837761750669}}};

// |sin b| of an ICRS unit direction: its distance from the galactic plane.
inline double AbsSinGalacticLatitude(const Vec3& icrs) { return std::abs(Dot(kIcrsToGalactic[2], icrs)); }

// The ICRS direction of galactic longitude l and latitude b (radians).
inline Vec3 GalacticToIcrs(double l, double b) { return MulTransposed(kIcrsToGalactic, UnitVector(l, b)); }

inline constexpr double kMagnitudeBin = 0.25;
inline constexpr int kFitBins = 8;  // two magnitudes
inline constexpr std::size_t kMinStarsPerBin = 20;
inline constexpr double kFaintestFillIn = 30.0;
// As many stars as a generated field holds at most.
inline constexpr std::uint32_t kMaxFillInStars = 10000000;

// The catalogue's counts per magnitude, fitted.
struct MagnitudeCounts {
  bool valid = false;               // false: too few stars to fit, or no growth; no fill-in
  double completeMagnitude = 0;     // m_c
  double slope = 0;                 // b of log10 N(<m) = a + b m
  double intercept = 0;             // a
  // The stars of the fit's two magnitudes, [m_c - 2, m_c): indices into
  // the sorted magnitudes.
  std::size_t windowFirst = 0, windowEnd = 0;
};

// Fits the counts of magnitudes sorted brightest first (NaN last); those
// outside -30..30 are not counted.
MagnitudeCounts FitMagnitudeCounts(std::span<const float> sortedMagnitudes);

// The density per galactic latitude.
struct LatitudeDensity {
  double planePoleRatio = 1;  // Q, measured
  double softening = 0;       // c; 0 with `uniform`
  bool uniform = true;        // no crowding towards the plane (or no stars to measure it on)
};

// Fits c to the |sin b| of a catalogue's stars (those of the window).
LatitudeDensity FitLatitudeDensity(std::span<const float> absSinLatitudes);

// The model's ratio of the mean densities at |sin b| < 0.2 and >= 0.8.
double PlanePoleRatio(double softening);

// |sin b| in [0, 1] distributed as the density (by its inverse cumulative
// distribution), for u uniform in [0, 1).
double SampleAbsSinLatitude(const LatitudeDensity& density, double u);

// The fill-in's cumulative count beyond m_c: F(m) stars of magnitude below
// m, continuous and increasing, 0 at m_c.
class FillInCounts {
 public:
  FillInCounts() = default;
  // `sortedMagnitudes` are the ones `counts` was fitted to.
  FillInCounts(const MagnitudeCounts& counts, std::span<const float> sortedMagnitudes);

  // F(m); 0 at and below m_c, Total() beyond the last bin.
  double CountTo(double magnitude) const;
  // The magnitude m where F(m) = t, for 0 <= t < Total().
  double MagnitudeAt(double t) const;
  // F at the last bin's end, at most kMaxFillInStars.
  double Total() const { return total_; }

 private:
  double slope_ = 0;
  std::vector<double> edges_;       // bin edges from m_c
  std::vector<double> cumulative_;  // F at each edge
  double total_ = 0;
};

}  // namespace sky
