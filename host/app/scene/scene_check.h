// Checks shared by the scene-file reader and ValidateScene: value rules,
// the JSON paths and messages of errors, and the checks of a whole
// description. The scene-file code's own, also used by the code that binds
// command-line values to a scene (render_frame, param_binding) so that their
// messages read alike.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <string_view>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/max_types.h"

namespace velumbra::scene_check {

// A JSON pointer (RFC 6901) one member or element deeper.
std::string Join(const std::string& path, std::string_view key);
std::string Join(const std::string& path, size_t index);

// A value as the file wrote it, cut short for a message.
template <class Json>
std::string Shown(const Json& v) {
  // Bytes that are not UTF-8 are shown replaced, never thrown about.
  std::string s = v.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (s.size() > 48) s = s.substr(0, 45) + "...";
  return s;
}

std::string FormatNumber(double x);
// Levenshtein distance, for "did you mean" hints.
size_t EditDistance(std::string_view a, std::string_view b);

// Reports problems as "<label>: <JSON path>: <what>".
class Reporter {
 public:
  explicit Reporter(std::string label) : label_(std::move(label)) {}
  [[noreturn]] void Fail(const std::string& path, const std::string& what) const {
    throw InputError(label_ + ": " + (path.empty() ? std::string("top level") : path) + ": " + what);
  }
  const std::string& Label() const { return label_; }

 private:
  std::string label_;
};

// An accepted range of numbers and its wording in messages.
struct Rule {
  double lo = -HUGE_VAL;
  double hi = HUGE_VAL;
  bool loOpen = false;
  bool hiOpen = false;
  bool integer = false;

  bool Accepts(double x) const {
    if (!std::isfinite(x)) return false;
    if (integer && std::floor(x) != x) return false;
    if (loOpen ? !(x > lo) : !(x >= lo)) return false;
    if (hiOpen ? !(x < hi) : !(x <= hi)) return false;
    return true;
  }
  std::string Describe() const {
    if (integer) return "an integer in " + FormatNumber(lo) + ".." + FormatNumber(hi);
    if (std::isinf(lo) && std::isinf(hi)) return "a finite number";
    return std::string("a number in ") + (loOpen ? "(" : "[") + FormatNumber(lo) + ", " +
           FormatNumber(hi) + (hiOpen ? ")" : "]");
  }
};

constexpr double kMaxChannel = 65535.0 / 65280.0;  // the brightest 16-bit value on the 8.8 scale
const Rule kAnyNumber{};
const Rule kFpsRule{0, TIME_TICKSPERSEC, true, false, false};
const Rule kSizeRule{1, 65535, false, false, true};
const Rule kFovRule{0, 180, true, true, false};
// Lens shift in frame dimensions: a hundred frames off the axis is already
// far past anything visible, and keeps pixel positions finite in floats.
const Rule kShiftRule{-100, 100, false, false, false};
const Rule kChannelRule{0, kMaxChannel, false, false, false};

// Frames whose tick count fits the host's 32-bit time at this frame rate.
Rule FrameRule(int ticksPerFrame);

// Fails with "expected <rule>, got <x>" unless the rule accepts x.
void Check(const Reporter& r, double x, const std::string& path, const Rule& rule);

// Whole ticks per frame at `fps`, or 0 when the rate has none. A rate that
// divides 4800 ticks per second gives its own (30 -> 160). An NTSC rate,
// N * 1000/1001 for a whole N that divides 4800 (23.976 or 24000/1001,
// 29.97, 47.952, 59.94, 119.88; within 0.001 of it), takes the ticks of N
// (23.976 -> 200, the ticks of 24 fps): the effect counts its durations in
// frames, so a frame of the NTSC rate is one frame of N, and only what is
// counted in seconds (the scintillation frequency in hertz) runs 0.1 %
// faster against the rate's real clock.
int WholeTicksPerFrame(double fps);
void CheckFps(const Reporter& r, double fps, const std::string& path);

// A frame rate as written on the command line or in a scene file: a number
// (30, 23.976) or a fraction "24000/1001". nullopt when the text is neither;
// the value still needs CheckFps.
std::optional<double> ParseFrameRate(std::string_view text);

// One parameter value (plain or keyed) at `path`.
void CheckParam(const Reporter& r, const ParamDesc& p, const std::string& path, int ticksPerFrame);

// Everything ValidateScene promises.
void Validate(const Reporter& r, const SceneDesc& s);

}  // namespace velumbra::scene_check
