#include "reference_io.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "iparamb2.h"

namespace {

constexpr std::uint8_t kEmptyReference = 0;
constexpr std::uint8_t kBlockReference = 1;

IOResult WriteSlot(ISave* isave, int index, std::uint8_t kind, BlockID id) {
  std::uint8_t bytes[7];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(index) >> (8 * i));
  bytes[4] = kind;
  bytes[5] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(id));
  bytes[6] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(id) >> 8);
  const ULONG n = kind == kBlockReference ? 7 : 5;
  isave->BeginChunk(kReferenceSlotChunk);
  ULONG written = 0;
  const IOResult r = isave->Write(bytes, n, &written);
  isave->EndChunk();
  return r == IO_OK && written == n ? IO_OK : (r == IO_OK ? IO_ERROR : r);
}

IOResult Failed(ISave* isave, IOResult r, std::string message) {
  isave->SetError(std::move(message));
  return r == IO_OK ? IO_ERROR : r;
}

IOResult Failed(ILoad* iload, IOResult r, std::string message) {
  iload->SetError(std::move(message));
  return r == IO_OK ? IO_ERROR : r;
}

// One reference read from the stream, not yet installed.
struct LoadedReference {
  int index = -1;
  IParamBlock2* block = nullptr;  // null: the reference is empty
};

void DeleteBlocks(std::vector<LoadedReference>& refs) {
  for (LoadedReference& ref : refs)
    if (ref.block) ref.block->DeleteThis();
  refs.clear();
}

struct Slot {
  int index = -1;
  std::uint8_t kind = kEmptyReference;
  BlockID id = 0;
};

IOResult ReadSlot(ILoad* iload, Slot& slot) {
  std::uint8_t bytes[5];
  ULONG got = 0;
  if (iload->Read(bytes, 5, &got) != IO_OK) return IO_ERROR;
  std::uint32_t index = 0;
  for (int i = 0; i < 4; ++i) index |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  slot.index = static_cast<int>(static_cast<std::int32_t>(index));
  slot.kind = bytes[4];
  if (slot.kind == kEmptyReference) return IO_OK;
  if (slot.kind != kBlockReference) return IO_ERROR;
  std::uint8_t id[2];
  if (iload->Read(id, 2, &got) != IO_OK) return IO_ERROR;
  slot.id = static_cast<BlockID>(static_cast<std::uint16_t>(id[0] | (id[1] << 8)));
  return IO_OK;
}

// Reads the inside of one reference chunk into `out` (a new block, or an
// empty reference).
IOResult ReadReference(ReferenceMaker* maker, ClassDesc2* classDesc, ILoad* iload, LoadedReference& out) {
  Slot slot;
  bool sawSlot = false;
  IOResult r;
  while ((r = iload->OpenChunk()) == IO_OK) {
    IOResult inner = IO_OK;
    if (iload->CurChunkID() == kReferenceSlotChunk) {
      if (ReadSlot(iload, slot) != IO_OK) {
        inner = Failed(iload, IO_ERROR, "a malformed reference entry");
      } else if (slot.index < 0 || slot.index >= maker->NumRefs()) {
        inner = Failed(iload, IO_ERROR,
                       "reference " + std::to_string(slot.index) + " is saved, but the object has " +
                           std::to_string(maker->NumRefs()) + " references");
      } else {
        sawSlot = true;
        out.index = slot.index;
      }
    } else if (iload->CurChunkID() == kReferenceBlockChunk) {
      ParamBlockDesc2* desc = nullptr;
      if (!sawSlot || slot.kind != kBlockReference) {
        inner = Failed(iload, IO_ERROR, "a parameter block without its reference entry");
      } else if (out.block) {
        inner = Failed(iload, IO_ERROR, "two parameter blocks for reference " + std::to_string(slot.index));
      } else if (!classDesc || !(desc = classDesc->GetParamBlockDescByID(slot.id))) {
        inner = Failed(iload, IO_ERROR,
                       "reference " + std::to_string(slot.index) + ": the class has no parameter block " +
                           std::to_string(slot.id));
      } else {
        out.block = new IParamBlock2(desc);
        inner = out.block->Load(iload);
      }
    }
    const IOResult closed = iload->CloseChunk();
    if (inner != IO_OK) return inner;
    if (closed != IO_OK) return Failed(iload, closed, "a malformed reference chunk");
  }
  if (r != IO_END) return Failed(iload, r, "a malformed reference chunk");
  if (!sawSlot) return Failed(iload, IO_ERROR, "a reference chunk without its entry");
  if (slot.kind == kBlockReference && !out.block)
    return Failed(iload, IO_ERROR, "reference " + std::to_string(slot.index) + ": its parameter block is missing");
  return IO_OK;
}

}  // namespace

