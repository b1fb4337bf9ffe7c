// Every example scene that existed before the sky, colour management and the
// light layer came in still renders to the bytes it rendered to then: the
// new parameters at their defaults change nothing. The reference is the
// SHA-256 of each frame as the earlier command wrote it
// (fixtures/example_scenes.sha256), checked with coreutils' sha256sum.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/cli_fixture.h"
#include "support/run_program.h"
#include "support/source_tree.h"

namespace {

// (file name, SHA-256) pairs of the fixture, comments left out.
std::vector<std::pair<std::string, std::string>> ExpectedSums() {
  std::ifstream in(SourceDir() / "tests" / "cli" / "fixtures" / "example_scenes.sha256");
  std::vector<std::pair<std::string, std::string>> sums;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string sum, name;
    fields >> sum >> name;
    sums.emplace_back(name, sum);
  }
  return sums;
}

TEST_F(Velumbra, ExampleScenesRenderTheBytesTheyRenderedBefore) {
  const auto sums = ExpectedSums();
  ASSERT_EQ(sums.size(), 8u) << "the fixture lost its scenes";
  for (const auto& [name, sum] : sums) {
    SCOPED_TRACE(name);
    const std::string scene = name.substr(0, name.find('.'));
    const CommandResult r =
        Run({"render", (SourceDir() / "scenes" / (scene + ".json")).string(), "-f", "7", "-o", name, "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const ProgramResult hash = RunProgram({"sha256sum", Work(name).string()});
    ASSERT_EQ(hash.status, 0) << hash.err;
    EXPECT_EQ(hash.out.substr(0, hash.out.find(' ')), sum)
        << "scenes/" << scene << ".json no longer renders what it rendered before";
  }
}

}  // namespace
