#include "host/app/image/exr_camera.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include "host/app/base/app_error.h"

namespace velumbra {

namespace {

// The file's matrices are widened to double, so that recovering the
// projection from the product worldToCamera * P adds no error of its own
// beyond the file's float rounding.
using M4 = std::array<std::array<double, 4>, 4>;

M4 Widen(const ExrMatrix& m) {
  M4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r[i][j] = static_cast<double>(m.m[i][j]);
  return r;
}

ExrMatrix Narrow(const M4& m) {
  ExrMatrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = static_cast<float>(m[i][j]);
  return r;
}

M4 Multiply(const M4& a, const M4& b) {
  M4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum += a[i][k] * b[k][j];
      r[i][j] = sum;
    }
  return r;
}

// The inverse of an affine matrix (last column 0, 0, 0, 1), or nullopt
// when its 3 x 3 part is singular.
std::optional<M4> InvertAffine(const M4& m) {
  const auto& a = m;
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  double scale = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) scale = std::max(scale, std::fabs(a[i][j]));
  if (!(std::fabs(det) > 1e-9 * scale * scale * scale)) return std::nullopt;
  M4 r{};
  // The 3 x 3 inverse by cofactors (adjugate / determinant).
  r[0][0] = c00 / det;
  r[1][0] = c01 / det;
  r[2][0] = c02 / det;
  r[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  r[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  r[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  r[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  r[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  r[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  // Translation: -t * R^-1.
  for (int j = 0; j < 3; ++j) r[3][j] = -(a[3][0] * r[0][j] + a[3][1] * r[1][j] + a[3][2] * r[2][j]);
  r[3][3] = 1.0;
  return r;
}

bool AllFinite(const ExrMatrix& m) {
  for (const auto& row : m.m)
    for (float v : row)
      if (!std::isfinite(v)) return false;
  return true;
}

std::string Num(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6g", v);
  return buffer;
}

}  // namespace

std::optional<ExrCameraConvention> ParseExrCameraConvention(std::string_view name) {
  if (name == "auto") return ExrCameraConvention::Auto;
  if (name == "openexr") return ExrCameraConvention::OpenExr;
  if (name == "minus-z") return ExrCameraConvention::MinusZ;
  return std::nullopt;
}

const char* ExrCameraConventionName(ExrCameraConvention convention) {
  switch (convention) {
    case ExrCameraConvention::Auto: return "auto";
    case ExrCameraConvention::OpenExr: return "openexr";
    case ExrCameraConvention::MinusZ: return "minus-z";
  }
  return "auto";
}

FileCamera CameraFromExr(const ExrCamera& camera, int width, int height, ExrCameraConvention convention,
                         const std::string& file) {
  if (!camera.worldToCamera || !camera.worldToNDC) {
    const char* missing = !camera.worldToCamera && !camera.worldToNDC ? "worldToCamera and worldToNDC attributes"
                          : !camera.worldToCamera                   ? "worldToCamera attribute (the view)"
                                                                    : "worldToNDC attribute (the projection)";
    throw InputError(file + ": no camera: the file has no " + std::string(missing));
  }
  for (const auto& [name, m] : {std::pair{"worldToCamera", &*camera.worldToCamera},
                                std::pair{"worldToNDC", &*camera.worldToNDC}})
    if (!AllFinite(*m)) throw InputError(file + ": the " + std::string(name) + " attribute holds a value that is not finite");

  const M4 c = Widen(*camera.worldToCamera);
  const M4 n = Widen(*camera.worldToNDC);
  const auto near = [](double v, double target) { return std::fabs(v - target) <= 1e-5; };
  if (!near(c[0][3], 0) || !near(c[1][3], 0) || !near(c[2][3], 0) || !near(c[3][3], 1)) {
    const bool transposed = near(c[3][0], 0) && near(c[3][1], 0) && near(c[3][2], 0) && near(c[3][3], 1);
    throw InputError(file + ": worldToCamera is not an affine transform for row vectors (its last column is " +
                     Num(c[0][3]) + ", " + Num(c[1][3]) + ", " + Num(c[2][3]) + ", " + Num(c[3][3]) +
                     ", not 0, 0, 0, 1)" +
                     (transposed ? "; it looks written for column vectors (transposed), which this reader does not take"
                                 : ""));
  }
  const std::optional<M4> inverse = InvertAffine(c);
  if (!inverse) throw InputError(file + ": worldToCamera is singular (it flattens space): no camera can be made of it");

  // The projection from the file's camera space to clip space.
  const M4 p = Multiply(*inverse, n);
  double scale = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int j : {0, 1, 3}) scale = std::max(scale, std::fabs(p[i][j]));
  const double tol = 1e-4 * scale;
  const auto zero = [&](double v) { return std::fabs(v) <= tol; };
  const double s = p[2][3];
  if (scale == 0.0 || zero(s)) {
    throw InputError(file + ": worldToNDC has no perspective divide by depth" +
                     std::string(!zero(p[3][3]) ? " (an orthographic camera)" : "") +
                     "; only perspective cameras can render the stars");
  }
  if (!zero(p[0][3]) || !zero(p[1][3]) || !zero(p[3][3]) || !zero(p[1][0]) || !zero(p[0][1]) || !zero(p[3][0]) ||
      !zero(p[3][1]))
    throw InputError(file +
                     ": worldToNDC is not a plain perspective projection of worldToCamera's camera (NDC x must "
                     "depend on camera x and depth only, y on camera y and depth only, w on depth only): skewed, "
                     "rotated or shifted image axes cannot be rendered");

  // The optical axis: camera-space (0, 0, 1) in the openexr convention,
  // (0, 0, -1) in minus-z; it is in front (w > 0) for one of them only. Both
  // project to NDC (P[2][0] / s, P[2][1] / s).
  const ExrCameraConvention front = s > 0 ? ExrCameraConvention::OpenExr : ExrCameraConvention::MinusZ;
  const double ax = p[2][0] / s;
  const double ay = p[2][1] / s;
  FileCamera out;
  if (convention == ExrCameraConvention::Auto) {
    out.convention = front;
    const double lo = front == ExrCameraConvention::OpenExr ? 0.0 : -1.0;
    if (!(ax >= lo && ax <= 1.0 && ay >= lo && ay <= 1.0))
      throw InputError(file + ": the camera's optical axis projects to NDC (" + Num(ax) + ", " + Num(ay) +
                       "), outside the image in either convention, so the convention cannot be told; name it "
                       "(openexr or minus-z)");
  } else {
    out.convention = convention;
    if (convention != front) {
      const bool exr = convention == ExrCameraConvention::OpenExr;
      throw InputError(file + ": in the " + ExrCameraConventionName(convention) + " convention the camera looks down " +
                       (exr ? "+z" : "-z") + ", but worldToNDC puts that axis behind the camera: the file's camera "
                       "looks down " + (exr ? "-z" : "+z") + " (its convention is " +
                       ExrCameraConventionName(front) + ")");
    }
  }

  const double w = width, h = height;
  double kx = 0, ky = 0, xc = 0, yc = 0;
  if (out.convention == ExrCameraConvention::OpenExr) {
    kx = w * p[0][0] / s;
    ky = -h * p[1][1] / s;
    xc = w * ax - 0.5;
    yc = h * ay - 0.5;
  } else {
    kx = -(w / 2.0) * p[0][0] / s;
    ky = -(h / 2.0) * p[1][1] / s;
    xc = (w / 2.0) * (1.0 + ax) - 0.5;
    yc = (h / 2.0) * (1.0 - ay) - 0.5;
  }
  if (!(kx > 0) || !(ky > 0))
    throw InputError(file + ": worldToNDC mirrors the image (" + std::string(!(kx > 0) ? "x" : "y") +
                     " runs the wrong way for the " + ExrCameraConventionName(out.convention) + " convention)");
  out.kx = static_cast<float>(kx);
  out.ky = static_cast<float>(ky);
  out.xc = static_cast<float>(xc);
  out.yc = static_cast<float>(yc);
  if (!std::isfinite(out.kx) || !std::isfinite(out.ky))
    throw InputError(file + ": worldToNDC gives a field of view too narrow to render");

  // The file's floats as they are; the openexr camera's z is negated (an
  // exact change of sign) to look down -Z.
  const float flip = out.convention == ExrCameraConvention::OpenExr ? -1.0f : 1.0f;
  const auto& cm = camera.worldToCamera->m;
  for (int i = 0; i < 4; ++i) out.worldToCam.SetRow(i, Point3(cm[i][0], cm[i][1], flip * cm[i][2]));
  return out;
}

void SetFileRenderInfo(RenderInfo& info, const FileCamera& camera, TimeValue t) {
  info.projType = ProjPerspective;
  info.kx = camera.kx;
  info.ky = camera.ky;
  info.xc = camera.xc;
  info.yc = camera.yc;
  info.fieldRender = FALSE;
  info.renderTime[0] = info.renderTime[1] = t;
  info.worldToCam[0] = info.worldToCam[1] = camera.worldToCam;
  info.camToWorld[0] = info.camToWorld[1] = Inverse(camera.worldToCam);
}

ExrCamera ExrCameraFromRenderInfo(const RenderInfo& info, int width, int height) {
  M4 c{};
  const Matrix3& v = info.worldToCam[0];
  for (int i = 0; i < 4; ++i) {
    const Point3& row = v.GetRow(i);
    c[i] = {row.x, row.y, -static_cast<double>(row.z), i == 3 ? 1.0 : 0.0};
  }
  const double w = width, h = height;
  M4 p{};
  p[0][0] = info.kx / w;
  p[1][1] = -info.ky / h;
  // Pixel centres at i (the host's) are at i + 0.5 of the NDC's [0, W].
  p[2][0] = (static_cast<double>(info.xc) + 0.5) / w;
  p[2][1] = (static_cast<double>(info.yc) + 0.5) / h;
  p[2][3] = 1.0;  // w = depth
  p[3][2] = 1.0;  // z = 1, so z_ndc = 1 / depth
  ExrCamera out;
  out.worldToCamera = Narrow(c);
  out.worldToNDC = Narrow(Multiply(c, p));
  return out;
}

}  // namespace velumbra
