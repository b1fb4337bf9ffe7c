#include "sky/star_light.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "sky/vec3.h"

namespace sky {
namespace {

// One lobe of the fit: a Gaussian with different widths either side of its peak.
double Lobe(double nm, double peak, double widthBelow, double widthAbove) {
  const double t = (nm - peak) / (nm < peak ? widthBelow : widthAbove);
  return std::exp(-0.5 * t * t);
}

// CIE 1931 2-degree colour matching functions, the multi-lobe fit of Wyman,
// Sloan & Shirley (2013), wavelength in nm.
Vec3 ColourMatching(double nm) {
  return {1.056 * Lobe(nm, 599.8, 37.9, 31.0) + 0.362 * Lobe(nm, 442.0, 16.0, 26.7) -
              0.065 * Lobe(nm, 501.1, 20.4, 26.2),
          0.821 * Lobe(nm, 568.8, 46.9, 40.5) + 0.286 * Lobe(nm, 530.9, 16.3, 31.1),
          1.217 * Lobe(nm, 437.0, 11.8, 36.0) + 0.681 * Lobe(nm, 459.0, 26.0, 13.8)};
}

// Planck's spectral radiance up to a constant factor: lambda^-5 / (exp(c2 /
// (lambda T)) - 1), lambda in micrometres (c2 = 14387.769 um K).
double Planck(double nm, double kelvin) {
  const double um = nm * 1e-3;
  return 1.0 / (um * um * um * um * um * std::expm1(14387.769 / (um * kelvin)));
}

// XYZ -> linear Rec. 709 (D65): the inverse of the matrix whose columns are
// the primaries' XYZ, scaled so that R = G = B = 1 is the D65 white.
Mat3 XyzToRec709() {
  const double xy[4][2] = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}, {0.3127, 0.3290}};  // R, G, B, white
  auto xyz = [&](int i) { return Vec3{xy[i][0] / xy[i][1], 1.0, (1.0 - xy[i][0] - xy[i][1]) / xy[i][1]}; };
  const Mat3 primaries = Transposed(Mat3{xyz(0), xyz(1), xyz(2)});  // columns R, G, B
  // Inverse by cofactors.
  const Mat3& m = primaries;
  const Vec3 c0 = Cross(Vec3{m[0][1], m[1][1], m[2][1]}, Vec3{m[0][2], m[1][2], m[2][2]});
  const Vec3 c1 = Cross(Vec3{m[0][2], m[1][2], m[2][2]}, Vec3{m[0][0], m[1][0], m[2][0]});
  const Vec3 c2 = Cross(Vec3{m[0][0], m[1][0], m[2][0]}, Vec3{m[0][1], m[1][1], m[2][1]});
  const double det = Dot(Vec3{m[0][0], m[1][0], m[2][0]}, c0);
  const Mat3 inverse{(1.0 / det) * c0, (1.0 / det) * c1, (1.0 / det) * c2};
  const Vec3 scale = Mul(inverse, xyz(3));  // the primaries' weights in the white
  Mat3 out = inverse;
  for (int i = 0; i < 3; ++i) out[i] = (1.0 / scale[i]) * inverse[i];
  return out;
}

constexpr int kFirstNm = 360, kStepNm = 5, kSamples = (830 - kFirstNm) / kStepNm + 1;
constexpr double kLumaR = 0.2126, kLumaG = 0.7152, kLumaB = 0.0722;

}  // namespace

double MagnitudeLight(double magnitude, double magnitudeZero) {
  return std::pow(10.0, -0.4 * (magnitude - magnitudeZero));
}

double TemperatureFromBv(double bv) {
  if (std::isnan(bv)) return bv;
  const double c = std::clamp(bv, -0.5, 6.0);
  return 4600.0 * (1.0 / (0.92 * c + 1.7) + 1.0 / (0.92 * c + 0.62));
}

LinearRgb BlackBodyRec709(double kelvin) {
  if (std::isnan(kelvin)) return {};
  const double t = std::clamp(kelvin, 500.0, 100000.0);
  // 360 to 830 nm in 5 nm steps: within 1e-5 in chromaticity of a 0.1 nm
  // sum (the fit itself is about 1e-3 from the tabulated functions).
  static const std::array<Vec3, kSamples> matching = [] {
    std::array<Vec3, kSamples> table{};
    for (int i = 0; i < kSamples; ++i) table[i] = ColourMatching(kFirstNm + kStepNm * i);
    return table;
  }();
  Vec3 xyz{};
  for (int i = 0; i < kSamples; ++i) xyz = xyz + Planck(kFirstNm + kStepNm * i, t) * matching[i];
  static const Mat3 toRgb = XyzToRec709();
  Vec3 rgb = Mul(toRgb, xyz);
  for (double& c : rgb) c = std::max(c, 0.0);
  const double luminance = kLumaR * rgb[0] + kLumaG * rgb[1] + kLumaB * rgb[2];
  return {rgb[0] / luminance, rgb[1] / luminance, rgb[2] / luminance};
}

LinearRgb StarColour(float bv) {
  if (std::isnan(bv)) return {};
  return BlackBodyRec709(TemperatureFromBv(bv));
}

LinearRgb StarColourCache::operator()(float bv) {
  std::uint32_t bits;
  std::memcpy(&bits, &bv, sizeof bits);
  auto it = colours_.find(bits);
  if (it == colours_.end()) it = colours_.emplace(bits, StarColour(bv)).first;
  return it->second;
}

}  // namespace sky
