#include "host/app/image/exr_camera.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "host/app/base/app_error.h"

namespace {

using velumbra::CameraFromExr;
using velumbra::ExrCamera;
using velumbra::ExrCameraConvention;
using velumbra::ExrMatrix;
using velumbra::FileCamera;
using velumbra::InputError;

constexpr int kWidth = 320;
constexpr int kHeight = 200;

using M4 = std::array<std::array<double, 4>, 4>;

M4 Mul(const M4& a, const M4& b) {
  M4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r[i][j] += a[i][k] * b[k][j];
  return r;
}

ExrMatrix ToExr(const M4& m) {
  ExrMatrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = static_cast<float>(m[i][j]);
  return r;
}

// A camera somewhere, turned about every axis: the host's camera-to-world
// transform (looking down -Z, +Y up).
Matrix3 CameraToWorld() {
  const double a = 0.3, b = -0.7, c = 1.1;  // rotations about X, Y, Z
  const Matrix3 rx({1, 0, 0}, {0, float(std::cos(a)), float(std::sin(a))}, {0, float(-std::sin(a)), float(std::cos(a))},
                   {0, 0, 0});
  const Matrix3 ry({float(std::cos(b)), 0, float(-std::sin(b))}, {0, 1, 0}, {float(std::sin(b)), 0, float(std::cos(b))},
                   {0, 0, 0});
  const Matrix3 rz({float(std::cos(c)), float(std::sin(c)), 0}, {float(-std::sin(c)), float(std::cos(c)), 0}, {0, 0, 1},
                   {0, 0, 0});
  Matrix3 m = rx * ry * rz;
  m.SetTrans({4, -2, 7});
  return m;
}

// The world-to-camera matrix of the file's convention: the openexr camera
// space has z negated (looks down +z).
M4 FileWorldToCamera(const Matrix3& hostWorldToCam, bool openexr) {
  M4 c{};
  for (int i = 0; i < 4; ++i) {
    const Point3& r = hostWorldToCam.GetRow(i);
    c[i] = {r.x, r.y, openexr ? -double(r.z) : double(r.z), i == 3 ? 1.0 : 0.0};
  }
  return c;
}

struct Shot {
  ExrCamera file;
  Matrix3 camToWorld;
  bool openexr = true;
};

// A camera of horizontal focal length fx and vertical fy (in NDC units per
// unit of x/depth), its principal point moved by (shiftX, shiftY) in NDC,
// written as each convention defines its matrices.
Shot MakeShot(bool openexr, double fx, double fy, double shiftX, double shiftY) {
  Shot shot;
  shot.openexr = openexr;
  shot.camToWorld = CameraToWorld();
  const M4 c = FileWorldToCamera(Inverse(shot.camToWorld), openexr);
  M4 p{};
  if (openexr) {
    // ndc = (0.5 + shiftX + fx * x / z, 0.5 + shiftY - fy * y / z), z > 0 in front.
    p[0][0] = fx;
    p[1][1] = -fy;
    p[2][0] = 0.5 + shiftX;
    p[2][1] = 0.5 + shiftY;
    p[2][2] = 1.0;
    p[2][3] = 1.0;
    p[3][2] = -0.1;
  } else {
    // An OpenGL projection for row vectors: w = -z, near 0.1, far 1000.
    const double n = 0.1, f = 1000.0;
    p[0][0] = fx;
    p[1][1] = fy;
    p[2][0] = -shiftX;
    p[2][1] = -shiftY;
    p[2][2] = (f + n) / (n - f);
    p[2][3] = -1.0;
    p[3][2] = 2 * f * n / (n - f);
  }
  shot.file.worldToCamera = ToExr(c);
  shot.file.worldToNDC = ToExr(Mul(c, p));
  return shot;
}

// Where a world point lands in pixels by the file's own definition, in the
// host's pixel coordinates: NDC spans the display window's edges [0, W],
// where pixel i covers [i, i + 1]; the host centres pixel i at i.
std::array<double, 2> FilePixel(const Shot& shot, const Point3& world) {
  const auto& m = shot.file.worldToNDC->m;
  double v[4];
  for (int j = 0; j < 4; ++j) v[j] = world.x * m[0][j] + world.y * m[1][j] + world.z * m[2][j] + m[3][j];
  const double x = v[0] / v[3], y = v[1] / v[3];
  if (shot.openexr) return {x * kWidth - 0.5, y * kHeight - 0.5};
  return {(x + 1) / 2 * kWidth - 0.5, (1 - y) / 2 * kHeight - 0.5};
}

// Checks that the host's projection of the file's camera puts points in
// front of the camera on the pixels the file's matrices give.
void ExpectSamePixels(const Shot& shot, const FileCamera& camera) {
  RenderInfo info;
  velumbra::SetFileRenderInfo(info, camera, 0);
  for (const Point3 local : {Point3(0, 0, -5), Point3(1, 0.5f, -3), Point3(-2, 1, -9), Point3(0.3f, -0.8f, -1.5f)}) {
    const Point3 world = shot.camToWorld.PointTransform(local);
    const Point3 cam = info.worldToCam[0].PointTransform(world);
    EXPECT_LT(cam.z, 0) << "in front of the camera";
    const Point2 host = info.MapCamToScreen(cam);
    const auto expected = FilePixel(shot, world);
    EXPECT_NEAR(host.x, expected[0], 2e-3) << local.x << "," << local.y << "," << local.z;
    EXPECT_NEAR(host.y, expected[1], 2e-3) << local.x << "," << local.y << "," << local.z;
  }
}

template <class Fn>
std::string InputErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

std::string ErrorFor(const ExrCamera& camera, ExrCameraConvention convention = ExrCameraConvention::Auto) {
  return InputErrorOf([&] { CameraFromExr(camera, kWidth, kHeight, convention, "shot.exr"); });
}

TEST(ExrCamera, BothConventionsProjectLikeTheFile) {
  for (const bool openexr : {true, false}) {
    SCOPED_TRACE(openexr ? "openexr" : "minus-z");
    // Non-square pixels and an off-centre principal point.
    const Shot shot = MakeShot(openexr, 0.9, 1.3, 0.05, -0.08);
    const FileCamera camera = CameraFromExr(shot.file, kWidth, kHeight, ExrCameraConvention::Auto, "shot.exr");
    EXPECT_EQ(camera.convention, openexr ? ExrCameraConvention::OpenExr : ExrCameraConvention::MinusZ);
    ExpectSamePixels(shot, camera);
    // The view is the camera's, in the host's camera space.
    EXPECT_TRUE(camera.worldToCam.Equals(Inverse(shot.camToWorld), 1e-5f));
    // Naming the right convention gives the same camera.
    const FileCamera forced = CameraFromExr(
        shot.file, kWidth, kHeight, openexr ? ExrCameraConvention::OpenExr : ExrCameraConvention::MinusZ, "shot.exr");
    EXPECT_EQ(forced.kx, camera.kx);
    EXPECT_EQ(forced.yc, camera.yc);
  }
}

TEST(ExrCamera, ACentredLensPutsTheAxisOnTheCentreOfThePixelGrid) {
  // NDC (0.5, 0.5) is the middle of the display window: between pixels
  // 159 and 160 of 320, which the host calls 159.5.
  for (const bool openexr : {true, false}) {
    const Shot shot = MakeShot(openexr, 1, 1, 0, 0);
    const FileCamera camera = CameraFromExr(shot.file, kWidth, kHeight, ExrCameraConvention::Auto, "shot.exr");
    EXPECT_FLOAT_EQ(camera.xc, (kWidth - 1) / 2.0f) << (openexr ? "openexr" : "minus-z");
    EXPECT_FLOAT_EQ(camera.yc, (kHeight - 1) / 2.0f) << (openexr ? "openexr" : "minus-z");
  }
  // And the host's own centred camera is written as NDC (0.5, 0.5).
  RenderInfo info;
  info.SetPerspective(kWidth, kHeight, 1.0f);
  info.worldToCam[0] = Matrix3::Identity();
  const ExrCamera file = velumbra::ExrCameraFromRenderInfo(info, kWidth, kHeight);
  const auto& n = file.worldToNDC->m;
  EXPECT_FLOAT_EQ(n[2][0] / n[2][3], 0.5f);
  EXPECT_FLOAT_EQ(n[2][1] / n[2][3], 0.5f);
}

TEST(ExrCamera, WrittenRenderInfoReadsBackAsTheSameCamera) {
  RenderInfo info;
  info.SetPerspective(kWidth, kHeight, 0.8f, 1.25f);
  info.xc += 7.5f;
  info.worldToCam[0] = Inverse(CameraToWorld());
  const ExrCamera file = velumbra::ExrCameraFromRenderInfo(info, kWidth, kHeight);
  const FileCamera camera = CameraFromExr(file, kWidth, kHeight, ExrCameraConvention::Auto, "out.exr");
  EXPECT_EQ(camera.convention, ExrCameraConvention::OpenExr);
  EXPECT_NEAR(camera.kx, info.kx, info.kx * 1e-5);
  EXPECT_NEAR(camera.ky, info.ky, info.ky * 1e-5);
  EXPECT_NEAR(camera.xc, info.xc, 1e-3);
  EXPECT_NEAR(camera.yc, info.yc, 1e-3);
  // The z flip is exact both ways.
  EXPECT_EQ(camera.worldToCam, info.worldToCam[0]);
  // The projection matrix is invertible (z_ndc = 1 / depth), so tools that
  // invert it can.
  const auto& n = file.worldToNDC->m;
  EXPECT_NE(n[2][3], 0.0f);
}

TEST(ExrCamera, AConventionThatPutsTheAxisBehindTheCameraIsRefused) {
  const Shot minusZ = MakeShot(false, 1, 1, 0, 0);
  const std::string e = ErrorFor(minusZ.file, ExrCameraConvention::OpenExr);
  EXPECT_NE(e.find("shot.exr: in the openexr convention the camera looks down +z"), std::string::npos) << e;
  EXPECT_NE(e.find("its convention is minus-z"), std::string::npos) << e;
  const Shot openexr = MakeShot(true, 1, 1, 0, 0);
  EXPECT_NE(ErrorFor(openexr.file, ExrCameraConvention::MinusZ).find("looks down -z"), std::string::npos);
}

TEST(ExrCamera, APrincipalPointOutsideTheImageNeedsTheConventionNamed) {
  // A lens shifted by more than the image: auto cannot tell, openexr can.
  const Shot shot = MakeShot(true, 1, 1, 0.9, 0);
  EXPECT_NE(ErrorFor(shot.file).find("outside the image in either convention"), std::string::npos);
  const FileCamera camera = CameraFromExr(shot.file, kWidth, kHeight, ExrCameraConvention::OpenExr, "shot.exr");
  ExpectSamePixels(shot, camera);
  EXPECT_GT(camera.xc, kWidth);
}

TEST(ExrCamera, MissingOrUnusableAttributesSayWhat) {
  const Shot shot = MakeShot(true, 1, 1, 0, 0);
  ExrCamera c = shot.file;
  c.worldToNDC.reset();
  EXPECT_EQ(ErrorFor(c), "shot.exr: no camera: the file has no worldToNDC attribute (the projection)");
  c = shot.file;
  c.worldToCamera.reset();
  EXPECT_EQ(ErrorFor(c), "shot.exr: no camera: the file has no worldToCamera attribute (the view)");
  EXPECT_EQ(ErrorFor(ExrCamera{}), "shot.exr: no camera: the file has no worldToCamera and worldToNDC attributes");

  c = shot.file;
  c.worldToNDC->m[1][2] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_NE(ErrorFor(c).find("worldToNDC attribute holds a value that is not finite"), std::string::npos);

  c = shot.file;
  c.worldToCamera->m[2] = {0, 0, 0, 0};
  EXPECT_NE(ErrorFor(c).find("worldToCamera is singular"), std::string::npos);

  // Written for column vectors: the translation in the last column.
  c = shot.file;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < i; ++j) std::swap(c.worldToCamera->m[i][j], c.worldToCamera->m[j][i]);
  EXPECT_NE(ErrorFor(c).find("it looks written for column vectors"), std::string::npos) << ErrorFor(c);
}

