#include "host/app/scene/scene_build.h"

#include <algorithm>
#include <map>
#include <optional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "host/app/base/app_error.h"
#include "host/app/scene/chan_file.h"
#include "host/sdk/max_time.h"

namespace velumbra {

namespace {

constexpr double kPi = 3.14159265358979323846;

Point3 ToPoint(const Vec3& v) {
  return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

}  // namespace

TransformKey ToTransformKey(const TransformFields& f, TimeValue time) {
  TransformKey k;
  k.time = time;
  if (f.matrix) {
    k.kind = TransformKey::Kind::Matrix;
    const MatrixRows& m = *f.matrix;
    k.matrix = Matrix3(ToPoint(m[0]), ToPoint(m[1]), ToPoint(m[2]), ToPoint(m[3]));
    return k;
  }
  if (f.position) k.position = ToPoint(*f.position);
  if (f.target) {
    k.kind = TransformKey::Kind::Target;
    k.target = ToPoint(*f.target);
    return k;
  }
  k.kind = TransformKey::Kind::Rotation;
  if (f.rotation) k.rotation = ToPoint(*f.rotation);
  if (f.scale) k.scale = ToPoint(*f.scale);
  return k;
}

BuiltScene BuildScene(const SceneDesc& scene, Interface& ip) {
  ValidateScene(scene);
  BuiltScene built;
  built.ticksPerFrame = scene.TicksPerFrame();
  if (!SetTicksPerFrame(built.ticksPerFrame))
    throw std::logic_error("ticks per frame refused after the scene was checked");

  // Nodes are created parents first, each as the last child of its
  // parent, visiting the file's nodes depth first with an explicit stack:
  // every parent's children (and the root's) stand in file order, and no
  // node is ever moved, so any depth builds in linear time without
  // recursion. ValidateScene has made sure every parent exists and no
  // parents form a cycle, so every node is reached from the root.
  std::map<std::string, size_t> indexOf;
  for (size_t i = 0; i < scene.nodes.size(); ++i) indexOf.emplace(scene.nodes[i].name, i);
  const size_t kRoot = scene.nodes.size();
  std::vector<std::vector<size_t>> children(scene.nodes.size() + 1);
  for (size_t i = 0; i < scene.nodes.size(); ++i)
    children[scene.nodes[i].parent ? indexOf.at(*scene.nodes[i].parent) : kRoot].push_back(i);
  std::vector<INode*> created(scene.nodes.size(), nullptr);
  std::vector<size_t> stack(children[kRoot].rbegin(), children[kRoot].rend());
  while (!stack.empty()) {
    const size_t i = stack.back();
    stack.pop_back();
    const NodeDesc& n = scene.nodes[i];
    std::unique_ptr<Object> object;
    std::vector<TransformKey> keys;
    if (n.type == NodeType::Camera) {
      auto camera = std::make_unique<CameraObject>(static_cast<float>(n.fov * kPi / 180.0),
                                                   static_cast<float>(n.shift[0]), static_cast<float>(n.shift[1]));
      std::vector<CameraObject::FovKey> fovKeys;
      std::vector<CameraObject::ShiftKey> shiftKeys;
      if (n.chan) {
        // The file's frames are keys like the scene's own; a frame whose
        // time does not fit the host's is an error naming the file.
        for (const ChanFrame& f : ReadChanFile(*n.chan)) {
          const std::optional<int> time = FrameToTicks(f.frame, built.ticksPerFrame);
          if (!time)
            throw InputError(n.chan->file.string() + ": frame " + std::to_string(f.frame) +
                             " is outside the host's time range");
          TransformFields fields;
          fields.matrix = f.camToWorld;
          keys.push_back(ToTransformKey(fields, *time));
          if (n.chan->fileFov && f.verticalFov)
            fovKeys.push_back({*time, static_cast<float>(HorizontalFov(*f.verticalFov, scene.render.width,
                                                                       scene.render.height) * kPi / 180.0)});
        }
      }
      // A node's keyed fov overrides the file's.
      bool keyedFov = false;
      for (const TransformKeyDesc& k : n.keys) keyedFov = keyedFov || k.fov.has_value();
      if (keyedFov) fovKeys.clear();
      for (const TransformKeyDesc& k : n.keys) {
        const TimeValue time = *FrameToTicks(k.frame, built.ticksPerFrame);
        if (k.fov) fovKeys.push_back({time, static_cast<float>(*k.fov * kPi / 180.0)});
        if (k.shift) shiftKeys.push_back({time, static_cast<float>((*k.shift)[0]), static_cast<float>((*k.shift)[1])});
      }
      const auto byTime = [](const auto& a, const auto& b) { return a.time < b.time; };
      std::sort(fovKeys.begin(), fovKeys.end(), byTime);
      std::sort(shiftKeys.begin(), shiftKeys.end(), byTime);
      camera->SetFovKeys(std::move(fovKeys));
      camera->SetShiftKeys(std::move(shiftKeys));
      object = std::move(camera);
    } else {
      object = std::make_unique<DummyObject>();
    }
    INode* parent = n.parent ? created[indexOf.at(*n.parent)] : nullptr;
    INode* node = ip.CreateNode(n.name, std::move(object), parent);
    created[i] = node;

    if (!n.chan) {
      // Keys that key the lens only leave the transform alone.
      for (const TransformKeyDesc& k : n.keys)
        if (!k.fields.Empty())
          // ValidateScene has checked that every key's time fits.
          keys.push_back(ToTransformKey(MergeKeyFields(n.transform, k.fields),
                                        *FrameToTicks(k.frame, built.ticksPerFrame)));
      if (keys.empty()) keys.push_back(ToTransformKey(n.transform, 0));
    }
    node->SetTransformKeys(std::move(keys));
    stack.insert(stack.end(), children[i].rbegin(), children[i].rend());
  }
  for (size_t i = 0; i < scene.nodes.size(); ++i)
    if (!created[i]) throw std::logic_error("node \"" + scene.nodes[i].name + "\" not reached from the root after the scene was checked");
  if (const NodeDesc* camera = scene.RenderCamera()) built.camera = created[indexOf.at(camera->name)];
  return built;
}

}  // namespace velumbra
