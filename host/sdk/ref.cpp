#include "ref.h"

#include <algorithm>

ReferenceMaker::~ReferenceMaker() {
  // Leave every target's dependents without deleting anything (a maker
  // destroyed without DeleteMe leaves its targets to their other owners).
  for (ReferenceTarget* t : held_) t->RemoveDependent(this);
}

void ReferenceMaker::DeleteMe() {
  DeleteAllRefs();
  DeleteThis();
}

RefResult ReferenceMaker::ReplaceReference(int which, RefTargetHandle target, BOOL delOld) {
  if (which < 0 || which >= NumRefs()) return REF_FAIL;
  ReferenceTarget* old = GetReference(which);
  if (old == target) return REF_SUCCEED;
  if (target) {
    // Room first, so that a failed allocation leaves both sides as they were.
    held_.reserve(held_.size() + 1);
    target->AddDependent(this);
    held_.push_back(target);
  }
  SetReference(which, target);
  if (old) {
    auto it = std::find(held_.begin(), held_.end(), old);
    if (it != held_.end()) held_.erase(it);
    // The same target may be held by another reference of this maker.
    if (std::find(held_.begin(), held_.end(), old) == held_.end()) {
      old->RemoveDependent(this);
      if (delOld && old->Dependents().empty()) old->DeleteThis();
    }
  }
  return REF_SUCCEED;
}

void ReferenceMaker::DeleteAllRefs() {
  for (int i = 0; i < NumRefs(); ++i)
    if (GetReference(i)) ReplaceReference(i, nullptr, TRUE);
}

ReferenceTarget::~ReferenceTarget() {
  // Tell the makers still referring to this target that it is gone, and
  // clear their references so none dangles.
  std::vector<ReferenceMaker*> makers = dependents_;
  dependents_.clear();
  for (ReferenceMaker* m : makers) {
    PartID part = PART_ALL;
    m->NotifyRefChanged(FOREVER, this, part, REFMSG_TARGET_DELETED);
    for (int i = 0; i < m->NumRefs(); ++i)
      if (m->GetReference(i) == this) m->SetReference(i, nullptr);
    std::erase(m->held_, this);
  }
}

RefResult ReferenceTarget::NotifyDependents(Interval changeInt, PartID partID, RefMessage message) {
  // Copy: a dependent may change references while it is told.
  const std::vector<ReferenceMaker*> makers = dependents_;
  for (ReferenceMaker* m : makers) {
    PartID part = partID;
    if (m->NotifyRefChanged(changeInt, this, part, message) == REF_STOP) return REF_STOP;
  }
  return REF_SUCCEED;
}

ReferenceTarget* ReferenceTarget::Clone(RemapDir&) { return nullptr; }

void ReferenceTarget::BaseClone(ReferenceTarget*, ReferenceTarget*, RemapDir&) {}

void ReferenceTarget::AddDependent(ReferenceMaker* maker) {
  if (std::find(dependents_.begin(), dependents_.end(), maker) == dependents_.end())
    dependents_.push_back(maker);
}

bool ReferenceTarget::RemoveDependent(ReferenceMaker* maker) {
  auto it = std::find(dependents_.begin(), dependents_.end(), maker);
  if (it == dependents_.end()) return false;
  dependents_.erase(it);
  return true;
}

RefTargetHandle RemapDir::CloneRef(RefTargetHandle target) {
  if (!target) return nullptr;
  for (const auto& [from, to] : done_)
    if (from == target) return to;
  done_.reserve(done_.size() + 1);  // a copy made is always recorded
  RefTargetHandle copy = target->Clone(*this);
  done_.emplace_back(target, copy);
  return copy;
}
