// Scene files written: a SceneDesc as scene-file JSON, and saved.
#include "host/app/scene/scene_file.h"

#include <cmath>

#include "host/app/base/app_error.h"
#include "host/app/base/atomic_file.h"
#include "host/app/base/quoting.h"
#include "host/app/output/output_name.h"
#include "host/app/scene/json_pretty.h"

namespace velumbra {

namespace {

using json = nlohmann::json;
using ojson = nlohmann::ordered_json;

// Integral values as JSON integers (fps 30, not 30.0); others in the
// shortest form that reads back to the same double.
ojson Num(double x) {
  if (std::floor(x) == x && std::fabs(x) < 9007199254740992.0) return ojson(static_cast<long long>(x));
  return ojson(x);
}

ojson Vec(const Vec3& v) { return ojson::array({Num(v[0]), Num(v[1]), Num(v[2])}); }

// Scene files are JSON, whose strings hold only UTF-8: a path with other
// bytes (a folder named in another encoding) cannot be written into one.
std::string RelativeTo(const std::filesystem::path& p, const std::filesystem::path& baseDir) {
  const std::filesystem::path rel = baseDir.empty() ? std::filesystem::path() : p.lexically_relative(baseDir);
  std::string text = rel.empty() ? p.string() : rel.string();
  if (FirstNonUtf8Byte(text) != std::string::npos)
    throw InputError("cannot write the path " + Quoted(text) +
                     " into a scene file: it is not UTF-8 text (rename the file or its folder)");
  return text;
}

void WriteTransform(ojson& out, const TransformFields& f) {
  if (f.matrix) {
    ojson rows = ojson::array();
    for (const Vec3& row : *f.matrix) rows.push_back(Vec(row));
    out["matrix"] = rows;
  }
  if (f.position) out["position"] = Vec(*f.position);
  if (f.target) out["target"] = Vec(*f.target);
  if (f.rotation) out["rotation"] = Vec(*f.rotation);
  if (f.scale) out["scale"] = Vec(*f.scale);
}

ojson Ordered(const json& v) { return ojson(v); }

}  // namespace

std::string SceneToJson(const SceneDesc& s, const std::filesystem::path& baseDir) {
  ojson root;
  root["fps"] = Num(s.fps);
  const RenderDesc& rd = s.render;
  ojson render;
  render["width"] = rd.width;
  render["height"] = rd.height;
  render["frame"] = rd.frame;
  if (!rd.camera.empty()) render["camera"] = rd.camera;
  render["background"] = ojson::array({Num(rd.background[0]), Num(rd.background[1]),
                                       Num(rd.background[2]), Num(rd.background[3])});
  // Image names are frame patterns, held with the scene's folder escaped.
  const std::filesystem::path patternDir = baseDir.empty() ? baseDir : std::filesystem::path(EscapeFrameName(baseDir.string()));
  if (rd.image) render["image"] = RelativeTo(*rd.image, patternDir);
  const auto source = [&](const ImageSource& src) {
    std::string text = RelativeTo(src.path, patternDir);
    if (!src.channel.empty()) text += ":" + src.channel;
    return text;
  };
  if (rd.objectId) render["objectId"] = source(*rd.objectId);
  if (rd.materialId) render["materialId"] = source(*rd.materialId);
  root["render"] = render;

  ojson nodes = ojson::array();
  for (const NodeDesc& n : s.nodes) {
    ojson node;
    node["name"] = n.name;
    node["type"] = n.type == NodeType::Camera ? "camera" : "dummy";
    if (n.type == NodeType::Camera && (!n.chan || !n.chan->fileFov)) node["fov"] = Num(n.fov);
    if (n.type == NodeType::Camera && (n.shift[0] != 0 || n.shift[1] != 0))
      node["shift"] = ojson::array({Num(n.shift[0]), Num(n.shift[1])});
    if (n.chan) {
      ojson chan;
      chan["file"] = RelativeTo(n.chan->file, baseDir);
      chan["up"] = n.chan->yUp ? "y" : "z";
      chan["rotationOrder"] = n.chan->rotationOrder;
      node["chan"] = chan;
    }
    if (n.parent) node["parent"] = *n.parent;
    WriteTransform(node, n.transform);
    if (!n.keys.empty()) {
      ojson keys = ojson::array();
      for (const TransformKeyDesc& k : n.keys) {
        ojson key;
        key["frame"] = k.frame;
        WriteTransform(key, k.fields);
        if (k.fov) key["fov"] = Num(*k.fov);
        if (k.shift) key["shift"] = ojson::array({Num((*k.shift)[0]), Num((*k.shift)[1])});
        keys.push_back(key);
      }
      node["keys"] = keys;
    }
    nodes.push_back(node);
  }
  root["nodes"] = nodes;

  ojson effects = ojson::array();
  for (const EffectDesc& fx : s.effects) {
    ojson effect;
    effect["class"] = fx.className;
    effect["name"] = fx.name;
    ojson params = ojson::object();
    for (const ParamDesc& p : fx.params) {
      if (!p.keyed) {
        params[p.name] = Ordered(p.value);
        continue;
      }
      ojson keys = ojson::array();
      for (const auto& [frame, value] : p.keys) keys.push_back(ojson::array({frame, Ordered(value)}));
      params[p.name] = ojson{{"keys", keys}};
    }
    effect["params"] = params;
    effects.push_back(effect);
  }
  root["effects"] = effects;
  return PrettyJson(root) + "\n";
}

void SaveSceneFile(const SceneDesc& scene, const std::filesystem::path& file) {
  ValidateScene(scene);  // never write a file that would not load
  WriteFileAtomically(file, SceneToJson(scene, file.parent_path()));
}

}  // namespace velumbra
