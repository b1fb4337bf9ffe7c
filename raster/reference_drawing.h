// The straightforward drawing of discs and streaks, one pixel at a time: the
// reference the specialised loops of star_drawing.cpp are tested against.
// Built into the tests and benchmarks (library velumbra_reference), not into
// the module: a target draws with it when its boxLoops is set to
// &ReferenceDrawing().
#pragma once

#include "plugin/host.h"
#include "raster/pixel_target.h"

namespace raster {

// Loops over every pixel of a call's clipped box, columns outer, rows
// ascending, each pixel through SplatPixel or TrailPixel.
const PixelTarget::BoxLoops& ReferenceDrawing();

// One pixel p (integral position) of the disc of radius r centred at c:
// coverage r - |p - c|, composited through t.PlotPixel.
// With the paint of a light call, the pixel's value is the unclipped
// colour x gain at the coverage, limited to 65280; either adds its light to
// the target's light layer when there is one.
void SplatPixel(PixelTarget& t, Point2 p, Point2 c, BMM_Color_64 colour, float r);
void SplatPixel(PixelTarget& t, Point2 p, Point2 c, const Paint& paint, float r);
// One pixel p of a trail: q is the point of the streak nearest to p, b the
// end whose disc has already been drawn.
void TrailPixel(PixelTarget& t, Point2 p, Point2 q, Point2 b, BMM_Color_64 colour, float r);
void TrailPixel(PixelTarget& t, Point2 p, Point2 q, Point2 b, const Paint& paint, float r);

}  // namespace raster
