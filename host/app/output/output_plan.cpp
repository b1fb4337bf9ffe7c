#include "host/app/output/output_plan.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "host/app/base/app_error.h"
#include "host/app/output/output_format.h"
#include "host/app/output/output_name.h"
#include "host/app/base/paths.h"
#include "host/app/base/quoting.h"

namespace velumbra {

namespace fs = std::filesystem;

namespace {

// The longest name of one folder entry and of a whole path on Linux file
// systems (NAME_MAX, PATH_MAX less the terminating NUL).
constexpr std::size_t kMaxNameBytes = NAME_MAX;
constexpr std::size_t kMaxPathBytes = PATH_MAX - 1;

// The name as one key for "same file" among outputs not yet written:
// absolute, with dots and repeated separators removed.
fs::path OutputKey(const fs::path& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  return (ec ? p : a).lexically_normal();
}

}  // namespace

std::vector<PlannedInput> RenderInputs(const std::string& sceneFile, const SceneDesc& scene,
                                       const InputOptions& inputs, const std::vector<int>& frames) {
  std::vector<PlannedInput> in;
  if (!sceneFile.empty()) in.push_back({sceneFile, "the scene file"});
  const auto add = [&](const fs::path& file, const std::string& what) {
    if (!HasFrameNumberField(file.string())) {
      in.push_back({FileOfName(file.string()), what});
      return;
    }
    for (int frame : frames) in.push_back({OutputNameForFrame(file.string(), frame), what});
  };
  if (inputs.image) add(*inputs.image, "the --input image");
  else if (scene.render.image) add(*scene.render.image, "the scene's render.image");
  if (scene.render.objectId) add(scene.render.objectId->path, "the scene's render.objectId");
  if (scene.render.materialId) add(scene.render.materialId->path, "the scene's render.materialId");
  return in;
}

void CheckOutputFile(const fs::path& file, const std::string& option) {
  const std::string name = file.string();
  if (name.empty()) throw InputError(option + ": the output name is empty");
  if (name.size() > kMaxPathBytes)
    throw InputError(option + " " + Quoted(name) + ": the name is " + std::to_string(name.size()) +
                     " bytes long; the file system takes at most " + std::to_string(kMaxPathBytes));
  for (const fs::path& part : file)
    if (part.native().size() > kMaxNameBytes)
      throw InputError(option + " " + Quoted(name) + ": the part " + Quoted(part.native(), 40) + " is " +
                       std::to_string(part.native().size()) + " bytes long; a file or folder name takes at most " +
                       std::to_string(kMaxNameBytes));
  std::error_code ec;
  if (fs::is_directory(file, ec)) throw InputError(option + " " + Quoted(name) + ": is a folder; name the file to write");
  // The nearest folder on the way that exists decides whether the rest can
  // be made: it must be a folder we may write into.
  fs::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  while (!fs::exists(dir, ec)) {
    if (dir == dir.parent_path() || dir.parent_path().empty()) {
      dir = dir.is_absolute() ? dir.root_path() : fs::path(".");
      break;
    }
    dir = dir.parent_path();
  }
  if (!fs::is_directory(dir, ec))
    throw InputError(option + " " + Quoted(name) + ": cannot make its folder: " + Quoted(dir.string()) +
                     " is a file, not a folder");
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    throw InputError(option + " " + Quoted(name) + ": cannot write to the folder " + Quoted(dir.string()) + ": " +
                     std::strerror(errno));
}

OutputPlan::OutputPlan(const std::string& output, const std::string& idsPrefix, const std::vector<int>& frames,
                       const std::vector<PlannedInput>& inputs) {
  if (output.empty()) CheckOutputFile(output, "-o");  // says the name is empty
  // A folder has a message of its own (below).
  std::error_code ec;
  if (!fs::is_directory(output, ec)) OutputFormatOf(output, "-o");
  const bool toStdout = IsStandardOutput(output);
  if (!toStdout) CheckOutputName(output, frames.size());
  if (!idsPrefix.empty() && frames.size() > 1 && !HasFrameNumberField(idsPrefix))
    throw InputError("--ids " + Quoted(idsPrefix) + ": " + std::to_string(frames.size()) +
                     " frames would all write the same ID images; put a '#' run in the prefix, e.g. ids.####");
  frames_.reserve(frames.size());
  for (int frame : frames) {
    FrameOutputs f;
    f.frame = frame;
    f.image = toStdout ? output : OutputNameForFrame(output, frame);
    if (!idsPrefix.empty()) {
      const std::string prefix = OutputNameForFrame(idsPrefix, frame);
      f.objectIds = prefix + ".objectid.png";
      f.materialIds = prefix + ".materialid.png";
    }
    frames_.push_back(std::move(f));
  }

  // Inputs by file name, so that a long frame range does not resolve every
  // output name against every input.
  std::multimap<fs::path, const PlannedInput*> inputsByName;
  for (const PlannedInput& in : inputs) inputsByName.emplace(in.path.filename(), &in);

  std::map<fs::path, std::string> written;  // key -> "-o name (frame N)"
  std::set<fs::path> checkedFolders;
  const auto plan = [&](const std::string& name, const std::string& option, int frame) {
    const fs::path file(name);
    const fs::path folder = OutputKey(file).parent_path();
    if (checkedFolders.insert(folder).second) CheckOutputFile(file, option);
    else if (file.filename().native().size() > kMaxNameBytes) CheckOutputFile(file, option);
    const std::string label = option + " " + Quoted(name) + (frames.size() > 1 ? " (frame " + std::to_string(frame) + ")" : "");
    const auto [it, fresh] = written.emplace(OutputKey(file), label);
    if (!fresh)
      throw InputError(label + " and " + it->second + " are the same file; the second write would replace the first" +
                       " (give each output its own name, and each frame once)");
    const auto refuse = [&](const PlannedInput& in) {
      if (SameFile(file, in.path))
        throw InputError(label + ": that is " + in.what + " (" + Quoted(in.path.string()) +
                         "); the render would overwrite what it reads");
    };
    // An existing output may be a link (or hard link) to an input of any
    // name; one not yet made can only meet an input through its own name.
    std::error_code ec;
    if (fs::exists(file, ec)) {
      for (const PlannedInput& in : inputs) refuse(in);
    } else {
      const auto [lo, hi] = inputsByName.equal_range(file.filename());
      for (auto in = lo; in != hi; ++in) refuse(*in->second);
    }
  };
  for (const FrameOutputs& f : frames_) {
    if (!toStdout) plan(f.image, "-o", f.frame);
    if (idsPrefix.empty()) continue;
    plan(f.objectIds, "--ids", f.frame);
    plan(f.materialIds, "--ids", f.frame);
  }
}

}  // namespace velumbra
