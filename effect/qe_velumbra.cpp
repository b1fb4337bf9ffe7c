#include "effect/qe_velumbra.h"

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

void Qe_Velumbra::Apply(TimeValue, Bitmap*, RenderGlobalContext*, CheckAbortCallback*) {
  // The render pass lands here.
}
