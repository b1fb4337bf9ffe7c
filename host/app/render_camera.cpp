#include "host/app/render_camera.h"

#include <string>

#include "host/app/base/app_error.h"

namespace velumbra {

void SetRenderCamera(RenderInfo& info, INode& camera, TimeValue t, int width, int height) {
  const Matrix3 camToWorld = camera.GetNodeTM(t);
  Matrix3 worldToCam;
  // Keys can interpolate through a singular transform (a scale passing 0):
  // there is no view to render from at that time.
  if (!InverseChecked(camToWorld, worldToCam))
    throw InputError("the render camera " + std::string(camera.GetName()) + " has a singular transform at tick " +
                     std::to_string(t) + " (a scale of 0, or axes in one plane): there is no view to render from");
  info.worldToCam[0] = info.worldToCam[1] = worldToCam;
  info.camToWorld[0] = info.camToWorld[1] = camToWorld;
  info.renderTime[0] = info.renderTime[1] = t;
  info.fieldRender = FALSE;
  const auto* object = static_cast<const CameraObject*>(camera.GetObjectRef());
  const auto [shiftX, shiftY] = object->GetShift(t);
  info.SetPerspective(width, height, object->GetFOV(t), 1.0f, shiftX, shiftY);
}

}  // namespace velumbra
