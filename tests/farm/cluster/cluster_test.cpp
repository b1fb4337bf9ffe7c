// velumbra farm on a real one-node Slurm cluster (one_node_cluster.h): the
// frames a job array renders are the bytes a local render writes; a
// cancelled job leaves only whole frames and --resume renders the rest; a
// failing task is reported with its frames, Slurm's state, its error and
// its log. The cluster starts once for the suite and stops at its end, also
// when a case fails.
//
// The program exits 77 (CTest: skipped) with the reason when the cluster
// cannot run here (not root, Slurm or munge missing).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "host/app/output/output_name.h"
#include "support/temp_dir.h"
#include "support/run_command.h"
#include "farm/cluster/one_node_cluster.h"
#include "host/app/image/png_io.h"
#include "host/app/farm/slurm.h"

namespace {

namespace fs = std::filesystem;

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// 64 x 48 frames of a panning camera with motion blur: every frame differs,
// and a frame takes a noticeable fraction of a second, so that a job can be
// cancelled part-way.
constexpr const char* kScene = R"({"render": {"width": 64, "height": 48},
 "nodes": [{"name": "Camera001", "type": "camera", "fov": 45, "position": [0, 0, 0], "target": [0, 1, 0],
            "keys": [{"frame": 0, "target": [0, 1, 0]}, {"frame": 30, "target": [1, 1, 0]}]}],
 "effects": [{"class": "Qe_Velumbra", "params": {"starscount": 100000, "duration": 1, "durationsubdivisions": 6,
                                                 "colorvariance": 30}}]})";

std::string FrameName(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "f.%04d.png", frame);
  return name;
}

class FarmCluster : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    skipReason_ = OneNodeCluster::Unavailable();
    if (!skipReason_.empty()) return;
    cluster_ = new OneNodeCluster;
    if (!cluster_->Start()) {
      startError_ = cluster_->Error() + "\n" + cluster_->Logs();
      return;
    }
    // The reference: the twelve frames rendered here, in one process.
    root_ = new TempDir;
    WriteAll(*root_ / "scene.json", kScene);
    fs::create_directories(*root_ / "local");
    const CommandResult r = RunVelumbra({"render", (*root_ / "scene.json").string(), "-f", "1-12", "-o",
                                         (*root_ / "local" / "f.####.png").string(), "-q"},
                                        root_->Path(), root_->Path());
    if (r.status != 0) startError_ = "the local render failed: " + r.err;
  }

  static void TearDownTestSuite() {
    delete cluster_;  // stops every daemon
    cluster_ = nullptr;
    delete root_;
    root_ = nullptr;
  }

 protected:
  void SetUp() override {
    if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
    ASSERT_TRUE(startError_.empty()) << startError_;
  }

  void TearDown() override {
    if (HasFailure() && cluster_) std::printf("%s\n", cluster_->Logs().c_str());
  }

  static fs::path Scene() { return *root_ / "scene.json"; }
  static std::string Reference(int frame) { return ReadAll(*root_ / "local" / FrameName(frame)); }

  CommandResult Farm(const std::vector<std::string>& args) {
    std::vector<std::string> all{"farm", Scene().string()};
    all.insert(all.end(), args.begin(), args.end());
    return RunVelumbra(all, work_.Path(), logs_.Path());
  }

  // Waits until squeue lists no task of the job as active.
  static void WaitForJobEnd(const std::string& jobId) {
    const velumbra::SlurmClient slurm;
    for (const double end = Now() + 60; Now() < end;) {
      const auto tasks = slurm.Tasks(jobId);
      bool active = false;
      if (tasks)
        for (const auto& t : *tasks) active = active || velumbra::IsActiveState(t.state);
      if (!active) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    FAIL() << "job " << jobId << " did not end within 60 s";
  }

  static std::string skipReason_;
  static std::string startError_;
  static OneNodeCluster* cluster_;
  static TempDir* root_;

  TempDir work_;
  TempDir logs_;
};

std::string FarmCluster::skipReason_;
std::string FarmCluster::startError_;
OneNodeCluster* FarmCluster::cluster_ = nullptr;
TempDir* FarmCluster::root_ = nullptr;

