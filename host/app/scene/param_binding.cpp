#include "host/app/scene/param_binding.h"

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "host/app/base/app_error.h"
#include "host/app/scene/json_pretty.h"
#include "host/app/params/radio_labels.h"
#include "host/app/scene/scene_check.h"

namespace velumbra {

namespace {

using json = nlohmann::json;


const char* TypeName(ParamType2 type) {
  switch (type) {
    case TYPE_FLOAT: return "float";
    case TYPE_INT: return "integer";
    case TYPE_RGBA: return "colour";
    case TYPE_BOOL: return "flag";
    case TYPE_RADIOBTN_INDEX: return "choice";
    case TYPE_INODE: return "node";
    case TYPE_STRING: return "text";
    case TYPE_FILENAME: return "file name";
  }
  return "value";
}

// Checks and converts one JSON value for a parameter of `def`'s type.
class ValueReader {
 public:
  // `labels`: the names of a radio parameter's choices (RadioLabels).
  ValueReader(const ParamDef& def, Interface& ip, std::string where, std::string basePath,
              std::vector<std::string> labels = {})
      : def_(def), ip_(ip), where_(std::move(where)), basePath_(std::move(basePath)), labels_(std::move(labels)) {}

  // `path` is below the value's own place.
  [[noreturn]] void Fail(const std::string& path, const std::string& what) const {
    const std::string full = basePath_ + path;
    throw InputError(where_ + (full.empty() ? "" : ": " + full) + ": " + what);
  }

  // What the parameter accepts, for messages.
  std::string Expected() const {
    if (def_.type == TYPE_RADIOBTN_INDEX && !labels_.empty() && def_.hasRange)
      return "an index in " + std::to_string(def_.rangeLow.i) + ".." + std::to_string(def_.rangeHigh.i) +
             " or the name of a choice: " + RadioChoicesText(labels_);
    switch (def_.type) {
      case TYPE_INT:
      case TYPE_RADIOBTN_INDEX:
        if (def_.hasRange)
          return "an integer in " + std::to_string(def_.rangeLow.i) + ".." + std::to_string(def_.rangeHigh.i);
        return "an integer";
      case TYPE_BOOL: return "true, false, 0 or 1";
      case TYPE_FLOAT:
        if (def_.hasRange)
          return "a number in [" + FloatText(def_.rangeLow.f) + ", " + FloatText(def_.rangeHigh.f) + "]";
        return "a finite number";
      case TYPE_RGBA: return "a colour [r, g, b], each a number in [0, 1]";
      case TYPE_INODE:
        return def_.sclassID == CAMERA_CLASS_ID ? "the name of a camera node" : "the name of a node";
      case TYPE_STRING: return "a string";
      case TYPE_FILENAME: return "a file name (a string)";
    }
    return "a value";
  }

  [[noreturn]] void Wrong(const std::string& path, const json& v) const {
    Fail(path, "expected " + Expected() + ", got " + scene_check::Shown(v));
  }

  int Int(const json& v, const std::string& path) const {
    if (def_.type == TYPE_BOOL && v.is_boolean()) return v.get<bool>() ? 1 : 0;
    if (def_.type == TYPE_RADIOBTN_INDEX && v.is_string()) {
      if (const std::optional<int> index = RadioIndexOf(labels_, v.get_ref<const std::string&>())) return *index;
      Wrong(path, v);
    }
    if (!v.is_number()) Wrong(path, v);
    const double x = v.get<double>();
    if (!std::isfinite(x) || std::floor(x) != x) Wrong(path, v);
    long long lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
    if (def_.type == TYPE_BOOL) lo = 0, hi = 1;
    else if (def_.hasRange) lo = def_.rangeLow.i, hi = def_.rangeHigh.i;
    if (!(x >= static_cast<double>(lo) && x <= static_cast<double>(hi))) Wrong(path, v);
    return static_cast<int>(x);
  }

  float Float(const json& v, const std::string& path) const {
    if (!v.is_number()) Wrong(path, v);
    const double x = v.get<double>();
    if (!std::isfinite(x) || std::fabs(x) > std::numeric_limits<float>::max()) Wrong(path, v);
    // Ranges are single-precision values: compare in single precision.
    const float f = static_cast<float>(x);
    if (def_.hasRange && !(f >= def_.rangeLow.f && f <= def_.rangeHigh.f)) Wrong(path, v);
    return f;
  }

