#include "host/app/scene/scene_build.h"

#include <gtest/gtest.h>

#include <cmath>

#include "host/app/base/app_error.h"
#include "support/temp_dir.h"
#include "host/sdk/max_time.h"

namespace {

using velumbra::BuildScene;
using velumbra::ParseScene;

// Restores the host's global frame rate, which BuildScene sets.
class SceneBuild : public ::testing::Test {
 protected:
  void TearDown() override { SetTicksPerFrame(160); }
};

void ExpectNear(const Point3& a, const Point3& b, float eps = 1e-4f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

TEST_F(SceneBuild, DefaultSceneCameraLooksAlongWorldY) {
  Interface ip;
  const velumbra::BuiltScene built = BuildScene(velumbra::DefaultScene(), ip);
  ASSERT_NE(built.camera, nullptr);
  EXPECT_STREQ(built.camera->GetName(), "Camera001");
  EXPECT_EQ(built.ticksPerFrame, 160);
  EXPECT_EQ(GetTicksPerFrame(), 160);
  ASSERT_EQ(built.camera->GetObjectRef()->SuperClassID(), CAMERA_CLASS_ID);
  const auto* cam = static_cast<CameraObject*>(built.camera->GetObjectRef());
  EXPECT_NEAR(cam->GetFOV(0), 0.785398163f, 1e-6f);  // 45 degrees
  const Matrix3 tm = built.camera->GetNodeTM(0);
  ExpectNear(tm.VectorTransform({0, 0, -1}), {0, 1, 0});  // view axis
  ExpectNear(tm.VectorTransform({0, 1, 0}), {0, 0, 1});   // up
  ExpectNear(tm.GetTrans(), {0, 0, 0});
  // A point ahead on +Y lands in front of the camera (negative z) and at the
  // image centre.
  ExpectNear(Inverse(tm).PointTransform({0, 5, 0}), {0, 0, -5});
}

TEST_F(SceneBuild, KeyedTransformsInterpolateBetweenFrames) {
  Interface ip;
  const auto scene = ParseScene(R"({
    "fps": 25,
    "nodes": [
      { "name": "cam", "type": "camera", "fov": 60, "position": [0, 0, 0],
        "keys": [ { "frame": 0, "target": [0, 10, 0] }, { "frame": 10, "target": [10, 10, 0] } ] },
      { "name": "mover", "type": "dummy", "position": [1, 2, 3],
        "keys": [ { "frame": 10, "rotation": [0, 0, 90] }, { "frame": 0, "rotation": [0, 0, 0] } ] },
      { "name": "slider", "type": "dummy",
        "keys": [ { "frame": -4, "position": [-4, 0, 0] }, { "frame": 4, "position": [4, 8, 0] } ] }
    ]})", "s.json", "");
  const auto built = BuildScene(scene, ip);
  EXPECT_EQ(built.ticksPerFrame, 192);
  EXPECT_EQ(GetTicksPerFrame(), 192);

  // Halfway in ticks: 5 frames of 192.
  INode* slider = ip.GetINodeByName("slider");
  ExpectNear(slider->GetNodeTM(0).GetTrans(), {0, 4, 0});
  ExpectNear(slider->GetNodeTM(192).GetTrans(), {1, 5, 0});
  ExpectNear(slider->GetNodeTM(96).GetTrans(), {0.5f, 4.5f, 0});  // half a frame
  ExpectNear(slider->GetNodeTM(-10 * 192).GetTrans(), {-4, 0, 0});  // held before the first key

  // Rotation 0 -> 90 degrees about Z over 10 frames: 45 at frame 5; the
  // node's own position carries into every key.
  INode* mover = ip.GetINodeByName("mover");
  const Matrix3 m = mover->GetNodeTM(5 * 192);
  const float h = std::sqrt(0.5f);
  ExpectNear(m.VectorTransform({1, 0, 0}), {h, h, 0});
  ExpectNear(m.GetTrans(), {1, 2, 3});

  // The camera's target moves from (0,10,0) to (10,10,0): at frame 5 it
  // looks at (5,10,0).
  INode* cam = ip.GetINodeByName("cam");
  const Point3 view = cam->GetNodeTM(5 * 192).VectorTransform({0, 0, -1});
  const float n = std::sqrt(125.0f);
  ExpectNear(view, {5 / n, 10 / n, 0});
  EXPECT_NEAR(static_cast<CameraObject*>(cam->GetObjectRef())->GetFOV(0), 1.04719755f, 1e-6f);
}

TEST_F(SceneBuild, ParentsAttachInAnyOrder) {
  Interface ip;
  // The child comes before its parent in the file.
  const auto scene = ParseScene(R"({
    "nodes": [
      { "name": "cam", "type": "camera", "parent": "arm", "position": [0, 0, 1] },
      { "name": "arm", "type": "dummy", "parent": "base", "position": [10, 0, 0] },
      { "name": "base", "type": "dummy", "rotation": [0, 0, 90] }
    ]})", "s.json", "");
  const auto built = BuildScene(scene, ip);
  INode* base = ip.GetINodeByName("base");
  INode* arm = ip.GetINodeByName("arm");
  EXPECT_EQ(built.camera->GetParentNode(), arm);
  EXPECT_EQ(arm->GetParentNode(), base);
  EXPECT_EQ(ip.GetRootNode()->NumberOfChildren(), 1);
  // (0,0,1) in cam -> (10,0,1) in base -> turned 90 degrees about Z.
  ExpectNear(built.camera->GetNodeTM(0).GetTrans(), {0, 10, 1});
}

