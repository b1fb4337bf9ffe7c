#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/targets/fuzz_targets.h"
#include "host/app/output/output_name.h"

namespace velumbra::fuzz {

namespace {

constexpr const char* kName = "frame_pattern";

int Int32At(const std::uint8_t* data) {
  std::uint32_t bits = std::uint32_t{data[0]} | (std::uint32_t{data[1]} << 8) | (std::uint32_t{data[2]} << 16) |
                       (std::uint32_t{data[3]} << 24);
  int value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

int FuzzFramePattern(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const int a = Int32At(data), b = Int32At(data + 4);
  const std::string_view text(reinterpret_cast<const char*>(data + 8), size - 8);
  const std::size_t split = text.find('\n');
  const std::string_view folder = split == std::string_view::npos ? std::string_view() : text.substr(0, split);
  const std::string_view name = split == std::string_view::npos ? text : text.substr(split + 1);

  const std::string nameA = OutputNameForFrame(name, a), nameB = OutputNameForFrame(name, b);
  if (!HasFrameNumberField(name)) {
    // One file for every frame: the name with its escapes undone.
    if (nameA != nameB || nameA != FileOfName(name)) Fault(kName, "a name without a field differs by frame");
  } else if ((a == b) != (nameA == nameB)) {
    // Every field holds the whole number: two frames never share a file.
    Fault(kName, "frames " + std::to_string(a) + " and " + std::to_string(b) + " give " +
                     (a == b ? "different names" : "one name"));
  }
  // A folder joined escaped is no pattern and comes back as it was; the
  // name after it keeps its own fields.
  const std::string escaped = EscapeFrameName(folder);
  if (HasFrameNumberField(escaped)) Fault(kName, "an escaped folder has a frame field");
  if (OutputNameForFrame(escaped, a) != folder) Fault(kName, "an escaped folder does not come back as itself");
  if (OutputNameForFrame(escaped + "/" + std::string(name), a) != std::string(folder) + "/" + nameA)
    Fault(kName, "a folder joined escaped changes the name after it");
  if (HasFrameNumberField(escaped + "/" + std::string(name)) != HasFrameNumberField(name))
    Fault(kName, "a folder joined escaped changes whether the name has a field");
  return 0;
}

}  // namespace velumbra::fuzz
