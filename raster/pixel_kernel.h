// PixelKernel: the per-pixel work of the drawing loops (star colour at a
// coverage, compositing, masks, ID stamps) specialised once per drawing call
// for the PixelTarget's apply method and the flags that change the
// arithmetic, so that the pixel loops carry no switch and no flag tests.
//
// Every result is, to the bit, what the straightforward per-pixel operations
// give (SplatPixel and TrailPixel of raster/reference_drawing.h, and
// PixelTarget::PlotPixel and Composite, the reference): the same single-precision
// operations in the same order, every channel truncated where they truncate
// it. A change here must be made there too; the raster tests compare the two
// on every method and flag.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "raster/channels4.h"
#include "raster/pixel_target.h"
#include "raster/square_root.h"

namespace raster {

// The apply method value the kernels use for anything outside 0..4: every
// pixel the masks let through goes back as read (alpha limited), no IDs.
inline constexpr int kNotAMethod = 5;

#if defined(__GNUC__)
#define RASTER_INLINE [[gnu::always_inline]] inline
#else
#define RASTER_INLINE inline
#endif

// Each channel v x factor, truncated and limited to 0..65280.
RASTER_INLINE BMM_Color_64 ScaledColour(BMM_Color_64 c, float factor) {
  return {ToChannel(static_cast<float>(c.r) * factor), ToChannel(static_cast<float>(c.g) * factor),
          ToChannel(static_cast<float>(c.b) * factor), ToChannel(static_cast<float>(c.a) * factor)};
}

// Method: 0..4 or kNotAMethod. WriteAlpha: the target's writeAlpha is set.
// Masked: a mask is on whose channel exists. Stamps: an ID write is on whose
// channel exists. Light: the target has a light layer (such kernels are
// made with Masked and Stamps set, their channel pointers null where off:
// the same results with fewer kernels).
template <int Method, bool WriteAlpha, bool Masked, bool Stamps, bool Light = false>
class PixelKernel {
 public:
  explicit PixelKernel(const PixelTarget& t)
      : pixels_(t.pixels),
        light_(t.light),
        maskMaterial_(t.matchMaterialId ? t.materialIdChannel : nullptr),
        maskObject_(t.matchObjectId ? t.objectIdChannel : nullptr),
        stampMaterial_(t.writeMaterialId ? t.materialIdChannel : nullptr),
        stampObject_(t.writeObjectId ? t.objectIdChannel : nullptr),
        materialToMatch_(t.materialIdToMatch),
        objectToMatch_(t.objectIdToMatch),
        materialToWrite_(static_cast<UBYTE>(t.materialIdToWrite & 0xFF)),
        objectToWrite_(static_cast<WORD>(t.objectIdToWrite & 0xFFFF)),
        threshold_(t.idWriteAlphaThreshold) {}

  static constexpr bool kFilter = Method == PixelTarget::kApplyAsFilter;
  // Whether Plot adds light to the layer: a filter brings none.
  static constexpr bool kLight = Light && !kFilter && Method != kNotAMethod;

  // The star colour of a disc pixel at coverage cov (0 < cov < 1; at 1 or
  // more the colour is used as given). `colour` is the star colour as
  // floats.
  RASTER_INLINE static Channels4 DiscColour(Floats4 colour, float cov) {
    Channels4 scaled = ToChannels(colour * cov);
    if constexpr (kFilter) {
      // A partly covered pixel tends to the neutral filter value, not black.
      const float neutral = (1.0f - cov) * static_cast<float>(kFullChannel);
      scaled = ToChannels(ToFloats(scaled) + neutral);
    }
    return scaled;
  }

  // The star colour of a trail pixel from its coverage by the streak, e =
  // min(c1, 1) (above 0), where the disc at the trail's end does not reach
  // it (c2 <= 0).
  RASTER_INLINE static Channels4 TrailColour(Floats4 colour, float e) {
    if constexpr (!kFilter) {
      return ToChannels(colour * e);
    } else {
      const float neutral = (1.0f - e) * static_cast<float>(kFullChannel);
      return ToChannels(colour * e + neutral);
    }
  }

