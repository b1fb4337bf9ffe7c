// A star catalogue made for tests, in the format of KStars' stars.dat, whose
// counts per magnitude and crowding towards the galactic plane are known by
// construction (independently of the code that measures them):
//
//   - magnitudes: star i (0-based, brightest first) has N(<m) = i + 0.5 on
//     the line log10 N(<m) = a + slope m through N(<faintest) = stars, its
//     magnitude cut down to 0.01 (the file's precision);
//   - directions: uniform on the sphere, each kept with the probability
//     c / (|sin b| + c), so that the density per steradian is proportional
//     to 1 / (|sin b| + c) (uniform when c < 0); b from the north galactic
//     pole at RA 192.85948, Dec +27.12825 degrees (J2000);
//   - B-V `brightBv` for stars brighter than faintest - 2, `faintBv` below;
//   - every `nameEvery`-th star a name, "Star <i>" ("Doe, Jane" for the
//     first, to try a comma).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

struct SyntheticSky {
  int stars = 60000;
  double faintest = 9.0;
  double slope = 0.45;
  double softening = 0.3;  // c; negative: uniform
  double brightBv = 0.0, faintBv = 1.2;
  int nameEvery = 500;
  std::uint64_t seed = 1;
};

namespace synthetic {

inline std::uint64_t Mix(std::uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform in [0, 1) from a key.
inline double Uniform(std::uint64_t key) { return static_cast<double>(Mix(key) >> 11) * 0x1.0p-53; }

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

// The magnitude of star i, as the file holds it.
inline double Magnitude(const SyntheticSky& sky, int i) {
  const double a = std::log10(static_cast<double>(sky.stars)) - sky.slope * sky.faintest;
  const double m = (std::log10(i + 0.5) - a) / sky.slope;
  return std::floor(m * 100.0 + 1e-9) / 100.0;
}

// |sin b| of (ra, dec), radians.
inline double AbsSinB(double ra, double dec) {
  const double pr = 192.85948 * kDeg, pd = 27.12825 * kDeg;
  return std::abs(std::sin(dec) * std::sin(pd) + std::cos(dec) * std::cos(pd) * std::cos(ra - pr));
}

// Star i's direction: ra in [0, 2 pi), dec.
inline void Direction(const SyntheticSky& sky, int i, double& ra, double& dec) {
  for (std::uint64_t attempt = 0;; ++attempt) {
    const std::uint64_t key = (sky.seed * 0x100000000ull + static_cast<std::uint64_t>(i)) * 1024 + attempt * 3;
    ra = 2 * kPi * Uniform(key);
    dec = std::asin(2 * Uniform(key + 1) - 1);
    if (sky.softening < 0) return;
    if (Uniform(key + 2) * (AbsSinB(ra, dec) + sky.softening) < sky.softening) return;
  }
}

}  // namespace synthetic

// The catalogue's text.
inline std::string SyntheticKStars(const SyntheticSky& sky) {
  std::string text =
      "# A synthetic catalogue for tests.\n"
      "#  RA        DEC      pmRA     pmDEC  plx      mag  BV SpT b? dV   vper, genetive name, long name\n";
  text.reserve(text.size() + static_cast<std::size_t>(sky.stars) * 96);
  for (int i = 0; i < sky.stars; ++i) {
    double ra, dec;
    synthetic::Direction(sky, i, ra, dec);
    // RA in hundredths of a second of time, Dec in tenths of an arcsecond.
    long long cs = std::llround(ra / (2 * synthetic::kPi) * 86400.0 * 100.0) % 8640000;
    const int raH = static_cast<int>(cs / 360000), raM = static_cast<int>(cs / 6000 % 60);
    const double raS = static_cast<double>(cs % 6000) / 100.0;
    long long ds = std::llround(std::abs(dec) / synthetic::kDeg * 36000.0);
    const int decD = static_cast<int>(ds / 36000), decM = static_cast<int>(ds / 600 % 60);
    const double decS = static_cast<double>(ds % 600) / 10.0;
    const double m = synthetic::Magnitude(sky, i);
    const double bv = m < sky.faintest - 2 ? sky.brightBv : sky.faintBv;
    char line[200];
    int n = std::snprintf(line, sizeof line, "%02d%02d%05.2f %c%02d%02d%04.1f +000000.0+000000.000000.0 %05.2f%05.2fG0 0",
                          raH, raM, raS, dec < 0 ? '-' : '+', decD, decM, decS, m, bv);
    std::string entry(line, static_cast<std::size_t>(n));
    if (sky.nameEvery > 0 && i % sky.nameEvery == 0) {
      entry.resize(72, ' ');
      entry += i == 0 ? ", syn 0, Doe, Jane" : ", syn " + std::to_string(i) + ", Star " + std::to_string(i);
    }
    text += entry;
    text += '\n';
  }
  return text;
}
