// The fixture of the command's end-to-end tests: a work folder the command
// runs in (holding only what it wrote) and small scenes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_command.h"
#include "support/source_tree.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

class Velumbra : public ::testing::Test {
 protected:
  // Runs velumbra in the work folder; logs go elsewhere, so the work folder
  // holds only what the command wrote.
  CommandResult Run(const std::vector<std::string>& args, const CommandLimits& limits = {}) {
    return RunVelumbra(args, work_, logs_.Path(), limits);
  }

  fs::path Work(const std::string& name) const { return work_ / name; }
  int Entries() const { return CountEntries(work_); }

  void WriteScene(const std::string& name, const std::string& json) { WriteAll(Work(name), json); }

  TempDir root_;
  TempDir logs_;
  fs::path work_ = [this] {
    fs::create_directories(root_ / "work");
    return root_ / "work";
  }();
};

// A scene of `width` x `height` with one Qe_Velumbra effect of `params`.
inline std::string SmallScene(const std::string& params, int width = 64, int height = 48, const std::string& extraRender = "") {
  return R"({"render": {"width": )" + std::to_string(width) + R"(, "height": )" + std::to_string(height) +
         extraRender + R"(},
  "nodes": [{"name": "Camera001", "type": "camera", "fov": 45, "position": [0, 0, 0], "target": [0, 1, 0]},
            {"name": "Helper", "type": "dummy"}],
  "effects": [{"class": "Qe_Velumbra", "params": {)" + params + "}}]}";
}


// The command a picture's caption gives (*`velumbra render ... -o NAME ...`*
// after `from` in a page): its arguments without "velumbra", names under
// scenes/ taken from the source tree, and -q added; `output` is the -o
// name. `problem` says what is missing when the caption holds no such
// command (then the rest is empty).
struct CaptionCommand {
  std::vector<std::string> args;
  std::string output;
  std::string problem;
};

inline CaptionCommand CaptionCommandAfter(const std::string& page, size_t from) {
  CaptionCommand c;
  const auto failed = [](const char* problem) {
    CaptionCommand none;
    none.problem = problem;
    return none;
  };
  const size_t start = page.find("*`velumbra render ", from);
  if (start == std::string::npos) return failed("the picture's caption names no command");
  std::istringstream words(page.substr(start + 2, page.find('`', start + 2) - start - 2));
  for (std::string w; words >> w;) c.args.push_back(w);
  if (c.args.size() < 4 || c.args[0] != "velumbra") return failed("the caption's command is not a velumbra render");
  c.args.erase(c.args.begin());
  for (size_t i = 0; i + 1 < c.args.size(); ++i) {
    if (c.args[i] == "-o") c.output = c.args[i + 1];
    if (c.args[i].rfind("scenes/", 0) == 0) c.args[i] = (SourceDir() / c.args[i]).string();
  }
  if (c.output.empty()) return failed("the caption's command names no -o");
  c.args.push_back("-q");
  return c;
}