  // The same where the disc at the end partly covers the pixel (0 < c2 < 1);
  // `alpha` is the star alpha as a float. False: the pixel is left alone
  // (the disc has already made it opaque). `factor` receives the coverage
  // the colour was scaled by (a filter: e).
  RASTER_INLINE static bool TrailColourAtJoint(Floats4 colour, float alpha, float e, float c2, Channels4& out,
                                               float& factor) {
    if constexpr (!kFilter) {
      // Only the coverage the disc left over, and for the alpha-weighted
      // methods relative to the alpha the disc already changed.
      e = e - c2;
      if constexpr (WriteAlpha && (Method == PixelTarget::kAdditiveWithAlpha || Method == PixelTarget::kSimpleApply ||
                                   Method == PixelTarget::kAdditiveWithInverseAlpha)) {
        const float alphaCovered = alpha * c2 * PixelTarget::kInvFull;
        if constexpr (Method == PixelTarget::kAdditiveWithInverseAlpha) {
          e = e / (1.0f + alphaCovered);
        } else {
          const float divisor = 1.0f - alphaCovered;
          if (!(divisor > 0.0f)) return false;
          e = e / divisor;
        }
      }
      factor = e;
      out = ToChannels(colour * e);
    } else {
      (void)alpha;
      factor = e;
      // Dividing out the disc's own filter value leaves one filter at the
      // combined coverage.
      const float full = static_cast<float>(kFullChannel);
      const float neutral = (1.0f - e) * full;
      const Floats4 numerator = (colour * e + neutral) * full;
      const Floats4 divisor = colour * c2 + (1.0f - c2) * full;
      out = ToChannels(numerator / divisor);
    }
    return true;
  }

  // Composites star pixel `s` (channels 0..65535) into pixel i of the image
  // (and its G-buffer).
  RASTER_INLINE void Plot(std::size_t i, Channels4 s) const {
    Plot(i, s, [] { return Floats4{}; });
  }
  // The same, and when the kernel has a light layer adds to it light(): the
  // star's unclipped colour at the pixel's coverage (16-bit units), times
  // the method's factor (PixelTarget::AddLight, the same operations).
  // light() is called only then.
  template <class LightOf>
  RASTER_INLINE void Plot(std::size_t i, Channels4 s, const LightOf& light) const {
    if constexpr (Masked) {
      if (maskMaterial_ && maskMaterial_[i] != materialToMatch_) return;
      if (maskObject_ && maskObject_[i] != objectToMatch_) return;
    }
    const BMM_Color_64 image = pixels_[i];
    const int ea = std::min<int>(image.a, kFullChannel);
    const Channels4 e = WithAlpha(Unpack(image), ea);
    Channels4 out = e;
    [[maybe_unused]] bool stamp = false;
    [[maybe_unused]] const int sa = Alpha(s);
    const int threshold = threshold_;
    if constexpr (Method == PixelTarget::kAdditiveWithAlpha || Method == PixelTarget::kAdditiveWithInverseAlpha) {
      const float f = Method == PixelTarget::kAdditiveWithAlpha ? 1.0f - static_cast<float>(ea) * PixelTarget::kInvFull
                                                                  : static_cast<float>(ea) * PixelTarget::kInvFull;
      out = Truncated(ToFloats(s) * f) + e;
      if constexpr (!WriteAlpha) out = WithAlpha(out, ea);
      stamp = (Method == PixelTarget::kAdditiveWithAlpha ? ea <= threshold : ea >= threshold) && sa >= threshold;
      if constexpr (kLight) AddLight(i, light() * f);
    } else if constexpr (Method == PixelTarget::kSimpleAdditive ||
                         (Method == PixelTarget::kSimpleApply && !WriteAlpha)) {
      out = s + e;
      if constexpr (!WriteAlpha) out = WithAlpha(out, ea);
      stamp = sa >= threshold;
      if constexpr (kLight) AddLight(i, light());
    } else if constexpr (Method == PixelTarget::kSimpleApply) {
      // Over-operator by the star's own alpha, at most full.
      const float h = std::max(0.0f, 1.0f - static_cast<float>(sa) * PixelTarget::kInvFull);
      out = Truncated(ToFloats(e) * h) + s;
      stamp = sa >= threshold;
      if constexpr (kLight) AddLight(i, light());
    } else if constexpr (kFilter) {
      out = Truncated(ToFloats(s) * ToFloats(e) * PixelTarget::kInvFull);
      if constexpr (!WriteAlpha) out = WithAlpha(out, ea);
      stamp = sa >= threshold;
    }
    if constexpr (Stamps && Method != kNotAMethod) {
      if (stamp) {
        if (stampMaterial_) stampMaterial_[i] = materialToWrite_;
        if (stampObject_) stampObject_[i] = objectToWrite_;
      }
    }
    pixels_[i] = Pack(Limited(out));
  }