  Color Colour(const json& v, const std::string& path) const {
    if (!v.is_array() || v.size() != 3) Wrong(path, v);
    float c[3];
    for (size_t i = 0; i < 3; ++i) {
      const json& x = v[i];
      // A component above 1 would not fit the effect's 16-bit colour.
      if (!x.is_number() || !(x.get<double>() >= 0.0 && x.get<double>() <= 1.0))
        Fail(path + "/" + std::to_string(i), "expected a number in [0, 1] (a colour component of " +
                                                 Quoted(def_.internalName) + "), got " +
                                                 scene_check::Shown(x));
      c[i] = static_cast<float>(x.get<double>());
    }
    return Color(c[0], c[1], c[2]);
  }

  // Text as given (a file name is resolved by the host's file service when
  // the effect reads the file, relative names against the scene's folder).
  std::string Text(const json& v, const std::string& path) const {
    if (!v.is_string()) Wrong(path, v);
    const std::string& s = v.get_ref<const std::string&>();
    if (s.find('\0') != std::string::npos) Fail(path, "the text holds a NUL character");
    return s;
  }

  INode* Node(const json& v, const std::string& path) const {
    if (!v.is_string() || v.get_ref<const std::string&>().empty()) Wrong(path, v);
    const std::string& name = v.get_ref<const std::string&>();
    INode* node = ip_.GetINodeByName(name.c_str());
    if (!node || node->IsRootNode()) Fail(path, "no node named " + Quoted(name));
    if (def_.sclassID != 0) {
      const Object* object = node->GetObjectRef();
      if (!object || object->SuperClassID() != def_.sclassID)
        Fail(path, Quoted(name) + " is not a " +
                       (def_.sclassID == CAMERA_CLASS_ID ? std::string("camera") : "node of the accepted kind") +
                       "; " + Quoted(def_.internalName) + " accepts only " +
                       (def_.sclassID == CAMERA_CLASS_ID ? "cameras" : "that kind of node"));
    }
    return node;
  }

