// Persistence of a parameter block; the chunk layout is documented with
// IParamBlock2::Save in iparamb2.h.
#include <cstdint>
#include <cstring>

#include "inode.h"
#include "iparamb2.h"

namespace {

// A parameter chunk's bytes before they go to the stream.
class Bytes {
 public:
  void U8(std::uint8_t v) { out_.push_back(v); }
  void I16(std::int16_t v) { Le(static_cast<std::uint16_t>(v), 2); }
  void I32(std::int32_t v) { Le(static_cast<std::uint32_t>(v), 4); }
  void F32(float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    Le(bits, 4);
  }
  void Text(const char* s) { out_.insert(out_.end(), s, s + std::strlen(s) + 1); }
  const std::vector<std::uint8_t>& Get() const { return out_; }

 private:
  void Le(std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::vector<std::uint8_t> out_;
};

// Reads little-endian fields of the current chunk; the first short read
// fails every later one.
class Reader {
 public:
  explicit Reader(ILoad* in) : in_(in) {}
  bool ok() const { return ok_; }
  std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
  std::int16_t I16() { return static_cast<std::int16_t>(static_cast<std::uint16_t>(Le(2))); }
  std::int32_t I32() { return static_cast<std::int32_t>(Le(4)); }
  float F32() {
    const std::uint32_t bits = Le(4);
    float v = 0.0f;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  std::string Text() {
    std::string s;
    if (ok_ && in_->ReadCString(s) != IO_OK) ok_ = false;
    return s;
  }

 private:
  std::uint32_t Le(int n) {
    std::uint8_t b[4] = {0, 0, 0, 0};
    ULONG got = 0;
    if (!ok_ || in_->Read(b, static_cast<ULONG>(n), &got) != IO_OK) {
      ok_ = false;
      return 0;
    }
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(b[i]) << (8 * i);
    return v;
  }
  ILoad* in_;
  bool ok_ = true;
};

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

std::string BlockName(const ParamBlockDesc2& desc) { return "parameter block " + Quoted(desc.InternalName()); }

std::string ParamName(const ParamBlockDesc2& desc, const ParamDef& def) {
  return BlockName(desc) + ", parameter " + Quoted(def.internalName);
}

// Writes one value of `def`'s type; false (with the stream's error set) for
// a node the stream could not find again by its name.
bool WriteValue(Bytes& out, ISave* isave, const ParamBlockDesc2& desc, const ParamDef& def, const ParamValue& v) {
  switch (def.type) {
    case TYPE_FLOAT:
      out.F32(v.f);
      return true;
    case TYPE_RGBA:
      out.F32(v.c.r);
      out.F32(v.c.g);
      out.F32(v.c.b);
      return true;
    case TYPE_INODE: {
      if (!v.node) {
        out.U8(0);
        return true;
      }
      Interface* scene = isave->GetInterface();
      const char* name = v.node->GetName();
      if (!scene) {
        isave->SetError(ParamName(desc, def) + ": node " + Quoted(name) +
                        " cannot be saved by name without its scene");
        return false;
      }
      if (scene->GetINodeByName(name) != v.node) {
        isave->SetError(ParamName(desc, def) + ": node " + Quoted(name) +
                        " would not be found again by its name (not in the scene, or an earlier node has "
                        "the same name)");
        return false;
      }
      out.U8(1);
      out.Text(name);
      return true;
    }
    case TYPE_INT:
    case TYPE_BOOL:
    case TYPE_RADIOBTN_INDEX:
      out.I32(v.i);
      return true;
    case TYPE_STRING:
    case TYPE_FILENAME:
      out.Text(v.s.c_str());
      return true;
  }
  return false;
}

// Reads one value of `def`'s type; false (with the stream's error set) on a
// short read or a node name the scene does not hold.
bool ReadValue(Reader& in, ILoad* iload, const ParamBlockDesc2& desc, const ParamDef& def, ParamValue& v) {
  v = ParamValue();
  switch (def.type) {
    case TYPE_FLOAT:
      v.f = in.F32();
      break;
    case TYPE_RGBA:
      v.c.r = in.F32();
      v.c.g = in.F32();
      v.c.b = in.F32();
      break;
    case TYPE_INODE: {
      const std::uint8_t present = in.U8();
      if (!in.ok() || present == 0) break;
      if (present != 1) {
        iload->SetError(ParamName(desc, def) + ": malformed node reference");
        return false;
      }
      const std::string name = in.Text();
      if (!in.ok()) break;
      Interface* scene = iload->GetInterface();
      v.node = scene ? scene->GetINodeByName(name.c_str()) : nullptr;
      if (!v.node) {
        iload->SetError(ParamName(desc, def) + ": the scene holds no node named " + Quoted(name));
        return false;
      }
      break;
    }
    case TYPE_INT:
    case TYPE_BOOL:
    case TYPE_RADIOBTN_INDEX:
      v.i = in.I32();
      break;
    case TYPE_STRING:
    case TYPE_FILENAME:
      v.s = in.Text();
      break;
  }
  if (!in.ok()) {
    iload->SetError(ParamName(desc, def) + ": the saved value is cut short");
    return false;
  }
  return true;
}

}  // namespace

IOResult IParamBlock2::SaveParam(ISave* isave, const ParamDef& def, const Slot& slot) {
  Bytes out;
  out.I16(def.id);
  out.I32(def.type);
  if (!WriteValue(out, isave, *desc_, def, slot.value)) return IO_ERROR;
  out.I32(static_cast<std::int32_t>(slot.keyTimes.size()));
  for (std::size_t k = 0; k < slot.keyTimes.size(); ++k) {
    out.I32(slot.keyTimes[k]);
    if (!WriteValue(out, isave, *desc_, def, slot.keyValues[k])) return IO_ERROR;
  }
  isave->BeginChunk(kParamChunk);
  ULONG written = 0;
  const IOResult r = isave->Write(out.Get().data(), static_cast<ULONG>(out.Get().size()), &written);
  isave->EndChunk();
  if (r != IO_OK || written != out.Get().size()) {
    isave->SetError(ParamName(*desc_, def) + ": the stream did not take the value");
    return r != IO_OK ? r : IO_ERROR;
  }
  return IO_OK;
}

IOResult IParamBlock2::Save(ISave* isave) {
  Bytes header;
  header.I16(ID());
  header.I32(NumParams());
  isave->BeginChunk(kHeaderChunk);
  ULONG written = 0;
  IOResult r = isave->Write(header.Get().data(), static_cast<ULONG>(header.Get().size()), &written);
  isave->EndChunk();
  if (r != IO_OK) {
    isave->SetError(BlockName(*desc_) + ": the stream did not take the block header");
    return r;
  }
  for (int k = 0; k < NumParams(); ++k) {
    r = SaveParam(isave, *desc_->GetParamDefByIndex(k), slots_[static_cast<std::size_t>(k)]);
    if (r != IO_OK) return r;
  }
  return IO_OK;
}

IOResult IParamBlock2::LoadParam(ILoad* iload, std::vector<Slot>& staged) {
  Reader in(iload);
  const ParamID id = in.I16();
  const std::int32_t type = in.I32();
  if (!in.ok()) {
    iload->SetError(BlockName(*desc_) + ": a parameter chunk is cut short");
    return IO_ERROR;
  }
  const int index = desc_->IDtoIndex(id);
  if (index < 0) return IO_OK;  // a parameter of a later revision of the block
  const ParamDef& def = *desc_->GetParamDefByIndex(index);
  if (type != def.type) {
    iload->SetError(ParamName(*desc_, def) + ": saved with type " + std::to_string(type) + ", declared with type " +
                    std::to_string(def.type));
    return IO_ERROR;
  }
  Slot slot;
  if (!ReadValue(in, iload, *desc_, def, slot.value)) return IO_ERROR;
  const std::int32_t keys = in.I32();
  if (!in.ok() || keys < 0) {
    iload->SetError(ParamName(*desc_, def) + ": malformed key count");
    return IO_ERROR;
  }
  if (keys > 0 && !def.Animatable()) {
    iload->SetError(ParamName(*desc_, def) + ": keys on a parameter that cannot be animated");
    return IO_ERROR;
  }
  // No reserve: a corrupt count fails at the first missing key rather than
  // asking for memory it names.
  for (std::int32_t k = 0; k < keys; ++k) {
    const TimeValue t = in.I32();
    ParamValue v;
    if (!in.ok() || !ReadValue(in, iload, *desc_, def, v)) {
      iload->SetError(ParamName(*desc_, def) + ": key " + std::to_string(k) + " is cut short");
      return IO_ERROR;
    }
    if (!slot.keyTimes.empty() && t <= slot.keyTimes.back()) {
      iload->SetError(ParamName(*desc_, def) + ": key times out of order at key " + std::to_string(k));
      return IO_ERROR;
    }
    slot.keyTimes.push_back(t);
    slot.keyValues.push_back(v);
  }
  staged[static_cast<std::size_t>(index)] = std::move(slot);
  return IO_OK;
}

IOResult IParamBlock2::Load(ILoad* iload) {
  std::vector<Slot> staged = slots_;
  bool sawHeader = false;
  IOResult r;
  while ((r = iload->OpenChunk()) == IO_OK) {
    IOResult inner = IO_OK;
    if (iload->CurChunkID() == kHeaderChunk) {
      Reader in(iload);
      const BlockID id = in.I16();
      in.I32();  // parameter count, informative
      if (!in.ok()) {
        iload->SetError(BlockName(*desc_) + ": the block header is cut short");
        inner = IO_ERROR;
      } else if (id != ID()) {
        iload->SetError(BlockName(*desc_) + ": saved as block " + std::to_string(id) + ", this block is " +
                        std::to_string(ID()));
        inner = IO_ERROR;
      }
      sawHeader = true;
    } else if (iload->CurChunkID() == kParamChunk) {
      if (!sawHeader) {
        iload->SetError(BlockName(*desc_) + ": a parameter before the block header");
        inner = IO_ERROR;
      } else {
        inner = LoadParam(iload, staged);
      }
    }
    const IOResult closed = iload->CloseChunk();
    if (inner != IO_OK) return inner;
    if (closed != IO_OK) {
      iload->SetError(BlockName(*desc_) + ": malformed chunk");
      return closed;
    }
  }
  if (r != IO_END) {
    iload->SetError(BlockName(*desc_) + ": malformed chunk");
    return r;
  }
  if (!sawHeader) {
    iload->SetError(BlockName(*desc_) + ": no block header in the stream");
    return IO_ERROR;
  }
  slots_ = std::move(staged);
  NotifyDependents(FOREVER, PART_ALL, REFMSG_CHANGE);
  return IO_OK;
}
