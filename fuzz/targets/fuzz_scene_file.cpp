#include <cmath>
#include <string>
#include <string_view>

#include "fuzz/targets/fuzz_targets.h"
#include "host/app/base/app_error.h"
#include "host/app/scene/scene_build.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/inode.h"
#include "host/sdk/max_time.h"
#include "starfield/view_transforms.h"

namespace velumbra::fuzz {

namespace {

constexpr const char* kName = "scene_file";

bool Finite(const Matrix3& m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c)
      if (!std::isfinite(m.GetRow(r)[c])) return false;
  return true;
}

// The built scene: every node's transform is computable at every key time,
// and the render camera (when the scene has one), when its view is a proper
// matrix, is the camera the depth-first search finds for that view (or one
// with the same view).
void CheckBuilt(const SceneDesc& scene) {
  Interface ip;
  BuiltScene built;
  try {
    built = BuildScene(scene, ip);
  } catch (const std::exception& e) {
    Fault(kName, std::string("a scene ParseScene accepted does not build: ") + e.what());
  }
  const TimeValue t = *FrameToTicks(scene.render.frame, built.ticksPerFrame);
  // Without a camera node the render takes its camera from the input image.
  if ((built.camera != nullptr) != (scene.RenderCamera() != nullptr))
    Fault(kName, "BuildScene's render camera does not match the description's");
  if (built.camera) {
    if (built.camera->GetObjectRef() == nullptr || built.camera->GetObjectRef()->SuperClassID() != CAMERA_CLASS_ID)
      Fault(kName, "the render camera is not a camera");
    const Matrix3 tm = built.camera->GetNodeTM(t);
    Matrix3 view;
    if (Finite(tm) && InverseChecked(tm, view) && Finite(view)) {
      INode* found = FindCameraByView(ip.GetRootNode(), t, view);
      if (!found) Fault(kName, "the camera search does not find the render camera");
    }
  }
  for (const NodeDesc& n : scene.nodes) {
    INode* node = ip.GetINodeByName(n.name.c_str());
    if (!node) Fault(kName, "node \"" + n.name + "\" is missing from the built scene");
    for (const TransformKeyDesc& k : n.keys) static_cast<void>(node->GetNodeTM(*FrameToTicks(k.frame, built.ticksPerFrame)));
  }
}

}  // namespace

int FuzzSceneFile(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SceneDesc scene;
  try {
    scene = ParseScene(text, "fuzz.json", "/fuzz");
  } catch (const InputError& e) {
    const std::string message = e.what();
    if (message.rfind("fuzz.json:", 0) != 0) Fault(kName, "an error that does not name the file: " + message);
    return 0;
  }
  // What the reader accepted, the writer must write back faithfully.
  const std::string written = SceneToJson(scene, "/fuzz");
  SceneDesc again;
  try {
    again = ParseScene(written, "written.json", "/fuzz");
  } catch (const InputError& e) {
    Fault(kName, std::string("the written scene does not read back: ") + e.what() + "\n" + written);
  }
  if (!(again == scene)) Fault(kName, "the written scene reads back different:\n" + written);
  CheckBuilt(scene);
  return 0;
}

}  // namespace velumbra::fuzz
