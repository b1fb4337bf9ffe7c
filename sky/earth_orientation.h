// The Earth's orientation in space: IAU 2006 precession, IAU 2000B nutation,
// frame bias, the Earth rotation angle and Greenwich sidereal time.
//
// Conventions as the IAU's SOFA/ERFA libraries use them, so that each piece
// can be checked against its ERFA counterpart in the tests:
//   - times are two-part Julian dates, TT for precession-nutation, UT1 for
//     the Earth's rotation;
//   - angles in radians; matrices are frame rotations for column vectors
//     (vec3.h): Mul(BiasPrecessionNutation(tt), v_gcrs) = v_true_of_date.
// Precision: the 2000B nutation series (77 luni-solar terms and a fixed
// planetary offset) is within 1 mas of the full 2000A model between 1995 and
// 2050, and within a few mas over the centuries around them; the polynomial
// precession holds for several centuries either side of J2000.
#pragma once

#include "sky/sky_time.h"
#include "sky/vec3.h"

namespace sky {

// IAU 2006 precession angles of Fukushima-Williams (with the frame bias), radians.
struct PrecessionAngles {
  double gammaBar = 0, phiBar = 0, psiBar = 0;
  double meanObliquity = 0;  // epsilon_A, IAU 2006
};
PrecessionAngles Precession2006(const JulianDate& tt);

// Nutation in longitude and obliquity, radians: IAU 2000B with the IAU 2006
// adjustment for the changing J2 (factor on the luni-solar terms).
struct Nutation {
  double longitude = 0;  // delta psi
  double obliquity = 0;  // delta epsilon
};
Nutation Nutation2000B(const JulianDate& tt);

// The matrix GCRS -> true equator and equinox of date (bias, precession and
// nutation: R1(-(eps_A + d eps)) R3(-(psi_bar + d psi)) R1(phi_bar) R3(gamma_bar)).
Mat3 BiasPrecessionNutation(const JulianDate& tt);
Mat3 BiasPrecessionNutation(const PrecessionAngles& p, const Nutation& n);

// Earth rotation angle (IAU 2000), radians in [0, 2 pi).
double EarthRotationAngle(const JulianDate& ut1);

// Greenwich mean sidereal time consistent with IAU 2006 precession, radians in [0, 2 pi).
double GreenwichMeanSiderealTime(const JulianDate& ut1, const JulianDate& tt);

// Equation of the equinoxes: d psi cos eps_A plus the largest complementary
// terms (0.0026" sin Omega ...), radians.
double EquationOfEquinoxes(const JulianDate& tt, const Nutation& n, double meanObliquity);

// Greenwich apparent sidereal time (IAU 2006/2000B), radians in [0, 2 pi).
double GreenwichApparentSiderealTime(const JulianDate& ut1, const JulianDate& tt);

// Polar motion matrix TIRS -> ITRS, x_p and y_p in radians (the TIO locator
// s', under 0.1 mas a century, is left out).
Mat3 PolarMotion(double xp, double yp);

}  // namespace sky