IOResult SaveWithReferences(ReferenceMaker* maker, ISave* isave) {
  isave->BeginChunk(kObjectChunk);
  IOResult r = maker->Save(isave);
  isave->EndChunk();
  if (r != IO_OK) return Failed(isave, r, "the object's own data could not be saved");
  for (int i = 0; i < maker->NumRefs(); ++i) {
    ReferenceTarget* target = maker->GetReference(i);
    IParamBlock2* block = nullptr;
    if (target) {
      block = target->SuperClassID() == PARAMETER_BLOCK2_CLASS_ID ? dynamic_cast<IParamBlock2*>(target) : nullptr;
      if (!block) {
        std::string cls;
        target->GetClassName(cls);
        return Failed(isave, IO_ERROR,
                      "reference " + std::to_string(i) + " is a " + (cls.empty() ? "target" : cls) +
                          ", which the host does not save");
      }
    }
    isave->BeginChunk(kReferenceChunk);
    r = WriteSlot(isave, i, block ? kBlockReference : kEmptyReference, block ? block->ID() : 0);
    if (r == IO_OK && block) {
      isave->BeginChunk(kReferenceBlockChunk);
      r = block->Save(isave);
      isave->EndChunk();
    }
    isave->EndChunk();
    if (r != IO_OK) return Failed(isave, r, "reference " + std::to_string(i) + " could not be saved");
  }
  return IO_OK;
}

IOResult LoadWithReferences(ReferenceMaker* maker, ClassDesc2* classDesc, ILoad* iload) {
  std::vector<LoadedReference> refs;
  bool sawObject = false;
  IOResult r;
  while ((r = iload->OpenChunk()) == IO_OK) {
    IOResult inner = IO_OK;
    if (iload->CurChunkID() == kObjectChunk) {
      sawObject = true;
      inner = maker->Load(iload);
      if (inner != IO_OK) Failed(iload, inner, "the object's own data could not be loaded");
    } else if (iload->CurChunkID() == kReferenceChunk) {
      LoadedReference ref;
      inner = ReadReference(maker, classDesc, iload, ref);
      refs.push_back(ref);  // deleted below on a fault, installed otherwise
      for (std::size_t k = 0; inner == IO_OK && k + 1 < refs.size(); ++k)
        if (refs[k].index == ref.index)
          inner = Failed(iload, IO_ERROR, "reference " + std::to_string(ref.index) + " is saved twice");
    }
    const IOResult closed = iload->CloseChunk();
    if (inner == IO_OK && closed != IO_OK) inner = Failed(iload, closed, "a malformed chunk");
    if (inner != IO_OK) {
      DeleteBlocks(refs);
      return inner;
    }
  }
  if (r != IO_END || !sawObject) {
    DeleteBlocks(refs);
    return Failed(iload, r == IO_END ? IO_ERROR : r, sawObject ? "a malformed chunk" : "no object in the stream");
  }
  // Every reference the object has must be in the stream: a stream that
  // ends early at a chunk boundary is still a lost reference.
  for (int i = 0; i < maker->NumRefs(); ++i) {
    if (std::none_of(refs.begin(), refs.end(), [&](const LoadedReference& ref) { return ref.index == i; })) {
      DeleteBlocks(refs);
      return Failed(iload, IO_ERROR, "reference " + std::to_string(i) + " is missing from the stream");
    }
  }
  for (LoadedReference& ref : refs) {
    if (maker->ReplaceReference(ref.index, ref.block, TRUE) != REF_SUCCEED) {
      if (ref.block) ref.block->DeleteThis();
      ref.block = nullptr;
      r = Failed(iload, IO_ERROR, "the object refused reference " + std::to_string(ref.index));
    } else if (ref.block) {
      // The object learns of its new values (its rollouts show them).
      ref.block->NotifyDependents(FOREVER, PART_ALL, REFMSG_CHANGE);
    }
    ref.block = nullptr;
  }
  return r == IO_END ? IO_OK : r;
}
