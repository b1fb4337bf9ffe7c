#include "host/app/scene_check.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <vector>

#include <nlohmann/json.hpp>

namespace velumbra::scene_check {

namespace {

using json = nlohmann::json;

std::string PointerToken(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '~') out += "~0";
    else if (c == '/') out += "~1";
    else out += c;
  }
  return out;
}

}  // namespace

std::string Join(const std::string& path, std::string_view key) { return path + "/" + PointerToken(key); }
std::string Join(const std::string& path, size_t index) { return path + "/" + std::to_string(index); }

std::string Quoted(std::string_view s) { return json(std::string(s)).dump(); }

std::string FormatNumber(double x) {
  char text[40];
  std::snprintf(text, sizeof text, "%.10g", x);
  return text;
}

size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

Rule FrameRule(int ticksPerFrame) {
  const double limit = static_cast<double>(INT_MAX / std::max(1, ticksPerFrame));
  return Rule{-limit, limit, false, false, true};
}

void Check(const Reporter& r, double x, const std::string& path, const Rule& rule) {
  if (!rule.Accepts(x)) r.Fail(path, "expected " + rule.Describe() + ", got " + FormatNumber(x));
}

int WholeTicksPerFrame(double fps) {
  if (!kFpsRule.Accepts(fps)) return 0;
  const double ticks = TIME_TICKSPERSEC / fps;
  const double rounded = std::round(ticks);
  return std::fabs(ticks - rounded) <= 1e-9 * ticks && rounded >= 1 ? static_cast<int>(rounded) : 0;
}

void CheckFps(const Reporter& r, double fps, const std::string& path) {
  Check(r, fps, path, kFpsRule);
  if (WholeTicksPerFrame(fps) != 0) return;
  // Suggest the nearest whole frame rates that divide 4800 on either side.
  int below = static_cast<int>(std::floor(fps)), above = static_cast<int>(std::ceil(fps));
  while (below > 1 && TIME_TICKSPERSEC % below != 0) --below;
  while (above < TIME_TICKSPERSEC && TIME_TICKSPERSEC % above != 0) ++above;
  if (above == below) ++above;
  while (above < TIME_TICKSPERSEC && TIME_TICKSPERSEC % above != 0) ++above;
  std::string hint = " (for example ";
  if (below >= 1 && TIME_TICKSPERSEC % below == 0) hint += std::to_string(below) + " or ";
  hint += std::to_string(above) + ")";
  r.Fail(path, "fps " + FormatNumber(fps) + " gives " + FormatNumber(TIME_TICKSPERSEC / fps) +
                   " ticks per frame; the frame rate must divide 4800 ticks per second into a "
                   "whole number of ticks" + hint);
}

namespace {

bool Singular(const MatrixRows& m) {
  const Vec3 &a = m[0], &b = m[1], &c = m[2];
  const double det = a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                     a[2] * (b[0] * c[1] - b[1] * c[0]);
  return !(std::fabs(det) > 0.0) || !std::isfinite(det);
}

void CheckVec3(const Reporter& r, const Vec3& v, const std::string& path) {
  for (size_t i = 0; i < 3; ++i) Check(r, v[i], Join(path, i), kAnyNumber);
}

// The fields alone (a node's own, or a key's merged with them) must describe
// one kind of transform, and not a singular one.
void CheckTransform(const Reporter& r, const TransformFields& f, const std::string& path,
                    const std::string& context) {
  if (f.matrix) {
    for (size_t i = 0; i < 4; ++i) CheckVec3(r, (*f.matrix)[i], Join(Join(path, "matrix"), i));
    if (f.position || f.target || f.rotation || f.scale)
      r.Fail(path, "matrix cannot be combined with position, target, rotation or scale" + context);
    if (Singular(*f.matrix))
      r.Fail(Join(path, "matrix"), "the matrix is singular (its first three rows are linearly dependent)");
  }
  if (f.target && (f.rotation || f.scale))
    r.Fail(path, "target cannot be combined with rotation or scale" + context);
  if (f.position) CheckVec3(r, *f.position, Join(path, "position"));
  if (f.target) CheckVec3(r, *f.target, Join(path, "target"));
  if (f.rotation) CheckVec3(r, *f.rotation, Join(path, "rotation"));
  if (f.scale) {
    CheckVec3(r, *f.scale, Join(path, "scale"));
    for (size_t i = 0; i < 3; ++i)
      if ((*f.scale)[i] == 0.0)
        r.Fail(Join(Join(path, "scale"), i), "a scale of 0 makes the transform singular");
  }
}

// Every number finite, no null and no object anywhere in a parameter value.
void CheckParamValue(const Reporter& r, const json& v, const std::string& path) {
  if (v.is_null()) r.Fail(path, "expected a value, got null");
  if (v.is_object())
    r.Fail(path, "expected a value or {\"keys\": [[frame, value], ...]}, got " + Shown(v));
  if (v.is_number() && !std::isfinite(v.get<double>()))
    r.Fail(path, "expected a finite number, got " + Shown(v));
  if (v.is_array())
    for (size_t i = 0; i < v.size(); ++i) CheckParamValue(r, v[i], Join(path, i));
}

}  // namespace

