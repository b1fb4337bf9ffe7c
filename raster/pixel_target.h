// PixelTarget: the compositing context of one render pass, and the owner of
// the operations that draw star discs and streaks into the output bitmap.
//
// Every bit of star light reaches the image through PlotPixel, which
// composites one star pixel (colour and alpha already scaled by the star's
// coverage of that pixel) by one of five apply methods, honours the
// material-ID and object-ID masks, optionally accumulates alpha and stamps
// the star's IDs into the G-buffer.
//
// Conventions:
//  - Channels are on the 8.8 scale: 65280 (255 x 256) is full intensity and
//    full opacity. Every pixel PlotPixel writes has all four channels at most
//    65280; an image alpha above 65280 is read, and written back, as 65280.
//  - Screen points are in pixels of the output image: x grows to the right
//    from column 0, y downwards from row 0, integral values are pixel
//    positions.
//  - Pixel loops visit columns in the outer loop and rows in the inner loop,
//    both ascending. The order can be observable: where the ID channels
//    overlap each other (or the image) in memory, an ID stamped at one pixel
//    is seen by the mask test of later pixels. Otherwise each pixel of a
//    call is composited independently, and the fast loops may visit a
//    shallow streak's pixels row by row.
//  - Every channel value computed in floating point is truncated toward zero
//    to an integer at each step where it is computed.
//
// The light layer: when the bitmap carries one (Bitmap::LightLayer), every
// star pixel also adds the light it brings to the frame there, unclipped and
// before truncation, on the float scale (1.0 = 65280): the star colour at
// the pixel's coverage, times the apply method's factor (1 - image alpha for
// "Additive With Alpha", the image alpha for "Additive With Inverse Alpha",
// 1 for "Simple Additive" and "Simple Apply"; "Apply As Filter" brings no
// light and adds nothing). A pixel the masks stop adds nothing. The 16-bit
// pixels, alpha and IDs are the same to the bit with or without a layer.
//
// Construct it after the parameters have been read, overwrite the public
// parameter members, then draw; the members are not changed while drawing.
// The bitmap and its channels belong to the host.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "plugin/host.h"
#include "raster/channel.h"

// The colour of one drawing call. A plain call (`light` false) draws
// `colour` as given: pixels it partly covers get it scaled by their
// coverage, pixels it covers fully the colour itself, and streaks are
// dimmed by their length (PixelTarget::streakDimming). A light call draws a
// star by its light: its red, green and blue are colour x gain, unclipped
// (above 65280 for a star brighter than full value; alpha as given), each
// pixel's value is limited to 65280 in the 16-bit frame, and streaks are
// not dimmed (the caller spreads the star's light over its path itself).
struct Paint {
  BMM_Color_64 colour;
  float gain = 1.0f;
  bool light = false;
};

class PixelTarget {
 public:
  // The reciprocal of full intensity (kFullChannel) in single precision
  // (65280 * kInvFull == 1 exactly, so full alpha gives factors of exactly 0
  // or 1).
  static constexpr float kInvFull = 1.0f / static_cast<float>(kFullChannel);

  // The apply methods (`applyMethod`).
  enum ApplyMethod : UBYTE {
    kAdditiveWithAlpha = 0,
    kAdditiveWithInverseAlpha = 1,
    kSimpleAdditive = 2,
    kSimpleApply = 3,
    kApplyAsFilter = 4,
  };

  // `bitmap` may be null or lack storage: then maxX = maxY = -1 and nothing
  // is ever drawn. `applyMethod` is 0..4; any other value writes every
  // visited pixel back unchanged (alpha limited) and stamps no IDs.
  PixelTarget(Bitmap* bitmap, UBYTE applyMethod);

  // Composites star colour `c` (channels 0..65280, coverage applied) at pixel
  // (trunc(x), trunc(y)). Positions outside 0..maxX / 0..maxY, NaN included,
  // are ignored, as is a pixel the storage cannot read.
  void PlotPixel(float x, float y, BMM_Color_64 c);
  // The same, adding `light` (the star's unclipped colour at the pixel's
  // coverage, 16-bit units) times the method's factor to the light layer
  // when there is one (see the top of this file).
  void PlotPixel(float x, float y, BMM_Color_64 c, BMM_Color_fl light);

