// The Earth's orientation and orbit against ERFA, function by function.
#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sky/earth_ephemeris.h"
#include "sky/earth_orientation.h"

namespace sky {
namespace {

constexpr double kMas = kArcsecToRad / 1000.0;
constexpr double kMicroarcsec = kMas / 1000.0;

// TT dates from 1900 to 2100 at odd times of day, and the present decades.
std::vector<JulianDate> Dates(double fromYear, double toYear, int count) {
  std::vector<JulianDate> dates;
  for (int i = 0; i < count; ++i) {
    const double year = fromYear + (toYear - fromYear) * i / (count - 1);
    const double jd = kJ2000 + (year - 2000.0) * 365.25 + 0.137 * (i % 7);
    dates.push_back({std::floor(jd - 0.5) + 0.5, jd - (std::floor(jd - 0.5) + 0.5)});
  }
  return dates;
}

// Largest difference between two rotation matrices, radians.
double MatrixDifference(const Mat3& a, double b[3][3]) {
  double worst = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) worst = std::max(worst, std::fabs(a[i][j] - b[i][j]));
  return worst;
}

double AngleDifference(double a, double b) { return std::fabs(std::remainder(a - b, kTwoPi)); }

TEST(Precession2006, FukushimaWilliamsAnglesMatchErfa) {
  for (const JulianDate& tt : Dates(1800, 2200, 41)) {
    double gamb, phib, psib, epsa;
    eraPfw06(tt.day, tt.fraction, &gamb, &phib, &psib, &epsa);
    const PrecessionAngles p = Precession2006(tt);
    EXPECT_NEAR(p.gammaBar, gamb, kMicroarcsec) << tt.Total();
    EXPECT_NEAR(p.phiBar, phib, kMicroarcsec) << tt.Total();
    EXPECT_NEAR(p.psiBar, psib, kMicroarcsec) << tt.Total();
    EXPECT_NEAR(p.meanObliquity, epsa, kMicroarcsec) << tt.Total();
    EXPECT_NEAR(p.meanObliquity, eraObl06(tt.day, tt.fraction), kMicroarcsec);
  }
}

TEST(Nutation2000B, SeriesMatchesErfaAndFullModelWithinItsPrecision) {
  // The same 77-term series as eraNut00b (the IAU 2006 J2 factor moves it by
  // at most 0.03 mas in these years), and within its stated 1 mas of the
  // pole of the full 2000A model with the 2006 adjustments (eraNut06a) over
  // 1995-2050: the pole moves by d psi sin(eps) and d eps.
  const double sinObliquity = std::sin(84381.406 * kArcsecToRad);
  for (const JulianDate& tt : Dates(1995, 2050, 111)) {
    double dpsiB, depsB, dpsiA, depsA;
    eraNut00b(tt.day, tt.fraction, &dpsiB, &depsB);
    eraNut06a(tt.day, tt.fraction, &dpsiA, &depsA);
    const Nutation n = Nutation2000B(tt);
    EXPECT_NEAR(n.longitude, dpsiB, 0.03 * kMas) << tt.Total();
    EXPECT_NEAR(n.obliquity, depsB, 0.03 * kMas) << tt.Total();
    EXPECT_NEAR(n.longitude * sinObliquity, dpsiA * sinObliquity, 1.1 * kMas) << tt.Total();
    EXPECT_NEAR(n.obliquity, depsA, 1.1 * kMas) << tt.Total();
  }
  // Over two centuries the abridged model stays within a few mas.
  for (const JulianDate& tt : Dates(1900, 2100, 81)) {
    double dpsiA, depsA;
    eraNut06a(tt.day, tt.fraction, &dpsiA, &depsA);
    const Nutation n = Nutation2000B(tt);
    EXPECT_NEAR(n.longitude * sinObliquity, dpsiA * sinObliquity, 3 * kMas) << tt.Total();
    EXPECT_NEAR(n.obliquity, depsA, 3 * kMas) << tt.Total();
  }
}

TEST(BiasPrecessionNutation, MatchesErfaMatrices) {
  for (const JulianDate& tt : Dates(1900, 2100, 41)) {
    // Built from ERFA's own angles and 2000B nutation: the same matrix but
    // for the IAU 2006 J2 factor on the nutation (0.06 mas a century).
    double gamb, phib, psib, epsa, dpsi, deps, fromAngles[3][3], full[3][3];
    eraPfw06(tt.day, tt.fraction, &gamb, &phib, &psib, &epsa);
    eraNut00b(tt.day, tt.fraction, &dpsi, &deps);
    eraFw2m(gamb, phib, psib + dpsi, epsa + deps, fromAngles);
    const Mat3 m = BiasPrecessionNutation(tt);
    EXPECT_LT(MatrixDifference(m, fromAngles), 0.1 * kMas) << tt.Total();
    // Against the IAU 2006/2000A matrix: the abridged nutation's few mas.
    eraPnm06a(tt.day, tt.fraction, full);
    EXPECT_LT(MatrixDifference(m, full), 4 * kMas) << tt.Total();
  }
}

TEST(EarthRotation, AngleAndSiderealTimesMatchErfa) {
  for (const JulianDate& ut1 : Dates(1900, 2100, 57)) {
    const JulianDate tt{ut1.day, ut1.fraction + 69.184 / 86400.0};
    EXPECT_LT(AngleDifference(EarthRotationAngle(ut1), eraEra00(ut1.day, ut1.fraction)), 1e-11) << ut1.Total();
    EXPECT_LT(AngleDifference(GreenwichMeanSiderealTime(ut1, tt), eraGmst06(ut1.day, ut1.fraction, tt.day, tt.fraction)),
              1e-11)
        << ut1.Total();
    // With the same bias-precession-nutation matrix ERFA's CIO-based GAST
    // agrees to microarcseconds; against 2000A, within the nutation's mas.
    double rnpb[3][3];
    const Mat3 m = BiasPrecessionNutation(tt);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) rnpb[i][j] = m[i][j];
    const double gast = GreenwichApparentSiderealTime(ut1, tt);
    EXPECT_LT(AngleDifference(gast, eraGst06(ut1.day, ut1.fraction, tt.day, tt.fraction, rnpb)), 20 * kMicroarcsec)
        << ut1.Total();
    EXPECT_LT(AngleDifference(gast, eraGst06a(ut1.day, ut1.fraction, tt.day, tt.fraction)), 4 * kMas) << ut1.Total();
    EXPECT_GE(gast, 0);
    EXPECT_LT(gast, kTwoPi);
  }
}