TEST_F(FarmCluster, TwelveFramesInFourTasksAreTheBytesOfALocalRender) {
  // A folder name with what the batch script must quote: a space, '%' (a
  // pattern in Slurm's file names), quotes, '#' (a comment in an #SBATCH
  // line; in an output name written '%#', as '#' is a frame number field).
  const fs::path out = work_.Path() / "out dir %a 'q' \"d\" #1";
  const double start = Now();
  const CommandResult r = Farm({"-f", "1-12", "--chunk", "3", "-o",
                                velumbra::EscapeFrameName(out.string()) + "/f.####.png", "--wait"});
  const double seconds = Now() - start;
  ASSERT_EQ(r.status, 0) << r.err;
  std::printf("farm: 12 frames in 4 tasks, submission to the last frame: %.2f s\n", seconds);

  // Standard output is the job ID alone.
  EXPECT_TRUE(std::regex_match(r.out, std::regex("[0-9]+\n"))) << r.out;
  EXPECT_NE(r.err.find("12 frames in 4 tasks of up to 3 frames"), std::string::npos) << r.err;
  for (int frame = 1; frame <= 12; ++frame) {
    const std::string bytes = ReadAll(out / FrameName(frame));
    EXPECT_FALSE(bytes.empty()) << frame;
    EXPECT_TRUE(bytes == Reference(frame)) << "frame " << frame << " differs from the local render";
  }

  // The job folder beside the outputs: the scene's copy, the script, a log
  // per task naming its frames.
  std::vector<fs::path> jobs;
  for (const auto& e : fs::directory_iterator(out / "velumbra-farm")) jobs.push_back(e.path());
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_TRUE(fs::exists(jobs[0] / "scene.json"));
  EXPECT_TRUE(fs::exists(jobs[0] / "job.sh"));
  for (int task = 0; task < 4; ++task) {
    const std::string log = ReadAll(jobs[0] / "logs" / ("task-" + std::to_string(task) + ".log"));
    const std::string frames = std::to_string(3 * task + 1) + "-" + std::to_string(3 * task + 3);
    EXPECT_NE(log.find("frames " + frames), std::string::npos) << "task " << task << ":\n" << log;
  }
}

