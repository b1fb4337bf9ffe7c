// What --resume renders again, what a finished job reports, and the pieces
// that talk to Slurm's commands (their answers parsed, programs run without
// a shell).
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "host/app/base/app_error.h"
#include "host/app/farm/farm.h"
#include "host/app/image/png_io.h"
#include "host/app/farm/slurm.h"

namespace {

namespace fs = std::filesystem;
using namespace velumbra;

void WriteGoodPng(const fs::path& file) {
  RgbaImage image;
  image.width = 4;
  image.height = 3;
  image.pixels.assign(12, BMM_Color_64{100, 200, 300, 65280});
  WritePngRgba(file, image, 16);
}

TEST(FarmResume, AFrameIsCompleteOnlyWhenEveryFileItWritesReads) {
  TempDir dir;
  const std::string out = (dir / "f.##.png").string();
  const std::string ids = (dir / "id.##").string();
  EXPECT_EQ(CheckFrameOutputs(FrameOutputFiles(out, "", 1)), OutputState::Missing);

  WriteGoodPng(dir / "f.01.png");
  EXPECT_EQ(CheckFrameOutputs(FrameOutputFiles(out, "", 1)), OutputState::Complete);
  // With --ids the frame also writes its two ID images.
  ASSERT_EQ(FrameOutputFiles(out, ids, 1).size(), 3u);
  EXPECT_EQ(CheckFrameOutputs(FrameOutputFiles(out, ids, 1)), OutputState::Missing);
  const std::vector<WORD> objects(12, 7);
  const std::vector<UBYTE> materials(12, 3);
  WriteObjectIdPng(dir / "id.01.objectid.png", 4, 3, objects.data());
  WriteMaterialIdPng(dir / "id.01.materialid.png", 4, 3, materials.data());
  EXPECT_EQ(CheckFrameOutputs(FrameOutputFiles(out, ids, 1)), OutputState::Complete);

  // A truncated image, an empty one, a folder in its place: damaged.
  const std::string bytes = ReadAll(dir / "f.01.png");
  WriteAll(dir / "f.02.png", bytes.substr(0, bytes.size() - 20));
  WriteAll(dir / "f.03.png", "");
  fs::create_directory(dir / "f.04.png");
  for (int frame : {2, 3, 4}) EXPECT_EQ(CheckFrameOutputs(FrameOutputFiles(out, "", frame)), OutputState::Damaged) << frame;
  // An OpenEXR name holding PNG bytes does not read as OpenEXR.
  WriteAll(dir / "f.05.exr", bytes);
  EXPECT_EQ(CheckFrameOutputs({dir / "f.05.exr"}), OutputState::Damaged);

  const std::vector<int> frames{1, 2, 3, 4, 5, 1};
  EXPECT_EQ(FramesToResume(frames, [&](int f) { return CheckFrameOutputs(FrameOutputFiles(out, "", f)); }),
            (std::vector<int>{2, 3, 4, 5}));
}

TEST(FarmResume, AnAtomicRewriteChangesTheFilesStamp) {
  TempDir dir;
  EXPECT_FALSE(StampOf(dir / "f.png").exists);
  WriteGoodPng(dir / "f.png");
  const FileStamp first = StampOf(dir / "f.png");
  EXPECT_TRUE(first.exists);
  EXPECT_EQ(StampOf(dir / "f.png"), first);
  WriteGoodPng(dir / "f.png");  // the same bytes, a new file renamed over it
  EXPECT_NE(StampOf(dir / "f.png"), first);
}

TEST(FarmReport, FailedTasksNameTheirFramesStateErrorAndLog) {
  const std::vector<FarmTask> tasks = ChunkFrames(std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}, 3);
  const std::vector<int> notWritten{5, 6, 7, 8, 9};
  std::map<int, SlurmTaskState> states;
  states[1] = {1, "CANCELLED", "None"};
  states[2] = {2, "FAILED", "NonZeroExitCode"};
  const fs::path folder = "/shared/out/velumbra-farm/shot-1";
  const auto logs = [](const fs::path& log) -> std::string {
    if (log.filename() == "task-2.log")
      return "velumbra farm: job 9 task 2 on n1: frames 7-9\nQe_Velumbra: Creating Star Field\n"
             "velumbra: error: cannot open /shared/in/plate.0007.png: No such file or directory\n";
    if (log.filename() == "task-1.log")
      return "frame 4 (1/3)\nslurmstepd: error: *** JOB 10 ON n1 CANCELLED AT 2026-12-08T10:00:00 ***\n";
    return "";
  };
  const auto written = [&](int f) { return std::find(notWritten.begin(), notWritten.end(), f) == notWritten.end(); };
  const std::vector<FailedTask> failed = FailedTasks(tasks, written, states, folder, logs);
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(failed[0].index, 1);
  EXPECT_EQ(failed[0].missing, (std::vector<int>{5, 6}));
  EXPECT_EQ(failed[0].state, "CANCELLED");
  EXPECT_EQ(failed[0].lastError, "slurmstepd: error: *** JOB 10 ON n1 CANCELLED AT 2026-12-08T10:00:00 ***");
  EXPECT_EQ(failed[1].state, "FAILED (NonZeroExitCode)");
  EXPECT_EQ(failed[1].log, folder / "logs" / "task-2.log");

