// Which cells of the visibility index can reach the image in a pass over a
// sky: stars as directions, placed by linear maps (the band's flattening,
// the origin's and the view's rotations and scales, no translation).
//
// A star of cell c at sample k lies in camera space in the cone spanned by
// c's corner directions mapped by that sample's map. Every point a pass
// draws from it is such a point, or on the segment between two samples'
// points (a streak, or the point where a streak meets the near plane), so
// it lies in the cone spanned by the corners mapped by every sample. Seen
// through the perspective projection, a point in front of the camera lands
// left of the image widened by `margin` pixels exactly when a linear
// function of it is negative (likewise right, above, below), and a point
// with z > 0 is not in front. A cell is left out when for one of these five
// sides every spanning direction is outside with room to spare for the
// rounding of the pass's single-precision arithmetic.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/host.h"

// One sample of a sky pass: camera-space point = view(origin(flattened p)).
struct SkySample {
  Matrix3 origin;
  Matrix3 view;
  float velumbraLimit = 1.0f;
};

// Fills visible[cell] (VisibilityIndex::kCells entries) with 1 for every
// cell whose stars can touch a pixel of the image 0..maxX x 0..maxY when
// drawn from the samples, with every drawn point's pixels within `margin`
// of its projection; 0 for the rest. False, leaving `visible` unspecified,
// where no bound can be proved (a translation, a value that is not finite,
// no sample) or memory is short: the pass then visits every star.
bool SkyVisibleCells(const SkySample* samples, int count, const RenderInfo& ri, int maxX, int maxY, double margin,
                     std::vector<std::uint8_t>& visible);
