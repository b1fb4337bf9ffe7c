// Scene files read: the text parsed into a JSON document
// (scene_json_builder.h), the document read and checked into a SceneDesc.
#include "host/app/scene/scene_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>

#include "host/app/base/app_error.h"
#include "host/app/base/ascii.h"
#include "host/app/base/quoting.h"
#include "host/app/output/output_name.h"
#include "host/app/scene/scene_check.h"
#include "host/app/scene/scene_json_builder.h"
#include "host/sdk/max_types.h"

namespace velumbra {

namespace {

using json = nlohmann::json;
using ojson = nlohmann::ordered_json;
using namespace scene_check;

class SceneReader {
 public:
  SceneReader(const Reporter& reporter, std::filesystem::path baseDir, int ticksPerFrame = TIME_TICKSPERSEC / 30)
      : r_(reporter), baseDir_(std::move(baseDir)), tpf_(ticksPerFrame) {}

  SceneDesc Read(const ojson& root) {
    SceneDesc s;
    s.source = r_.Label();
    ExpectObject(root, "");
    CheckKeys(root, "", {"$schema", "fps", "render", "nodes", "effects"});
    if (root.contains("$schema")) String(root["$schema"], "/$schema", false);
    if (root.contains("fps")) {
      // A number, or a fraction as a string ("24000/1001").
      const bool fraction =
          root["fps"].is_string() && root["fps"].get_ref<const std::string&>().find('/') != std::string::npos;
      const std::optional<double> rate =
          fraction ? ParseFrameRate(root["fps"].get_ref<const std::string&>()) : std::nullopt;
      if (root["fps"].is_string() && !rate)
        r_.Fail("/fps", "expected a number or a fraction such as \"24000/1001\", got " + Shown(root["fps"]));
      s.fps = rate ? *rate : Number(root["fps"], "/fps", kFpsRule);
      CheckFps(r_, s.fps, "/fps");
    }
    tpf_ = WholeTicksPerFrame(s.fps);
    if (root.contains("render")) s.render = ReadRender(root["render"], "/render");
    if (root.contains("nodes")) {
      const ojson& nodes = root["nodes"];
      ExpectArray(nodes, "/nodes");
      for (size_t i = 0; i < nodes.size(); ++i) s.nodes.push_back(ReadNode(nodes[i], Join("/nodes", i)));
    }
    if (root.contains("effects")) {
      const ojson& effects = root["effects"];
      ExpectArray(effects, "/effects");
      for (size_t i = 0; i < effects.size(); ++i)
        s.effects.push_back(ReadEffect(effects[i], Join("/effects", i)));
    }
    Validate(r_, s);
    return s;
  }

  ParamDesc ReadParam(const ojson& v, const std::string& name, const std::string& path) {
    ParamDesc p;
    p.name = name;
    p.jsonPath = path;
    if (v.is_object() && v.contains("keys")) {
      CheckKeys(v, path, {"keys"});
      const std::string keysPath = Join(path, "keys");
      const ojson& keys = v["keys"];
      ExpectArray(keys, keysPath);
      p.keyed = true;
      for (size_t k = 0; k < keys.size(); ++k) {
        const std::string keyPath = Join(keysPath, k);
        const ojson& key = keys[k];
        if (!key.is_array() || key.size() != 2)
          r_.Fail(keyPath, "expected a key [frame, value], got " + Shown(key));
        const int frame = static_cast<int>(Number(key[0], Join(keyPath, 0), FrameRule(tpf_)));
        p.keys.emplace_back(frame, json(key[1]));
      }
    } else {
      p.value = json(v);
    }
    CheckParam(r_, p, path, tpf_);
    return p;
  }

 private:
  void ExpectObject(const ojson& v, const std::string& path) {
    if (!v.is_object()) r_.Fail(path, "expected an object, got " + Shown(v));
  }
  void ExpectArray(const ojson& v, const std::string& path) {
    if (!v.is_array()) r_.Fail(path, "expected an array, got " + Shown(v));
  }

  void CheckKeys(const ojson& object, const std::string& path, std::initializer_list<std::string_view> allowed) {
    for (const auto& [key, value] : object.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) != allowed.end()) continue;
      std::string message = "unknown key";
      std::string_view best;
      size_t bestDistance = 3;
      for (std::string_view a : allowed) {
        const size_t d = EditDistance(key, a);
        if (d < bestDistance) bestDistance = d, best = a;
      }
      if (!best.empty()) message += " (did you mean " + Quoted(best) + "?)";
      std::string list;
      for (std::string_view a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
      r_.Fail(Join(path, key), message + "; expected one of: " + list);
    }
  }

