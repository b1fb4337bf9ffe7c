#include "host/app/scene/chan_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"
#include "host/app/scene/scene_check.h"

namespace velumbra {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::uintmax_t kMaxChanBytes = std::uintmax_t{256} << 20;

using M3 = std::array<std::array<double, 3>, 3>;  // [row][column], for column vectors

M3 Mul(const M3& a, const M3& b) {
  M3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
  return r;
}

// The right-handed rotation by `degrees` about axis 0 (X), 1 (Y) or 2 (Z).
M3 Rotation(int axis, double degrees) {
  const double a = degrees * kPi / 180.0, c = std::cos(a), s = std::sin(a);
  switch (axis) {
    case 0: return M3{{{1, 0, 0}, {0, c, -s}, {0, s, c}}};
    case 1: return M3{{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}};
    default: return M3{{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
  }
}

}  // namespace

MatrixRows ChanCameraToWorld(const Vec3& t, const Vec3& r, bool yUp, const std::string& order) {
  M3 rot{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  for (char letter : order) {
    const int axis = letter - 'X';
    rot = Mul(Rotation(axis, r[size_t(axis)]), rot);  // later letters apply after earlier ones
  }
  Vec3 pos = t;
  if (yUp) {
    // File (x, y, z) is host (x, -z, y).
    const M3 toHost{{{1, 0, 0}, {0, 0, -1}, {0, 1, 0}}};
    rot = Mul(toHost, rot);
    pos = {t[0], -t[2], t[1]};
  }
  // Row i of the host's matrix is the image of axis i: column i of rot.
  MatrixRows rows{};
  for (int i = 0; i < 3; ++i) rows[size_t(i)] = {rot[0][size_t(i)], rot[1][size_t(i)], rot[2][size_t(i)]};
  rows[3] = pos;
  return rows;
}

double HorizontalFov(double verticalFovDegrees, int width, int height) {
  const double v = verticalFovDegrees * kPi / 180.0;
  return 2.0 * std::atan(std::tan(v / 2.0) * width / height) * 180.0 / kPi;
}

namespace {

constexpr std::size_t kMaxLine = 4096;

// The file opened for reading after the checks that keep a device or an
// oversized file out.
std::unique_ptr<std::FILE, int (*)(std::FILE*)> OpenChan(const std::filesystem::path& file) {
  const std::string name = file.string();
  // A device or pipe could feed lines without end: only files are read,
  // and only of a size a camera's keys can have.
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    throw InputError("cannot read " + Quoted(name) + ": it is not a regular file");
  if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(file, ec) > kMaxChanBytes)
    throw InputError(name + ": the file is larger than " + std::to_string(kMaxChanBytes >> 20) +
                     " MB; a .chan file holds one short line a frame");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!in) throw InputError("cannot open " + Quoted(name) + ": " + std::strerror(errno));
  return in;
}

// Calls `line(text, number)` for each line of the file without its line
// break, a block at a time; a line longer than kMaxLine is an error.
void ForEachLine(const std::filesystem::path& file, const std::function<void(std::string_view, std::size_t)>& line) {
  const auto in = OpenChan(file);
  std::vector<char> block(std::size_t{1} << 16);
  std::string partial;
  std::size_t number = 0;
  const auto tooLong = [&] {
    throw InputError(file.string() + ":" + std::to_string(number + 1) + ": the line is longer than " +
                     std::to_string(kMaxLine) + " characters");
  };
  for (;;) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), in.get());
    if (got == 0) break;
    std::string_view rest(block.data(), got);
    for (std::size_t nl; (nl = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(nl + 1)) {
      if (partial.size() + nl > kMaxLine) tooLong();
      ++number;
      if (partial.empty()) {
        line(rest.substr(0, nl), number);
      } else {
        partial.append(rest.substr(0, nl));
        line(partial, number);
        partial.clear();
      }
    }
    if (partial.size() + rest.size() > kMaxLine) tooLong();
    partial.append(rest);
  }
  if (std::ferror(in.get())) throw InputError("cannot read " + Quoted(file.string()) + ": " + std::strerror(errno));
  if (!partial.empty()) line(partial, ++number);
}

