#include "sky/earth_orientation.h"

#include <cmath>
#include <cstdint>

namespace sky {
namespace {

constexpr double kArcsecPerTurn = 1296000.0;
// The nutation series' unit, 0.1 microarcsecond, in radians.
constexpr double kTenthMicroarcsec = kArcsecToRad / 1e7;

double TtCenturies(const JulianDate& tt) { return JulianCenturiesSinceJ2000(tt); }

// An angle in [0, 2 pi).
double Normalize0To2Pi(double a) {
  double w = std::fmod(a, kTwoPi);
  if (w < 0) w += kTwoPi;
  return w;
}

// Delaunay arguments of the 2000B series (Simon et al. 1994, linear terms):
// arcseconds at J2000 and per Julian century, reduced to one turn before the
// conversion to radians so that the large rates keep their precision.
struct Delaunay {
  double l, lp, f, d, om;
};
double DelaunayArgument(double atJ2000, double rate, double t) {
  return std::fmod(atJ2000 + rate * t, kArcsecPerTurn) * kArcsecToRad;
}
Delaunay DelaunayArguments(double t) {
  return {DelaunayArgument(485868.249036, 1717915923.2178, t),   // l, the Moon's mean anomaly
          DelaunayArgument(1287104.79305, 129596581.0481, t),    // l', the Sun's mean anomaly
          DelaunayArgument(335779.526232, 1739527262.8478, t),   // F, the Moon's argument of latitude
          DelaunayArgument(1072260.70369, 1602961601.2090, t),   // D, the Moon's elongation
          DelaunayArgument(450160.398036, -6962890.5431, t)};    // Omega, the Moon's node
}

// The IAU 2000B luni-solar nutation series (McCarthy & Luzum 2003, Cel.
// Mech. Dyn. Astr. 85, 37: the MHB2000_SHORT terms): multipliers of l, l',
// F, D, Omega, then in 0.1 microarcsec the longitude's sine coefficient, its
// rate per century and its cosine coefficient, and the obliquity's cosine
// coefficient, its rate and its sine coefficient.
struct NutationTerm {
  std::int8_t l, lp, f, d, om;
  double psiSin, psiSinRate, psiCos, epsCos, epsCosRate, epsSin;
};
constexpr NutationTerm kNutation2000B[] = {
    {0, 0, 0, 0, 1, -172064161, -174666, 33386, 92052331, 9086, 15377},
    {0, 0, 2, -2, 2, -13170906, -1675, -13696, 5730336, -3015, -4587},
    {0, 0, 2, 0, 2, -2276413, -234, 2796, 978459, -485, 1374},
    {0, 0, 0, 0, 2, 2074554, 207, -698, -897492, 470, -291},
    {0, 1, 0, 0, 0, 1475877, -3633, 11817, 73871, -184, -1924},
    {0, 1, 2, -2, 2, -516821, 1226, -524, 224386, -677, -174},
    {1, 0, 0, 0, 0, 711159, 73, -872, -6750, 0, 358},
    {0, 0, 2, 0, 1, -387298, -367, 380, 200728, 18, 318},
    {1, 0, 2, 0, 2, -301461, -36, 816, 129025, -63, 367},
    {0, -1, 2, -2, 2, 215829, -494, 111, -95929, 299, 132},
    {0, 0, 2, -2, 1, 128227, 137, 181, -68982, -9, 39},
    {-1, 0, 2, 0, 2, 123457, 11, 19, -53311, 32, -4},
    {-1, 0, 0, 2, 0, 156994, 10, -168, -1235, 0, 82},
    {1, 0, 0, 0, 1, 63110, 63, 27, -33228, 0, -9},
    {-1, 0, 0, 0, 1, -57976, -63, -189, 31429, 0, -75},
    {-1, 0, 2, 2, 2, -59641, -11, 149, 25543, -11, 66},
    {1, 0, 2, 0, 1, -51613, -42, 129, 26366, 0, 78},
    {-2, 0, 2, 0, 1, 45893, 50, 31, -24236, -10, 20},
    {0, 0, 0, 2, 0, 63384, 11, -150, -1220, 0, 29},
    {0, 0, 2, 2, 2, -38571, -1, 158, 16452, -11, 68},
    {0, -2, 2, -2, 2, 32481, 0, 0, -13870, 0, 0},
    {-2, 0, 0, 2, 0, -47722, 0, -18, 477, 0, -25},
    {2, 0, 2, 0, 2, -31046, -1, 131, 13238, -11, 59},
    {1, 0, 2, -2, 2, 28593, 0, -1, -12338, 10, -3},
    {-1, 0, 2, 0, 1, 20441, 21, 10, -10758, 0, -3},
    {2, 0, 0, 0, 0, 29243, 0, -74, -609, 0, 13},
    {0, 0, 2, 0, 0, 25887, 0, -66, -550, 0, 11},
    {0, 1, 0, 0, 1, -14053, -25, 79, 8551, -2, -45},
    {-1, 0, 0, 2, 1, 15164, 10, 11, -8001, 0, -1},
    {0, 2, 2, -2, 2, -15794, 72, -16, 6850, -42, -5},
    {0, 0, -2, 2, 0, 21783, 0, 13, -167, 0, 13},
    {1, 0, 0, -2, 1, -12873, -10, -37, 6953, 0, -14},
    {0, -1, 0, 0, 1, -12654, 11, 63, 6415, 0, 26},
    {-1, 0, 2, 2, 1, -10204, 0, 25, 5222, 0, 15},
    {0, 2, 0, 0, 0, 16707, -85, -10, 168, -1, 10},
    {1, 0, 2, 2, 2, -7691, 0, 44, 3268, 0, 19},
    {-2, 0, 2, 0, 0, -11024, 0, -14, 104, 0, 2},
    {0, 1, 2, 0, 2, 7566, -21, -11, -3250, 0, -5},
    {0, 0, 2, 2, 1, -6637, -11, 25, 3353, 0, 14},
    {0, -1, 2, 0, 2, -7141, 21, 8, 3070, 0, 4},
    {0, 0, 0, 2, 1, -6302, -11, 2, 3272, 0, 4},
    {1, 0, 2, -2, 1, 5800, 10, 2, -3045, 0, -1},
    {2, 0, 2, -2, 2, 6443, 0, -7, -2768, 0, -4},
    {-2, 0, 0, 2, 1, -5774, -11, -15, 3041, 0, -5},
    {2, 0, 2, 0, 1, -5350, 0, 21, 2695, 0, 12},
    {0, -1, 2, -2, 1, -4752, -11, -3, 2719, 0, -3},
    {0, 0, 0, -2, 1, -4940, -11, -21, 2720, 0, -9},
    {-1, -1, 0, 2, 0, 7350, 0, -8, -51, 0, 4},
    {2, 0, 0, -2, 1, 4065, 0, 6, -2206, 0, 1},
    {1, 0, 0, 2, 0, 6579, 0, -24, -199, 0, 2},
    {0, 1, 2, -2, 1, 3579, 0, 5, -1900, 0, 1},
    {1, -1, 0, 0, 0, 4725, 0, -6, -41, 0, 3},
    {-2, 0, 2, 0, 2, -3075, 0, -2, 1313, 0, -1},
    {3, 0, 2, 0, 2, -2904, 0, 15, 1233, 0, 7},
    {0, -1, 0, 2, 0, 4348, 0, -10, -81, 0, 2},
    {1, -1, 2, 0, 2, -2878, 0, 8, 1232, 0, 4},
    {0, 0, 0, 1, 0, -4230, 0, 5, -20, 0, -2},
    {-1, -1, 2, 2, 2, -2819, 0, 7, 1207, 0, 3},
    {-1, 0, 2, 0, 0, -4056, 0, 5, 40, 0, -2},
    {0, -1, 2, 2, 2, -2647, 0, 11, 1129, 0, 5},
    {-2, 0, 0, 0, 1, -2294, 0, -10, 1266, 0, -4},
    {1, 1, 2, 0, 2, 2481, 0, -7, -1062, 0, -3},
    {2, 0, 0, 0, 1, 2179, 0, -2, -1129, 0, -2},
    {-1, 1, 0, 1, 0, 3276, 0, 1, -9, 0, 0},
    {1, 1, 0, 0, 0, -3389, 0, 5, 35, 0, -2},
    {1, 0, 2, 0, 0, 3339, 0, -13, -107, 0, 1},
    {-1, 0, 2, -2, 1, -1987, 0, -6, 1073, 0, -2},
    {1, 0, 0, 0, 2, -1981, 0, 0, 854, 0, 0},
    {-1, 0, 0, 1, 0, 4026, 0, -353, -553, 0, -139},
    {0, 0, 2, 1, 2, 1660, 0, -5, -710, 0, -2},
    {-1, 0, 2, 4, 2, -1521, 0, 9, 647, 0, 4},
    {-1, 1, 0, 1, 1, 1314, 0, 0, -700, 0, 0},
    {0, -2, 2, -2, 1, -1283, 0, 0, 672, 0, 0},
    {1, 0, 2, 2, 1, -1331, 0, 8, 663, 0, 4},
    {-2, 0, 2, 2, 2, 1383, 0, -2, -594, 0, -2},
    {-1, 0, 0, 0, 2, 1405, 0, 4, -610, 0, 2},
    {1, 1, 2, -2, 2, 1290, 0, 0, -556, 0, 0},
};
static_assert(sizeof kNutation2000B / sizeof kNutation2000B[0] == 77, "the 2000B series has 77 terms");

// In place of the planetary nutation terms the abridged model leaves out:
// fixed offsets (Luzum 2001's, for bias, precession and nutation applied in
// turn), milliarcseconds.
constexpr double kPlanetaryOffsetPsiMas = -0.135;
constexpr double kPlanetaryOffsetEpsMas = 0.388;

// Polynomial in t, coefficients from the constant term up, arcseconds.
template <std::size_t N>
double Polynomial(const double (&c)[N], double t) {
  double v = c[N - 1];
  for (std::size_t i = N - 1; i-- > 0;) v = v * t + c[i];
  return v;
}

}  // namespace

PrecessionAngles Precession2006(const JulianDate& tt) {
  // Fukushima-Williams angles of the IAU 2006 precession (Hilton et al.
  // 2006, with the frame bias folded in; Capitaine & Wallace 2006).
  static constexpr double kGammaBar[] = {-0.052928, 10.556378, 0.4932044, -0.00031238, -0.000002788, 0.0000000260};
  static constexpr double kPhiBar[] = {84381.412819, -46.811016, 0.0511268, 0.00053289, -0.000000440, -0.0000000176};
  static constexpr double kPsiBar[] = {-0.041775, 5038.481484, 1.5584175, -0.00018522, -0.000026452, -0.0000000148};
  static constexpr double kEpsA[] = {84381.406, -46.836769, -0.0001831, 0.00200340, -0.000000576, -0.0000000434};
  const double t = TtCenturies(tt);
  return {Polynomial(kGammaBar, t) * kArcsecToRad, Polynomial(kPhiBar, t) * kArcsecToRad,
          Polynomial(kPsiBar, t) * kArcsecToRad, Polynomial(kEpsA, t) * kArcsecToRad};
}

Nutation Nutation2000B(const JulianDate& tt) {
  const double t = TtCenturies(tt);
  const Delaunay a = DelaunayArguments(t);
  double psi = 0, eps = 0;
  // Smallest terms first, for the sum's rounding.
  for (std::size_t i = std::size(kNutation2000B); i-- > 0;) {
    const NutationTerm& k = kNutation2000B[i];
    const double arg = std::fmod(k.l * a.l + k.lp * a.lp + k.f * a.f + k.d * a.d + k.om * a.om, kTwoPi);
    const double s = std::sin(arg), c = std::cos(arg);
    psi += (k.psiSin + k.psiSinRate * t) * s + k.psiCos * c;
    eps += (k.epsCos + k.epsCosRate * t) * c + k.epsSin * s;
  }
  psi = psi * kTenthMicroarcsec + kPlanetaryOffsetPsiMas * kMasToRad;
  eps = eps * kTenthMicroarcsec + kPlanetaryOffsetEpsMas * kMasToRad;
  // IAU 2006 adjustment of the nutation to the precession's changing J2
  // (Wallace & Capitaine 2006).
  const double j2 = -2.7774e-6 * t;
  return {psi * (1.0 + 0.4697e-6 + j2), eps * (1.0 + j2)};
}

Mat3 BiasPrecessionNutation(const PrecessionAngles& p, const Nutation& n) {
  return Mul(FrameRotationX(-(p.meanObliquity + n.obliquity)),
             Mul(FrameRotationZ(-(p.psiBar + n.longitude)),
                 Mul(FrameRotationX(p.phiBar), FrameRotationZ(p.gammaBar))));
}

Mat3 BiasPrecessionNutation(const JulianDate& tt) {
  return BiasPrecessionNutation(Precession2006(tt), Nutation2000B(tt));
}

double EarthRotationAngle(const JulianDate& ut1) {
  // ERA = 2 pi (0.7790572732640 + 1.00273781191135448 Tu), Tu = JD(UT1) -
  // 2451545.0; the whole days' turns are dropped before they cost precision.
  const double tu = (ut1.day - kJ2000) + ut1.fraction;
  const double dayFraction = std::fmod(ut1.day, 1.0) + std::fmod(ut1.fraction, 1.0);
  return Normalize0To2Pi(kTwoPi * (dayFraction + 0.7790572732640 + 0.00273781191135448 * tu));
}

double GreenwichMeanSiderealTime(const JulianDate& ut1, const JulianDate& tt) {
  // Capitaine et al. 2003 / IAU 2006: GMST = ERA + polynomial in TT centuries.
  static constexpr double kGmst[] = {0.014506, 4612.156534, 1.3915817, -0.00000044, -0.000029956, -0.0000000368};
  return Normalize0To2Pi(EarthRotationAngle(ut1) + Polynomial(kGmst, TtCenturies(tt)) * kArcsecToRad);
}

double EquationOfEquinoxes(const JulianDate& tt, const Nutation& n, double meanObliquity) {
  // The complementary terms (IERS Conventions 2003, table 5.2e), the
  // largest eight and the secular one; the rest add under 3 microarcsec.
  const double t = TtCenturies(tt);
  const Delaunay a = DelaunayArguments(t);
  const double microarcsec =
      2640.96 * std::sin(a.om) - 0.39 * std::cos(a.om) + 63.52 * std::sin(2 * a.om) - 0.02 * std::cos(2 * a.om) +
      11.75 * std::sin(2 * a.f - 2 * a.d + 3 * a.om) + 0.01 * std::cos(2 * a.f - 2 * a.d + 3 * a.om) +
      11.21 * std::sin(2 * a.f - 2 * a.d + a.om) + 0.01 * std::cos(2 * a.f - 2 * a.d + a.om) -
      4.55 * std::sin(2 * a.f - 2 * a.d + 2 * a.om) + 2.02 * std::sin(2 * a.f + 3 * a.om) +
      1.98 * std::sin(2 * a.f + a.om) - 1.72 * std::sin(3 * a.om) - 0.87 * t * std::sin(a.om);
  return n.longitude * std::cos(meanObliquity) + microarcsec * 1e-6 * kArcsecToRad;
}

double GreenwichApparentSiderealTime(const JulianDate& ut1, const JulianDate& tt) {
  const PrecessionAngles p = Precession2006(tt);
  const Nutation n = Nutation2000B(tt);
  return Normalize0To2Pi(GreenwichMeanSiderealTime(ut1, tt) + EquationOfEquinoxes(tt, n, p.meanObliquity));
}

Mat3 PolarMotion(double xp, double yp) { return Mul(FrameRotationX(-yp), FrameRotationY(-xp)); }

}  // namespace sky
