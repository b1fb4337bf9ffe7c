// The render camera as every host of the effect hands it over: the
// RenderInfo of a camera node at a time (render_info.h, DESIGN section 4).
#pragma once

#include "host/sdk/inode.h"
#include "host/sdk/render_info.h"

namespace velumbra {

// Fills the render information of `camera` (a node carrying a CameraObject)
// at time t for a width x height image: worldToCam = Inverse of the node's
// world transform, the perspective projection of its field of view and lens
// shift, renderTime = t, for both fields. Throws InputError when the
// transform at t is singular or nearly so.
void SetRenderCamera(RenderInfo& info, INode& camera, TimeValue t, int width, int height);

}  // namespace velumbra
