#include "host/app/scene/chan_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/app/base/app_error.h"

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

std::vector<ChanFrame> ReadChanFile(const ChanDesc& chan) {
  const std::string name = chan.file.string();
  // A device or pipe could feed lines without end: only files are read,
  // and only of a size a camera's keys can have.
  std::error_code ec;
  const auto status = std::filesystem::status(chan.file, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    throw InputError("cannot read " + name + ": it is not a regular file");
  if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(chan.file, ec) > kMaxChanBytes)
    throw InputError(name + ": the file is larger than " + std::to_string(kMaxChanBytes >> 20) +
                     " MB; a .chan file holds one short line a frame");
  std::ifstream in(chan.file, std::ios::binary);
  if (!in) throw InputError("cannot open " + name + ": " + std::strerror(errno));
  std::vector<ChanFrame> frames;
  std::string line;
  size_t lineNo = 0;
  std::optional<size_t> columns;
  while (std::getline(in, line)) {
    ++lineNo;
    const std::string where = name + ":" + std::to_string(lineNo);
    if (line.size() > 4096) throw InputError(where + ": the line is longer than 4096 characters");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<double> v;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      double x = 0;
      const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), x);
      if (ec != std::errc() || end != word.data() + word.size() || !std::isfinite(x))
        throw InputError(where + ": " + word.substr(0, 40) + " is not a finite number");
      v.push_back(x);
      if (v.size() > 8) break;
    }
    if (v.empty()) continue;
    if (v.size() != 7 && v.size() != 8)
      throw InputError(where + ": expected 7 or 8 numbers (frame, tx, ty, tz, rx, ry, rz and an optional "
                       "vertical fov), got " + (v.size() > 8 ? "more than 8" : std::to_string(v.size())));
    if (columns && *columns != v.size())
      throw InputError(where + ": " + std::to_string(v.size()) + " numbers, but the lines before have " +
                       std::to_string(*columns) + " (the fov column must be on every line or none)");
    columns = v.size();
    if (v[0] != std::floor(v[0]) || std::fabs(v[0]) > 1e9)
      throw InputError(where + ": the frame " + std::to_string(v[0]) + " is not a whole number");
    ChanFrame f;
    f.frame = static_cast<int>(v[0]);
    if (!frames.empty() && f.frame <= frames.back().frame)
      throw InputError(where + ": frame " + std::to_string(f.frame) + " does not follow frame " +
                       std::to_string(frames.back().frame) + " (frames must increase)");
    f.camToWorld = ChanCameraToWorld({v[1], v[2], v[3]}, {v[4], v[5], v[6]}, chan.yUp, chan.rotationOrder);
    if (v.size() == 8) {
      if (!(v[7] > 0 && v[7] < 180))
        throw InputError(where + ": the vertical fov " + std::to_string(v[7]) + " is not in (0, 180) degrees");
      f.verticalFov = v[7];
    }
    frames.push_back(f);
  }
  if (in.bad()) throw InputError("cannot read " + name);
  if (frames.empty()) throw InputError(name + ": no frames (expected lines of frame, tx, ty, tz, rx, ry, rz)");
  return frames;
}

}  // namespace velumbra