 private:
  RASTER_INLINE void AddLight(std::size_t i, Floats4 l) const {
    const Floats4 v = l * PixelTarget::kInvFull;
    BMM_Color_fl& out = light_[i];
    out.r += v[0];
    out.g += v[1];
    out.b += v[2];
    out.a += v[3];
  }

  BMM_Color_64* pixels_;
  BMM_Color_fl* light_;
  const UBYTE* maskMaterial_;
  const WORD* maskObject_;
  UBYTE* stampMaterial_;
  WORD* stampObject_;
  UBYTE materialToMatch_;
  WORD objectToMatch_;
  UBYTE materialToWrite_;
  WORD objectToWrite_;
  WORD threshold_;
};

namespace detail {

template <int Method, bool... Flags, class Fn>
void WithFlags(const PixelTarget& t, const bool (&flags)[3], Fn& fn) {
  if constexpr (sizeof...(Flags) == 3) {
    fn(PixelKernel<Method, Flags...>(t));
  } else {
    if (flags[sizeof...(Flags)])
      WithFlags<Method, Flags..., true>(t, flags, fn);
    else
      WithFlags<Method, Flags..., false>(t, flags, fn);
  }
}

template <int Method, class Fn>
void WithLightKernel(const PixelTarget& t, Fn& fn) {
  if (t.writeAlpha != 0)
    fn(PixelKernel<Method, true, true, true, true>(t));
  else
    fn(PixelKernel<Method, false, true, true, true>(t));
}

}  // namespace detail

// Calls fn(kernel) with the kernel specialised for target's settings.
template <class Fn>
void WithPixelKernel(const PixelTarget& t, Fn&& fn) {
  if (t.light) {
    switch (t.applyMethod) {
      case PixelTarget::kAdditiveWithAlpha: return detail::WithLightKernel<PixelTarget::kAdditiveWithAlpha>(t, fn);
      case PixelTarget::kAdditiveWithInverseAlpha:
        return detail::WithLightKernel<PixelTarget::kAdditiveWithInverseAlpha>(t, fn);
      case PixelTarget::kSimpleAdditive: return detail::WithLightKernel<PixelTarget::kSimpleAdditive>(t, fn);
      case PixelTarget::kSimpleApply: return detail::WithLightKernel<PixelTarget::kSimpleApply>(t, fn);
      case PixelTarget::kApplyAsFilter: return detail::WithLightKernel<PixelTarget::kApplyAsFilter>(t, fn);
      default: return detail::WithLightKernel<kNotAMethod>(t, fn);
    }
  }
  const bool flags[3] = {
      t.writeAlpha != 0,
      (t.matchMaterialId && t.materialIdChannel) || (t.matchObjectId && t.objectIdChannel),
      (t.writeMaterialId && t.materialIdChannel) || (t.writeObjectId && t.objectIdChannel),
  };
  switch (t.applyMethod) {
    case PixelTarget::kAdditiveWithAlpha:
      return detail::WithFlags<PixelTarget::kAdditiveWithAlpha>(t, flags, fn);
    case PixelTarget::kAdditiveWithInverseAlpha:
      return detail::WithFlags<PixelTarget::kAdditiveWithInverseAlpha>(t, flags, fn);
    case PixelTarget::kSimpleAdditive:
      return detail::WithFlags<PixelTarget::kSimpleAdditive>(t, flags, fn);
    case PixelTarget::kSimpleApply:
      return detail::WithFlags<PixelTarget::kSimpleApply>(t, flags, fn);
    case PixelTarget::kApplyAsFilter:
      return detail::WithFlags<PixelTarget::kApplyAsFilter>(t, flags, fn);
    default:
      return detail::WithFlags<kNotAMethod>(t, flags, fn);
  }
}

}  // namespace raster
