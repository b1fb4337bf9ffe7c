#include "inode.h"

#include <algorithm>
#include <array>
#include <optional>
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

using M3 = std::array<std::array<double, 3>, 3>;  // [row][column], rows as in Matrix3

M3 Linear(const Matrix3& m) {
  M3 a{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) a[size_t(r)][size_t(c)] = m.GetRow(r)[c];
  return a;
}

M3 Mul(const M3& a, const M3& b) {
  M3 r{};
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j)
      for (size_t k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
  return r;
}

M3 Transposed(const M3& a) {
  M3 t{};
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) t[i][j] = a[j][i];
  return t;
}

// The transposed inverse; false for a singular matrix.
bool InverseTransposed(const M3& a, M3& out) {
  M3 cof{};
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) {
      const size_t i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      cof[i][j] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];
    }
  const double det = a[0][0] * cof[0][0] + a[0][1] * cof[0][1] + a[0][2] * cof[0][2];
  if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) return false;
  for (auto& row : cof)
    for (double& x : row) x /= det;
  out = cof;
  return true;
}

double Determinant(const M3& a) {
  return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
         a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
}

// A linear part split as stretch * rotation (row vectors: stretched in
// the node's own axes, then turned): the polar decomposition, where the
// stretch is symmetric and the rotation proper. A mirroring matrix keeps
// the mirror in the stretch. nullopt for a singular one.
struct Polar {
  M3 stretch{};
  std::array<double, 4> rotation{};  // unit quaternion w, x, y, z
};

std::array<double, 4> Quaternion(const M3& m) {
  // Shepperd's method: the largest of the four squares first, for accuracy.
  const double trace = m[0][0] + m[1][1] + m[2][2];
  std::array<double, 4> q{};
  if (trace >= m[0][0] && trace >= m[1][1] && trace >= m[2][2]) {
    const double s = 2.0 * std::sqrt(1.0 + trace);
    q = {s / 4.0, (m[2][1] - m[1][2]) / s, (m[0][2] - m[2][0]) / s, (m[1][0] - m[0][1]) / s};
  } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
    const double s = 2.0 * std::sqrt(1.0 + m[0][0] - m[1][1] - m[2][2]);
    q = {(m[2][1] - m[1][2]) / s, s / 4.0, (m[0][1] + m[1][0]) / s, (m[0][2] + m[2][0]) / s};
  } else if (m[1][1] >= m[2][2]) {
    const double s = 2.0 * std::sqrt(1.0 + m[1][1] - m[0][0] - m[2][2]);
    q = {(m[0][2] - m[2][0]) / s, (m[0][1] + m[1][0]) / s, s / 4.0, (m[1][2] + m[2][1]) / s};
  } else {
    const double s = 2.0 * std::sqrt(1.0 + m[2][2] - m[0][0] - m[1][1]);
    q = {(m[1][0] - m[0][1]) / s, (m[0][2] + m[2][0]) / s, (m[1][2] + m[2][1]) / s, s / 4.0};
  }
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (double& x : q) x /= n;
  return q;
}

M3 RotationOf(const std::array<double, 4>& q) {
  const double w = q[0], x = q[1], y = q[2], z = q[3];
  return M3{{{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
             {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
             {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}}};
}

std::optional<Polar> Decompose(const M3& a) {
  // The rotation is the limit of U <- (U + U^-T) / 2 from U = A (for a
  // mirroring A, from -A): quadratic convergence, a dozen steps at most for
  // any matrix single precision can hold.
  const double sign = Determinant(a) < 0.0 ? -1.0 : 1.0;
  M3 u = a;
  for (auto& row : u)
    for (double& x : row) x *= sign;
  for (int step = 0; step < 64; ++step) {
    M3 inverseT;
    if (!InverseTransposed(u, inverseT)) return std::nullopt;
    double change = 0.0;
    for (size_t i = 0; i < 3; ++i)
      for (size_t j = 0; j < 3; ++j) {
        const double next = 0.5 * (u[i][j] + inverseT[i][j]);
        change = std::max(change, std::fabs(next - u[i][j]));
        u[i][j] = next;
      }
    if (change <= 1e-15) break;
  }
  Polar p;
  p.stretch = Mul(a, Transposed(u));  // a = stretch * u
  p.rotation = Quaternion(u);
  return p;
}

// The rotation a fraction f of the way from qa to qb along the shorter arc.
std::array<double, 4> Slerp(const std::array<double, 4>& qa, std::array<double, 4> qb, double f) {
  double dot = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
  if (dot < 0.0) {
    for (double& x : qb) x = -x;
    dot = -dot;
  }
  double wa = 1.0 - f, wb = f;
  if (dot < 0.9999999) {
    const double angle = std::acos(std::min(1.0, dot));
    wa = std::sin((1.0 - f) * angle) / std::sin(angle);
    wb = std::sin(f * angle) / std::sin(angle);
  }
  std::array<double, 4> q{};
  double n = 0.0;
  for (size_t i = 0; i < 4; ++i) {
    q[i] = wa * qa[i] + wb * qb[i];
    n += q[i] * q[i];
  }
  for (double& x : q) x /= std::sqrt(n);
  return q;
}

// The transform a fraction f of the way from a to b: the position along
// the line between them, the rotation along the arc, the stretch (scale,
// shear) linearly. Interpolating the matrices' entries instead shrinks the
// frame mid-turn (by cos of half the angle: 0.707 between keys 90 degrees
// apart) and flattens it to nothing at 180. Keys whose linear parts are
// equal move only: their entries are interpolated as they always were.
Matrix3 InterpolateMatrices(const Matrix3& a, const Matrix3& b, float f) {
  Matrix3 m;
  m.SetRow(3, Lerp(a.GetRow(3), b.GetRow(3), f));
  if (a.GetRow(0) == b.GetRow(0) && a.GetRow(1) == b.GetRow(1) && a.GetRow(2) == b.GetRow(2)) {
    for (int r = 0; r < 3; ++r) m.SetRow(r, a.GetRow(r));
    return m;
  }
  const std::optional<Polar> pa = Decompose(Linear(a)), pb = Decompose(Linear(b));
  if (!pa || !pb) {
    // A singular key (the host's checks refuse these in scenes) has no
    // rotation to follow.
    for (int r = 0; r < 3; ++r) m.SetRow(r, Lerp(a.GetRow(r), b.GetRow(r), f));
    return m;
  }
  M3 stretch{};
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) stretch[i][j] = pa->stretch[i][j] + (pb->stretch[i][j] - pa->stretch[i][j]) * f;
  const M3 linear = Mul(stretch, RotationOf(Slerp(pa->rotation, pb->rotation, f)));
  for (int r = 0; r < 3; ++r)
    m.SetRow(r, Point3(static_cast<float>(linear[size_t(r)][0]), static_cast<float>(linear[size_t(r)][1]),
                       static_cast<float>(linear[size_t(r)][2])));
  return m;
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
  // Keys from a file come in order: sorting them would cost a buffer of
  // half their size.
  const auto byTime = [](const TransformKey& a, const TransformKey& b) { return a.time < b.time; };
  if (!std::is_sorted(keys.begin(), keys.end(), byTime)) std::stable_sort(keys.begin(), keys.end(), byTime);
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
  // Matrices, and keys of different kinds, turn through their rotations;
  // rotation keys turn by their angles, look-at keys by their targets.
  if (a.kind != b.kind) return InterpolateMatrices(a.ToMatrix(), b.ToMatrix(), f);
  if (a.kind == TransformKey::Kind::Matrix) return InterpolateMatrices(a.matrix, b.matrix, f);
  TransformKey k = a;
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
