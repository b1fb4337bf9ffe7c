#include "host/app/render_camera.h"

#include <cmath>
#include <string>

#include "host/app/base/app_error.h"

namespace velumbra {

namespace {

// The 3 x 3 part's condition number in the Frobenius norm, |A| |A^-1|, is
// over 1e6: one axis a millionth of another, or the axes within a
// millionth of a plane. Single precision holds 7 digits, so its inverse
// has none left (a rotation's is 3).
bool NearlySingular(const Matrix3& m) {
  double a[3][3], norm = 0.0, cofactorNorm = 0.0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      a[r][c] = m.GetRow(r)[c];
      norm += a[r][c] * a[r][c];
    }
  double det = 0.0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
      const double cofactor = a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1];
      cofactorNorm += cofactor * cofactor;
      if (r == 0) det += a[0][c] * cofactor;
    }
  const double condition = std::sqrt(norm) * std::sqrt(cofactorNorm) / std::fabs(det);
  return !(condition <= 1e6);
}

}  // namespace

void SetRenderCamera(RenderInfo& info, INode& camera, TimeValue t, int width, int height) {
  const Matrix3 camToWorld = camera.GetNodeTM(t);
  Matrix3 worldToCam;
  // Keys can interpolate through a singular transform (a scale passing 0):
  // there is no view to render from at that time. Nearly so is no better:
  // the view's entries grow to 1e16 and every star smears across the frame.
  const std::string where = "the render camera " + std::string(camera.GetName());
  if (!InverseChecked(camToWorld, worldToCam))
    throw InputError(where + " has a singular transform at tick " + std::to_string(t) +
                     " (a scale of 0, or axes in one plane): there is no view to render from");
  if (NearlySingular(camToWorld))
    throw InputError(where + " has a nearly singular transform at tick " + std::to_string(t) +
                     " (one axis under a millionth of another, or the axes nearly in one plane): there is no "
                     "view to render from");
  info.worldToCam[0] = info.worldToCam[1] = worldToCam;
  info.camToWorld[0] = info.camToWorld[1] = camToWorld;
  info.renderTime[0] = info.renderTime[1] = t;
  info.fieldRender = FALSE;
  const auto* object = static_cast<const CameraObject*>(camera.GetObjectRef());
  const auto [shiftX, shiftY] = object->GetShift(t);
  info.SetPerspective(width, height, object->GetFOV(t), 1.0f, shiftX, shiftY);
}

}  // namespace velumbra