  double Number(const ojson& v, const std::string& path, const Rule& rule) {
    if (!v.is_number() || !rule.Accepts(v.get<double>()))
      r_.Fail(path, "expected " + rule.Describe() + ", got " + Shown(v));
    return v.get<double>();
  }

  std::string String(const ojson& v, const std::string& path, bool nonEmpty) {
    if (!v.is_string() || (nonEmpty && v.get_ref<const std::string&>().empty()))
      r_.Fail(path, std::string(nonEmpty ? "expected a non-empty string" : "expected a string") +
                        ", got " + Shown(v));
    return v.get<std::string>();
  }

  Vec3 ReadVec3(const ojson& v, const std::string& path) {
    if (!v.is_array() || v.size() != 3) r_.Fail(path, "expected 3 numbers [x, y, z], got " + Shown(v));
    Vec3 out{};
    for (size_t i = 0; i < 3; ++i) out[i] = Number(v[i], Join(path, i), kAnyNumber);
    return out;
  }

  // A lens shift [x, y].
  Vec2 ReadShift(const ojson& v, const std::string& path) {
    if (!v.is_array() || v.size() != 2) r_.Fail(path, "expected 2 numbers [x, y], got " + Shown(v));
    return Vec2{Number(v[0], Join(path, 0), kShiftRule), Number(v[1], Join(path, 1), kShiftRule)};
  }

  ChanDesc ReadChan(const ojson& v, const std::string& path) {
    ExpectObject(v, path);
    CheckKeys(v, path, {"file", "up", "rotationOrder"});
    if (!v.contains("file")) r_.Fail(path, "a .chan camera needs a \"file\"");
    ChanDesc c;
    c.file = Resolve(String(v["file"], Join(path, "file"), true), Join(path, "file"), /*pattern=*/false);
    if (v.contains("up")) {
      const std::string up = String(v["up"], Join(path, "up"), true);
      if (up != "y" && up != "z") r_.Fail(Join(path, "up"), "expected \"y\" or \"z\", got " + Shown(v["up"]));
      c.yUp = up == "y";
    }
    if (v.contains("rotationOrder")) {
      c.rotationOrder = String(v["rotationOrder"], Join(path, "rotationOrder"), true);
      const std::set<std::string> orders{"XYZ", "XZY", "YXZ", "YZX", "ZXY", "ZYX"};
      if (!orders.count(c.rotationOrder))
        r_.Fail(Join(path, "rotationOrder"),
                "expected one of XYZ, XZY, YXZ, YZX, ZXY, ZYX, got " + Shown(v["rotationOrder"]));
    }
    return c;
  }

  // A file name of the scene at `path`, from the scene's folder. A NUL would
  // end the name where the system reads it ("in.png\u0000x" opens in.png).
  // An image's name is a frame pattern (output_name.h); the scene's folder
  // joins it escaped, so that only what the scene wrote is a pattern.
  std::filesystem::path Resolve(const std::string& name, const std::string& path, bool pattern = true) const {
    if (name.find('\0') != std::string::npos) r_.Fail(path, "a file name cannot hold a NUL character (\\u0000)");
    std::filesystem::path p(name);
    if (p.is_relative() && !baseDir_.empty())
      p = (pattern ? std::filesystem::path(EscapeFrameName(baseDir_.string())) : baseDir_) / p;
    return p.lexically_normal();
  }

  ImageSource ReadSource(const ojson& v, const std::string& path) {
    const std::string text = String(v, path, true);
    ImageSource source;
    // "file.exr:channel" splits at the first ".exr:" of the last file name:
    // channel names hold colons and dots (Blender's "View:Layer.IndexOB.X").
    for (size_t colon = text.find(':', 4); colon != std::string::npos; colon = text.find(':', colon + 1)) {
      if (colon + 1 < text.size() && text.find('/', colon) == std::string::npos &&
          EqualIgnoringCase(std::string_view(text).substr(colon - 4, 4), ".exr")) {
        source.path = Resolve(text.substr(0, colon), path);
        source.channel = text.substr(colon + 1);
        return source;
      }
    }
    source.path = Resolve(text, path);
    return source;
  }