TEST(EarthRotation, EquationOfEquinoxesComplementaryTermsMatchErfa) {
  // The complementary terms alone: EE minus d psi cos eps_A.
  for (const JulianDate& tt : Dates(1900, 2100, 61)) {
    const Nutation zero{};
    EXPECT_NEAR(EquationOfEquinoxes(tt, zero, 0.4), eraEect00(tt.day, tt.fraction), 5 * kMicroarcsec) << tt.Total();
  }
}

TEST(PolarMotion, MatchesErfa) {
  for (double xp : {-0.3, 0.0, 0.21})
    for (double yp : {-0.1, 0.0, 0.45}) {
      double w[3][3];
      eraPom00(xp * kArcsecToRad, yp * kArcsecToRad, 0.0, w);
      EXPECT_LT(MatrixDifference(PolarMotion(xp * kArcsecToRad, yp * kArcsecToRad), w), 1e-15);
    }
}

TEST(EarthEphemeris, BarycentricStateMatchesErfaWithinAberrationBudget) {
  // 1 m/s of velocity is 0.7 mas of aberration; 1e-4 au of position is
  // 0.08 mas of the nearest star's parallax.
  const double metresPerSecond = 86400.0 / 149597870700.0;  // in au/day
  double worstVelocity = 0, worstPosition = 0, worstHelio = 0;
  for (const JulianDate& tt : Dates(1900.1, 2099.9, 401)) {
    double pvh[2][3], pvb[2][3];
    ASSERT_EQ(eraEpv00(tt.day, tt.fraction, pvh, pvb), 0);
    const EarthState s = EarthBarycentric(tt);
    worstVelocity = std::max(worstVelocity, Norm(s.barycentricVelocity - Vec3{pvb[1][0], pvb[1][1], pvb[1][2]}));
    worstPosition = std::max(worstPosition, Norm(s.barycentricPosition - Vec3{pvb[0][0], pvb[0][1], pvb[0][2]}));
    worstHelio = std::max(worstHelio, Norm(s.heliocentricPosition - Vec3{pvh[0][0], pvh[0][1], pvh[0][2]}));
  }
  RecordProperty("worst_velocity_m_per_s", std::to_string(worstVelocity / metresPerSecond));
  RecordProperty("worst_position_au", std::to_string(worstPosition));
  EXPECT_LT(worstVelocity, 3 * metresPerSecond);
  EXPECT_LT(worstPosition, 2e-4);
  EXPECT_LT(worstHelio, 2e-4);
}

}  // namespace
}  // namespace sky
