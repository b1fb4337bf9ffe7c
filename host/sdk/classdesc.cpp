#include "classdesc.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "iparamb2.h"

ClassDesc::~ClassDesc() = default;

namespace {

std::atomic<int> orphanedParamBlockDescs{0};

}  // namespace

ClassDesc2::~ClassDesc2() {
  for (ParamBlockDesc2* d : descs_) {
    d->owner_ = nullptr;
    ++orphanedParamBlockDescs;
  }
}

int ClassDesc2::OrphanedParamBlockDescs() { return orphanedParamBlockDescs.load(); }

void ClassDesc2::AddParamBlockDesc(ParamBlockDesc2* pbd) {
  if (pbd && std::find(descs_.begin(), descs_.end(), pbd) == descs_.end()) descs_.push_back(pbd);
}

void ClassDesc2::RemoveParamBlockDesc(ParamBlockDesc2* pbd) { std::erase(descs_, pbd); }

ParamBlockDesc2* ClassDesc2::GetParamBlockDesc(int i) const {
  return i >= 0 && i < NumParamBlockDescs() ? descs_[static_cast<std::size_t>(i)] : nullptr;
}

ParamBlockDesc2* ClassDesc2::GetParamBlockDescByID(BlockID id) const {
  for (ParamBlockDesc2* d : descs_)
    if (d->ID() == id) return d;
  return nullptr;
}

void ClassDesc2::MakeAutoParamBlocks(ReferenceMaker* owner) {
  if (!owner) return;
  for (ParamBlockDesc2* d : descs_) {
    if (!d->IsValid() || !(d->Flags() & P_AUTO_CONSTRUCT)) continue;
    // Owned here until the owner holds it, so that a failed allocation
    // while installing it leaks nothing.
    auto block = std::make_unique<IParamBlock2>(d);
    if (owner->ReplaceReference(d->RefNo(), block.get()) == REF_SUCCEED) block.release();
  }
}

void ClassDesc2::InvalidateUI() {
  for (ParamBlockDesc2* d : descs_) d->InvalidateUI();
}

bool ClassDesc2::IsValid() const {
  return std::all_of(descs_.begin(), descs_.end(), [](const ParamBlockDesc2* d) { return d->IsValid(); });
}

std::string ClassDesc2::ErrorMessage() const {
  std::string out;
  for (const ParamBlockDesc2* d : descs_) {
    if (d->IsValid()) continue;
    if (!out.empty()) out += '\n';
    out += d->ErrorMessage();
  }
  return out;
}
