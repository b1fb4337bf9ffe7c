#include <cmath>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "fuzz/targets/fuzz_targets.h"
#include "host/sdk/classdesc.h"

namespace velumbra::fuzz {

namespace {

constexpr const char* kName = "param_list";

class FuzzDesc : public ClassDesc2 {
 public:
  int IsPublic() override { return 0; }
  void* Create(BOOL) override { return nullptr; }
  const MCHAR* ClassName() override { return "FuzzClass"; }
  SClass_ID SuperClassID() override { return RENDER_EFFECT_CLASS_ID; }
  Class_ID ClassID() override { return Class_ID(0x46555a5a, 1); }
  const MCHAR* Category() override { return "Fuzz"; }
};

constexpr std::uint32_t kTags[] = {p_default, p_range, p_ui, p_sclassID, p_enable_ctrls, p_prompt, p_end};

// The codes a descriptor list is made of besides tags and small numbers.
constexpr std::int64_t kCodes[] = {
    TYPE_FLOAT, TYPE_INT, TYPE_RGBA, TYPE_BOOL, TYPE_RADIOBTN_INDEX, TYPE_INODE,
    TYPE_SPINNER, TYPE_RADIO, TYPE_SINGLECHEKBOX, TYPE_COLORSWATCH, TYPE_PICKNODEBUTTON, TYPE_SLIDER,
    EDITTYPE_INT, EDITTYPE_FLOAT, EDITTYPE_UNIVERSE,
    P_AUTO_CONSTRUCT, P_AUTO_UI, P_MULTIMAP, P_AUTO_CONSTRUCT | P_AUTO_UI, P_AUTO_CONSTRUCT | P_AUTO_UI | P_MULTIMAP,
    P_ANIMATABLE, APPENDROLL_CLOSED, DONTAUTOCLOSE, CAMERA_CLASS_ID, HELPER_CLASS_ID, 0x7FFFFFFF, -0x80000000LL,
    0xFFFFFFFFLL, 1LL << 40,
};

// A second non-null pointer that is not a class descriptor (a dialog
// procedure, say); the parser must never follow it.
const int kOpaque = 0;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Done() const { return pos_ >= size_; }
  std::uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t Next32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{Next()} << (8 * i);
    return v;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A valid schema keeps the promises its users rely on.
void CheckSchema(const ParamBlockSchema& schema) {
  std::set<ParamID> ids;
  std::set<std::string> names;
  std::set<MapID> maps;
  for (const RolloutDef& r : schema.rollouts) maps.insert(r.map);
  for (const ParamDef& d : schema.params) {
    if (!ids.insert(d.id).second) Fault(kName, "a valid schema with a duplicate parameter ID");
    if (d.internalName.empty() || !names.insert(d.internalName).second)
      Fault(kName, "a valid schema with an empty or duplicate internal name");
    if (d.type == TYPE_FLOAT || d.type == TYPE_RGBA) {
      if (!std::isfinite(d.def.f) || !std::isfinite(d.def.c.r) || !std::isfinite(d.def.c.g) || !std::isfinite(d.def.c.b))
        Fault(kName, "a valid schema with a default that is not finite");
    }
    if (d.hasRange && d.type == TYPE_FLOAT && !(d.rangeLow.f <= d.def.f && d.def.f <= d.rangeHigh.f))
      Fault(kName, "a valid schema with a float default outside its range");
    if (d.hasRange && d.IsIntType() && !(d.rangeLow.i <= d.def.i && d.def.i <= d.rangeHigh.i))
      Fault(kName, "a valid schema with an integer default outside its range");
    if (d.ui.HasControl() && !maps.count(d.ui.map)) Fault(kName, "a valid schema with a control in an undeclared map");
    for (ParamID target : d.enableCtrls)
      if (target == d.id) Fault(kName, "a valid schema whose parameter enables itself");
  }
  for (const ParamDef& d : schema.params)
    for (ParamID target : d.enableCtrls)
      if (!ids.count(target)) Fault(kName, "a valid schema enabling a parameter that does not exist");
}

}  // namespace

ClassDesc2* FuzzClassDesc() {
  static FuzzDesc desc;
  return &desc;
}

std::vector<ParamItem> DecodeParamItems(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  std::vector<ParamItem> items;
  while (!in.Done()) {
    switch (in.Next() % 8) {
      case 0: items.push_back(ParamItem::Int(static_cast<std::int8_t>(in.Next()))); break;
      case 1: items.push_back(ParamItem::Int(kTags[in.Next() % std::size(kTags)])); break;
      case 2: items.push_back(ParamItem::Int(static_cast<std::int32_t>(in.Next32()))); break;
      case 3: {
        const std::uint32_t bits = in.Next32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        items.push_back(ParamItem::Float(f));
        break;
      }
      case 4: {
        std::string s(in.Next() % 32, '\0');
        for (char& c : s) c = static_cast<char>(in.Next());
        items.push_back(ParamItem::String(std::move(s)));
        break;
      }
      case 5: items.push_back(ParamItem::Null()); break;
      case 6:
        switch (in.Next() % 3) {
          case 0: items.push_back(ParamItem::Pointer(FuzzClassDesc(), FuzzClassDesc())); break;
          case 1: items.push_back(ParamItem::Pointer(&kOpaque)); break;
          default: items.push_back(ParamItem::Pointer(nullptr)); break;
        }
        break;
      default: items.push_back(ParamItem::Int(kCodes[in.Next() % std::size(kCodes)])); break;
    }
  }
  return items;
}

std::vector<std::uint8_t> EncodeParamItems(std::span<const ParamItem> items) {
  std::vector<std::uint8_t> out;
  for (const ParamItem& item : items) {
    switch (item.kind) {
      case ParamItemKind::Int: {
        const std::int64_t v = item.i;
        bool done = false;
        for (std::size_t t = 0; t < std::size(kTags) && !done; ++t)
          if (v == kTags[t]) out.insert(out.end(), {1, static_cast<std::uint8_t>(t)}), done = true;
        if (done) break;
        if (v >= -128 && v <= 127) {
          out.insert(out.end(), {0, static_cast<std::uint8_t>(static_cast<std::int8_t>(v))});
        } else if (v >= INT32_MIN && v <= INT32_MAX) {
          out.push_back(2);
          Put32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
        } else {
          throw std::invalid_argument("integer item " + std::to_string(v) + " has no encoding");
        }
        break;
      }
      case ParamItemKind::Float: {
        const float f = static_cast<float>(item.f);
        if (static_cast<double>(f) != item.f) throw std::invalid_argument("float item is not single precision");
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        out.push_back(3);
        Put32(out, bits);
        break;
      }
      case ParamItemKind::String:
        if (item.s.size() >= 32) throw std::invalid_argument("string item \"" + item.s + "\" is too long to encode");
        out.insert(out.end(), {4, static_cast<std::uint8_t>(item.s.size())});
        out.insert(out.end(), item.s.begin(), item.s.end());
        break;
      case ParamItemKind::Null: out.push_back(5); break;
      case ParamItemKind::Pointer:
        // Any class descriptor becomes the fuzz descriptor; any other
        // pointer the opaque one.
        out.insert(out.end(), {6, static_cast<std::uint8_t>(item.classDesc ? 0 : item.p ? 1 : 2)});
        break;
    }
  }
  return out;
}

int FuzzParamList(const std::uint8_t* data, std::size_t size) {
  const std::vector<ParamItem> items = DecodeParamItems(data, size);
  const ParamBlockParse a = ParseParamBlockItems(items);
  if (a.valid != a.error.empty()) Fault(kName, "validity and message disagree: \"" + a.error + "\"");
  if (!a.valid && a.error.rfind("parameter block", 0) != 0)
    Fault(kName, "a message that does not name the block: " + a.error);
  if (a.valid) CheckSchema(a.schema);
  const ParamBlockParse b = ParseParamBlockItems(items);
  if (a.valid != b.valid || a.error != b.error) Fault(kName, "two parses of one list differ");
  // The descriptor registers with its class descriptor and leaves it again.
  {
    ParamBlockDesc2 desc{std::vector<ParamItem>(items)};
    if (desc.IsValid() != a.valid || desc.ErrorMessage() != a.error)
      Fault(kName, "the descriptor's verdict differs from the parser's");
  }
  return 0;
}

}  // namespace velumbra::fuzz
