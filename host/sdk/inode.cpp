#include "inode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr float kDegToRad = 3.14159265358979323846f / 180.0f;

// a + (b - a) * f, in single precision. Where that overflows (keys far
// apart near the float range: b - a is infinite although every point
// between them is a float) the same line is evaluated in double.
Point3 Lerp(const Point3& a, const Point3& b, float f) {
  const Point3 r = a + (b - a) * f;
  if (std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z)) return r;
  const auto lerp = [f](float p, float q) {
    return static_cast<float>(static_cast<double>(p) + (static_cast<double>(q) - p) * f);
  };
  return {lerp(a.x, b.x), lerp(a.y, b.y), lerp(a.z, b.z)};
}

}  // namespace

Matrix3 LookAtMatrix(const Point3& position, const Point3& target) {
  Point3 z;  // the camera's +Z, pointing away from the target
  const Point3 forward = target - position;
  const float length = forward.Length();
  if (length > 0.0f && std::isfinite(length)) {
    z = -forward * (1.0f / length);
  } else {
    // The distance is too large (target - position, or its square,
    // overflows) or too small (the square underflows to 0) for single
    // precision; in double both are exact enough. Only a target on the
    // position has no direction: it looks along +Y.
    const double dx = static_cast<double>(target.x) - position.x;
    const double dy = static_cast<double>(target.y) - position.y;
    const double dz = static_cast<double>(target.z) - position.z;
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    z = d > 0.0 ? Point3(static_cast<float>(-dx / d), static_cast<float>(-dy / d), static_cast<float>(-dz / d))
                : Point3(0, -1, 0);
  }
  Point3 up{0, 0, 1};
  if (std::fabs(DotProd(up, z)) > 0.999999f) up = {0, 1, 0};
  Point3 x = CrossProd(up, z);
  x = x * (1.0f / x.Length());
  const Point3 y = CrossProd(z, x);
  return Matrix3(x, y, z, position);
}

Matrix3 TransformKey::ToMatrix() const {
  switch (kind) {
    case Kind::Matrix:
      return matrix;
    case Kind::Target:
      return LookAtMatrix(position, target);
    case Kind::Rotation:
    default:
      return ScaleMatrix(scale) * RotateXMatrix(rotation.x * kDegToRad) *
             RotateYMatrix(rotation.y * kDegToRad) * RotateZMatrix(rotation.z * kDegToRad) *
             TransMatrix(position);
  }
}

INode::INode(std::string name, std::unique_ptr<Object> object)
    : name_(std::move(name)), object_(std::move(object)) {}

INode* INode::GetChildNode(int i) const {
  if (i < 0 || i >= NumberOfChildren()) return nullptr;
  return children_[i];
}

void INode::SetTransformKeys(std::vector<TransformKey> keys) {
  std::stable_sort(keys.begin(), keys.end(),
                   [](const TransformKey& a, const TransformKey& b) { return a.time < b.time; });
  keys_ = std::move(keys);
}

Matrix3 INode::GetLocalTM(TimeValue t) const {
  if (keys_.empty()) return Matrix3::Identity();
  if (t <= keys_.front().time) return keys_.front().ToMatrix();
  if (t >= keys_.back().time) return keys_.back().ToMatrix();
  auto next = std::upper_bound(keys_.begin(), keys_.end(), t,
                               [](TimeValue v, const TransformKey& k) { return v < k.time; });
  const TransformKey& a = *(next - 1);
  const TransformKey& b = *next;
  const float f = static_cast<float>(static_cast<double>(t - a.time) / static_cast<double>(b.time - a.time));
  TransformKey k = a;
  if (a.kind != b.kind) {
    // Keys of different kinds: interpolate the matrices element by element.
    const Matrix3 ma = a.ToMatrix(), mb = b.ToMatrix();
    k.kind = TransformKey::Kind::Matrix;
    for (int r = 0; r < 4; ++r) k.matrix.SetRow(r, Lerp(ma.GetRow(r), mb.GetRow(r), f));
    return k.ToMatrix();
  }
  for (int r = 0; r < 4; ++r) k.matrix.SetRow(r, Lerp(a.matrix.GetRow(r), b.matrix.GetRow(r), f));
  k.position = Lerp(a.position, b.position, f);
  k.target = Lerp(a.target, b.target, f);
  k.rotation = Lerp(a.rotation, b.rotation, f);
  k.scale = Lerp(a.scale, b.scale, f);
  return k.ToMatrix();
}

Matrix3 INode::GetNodeTM(TimeValue t, Interval* valid) const {
  // Iterative, so that very deep hierarchies cannot exhaust the stack.
  Matrix3 tm = GetLocalTM(t);
  bool animated = keys_.size() > 1;
  for (const INode* p = parent_; p; p = p->parent_) {
    tm = tm * p->GetLocalTM(t);
    animated = animated || p->keys_.size() > 1;
  }
  if (valid && animated) *valid = Interval(t, t);
  return tm;
}

bool INode::AttachChild(INode* child) {
  if (!child || child == this) return false;
  // Only a node with children can be an ancestor of this one.
  if (!child->children_.empty())
    for (const INode* p = parent_; p; p = p->parent_)
      if (p == child) return false;
  if (child->parent_) {
    auto& siblings = child->parent_->children_;
    siblings.erase(std::find(siblings.begin(), siblings.end(), child));
  }
  child->parent_ = this;
  children_.push_back(child);
  return true;
}

Interface::Interface() : root_(std::make_unique<INode>("Scene Root", nullptr)) {}

INode* Interface::CreateNode(std::string name, std::unique_ptr<Object> object, INode* parent) {
  nodes_.push_back(std::make_unique<INode>(std::move(name), std::move(object)));
  INode* node = nodes_.back().get();
  (parent ? parent : root_.get())->AttachChild(node);
  return node;
}

INode* Interface::GetINodeByName(const char* name) {
  // Depth-first with an explicit stack (no recursion), children in order.
  std::vector<INode*> stack{root_.get()};
  while (!stack.empty()) {
    INode* n = stack.back();
    stack.pop_back();
    if (n != root_.get() && std::strcmp(n->GetName(), name) == 0) return n;
    for (int i = n->NumberOfChildren() - 1; i >= 0; --i) stack.push_back(n->GetChildNode(i));
  }
  return nullptr;
}
