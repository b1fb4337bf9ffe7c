// From a star's magnitude and B-V to its light and colour.
//
// Light: a star of V magnitude m carries 10^(-0.4 (m - m0)) in the frame's
// units (1.0 = the effect's full value), m0 being the magnitude that gives
// exactly full value. Five magnitudes are a factor 100.
//
// Colour: B-V to an effective temperature by Ballesteros (2012, EPL 97,
// 34008),
//     T = 4600 K (1 / (0.92 (B-V) + 1.7) + 1 / (0.92 (B-V) + 0.62)),
// B-V held to [-0.5, 6.0] first (the formula's pole is at -0.674; the
// bluest catalogue stars are near -0.4, the reddest carbon stars near 5.5);
// then the colour of a black body of that temperature: Planck's spectral
// radiance integrated against the CIE 1931 2-degree colour matching
// functions, approximated by the multi-lobe Gaussian fit of Wyman, Sloan &
// Shirley (2013, JCGT 2(2)), from 360 to 830 nm in 5 nm steps, gives XYZ; the
// linear Rec. 709 / sRGB matrix (D65 white, no chromatic adaptation: a
// 6500 K black body is near white) gives RGB. A component below zero (blue,
// below about 1900 K, where the Planckian locus leaves the Rec. 709 triangle
// at its red corner) is clipped to zero, then the colour is scaled so that
// its luminance 0.2126 R + 0.7152 G + 0.0722 B (the brightness contract's
// weights) is exactly 1.
//
// A star without B-V (NaN: the Yale catalogue as xplanet ships it) is drawn
// in the white of the frame, (1, 1, 1): nothing is known of its colour and
// white is no guess; the median naked-eye star (B-V near 0.5, 6400 K) would
// be nearly white anyway.
//
// Five values (star_light_test.cpp checks these B-V values against an
// independent integration of the same formulas):
//   B-V    T (K)     R       G       B
//   -0.30   16602   0.7729  0.9908  1.7596   hot B star, blue-white
//    0.00   10125   0.8696  0.9943  1.4404   Vega, A0
//    0.65    5778   1.1096  0.9762  0.9133   the Sun, G2
//    1.50    3794   1.4617  0.9152  0.4807   Betelgeuse, M1-2
//    3.00    2392   2.1217  0.7563  0.1110   a carbon star
// The colour is a ratio with luminance 1; a star's light multiplies it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace sky {

// 10^(-0.4 (m - m0)).
double MagnitudeLight(double magnitude, double magnitudeZero);

// Ballesteros 2012, B-V held to [-0.5, 6.0]; NaN gives NaN.
double TemperatureFromBv(double bv);

// Linear Rec. 709 colour with luminance 0.2126 r + 0.7152 g + 0.0722 b = 1.
struct LinearRgb {
  double r = 1, g = 1, b = 1;
};

// Black-body colour at a temperature in kelvin (held to [500, 100000]).
LinearRgb BlackBodyRec709(double kelvin);

// B-V to colour; NaN gives the default white (1, 1, 1).
LinearRgb StarColour(float bv);

// StarColour remembered per distinct B-V value (a catalogue quotes B-V to
// 0.01, so 126k stars have a few hundred values): the same bits as
// StarColour, at a hash lookup per star. Not thread-safe; one per loader.
class StarColourCache {
 public:
  LinearRgb operator()(float bv);
  // The distinct B-V values held.
  std::size_t size() const { return colours_.size(); }

 private:
  std::unordered_map<std::uint32_t, LinearRgb> colours_;
};

}  // namespace sky
