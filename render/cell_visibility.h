// Which cells of the visibility index can reach the image in a pass.
//
// A star's camera-space point at sample k is view(origin(placed p)), where
// p is its unit-ball position and the placement flattens it by the band
// limit and, in the 3D domain, spreads it along its direction to a distance
// of BalanceCurve(length) x radius. Write p = s y, with y on the square of
// p's cell on its cube face (the face component of y is 1) and s = the face
// component of p. Then the point is sigma x (L y) + T: L the linear part of
// flatten-origin-view, T the translation of origin-view (0 for a sky), and
// sigma a number that the cell's shell bounds:
//
//  - sky: sigma = s, within lo / sqrt(3) .. hi for the shell's distances
//    lo..hi (|y| lies within 1..sqrt(3));
//  - 3D domain: sigma = BalanceCurve(|F p|) x radius / |F y| (F the
//    flattening), bounded from the shell, the band limit and the curve,
//    which rises monotonically for a balance strictly between 0 and 1.
//
// So the point lies in the convex hull of sigma_lo (L c) + T and
// sigma_hi (L c) + T over the cell's corner directions c; a hyperspace
// displacement adds, for the newer end of each segment, the same hull moved
// by that sample's displacement. Every point a pass draws is such a point or
// lies on the segment between two of them (a streak, or where a streak meets
// the near plane), so it lies in the hull of all these points over every
// sample. Seen through the perspective projection, a point in front of the
// camera lands left of the image widened by `margin` pixels exactly when a
// linear function of it is negative (likewise right, above, below), and a
// point with z > 0 is not in front. A cell is left out when for one of these
// five sides every point of the hull is outside with room to spare for the
// rounding of the pass's single-precision arithmetic.
//
// Without a translation or displacement the hull is a cone from the camera
// (its apex is never drawn: a point at the camera is not in front), and the
// test needs only the corner directions: every shell of a direction is kept
// or left out together.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/host.h"

// One sample of a pass.
struct CellSample {
  Matrix3 origin;  // field to world; a translation only in the 3D domain
  Matrix3 view;    // world to camera
  float velumbraLimit = 1.0f;
  // The 3D domain: stars spread to BalanceCurve(length) x domainRadius.
  bool domain3d = false;
  float domainRadius = 100.0f;
  float radialDensityBalance = 0.5f;
  // Hyperspace: the newer end of each segment drawn at this sample is moved
  // by `displacement` (camera space).
  bool displaced = false;
  Point3 displacement{0, 0, 0};
};

// Fills visible[cell] (VisibilityIndex::kCells entries) with 1 for every
// cell whose stars can touch a pixel of the image 0..maxX x 0..maxY when
// drawn from the samples, with every drawn point's pixels within `margin`
// of its projection; 0 for the rest. False, leaving `visible` unspecified,
// where no bound can be proved (a value that is not finite, no sample, a 3D
// domain whose band limit is not within 0 < limit <= 1 or whose balance is
// not 0.5 or within 0.05..0.95, where the curve is steep or its single-
// precision value imprecise) or memory is short: the pass then visits every
// star.
bool VisibleCells(const CellSample* samples, int count, const RenderInfo& ri, int maxX, int maxY, double margin,
                  std::vector<std::uint8_t>& visible);
// The most memory VisibleCells takes besides `visible`: a byte a grid
// corner of every shell and face.
std::uint64_t VisibleCellsScratchBytes();
