#include "effect/qe_velumbra.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
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
  // No exception crosses into the host: an allocation that fails anywhere
  // (the object, its fresh block, the clone of our block) gives null, with
  // the partial copy released and no reference of ours touched.
  Qe_Velumbra* copy = nullptr;
  RefTargetHandle block = nullptr;
  try {
    copy = new Qe_Velumbra();
    // The new effect's own block of defaults gives way to a clone of ours.
    block = remap.CloneRef(pblock);
    if (pblock && !block) {
      copy->DeleteMe();
      return nullptr;
    }
    copy->ReplaceReference(0, block, TRUE);
    BaseClone(this, copy, remap);
    return copy;
  } catch (const std::bad_alloc&) {
    // A cloned block nobody holds yet goes with the partial copy.
    if (block && block->Dependents().empty()) block->DeleteThis();
    if (copy) copy->DeleteMe();
    return nullptr;
  }
}

void Qe_Velumbra::Apply(TimeValue t, Bitmap* bm, RenderGlobalContext*, CheckAbortCallback* cb) {
  // The host boundary: whatever goes wrong is logged, never thrown.
  const std::uint64_t generations = starField.generations();
  try {
    RenderPass(t, bm, cb);
  } catch (const std::bad_alloc&) {
    LogFailure(SYSLOG_ERROR, "not enough memory for the render pass");
  } catch (const std::exception& e) {
    LogFailure(SYSLOG_ERROR, "the render pass failed: %s", e.what());
  } catch (...) {
    LogFailure(SYSLOG_ERROR, "the render pass failed");
  }
  if (starField.generations() == generations) return;  // the field was reused
  if (starField.outOfMemory()) {
    LogFailure(SYSLOG_ERROR, "not enough memory for %u stars", starField.count());
  } else if (starField.fellBackToSerial()) {
    LogFailure(SYSLOG_WARN, "not enough memory to create the stars on %d threads; created on one",
               RenderThreadsGranted());
  }
}

void Qe_Velumbra::LogFailure(DWORD type, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // The name comes from the string table, and a std::string of it can fail
  // to allocate like anything else here.
  const MCHAR* name = GetString(IDS_CLASS_NAME);
  GetHostLog()->LogEntry(type, NO_DIALOG, name ? name : "", "%s", text);
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