  // Packs four channel results, each limited to at most 65280 compared as
  // unsigned values (so a negative result also becomes 65280).
  static BMM_Color_64 ClampColor(int r, int g, int b, int a);

  // --- drawing (radius r in pixels; coverage of a pixel at distance d from
  // the disc centre is r - d, so a star is a disc of radius r - 1 with a
  // one-pixel soft rim). Non-finite points, a NaN radius and a radius of 0 or
  // less draw nothing; boxes are clipped to the image before any pixel is
  // visited.

  // A disc at c.
  void DrawSplat(Point2 c, BMM_Color_64 colour, float r);
  // A full streak from a to b, both rounded ends included, its channels
  // dimmed by length (streakDimming). a == b draws the undimmed disc at a.
  void DrawCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r);
  // A streak from a to b leaving out what the disc of the same radius at b
  // has already contributed (b is the joint shared with the streak drawn
  // before), so that a chain of streaks composites each pixel about as one
  // drawing at the combined coverage would. a == b draws nothing.
  void DrawTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r);
  // The same three drawn by the star's light (Paint): red, green and blue
  // are colour x gain; no length dimming.
  void DrawLightSplat(Point2 c, BMM_Color_64 colour, float r, float gain);
  void DrawLightCapsule(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain);
  void DrawLightTrail(Point2 a, Point2 b, BMM_Color_64 colour, float r, float gain);

  // One drawing call, tagged with the star that makes it.
  struct Call {
    // The light kinds are drawn as DrawLightSplat, DrawLightCapsule and
    // DrawLightTrail draw them, with `gain`.
    enum Kind : std::uint8_t { kSplat, kCapsule, kTrail, kLightSplat, kLightCapsule, kLightTrail };
    Point2 a, b;  // splat: the centre in a
    BMM_Color_64 colour;
    float r;
    std::uint32_t star;
    Kind kind;
    float gain = 1.0f;  // light calls: the gain of red, green and blue

    // A disc (a splat, or a capsule of length 0).
    bool IsDisc() const {
      return kind == kSplat || kind == kLightSplat ||
             ((kind == kCapsule || kind == kLightCapsule) && a.x == b.x && a.y == b.y);
    }
  };
  // Draws calls[0..n-1] in order, each as the Draw operation of its kind
  // draws it, stopping at the first whose star is `limit` or more
  // (false then); the pixel kernel is chosen once for them all. With
  // `fetchAhead` the pixels of the discs a few calls ahead are fetched
  // meanwhile: worth it where the calls are sparse and most rows they touch
  // are not in the cache, a waste where they are dense.
  bool DrawCalls(const Call* calls, std::size_t n, std::uint32_t limit, bool fetchAhead);

  // --- members, in this order; public, the render pass fills the parameter
  // members after construction.
  Bitmap* bitmap;                   // not owned; may be null
  UBYTE* materialIdChannel;         // G-buffer material-effects ID, one byte per pixel; may be null
  UBYTE materialIdToMatch;          // the material mask's ID
  WORD* objectIdChannel;            // G-buffer node ID, one 16-bit value per pixel; may be null
  WORD objectIdToMatch;             // the object mask's ID
  WORD idWriteAlphaThreshold;       // 32640: star (and image) alpha bound for ID stamping
  int writeAlpha;                   // flag: accumulate star alpha into the image alpha
  int writeMaterialId;              // flag: stamp materialIdToWrite
  int writeObjectId;                // flag: stamp objectIdToWrite
  int matchMaterialId;              // flag: material mask on
  int matchObjectId;                // flag: object mask on
  UBYTE applyMethod;                // 0..4, see ApplyMethod
  int materialIdToWrite;            // its low 8 bits are stamped
  int objectIdToWrite;              // its low 16 bits are stamped
  float streakDimming[4];           // per channel (r, g, b, a) and pixel of streak length; <= 0: none
  int maxX;                         // width - 1 (-1 without storage)
  int maxY;                         // height - 1 (-1 without storage)

  // The rows the drawing operations may touch, clipY0..clipY1 (the whole
  // image by default). A parallel pass gives each worker its own band of
  // rows; the per-pixel arithmetic does not depend on them, so every pixel
  // sees exactly the operations a whole-image target would apply to it.
  int clipY0;
  int clipY1;

  // The host's pixel array, row-major, `width` pixels a row (null without
  // storage): the effect and the stand-in host own both sides of it.
  BMM_Color_64* pixels;
  int width;
  // The bitmap's light layer in the same layout, or null when the host made
  // none.
  BMM_Color_fl* light;

  // A streak prepared for its pixel loop: the ends the loop measures from
  // (the given ones, or the part of a far-out streak near the image), the
  // unit direction, the clipped pixel box and the paint (a plain call's
  // colour dimmed by length).
  struct Streak {
    Point2 a, b, u;
    int x0, x1, y0, y1;
    Paint paint;
  };

  // The straightforward drawing, the reference the fast one is tested
  // against: discs and streaks visit every pixel of their clipped box and
  // composite it one at a time through PlotPixel. It lives outside the
  // module (raster/reference_drawing.h, built into tests and benchmarks).
  class BoxLoops {
   public:
    // A disc at c over the box x0..x1, y0..y1; a capsule and a trail (b
    // the caller's end, where its disc sits) over the prepared streak's box.
    virtual void Splat(PixelTarget& t, Point2 c, const Paint& paint, float r, int x0, int x1, int y0,
                       int y1) const = 0;
    virtual void Capsule(PixelTarget& t, const Streak& s, float r) const = 0;
    virtual void Trail(PixelTarget& t, const Streak& s, Point2 b, float r) const = 0;

   protected:
    ~BoxLoops() = default;
  };
  // Set: every call is drawn by these loops. Null (the default): each call
  // is drawn by a loop specialised once for the apply method and flags, over
  // only the rows of each column the call can cover (for a disc of radius up
  // to about 4, over the window of 4x4 or 8x8 pixels it can reach; for a
  // streak at 45 degrees or flatter, over the columns of each row it can
  // cover, unless the ID channels overlap in memory); the images, alpha and
  // G-buffer channels are the same to the bit (same pixels changed, by the
  // same arithmetic, in an order no result can tell from the reference's).
  // Not owned.
  const BoxLoops* boxLoops;

 private:
  // The drawing operations with the pixel kernel handed over by
  // withKernel(fn), which calls fn(kernel) (raster/star_drawing.cpp).
  template <class WithKernel>
  void Splat(Point2 c, const Paint& paint, float r, WithKernel&& withKernel);
  template <class WithKernel>
  void Capsule(Point2 a, Point2 b, const Paint& paint, float r, WithKernel&& withKernel);
  template <class WithKernel>
  void Trail(Point2 a, Point2 b, const Paint& paint, float r, WithKernel&& withKernel);

  // False when nothing of the streak can reach the image. `length` is
  // Length(b - a), not 0.
  bool PrepareStreak(Point2 a, Point2 b, float length, const Paint& paint, float r, Streak& out) const;

  // Adds `light` (16-bit units) times the method's factor for an image
  // alpha `ea` (limited) to pixel i of the light layer.
  void AddLight(std::size_t i, int ea, BMM_Color_fl light) const;

  // The pixel composited from image pixel `image` (alpha already limited to
  // 65280) and star pixel `star`; `stampIds` tells whether the method's ID
  // condition holds.
  BMM_Color_64 Composite(BMM_Color_64 image, BMM_Color_64 star, bool& stampIds) const;
};

