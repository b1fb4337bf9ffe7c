#include "host/app/scene/scene_check.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/app/image/image_limits.h"
#include "host/app/scene/scene_build.h"

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
  // A tiny rate gives more ticks a frame than an int holds: not a whole
  // number the host can use.
  if (!(rounded >= 1.0 && rounded <= 2147483647.0)) return 0;
  if (std::fabs(ticks - rounded) <= 1e-9 * ticks) return static_cast<int>(rounded);
  // NTSC: N * 1000/1001 takes the ticks of N.
  const double whole = std::round(fps * 1.001);
  if (whole >= 1.0 && whole <= TIME_TICKSPERSEC && std::fabs(fps - whole * 1000.0 / 1001.0) <= 1e-3 &&
      TIME_TICKSPERSEC % static_cast<int>(whole) == 0)
    return TIME_TICKSPERSEC / static_cast<int>(whole);
  return 0;
}

std::optional<double> ParseFrameRate(std::string_view text) {
  const auto number = [](std::string_view t) -> std::optional<double> {
    if (t.empty() || t.size() > 40) return std::nullopt;
    const std::string s(t);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
  };
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) return number(text);
  const std::optional<double> a = number(text.substr(0, slash)), b = number(text.substr(slash + 1));
  if (!a || !b || !(*b > 0.0)) return std::nullopt;
  return *a / *b;
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
                   "whole number of ticks, or be an NTSC rate such as 23.976, 29.97 or 59.94" + hint);
}

namespace {

bool Singular(const MatrixRows& m) {
  const Vec3 &a = m[0], &b = m[1], &c = m[2];
  const double det = a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                     a[2] * (b[0] * c[1] - b[1] * c[0]);
  return !(std::fabs(det) > 0.0) || !std::isfinite(det);
}

}  // namespace

// Transforms become single-precision floats: a finite double beyond
// FLT_MAX would become infinite there. (Parameter values are checked in
// their own type's precision by the parameter binding.)
void CheckSingle(const Reporter& r, double x, const std::string& path) {
  Check(r, x, path, kAnyNumber);
  if (std::fabs(x) > FLT_MAX)
    r.Fail(path, "expected a number of magnitude at most " + FormatNumber(FLT_MAX) +
                     " (single precision), got " + FormatNumber(x));
}

namespace {

void CheckVec3(const Reporter& r, const Vec3& v, const std::string& path) {
  for (size_t i = 0; i < 3; ++i) CheckSingle(r, v[i], Join(path, i));
}

}  // namespace

// The fields as the host evaluates them (single precision) must give an
// invertible transform: a camera's view is its inverse, and a transform
// that is regular in double precision can still be singular, or overflow,
// in single precision (a scale of 1e-30 on every axis, rows of 1e20).
void CheckHostTransform(const Reporter& r, const TransformFields& f, const std::string& path,
                        const std::string& context) {
  const auto finite = [](const Matrix3& m) {
    for (int row = 0; row < 4; ++row)
      for (int c = 0; c < 3; ++c)
        if (!std::isfinite(m.GetRow(row)[c])) return false;
    return true;
  };
  const Matrix3 m = ToTransformKey(f, 0).ToMatrix();
  Matrix3 inverse;
  if (!finite(m) || !InverseChecked(m, inverse) || !finite(inverse))
    r.Fail(path, "the transform is singular or overflows in single precision" + context +
                     " (it has no finite inverse there)");
}