// A number as the applications write it: optional sign, digits, fraction,
// exponent. nullopt for anything else (a comma, a name, "nan", "inf").
std::optional<double> ParseNumber(std::string_view word) {
  std::string_view digits = word;
  if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-' && digits[1] != '+') digits.remove_prefix(1);
  double x = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), x);
  if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(x)) return std::nullopt;
  return x;
}

bool Separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

void ReadChanFile(const ChanDesc& chan, const std::function<void(const ChanFrame&)>& take) {
  const std::string name = chan.file.string();
  static const char* const kColumns[] = {"the frame", "tx", "ty", "tz", "rx", "ry", "rz", "the vertical fov"};
  std::optional<size_t> columns;
  std::optional<int> previous;
  ForEachLine(chan.file, [&](std::string_view line, std::size_t lineNo) {
    const std::string where = name + ":" + std::to_string(lineNo);
    double v[8] = {};
    size_t count = 0;
    for (size_t i = 0; i < line.size();) {
      if (Separator(line[i])) {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < line.size() && !Separator(line[j])) ++j;
      const std::string_view word = line.substr(i, j - i);
      i = j;
      if (count == 8) {
        ++count;
        break;
      }
      const std::optional<double> x = ParseNumber(word);
      if (!x) throw InputError(where + ": " + Quoted(word, 40) + " is not a finite number");
      v[count++] = *x;
    }
    if (count == 0) return;
    if (count != 7 && count != 8)
      throw InputError(where + ": expected 7 or 8 numbers (frame, tx, ty, tz, rx, ry, rz and an optional "
                       "vertical fov), got " + (count > 8 ? "more than 8" : std::to_string(count)));
    if (columns && *columns != count)
      throw InputError(where + ": " + std::to_string(count) + " numbers, but the lines before have " +
                       std::to_string(*columns) + " (the fov column must be on every line or none)");
    columns = count;
    if (v[0] != std::floor(v[0]) || std::fabs(v[0]) > 1e9)
      throw InputError(where + ": the frame " + scene_check::FormatNumber(v[0]) + " is not a whole number");
    ChanFrame f;
    f.frame = static_cast<int>(v[0]);
    f.line = lineNo;
    if (previous && f.frame <= *previous)
      throw InputError(where + ": frame " + std::to_string(f.frame) + " does not follow frame " +
                       std::to_string(*previous) + " (frames must increase)");
    // The same checks as a scene's own matrix and fov.
    const scene_check::Reporter r(where);
    for (size_t i = 1; i < 7; ++i) scene_check::CheckSingle(r, v[i], kColumns[i]);
    f.camToWorld = ChanCameraToWorld({v[1], v[2], v[3]}, {v[4], v[5], v[6]}, chan.yUp, chan.rotationOrder);
    TransformFields fields;
    fields.matrix = f.camToWorld;
    scene_check::CheckHostTransform(r, fields, "the camera", "");
    if (count == 8) {
      scene_check::CheckFov(r, v[7], kColumns[7]);
      f.verticalFov = v[7];
    }
    previous = f.frame;
    take(f);
  });
  if (!columns) throw InputError(name + ": no frames (expected lines of frame, tx, ty, tz, rx, ry, rz)");
}

std::vector<ChanFrame> ReadChanFile(const ChanDesc& chan) {
  std::vector<ChanFrame> frames;
  ReadChanFile(chan, [&](const ChanFrame& f) { frames.push_back(f); });
  return frames;
}

std::uint64_t ChanLineCount(const ChanDesc& chan) {
  const auto in = OpenChan(chan.file);
  std::vector<char> block(std::size_t{1} << 16);
  std::uint64_t lines = 0;
  bool open = false;  // bytes after the last line break
  for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), in.get())) > 0;) {
    lines += static_cast<std::uint64_t>(std::count(block.data(), block.data() + got, '\n'));
    open = block[got - 1] != '\n';
  }
  if (std::ferror(in.get())) throw InputError("cannot read " + Quoted(chan.file.string()) + ": " + std::strerror(errno));
  return lines + (open ? 1 : 0);
}

}  // namespace velumbra