// --- the compositing of one pixel, inline: it runs for every pixel of
// every star ---

// v x factor truncated toward zero. The callers keep factor within 0..1, so
// the product of a 16-bit channel always fits an int.
inline BMM_Color_64 PixelTarget::ClampColor(int r, int g, int b, int a) {
  const auto limit = [](int v) -> WORD {
    return static_cast<unsigned>(v) > static_cast<unsigned>(kFullChannel) ? static_cast<WORD>(kFullChannel)
                                                                            : static_cast<WORD>(v);
  };
  return {limit(r), limit(g), limit(b), limit(a)};
}

inline int ScaledChannelProduct(int v, float factor) { return static_cast<int>(static_cast<float>(v) * factor); }

inline BMM_Color_64 PixelTarget::Composite(BMM_Color_64 e, BMM_Color_64 s, bool& stampIds) const {
  const int threshold = idWriteAlphaThreshold;
  int r = e.r, g = e.g, b = e.b, a = e.a;
  stampIds = false;
  switch (applyMethod) {
    case kAdditiveWithAlpha: {
      // The star shows where the image is transparent: f = 0 over full alpha.
      const float f = 1.0f - static_cast<float>(e.a) * kInvFull;
      r = ScaledChannelProduct(s.r, f) + e.r;
      g = ScaledChannelProduct(s.g, f) + e.g;
      b = ScaledChannelProduct(s.b, f) + e.b;
      if (writeAlpha) a = ScaledChannelProduct(s.a, f) + e.a;
      stampIds = e.a <= threshold && s.a >= threshold;
      break;
    }
    case kAdditiveWithInverseAlpha: {
      const float f = static_cast<float>(e.a) * kInvFull;
      r = ScaledChannelProduct(s.r, f) + e.r;
      g = ScaledChannelProduct(s.g, f) + e.g;
      b = ScaledChannelProduct(s.b, f) + e.b;
      if (writeAlpha) a = ScaledChannelProduct(s.a, f) + e.a;
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
        r = ScaledChannelProduct(e.r, h) + s.r;
        g = ScaledChannelProduct(e.g, h) + s.g;
        b = ScaledChannelProduct(e.b, h) + s.b;
        a = ScaledChannelProduct(e.a, h) + s.a;
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

inline void PixelTarget::AddLight(std::size_t i, int ea, BMM_Color_fl l) const {
  float f = 1.0f;
  switch (applyMethod) {
    case kAdditiveWithAlpha: f = 1.0f - static_cast<float>(ea) * kInvFull; break;
    case kAdditiveWithInverseAlpha: f = static_cast<float>(ea) * kInvFull; break;
    case kSimpleAdditive:
    case kSimpleApply: break;
    default: return;  // a filter, or no method: no light
  }
  if (applyMethod == kAdditiveWithAlpha || applyMethod == kAdditiveWithInverseAlpha) {
    l.r = l.r * f;
    l.g = l.g * f;
    l.b = l.b * f;
    l.a = l.a * f;
  }
  BMM_Color_fl& out = light[i];
  out.r += l.r * kInvFull;
  out.g += l.g * kInvFull;
  out.b += l.b * kInvFull;
  out.a += l.a * kInvFull;
}

inline void PixelTarget::PlotPixel(float x, float y, BMM_Color_64 c, BMM_Color_fl l) {
  if (!(x > -1.0f && x < static_cast<float>(maxX) + 1.0f && y > -1.0f &&
        y < static_cast<float>(maxY) + 1.0f))
    return;
  if (light) {
    const int px = static_cast<int>(x);
    const int py = static_cast<int>(y);
    const std::size_t i = static_cast<std::size_t>(py) * static_cast<std::size_t>(width) +
                          static_cast<std::size_t>(px);
    const int ea = std::min<int>(pixels[i].a, kFullChannel);
    const bool masked = (matchMaterialId && materialIdChannel && materialIdChannel[i] != materialIdToMatch) ||
                        (matchObjectId && objectIdChannel && objectIdChannel[i] != objectIdToMatch);
    // The light is taken with the image alpha the pixel had before this star pixel.
    if (!masked) AddLight(i, ea, l);
  }
  PlotPixel(x, y, c);
}

inline void PixelTarget::PlotPixel(float x, float y, BMM_Color_64 c) {
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
  image.a = std::min<WORD>(image.a, static_cast<WORD>(kFullChannel));

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