void CheckParam(const Reporter& r, const ParamDesc& p, const std::string& path, int ticksPerFrame) {
  if (p.name.empty()) r.Fail(path, "a parameter needs a name");
  if (!p.keyed) {
    CheckParamValue(r, p.value, path);
    return;
  }
  const std::string keysPath = Join(path, "keys");
  if (p.keys.empty()) r.Fail(keysPath, "expected at least one [frame, value] key");
  for (size_t k = 0; k < p.keys.size(); ++k) {
    const std::string keyPath = Join(keysPath, k);
    Check(r, p.keys[k].first, Join(keyPath, 0), FrameRule(ticksPerFrame));
    CheckParamValue(r, p.keys[k].second, Join(keyPath, 1));
    for (size_t j = 0; j < k; ++j)
      if (p.keys[j].first == p.keys[k].first)
        r.Fail(Join(keyPath, 0), "frame " + std::to_string(p.keys[k].first) + " is keyed twice (also " +
                                     Join(keysPath, j) + ")");
  }
}

void Validate(const Reporter& r, const SceneDesc& s) {
  CheckFps(r, s.fps, "/fps");
  const int tpf = WholeTicksPerFrame(s.fps);

  const RenderDesc& rd = s.render;
  Check(r, rd.width, "/render/width", kSizeRule);
  Check(r, rd.height, "/render/height", kSizeRule);
  if (static_cast<long long>(rd.width) * rd.height > kMaxScenePixels)
    r.Fail("/render", std::to_string(rd.width) + " x " + std::to_string(rd.height) +
                          " pixels is more than the limit of " + std::to_string(kMaxScenePixels));
  Check(r, rd.frame, "/render/frame", FrameRule(tpf));
  for (size_t i = 0; i < 4; ++i) Check(r, rd.background[i], Join("/render/background", i), kChannelRule);
  if (rd.image && rd.image->empty()) r.Fail("/render/image", "expected a file name");
  if (rd.objectId && rd.objectId->path.empty()) r.Fail("/render/objectId", "expected a file name");
  if (rd.materialId && rd.materialId->path.empty()) r.Fail("/render/materialId", "expected a file name");

  std::map<std::string, size_t> byName;
  for (size_t i = 0; i < s.nodes.size(); ++i) {
    const NodeDesc& n = s.nodes[i];
    const std::string path = Join("/nodes", i);
    if (n.name.empty()) r.Fail(Join(path, "name"), "a node needs a non-empty name");
    const auto [it, added] = byName.emplace(n.name, i);
    if (!added)
      r.Fail(Join(path, "name"), "a node named " + Quoted(n.name) + " already exists (" +
                                     Join("/nodes", it->second) + ")");
    if (n.type == NodeType::Camera) Check(r, n.fov, Join(path, "fov"), kFovRule);
    CheckTransform(r, n.transform, path, "");
    for (size_t k = 0; k < n.keys.size(); ++k) {
      const std::string keyPath = Join(Join(path, "keys"), k);
      Check(r, n.keys[k].frame, Join(keyPath, "frame"), FrameRule(tpf));
      for (size_t j = 0; j < k; ++j)
        if (n.keys[j].frame == n.keys[k].frame)
          r.Fail(Join(keyPath, "frame"), "frame " + std::to_string(n.keys[k].frame) +
                                             " is keyed twice (also " + Join(Join(path, "keys"), j) + ")");
      CheckTransform(r, n.keys[k].fields, keyPath, "");
      CheckTransform(r, MergeKeyFields(n.transform, n.keys[k].fields), keyPath,
                     " (fields a key leaves out come from the node's own fields)");
    }
  }

  // Parents: every name known, and no node its own ancestor.
  std::vector<long> parentOf(s.nodes.size(), -1);
  for (size_t i = 0; i < s.nodes.size(); ++i) {
    if (!s.nodes[i].parent) continue;
    const auto it = byName.find(*s.nodes[i].parent);
    if (it == byName.end())
      r.Fail(Join(Join("/nodes", i), "parent"), "no node named " + Quoted(*s.nodes[i].parent));
    parentOf[i] = static_cast<long>(it->second);
  }
  for (size_t i = 0; i < s.nodes.size(); ++i) {
    std::string chain = s.nodes[i].name;
    long j = parentOf[i];
    for (size_t steps = 0; j >= 0 && steps <= s.nodes.size(); ++steps, j = parentOf[j]) {
      chain += " -> " + s.nodes[j].name;
      if (static_cast<size_t>(j) == i)
        r.Fail(Join(Join("/nodes", i), "parent"),
               "the parents make a cycle: " + chain + " (each name followed by its parent)");
    }
  }

  if (!rd.camera.empty()) {
    const auto it = byName.find(rd.camera);
    if (it == byName.end()) r.Fail("/render/camera", "no node named " + Quoted(rd.camera));
    if (s.nodes[it->second].type != NodeType::Camera)
      r.Fail("/render/camera", Quoted(rd.camera) + " is a dummy, not a camera");
  } else if (!s.RenderCamera()) {
    r.Fail("/render/camera", "the scene has no camera node to render from");
  }

  for (size_t e = 0; e < s.effects.size(); ++e) {
    const EffectDesc& fx = s.effects[e];
    const std::string path = Join("/effects", e);
    if (fx.className.empty()) r.Fail(Join(path, "class"), "expected a class name");
    if (fx.name.empty()) r.Fail(Join(path, "name"), "expected a non-empty name");
    for (size_t p = 0; p < fx.params.size(); ++p) {
      const std::string paramPath = Join(Join(path, "params"), fx.params[p].name);
      CheckParam(r, fx.params[p], paramPath, tpf);
      for (size_t q = 0; q < p; ++q)
        if (fx.params[q].name == fx.params[p].name) r.Fail(paramPath, "the parameter is given twice");
    }
  }
}

}  // namespace velumbra::scene_check