  RenderDesc ReadRender(const ojson& v, const std::string& path) {
    ExpectObject(v, path);
    CheckKeys(v, path, {"width", "height", "frame", "camera", "background", "image", "objectId", "materialId"});
    RenderDesc rd;
    if (v.contains("width")) rd.width = static_cast<int>(Number(v["width"], Join(path, "width"), kSizeRule));
    if (v.contains("height")) rd.height = static_cast<int>(Number(v["height"], Join(path, "height"), kSizeRule));
    if (v.contains("frame")) rd.frame = static_cast<int>(Number(v["frame"], Join(path, "frame"), FrameRule(tpf_)));
    if (v.contains("camera")) rd.camera = String(v["camera"], Join(path, "camera"), true);
    if (v.contains("background")) {
      const ojson& bg = v["background"];
      const std::string bgPath = Join(path, "background");
      if (!bg.is_array() || bg.size() != 4) r_.Fail(bgPath, "expected 4 numbers [r, g, b, a], got " + Shown(bg));
      for (size_t i = 0; i < 4; ++i) rd.background[i] = Number(bg[i], Join(bgPath, i), kChannelRule);
    }
    if (v.contains("image")) rd.image = Resolve(String(v["image"], Join(path, "image"), true), Join(path, "image"));
    if (v.contains("objectId")) rd.objectId = ReadSource(v["objectId"], Join(path, "objectId"));
    if (v.contains("materialId")) rd.materialId = ReadSource(v["materialId"], Join(path, "materialId"));
    return rd;
  }

  // The transform fields present in `v` (a node or a key).
  TransformFields ReadTransform(const ojson& v, const std::string& path) {
    TransformFields f;
    if (v.contains("matrix")) {
      const ojson& m = v["matrix"];
      const std::string mPath = Join(path, "matrix");
      if (!m.is_array() || m.size() != 4) r_.Fail(mPath, "expected 4 rows of 3 numbers, got " + Shown(m));
      MatrixRows rows{};
      for (size_t i = 0; i < 4; ++i) rows[i] = ReadVec3(m[i], Join(mPath, i));
      f.matrix = rows;
    }
    if (v.contains("position")) f.position = ReadVec3(v["position"], Join(path, "position"));
    if (v.contains("target")) f.target = ReadVec3(v["target"], Join(path, "target"));
    if (v.contains("rotation")) f.rotation = ReadVec3(v["rotation"], Join(path, "rotation"));
    if (v.contains("scale")) f.scale = ReadVec3(v["scale"], Join(path, "scale"));
    return f;
  }

  NodeDesc ReadNode(const ojson& v, const std::string& path) {
    ExpectObject(v, path);
    CheckKeys(v, path,
              {"name", "type", "fov", "shift", "chan", "parent", "matrix", "position", "target", "rotation", "scale",
               "keys"});
    NodeDesc n;
    if (!v.contains("name")) r_.Fail(path, "a node needs a \"name\"");
    n.name = String(v["name"], Join(path, "name"), true);
    if (!v.contains("type")) r_.Fail(path, "a node needs a \"type\" (\"camera\" or \"dummy\")");
    const std::string type = String(v["type"], Join(path, "type"), true);
    if (type == "camera") n.type = NodeType::Camera;
    else if (type == "dummy") n.type = NodeType::Dummy;
    else r_.Fail(Join(path, "type"), "expected \"camera\" or \"dummy\", got " + Shown(v["type"]));
    if (v.contains("fov")) {
      if (n.type != NodeType::Camera) r_.Fail(Join(path, "fov"), "only cameras have a field of view");
      n.fov = Number(v["fov"], Join(path, "fov"), kFovRule);
    }
    if (v.contains("shift")) {
      if (n.type != NodeType::Camera) r_.Fail(Join(path, "shift"), "only cameras have a lens shift");
      n.shift = ReadShift(v["shift"], Join(path, "shift"));
    }
    if (v.contains("chan")) {
      if (n.type != NodeType::Camera) r_.Fail(Join(path, "chan"), "only cameras take a .chan file");
      n.chan = ReadChan(v["chan"], Join(path, "chan"));
      n.chan->fileFov = !v.contains("fov");
      for (const char* field : {"matrix", "position", "target", "rotation", "scale"})
        if (v.contains(field))
          r_.Fail(Join(path, field), "the camera's transform comes from its .chan file; give one or the other");
    }
    if (v.contains("parent") && !v["parent"].is_null())
      n.parent = String(v["parent"], Join(path, "parent"), true);
    n.transform = ReadTransform(v, path);
    if (v.contains("keys")) {
      const ojson& keys = v["keys"];
      const std::string keysPath = Join(path, "keys");
      ExpectArray(keys, keysPath);
      for (size_t k = 0; k < keys.size(); ++k) {
        const ojson& key = keys[k];
        const std::string keyPath = Join(keysPath, k);
        ExpectObject(key, keyPath);
        CheckKeys(key, keyPath, {"frame", "matrix", "position", "target", "rotation", "scale", "fov", "shift"});
        if (!key.contains("frame")) r_.Fail(keyPath, "a key needs a \"frame\"");
        TransformKeyDesc kd;
        kd.frame = static_cast<int>(Number(key["frame"], Join(keyPath, "frame"), FrameRule(tpf_)));
        kd.fields = ReadTransform(key, keyPath);
        for (const char* lens : {"fov", "shift"})
          if (key.contains(lens) && n.type != NodeType::Camera)
            r_.Fail(Join(keyPath, lens), "only cameras have a lens to key");
        if (key.contains("fov")) kd.fov = Number(key["fov"], Join(keyPath, "fov"), kFovRule);
        if (key.contains("shift")) kd.shift = ReadShift(key["shift"], Join(keyPath, "shift"));
        if (n.chan && !kd.fields.Empty())
          r_.Fail(keyPath, "the camera's transform comes from its .chan file; its keys may give fov and shift only");
        if (kd.fields.Empty() && !kd.fov && !kd.shift)
          r_.Fail(keyPath, "a key needs at least one of matrix, position, target, rotation, scale" +
                               std::string(n.type == NodeType::Camera ? ", fov, shift" : ""));
        n.keys.push_back(std::move(kd));
      }
    }
    return n;
  }

