#include "host/app/output/output_plan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/app/base/app_error.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using velumbra::InputError;
using velumbra::OutputPlan;
using velumbra::PlannedInput;

std::string ErrorOf(const std::string& out, const std::string& ids, const std::vector<int>& frames,
                    const std::vector<PlannedInput>& inputs = {}) {
  try {
    OutputPlan plan(out, ids, frames, inputs);
  } catch (const InputError& e) {
    return e.what();
  }
  return "accepted";
}

class OutputPlanTest : public ::testing::Test {
 protected:
  std::string P(const std::string& name) const { return (dir_.Path() / name).string(); }
  void Touch(const std::string& name) const { std::ofstream(dir_.Path() / name) << "x"; }
  TempDir dir_;
};

TEST_F(OutputPlanTest, NamesEveryFileOfEveryFrame) {
  const OutputPlan plan(P("f.###.png"), P("ids.#"), {1, 12}, {});
  ASSERT_EQ(plan.Frames().size(), 2u);
  EXPECT_EQ(plan.Frames()[0].image, P("f.001.png"));
  EXPECT_EQ(plan.Frames()[0].objectIds, P("ids.1.objectid.png"));
  EXPECT_EQ(plan.Frames()[1].materialIds, P("ids.12.materialid.png"));
  const OutputPlan noIds(P("f.png"), "", {5}, {});
  EXPECT_TRUE(noIds.Frames()[0].objectIds.empty());
}

TEST_F(OutputPlanTest, RefusesOutputsThatMeet) {
  // -o and --ids naming one file: the ID image would replace the render.
  EXPECT_NE(ErrorOf(P("a.objectid.png"), P("a"), {1}).find("are the same file"), std::string::npos);
  // A frame listed twice writes its file twice.
  const std::string twice = ErrorOf(P("c.#.png"), "", {1, 2, 1});
  EXPECT_NE(twice.find("(frame 1)"), std::string::npos) << twice;
  EXPECT_NE(twice.find("same file"), std::string::npos) << twice;
  // Dots and separators do not hide a clash.
  EXPECT_NE(ErrorOf(P("a.objectid.png"), P("./sub/../a"), {1}).find("same file"), std::string::npos);
  // Different digits are different files.
  EXPECT_EQ(ErrorOf(P("x.#.png"), P("x.##"), {1, 2}), "accepted");
}

TEST_F(OutputPlanTest, RefusesAnOutputThatIsAnInput) {
  Touch("beauty.png");
  const std::vector<PlannedInput> inputs{{P("beauty.png"), "the --input image"}};
  EXPECT_NE(ErrorOf(P("beauty.png"), "", {1}, inputs).find("that is the --input image"), std::string::npos);
  EXPECT_NE(ErrorOf(P("sub/../beauty.png"), "", {1}, inputs).find("overwrite what it reads"), std::string::npos);
  // A link of another name to the input is the input.
  ASSERT_EQ(::symlink("beauty.png", P("link.png").c_str()), 0);
  EXPECT_NE(ErrorOf(P("link.png"), "", {1}, inputs).find("that is the --input image"), std::string::npos);
  EXPECT_EQ(ErrorOf(P("out.png"), "", {1}, inputs), "accepted");
}

TEST_F(OutputPlanTest, ChecksNamesAndFoldersWithoutMakingThem) {
  EXPECT_NE(ErrorOf("", "", {1}).find("the output name is empty"), std::string::npos);
  EXPECT_NE(ErrorOf(P(std::string(300, 'n') + ".png"), "", {1}).find("at most 255"), std::string::npos);
  EXPECT_NE(ErrorOf(P("f.png"), "", {1, 2}).find("has no '#'"), std::string::npos);
  EXPECT_NE(ErrorOf(P("f.#.png"), P("ids"), {1, 2}).find("--ids"), std::string::npos);
  fs::create_directory(dir_.Path() / "folder");
  EXPECT_NE(ErrorOf(P("folder"), "", {1}).find("is a folder"), std::string::npos);
  Touch("file");
  EXPECT_NE(ErrorOf(P("file/sub/x.png"), "", {1}).find("is a file, not a folder"), std::string::npos);
  if (::geteuid() != 0) {  // root writes anywhere
    fs::create_directory(dir_.Path() / "locked");
    fs::permissions(dir_.Path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_NE(ErrorOf(P("locked/x.png"), "", {1}).find("cannot write to the folder"), std::string::npos);
  }
  // A frame range over many folders plans them all and makes none.
  std::vector<int> frames;
  for (int f = 1; f <= 300; ++f) frames.push_back(f);
  EXPECT_EQ(ErrorOf(P("dirs/####/x.png"), "", frames), "accepted");
  EXPECT_FALSE(fs::exists(dir_.Path() / "dirs"));
}

}  // namespace
