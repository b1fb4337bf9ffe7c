// Scene nodes, their objects, and the host interface that owns the scene.
//
// The world is Z-up. A node's transform maps its local space to its
// parent's; GetNodeTM composes the chain up to the root (local first, then
// the parent's), giving local-to-world. A camera looks down its local -Z
// axis with local +Y up.
#pragma once

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "interval.h"
#include "matrix3.h"
#include "max_types.h"

// What a node carries: a camera, a helper (dummy), ...
class Object {
 public:
  virtual ~Object() = default;
  virtual SClass_ID SuperClassID() const = 0;
};

// A perspective camera's lens: the horizontal field of view and the lens
// shift (render_info.h: a fraction of the larger frame dimension), each
// constant or keyed on its own. Keys are (time, value) in increasing time;
// values are linear between keys, and the first and last key hold before
// and after them.
class CameraObject : public Object {
 public:
  struct FovKey {
    TimeValue time = 0;
    float fov = 0.0f;  // radians, 0 < fov < pi
  };
  struct ShiftKey {
    TimeValue time = 0;
    float x = 0.0f;
    float y = 0.0f;
  };

  // fov: horizontal field of view in radians, 0 < fov < pi.
  explicit CameraObject(float fov, float shiftX = 0.0f, float shiftY = 0.0f)
      : fov_(fov), shiftX_(shiftX), shiftY_(shiftY) {}
  SClass_ID SuperClassID() const override { return CAMERA_CLASS_ID; }

  void SetFovKeys(std::vector<FovKey> keys) { fovKeys_ = std::move(keys); }
  void SetShiftKeys(std::vector<ShiftKey> keys) { shiftKeys_ = std::move(keys); }

  float GetFOV(TimeValue t) const {
    if (fovKeys_.empty()) return fov_;
    const auto [a, b, f] = Between(fovKeys_, t);
    return a.fov + (b.fov - a.fov) * f;
  }
  // The shift at t: x, then y.
  std::pair<float, float> GetShift(TimeValue t) const {
    if (shiftKeys_.empty()) return {shiftX_, shiftY_};
    const auto [a, b, f] = Between(shiftKeys_, t);
    return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
  }

 private:
  // The keys around t and the fraction of the way from the first to the
  // second (0 outside the keys, where both are the nearest key).
  template <class Key>
  static std::tuple<const Key&, const Key&, float> Between(const std::vector<Key>& keys, TimeValue t) {
    if (t <= keys.front().time) return {keys.front(), keys.front(), 0.0f};
    if (t >= keys.back().time) return {keys.back(), keys.back(), 0.0f};
    size_t i = 1;
    while (keys[i].time <= t) ++i;
    const Key& a = keys[i - 1];
    const Key& b = keys[i];
    return {a, b, static_cast<float>(static_cast<double>(t - a.time) / static_cast<double>(b.time - a.time))};
  }

  float fov_;
  float shiftX_;
  float shiftY_;
  std::vector<FovKey> fovKeys_;
  std::vector<ShiftKey> shiftKeys_;
};

class DummyObject : public Object {
 public:
  SClass_ID SuperClassID() const override { return HELPER_CLASS_ID; }
};

// One key of a node's transform: the fields a scene file gives at a frame.
// Either a whole matrix, or a position with a target (cameras: -Z towards
// the target) or with rotation (degrees, about world X, then Y, then Z) and
// scale. Between keys every field is interpolated linearly.
struct TransformKey {
  enum class Kind { Matrix, Target, Rotation };
  TimeValue time = 0;
  Kind kind = Kind::Rotation;
  Matrix3 matrix = Matrix3::Identity();
  Point3 position;
  Point3 target{0, 1, 0};
  Point3 rotation;  // degrees
  Point3 scale{1, 1, 1};

  // The local transform these fields describe.
  Matrix3 ToMatrix() const;
};

// A look-at transform: the -Z axis towards `target`, +Y as close to world +Z
// as possible (world +Y when looking straight up or down). A target equal to
// the position looks along world +Y.
Matrix3 LookAtMatrix(const Point3& position, const Point3& target);

class INode {
 public:
  INode(std::string name, std::unique_ptr<Object> object);
  INode(const INode&) = delete;
  INode& operator=(const INode&) = delete;

  const char* GetName() const { return name_.c_str(); }
  INode* GetParentNode() const { return parent_; }
  int NumberOfChildren() const { return static_cast<int>(children_.size()); }
  // Null for an index outside 0..NumberOfChildren()-1.
  INode* GetChildNode(int i) const;
  BOOL IsRootNode() const { return parent_ == nullptr; }
  Object* GetObjectRef() const { return object_.get(); }

  // Local-to-world transform at time t. Validity narrows to t when keyed.
  Matrix3 GetNodeTM(TimeValue t, Interval* valid = nullptr) const;
  // Local-to-parent transform at time t.
  Matrix3 GetLocalTM(TimeValue t) const;

  // Keys in any order; an empty list means the identity.
  void SetTransformKeys(std::vector<TransformKey> keys);
  const std::vector<TransformKey>& TransformKeys() const { return keys_; }

  // Makes `child` a child of this node (appended last). Refused (false) when
  // `child` is this node or one of its ancestors, which would make a cycle.
  bool AttachChild(INode* child);

 private:
  std::string name_;
  std::unique_ptr<Object> object_;
  INode* parent_ = nullptr;
  std::vector<INode*> children_;
  std::vector<TransformKey> keys_;  // sorted by time
};

// The host application's interface: owns the scene's nodes; the root node
// has no object and is the parent of every top-level node.
class Interface {
 public:
  Interface();
  INode* GetRootNode() { return root_.get(); }
  // Creates a node as the last child of `parent` (null: the root). A
  // scene built parents first this way never moves a node, which with
  // AttachChild costs a search of the old parent's children.
  INode* CreateNode(std::string name, std::unique_ptr<Object> object, INode* parent = nullptr);
  // The first node with that name in depth-first order, or null.
  INode* GetINodeByName(const char* name);

 private:
  std::unique_ptr<INode> root_;
  std::vector<std::unique_ptr<INode>> nodes_;
};
