// ParseParamBlockItems: a descriptor list of captured items -> a typed schema.
//
// The parser is total: every step checks that the item it needs exists and
// has the expected kind before reading it, every count is checked against
// the items that remain, and every loop consumes at least one item per
// turn, so any sequence of items ends in a schema or in one message.
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

#include "iparamb2.h"

namespace {

constexpr DWORD kKnownBlockFlags = P_AUTO_CONSTRUCT | P_AUTO_UI | P_MULTIMAP;
constexpr DWORD kKnownParamFlags = P_ANIMATABLE;
constexpr DWORD kKnownRollupFlags = APPENDROLL_CLOSED | DONTAUTOCLOSE;
constexpr std::int64_t kMaxDword = 0xFFFFFFFFll;

const char* TypeName(ParamType2 t) {
  switch (t) {
    case TYPE_FLOAT: return "TYPE_FLOAT";
    case TYPE_INT: return "TYPE_INT";
    case TYPE_RGBA: return "TYPE_RGBA";
    case TYPE_BOOL: return "TYPE_BOOL";
    case TYPE_STRING: return "TYPE_STRING";
    case TYPE_FILENAME: return "TYPE_FILENAME";
    case TYPE_RADIOBTN_INDEX: return "TYPE_RADIOBTN_INDEX";
    case TYPE_INODE: return "TYPE_INODE";
  }
  return "an unknown type";
}

bool KnownType(std::int64_t t) {
  return t == TYPE_FLOAT || t == TYPE_INT || t == TYPE_RGBA || t == TYPE_BOOL || t == TYPE_RADIOBTN_INDEX ||
         t == TYPE_INODE || t == TYPE_STRING || t == TYPE_FILENAME;
}

const char* ControlName(ControlType2 c) {
  switch (c) {
    case TYPE_SPINNER: return "TYPE_SPINNER";
    case TYPE_RADIO: return "TYPE_RADIO";
    case TYPE_SINGLECHEKBOX: return "TYPE_SINGLECHEKBOX";
    case TYPE_COLORSWATCH: return "TYPE_COLORSWATCH";
    case TYPE_EDITBOX: return "TYPE_EDITBOX";
    case TYPE_PICKNODEBUTTON: return "TYPE_PICKNODEBUTTON";
    case TYPE_FILEOPENBUTTON: return "TYPE_FILEOPENBUTTON";
    case TYPE_SLIDER: return "TYPE_SLIDER";
  }
  return "an unknown control";
}

bool KnownControl(std::int64_t c) {
  return c == TYPE_SPINNER || c == TYPE_RADIO || c == TYPE_SINGLECHEKBOX || c == TYPE_COLORSWATCH ||
         c == TYPE_PICKNODEBUTTON || c == TYPE_SLIDER || c == TYPE_EDITBOX || c == TYPE_FILEOPENBUTTON;
}

const char* TagName(std::uint32_t tag) {
  switch (tag) {
    case p_default: return "p_default";
    case p_range: return "p_range";
    case p_ui: return "p_ui";
    case p_sclassID: return "p_sclassID";
    case p_enable_ctrls: return "p_enable_ctrls";
    case p_prompt: return "p_prompt";
    case p_end: return "p_end";
  }
  return nullptr;
}

// A tag is an integer item whose 32-bit pattern is a tag code, written either
// as the unsigned code or as the same bits in a signed int.
bool AsTag(const ParamItem& item, std::uint32_t& tag) {
  if (item.kind != ParamItemKind::Int) return false;
  if (item.i < std::numeric_limits<std::int32_t>::min() || item.i > kMaxDword) return false;
  const auto bits = static_cast<std::uint32_t>(item.i);
  if (!TagName(bits)) return false;
  tag = bits;
  return true;
}

std::string Hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string FormatFloat(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

std::string DescribeItem(const ParamItem& item) {
  std::uint32_t tag = 0;
  switch (item.kind) {
    case ParamItemKind::Int:
      if (AsTag(item, tag)) return std::string("the tag ") + TagName(tag);
      return "the integer " + std::to_string(item.i);
    case ParamItemKind::Float: return "the float " + FormatFloat(item.f);
    case ParamItemKind::String: return "the string \"" + item.s + "\"";
    case ParamItemKind::Pointer: return item.p ? "a pointer" : "a null pointer";
    case ParamItemKind::Null: return "null";
  }
  return "an item";
}

bool IsIdentifier(const std::string& s) {
  if (s.empty()) return false;
  for (std::size_t k = 0; k < s.size(); ++k) {
    const char c = s[k];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && k > 0)) return false;
  }
  return true;
}

