// Placing stars in camera space: camera view matrices, the origin object's
// matrix, recognition of the scene camera that renders, and the placement of
// one star at one time.
//
// One switch governs the translations: without the 3D domain every matrix
// built here loses its translation (NoTrans), so the field turns with the
// camera and the origin object but never moves with them: the stars are
// directions at infinity. With the 3D domain the stars lie at world
// positions in a ball around the origin object and the camera moves among
// them.
#pragma once

#include "plugin/host.h"
#include "starfield/balance_curve.h"

// World-to-camera matrix of a node at time t: the inverse of its world
// transform, translation dropped unless `domain3d`.
Matrix3 GetCameraViewMatrix(INode* node, TimeValue t, bool domain3d);

// Field-to-world matrix of the origin node at time t, translation dropped
// unless `domain3d`.
Matrix3 GetOriginMatrix(INode* node, TimeValue t, bool domain3d);

// Searches the descendants of `parent` (not `parent` itself), depth first,
// children in index order, for a camera whose view (the inverse of its world
// transform at t, translation included) equals `view` within 0.01 in every
// element. Returns the first match, or null. Iterative: a scene of any depth
// is searched without growing the call stack.
INode* FindCameraByView(INode* parent, TimeValue t, const Matrix3& view);

// The placement parameters of one time: the band limit, and for the 3D
// domain its radius and radial density balance.
struct StarPlacement {
  float velumbraLimit = 1.0f;
  bool domain3d = false;
  float domainRadius = 100.0f;
  float radialDensityBalance = 0.5f;
};

// Brings a unit-ball star position into camera space: flattens it along z
// by the band limit, spreads it into the 3D domain (keeping its direction,
// at distance BalanceCurve(length) x radius), then applies the origin matrix
// and the view matrix. False, with `out` untouched, for a star flattened
// onto the centre in the 3D domain: it has no direction to keep and is not
// drawn.
inline bool StarToCamera(Point3 p, const StarPlacement& at, const Matrix3& origin, const Matrix3& view,
                         Point3& out) {
  p.z = p.z * at.velumbraLimit;
  if (at.domain3d) {
    const float length = p.Length();
    if (length == 0.0f) return false;
    const float r = BalanceCurve(length, at.radialDensityBalance);
    const float inv = 1.0f / length;
    p.x = inv * (p.x * r) * at.domainRadius;
    p.y = inv * (p.y * r) * at.domainRadius;
    p.z = inv * (p.z * r) * at.domainRadius;
  }
  out = view.PointTransform(origin.PointTransform(p));
  return true;
}
