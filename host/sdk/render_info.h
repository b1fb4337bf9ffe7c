// RenderInfo: what the renderer tells an effect about the frame's camera.
//
// Camera space is the host's: the camera looks down its local -Z axis with +Y
// up, so points in front of it have negative z. MapCamToScreen is the
// perspective projection in pixels of the output image (rows grow
// downwards), evaluated in single precision exactly as written:
//   sx = xc + kx * p.x / -p.z,  sy = yc - ky * p.y / -p.z
// with kx = (W/2) / tan(fov/2), ky = kx * pixelAspect and the optical axis at
//   xc = (W-1)/2 - shiftX * max(W, H),  yc = (H-1)/2 + shiftY * max(W, H).
// Pixel (i, j) is centred at (i, j), so the frame spans [-0.5, W-0.5] x
// [-0.5, H-0.5] and an unshifted axis meets the centre of the pixel grid: a
// point lands where a renderer that centres pixel i at i + 0.5 of [0, W]
// puts it (Blender, Cycles, OpenEXR's NDC). The lens shift is Blender's: a
// fraction of the larger frame dimension, +x moving the view right (the
// scene left), +y moving it up.
#pragma once

#include <cmath>

#include "matrix3.h"
#include "max_types.h"
#include "point2.h"

enum ProjectionType { ProjPerspective = 0, ProjParallel = 1 };

class RenderInfo {
 public:
  ProjectionType projType = ProjPerspective;
  float kx = 1.0f;
  float ky = 1.0f;
  float xc = 0.0f;
  float yc = 0.0f;
  BOOL fieldRender = FALSE;
  BOOL fieldOdd = FALSE;
  TimeValue renderTime[2] = {0, 0};
  Matrix3 worldToCam[2];
  Matrix3 camToWorld[2];

  // Sets the projection of a perspective camera with horizontal field of
  // view fov (radians, 0 < fov < pi) for an image of width x height pixels,
  // with a lens shift of (shiftX, shiftY) frame dimensions (0: centred).
  void SetPerspective(int width, int height, float fov, float pixelAspect = 1.0f, float shiftX = 0.0f,
                      float shiftY = 0.0f) {
    projType = ProjPerspective;
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    const float larger = w > h ? w : h;
    kx = (w / 2.0f) / std::tan(fov / 2.0f);
    ky = kx * pixelAspect;
    xc = (w - 1.0f) / 2.0f - shiftX * larger;
    yc = (h - 1.0f) / 2.0f + shiftY * larger;
  }

  Point2 MapCamToScreen(const Point3& p) const {
    return Point2(xc + kx * p.x / -p.z, yc - ky * p.y / -p.z);
  }
};
