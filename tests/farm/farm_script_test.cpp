// The farm's plan: chunks of the frame list, frame lists written back, the
// Slurm options, the batch script (run by the real bash) and the job folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>

#include "support/temp_dir.h"
#include "host/app/base/app_error.h"
#include "host/app/farm/farm.h"
#include "host/app/frame_range.h"
#include "host/app/farm/slurm.h"

namespace {

namespace fs = std::filesystem;
using namespace velumbra;

TEST(FarmChunks, ConsecutiveFramesOfTheListWithAShorterLastTask) {
  const std::vector<int> frames = ParseFrameList("1-10");
  const std::vector<FarmTask> tasks = ChunkFrames(frames, 4);
  ASSERT_EQ(tasks.size(), 3u);
  EXPECT_EQ(tasks[0].frames, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(tasks[1].frames, (std::vector<int>{5, 6, 7, 8}));
  EXPECT_EQ(tasks[2].frames, (std::vector<int>{9, 10}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(tasks[static_cast<size_t>(i)].index, i);

  // List order, not numeric order; duplicates stay.
  const std::vector<int> list{30, 10, 20, 10};
  const std::vector<FarmTask> two = ChunkFrames(list, 3);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].frames, (std::vector<int>{30, 10, 20}));
  EXPECT_EQ(two[1].frames, (std::vector<int>{10}));

  // A chunk larger than the list: one task; a chunk of one: a task a frame.
  EXPECT_EQ(ChunkFrames(frames, 100).size(), 1u);
  EXPECT_EQ(ChunkFrames(frames, 1).size(), 10u);
  EXPECT_THROW(ChunkFrames(frames, 0), std::invalid_argument);
}

TEST(FarmChunks, DefaultKeepsTheArrayWithinSlurmsDefaultLimit) {
  EXPECT_EQ(DefaultChunkSize(1), 1);
  EXPECT_EQ(DefaultChunkSize(kDefaultMaxArrayTasks), 1);
  for (std::size_t n : {std::size_t{1001}, std::size_t{2000}, std::size_t{2001}, std::size_t{999999},
                        kMaxFrameListLength}) {
    const int chunk = DefaultChunkSize(n);
    const std::size_t tasks = (n + static_cast<std::size_t>(chunk) - 1) / static_cast<std::size_t>(chunk);
    EXPECT_LE(tasks, kDefaultMaxArrayTasks) << n;
    // The smallest such chunk: one less would need more tasks.
    const std::size_t fewer = (n + static_cast<std::size_t>(chunk) - 2) / static_cast<std::size_t>(chunk - 1);
    EXPECT_GT(fewer, kDefaultMaxArrayTasks) << n;
  }
}

TEST(FarmFrameList, ReadsBackAsTheSameFramesInOrder) {
  const std::vector<std::vector<int>> lists = {
      {7},
      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
      {1, 3, 5, 7, 20},
      {10, 9, 8, 7},
      {-5, -4, -3, -2, -1, 0, 1},
      {-10, -12, -14},
      {3, 3, 3},
      {1, 2, 4, 5, 7, 8},
      {5, 3},
      {1, 2, 3, 2, 1},
      {2147483647, -2147483647 - 1, 0},
      {-2147483647 - 1, 0, 2147483647},  // steps too large for a list
      {0, 1000000, 2000000},
  };
  for (const auto& frames : lists) {
    const std::string text = FrameListText(frames);
    EXPECT_EQ(ParseFrameList(text), frames) << text;
  }
  // Runs are written as ranges.
  EXPECT_EQ(FrameListText(std::vector<int>{1, 2, 3, 4}), "1-4");
  EXPECT_EQ(FrameListText(std::vector<int>{1, 3, 5, 8}), "1-5x2,8");
  EXPECT_EQ(FrameListText(std::vector<int>{4, 3, 2}), "4-2x-1");
}

TEST(FarmOptions, MemorySizesInSlurmsUnits) {
  const std::pair<const char*, std::uint64_t> good[] = {
      {"4096", 4096}, {"4096M", 4096}, {"4096m", 4096}, {"4G", 4096}, {"1T", 1048576},
      {"1024K", 1},   {"1025K", 2},    {"1K", 1},
  };
  for (const auto& [text, mib] : good) EXPECT_EQ(ParseMemoryMiB(text), mib) << text;
  // Slurm reads --mem=0 as all of a node's memory (before: written as
  // "--mem=0M", also for 0K and 0G).
  for (const char* bad : {"", "G", "4GB", "-1", "1.5G", "4 G", "4X", "99999999999999G", "0x10", "0", "0K", "0G", "000M"}) {
    try {
      ParseMemoryMiB(bad);
      ADD_FAILURE() << "accepted --mem " << bad;
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find("--mem"), std::string::npos);
    }
  }
}

TEST(FarmOptions, TimeLimitsAndPartitionsAsSlurmWritesThem) {
  for (const char* good : {"30", "30:00", "2:30:00", "1-0", "1-2:30", "1-2:30:00", "UNLIMITED", "infinite"})
    EXPECT_NO_THROW(CheckTimeLimit(good)) << good;
  for (const char* bad : {"", "1:2:3:4", "1-", "-1", "1h", "2:", ":30", "1-2-3", "a"})
    EXPECT_THROW(CheckTimeLimit(bad), InputError) << bad;
  for (const char* good : {"render", "gpu_a100", "short,long", "p-1.x"}) EXPECT_NO_THROW(CheckPartition(good)) << good;
  for (const char* bad : {"", "a b", ",a", "a,", "a,,b", "a;rm", "a\nb", "\"a\""})
    EXPECT_THROW(CheckPartition(bad), InputError) << bad;
}

// Runs a script with bash; returns its standard output.
std::string RunBash(const fs::path& script, const std::string& taskId) {
  const ProgramResult r = RunProgram({"env", "SLURM_ARRAY_TASK_ID=" + taskId, "SLURM_ARRAY_JOB_ID=42", "bash",
                                      script.string()});
  return std::to_string(r.status) + "|" + r.out;
}

TEST(FarmScript, EachTaskRunsTheRenderOnItsFramesWithEveryArgumentIntact) {
  TempDir dir;
  // The render command replaced by printf, which shows each argument as
  // the task's program would receive it.
  const std::vector<std::string> hostile = {"it's", "a b", "$HOME", "`id`", "\"q\"", "back\\slash", "*", "#", ""};
  BatchScriptOptions o;
  o.jobName = "velumbra-shot";
  o.logDir = dir / "logs";
  o.memoryMiB = 96;
  o.render = {"printf", "<%s>"};
  o.render.insert(o.render.end(), hostile.begin(), hostile.end());
  const std::vector<int> frames{1, 2, 3, 4, 5, 9, 11};
  const std::vector<FarmTask> tasks = ChunkFrames(frames, 3);
  const std::string script = BatchScript(tasks, o);
  WriteAll(dir / "job.sh", script);

  std::string expectedArgs;
  for (const std::string& a : hostile) expectedArgs += "<" + a + ">";
  EXPECT_EQ(RunBash(dir / "job.sh", "0"), "0|" + expectedArgs + "<-f><1-3>");
  EXPECT_EQ(RunBash(dir / "job.sh", "1"), "0|" + expectedArgs + "<-f><4,5,9>");
  EXPECT_EQ(RunBash(dir / "job.sh", "2"), "0|" + expectedArgs + "<-f><11>");
  // A task the job does not have fails instead of rendering something.
  EXPECT_EQ(RunBash(dir / "job.sh", "3").substr(0, 2), "2|");

  EXPECT_NE(script.find("#SBATCH --array=0-2\n"), std::string::npos) << script;
  EXPECT_NE(script.find("#SBATCH --mem=96M\n"), std::string::npos) << script;
  EXPECT_EQ(script.find("--cpus-per-task"), std::string::npos) << script;
  EXPECT_EQ(script.find("--partition"), std::string::npos) << script;
  EXPECT_EQ(script.find("--time"), std::string::npos) << script;
}

TEST(FarmScript, SlurmOptionsAreQuotedForSbatch) {
  BatchScriptOptions o;
  o.jobName = "velumbra-shot";
  o.logDir = "/shared/out #2 \"x\" 50%/velumbra-farm/job/logs";
  o.partition = "render,short";
  o.timeLimit = "2:00:00";
  o.cpus = 8;
  o.memoryMiB = 4096;
  o.render = {"/opt/velumbra", "render"};
  const std::string script = BatchScript(ChunkFrames(std::vector<int>{1, 2}, 1), o);
  // '#' would start a comment, '"' end the value, '%' be a pattern: each is
  // escaped, and only the script's own %a stays a pattern.
  EXPECT_NE(script.find(R"(#SBATCH --output="/shared/out \#2 \"x\" 50%%/velumbra-farm/job/logs/task-%a.log")"),
            std::string::npos)
      << script;
  EXPECT_NE(script.find("#SBATCH --partition=\"render,short\"\n"), std::string::npos) << script;
  EXPECT_NE(script.find("#SBATCH --time=\"2:00:00\"\n"), std::string::npos) << script;
  EXPECT_NE(script.find("#SBATCH --cpus-per-task=8\n"), std::string::npos) << script;
  EXPECT_THROW(SbatchQuote("two\nlines"), InputError);

  // sbatch takes any backslash in a file pattern as "expand nothing" and
  // drops it (before: every task's log went to one file "task-%a.log" in a
  // folder without the backslash). No escape keeps both: refused.
  o.logDir = "/shared/back\\slash/velumbra-farm/job/logs";
  try {
    BatchScript(ChunkFrames(std::vector<int>{1, 2}, 1), o);
    ADD_FAILURE() << "a log folder with a backslash was accepted";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("\"/shared/back\\\\slash/velumbra-farm/job/logs\" holds a backslash"),
              std::string::npos)
        << e.what();
  }
}

TEST(FarmJobFolder, BesideTheOutputsUpToTheFirstFrameField) {
  EXPECT_EQ(OutputBaseFolder("/r/out/f.####.png"), fs::path("/r/out"));
  EXPECT_EQ(OutputBaseFolder("/r/shots/####/f.png"), fs::path("/r/shots"));
  EXPECT_EQ(OutputBaseFolder("/r/a/b#/c/f.#.png"), fs::path("/r/a"));
  EXPECT_EQ(OutputBaseFolder("f.#.png"), fs::path());
  EXPECT_EQ(OutputBaseFolder("/f.#.png"), fs::path("/"));

  // 2026-12-08 09:30:05 UTC; unsafe characters of the scene's name replaced.
  EXPECT_EQ(JobFolderPath("/r/out", "my shot/v2", 1796722205),
            fs::path("/r/out/velumbra-farm/my_shot_v2-20261208-093005"));
  EXPECT_EQ(JobFolderPath("/r/out", "..", 0).filename().string().substr(0, 3), "j..");
}

TEST(FarmJobFolder, ANewFolderForEachJobWithItsLogFolder) {
  TempDir dir;
  const fs::path a = MakeJobFolder(dir.Path(), "shot", 1796722205);
  const fs::path b = MakeJobFolder(dir.Path(), "shot", 1796722205);
  EXPECT_EQ(a.filename(), "shot-20261208-093005");
  EXPECT_EQ(b.filename(), "shot-20261208-093005-2");
  EXPECT_TRUE(fs::is_directory(a / "logs"));
  EXPECT_TRUE(fs::is_directory(b / "logs"));
  EXPECT_EQ(TaskLogPath(a, 7), a / "logs" / "task-7.log");

  // A file where the farm's folder must go.
  TempDir blocked;
  WriteAll(blocked / "velumbra-farm", "x");
  EXPECT_THROW(MakeJobFolder(blocked.Path(), "shot", 0), SystemError);
}

}  // namespace
