#include "host/app/scene/scene_file.h"

#include <climits>

#include "host/app/scene/scene_check.h"

namespace velumbra {

TransformFields MergeKeyFields(const TransformFields& node, const TransformFields& key) {
  TransformFields m = key;
  if (!m.matrix) m.matrix = node.matrix;
  if (!m.position) m.position = node.position;
  if (!m.target) m.target = node.target;
  if (!m.rotation) m.rotation = node.rotation;
  if (!m.scale) m.scale = node.scale;
  return m;
}

int SceneDesc::TicksPerFrame() const { return scene_check::WholeTicksPerFrame(fps); }

const NodeDesc* SceneDesc::RenderCamera() const {
  for (const NodeDesc& n : nodes)
    if (render.camera.empty() ? n.type == NodeType::Camera : n.name == render.camera) return &n;
  return nullptr;
}

std::optional<int> FrameToTicks(long long frame, int ticksPerFrame) {
  const long long ticks = frame * static_cast<long long>(ticksPerFrame);
  if (ticks < INT_MIN || ticks > INT_MAX) return std::nullopt;
  return static_cast<int>(ticks);
}

void ValidateScene(const SceneDesc& scene) { scene_check::Validate(scene_check::Reporter(scene.source), scene); }

SceneDesc DefaultScene() {
  SceneDesc s;
  s.fps = 30;
  s.render.width = 640;
  s.render.height = 480;
  s.render.frame = 0;
  s.render.camera = "Camera001";
  s.render.background = {0, 0, 0, 0};
  NodeDesc camera;
  camera.name = "Camera001";
  camera.type = NodeType::Camera;
  camera.fov = 45;
  camera.transform.position = Vec3{0, 0, 0};
  camera.transform.target = Vec3{0, 1, 0};
  s.nodes.push_back(camera);
  EffectDesc fx;
  fx.className = "Qe_Velumbra";
  fx.name = "Qe_Velumbra";
  s.effects.push_back(fx);
  return s;
}

}  // namespace velumbra