// sbatch takes a backslash in --output as "expand nothing" and drops it:
// before, the tasks' logs went to one file named task-%a.log elsewhere.
TEST_F(FarmCluster, AnOutputFolderWithABackslashIsRefusedBeforeSubmitting) {
  const fs::path out = work_.Path() / "back\\slash";
  const CommandResult r = Farm({"-f", "1-2", "-o", (out / "f.####.png").string()});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("holds a backslash"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;  // no job ID: nothing submitted
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(FarmCluster, ACancelledJobLeavesWholeFramesOnlyAndResumeRendersTheRest) {
  const fs::path out = work_.Path() / "out";
  const std::string pattern = (out / "f.####.png").string();
  const auto countFrames = [&] {
    int n = 0;
    for (int frame = 1; frame <= 12; ++frame) n += fs::exists(out / FrameName(frame)) ? 1 : 0;
    return n;
  };

  // Ctrl-C while waiting, as soon as the first frame is there: the waiting
  // stops, the job goes on, and the command says how to cancel it.
  Command waiting({"farm", Scene().string(), "-f", "1-12", "--chunk", "3", "-o", pattern, "--wait"}, work_.Path(),
                  logs_.Path());
  for (const double end = Now() + 60; countFrames() == 0 && Now() < end;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_GT(countFrames(), 0) << "no frame within 60 s: " << waiting.ErrSoFar();
  ::kill(waiting.Pid(), SIGINT);
  const CommandResult stopped = waiting.Wait();
  EXPECT_EQ(stopped.status, 130) << stopped.err;
  const std::string jobId = stopped.out.substr(0, stopped.out.find('\n'));
  ASSERT_FALSE(jobId.empty());
  EXPECT_NE(stopped.err.find("job " + jobId + " goes on"), std::string::npos) << stopped.err;
  EXPECT_NE(stopped.err.find("scancel " + jobId), std::string::npos) << stopped.err;
  const auto tasks = velumbra::SlurmClient().Tasks(jobId);
  ASSERT_TRUE(tasks.has_value());
  bool active = false;
  for (const auto& t : *tasks) active = active || velumbra::IsActiveState(t.state);
  EXPECT_TRUE(active) << "the job ended with the waiting";

  // Cancelled part-way: the running tasks are stopped in the middle of
  // their chunks, the pending ones never start.
  ASSERT_EQ(velumbra::RunProgram({"scancel", jobId}).status, 0);
  WaitForJobEnd(jobId);
  const int before = countFrames();
  ASSERT_LT(before, 12) << "the job ended before it could be cancelled";

  // Whatever is there is a whole frame, the local render's bytes.
  for (int frame = 1; frame <= 12; ++frame) {
    if (fs::exists(out / FrameName(frame))) {
      EXPECT_TRUE(ReadAll(out / FrameName(frame)) == Reference(frame)) << "frame " << frame;
    }
  }

  // A damaged frame goes again too.
  int damaged = 0;
  for (int frame = 1; frame <= 12 && !damaged; ++frame)
    if (fs::exists(out / FrameName(frame))) damaged = frame;
  const std::string whole = ReadAll(out / FrameName(damaged));
  WriteAll(out / FrameName(damaged), whole.substr(0, whole.size() / 2));

  const CommandResult resumed = Farm({"-f", "1-12", "--chunk", "3", "-o", pattern, "--resume", "--wait"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  const int missing = 12 - before + 1;
  EXPECT_NE(resumed.err.find(std::to_string(missing) + " frames of 12 missing or not readable"), std::string::npos)
      << resumed.err;
  for (int frame = 1; frame <= 12; ++frame)
    EXPECT_TRUE(ReadAll(out / FrameName(frame)) == Reference(frame)) << "frame " << frame;

  // Nothing left to do: nothing is submitted.
  const CommandResult again = Farm({"-f", "1-12", "-o", pattern, "--resume"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(again.out.empty()) << again.out;
  EXPECT_NE(again.err.find("nothing to submit"), std::string::npos) << again.err;
}

TEST_F(FarmCluster, AFailingTaskIsReportedWithItsFramesStateErrorAndLog) {
  // The plate sequence lacks frame 8: task 2 (frames 7-9) writes frame 7,
  // then stops at the missing input; the other tasks do their work.
  const fs::path out = work_.Path() / "out";
  const fs::path plates = work_.Path() / "plates";
  fs::create_directories(plates);
  const std::vector<BMM_Color_64> night(64 * 48, BMM_Color_64{0, 0, 2560, 65280});
  for (int frame = 1; frame <= 12; ++frame) {
    if (frame == 8) continue;
    char name[16];
    std::snprintf(name, sizeof name, "in.%04d.png", frame);
    velumbra::WritePngRgba(plates / name, 64, 48, night.data(), 16);
  }
  const CommandResult r = Farm({"-f", "1-12", "--chunk", "3", "-o", (out / "####" / "f.png").string(), "--wait",
                                "--input", (plates / "in.####.png").string(), "--set", "starscount=2000"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("velumbra: error: job "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2 frames not written by 1 task"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("task 2 (frames 7-9), missing 8,9: FAILED"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("in.0008.png"), std::string::npos) << "the task's own error line: " << r.err;
  const std::smatch log = [&] {
    std::smatch m;
    std::regex_search(r.err, m, std::regex("log: (\\S+task-2\\.log)"));
    return m;
  }();
  ASSERT_FALSE(log.empty()) << r.err;
  EXPECT_NE(ReadAll(log[1].str()).find("velumbra: error:"), std::string::npos);
  EXPECT_NE(r.err.find("--resume"), std::string::npos) << r.err;
  for (int frame = 1; frame <= 12; ++frame) {
    char folder[8];
    std::snprintf(folder, sizeof folder, "%04d", frame);
    EXPECT_EQ(fs::exists(out / folder / "f.png"), frame != 8 && frame != 9) << frame;
  }
}

}  // namespace

// Exit 77 when every case was skipped (the cluster cannot run here), so
// that CTest reports the test as skipped rather than passed.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  const auto* unit = ::testing::UnitTest::GetInstance();
  if (status == 0 && unit->test_to_run_count() > 0 && unit->skipped_test_count() == unit->test_to_run_count())
    return 77;
  return status;
}
