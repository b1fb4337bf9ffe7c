#include <algorithm>
#include <cstdint>
#include <memory>

#include "iparamb2.h"

namespace {

bool AcceptsInt(const ParamDef& d) { return d.IsIntType(); }
bool AcceptsFloat(const ParamDef& d) { return d.type == TYPE_FLOAT; }
bool AcceptsColor(const ParamDef& d) { return d.type == TYPE_RGBA; }
bool AcceptsNode(const ParamDef& d) { return d.type == TYPE_INODE; }
bool AcceptsString(const ParamDef& d) { return d.IsStringType(); }

void PutInt(ParamValue& v, const int& x) { v.i = x; }
void PutFloat(ParamValue& v, const float& x) { v.f = x; }
void PutColor(ParamValue& v, const Color& x) { v.c = x; }

// `valid` narrowed to [start, end].
void Narrow(Interval& valid, TimeValue start, TimeValue end) {
  valid.Set(std::max(valid.Start(), start), std::min(valid.End(), end));
}

// Linear interpolation in single precision; u in [0, 1].
float Lerp(float a, float b, float u) { return a + (b - a) * u; }

}  // namespace

IParamBlock2::IParamBlock2(ParamBlockDesc2* desc) : desc_(desc) {
  slots_.resize(static_cast<std::size_t>(desc_->Count()));
  for (int k = 0; k < desc_->Count(); ++k) slots_[static_cast<std::size_t>(k)].value = desc_->GetParamDefByIndex(k)->def;
}

IParamBlock2::Slot* IParamBlock2::Find(ParamID id, int tabIndex, const ParamDef*& def) {
  if (tabIndex != 0) return nullptr;  // no parameter of this host is a table
  const int index = desc_->IDtoIndex(id);
  if (index < 0) return nullptr;
  def = desc_->GetParamDefByIndex(index);
  return &slots_[static_cast<std::size_t>(index)];
}

ParamValue IParamBlock2::Evaluate(const ParamDef& def, const Slot& slot, TimeValue t, Interval& valid) const {
  const std::vector<TimeValue>& times = slot.keyTimes;
  if (times.empty()) return slot.value;  // constant: valid forever
  const std::size_t n = times.size();
  // First key after t.
  const std::size_t after = static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin());
  if (after == 0) {
    // Before the first key: its value holds.
    Narrow(valid, TIME_NegInfinity, def.IsIntType() ? times[0] - 1 : times[0]);
    return slot.keyValues[0];
  }
  const std::size_t at = after - 1;  // last key at or before t
  if (after == n) {
    Narrow(valid, times[at], TIME_PosInfinity);
    return slot.keyValues[at];
  }
  if (def.IsIntType()) {
    Narrow(valid, times[at], times[after] - 1);
    return slot.keyValues[at];
  }
  Narrow(valid, t, t);
  if (t == times[at]) return slot.keyValues[at];
  // 64-bit differences: keys may lie anywhere on the 32-bit time line.
  const float u = static_cast<float>(static_cast<std::int64_t>(t) - times[at]) /
                  static_cast<float>(static_cast<std::int64_t>(times[after]) - times[at]);
  const ParamValue& a = slot.keyValues[at];
  const ParamValue& b = slot.keyValues[after];
  ParamValue v = a;
  if (def.type == TYPE_FLOAT) {
    v.f = Lerp(a.f, b.f, u);
  } else {
    v.c = Color(Lerp(a.c.r, b.c.r, u), Lerp(a.c.g, b.c.g, u), Lerp(a.c.b, b.c.b, u));
  }
  return v;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, int& v, Interval& valid, int tabIndex) {
  const ParamDef* def = nullptr;
  Slot* slot = Find(id, tabIndex, def);
  if (!slot || !AcceptsInt(*def)) return FALSE;
  v = Evaluate(*def, *slot, t, valid).i;
  return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, float& v, Interval& valid, int tabIndex) {
  const ParamDef* def = nullptr;
  Slot* slot = Find(id, tabIndex, def);
  if (!slot || !AcceptsFloat(*def)) return FALSE;
  v = Evaluate(*def, *slot, t, valid).f;
  return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, Color& v, Interval& valid, int tabIndex) {
  const ParamDef* def = nullptr;
  Slot* slot = Find(id, tabIndex, def);
  if (!slot || !AcceptsColor(*def)) return FALSE;
  v = Evaluate(*def, *slot, t, valid).c;
  return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, INode*& v, Interval& valid, int tabIndex) {
  const ParamDef* def = nullptr;
  Slot* slot = Find(id, tabIndex, def);
  if (!slot || !AcceptsNode(*def)) return FALSE;
  v = Evaluate(*def, *slot, t, valid).node;
  return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue, const MCHAR*& v, Interval&, int tabIndex) {
  const ParamDef* def = nullptr;
  Slot* slot = Find(id, tabIndex, def);
  if (!slot || !AcceptsString(*def)) return FALSE;
  // Never keyed: one value at every time, valid forever.
  v = slot->value.s.c_str();
  return TRUE;
}