 private:
  const ParamDef& def_;
  Interface& ip_;
  std::string where_;
  std::string basePath_;
  std::vector<std::string> labels_;
};

template <class T>
void StoreKeys(IParamBlock2& block, ParamID id, const std::vector<ParamKey<T>>& keys, const ValueReader& r) {
  if (!block.SetKeys(id, std::span<const ParamKey<T>>(keys)))
    r.Fail("", "the parameter block refused the keys");
}

}  // namespace

std::string SuggestParamName(const IParamBlock2& block, std::string_view name) {
  const ParamBlockDesc2* desc = block.GetDesc();
  std::string best;
  size_t bestDistance = 4;
  for (int i = 0; i < desc->Count(); ++i) {
    const std::string& candidate = desc->GetParamDefByIndex(i)->internalName;
    const size_t d = scene_check::EditDistance(name, candidate);
    if (d < bestDistance) bestDistance = d, best = candidate;
  }
  return best;
}

void BindParam(IParamBlock2& block, const ParamDesc& p, const std::string& where, Interface& ip,
               int ticksPerFrame) {
  const int index = block.FindParamByName(p.name);
  if (index < 0) {
    std::string message = where + (p.jsonPath.empty() ? "" : ": " + p.jsonPath) + ": unknown parameter " +
                          Quoted(p.name);
    const std::string hint = SuggestParamName(block, p.name);
    if (!hint.empty()) message += " (did you mean " + Quoted(hint) + "?)";
    throw InputError(message + "; `velumbra params` lists the parameters");
  }
  const ParamID id = block.IndexToID(index);
  const ParamDef& def = *block.GetDesc()->GetParamDef(id);
  const ValueReader r(def, ip, where, p.jsonPath, RadioLabels(*block.GetDesc(), def));

  if (!p.keyed) {
    // A constant replaces any keys the value had.
    bool ok = false;
    switch (def.type) {
      case TYPE_INT:
      case TYPE_BOOL:
      case TYPE_RADIOBTN_INDEX:
        if (def.Animatable()) block.SetKeys(id, std::span<const ParamKey<int>>());
        ok = block.SetValue(id, 0, r.Int(p.value, "")) != FALSE;
        break;
      case TYPE_FLOAT:
        if (def.Animatable()) block.SetKeys(id, std::span<const ParamKey<float>>());
        ok = block.SetValue(id, 0, r.Float(p.value, "")) != FALSE;
        break;
      case TYPE_RGBA:
        if (def.Animatable()) block.SetKeys(id, std::span<const ParamKey<Color>>());
        ok = block.SetValue(id, 0, r.Colour(p.value, "")) != FALSE;
        break;
      case TYPE_INODE:
        ok = block.SetValue(id, 0, r.Node(p.value, "")) != FALSE;
        break;
      case TYPE_STRING:
      case TYPE_FILENAME:
        ok = block.SetValue(id, 0, r.Text(p.value, "").c_str()) != FALSE;
        break;
    }
    if (!ok) r.Fail("", "the parameter block refused the value");
    return;
  }

  if (!def.Animatable())
    r.Fail("", "the " + std::string(TypeName(def.type)) + " parameter " + Quoted(def.internalName) +
                   " cannot be keyed; give one value");
  const auto keyTime = [&](size_t k) {
    const auto ticks = FrameToTicks(p.keys[k].first, ticksPerFrame);
    if (!ticks) r.Fail("/keys/" + std::to_string(k) + "/0", "the frame is outside the host's time range");
    return *ticks;
  };
  const auto valuePath = [](size_t k) { return "/keys/" + std::to_string(k) + "/1"; };
  switch (def.type) {
    case TYPE_INT:
    case TYPE_BOOL:
    case TYPE_RADIOBTN_INDEX: {
      std::vector<ParamKey<int>> keys;
      for (size_t k = 0; k < p.keys.size(); ++k) keys.push_back({keyTime(k), r.Int(p.keys[k].second, valuePath(k))});
      StoreKeys(block, id, keys, r);
      break;
    }
    case TYPE_FLOAT: {
      std::vector<ParamKey<float>> keys;
      for (size_t k = 0; k < p.keys.size(); ++k)
        keys.push_back({keyTime(k), r.Float(p.keys[k].second, valuePath(k))});
      StoreKeys(block, id, keys, r);
      break;
    }
    case TYPE_RGBA: {
      std::vector<ParamKey<Color>> keys;
      for (size_t k = 0; k < p.keys.size(); ++k)
        keys.push_back({keyTime(k), r.Colour(p.keys[k].second, valuePath(k))});
      StoreKeys(block, id, keys, r);
      break;
    }
    case TYPE_INODE:
    case TYPE_STRING:
    case TYPE_FILENAME:
      break;  // not animatable: refused above
  }
}

void BindParams(IParamBlock2& block, const std::vector<ParamDesc>& params, const std::string& source,
                Interface& ip, int ticksPerFrame) {
  for (const ParamDesc& p : params) BindParam(block, p, source, ip, ticksPerFrame);
}

SetOption ParseSetOption(std::string_view text, int ticksPerFrame) {
  SetOption option;
  option.text = std::string(text);
  if (const size_t bad = FirstNonUtf8Byte(text); bad != std::string_view::npos)
    throw InputError(option.Where() + ": byte " + std::to_string(bad + 1) +
                     " is not UTF-8 text; parameter names and values are UTF-8");
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0)
    throw InputError(option.Where() + ": expected NAME=VALUE, e.g. --set starscount=20000");
  std::string name(text.substr(0, eq));
  if (const size_t dot = name.rfind('.'); dot != std::string::npos) {
    option.effect = name.substr(0, dot);
    name = name.substr(dot + 1);
    if (option.effect.empty() || name.empty())
      throw InputError(option.Where() + ": expected EFFECT.NAME=VALUE with both names, e.g. --set Stars.starscount=20000");
  }
  const std::string valueText(text.substr(eq + 1));
  if (valueText.empty())
    throw InputError(option.Where() + ": the value is missing (NAME=VALUE; strings may be bare words)");
  json value = json::parse(valueText, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) value = valueText;  // a bare word: a string such as a node's name

  // The scene reader's checks (keys form, nulls, finite numbers), with the
  // option as the place named.
  const std::string label = option.Where();
  try {
    option.param = ParseParamValue(value, name, label, "", ticksPerFrame);
  } catch (const InputError& e) {
    // A problem with the value as a whole has no JSON path to show.
    std::string message = e.what();
    const std::string topLevel = label + ": top level: ";
    if (message.rfind(topLevel, 0) == 0) message = label + ": " + message.substr(topLevel.size());
    throw InputError(message);
  }
  option.param.jsonPath.clear();
  return option;
}

}  // namespace velumbra
