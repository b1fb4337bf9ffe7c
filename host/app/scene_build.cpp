#include "host/app/scene_build.h"

#include <map>
#include <memory>

#include "host/app/app_error.h"
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

  std::map<std::string, INode*> byName;
  for (const NodeDesc& n : scene.nodes) {
    std::unique_ptr<Object> object;
    if (n.type == NodeType::Camera)
      object = std::make_unique<CameraObject>(static_cast<float>(n.fov * kPi / 180.0));
    else
      object = std::make_unique<DummyObject>();
    INode* node = ip.CreateNode(n.name, std::move(object));
    byName[n.name] = node;

    std::vector<TransformKey> keys;
    if (n.keys.empty()) {
      keys.push_back(ToTransformKey(n.transform, 0));
    } else {
      for (const TransformKeyDesc& k : n.keys)
        // ValidateScene has checked that every key's time fits.
        keys.push_back(ToTransformKey(MergeKeyFields(n.transform, k.fields),
                                      *FrameToTicks(k.frame, built.ticksPerFrame)));
    }
    node->SetTransformKeys(std::move(keys));
  }
  for (size_t i = 0; i < scene.nodes.size(); ++i) {
    const NodeDesc& n = scene.nodes[i];
    if (!n.parent) continue;
    if (!byName.at(*n.parent)->AttachChild(byName.at(n.name)))
      throw InputError(scene.source + ": /nodes/" + std::to_string(i) + "/parent: attaching \"" + n.name +
                       "\" to \"" + *n.parent + "\" would make a cycle");
  }
  built.camera = byName.at(scene.RenderCamera()->name);
  return built;
}

}  // namespace velumbra
