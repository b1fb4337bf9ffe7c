#include "sky/astrometry.h"

#include <algorithm>
#include <cmath>

#include "sky/earth_ephemeris.h"
#include "sky/earth_orientation.h"

namespace sky {
namespace {

// WGS84 ellipsoid.
constexpr double kEquatorialRadiusM = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257223563;
// The Earth's angular velocity, rad/s (the ERA's rate over a UT1 day).
constexpr double kEarthRotationRate = 1.00273781191135448 * kTwoPi / 86400.0;
constexpr double kMetresPerAu = 149597870700.0;
constexpr double kSecondsPerDay = 86400.0;

// Geocentric position of a geodetic site in the terrestrial frame, metres.
Vec3 SitePosition(double latitude, double longitude, double height) {
  const double e2 = kFlattening * (2.0 - kFlattening);
  const double s = std::sin(latitude), c = std::cos(latitude);
  const double n = kEquatorialRadiusM / std::sqrt(1.0 - e2 * s * s);
  return {(n + height) * c * std::cos(longitude), (n + height) * c * std::sin(longitude),
          (n * (1.0 - e2) + height) * s};
}

// Terrestrial frame to the site's horizon: rows east, north, up (the
// geodetic vertical).
Mat3 HorizonFrame(double latitude, double longitude) {
  const double sl = std::sin(latitude), cl = std::cos(latitude);
  const double so = std::sin(longitude), co = std::cos(longitude);
  return {{{-so, co, 0}, {-sl * co, -sl * so, cl}, {cl * co, cl * so, sl}}};
}

constexpr double kRefractionFloorDeg = -1.0;

}  // namespace

StarVector MakeStarVector(const CatalogueStar& star) {
  const double sa = std::sin(star.ra), ca = std::cos(star.ra);
  const double sd = std::sin(star.dec), cd = std::cos(star.dec);
  StarVector v;
  v.position = {cd * ca, cd * sa, sd};
  // d/dt of the position: pmRa along the east unit vector (-sin a, cos a, 0)
  // (pmRa already carries cos dec), pmDec along the north one.
  v.motion = {-star.pmRa * sa - star.pmDec * sd * ca, star.pmRa * ca - star.pmDec * sd * sa, star.pmDec * cd};
  v.parallax = star.parallax * kArcsecToRad;
  return v;
}

double Refraction(double trueAltitude, double pressureHpa, double temperatureC) {
  if (!(pressureHpa > 0)) return 0;
  const double h = std::max(trueAltitude / kDegToRad, kRefractionFloorDeg);
  // The 0.0019279' makes the refraction vanish at the zenith.
  const double arcmin = 1.02 / std::tan((h + 10.3 / (h + 5.11)) * kDegToRad) + 0.0019279;
  const double kelvin = 273.0 + std::max(temperatureC, -100.0);
  return arcmin / 60.0 * kDegToRad * (pressureHpa / 1010.0) * (283.0 / kelvin);
}

SkyTransform::SkyTransform(const SkySettings& settings) : settings_(settings) {
  const JulianDate tt = UtcToTt(settings.time);
  years_ = ((tt.day - kJ2000) + tt.fraction) / kDaysPerJulianYear - (settings.catalogueEpochJulianYear - 2000.0);
  observer_ = settings.frame == SkyFrame::Observer;
  if (!observer_) return;

  const JulianDate ut1 = UtcToUt1(settings.time, settings.ut1MinusUtc);
  const PrecessionAngles precession = Precession2006(tt);
  const Nutation nutation = Nutation2000B(tt);
  const Mat3 npb = BiasPrecessionNutation(precession, nutation);
  const double gast = GreenwichMeanSiderealTime(ut1, tt) + EquationOfEquinoxes(tt, nutation, precession.meanObliquity);
  // GCRS -> true equator and equinox of date -> TIRS (Earth-fixed but for
  // polar motion) -> ITRS.
  const Mat3 celestialToTirs = Mul(FrameRotationZ(gast), npb);
  const Mat3 celestialToTerrestrial =
      Mul(PolarMotion(settings.polarMotionXArcsec * kArcsecToRad, settings.polarMotionYArcsec * kArcsecToRad),
          celestialToTirs);
  const double latitude = settings.latitudeDeg * kDegToRad, longitude = settings.longitudeDeg * kDegToRad;
  toWorld_ = Mul(HorizonFrame(latitude, longitude), celestialToTerrestrial);

  // The site's velocity from the Earth's rotation (polar motion neglected
  // here: it turns a 465 m/s vector by under a microradian), to GCRS.
  const Vec3 site = SitePosition(latitude, longitude, settings.heightM);
  const Vec3 siteVelocityTirs{-kEarthRotationRate * site[1], kEarthRotationRate * site[0], 0};
  const Vec3 siteVelocity = (kSecondsPerDay / kMetresPerAu) * MulTransposed(celestialToTirs, siteVelocityTirs);

  const EarthState earth = EarthBarycentric(tt);
  // The site is 4e-5 au from the geocentre: as parallax, under 0.1
  // microarcsec for the nearest star; only its velocity counts.
  earthPositionAu_ = earth.barycentricPosition;
  sunDistanceAu_ = Norm(earth.heliocentricPosition);
  sunToObserver_ = (1.0 / sunDistanceAu_) * earth.heliocentricPosition;
  velocity_ = (1.0 / kSpeedOfLightAuPerDay) * (earth.barycentricVelocity + siteVelocity);
  inverseLorentz_ = std::sqrt(1.0 - Dot(velocity_, velocity_));

  refract_ = settings.refraction && settings.pressureHpa > 0;
}

Vec3 SkyTransform::Direction(const StarVector& star) const {
  Vec3 p = star.position + years_ * star.motion;
  if (!observer_) return Normalized(p);

  // Parallax: the star seen from the Earth's barycentric position (the star
  // at 1/parallax au along p).
  p = Normalized(p - star.parallax * earthPositionAu_);

  // Light deflection by the Sun (the star at infinity): 2GM/(c^2 r) along the
  // component of the Sun-observer direction across p; the denominator is
  // held off zero behind the Sun, where the star is not seen anyway.
  const Vec3& e = sunToObserver_;
  const double pe = Dot(p, e);
  const double deflection = kSunSchwarzschildRadiusAu / sunDistanceAu_ / std::max(1.0 + pe, 1e-6);
  p = p + deflection * (e - pe * p);

  // Aberration, relativistic, with the Sun's potential term (Klioner 2003,
  // as the IAU's software applies it).
  const Vec3& v = velocity_;
  const double pv = Dot(p, v);
  const double w1 = 1.0 + pv / (1.0 + inverseLorentz_);
  const double w2 = kSunSchwarzschildRadiusAu / sunDistanceAu_;
  p = Normalized(inverseLorentz_ * p + w1 * v + w2 * (v - pv * p));

  Vec3 d = Mul(toWorld_, p);
  if (refract_) {
    // Raise the star by R along its vertical circle: the altitude's sine
    // and cosine turned by R, whose sine and cosine come from their series
    // (R < 0.012 rad: the terms kept leave under 1e-17).
    const double horizontal = std::sqrt(d[0] * d[0] + d[1] * d[1]);
    if (horizontal > 0) {
      const double r = Refraction(std::atan2(d[2], horizontal), settings_.pressureHpa, settings_.temperatureC);
      const double r2 = r * r;
      const double sinR = r * (1.0 - r2 / 6.0 * (1.0 - r2 / 20.0));
      const double cosR = 1.0 - r2 / 2.0 * (1.0 - r2 / 12.0 * (1.0 - r2 / 30.0));
      const double scale = (horizontal * cosR - d[2] * sinR) / horizontal;
      d = {d[0] * scale, d[1] * scale, d[2] * cosR + horizontal * sinR};
    }
  }
  return d;
}

}  // namespace sky
