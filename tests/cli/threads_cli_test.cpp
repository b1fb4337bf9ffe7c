// The thread grant and the writer thread change speed only: every frame,
// and the files beside it, come out the same on one thread or many.
#include <gtest/gtest.h>

#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

TEST(Threads, EveryThreadCountWritesTheSameBytes) {
  TempDir dir;
  const std::string scene = (SourceDir() / "scenes" / "pan.json").string();
  const std::string hyper = (SourceDir() / "scenes" / "hyperspace.json").string();
  for (const std::string threads : {"1", "2", "3", "default"}) {
    std::vector<std::string> args{"render", scene, "-f", "0-3", "-o", "t" + threads + ".#.png", "--ids",
                                  "ids" + threads + ".#", "-q"};
    std::vector<std::string> exr{"render", hyper, "-f", "28,30", "-o", "h" + threads + ".#.exr", "-q"};
    if (threads != "default") {
      for (auto* a : {&args, &exr}) {
        a->push_back("--threads");
        a->push_back(threads);
      }
    }
    const CommandResult r = RunVelumbra(args, dir.Path(), dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    const CommandResult e = RunVelumbra(exr, dir.Path(), dir.Path());
    ASSERT_EQ(e.status, 0) << e.err;
  }
  for (const std::string threads : {"2", "3", "default"}) {
    SCOPED_TRACE("--threads " + threads);
    for (int f = 0; f <= 3; ++f) {
      const std::string n = std::to_string(f);
      EXPECT_EQ(Slurp(dir.Path() / ("t" + threads + "." + n + ".png")), Slurp(dir.Path() / ("t1." + n + ".png")));
      for (const char* kind : {".objectid.png", ".materialid.png"})
        EXPECT_EQ(Slurp(dir.Path() / ("ids" + threads + "." + n + kind)), Slurp(dir.Path() / ("ids1." + n + kind)));
    }
    for (const char* f : {"28", "30"})
      EXPECT_EQ(Slurp(dir.Path() / ("h" + threads + "." + f + ".exr")), Slurp(dir.Path() / ("h1." + std::string(f) + ".exr")));
  }
  EXPECT_GT(Slurp(dir.Path() / "t1.2.png").size(), 100u);
}

TEST(Threads, WroteLinesFollowFrameOrder) {
  TempDir dir;
  const std::string scene = (SourceDir() / "scenes" / "pan.json").string();
  const CommandResult r =
      RunVelumbra({"render", scene, "-f", "5,1,3", "-o", "o.#.png", "--ids", "i.#"}, dir.Path(), dir.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  size_t at = 0;
  for (const char* line : {"wrote o.5.png", "wrote i.5.objectid.png", "wrote i.5.materialid.png", "wrote o.1.png",
                           "wrote i.1.objectid.png", "wrote i.1.materialid.png", "wrote o.3.png"}) {
    const size_t next = r.err.find(line, at);
    ASSERT_NE(next, std::string::npos) << line << " after offset " << at << " in\n" << r.err;
    at = next;
  }
}

}  // namespace
