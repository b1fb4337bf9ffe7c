// The fixture of the command's end-to-end tests: a work folder the command
// runs in (holding only what it wrote) and small scenes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_command.h"
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

