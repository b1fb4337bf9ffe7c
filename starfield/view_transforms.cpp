#include "starfield/view_transforms.h"

#include <utility>
#include <vector>

#include "starfield/balance_curve.h"

namespace {

// The absolute per-element tolerance within which a scene camera's view is
// taken to be the render's view.
constexpr float kViewTolerance = 0.01f;

bool IsCamera(INode* node) {
  Object* obj = node->GetObjectRef();
  return obj && obj->SuperClassID() == CAMERA_CLASS_ID;
}

}  // namespace

Matrix3 GetCameraViewMatrix(INode* node, TimeValue t, bool domain3d) {
  Matrix3 m = Inverse(node->GetNodeTM(t));
  if (!domain3d) m.NoTrans();
  return m;
}

Matrix3 GetOriginMatrix(INode* node, TimeValue t, bool domain3d) {
  Matrix3 m = node->GetNodeTM(t);
  if (!domain3d) m.NoTrans();
  return m;
}

INode* FindCameraByView(INode* parent, TimeValue t, const Matrix3& view) {
  if (!parent || parent->NumberOfChildren() == 0) return nullptr;
  // Each entry: a node whose children are being visited, and the index of
  // the next child. A child is examined, then its own descendants, before
  // its next sibling: the order of the recursive search.
  std::vector<std::pair<INode*, int>> stack{{parent, 0}};
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next >= node->NumberOfChildren()) {
      stack.pop_back();
      continue;
    }
    INode* child = node->GetChildNode(next++);
    if (!child) continue;
    if (IsCamera(child) && view.Equals(Inverse(child->GetNodeTM(t)), kViewTolerance)) return child;
    if (child->NumberOfChildren() > 0) stack.emplace_back(child, 0);
  }
  return nullptr;
}
