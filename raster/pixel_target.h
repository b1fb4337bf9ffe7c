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
//    both ascending. The order is observable: an ID stamped at one pixel is
//    seen by the mask test of every later pixel.
//  - Every channel value computed in floating point is truncated toward zero
//    to an integer at each step where it is computed.
//
// Construct it after the parameters have been read, overwrite the public
// parameter members, then draw; the members are not changed while drawing.
// The bitmap and its channels belong to the host.
#pragma once

#include "plugin/host.h"

class PixelTarget {
 public:
  // Full intensity / full opacity of a channel, and its reciprocal in single
  // precision (65280 * kInvFull == 1 exactly, so full alpha gives factors of
  // exactly 0 or 1).
  static constexpr int kFull = 65280;
  static constexpr float kInvFull = 1.0f / 65280.0f;

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

  // One pixel p (integral position) of the disc centred at c.
  void SplatPixel(Point2 p, Point2 c, BMM_Color_64 colour, float r);
  // One pixel p of a trail: q is the point of the streak nearest to p, b the
  // end whose disc has already been drawn.
  void TrailPixel(Point2 p, Point2 q, Point2 b, BMM_Color_64 colour, float r);

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

 private:
  // A streak prepared for its pixel loop: the ends the loop measures from
  // (the given ones, or the part of a far-out streak near the image), the
  // unit direction, the clipped pixel box and the dimmed colour.
  struct Streak {
    Point2 a, b, u;
    int x0, x1, y0, y1;
    BMM_Color_64 colour;
  };
  // False when nothing of the streak can reach the image. `length` is
  // Length(b - a), not 0.
  bool PrepareStreak(Point2 a, Point2 b, float length, BMM_Color_64 colour, float r,
                     Streak& out) const;

  // The pixel composited from image pixel `image` (alpha already limited to
  // 65280) and star pixel `star`; `stampIds` tells whether the method's ID
  // condition holds.
  BMM_Color_64 Composite(BMM_Color_64 image, BMM_Color_64 star, bool& stampIds) const;
};
