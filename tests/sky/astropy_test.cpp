// The whole astrometry against astropy (Debian python3-astropy, run with
// Debian's /usr/bin/python3, offline): five places and times, fifteen
// bright stars read from KStars catalogue lines. Observer mode against
// AltAz with pressure 0, the same UT1-UTC and the polar motion astropy
// itself uses (its bundled IERS table, or its long-term mean after the
// table); celestial mode against apply_space_motion to the epoch. One python
// process computes everything.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sky/astrometry.h"
#include "sky/catalogue.h"

namespace sky {
namespace {

constexpr double kMas = kArcsecToRad / 1000.0;

const char kStars[] =
    "#  RA        DEC      pmRA     pmDEC  plx      mag  BV SpT b? dV   vper, genetive name, long name\n"
    "064508.92 -164258.0 -000546.0-001223.100379.2 -1.4400.01A0 1            , alp CMa, Sirius\n"
    "062357.11 -524144.4 +000020.0+000023.700010.4 -0.6200.16F0 0            , alp Car, Canopus\n"
    "141539.67 +191056.7 -001093.5-001999.400088.8 -0.0501.24K2 1            , alp Boo, Arcturus\n"
    "143936.50 -605002.3 -003678.2+000481.800742.1 -0.0100.71G2 1            , alp1Cen, Rigel Kentaurus\n"
    "183656.34 +384701.3 +000201.0+000287.500128.9 00.03-0.00A0 0            , alp Lyr, Vega\n"
    "051641.36 +455952.8 +000075.5-000427.100077.3 00.0800.80M1 1            , alp Aur, Capella\n"
    "051432.27 -081205.9 +000001.9-000000.600004.2 00.18-0.03B8 0 0.05   2.07, bet Ori, Rigel\n"
    "073918.12 +051329.9 -000716.6-001034.600285.9 00.4000.43F5 1            , alp CMi, Procyon\n"
    "055510.31 +072425.4 +000027.3+000010.900007.6 00.4501.50M2 0            , alp Ori, Betelgeuse\n"
    "195047.00 +085206.0 +000536.8+000385.500194.4 00.7600.22A7 0 0.05   7.94, alp Aql, Altair\n"
    "043555.24 +163033.4 +000062.8-000189.400050.1 00.8701.54K5 0            , alp Tau, Aldebaran\n"
    "023149.09 +891550.8 +000044.2-000011.700007.6 01.9700.64F7 0 0.04   3.97, alp UMi, Polaris\n"
    "162924.46 -262555.2 -000010.2-000023.200005.4 01.0601.86M1 0            , alp Sco, Antares\n"
    "225739.05 -293720.0 +000329.2-000164.200130.1 01.1700.14A3 1            , alp PsA, Fomalhaut\n"
    "204125.91 +451649.2 +000001.6+000001.600001.0 01.2500.09A2 0            , alp Cyg, Deneb\n";

struct Place {
  const char* name;
  double latitude, longitude, height;
  const char* time;  // ISO 8601 UTC
  double ut1MinusUtc;
};
// Inside astropy's bundled IERS table (2019, 1999: its measured polar
// motion), a leap second, and after the table (its long-term mean).
const Place kPlaces[] = {
    {"La Palma", 28.7606, -17.8816, 2396, "2024-03-20T21:30:15.25Z", 0.0157},
    {"Siding Spring", -31.2733, 149.0644, 1165, "2019-06-15T14:00:00Z", -0.2},
    {"Greenwich", 51.4769, -0.0005, 46, "2016-12-31T23:59:60.5Z", 0.4},
    {"Svalbard", 78.2232, 15.6267, 520, "2031-07-04T12:00:00Z", -0.3},
    {"Quito", -0.1807, -78.4678, 2850, "1999-08-11T03:00:00Z", 0.28},
};

const char kScript[] = R"(
import sys, warnings
warnings.simplefilter('ignore')
from astropy.utils import iers
iers.conf.auto_download = False
iers.conf.auto_max_age = None
from astropy.time import Time
from astropy.coordinates import SkyCoord, EarthLocation, AltAz, Distance
from astropy.coordinates.builtin_frames.utils import get_polar_motion
import astropy.units as u
import numpy as np

places, stars = [], []
for line in sys.stdin:
    f = line.split()
    if f and f[0] == 'place':
        places.append((float(f[1]), float(f[2]), float(f[3]), f[4], float(f[5])))
    elif f and f[0] == 'star':
        stars.append([float(x) for x in f[1:]])
s = np.array(stars)
catalogue = SkyCoord(ra=s[:, 0] * u.deg, dec=s[:, 1] * u.deg, pm_ra_cosdec=s[:, 2] * u.mas / u.yr,
                     pm_dec=s[:, 3] * u.mas / u.yr, distance=Distance(parallax=s[:, 4] * u.mas),
                     obstime=Time('J2000', scale='tt'), frame='icrs')
for i, (lat, lon, height, iso, dut1) in enumerate(places):
    site = EarthLocation.from_geodetic(lon * u.deg, lat * u.deg, height * u.m)
    t = Time(iso, scale='utc', location=site)
    t.delta_ut1_utc = dut1
    xp, yp = get_polar_motion(t)
    print('pm', i, repr(float(xp) / np.pi * 648000), repr(float(yp) / np.pi * 648000))
    moved = catalogue.apply_space_motion(new_obstime=t)
    altaz = moved.transform_to(AltAz(obstime=t, location=site, pressure=0 * u.hPa))
    for j in range(len(stars)):
        print('obs', i, j, repr(altaz.az[j].deg), repr(altaz.alt[j].deg))
        print('cel', i, j, repr(moved.icrs.ra[j].deg), repr(moved.icrs.dec[j].deg))
)";

// Runs the script once; its lines keyed by their first three fields.
std::map<std::string, std::pair<double, double>> RunAstropy(const std::vector<CatalogueStar>& stars) {
  const std::string dir = testing::TempDir();
  const std::string script = dir + "/sky_astropy_oracle.py", input = dir + "/sky_astropy_input.txt";
  std::ofstream(script) << kScript;
  std::ofstream in(input);
  char line[256];
  for (const Place& p : kPlaces) {
    std::string iso = p.time;
    iso.pop_back();  // astropy takes the time without its 'Z'
    std::snprintf(line, sizeof line, "place %.17g %.17g %.17g %s %.17g\n", p.latitude, p.longitude, p.height,
                  iso.c_str(), p.ut1MinusUtc);
    in << line;
  }
  for (const CatalogueStar& s : stars) {
    std::snprintf(line, sizeof line, "star %.17g %.17g %.17g %.17g %.17g\n", s.ra / kDegToRad, s.dec / kDegToRad,
                  s.pmRa / kMasToRad, s.pmDec / kMasToRad, s.parallax * 1000.0);
    in << line;
  }
  in.close();
  std::map<std::string, std::pair<double, double>> out;
  FILE* pipe = popen(("/usr/bin/python3 " + script + " < " + input + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  std::string all;
  while (std::fgets(line, sizeof line, pipe)) {
    all += line;
    char kind[8];
    int i, j;
    double a, b;
    if (std::sscanf(line, "pm %d %lf %lf", &i, &a, &b) == 3)
      out["pm " + std::to_string(i) + " 0"] = {a, b};
    else if (std::sscanf(line, "%7s %d %d %lf %lf", kind, &i, &j, &a, &b) == 5)
      out[std::string(kind) + " " + std::to_string(i) + " " + std::to_string(j)] = {a, b};
  }
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0) << "/usr/bin/python3 with astropy (Debian python3-astropy) failed:\n" << all;
  return out;
}

double Separation(const Vec3& a, const Vec3& b) { return std::atan2(Norm(Cross(a, b)), Dot(a, b)); }

TEST(Astropy, ObserverAndCelestialDirectionsAgreeWithinMilliarcseconds) {
  const Catalogue catalogue = ParseCatalogue(kStars);
  ASSERT_EQ(catalogue.stars.size(), 15u);
  const auto astropy = RunAstropy(catalogue.stars);
  ASSERT_FALSE(astropy.empty());
  double worstObserver = 0, worstCelestial = 0;
  for (std::size_t i = 0; i < std::size(kPlaces); ++i) {
    const Place& place = kPlaces[i];
    const auto pm = astropy.find("pm " + std::to_string(i) + " 0");
    ASSERT_NE(pm, astropy.end());
    SkySettings settings;
    std::string error;
    ASSERT_TRUE(ParseUtc(place.time, settings.time, error)) << error;
    settings.ut1MinusUtc = place.ut1MinusUtc;
    const SkyTransform celestial(settings);
    settings.frame = SkyFrame::Observer;
    settings.latitudeDeg = place.latitude;
    settings.longitudeDeg = place.longitude;
    settings.heightM = place.height;
    settings.polarMotionXArcsec = pm->second.first;
    settings.polarMotionYArcsec = pm->second.second;
    const SkyTransform observer(settings);
    for (std::size_t j = 0; j < catalogue.stars.size(); ++j) {
      const CatalogueStar& star = catalogue.stars[j];
      const std::string key = std::to_string(i) + " " + std::to_string(j);
      const auto obs = astropy.find("obs " + key), cel = astropy.find("cel " + key);
      ASSERT_NE(obs, astropy.end());
      ASSERT_NE(cel, astropy.end());
      const double az = obs->second.first * kDegToRad, alt = obs->second.second * kDegToRad;
      const Vec3 altaz{std::sin(az) * std::cos(alt), std::cos(az) * std::cos(alt), std::sin(alt)};
      const double o = Separation(observer.Direction(star), altaz);
      const double c =
          Separation(celestial.Direction(star), UnitVector(cel->second.first * kDegToRad, cel->second.second * kDegToRad));
      EXPECT_LT(o, 5 * kMas) << place.name << " " << star.name;
      EXPECT_LT(c, 1 * kMas) << place.name << " " << star.name;
      worstObserver = std::max(worstObserver, o);
      worstCelestial = std::max(worstCelestial, c);
    }
  }
  RecordProperty("worst_observer_mas", std::to_string(worstObserver / kMas));
  RecordProperty("worst_celestial_mas", std::to_string(worstCelestial / kMas));
}

}  // namespace
}  // namespace sky
