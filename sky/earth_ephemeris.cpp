#include "sky/earth_ephemeris.h"

#include <cmath>

namespace sky {
namespace {

// Heliocentric Keplerian elements referred to the mean ecliptic and equinox
// of J2000, at J2000 and per Julian century (Standish, JPL, Table 1: valid
// 1800-2050). a in au; e; angles in degrees: inclination, mean longitude,
// longitude of perihelion, longitude of the ascending node.
struct Elements {
  double a, e, inclination, meanLongitude, perihelion, node;
};
struct Planet {
  Elements at, rate;
  double massRatio;  // planet mass / Sun mass (IAU 2009 / DE405 values)
};

constexpr Planet kEarthMoonBarycentre{{1.00000261, 0.01671123, -0.00001531, 100.46457166, 102.93768193, 0.0},
                                      {0.00000562, -0.00004392, -0.01294668, 35999.37244981, 0.32327364, 0.0},
                                      0};
// The giant planets move the Sun about the solar-system barycentre (Jupiter
// by up to 13 m/s); the inner planets' share is under 0.1 m/s and left out.
constexpr Planet kGiants[] = {
    {{5.20288700, 0.04838624, 1.30439695, 34.39644051, 14.72847983, 100.47390909},
     {-0.00011607, -0.00013253, -0.00183714, 3034.74612775, 0.21252668, 0.20469106},
     1.0 / 1047.3486},
    {{9.53667594, 0.05386179, 2.48599187, 49.95424423, 92.59887831, 113.66242448},
     {-0.00125060, -0.00050991, 0.00193609, 1222.49362201, -0.41897216, -0.28867794},
     1.0 / 3497.898},
    {{19.18916464, 0.04725744, 0.77263783, 313.23810451, 170.95427630, 74.01692503},
     {-0.00196176, -0.00004397, -0.00242939, 428.48202785, 0.40805281, 0.04240589},
     1.0 / 22902.98},
    {{30.06992276, 0.00859048, 1.77004347, -55.12002969, 44.96476227, 131.78422574},
     {0.00026291, 0.00005105, 0.00035372, 218.45945325, -0.32241464, -0.00508664},
     1.0 / 19412.24},
};

// The Moon's mass over the Earth-Moon system's (IAU 2009: M_E / M_M = 81.30056).
constexpr double kMoonShare = 1.0 / (1.0 + 81.30056);
constexpr double kKmPerAu = 149597870.700;
// The obliquity of the J2000 ecliptic that the elements refer to.
constexpr double kObliquityJ2000 = 84381.448 * kArcsecToRad;

// Ecliptic J2000 to equatorial (ICRS axes).
Vec3 EclipticToEquatorial(const Vec3& v) {
  static const double c = std::cos(kObliquityJ2000), s = std::sin(kObliquityJ2000);
  return {v[0], c * v[1] - s * v[2], s * v[1] + c * v[2]};
}

// Heliocentric ecliptic position on the Keplerian orbit, au.
Vec3 KeplerPosition(const Planet& p, double t) {
  const double a = p.at.a + p.rate.a * t;
  const double e = p.at.e + p.rate.e * t;
  const double inc = (p.at.inclination + p.rate.inclination * t) * kDegToRad;
  const double meanLongitude = (p.at.meanLongitude + p.rate.meanLongitude * t) * kDegToRad;
  const double perihelion = (p.at.perihelion + p.rate.perihelion * t) * kDegToRad;
  const double node = (p.at.node + p.rate.node * t) * kDegToRad;
  const double argument = perihelion - node;
  const double meanAnomaly = std::remainder(meanLongitude - perihelion, kTwoPi);
  // Kepler's equation E - e sin E = M by Newton's method (e < 0.06 here:
  // a few steps reach the last bit).
  double ecc = meanAnomaly + e * std::sin(meanAnomaly);
  for (int i = 0; i < 8; ++i) {
    const double step = (ecc - e * std::sin(ecc) - meanAnomaly) / (1.0 - e * std::cos(ecc));
    ecc -= step;
    if (std::fabs(step) < 1e-15) break;
  }
  const double xo = a * (std::cos(ecc) - e);
  const double yo = a * std::sqrt(1.0 - e * e) * std::sin(ecc);
  const double cw = std::cos(argument), sw = std::sin(argument);
  const double cn = std::cos(node), sn = std::sin(node);
  const double ci = std::cos(inc), si = std::sin(inc);
  return {(cw * cn - sw * sn * ci) * xo + (-sw * cn - cw * sn * ci) * yo,
          (cw * sn + sw * cn * ci) * xo + (-sw * sn + cw * cn * ci) * yo, (sw * si) * xo + (cw * si) * yo};
}

// The Moon's geocentric ecliptic position (J2000 ecliptic), au: its mean
// orbit with the largest periodic terms in longitude, latitude and distance
// (Chapront-Touze & Chapront's ELP 2000-82 leading terms, as Meeus gives
// them), good to about 0.3 degree and 1,000 km; the Earth's offset from the
// Earth-Moon barycentre is 1/82 of it (4,700 km, 12.5 m/s).
Vec3 MoonGeocentric(double t) {
  const double lm = (218.3164477 + 481267.88123421 * t) * kDegToRad;  // mean longitude
  const double d = (297.8501921 + 445267.1114034 * t) * kDegToRad;    // elongation
  const double m = (357.5291092 + 35999.0502909 * t) * kDegToRad;     // the Sun's mean anomaly
  const double mm = (134.9633964 + 477198.8675055 * t) * kDegToRad;   // the Moon's mean anomaly
  const double f = (93.2720950 + 483202.0175233 * t) * kDegToRad;     // argument of latitude
  const double longitudeOfDate =
      lm + (6.288774 * std::sin(mm) + 1.274027 * std::sin(2 * d - mm) + 0.658314 * std::sin(2 * d) +
            0.213618 * std::sin(2 * mm) - 0.185116 * std::sin(m) - 0.114332 * std::sin(2 * f)) *
               kDegToRad;
  // From the equinox of date back to J2000's: general precession in longitude.
  const double longitude = longitudeOfDate - 5028.796195 * t * kArcsecToRad;
  const double latitude = (5.128122 * std::sin(f) + 0.280602 * std::sin(mm + f) + 0.277693 * std::sin(mm - f) +
                           0.173237 * std::sin(2 * d - f)) *
                          kDegToRad;
  const double km = 385000.56 - 20905.355 * std::cos(mm) - 3699.111 * std::cos(2 * d - mm) -
                    2955.968 * std::cos(2 * d) - 569.925 * std::cos(2 * mm);
  return (km / kKmPerAu) * UnitVector(longitude, latitude);
}

struct Positions {
  Vec3 earthBarycentric, earthHeliocentric;
};

Positions PositionsAt(double t) {
  Vec3 sun{};  // the Sun about the barycentre, ecliptic
  double totalMass = 1.0;
  for (const Planet& p : kGiants) totalMass += p.massRatio;
  for (const Planet& p : kGiants) sun = sun - (p.massRatio / totalMass) * KeplerPosition(p, t);
  const Vec3 earthHelio = KeplerPosition(kEarthMoonBarycentre, t) - kMoonShare * MoonGeocentric(t);
  return {EclipticToEquatorial(sun + earthHelio), EclipticToEquatorial(earthHelio)};
}

}  // namespace

EarthState EarthBarycentric(const JulianDate& tt) {
  const double t = JulianCenturiesSinceJ2000(tt);
  constexpr double kStepDays = 0.01;
  const double h = kStepDays / kDaysPerJulianCentury;
  const Positions now = PositionsAt(t);
  const Positions before = PositionsAt(t - h), after = PositionsAt(t + h);
  EarthState s;
  s.barycentricPosition = now.earthBarycentric;
  s.heliocentricPosition = now.earthHeliocentric;
  s.barycentricVelocity = (1.0 / (2 * kStepDays)) * (after.earthBarycentric - before.earthBarycentric);
  return s;
}

}  // namespace sky