const MCHAR* IParamBlock2::GetStr(ParamID id, TimeValue t, int tabIndex) {
  const MCHAR* v = nullptr;
  Interval valid = FOREVER;
  return GetValue(id, t, v, valid, tabIndex) ? v : nullptr;
}

BOOL IParamBlock2::Store(ParamID id, TimeValue t, int tabIndex, bool (*accepts)(const ParamDef&),
                         const ParamValue& v) {
  const ParamDef* def = nullptr;
  Slot* slot = Find(id, tabIndex, def);
  if (!slot || !accepts(*def)) return FALSE;
  if (slot->keyTimes.empty()) {
    slot->value = v;
  } else {
    auto it = std::lower_bound(slot->keyTimes.begin(), slot->keyTimes.end(), t);
    const auto k = static_cast<std::size_t>(it - slot->keyTimes.begin());
    if (it != slot->keyTimes.end() && *it == t) {
      slot->keyValues[k] = v;
    } else {
      slot->keyTimes.insert(it, t);
      slot->keyValues.insert(slot->keyValues.begin() + static_cast<std::ptrdiff_t>(k), v);
    }
  }
  NotifyDependents(FOREVER, PART_ALL, REFMSG_CHANGE);
  return TRUE;
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, int v, int tabIndex) {
  ParamValue pv;
  pv.i = v;
  return Store(id, t, tabIndex, AcceptsInt, pv);
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, float v, int tabIndex) {
  ParamValue pv;
  pv.f = v;
  return Store(id, t, tabIndex, AcceptsFloat, pv);
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, Color v, int tabIndex) {
  ParamValue pv;
  pv.c = v;
  return Store(id, t, tabIndex, AcceptsColor, pv);
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, INode* v, int tabIndex) {
  ParamValue pv;
  pv.node = v;
  return Store(id, t, tabIndex, AcceptsNode, pv);
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, const MCHAR* v, int tabIndex) {
  ParamValue pv;
  pv.s = v ? v : "";
  return Store(id, t, tabIndex, AcceptsString, pv);
}

template <typename T>
BOOL IParamBlock2::StoreKeys(ParamID id, std::span<const ParamKey<T>> keys, bool (*accepts)(const ParamDef&),
                             void (*put)(ParamValue&, const T&)) {
  const ParamDef* def = nullptr;
  Slot* slot = Find(id, 0, def);
  if (!slot || !accepts(*def) || !def->Animatable()) return FALSE;
  std::vector<ParamKey<T>> sorted(keys.begin(), keys.end());
  std::stable_sort(sorted.begin(), sorted.end(), [](const ParamKey<T>& a, const ParamKey<T>& b) { return a.t < b.t; });
  for (std::size_t k = 1; k < sorted.size(); ++k)
    if (sorted[k].t == sorted[k - 1].t) return FALSE;
  slot->keyTimes.clear();
  slot->keyValues.clear();
  for (const ParamKey<T>& key : sorted) {
    ParamValue v;
    put(v, key.value);
    slot->keyTimes.push_back(key.t);
    slot->keyValues.push_back(v);
  }
  NotifyDependents(FOREVER, PART_ALL, REFMSG_CHANGE);
  return TRUE;
}

BOOL IParamBlock2::SetKeys(ParamID id, std::span<const ParamKey<int>> keys) {
  return StoreKeys<int>(id, keys, AcceptsInt, PutInt);
}

BOOL IParamBlock2::SetKeys(ParamID id, std::span<const ParamKey<float>> keys) {
  return StoreKeys<float>(id, keys, AcceptsFloat, PutFloat);
}

BOOL IParamBlock2::SetKeys(ParamID id, std::span<const ParamKey<Color>> keys) {
  return StoreKeys<Color>(id, keys, AcceptsColor, PutColor);
}

int IParamBlock2::NumKeys(ParamID id) const {
  const int index = desc_->IDtoIndex(id);
  return index < 0 ? 0 : static_cast<int>(slots_[static_cast<std::size_t>(index)].keyTimes.size());
}

TimeValue IParamBlock2::GetKeyTime(ParamID id, int i) const {
  const int index = desc_->IDtoIndex(id);
  if (index < 0) return 0;
  const std::vector<TimeValue>& times = slots_[static_cast<std::size_t>(index)].keyTimes;
  return i >= 0 && i < static_cast<int>(times.size()) ? times[static_cast<std::size_t>(i)] : 0;
}

ReferenceTarget* IParamBlock2::Clone(RemapDir& remap) {
  auto copy = std::make_unique<IParamBlock2>(desc_);
  copy->slots_ = slots_;
  BaseClone(this, copy.get(), remap);
  return copy.release();
}