namespace {

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
  CheckHostTransform(r, f, path, context);
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

// The projection scale is (width / 2) / tan(fov / 2) in single precision:
// a field of view so close to 0 or 180 degrees that this is not a positive
// finite number (the angle rounds to 0, or to a float beyond pi, where the
// tangent turns negative) would draw the image mirrored or not at all.
void CheckFov(const Reporter& r, double fov, const std::string& path) {
  Check(r, fov, path, kFovRule);
  const float radians = static_cast<float>(fov * 3.14159265358979323846 / 180.0);
  const float tangent = std::tan(radians / 2.0f);
  if (!(tangent > 0.0f) || !std::isfinite((65535.0f / 2.0f) / tangent))
    r.Fail(path, "a field of view of " + FormatNumber(fov) +
                     " degrees is too close to 0 or 180 for a single-precision projection");
}

namespace {

// No node its own ancestor. Linear in the number of nodes whatever the
// depth: each node is walked once, its chain marked as it goes. Of all
// the nodes on cycles, the one that comes first in the file is reported,
// with its cycle.
void CheckNoCycle(const Reporter& r, const SceneDesc& s, const std::vector<long>& parentOf) {
  enum : unsigned char { kUnseen, kOnChain, kDone };
  std::vector<unsigned char> state(s.nodes.size(), kUnseen);
  std::vector<size_t> chain;
  size_t first = s.nodes.size();  // none yet
  for (size_t start = 0; start < s.nodes.size(); ++start) {
    chain.clear();
    long j = static_cast<long>(start);
    while (j >= 0 && state[j] == kUnseen) {
      state[j] = kOnChain;
      chain.push_back(static_cast<size_t>(j));
      j = parentOf[j];
    }
    if (j >= 0 && state[j] == kOnChain) {
      // The cycle is the chain from j's first appearance.
      const auto at = std::find(chain.begin(), chain.end(), static_cast<size_t>(j));
      first = std::min(first, *std::min_element(at, chain.end()));
    }
    for (size_t n : chain) state[n] = kDone;
  }
  if (first == s.nodes.size()) return;
  std::string text = s.nodes[first].name;
  size_t k = first;
  do {
    k = static_cast<size_t>(parentOf[k]);
    text += " -> " + s.nodes[k].name;
  } while (k != first);
  r.Fail(Join(Join("/nodes", first), "parent"),
         "the parents make a cycle: " + text + " (each name followed by its parent)");
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
  std::map<int, size_t> keyed;  // frame -> its first key
  for (size_t k = 0; k < p.keys.size(); ++k) {
    const std::string keyPath = Join(keysPath, k);
    Check(r, p.keys[k].first, Join(keyPath, 0), FrameRule(ticksPerFrame));
    CheckParamValue(r, p.keys[k].second, Join(keyPath, 1));
    const auto [it, added] = keyed.emplace(p.keys[k].first, k);
    if (!added)
      r.Fail(Join(keyPath, 0), "frame " + std::to_string(p.keys[k].first) + " is keyed twice (also " +
                                   Join(keysPath, it->second) + ")");
  }
}

void Validate(const Reporter& r, const SceneDesc& s) {
  CheckFps(r, s.fps, "/fps");
  const int tpf = WholeTicksPerFrame(s.fps);

  const RenderDesc& rd = s.render;
  Check(r, rd.width, "/render/width", kSizeRule);
  Check(r, rd.height, "/render/height", kSizeRule);
  const std::uint64_t maxPixels = MaxImagePixels();
  if (static_cast<std::uint64_t>(rd.width) * static_cast<std::uint64_t>(rd.height) > maxPixels)
    r.Fail("/render", TooManyPixels(rd.width, rd.height, maxPixels));
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
    if (n.type == NodeType::Camera) CheckFov(r, n.fov, Join(path, "fov"));
    for (size_t c = 0; c < 2; ++c) Check(r, n.shift[c], Join(Join(path, "shift"), c), kShiftRule);
    if (n.chan && n.chan->file.empty()) r.Fail(Join(Join(path, "chan"), "file"), "expected a file name");
    CheckTransform(r, n.transform, path, "");
    std::map<int, size_t> keyed;  // frame -> its first key
    for (size_t k = 0; k < n.keys.size(); ++k) {
      const std::string keyPath = Join(Join(path, "keys"), k);
      Check(r, n.keys[k].frame, Join(keyPath, "frame"), FrameRule(tpf));
      const auto [it, added] = keyed.emplace(n.keys[k].frame, k);
      if (!added)
        r.Fail(Join(keyPath, "frame"), "frame " + std::to_string(n.keys[k].frame) + " is keyed twice (also " +
                                           Join(Join(path, "keys"), it->second) + ")");
      if (n.keys[k].fov) CheckFov(r, *n.keys[k].fov, Join(keyPath, "fov"));
      if (n.keys[k].shift)
        for (size_t c = 0; c < 2; ++c) Check(r, (*n.keys[k].shift)[c], Join(Join(keyPath, "shift"), c), kShiftRule);
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
  CheckNoCycle(r, s, parentOf);

  if (!rd.camera.empty()) {
    const auto it = byName.find(rd.camera);
    if (it == byName.end()) r.Fail("/render/camera", "no node named " + Quoted(rd.camera));
    if (s.nodes[it->second].type != NodeType::Camera)
      r.Fail("/render/camera", Quoted(rd.camera) + " is a dummy, not a camera");
  }
  // A scene without a camera node renders from its input image's camera
  // (the render session checks that there is one).

  for (size_t e = 0; e < s.effects.size(); ++e) {
    const EffectDesc& fx = s.effects[e];
    const std::string path = Join("/effects", e);
    if (fx.className.empty()) r.Fail(Join(path, "class"), "expected a class name");
    if (fx.name.empty()) r.Fail(Join(path, "name"), "expected a non-empty name");
    std::set<std::string_view> given;
    for (size_t p = 0; p < fx.params.size(); ++p) {
      const std::string paramPath = Join(Join(path, "params"), fx.params[p].name);
      CheckParam(r, fx.params[p], paramPath, tpf);
      if (!given.insert(fx.params[p].name).second) r.Fail(paramPath, "the parameter is given twice");
    }
  }
}

}  // namespace velumbra::scene_check
