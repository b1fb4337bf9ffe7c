#include "host/app/params/param_listing.h"

#include <algorithm>

#include "host/app/scene/json_pretty.h"
#include "host/app/params/param_notes.h"
#include "host/app/params/radio_labels.h"
#include "host/platform/windows.h"
#include "host/sdk/iparamb2.h"

namespace velumbra {

namespace {

using ojson = nlohmann::ordered_json;

ojson FloatJson(float x) { return velumbra::FloatJson<ojson>(x); }

const char* TypeName(ParamType2 type) {
  switch (type) {
    case TYPE_FLOAT: return "float";
    case TYPE_INT: return "int";
    case TYPE_RGBA: return "color";
    case TYPE_BOOL: return "bool";
    case TYPE_RADIOBTN_INDEX: return "radio";
    case TYPE_INODE: return "node";
    case TYPE_STRING: return "string";
    case TYPE_FILENAME: return "filename";
  }
  return "?";
}

std::string LoadText(ClassDesc2& cd, int id) {
  if (id <= 0) return {};
  char buffer[256];
  LoadStringA(cd.HInstance(), static_cast<UINT>(id), buffer, sizeof buffer);
  return buffer;
}

std::string RolloutTitle(ClassDesc2& cd, const ParamBlockDesc2& desc, const ParamDef& def) {
  if (!def.ui.HasControl()) return {};
  const RolloutDef* rollout = desc.GetRolloutByMap(def.ui.map);
  return rollout ? LoadText(cd, rollout->title) : std::string();
}

std::string DefaultText(const ParamDef& def) {
  switch (def.type) {
    case TYPE_FLOAT: return FloatText(def.def.f);
    case TYPE_INT:
    case TYPE_RADIOBTN_INDEX:
    case TYPE_BOOL: return std::to_string(def.def.i);
    case TYPE_RGBA: {
      std::string text(1, '[');
      text += FloatText(def.def.c.r);
      text += ',';
      text += FloatText(def.def.c.g);
      text += ',';
      text += FloatText(def.def.c.b);
      text += ']';
      return text;
    }
    case TYPE_INODE: return "none";
    case TYPE_STRING:
    case TYPE_FILENAME: return ojson(def.def.s).dump();  // quoted: it may be empty
  }
  return {};
}

std::string RangeText(const ParamDef& def) {
  if (def.type == TYPE_BOOL) return "0..1";
  if (def.type == TYPE_RGBA) return "0..1 each";
  if (!def.hasRange) return "-";
  if (def.type == TYPE_FLOAT) return FloatText(def.rangeLow.f) + ".." + FloatText(def.rangeHigh.f);
  return std::to_string(def.rangeLow.i) + ".." + std::to_string(def.rangeHigh.i);
}

ojson DefaultJson(const ParamDef& def) {
  switch (def.type) {
    case TYPE_FLOAT: return FloatJson(def.def.f);
    case TYPE_INT:
    case TYPE_RADIOBTN_INDEX:
    case TYPE_BOOL: return def.def.i;
    case TYPE_RGBA: return ojson::array({FloatJson(def.def.c.r), FloatJson(def.def.c.g), FloatJson(def.def.c.b)});
    case TYPE_INODE: return nullptr;
    case TYPE_STRING:
    case TYPE_FILENAME: return def.def.s;
  }
  return nullptr;
}

ojson RangeJson(const ParamDef& def) {
  if (def.type == TYPE_BOOL) return ojson::array({0, 1});
  if (def.type == TYPE_RGBA) return ojson::array({0, 1});
  if (!def.hasRange) return nullptr;
  if (def.type == TYPE_FLOAT) return ojson::array({FloatJson(def.rangeLow.f), FloatJson(def.rangeHigh.f)});
  return ojson::array({def.rangeLow.i, def.rangeHigh.i});
}

}  // namespace

std::string ParamListingText(ClassDesc2& cd) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"ID", "NAME", "TYPE", "DEFAULT", "RANGE", "DISPLAY NAME", "ROLLOUT"});
  for (int b = 0; b < cd.NumParamBlockDescs(); ++b) {
    const ParamBlockDesc2& desc = *cd.GetParamBlockDesc(b);
    for (int i = 0; i < desc.Count(); ++i) {
      const ParamDef& def = *desc.GetParamDefByIndex(i);
      // Quoted: some display names end in a blank.
      std::string display(1, '"');
      display += LoadText(cd, def.localName);
      display += '"';
      rows.push_back({std::to_string(def.id), def.internalName, TypeName(def.type), DefaultText(def), RangeText(def),
                      display, RolloutTitle(cd, desc, def)});
    }
  }
  std::vector<size_t> width(rows.front().size(), 0);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
    }
    out += line + "\n";
  }
  // The names of the radio parameters' choices, which --set and scene files
  // take in place of the index.
  std::string choices;
  for (int b = 0; b < cd.NumParamBlockDescs(); ++b) {
    const ParamBlockDesc2& desc = *cd.GetParamBlockDesc(b);
    for (int i = 0; i < desc.Count(); ++i) {
      const ParamDef& def = *desc.GetParamDefByIndex(i);
      const std::vector<std::string> labels = RadioLabels(desc, def);
      if (!labels.empty()) choices.append("  ").append(def.internalName).append(": ").append(RadioChoicesText(labels)).append("\n");
    }
  }
  if (!choices.empty())
    out += "\nChoices of the radio parameters (give the index or the name, e.g. --set drawmode=\"Simple Additive\"):\n" +
           choices;
  // Advice on parameters of this class that only work together.
  std::string advice;
  for (const ParamAdvice& a : ParamAdvices())
    for (int b = 0; b < cd.NumParamBlockDescs(); ++b)
      if (cd.GetParamBlockDesc(b)->FindByName(a.param) >= 0)
        advice.append("  ").append(a.param).append(": ").append(a.text).append("\n");
  if (!advice.empty()) out += "\nParameters that work together:\n" + advice;
  return out;
}