TEST_F(SceneBuild, MatrixNodesKeepTheirMatrix) {
  Interface ip;
  const auto scene = ParseScene(R"({
    "nodes": [ { "name": "cam", "type": "camera",
                 "matrix": [[0, 1, 0], [-1, 0, 0], [0, 0, 1], [5, 6, 7]] } ]})", "s.json", "");
  const auto built = BuildScene(scene, ip);
  const Matrix3 tm = built.camera->GetNodeTM(0);
  ExpectNear(tm.PointTransform({1, 0, 0}), {5, 7, 7});
  ExpectNear(tm.PointTransform({0, 1, 0}), {4, 6, 7});
}

TEST_F(SceneBuild, RefusesAnInvalidDescription) {
  velumbra::SceneDesc s = velumbra::DefaultScene();
  s.fps = 7;
  Interface ip;
  EXPECT_THROW(BuildScene(s, ip), velumbra::InputError);
  EXPECT_EQ(ip.GetRootNode()->NumberOfChildren(), 0);  // nothing half-built
  EXPECT_EQ(GetTicksPerFrame(), 160);
}

TEST_F(SceneBuild, LensKeysAnimateOnTheirOwn) {
  Interface ip;
  const auto scene = ParseScene(R"({
    "fps": 30,
    "nodes": [
      { "name": "cam", "type": "camera", "fov": 50, "shift": [0.5, 0.5],
        "keys": [ { "frame": 0, "position": [0, 0, 0] },
                  { "frame": 4, "fov": 60 },
                  { "frame": 8, "fov": 30, "shift": [0.1, -0.2] },
                  { "frame": 12, "position": [12, 0, 0] } ] }
    ]})", "s.json", "");
  const auto built = BuildScene(scene, ip);
  const auto* cam = static_cast<CameraObject*>(built.camera->GetObjectRef());
  const float degree = 3.14159265f / 180.0f;
  EXPECT_NEAR(cam->GetFOV(0), 60 * degree, 1e-6f);         // the first fov key holds before it
  EXPECT_NEAR(cam->GetFOV(6 * 160), 45 * degree, 1e-6f);   // linear between fov keys
  EXPECT_NEAR(cam->GetFOV(12 * 160), 30 * degree, 1e-6f);  // the last holds after it
  // One shift key: it holds everywhere, over the node's own.
  EXPECT_FLOAT_EQ(cam->GetShift(0).first, 0.1f);
  EXPECT_FLOAT_EQ(cam->GetShift(100 * 160).second, -0.2f);
  // Lens-only keys leave the transform alone: halfway between its keys.
  ExpectNear(built.camera->GetNodeTM(6 * 160).GetTrans(), {6, 0, 0});
}

TEST_F(SceneBuild, AChanFileKeysTheCameraAndItsFov) {
  TempDir dir;
  WriteAll(dir / "cam.chan", "1 0 0 0 0 0 0 90\n3 2 0 0 0 0 0 60\n");
  Interface ip;
  const auto scene = ParseScene(R"({ "fps": 24, "render": {"width": 200, "height": 100},
    "nodes": [ { "name": "cam", "type": "camera", "chan": {"file": "cam.chan", "up": "z"} } ]})",
                                "s.json", dir.Path());
  const auto built = BuildScene(scene, ip);
  const auto* cam = static_cast<CameraObject*>(built.camera->GetObjectRef());
  // Vertical 90 degrees on a 2:1 frame: horizontal 2 atan(2).
  EXPECT_NEAR(cam->GetFOV(200), 2 * std::atan(2.0f), 1e-6f);
  ExpectNear(built.camera->GetNodeTM(2 * 200).GetTrans(), {1, 0, 0});  // linear between the file's frames
  // A node's own fov overrides the file's.
  Interface ip2;
  const auto own = ParseScene(R"({ "fps": 24, "render": {"width": 200, "height": 100},
    "nodes": [ { "name": "cam", "type": "camera", "fov": 40, "chan": {"file": "cam.chan"} } ]})",
                              "s.json", dir.Path());
  const auto* ownCam = static_cast<CameraObject*>(BuildScene(own, ip2).camera->GetObjectRef());
  EXPECT_NEAR(ownCam->GetFOV(200), 40 * 3.14159265f / 180, 1e-6f);
  // A bad file stops the build with its place.
  WriteAll(dir / "cam.chan", "1 0 0 0 0 0 0 90\nbad\n");
  Interface ip3;
  try {
    BuildScene(scene, ip3);
    ADD_FAILURE() << "accepted";
  } catch (const velumbra::InputError& e) {
    EXPECT_NE(std::string(e.what()).find("cam.chan:2:"), std::string::npos) << e.what();
  }
}

}  // namespace