class ListParser {
 public:
  explicit ListParser(std::span<const ParamItem> items) : items_(items) {}

  ParamBlockParse Run() {
    ParamBlockParse out;
    out.valid = Header() && Rollouts() && Parameters() && CrossChecks();
    param_ = nullptr;  // may point at a parameter that was being read
    if (!out.valid) out.error = error_.empty() ? Context() + ": malformed list" : error_;
    out.schema = std::move(schema_);
    return out;
  }

 private:
  // --- item access ---

  bool AtEnd() const { return pos_ >= items_.size(); }

  // Position of the item about to be read, and of the one just read, as
  // 1-based argument numbers of the descriptor's constructor call.
  std::string Where() const { return " (argument " + std::to_string(pos_ + 1) + ")"; }
  std::string WhereLast() const { return " (argument " + std::to_string(pos_) + ")"; }

  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = Context() + ": " + what;
    return false;
  }

  // Fails when the list has ended where `what` was expected.
  bool Need(const std::string& what) {
    if (!AtEnd()) return true;
    if (param_) return Fail("the list ends inside the parameter where " + what + " was expected (missing p_end?)");
    return Fail("the list ends where " + what + " was expected");
  }

  bool ReadInt(const std::string& what, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
    if (!Need(what)) return false;
    const ParamItem& item = items_[pos_];
    if (item.kind != ParamItemKind::Int)
      return Fail(what + " must be an integer, found " + DescribeItem(item) + Where());
    if (item.i < lo || item.i > hi)
      return Fail(what + " " + std::to_string(item.i) + " is outside " + std::to_string(lo) + ".." +
                  std::to_string(hi) + Where());
    out = item.i;
    ++pos_;
    return true;
  }

  bool ReadFloat(const std::string& what, float& out) {
    if (!Need(what)) return false;
    const ParamItem& item = items_[pos_];
    if (item.kind != ParamItemKind::Float)
      return Fail(what + " must be a float, found " + DescribeItem(item) + Where());
    if (!std::isfinite(item.f) || std::fabs(item.f) > std::numeric_limits<float>::max())
      return Fail(what + " " + FormatFloat(item.f) + " is not a finite single-precision value" + Where());
    out = static_cast<float>(item.f);
    ++pos_;
    return true;
  }

  bool ReadString(const std::string& what, std::string& out) {
    if (!Need(what)) return false;
    const ParamItem& item = items_[pos_];
    if (item.kind != ParamItemKind::String)
      return Fail(what + " must be a string, found " + DescribeItem(item) + Where());
    out = item.s;
    ++pos_;
    return true;
  }

  // --- context for messages ---

  std::string Context() const {
    std::string c = "parameter block";
    if (haveBlockId_) c += " " + std::to_string(schema_.id);
    if (haveBlockName_) c += " \"" + schema_.internalName + "\"";
    if (param_) {
      c += ", parameter " + std::to_string(param_->id);
      if (haveParamName_) c += " \"" + param_->internalName + "\"";
    }
    return c;
  }

  // --- header ---

  bool Header() {
    std::int64_t v = 0;
    if (!ReadInt("the block ID", 0, std::numeric_limits<BlockID>::max(), v)) return false;
    schema_.id = static_cast<BlockID>(v);
    haveBlockId_ = true;
    if (!ReadString("the block's internal name", schema_.internalName)) return false;
    haveBlockName_ = true;
    if (!IsIdentifier(schema_.internalName))
      return Fail("the block's internal name must be an identifier (letters, digits, '_')");
    if (!ReadInt("the block's local-name string ID", 0, 0xFFFF, v)) return false;
    schema_.localName = static_cast<StringResID>(v);

    if (!Need("the class descriptor")) return false;
    const ParamItem& cd = items_[pos_];
    if (cd.kind != ParamItemKind::Pointer || !cd.classDesc)
      return Fail("the class descriptor must be a pointer to a ClassDesc2, found " + DescribeItem(cd) + Where());
    schema_.classDesc = cd.classDesc;
    ++pos_;

    if (!ReadInt("the block flags", 0, kMaxDword, v)) return false;
    schema_.flags = static_cast<DWORD>(v);
    if (schema_.flags & ~kKnownBlockFlags)
      return Fail("unknown block flags " + Hex(schema_.flags & ~kKnownBlockFlags));
    if ((schema_.flags & P_MULTIMAP) && !(schema_.flags & P_AUTO_UI)) return Fail("P_MULTIMAP needs P_AUTO_UI");
    if (schema_.flags & P_AUTO_CONSTRUCT) {
      if (!ReadInt("the reference number (P_AUTO_CONSTRUCT)", 0, 0xFFFF, v)) return false;
      schema_.refNo = static_cast<int>(v);
    }
    return true;
  }

  bool Rollouts() {
    if (!(schema_.flags & P_AUTO_UI)) return true;
    std::int64_t count = 1;
    if (schema_.flags & P_MULTIMAP) {
      const std::int64_t remaining = static_cast<std::int64_t>(items_.size() - pos_) - 1;
      if (!ReadInt("the rollout count (P_MULTIMAP)", 1, std::max<std::int64_t>(1, remaining / 6), count))
        return false;
    }
    for (std::int64_t r = 0; r < count; ++r) {
      RolloutDef roll;
      const std::string which = "rollout " + std::to_string(r);
      std::int64_t v = 0;
      if (schema_.flags & P_MULTIMAP) {
        if (!ReadInt("the map ID of " + which, 0, std::numeric_limits<MapID>::max(), v)) return false;
        roll.map = static_cast<MapID>(v);
        for (const RolloutDef& other : schema_.rollouts)
          if (other.map == roll.map) return Fail("map ID " + std::to_string(v) + " declared twice" + WhereLast());
      }
      if (!ReadInt("the dialog template of " + which, 1, 0xFFFF, v)) return false;
      roll.dialogTemplate = static_cast<int>(v);
      if (!ReadInt("the title string ID of " + which, 0, 0xFFFF, v)) return false;
      roll.title = static_cast<StringResID>(v);
      if (!ReadInt("the flag mask of " + which, std::numeric_limits<std::int32_t>::min(), kMaxDword, v))
        return false;
      roll.flagMask = static_cast<DWORD>(v);
      if (!ReadInt("the rollup flags of " + which, 0, kMaxDword, v)) return false;
      roll.rollupFlags = static_cast<DWORD>(v);
      if (roll.rollupFlags & ~kKnownRollupFlags)
        return Fail("unknown rollup flags " + Hex(roll.rollupFlags & ~kKnownRollupFlags) + " in " + which);
      if (!Need("the dialog procedure of " + which)) return false;
      const ParamItem& proc = items_[pos_];
      // A procedure, or none: nullptr, a null pointer or a literal 0 (NULL).
      if (proc.kind == ParamItemKind::Pointer) roll.dlgProc = proc.p;
      else if (!(proc.kind == ParamItemKind::Null || (proc.kind == ParamItemKind::Int && proc.i == 0)))
        return Fail("the dialog procedure of " + which + " must be a pointer or null, found " + DescribeItem(proc) +
                    Where());
      ++pos_;
      schema_.rollouts.push_back(roll);
    }
    return true;
  }

  // --- parameters ---

  bool Parameters() {
    for (;;) {
      if (AtEnd()) return Fail("the list is not closed by p_end");
      std::uint32_t tag = 0;
      if (AsTag(items_[pos_], tag)) {
        if (tag != p_end) return Fail(std::string(TagName(tag)) + " outside a parameter" + Where());
        ++pos_;
        if (!AtEnd()) return Fail("items after the closing p_end, starting with " + DescribeItem(items_[pos_]) + Where());
        return true;
      }
      if (!Parameter()) return false;
    }
  }

  bool Parameter() {
    ParamDef def;
    std::int64_t v = 0;
    if (!ReadInt("a parameter ID", 0, std::numeric_limits<ParamID>::max(), v)) return false;
    def.id = static_cast<ParamID>(v);
    param_ = &def;
    haveParamName_ = false;
    if (!ReadString("the parameter's internal name", def.internalName)) return false;
    haveParamName_ = true;
    if (!IsIdentifier(def.internalName))
      return Fail("the internal name must be an identifier (letters, digits, '_')");
    for (const ParamDef& other : schema_.params) {
      if (other.id == def.id)
        return Fail("duplicate parameter ID (also used by \"" + other.internalName + "\")");
      if (other.internalName == def.internalName)
        return Fail("duplicate internal name (also used by parameter " + std::to_string(other.id) + ")");
    }
    if (!Need("the parameter type")) return false;
    if (!ReadInt("the parameter type", std::numeric_limits<std::int32_t>::min(), kMaxDword, v)) return false;
    if (!KnownType(v)) {
      --pos_;
      return Fail("unknown parameter type " + std::to_string(v) + Where());
    }
    def.type = static_cast<ParamType2>(v);
    if (!ReadInt("the parameter flags", 0, kMaxDword, v)) return false;
    def.flags = static_cast<DWORD>(v);
    if (def.flags & ~kKnownParamFlags) return Fail("unknown parameter flags " + Hex(def.flags & ~kKnownParamFlags));
    if (!ReadInt("the display-name string ID", 0, 0xFFFF, v)) return false;
    def.localName = static_cast<StringResID>(v);

    std::set<std::uint32_t> seen;
    for (;;) {
      if (!Need("a tag or p_end")) return false;
      std::uint32_t tag = 0;
      const ParamItem& item = items_[pos_];
      if (!AsTag(item, tag)) {
        std::string hint;
        if (item.kind == ParamItemKind::Int && item.i >= 0 && item.i <= std::numeric_limits<ParamID>::max())
          hint = " (missing p_end before the next parameter?)";
        else if (item.kind == ParamItemKind::Int)
          hint = " (unknown tag " + Hex(static_cast<std::uint32_t>(item.i)) + ")";
        return Fail("expected a tag or p_end, found " + DescribeItem(item) + Where() + hint);
      }
      ++pos_;
      if (tag == p_end) break;
      if (!seen.insert(tag).second) return Fail(std::string(TagName(tag)) + " given twice" + WhereLast());
      bool ok = false;
      switch (tag) {
        case p_default: ok = Default(def); break;
        case p_range: ok = Range(def); break;
        case p_ui: ok = Ui(def); break;
        case p_enable_ctrls: ok = EnableCtrls(def); break;
        case p_prompt: ok = Prompt(def); break;
        case p_sclassID: ok = SClass(def); break;
        default: ok = Fail("unexpected tag"); break;
      }
      if (!ok) return false;
    }
    if (!FinishParameter(def, seen.count(p_default) != 0)) return false;
    schema_.params.push_back(std::move(def));
    param_ = nullptr;
    return true;
  }

  bool Default(ParamDef& def) {
    std::int64_t v = 0;
    switch (def.type) {
      case TYPE_FLOAT: return ReadFloat("p_default of a TYPE_FLOAT parameter", def.def.f);
      case TYPE_INT:
      case TYPE_BOOL:
      case TYPE_RADIOBTN_INDEX:
        if (!ReadInt(std::string("p_default of a ") + TypeName(def.type) + " parameter",
                     std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), v))
          return false;
        def.def.i = static_cast<int>(v);
        return true;
      case TYPE_RGBA:
        return ReadFloat("the red of p_default", def.def.c.r) && ReadFloat("the green of p_default", def.def.c.g) &&
               ReadFloat("the blue of p_default", def.def.c.b);
      case TYPE_INODE: return Fail("a TYPE_INODE parameter takes no p_default (its default is no node)");
      case TYPE_STRING:
      case TYPE_FILENAME:
        if (!ReadString(std::string("p_default of a ") + TypeName(def.type) + " parameter", def.def.s)) return false;
        return true;
    }
    return Fail("p_default for an unknown type");
  }

  bool Range(ParamDef& def) {
    def.hasRange = true;
    std::int64_t lo = 0, hi = 0;
    switch (def.type) {
      case TYPE_FLOAT:
        if (!ReadFloat("the low end of p_range", def.rangeLow.f) || !ReadFloat("the high end of p_range", def.rangeHigh.f))
          return false;
        if (def.rangeLow.f > def.rangeHigh.f) return Fail("p_range low end is above its high end");
        return true;
      case TYPE_INT:
      case TYPE_RADIOBTN_INDEX:
        if (!ReadInt("the low end of p_range", std::numeric_limits<std::int32_t>::min(),
                     std::numeric_limits<std::int32_t>::max(), lo) ||
            !ReadInt("the high end of p_range", std::numeric_limits<std::int32_t>::min(),
                     std::numeric_limits<std::int32_t>::max(), hi))
          return false;
        if (lo > hi) return Fail("p_range low end is above its high end");
        def.rangeLow.i = static_cast<int>(lo);
        def.rangeHigh.i = static_cast<int>(hi);
        return true;
      default: return Fail(std::string("p_range does not apply to a ") + TypeName(def.type) + " parameter");
    }
  }

  bool ControlId(const std::string& what, int& out) {
    std::int64_t v = 0;
    if (!ReadInt(what, 1, 0xFFFF, v)) return false;
    out = static_cast<int>(v);
    return true;
  }

  bool Ui(ParamDef& def) {
    if (!(schema_.flags & P_AUTO_UI)) return Fail("p_ui in a block without P_AUTO_UI");
    std::int64_t v = 0;
    if (!ReadInt("the map ID of p_ui", 0, std::numeric_limits<MapID>::max(), v)) return false;
    bool declared = false;
    for (const RolloutDef& r : schema_.rollouts) declared |= r.map == v;
    if (!declared) return Fail("p_ui names map " + std::to_string(v) + ", which the block does not declare");
    def.ui.map = static_cast<MapID>(v);
    if (!ReadInt("the control kind of p_ui", std::numeric_limits<std::int32_t>::min(), kMaxDword, v)) return false;
    if (!KnownControl(v)) {
      --pos_;
      return Fail("unknown control kind " + std::to_string(v) + Where());
    }
    def.ui.control = static_cast<ControlType2>(v);
    const std::string kind = ControlName(def.ui.control);
    auto mismatch = [&] {
      return Fail(std::string("a ") + kind + " cannot edit a " + TypeName(def.type) + " parameter");
    };
    int id = 0;
    switch (def.ui.control) {
      case TYPE_SPINNER:
      case TYPE_SLIDER: {
        if (def.type != TYPE_INT && def.type != TYPE_FLOAT) return mismatch();
        if (!ReadInt("the edit type of the " + kind, EDITTYPE_INT, EDITTYPE_UNIVERSE, v)) return false;
        def.ui.editType = static_cast<EditSpinnerType>(v);
        if (def.type == TYPE_INT && def.ui.editType != EDITTYPE_INT)
          return Fail("a TYPE_INT parameter needs EDITTYPE_INT");
        if (def.type == TYPE_FLOAT && def.ui.editType == EDITTYPE_INT)
          return Fail("a TYPE_FLOAT parameter needs EDITTYPE_FLOAT or EDITTYPE_UNIVERSE");
        if (!ControlId("the edit-field ID of the " + kind, id)) return false;
        def.ui.ctrlIDs.push_back(id);
        if (!ControlId(std::string("the ") + (def.ui.control == TYPE_SPINNER ? "spinner" : "slider") + " ID", id))
          return false;
        def.ui.ctrlIDs.push_back(id);
        if (def.ui.control == TYPE_SPINNER) {
          if (!ReadFloat("the spinner scale", def.ui.scale)) return false;
          if (!(def.ui.scale > 0.0f || def.ui.scale == SPIN_AUTOSCALE))
            return Fail("the spinner scale must be positive or SPIN_AUTOSCALE");
        } else {
          if (!ReadInt("the slider's tick count", 0, 10000, v)) return false;
          def.ui.ticks = static_cast<int>(v);
        }
        return true;
      }
      case TYPE_SINGLECHEKBOX:
        if (def.type != TYPE_BOOL) return mismatch();
        if (!ControlId("the check-box ID", id)) return false;
        def.ui.ctrlIDs.push_back(id);
        return true;
      case TYPE_COLORSWATCH:
        if (def.type != TYPE_RGBA) return mismatch();
        if (!ControlId("the colour-swatch ID", id)) return false;
        def.ui.ctrlIDs.push_back(id);
        return true;
      case TYPE_PICKNODEBUTTON:
        if (def.type != TYPE_INODE) return mismatch();
        if (!ControlId("the pick-button ID", id)) return false;
        def.ui.ctrlIDs.push_back(id);
        return true;
      case TYPE_EDITBOX:
        if (!def.IsStringType()) return mismatch();
        if (!ControlId("the edit-box ID", id)) return false;
        def.ui.ctrlIDs.push_back(id);
        return true;
      case TYPE_FILEOPENBUTTON:
        if (def.type != TYPE_FILENAME) return mismatch();
        if (!ControlId("the file-button ID", id)) return false;
        def.ui.ctrlIDs.push_back(id);
        return true;
      case TYPE_RADIO: {
        if (def.type != TYPE_RADIOBTN_INDEX && def.type != TYPE_INT) return mismatch();
        const auto remaining = static_cast<std::int64_t>(items_.size() - pos_) - 1;
        if (!ReadInt("the radio-button count", 1, std::max<std::int64_t>(1, remaining), v)) return false;
        for (std::int64_t k = 0; k < v; ++k) {
          if (!ControlId("radio button " + std::to_string(k) + "'s ID", id)) return false;
          def.ui.ctrlIDs.push_back(id);
        }
        return true;
      }
    }
    return Fail("unknown control kind");
  }

  bool EnableCtrls(ParamDef& def) {
    if (def.type != TYPE_BOOL && def.type != TYPE_RADIOBTN_INDEX)
      return Fail(std::string("p_enable_ctrls needs a TYPE_BOOL or TYPE_RADIOBTN_INDEX parameter, not ") +
                  TypeName(def.type));
    std::int64_t count = 0;
    const auto remaining = static_cast<std::int64_t>(items_.size() - pos_) - 1;
    if (!ReadInt("the p_enable_ctrls count", 0, std::max<std::int64_t>(0, remaining), count)) return false;
    for (std::int64_t k = 0; k < count; ++k) {
      std::int64_t v = 0;
      if (!ReadInt("enabled parameter " + std::to_string(k), 0, std::numeric_limits<ParamID>::max(), v)) return false;
      def.enableCtrls.push_back(static_cast<ParamID>(v));
    }
    return true;
  }

  bool Prompt(ParamDef& def) {
    if (def.type != TYPE_INODE) return Fail("p_prompt applies to TYPE_INODE parameters only");
    std::int64_t v = 0;
    if (!ReadInt("the p_prompt string ID", 0, 0xFFFF, v)) return false;
    def.prompt = static_cast<StringResID>(v);
    return true;
  }

  bool SClass(ParamDef& def) {
    if (def.type != TYPE_INODE) return Fail("p_sclassID applies to TYPE_INODE parameters only");
    std::int64_t v = 0;
    if (!ReadInt("the p_sclassID super class ID", 0, kMaxDword, v)) return false;
    def.sclassID = static_cast<SClass_ID>(v);
    return true;
  }

  // Checks that need the whole parameter.
  bool FinishParameter(const ParamDef& def, bool hasDefault) {
    if ((def.type == TYPE_INODE || def.IsStringType()) && def.Animatable())
      return Fail(std::string("a ") + TypeName(def.type) + " parameter cannot be P_ANIMATABLE");
    if (def.IsStringType() && def.def.s.find('\0') != std::string::npos)
      return Fail(std::string("p_default of a ") + TypeName(def.type) + " parameter holds a NUL character");
    if (def.type == TYPE_BOOL && def.def.i != 0 && def.def.i != 1)
      return Fail("p_default " + std::to_string(def.def.i) + " of a TYPE_BOOL parameter is neither 0 nor 1");
    if (def.hasRange) {
      if (def.type == TYPE_FLOAT && (def.def.f < def.rangeLow.f || def.def.f > def.rangeHigh.f))
        return Fail("p_default " + FormatFloat(def.def.f) + (hasDefault ? "" : " (implicit)") + " is outside p_range " +
                    FormatFloat(def.rangeLow.f) + ".." + FormatFloat(def.rangeHigh.f));
      if (def.IsIntType() && (def.def.i < def.rangeLow.i || def.def.i > def.rangeHigh.i))
        return Fail("p_default " + std::to_string(def.def.i) + (hasDefault ? "" : " (implicit)") +
                    " is outside p_range " + std::to_string(def.rangeLow.i) + ".." + std::to_string(def.rangeHigh.i));
    }
    if (def.ui.HasControl() && def.ui.control == TYPE_RADIO) {
      const int buttons = static_cast<int>(def.ui.ctrlIDs.size());
      if (def.def.i < 0 || def.def.i >= buttons)
        return Fail("p_default " + std::to_string(def.def.i) + " selects no button of the " + std::to_string(buttons) +
                    " radio buttons");
      if (def.hasRange && (def.rangeLow.i < 0 || def.rangeHigh.i >= buttons))
        return Fail("p_range " + std::to_string(def.rangeLow.i) + ".." + std::to_string(def.rangeHigh.i) +
                    " goes beyond the " + std::to_string(buttons) + " radio buttons");
    }
    return true;
  }

  // Checks that need every parameter.
  bool CrossChecks() {
    for (ParamDef& def : schema_.params) {
      param_ = &def;
      haveParamName_ = true;
      for (ParamID target : def.enableCtrls) {
        if (target == def.id) return Fail("p_enable_ctrls names the parameter itself");
        bool found = false;
        for (const ParamDef& other : schema_.params) found |= other.id == target;
        if (!found) return Fail("p_enable_ctrls names parameter " + std::to_string(target) + ", which does not exist");
      }
      // A control ID binds one parameter per rollout.
      for (int id : def.ui.ctrlIDs) {
        for (const ParamDef& other : schema_.params) {
          if (&other == &def) break;  // each pair once, reported at the later one
          if (other.ui.map != def.ui.map) continue;
          for (int otherId : other.ui.ctrlIDs)
            if (otherId == id)
              return Fail("control " + std::to_string(id) + " of map " + std::to_string(def.ui.map) +
                          " is already bound to parameter " + std::to_string(other.id) + " \"" + other.internalName +
                          "\"");
        }
      }
      for (std::size_t a = 0; a < def.ui.ctrlIDs.size(); ++a)
        for (std::size_t b = a + 1; b < def.ui.ctrlIDs.size(); ++b)
          if (def.ui.ctrlIDs[a] == def.ui.ctrlIDs[b])
            return Fail("control " + std::to_string(def.ui.ctrlIDs[a]) + " is named twice in p_ui");
    }
    param_ = nullptr;
    return true;
  }

  std::span<const ParamItem> items_;
  std::size_t pos_ = 0;
  ParamBlockSchema schema_;
  std::string error_;
  bool haveBlockId_ = false;
  bool haveBlockName_ = false;
  const ParamDef* param_ = nullptr;  // the parameter being read, for messages
  bool haveParamName_ = false;
};

}  // namespace

ParamBlockParse ParseParamBlockItems(std::span<const ParamItem> items) { return ListParser(items).Run(); }
