#include "effect/qe_velumbra.h"

#include <new>

#include "effect/qe_velumbra_params.h"
#include "plugin/class_desc.h"
#include "plugin/strings.h"
#include "resources/resource.h"

namespace {

std::string TextOf(const MCHAR* s) { return s ? std::string(s) : std::string(); }

}  // namespace

Qe_Velumbra::Qe_Velumbra() {
  pblock = nullptr;
  GetQe_VelumbraDesc()->MakeAutoParamBlocks(this);
}

// The star array goes with starField; the block is the reference system's.
Qe_Velumbra::~Qe_Velumbra() = default;

void Qe_Velumbra::DeleteThis() { delete this; }

// The table holds no string 101 (the lookup gives no text): an empty name.
std::string Qe_Velumbra::SubAnimName(int) { return TextOf(GetString(101)); }

IOResult Qe_Velumbra::Save(ISave* isave) {
  // The base writes the effect's name; a failed write must not be reported
  // as success, or the scene is lost without a word.
  const IOResult res = SpecialFX::Save(isave);
  return res == IO_OK ? IO_OK : res;
}

IOResult Qe_Velumbra::Load(ILoad* iload) {
  const IOResult res = SpecialFX::Load(iload);
  return res == IO_OK ? IO_OK : res;
}

ReferenceTarget* Qe_Velumbra::Clone(RemapDir& remap) {
  Qe_Velumbra* copy = new (std::nothrow) Qe_Velumbra();
  if (!copy) return nullptr;
  // The new effect's own block of defaults gives way to a clone of ours.
  copy->ReplaceReference(0, remap.CloneRef(pblock), TRUE);
  BaseClone(this, copy, remap);
  return copy;
}

void Qe_Velumbra::GetClassName(std::string& s) { s = TextOf(GetString(IDS_CLASS_NAME)); }

std::string Qe_Velumbra::GetName() { return TextOf(GetString(IDS_CLASS_NAME)); }

IParamBlock2* Qe_Velumbra::GetParamBlockByID(BlockID id) {
  return pblock && static_cast<BlockID>(pblock->ID()) == id ? pblock : nullptr;
}

void Qe_Velumbra::SetReference(int, RefTargetHandle target) { pblock = static_cast<IParamBlock2*>(target); }

RefResult Qe_Velumbra::NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage message) {
  if (message == REFMSG_CHANGE) qe_velumbra_param_blk.InvalidateUI();
  return REF_SUCCEED;
}
