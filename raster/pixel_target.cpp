#include "raster/pixel_target.h"

#include <algorithm>
#include <cstddef>

namespace {

// v x factor truncated toward zero. The callers keep factor within 0..1, so
// the product of a 16-bit channel always fits an int.
int Scaled(int v, float factor) { return static_cast<int>(static_cast<float>(v) * factor); }

}  // namespace

PixelTarget::PixelTarget(Bitmap* bitmap_, UBYTE applyMethod_)
    : bitmap(bitmap_),
      materialIdChannel(nullptr),
      materialIdToMatch(0),
      objectIdChannel(nullptr),
      objectIdToMatch(0),
      idWriteAlphaThreshold(32640),
      writeAlpha(1),
      writeMaterialId(0),
      writeObjectId(0),
      matchMaterialId(0),
      matchObjectId(0),
      applyMethod(applyMethod_),
      materialIdToWrite(0),
      objectIdToWrite(0),
      streakDimming{0.0f, 0.0f, 0.0f, 0.0f},
      maxX(-1),
      maxY(-1),
      clipY0(0),
      clipY1(-1),
      pixels(nullptr),
      width(0) {
  BitmapStorage* storage = bitmap ? bitmap->Storage() : nullptr;
  if (!storage) return;
  maxX = storage->Width() - 1;
  maxY = storage->Height() - 1;
  clipY1 = maxY;
  pixels = storage->Pixels();
  width = storage->Width();
  // A channel of an unexpected element type is treated as absent rather than
  // read with the wrong width.
  ULONG type = BMM_CHAN_TYPE_UNKNOWN;
  void* materialIds = storage->GetChannel(BMM_CHAN_MTL_ID, type);
  if (materialIds && type == BMM_CHAN_TYPE_8) materialIdChannel = static_cast<UBYTE*>(materialIds);
  void* objectIds = storage->GetChannel(BMM_CHAN_NODE_ID, type);
  if (objectIds && type == BMM_CHAN_TYPE_16) objectIdChannel = static_cast<WORD*>(objectIds);
}

BMM_Color_64 PixelTarget::ClampColor(int r, int g, int b, int a) {
  const auto limit = [](int v) -> WORD {
    return static_cast<unsigned>(v) > static_cast<unsigned>(kFull) ? static_cast<WORD>(kFull)
                                                                     : static_cast<WORD>(v);
  };
  return {limit(r), limit(g), limit(b), limit(a)};
}

BMM_Color_64 PixelTarget::Composite(BMM_Color_64 e, BMM_Color_64 s, bool& stampIds) const {
  const int threshold = idWriteAlphaThreshold;
  int r = e.r, g = e.g, b = e.b, a = e.a;
  stampIds = false;
  switch (applyMethod) {
    case kAdditiveWithAlpha: {
      // The star shows where the image is transparent: f = 0 over full alpha.
      const float f = 1.0f - static_cast<float>(e.a) * kInvFull;
      r = Scaled(s.r, f) + e.r;
      g = Scaled(s.g, f) + e.g;
      b = Scaled(s.b, f) + e.b;
      if (writeAlpha) a = Scaled(s.a, f) + e.a;
      stampIds = e.a <= threshold && s.a >= threshold;
      break;
    }
    case kAdditiveWithInverseAlpha: {
      const float f = static_cast<float>(e.a) * kInvFull;
      r = Scaled(s.r, f) + e.r;
      g = Scaled(s.g, f) + e.g;
      b = Scaled(s.b, f) + e.b;
      if (writeAlpha) a = Scaled(s.a, f) + e.a;
      stampIds = e.a >= threshold && s.a >= threshold;
      break;
    }
    case kSimpleAdditive:
      r = s.r + e.r;
      g = s.g + e.g;
      b = s.b + e.b;
      if (writeAlpha) a = s.a + e.a;
      stampIds = s.a >= threshold;
      break;
    case kSimpleApply:
      if (writeAlpha) {
        // Over-operator by the star's own alpha. A star alpha above full
        // opacity covers the image fully, no more: a negative factor would
        // drive the sum below zero, which the 65280 limit turns into white.
        const float h = std::max(0.0f, 1.0f - static_cast<float>(s.a) * kInvFull);
        r = Scaled(e.r, h) + s.r;
        g = Scaled(e.g, h) + s.g;
        b = Scaled(e.b, h) + s.b;
        a = Scaled(e.a, h) + s.a;
      } else {
        r = s.r + e.r;
        g = s.g + e.g;
        b = s.b + e.b;
      }
      stampIds = s.a >= threshold;
      break;
    case kApplyAsFilter:
      // Multiplies the image by the star colour: 65280 is neutral, 0 black.
      r = static_cast<int>(static_cast<float>(s.r) * static_cast<float>(e.r) * kInvFull);
      g = static_cast<int>(static_cast<float>(s.g) * static_cast<float>(e.g) * kInvFull);
      b = static_cast<int>(static_cast<float>(s.b) * static_cast<float>(e.b) * kInvFull);
      if (writeAlpha) a = static_cast<int>(static_cast<float>(s.a) * static_cast<float>(e.a) * kInvFull);
      stampIds = s.a >= threshold;
      break;
    default:
      break;  // not a method: the pixel goes back as read
  }
  return ClampColor(r, g, b, a);
}

void PixelTarget::PlotPixel(float x, float y, BMM_Color_64 c) {
  // Keeps the conversion to int defined; NaN fails every comparison.
  if (!(x > -1.0f && x < static_cast<float>(maxX) + 1.0f && y > -1.0f &&
        y < static_cast<float>(maxY) + 1.0f))
    return;
  // Inside 0..maxX, 0..maxY there is storage (maxX is -1 without), and
  // both G-buffer channels share its layout.
  const int px = static_cast<int>(x);
  const int py = static_cast<int>(y);
  const std::size_t i = static_cast<std::size_t>(py) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(px);
  BMM_Color_64 image = pixels[i];
  image.a = std::min<WORD>(image.a, static_cast<WORD>(kFull));

  // Masks come before any arithmetic; a pixel they stop is left wholly
  // untouched. A mask whose channel the bitmap lacks cannot be tested and
  // lets every pixel through.
  if (matchMaterialId && materialIdChannel && materialIdChannel[i] != materialIdToMatch) return;
  if (matchObjectId && objectIdChannel && objectIdChannel[i] != objectIdToMatch) return;

  bool stampIds = false;
  const BMM_Color_64 out = Composite(image, c, stampIds);
  if (stampIds) {
    if (writeMaterialId && materialIdChannel)
      materialIdChannel[i] = static_cast<UBYTE>(materialIdToWrite & 0xFF);
    if (writeObjectId && objectIdChannel)
      objectIdChannel[i] = static_cast<WORD>(objectIdToWrite & 0xFFFF);
  }
  pixels[i] = out;
}
