// Where a catalogue star is seen: from its catalogue position to a unit
// direction in the effect's world frame.
//
// The effect depends on the host SDK and the C++ standard library only, so
// the astrometry is written here rather than linked from ERFA or SOFA; the
// tests check it against ERFA (Debian liberfa-dev, the library astropy uses)
// function by function and against astropy end to end (AltAz with pressure
// 0). Measured there, between 1985 and 2050: within 1.1 mas of ERFA's
// eraAtco13 and of astropy for stars more than 5 degrees from the Sun (the
// light deflection's steep gradient near the Sun turns the ephemeris'
// 1e-4 au into tens of mas there), against the 5.6 arcsec of a tenth of a
// pixel across 30 degrees at 1920 pixels. The models hold for centuries
// around J2000 and degrade gradually beyond (the precession polynomials,
// the 2000B nutation, the Earth's mean elements fitted for 1800-2050).
//
// Two world frames:
//
//  Celestial (SkyFrame::Celestial): ICRS axes, x towards RA 0 Dec 0, z to
//    the north celestial pole, y towards RA 6h. A star is its catalogue
//    position moved by its proper motion (linear space motion, no radial
//    velocity: the direction of p0 + dt * mu) to the epoch of `time`, and
//    nothing else: no parallax, aberration, light deflection, precession
//    or nutation. These are the barycentric (astrometric) ICRS directions
//    an atlas gives for that epoch.
//
//  Observer (SkyFrame::Observer): the local horizon of an observer at a
//    geodetic latitude/longitude (WGS84) and height: x east, y north, z up.
//    The chain, all of it rebuilt once per SkyTransform:
//      1. proper motion to the epoch (as above) and annual parallax (the
//         star seen from the Earth's barycentric position, not the Sun's);
//      2. light deflection by the Sun (at most 1.75 arcsec at the limb,
//         4 mas at 90 degrees from the Sun);
//      3. aberration, relativistic, from the observer's barycentric velocity:
//         the Earth's (earth_ephemeris.h, within 2.2 m/s of ERFA's
//         JPL-fitted model, 1.5 mas) plus the diurnal velocity of the site
//         (up to 0.32 arcsec at the equator);
//      4. the IAU 2006 precession (Fukushima-Williams angles) with IAU 2000B
//         nutation and the frame bias: GCRS to the true equator and equinox
//         of date (earth_orientation.h);
//      5. the Earth's rotation: Greenwich apparent sidereal time from the
//         Earth rotation angle (UT1), consistent with 2006/2000B;
//      6. polar motion (zero unless given);
//      7. the horizon frame of the site (geodetic vertical);
//      8. optional refraction (off by default), Saemundsson's formula below.
//
// Per star, Direction() costs a handful of multiplies, two square roots and
// (from a CatalogueStar) the sines and cosines of its RA and Dec; from a
// StarVector (precomputed once per catalogue) no trigonometry at all, and one
// tangent when refraction is on.
#pragma once

#include <array>

#include "sky/catalogue.h"
#include "sky/sky_time.h"
#include "sky/vec3.h"

namespace sky {

enum class SkyFrame : int { Celestial = 0, Observer = 1 };

struct SkySettings {
  SkyFrame frame = SkyFrame::Celestial;
  UtcInstant time;                 // epoch of the proper motion (both frames) and the observer's date
  double ut1MinusUtc = 0;          // seconds (IERS Bulletin A); the Earth's rotation only
  double latitudeDeg = 0;          // geodetic (WGS84), north positive, [-90, 90]
  double longitudeDeg = 0;         // east positive
  double heightM = 0;              // above the WGS84 ellipsoid
  double polarMotionXArcsec = 0;   // IERS x_p, y_p (|x|,|y| < 0.6"); 0 when unknown
  double polarMotionYArcsec = 0;
  bool refraction = false;         // observer frame only
  double pressureHpa = 1010;       // at the site; 0 disables refraction too
  double temperatureC = 10;
  double catalogueEpochJulianYear = 2000.0;  // epoch of the catalogue positions (Catalogue::epochJulianYear)
};

// A catalogue star as vectors, computed once per catalogue: the unit
// direction at the catalogue epoch, its rate of change (radians per Julian
// year, perpendicular to the direction) and the parallax in radians.
struct StarVector {
  Vec3 position{};
  Vec3 motion{};
  double parallax = 0;
};
StarVector MakeStarVector(const CatalogueStar& star);

class SkyTransform {
 public:
  explicit SkyTransform(const SkySettings& settings);

  // Unit vector of the star's apparent direction in the world frame.
  // Identical results from the star and from its StarVector.
  Vec3 Direction(const CatalogueStar& star) const { return Direction(MakeStarVector(star)); }
  Vec3 Direction(const StarVector& star) const;

  // Pieces, for tests and for a caller that wants them.
  const SkySettings& Settings() const { return settings_; }
  // Matrix from GCRS (ICRS axes, geocentric apparent) to the world frame:
  // identity in the celestial frame.
  const Mat3& CelestialToWorld() const { return toWorld_; }
  // Observer's barycentric velocity in units of c (zero in the celestial frame).
  const Vec3& ObserverVelocity() const { return velocity_; }
  // Julian years of proper motion from the catalogue epoch to `time` (TT).
  double YearsSinceCatalogueEpoch() const { return years_; }

 private:
  SkySettings settings_;
  Mat3 toWorld_ = Identity3();
  double years_ = 0;
  bool observer_ = false;
  Vec3 earthPositionAu_{};   // observer's barycentric position, au (parallax)
  Vec3 sunToObserver_{};     // unit vector from the Sun to the observer
  double sunDistanceAu_ = 1; // Sun-observer distance, au
  Vec3 velocity_{};          // observer's barycentric velocity / c
  double inverseLorentz_ = 1;// sqrt(1 - |v|^2)
  bool refract_ = false;
};

// Refraction: how much higher a star appears than it is, radians, for a true
// (airless) altitude in radians. Saemundsson (1986), the inverse of
// Bennett's formula, with the usual pressure/temperature factor:
//   R = 1.02' / tan(h + 10.3 / (h + 5.11))   (h in degrees, R in arcminutes)
//       x (P / 1010 hPa) x (283 K / (273 K + T))
// Within 0.1' of Bennett's inverse above the horizon; for true altitudes
// below -1 degree the value at -1 degree is held (continuous, and those
// stars are below the horizon anyway). Zero pressure gives zero.
double Refraction(double trueAltitude, double pressureHpa, double temperatureC);

}  // namespace sky
