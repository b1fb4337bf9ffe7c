// The render camera an OpenEXR file's worldToCamera and worldToNDC
// attributes describe, in the host's conventions, and the reverse for
// files the command writes.
//
// Both matrices act on row vectors (p' = p * M), as the host's Matrix3
// does. Two conventions are in use:
//
//   openexr  the OpenEXR standard: a left-handed camera space, +x right,
//            +y up, looking down +z (points in front have z > 0); NDC
//            after the divide by w runs from (0, 0) at the top-left corner
//            of the display window to (1, 1) at its bottom-right corner.
//   minus-z  what several renderers write: the host's own camera space
//            (right-handed, +y up, looking down -z) and an NDC of -1..1
//            across the display window with +y up, as in OpenGL.
//
// The two are told apart by projecting the camera's optical axis: the
// projection P = Inverse(worldToCamera) * worldToNDC of a point on the
// axis is in front of the camera (w > 0) for exactly one of them, and its
// NDC must fall inside that convention's range (the image's principal
// point). A file whose principal point lies outside the image needs the
// convention named (ExrCameraConvention::OpenExr or MinusZ).
//
// NDC spans the display window's edges, [0, W] x [0, H] in pixels whose
// centres are at i + 0.5; the host centres pixel i at i (render_info.h), so
// a file's pixel position u becomes u - 0.5. In the host's terms (RenderInfo:
// sx = xc + kx * x / -z, sy = yc - ky * y / -z), with s = P[2][3] and an image
// of W x H pixels:
//   openexr  worldToCam = worldToCamera * diag(1, 1, -1)
//            kx = W * P[0][0] / s   xc = W * P[2][0] / s - 1/2
//            ky = -H * P[1][1] / s  yc = H * P[2][1] / s - 1/2
//   minus-z  worldToCam = worldToCamera
//            kx = -(W/2) * P[0][0] / s   xc = (W/2) * (1 + P[2][0] / s) - 1/2
//            ky = -(H/2) * P[1][1] / s   yc = (H/2) * (1 - P[2][1] / s) - 1/2
// Only perspective projections the host can represent are accepted: no
// skew or rotation of the image axes, no orthographic camera, no mirrored
// image; anything else is an InputError that says which.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/app/image/exr_io.h"
#include "host/sdk/matrix3.h"
#include "host/sdk/render_info.h"

namespace velumbra {

enum class ExrCameraConvention { Auto, OpenExr, MinusZ };

// "auto", "openexr", "minus-z" (the option's values); nullopt otherwise.
std::optional<ExrCameraConvention> ParseExrCameraConvention(std::string_view name);
const char* ExrCameraConventionName(ExrCameraConvention convention);

// A file's camera in the host's conventions.
struct FileCamera {
  Matrix3 worldToCam;  // camera looks down -Z, +Y up
  float kx = 1.0f;
  float ky = 1.0f;
  float xc = 0.0f;
  float yc = 0.0f;
  ExrCameraConvention convention = ExrCameraConvention::OpenExr;  // the one used, never Auto
};

// The camera of `camera` for an image of width x height pixels (the display
// window). `file` names the file in messages. Throws InputError when an
// attribute is missing, not finite, singular, or not a perspective camera,
// and when a forced convention puts the optical axis behind the camera.
FileCamera CameraFromExr(const ExrCamera& camera, int width, int height, ExrCameraConvention convention,
                         const std::string& file);

// The render information of a file's camera at time t (a file holds one
// camera: the same at every time).
void SetFileRenderInfo(RenderInfo& info, const FileCamera& camera, TimeValue t);

// worldToCamera and worldToNDC, in the openexr convention, of a perspective
// render for an image of width x height pixels. worldToNDC's third column
// gives z_ndc = 1 / depth, so that the matrix is invertible.
ExrCamera ExrCameraFromRenderInfo(const RenderInfo& info, int width, int height);

}  // namespace velumbra
