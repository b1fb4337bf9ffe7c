// RenderInfo: what the renderer tells an effect about the frame's camera.
//
// Camera space is the host's: the camera looks down its local -Z axis with +Y
// up, so points in front of it have negative z. MapCamToScreen is the
// perspective projection in pixels of the output image (rows grow
// downwards), evaluated in single precision exactly as written:
//   sx = xc + kx * p.x / -p.z,  sy = yc - ky * p.y / -p.z
// with kx = (W/2) / tan(fov/2), ky = kx * pixelAspect, xc = W/2, yc = H/2.
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
  // view fov (radians) for an image of width x height pixels.
  void SetPerspective(int width, int height, float fov, float pixelAspect = 1.0f) {
    projType = ProjPerspective;
    kx = (static_cast<float>(width) / 2.0f) / std::tan(fov / 2.0f);
    ky = kx * pixelAspect;
    xc = static_cast<float>(width) / 2.0f;
    yc = static_cast<float>(height) / 2.0f;
  }

  Point2 MapCamToScreen(const Point3& p) const {
    return Point2(xc + kx * p.x / -p.z, yc - ky * p.y / -p.z);
  }
};