TEST(ExrCamera, OnlyPlainPerspectiveProjectionsAreTaken) {
  const Shot shot = MakeShot(true, 1, 1, 0, 0);
  const M4 c = FileWorldToCamera(Inverse(shot.camToWorld), true);
  const auto withProjection = [&](const M4& p) {
    ExrCamera file = shot.file;
    file.worldToNDC = ToExr(Mul(c, p));
    return ErrorFor(file);
  };
  M4 ortho{};
  ortho[0][0] = 0.1, ortho[1][1] = -0.1, ortho[3][0] = 0.5, ortho[3][1] = 0.5, ortho[3][3] = 1;
  EXPECT_NE(withProjection(ortho).find("an orthographic camera"), std::string::npos) << withProjection(ortho);

  M4 skew{};
  skew[0][0] = 1, skew[1][0] = 0.3, skew[1][1] = -1, skew[2][0] = 0.5, skew[2][1] = 0.5, skew[2][3] = 1;
  EXPECT_NE(withProjection(skew).find("not a plain perspective projection"), std::string::npos);

  M4 mirrored{};
  mirrored[0][0] = -1, mirrored[1][1] = -1, mirrored[2][0] = 0.5, mirrored[2][1] = 0.5, mirrored[2][3] = 1;
  EXPECT_NE(withProjection(mirrored).find("mirrors the image (x runs the wrong way"), std::string::npos)
      << withProjection(mirrored);
}

TEST(ExrCamera, ConventionNames) {
  for (const auto c : {ExrCameraConvention::Auto, ExrCameraConvention::OpenExr, ExrCameraConvention::MinusZ})
    EXPECT_EQ(velumbra::ParseExrCameraConvention(velumbra::ExrCameraConventionName(c)), c);
  EXPECT_FALSE(velumbra::ParseExrCameraConvention("opengl"));
}

}  // namespace
