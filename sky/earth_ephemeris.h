// The Earth's barycentric position and velocity, for annual aberration,
// parallax and light deflection.
//
// A compact model rather than a planetary theory: the Earth-Moon barycentre
// on its Keplerian orbit from the mean elements and rates of Standish (JPL,
// "Keplerian elements for approximate positions of the major planets",
// the 1800-2050 table), the Earth's offset from that barycentre from the
// Moon's mean orbit with its largest periodic terms, and the Sun's offset
// from the solar-system barycentre from Jupiter, Saturn, Uranus and Neptune on
// their Keplerian orbits. Velocities are central differences of positions
// over +/- 0.01 day.
//
// Against the JPL-fitted model of ERFA (eraEpv00) between 1900 and 2100 the
// velocity is within 2.2 m/s (out of 30 km/s), which moves an aberrated star
// by 1.5 mas at most; the position is within 1.1e-4 au, which moves the
// nearest star (parallax 0.77") by 0.08 mas.
//
// ICRS axes (the J2000 ecliptic turned by the J2000 obliquity; the frame
// bias of 23 mas does not matter here), au and au per day, TT.
#pragma once

#include "sky/sky_time.h"
#include "sky/vec3.h"

namespace sky {

struct EarthState {
  Vec3 barycentricPosition{};  // au
  Vec3 barycentricVelocity{};  // au / day
  Vec3 heliocentricPosition{}; // au (the Sun to the Earth)
};

EarthState EarthBarycentric(const JulianDate& tt);

// Speed of light in au per day, and the Sun's Schwarzschild radius in au
// (2 G M_sun / c^2), as the IAU 2009/2012 constants give them.
inline constexpr double kSpeedOfLightAuPerDay = 173.1446326846693;
inline constexpr double kSunSchwarzschildRadiusAu = 1.97412574336e-8;

}  // namespace sky