  EffectDesc ReadEffect(const ojson& v, const std::string& path) {
    ExpectObject(v, path);
    CheckKeys(v, path, {"class", "name", "params"});
    EffectDesc fx;
    if (!v.contains("class")) r_.Fail(path, "an effect needs a \"class\" (e.g. \"Qe_Velumbra\")");
    fx.className = String(v["class"], Join(path, "class"), true);
    fx.name = v.contains("name") ? String(v["name"], Join(path, "name"), true) : fx.className;
    if (v.contains("params")) {
      const ojson& params = v["params"];
      const std::string paramsPath = Join(path, "params");
      ExpectObject(params, paramsPath);
      for (const auto& [name, value] : params.items()) {
        if (name.empty()) r_.Fail(Join(paramsPath, name), "a parameter needs a name");
        fx.params.push_back(ReadParam(value, name, Join(paramsPath, name)));
      }
    }
    return fx;
  }

  const Reporter& r_;
  std::filesystem::path baseDir_;
  int tpf_;  // of the scene's fps, for the range of frame numbers
};

}  // namespace

SceneDesc ParseScene(std::string_view text, const std::string& label, const std::filesystem::path& baseDir) {
  const Reporter reporter(label);
  SceneDocumentBuilder builder(reporter);
  try {
    // Ordered: parameters keep the order the file gives them.
    ojson::sax_parse(text.begin(), text.end(), &builder);
  } catch (const ojson::parse_error& e) {
    // "file:line:column: message", the position of the byte at fault.
    size_t line = 1, column = 1;
    const size_t end = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    for (size_t i = 0; i < end; ++i) {
      if (text[i] == '\n') ++line, column = 1;
      else ++column;
    }
    std::string what = e.what();
    const size_t colon = what.find(": ");
    if (what.rfind("[json.exception", 0) == 0 && colon != std::string::npos) what = what.substr(colon + 2);
    throw InputError(label + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what);
  } catch (const ojson::out_of_range& e) {
    // A number too large for a double, e.g. 1e999: no finite value to keep.
    std::string what = e.what();
    const size_t bracket = what.find("] ");
    if (bracket != std::string::npos) what = what.substr(bracket + 2);
    reporter.Fail(builder.PendingPath(), what + " (numbers must be finite)");
  }
  return SceneReader(reporter, baseDir).Read(builder.Root());
}

SceneDesc LoadSceneFile(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    throw InputError("cannot read " + file.string() + ": it is a folder, not a scene file");
  std::ifstream in(file, std::ios::binary);
  if (!in) throw InputError("cannot open " + QuotedIfNeeded(file.string()) + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw InputError("cannot read " + file.string());
  return ParseScene(text.str(), file.string(), file.parent_path());
}

ParamDesc ParseParamValue(const nlohmann::json& value, const std::string& name, const std::string& label,
                          const std::string& jsonPath, int ticksPerFrame) {
  const Reporter reporter(label);
  // A value from elsewhere (the command line) has not been through the
  // scene reader's nesting bound; copying and checking it recurse, so its
  // depth is measured first, without recursion.
  std::vector<std::pair<const json*, size_t>> stack{{&value, 1}};  // a container and its depth
  while (!stack.empty()) {
    const auto [v, depth] = stack.back();
    stack.pop_back();
    if (!v->is_structured()) continue;
    if (depth > SceneDocumentBuilder::kMaxDepth)
      reporter.Fail(jsonPath, "values nested more than " + std::to_string(SceneDocumentBuilder::kMaxDepth) +
                                  " levels deep");
    for (const json& element : *v) stack.emplace_back(&element, depth + 1);
  }
  SceneReader reader(reporter, {}, ticksPerFrame);
  return reader.ReadParam(ojson(value), name, jsonPath);
}

}  // namespace velumbra