  const std::string report = FailureReport("9", failed, 5);
  EXPECT_NE(report.find("job 9: 5 frames not written by 2 tasks:"), std::string::npos) << report;
  EXPECT_NE(report.find("task 1 (frames 4-6), missing 5,6: CANCELLED"), std::string::npos) << report;
  EXPECT_NE(report.find("task 2 (frames 7-9): FAILED (NonZeroExitCode)\n    velumbra: error: cannot open "
                        "/shared/in/plate.0007.png"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("log: /shared/out/velumbra-farm/shot-1/logs/task-2.log"), std::string::npos) << report;
  EXPECT_NE(report.find("--resume"), std::string::npos);

  // Every frame written: nothing to report.
  EXPECT_TRUE(FailedTasks(tasks, [](int) { return true; }, states, folder, logs).empty());
}

TEST(FarmReport, TheLastVelumbraErrorWinsOverSlurmsLines) {
  EXPECT_EQ(LastErrorLine(""), "");
  EXPECT_EQ(LastErrorLine("frame 1 (1/3)\nwrote /x/f.1.png\n"), "");
  EXPECT_EQ(LastErrorLine("velumbra: error: a\nslurmstepd: error: b\nvelumbra: error: c\r\n"), "velumbra: error: c");
  EXPECT_EQ(LastErrorLine("slurmstepd: error: *** TIME LIMIT ***"), "slurmstepd: error: *** TIME LIMIT ***");
}

TEST(SlurmAnswers, SqueueLinesParsedOneTaskEach) {
  const std::vector<SlurmTaskState> tasks =
      ParseSqueueTasks("0|COMPLETED|None\n1|RUNNING|None\n12|PENDING|Resources\r\nN/A|RUNNING|None\n\n");
  ASSERT_EQ(tasks.size(), 3u);
  EXPECT_EQ(tasks[0].index, 0);
  EXPECT_EQ(tasks[0].state, "COMPLETED");
  EXPECT_EQ(tasks[2].index, 12);
  EXPECT_EQ(tasks[2].reason, "Resources");
  EXPECT_TRUE(ParseSqueueTasks("").empty());
  EXPECT_THROW(ParseSqueueTasks("garbage\n"), SystemError);
  EXPECT_THROW(ParseSqueueTasks("99999999999|RUNNING|None\n"), SystemError);

  for (const char* s : {"PENDING", "RUNNING", "COMPLETING", "CONFIGURING", "SUSPENDED", "REQUEUED"})
    EXPECT_TRUE(IsActiveState(s)) << s;
  for (const char* s : {"COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "OUT_OF_MEMORY", "NODE_FAIL", ""})
    EXPECT_FALSE(IsActiveState(s)) << s;

  EXPECT_EQ(ParseSbatchJobId("123\n"), "123");
  EXPECT_EQ(ParseSbatchJobId("4567;cluster\n"), "4567");
  EXPECT_EQ(ParseSbatchJobId(""), std::nullopt);
  EXPECT_EQ(ParseSbatchJobId("Submitted batch job 5\n"), std::nullopt);
}

TEST(SlurmCommands, ProgramsRunWithoutAShellAndReportTheirOutcome) {
  const ProgramResult echo = RunProgram({"printf", "%s|", "a b", "$HOME", "*"});
  EXPECT_EQ(echo.status, 0);
  EXPECT_EQ(echo.out, "a b|$HOME|*|");
  const ProgramResult fail = RunProgram({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_EQ(fail.status, 3);
  EXPECT_EQ(fail.out, "out\n");
  EXPECT_EQ(fail.err, "err\n");
  // Standard input is empty: a program reading it ends at once.
  EXPECT_EQ(RunProgram({"cat"}).out, "");
  // Much output on both streams at once does not block.
  const ProgramResult lots = RunProgram({"sh", "-c", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2"});
  EXPECT_EQ(lots.out.size(), 300000u);
  EXPECT_EQ(lots.err.size(), 300000u);
  try {
    RunProgram({"sbatch-that-is-not-there"});
    ADD_FAILURE() << "a missing program was run";
  } catch (const SystemError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot run sbatch-that-is-not-there"), std::string::npos) << e.what();
  }
}

}  // namespace
