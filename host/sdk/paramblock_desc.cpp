#include <algorithm>

#include "iparamb2.h"
#include "iparamm2.h"

void ParamBlockDesc2::Init(std::vector<ParamItem> items) {
  items_ = std::move(items);
  ParamBlockParse parsed = ParseParamBlockItems(items_);
  schema_ = std::move(parsed.schema);
  valid_ = parsed.valid;
  error_ = std::move(parsed.error);
  byId_.reserve(schema_.params.size());
  for (std::size_t k = 0; k < schema_.params.size(); ++k) byId_.emplace_back(schema_.params[k].id, static_cast<int>(k));
  std::sort(byId_.begin(), byId_.end());
  // Registered even when invalid: the class descriptor reports the message.
  if (schema_.classDesc) {
    owner_ = schema_.classDesc;
    owner_->AddParamBlockDesc(this);
  }
}

ParamBlockDesc2::~ParamBlockDesc2() {
  if (owner_) owner_->RemoveParamBlockDesc(this);
}

const RolloutDef* ParamBlockDesc2::GetRollout(int i) const {
  return i >= 0 && i < NumRollouts() ? &schema_.rollouts[static_cast<std::size_t>(i)] : nullptr;
}

const RolloutDef* ParamBlockDesc2::GetRolloutByMap(MapID map) const {
  for (const RolloutDef& r : schema_.rollouts)
    if (r.map == map) return &r;
  return nullptr;
}

int ParamBlockDesc2::IDtoIndex(ParamID id) const {
  auto it = std::lower_bound(byId_.begin(), byId_.end(), std::make_pair(id, -1));
  return it != byId_.end() && it->first == id ? it->second : -1;
}

ParamID ParamBlockDesc2::IndexToID(int index) const {
  const ParamDef* def = GetParamDefByIndex(index);
  return def ? def->id : static_cast<ParamID>(-1);
}

int ParamBlockDesc2::FindByName(std::string_view name) const {
  for (std::size_t k = 0; k < schema_.params.size(); ++k)
    if (schema_.params[k].internalName == name) return static_cast<int>(k);
  return -1;
}

const ParamDef* ParamBlockDesc2::GetParamDef(ParamID id) const { return GetParamDefByIndex(IDtoIndex(id)); }

const ParamDef* ParamBlockDesc2::GetParamDefByIndex(int index) const {
  return index >= 0 && index < Count() ? &schema_.params[static_cast<std::size_t>(index)] : nullptr;
}

void ParamBlockDesc2::InvalidateUI() {
  ++invalidateUICount_;
  InvalidateParamMaps(this);
}