ojson ParamListingJson(ClassDesc2& cd) {
  ojson blocks = ojson::array();
  for (int b = 0; b < cd.NumParamBlockDescs(); ++b) {
    const ParamBlockDesc2& desc = *cd.GetParamBlockDesc(b);
    ojson params = ojson::array();
    for (int i = 0; i < desc.Count(); ++i) {
      const ParamDef& def = *desc.GetParamDefByIndex(i);
      ojson p;
      p["id"] = def.id;
      p["name"] = def.internalName;
      p["type"] = TypeName(def.type);
      p["default"] = DefaultJson(def);
      p["range"] = RangeJson(def);
      p["displayName"] = LoadText(cd, def.localName);
      p["rollout"] = RolloutTitle(cd, desc, def);
      p["animatable"] = def.Animatable();
      const std::vector<std::string> labels = RadioLabels(desc, def);
      if (!labels.empty()) p["choices"] = labels;
      params.push_back(p);
    }
    ojson block;
    block["id"] = desc.ID();
    block["name"] = desc.InternalName();
    block["params"] = params;
    blocks.push_back(block);
  }
  ojson out;
  const char* name = cd.ClassName();
  out["class"] = name ? name : "";
  out["blocks"] = blocks;
  return out;
}

std::string ParamReferenceMarkdown(ClassDesc2& cd) {
  const char* className = cd.ClassName();
  std::string out = "# " + std::string(className ? className : "") + " parameters\n\n";
  out +=
      "<!-- Generated by `velumbra params --markdown` from the effect's parameter block and the notes in\n"
      "     host/app/params/param_notes.cpp; a test keeps this file current. Edit those, not this. -->\n\n"
      "Every parameter of the effect, by rollout, with the name a scene's `params` and `--set` use.\n"
      "Values may be keyed in a scene (`{\"keys\": [[frame, value], ...]}`): floats and colours\n"
      "interpolate linearly, integers, flags and choices hold from the last key. Colours are\n"
      "`[r, g, b]`, each 0..1, 1 being the effect's full intensity (file white), as a colour picker\n"
      "shows them (display values, sRGB); into a linear OpenEXR plate `velumbra render` paints their\n"
      "linear light (see \"Colour\" in velumbra.md). Times are in frames of the scene's `fps`.\n";
  for (int b = 0; b < cd.NumParamBlockDescs(); ++b) {
    const ParamBlockDesc2& desc = *cd.GetParamBlockDesc(b);
    std::string rollout = "\x01";  // no title yet
    for (int i = 0; i < desc.Count(); ++i) {
      const ParamDef& def = *desc.GetParamDefByIndex(i);
      const std::string title = RolloutTitle(cd, desc, def);
      if (title != rollout) {
        rollout = title;
        out.append("\n## ").append(title.empty() ? std::string("Without a control") : title).append("\n");
      }
      out.append("\n### `").append(def.internalName).append("`\n\n\"");
      out.append(LoadText(cd, def.localName)).append("\" (ID ").append(std::to_string(def.id)).append("): ");
      out.append(TypeName(def.type));
      if (def.type != TYPE_INODE) out.append(", default `").append(DefaultText(def)).append("`");
      const std::vector<std::string> labels = RadioLabels(desc, def);
      if (labels.empty() && def.type != TYPE_INODE) out.append(", range ").append(RangeText(def));
      if (!def.Animatable()) out.append(", not animatable");
      out.append(".");
      if (!labels.empty()) {
        out.append(" Choices:");
        for (size_t k = 0; k < labels.size(); ++k)
          out.append(k ? ", " : " ").append(std::to_string(k)).append(" \"").append(labels[k]).append("\"");
        out.append(".");
      }
      out.append("\n");
      const std::string_view note = ParamNote(def.internalName);
      if (!note.empty()) out.append("\n").append(note).append("\n");
    }
  }
  return out;
}

std::vector<ParamDesc> DefaultParamValues(ClassDesc2& cd) {
  std::vector<ParamDesc> out;
  for (int b = 0; b < cd.NumParamBlockDescs(); ++b) {
    const ParamBlockDesc2& desc = *cd.GetParamBlockDesc(b);
    for (int i = 0; i < desc.Count(); ++i) {
      const ParamDef& def = *desc.GetParamDefByIndex(i);
      if (def.type == TYPE_INODE) continue;
      ParamDesc p;
      p.name = def.internalName;
      p.value = nlohmann::json(DefaultJson(def));
      out.push_back(std::move(p));
    }
  }
  return out;
}

}  // namespace velumbra
