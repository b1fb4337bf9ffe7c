// The farm command in-process, up to the submission: what --dry-run prints,
// every mistake found before anything is written or submitted, --resume's
// choice of frames, and --cpus as the tasks' render --threads.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include "support/temp_dir.h"
#include "support/run_command.h"
#include "host/app/base/app_error.h"
#include "host/app/colour/colour_config.h"
#include "host/app/commands/commands.h"
#include "host/app/output/output_name.h"

namespace {

namespace fs = std::filesystem;
using namespace velumbra;

constexpr const char* kScene = R"({"render": {"width": 64, "height": 48},
  "nodes": [{"name": "Camera001", "type": "camera", "position": [0, 0, 0], "target": [0, 1, 0]}],
  "effects": [{"class": "Qe_Velumbra", "params": {"starscount": 500}}]})";

class FarmCommand : public ::testing::Test {
 protected:
  FarmCommand() { WriteAll(dir_ / "shot.json", kScene); }

  // Parses and runs `velumbra farm ARGS`; returns the exit status and
  // standard output. Errors come out as the exceptions main maps.
  std::pair<int, std::string> Farm(std::vector<std::string> args) {
    CLI::App app("velumbra", "velumbra");
    app.require_subcommand(1);
    const CommandRun render = AddRenderCommand(app);  // owns the render options the line may set
    const CommandRun run = AddFarmCommand(app);
    args.insert(args.begin(), "farm");
    std::reverse(args.begin(), args.end());
    app.parse(args);
    testing::internal::CaptureStdout();
    int status = -1;
    try {
      status = run();
    } catch (...) {
      testing::internal::GetCapturedStdout();
      throw;
    }
    return {status, testing::internal::GetCapturedStdout()};
  }

  std::string Scene() const { return (dir_ / "shot.json").string(); }
  std::string Out() const { return (dir_ / "out" / "f.####.png").string(); }

  TempDir dir_;
};

TEST_F(FarmCommand, DryRunPrintsTheScriptWithAbsolutePathsAndWritesNothing) {
  const auto [status, script] = Farm({Scene(), "-f", "1-5", "--chunk", "2", "-o", Out(), "--set", "seed=3",
                                      "--set", "brightstarscolor=[1,0.9,0.8]", "--depth", "8", "--dry-run", "-q"});
  EXPECT_EQ(status, 0);
  EXPECT_NE(script.find("#SBATCH --array=0-2\n"), std::string::npos) << script;
  EXPECT_NE(script.find("0) frames='1,2' ;;"), std::string::npos) << script;
  EXPECT_NE(script.find("2) frames='5' ;;"), std::string::npos) << script;
  EXPECT_NE(script.find("'render' '" + (dir_ / "out" / "velumbra-farm").string()), std::string::npos) << script;
  EXPECT_NE(script.find("'-o' '" + Out() + "' '--set' 'seed=3' '--set' 'brightstarscolor=[1,0.9,0.8]' "
                        "'--depth' '8' -f \"$frames\""),
            std::string::npos)
      << script;
  EXPECT_NE(script.find("#SBATCH --mem="), std::string::npos) << script;
  // Nothing was made: no job folder, no output folder.
  EXPECT_EQ(CountEntries(dir_.Path()), 1);
}

// Before: run from a folder run#1, the tasks wrote into run71/: the working
// folder was joined to -o and then expanded as a pattern.
TEST_F(FarmCommand, TheWorkingFolderIsNoPattern) {
  const fs::path run = dir_ / "run#1";
  fs::create_directories(run);
  WriteAll(run / "shot.json", kScene);
  const fs::path before = fs::current_path();
  fs::current_path(run);
  std::pair<int, std::string> result;
  try {
    result = Farm({"shot.json", "-f", "71", "-o", "s.####.png", "--dry-run", "-q"});
  } catch (...) {
    fs::current_path(before);
    throw;
  }
  fs::current_path(before);
  const std::string& script = result.second;
  // (sbatch reads '\#' as '#'.)
  EXPECT_NE(script.find("#SBATCH --output=\"" + (dir_ / "run\\#1").string() + "/velumbra-farm/"), std::string::npos)
      << script;
  // The -o each task gets names run#1/s.0071.png for frame 71.
  const size_t at = script.find("'-o' '");
  ASSERT_NE(at, std::string::npos) << script;
  const std::string output = script.substr(at + 6, script.find('\'', at + 6) - at - 6);
  EXPECT_EQ(OutputNameForFrame(output, 71), (run / "s.0071.png").string());
}

TEST_F(FarmCommand, RenderOptionsReachEveryTask) {
  const auto [status, script] =
      Farm({Scene(), "-f", "1", "-o", Out(), "--alpha", "premultiplied", "--size", "32x24", "--fps", "24000/1001",
            "--compression", "small", "--over", "#102030", "--dry-run", "-q"});
  EXPECT_EQ(status, 0);
  EXPECT_NE(script.find("'-o' '" + Out() + "' '--alpha' 'premultiplied' '--size' '32x24' '--fps' '24000/1001' "
                        "'--over' '#102030' '--compression' 'small' -f"),
            std::string::npos)
      << script;
}

TEST_F(FarmCommand, TheStarLightLayerGoesToEveryTaskAndIntoItsMemory) {
  // A frame large enough that its light layer (16 bytes a pixel) shows in
  // the request of whole MiB.
  WriteAll(dir_ / "big.json", R"({"render": {"width": 1920, "height": 1080},
    "nodes": [{"name": "Camera001", "type": "camera"}], "effects": [{"class": "Qe_Velumbra"}]})");
  const std::string scene = (dir_ / "big.json").string(), exr = (dir_ / "out" / "f.####.exr").string();
  const auto mem = [](const std::string& script) { return std::stoull(script.substr(script.find("#SBATCH --mem=") + 14)); };
  const std::string with = Farm({scene, "-f", "1", "-o", exr, "--stars-layer", "--dry-run", "-q"}).second;
  const std::string without = Farm({scene, "-f", "1", "-o", exr, "--dry-run", "-q"}).second;
  EXPECT_NE(with.find("'--stars-layer'"), std::string::npos) << with;
  EXPECT_EQ(without.find("--stars-layer"), std::string::npos) << without;
  // The layer lives with the frame all along.
  EXPECT_GE(mem(with) - mem(without), 1920ull * 1080 * 16 / (1 << 20));
}

TEST_F(FarmCommand, ColourOptionsReachEveryTaskWithTheCheckedConfigByItsAbsoluteName) {
  // $OCIO names the config by a relative name; the tasks run elsewhere.
  WriteAll(dir_ / "studio.ocio", std::string(BuiltInColourConfigText()));
  const fs::path relative = fs::relative(dir_ / "studio.ocio");
  const char* old = std::getenv("OCIO");
  const std::string saved = old ? old : "";
  ::setenv("OCIO", relative.c_str(), 1);
  const auto [status, script] = Farm({Scene(), "-f", "1", "-o", Out(), "--input-space", "ACEScg", "--output-space",
                                      "sRGB", "--colour-values", "frame", "--dry-run", "-q"});
  if (old) ::setenv("OCIO", saved.c_str(), 1);
  else ::unsetenv("OCIO");
  EXPECT_EQ(status, 0);
  EXPECT_NE(script.find("'--ocio' '" + fs::absolute(relative).lexically_normal().string() +
                        "' '--input-space' 'ACEScg' '--output-space' 'sRGB' '--colour-values' 'frame'"),
            std::string::npos)
      << script;
}

// A missing catalogue fails every task: it is refused at submission (with
// the others in EveryMistakeIsFound...), but only where it would be read.
TEST_F(FarmCommand, ACatalogueIsCheckedOnlyWhereStarsComeFromIt) {
  EXPECT_EQ(Farm({Scene(), "-f", "1", "-o", Out(), "--set", "catalogfile=no-such-stars.dat", "--dry-run", "-q"}).first,
            0);
  fs::create_directories(dir_ / "cat");
  WriteAll(dir_ / "cat" / "bsc.txt", "  7.4071  5.9195  0.50 \" 58Alp Ori\"\n");
  // Relative to the scene's folder, as the tasks' renders read it.
  EXPECT_EQ(Farm({Scene(), "-f", "1", "-o", Out(), "--set", "starsource=1", "--set", "catalogfile=cat/bsc.txt",
                  "--dry-run", "-q"})
                .first,
            0);
}

TEST_F(FarmCommand, MemoryComesFromTheEstimateUnlessGiven) {
  const auto small = Farm({Scene(), "-f", "1", "-o", Out(), "--dry-run", "-q"}).second;
  const auto many = Farm({Scene(), "-f", "1", "-o", Out(), "--set", "starscount=10000000", "--dry-run", "-q"}).second;
  const auto mem = [](const std::string& script) {
    const size_t at = script.find("#SBATCH --mem=");
    return std::stoull(script.substr(at + 14));
  };
  // Ten million stars of 24 bytes more.
  EXPECT_GE(mem(many) - mem(small), 10000000ull * 24 / (1 << 20));
  const auto given = Farm({Scene(), "-f", "1", "-o", Out(), "--mem", "2G", "--dry-run", "-q"}).second;
  EXPECT_NE(given.find("#SBATCH --mem=2048M\n"), std::string::npos) << given;
}

TEST_F(FarmCommand, EveryMistakeIsFoundAtSubmissionBeforeAnythingIsWritten) {
  WriteAll(dir_ / "bad.json", R"({"render": {"widht": 10}})");
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
  };
  const std::string scene = Scene(), out = Out();
  const Case cases[] = {
      {{scene, "-f", "1-3", "-o", out, "--set", "starcount=5"}, "starcount"},
      {{scene, "-f", "1-3", "-o", out, "--set", "starscount=-5"}, "starscount"},
      {{scene, "-f", "3-1", "-o", out}, "3-1"},
      {{scene, "-f", "1-3", "-o", (dir_ / "one.png").string()}, "#"},
      {{scene, "-f", "1-3", "-o", out, "--ids", (dir_ / "ids").string()}, "--ids"},
      {{scene, "-f", "1-3", "-o", out, "--mem", "lots"}, "--mem"},
      {{scene, "-f", "1-3", "-o", out, "--mem", "0"}, "all of each node's memory"},
      {{scene, "-f", "1-3", "-o", out, "--mem", "0K"}, "all of each node's memory"},
      {{scene, "-f", "1-3", "-o", (dir_ / "back\\slash" / "s.####.png").string(), "--dry-run"}, "backslash"},
      {{scene, "-f", "1-3", "-o", out, "--time", "1h"}, "--time"},
      {{scene, "-f", "1-3", "-o", out, "--partition", "a b"}, "--partition"},
      {{scene, "-f", "1-3", "-o", out, "--plugins", (dir_ / "nowhere").string()}, "--plugins"},
      {{scene, "-f", "1-3", "-o", out, "--input", (dir_ / "missing.png").string()}, "missing.png"},
      {{(dir_ / "bad.json").string(), "-f", "1-3", "-o", out}, "/render/widht"},
      {{(dir_ / "absent.json").string(), "-f", "1-3", "-o", out}, "absent.json"},
      {{scene, "-f", "2147483647", "-o", out}, "2147483647"},
      {{scene, "-f", "1-3", "-o", out, "--size", "0x48"}, "--size"},
      {{scene, "-f", "1-3", "-o", out, "--fps", "7"}, "--fps"},
      {{scene, "-f", "1-3", "-o", out, "--compression", "piz"}, "--compression"},
      {{scene, "-f", "1-3", "-o", (dir_ / "f.####.exr").string(), "--depth", "8"}, "--depth"},
      {{scene, "-f", "1-3", "-o", out, "--over", "blue"}, "--over"},
      {{scene, "-f", "1-3", "-o", (dir_ / "f.####.exr").string(), "--over", "black"}, "--over"},
      {{scene, "-f", "1-3", "-o", out, "--stars-layer"}, "--stars-layer applies to OpenEXR outputs"},
      {{scene, "-f", "1-3", "-o", out, "--set", "starsource=1", "--set", "catalogfile=no-such-stars.dat"},
       "/params/catalogfile: " + (dir_ / "no-such-stars.dat").string() + ": no such file"},
      {{scene, "-f", "1-3", "-o", out, "--output-space", "P3"}, "--output-space \"P3\""},
      {{scene, "-f", "1-3", "-o", out, "--ocio", (dir_ / "none.ocio").string()}, "none.ocio"},
  };
  for (const Case& c : cases) {
    try {
      Farm(c.args);
      ADD_FAILURE() << "accepted: " << c.args[3] << " ...";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(CountEntries(dir_.Path()), 2);  // the two scenes only
}

TEST_F(FarmCommand, ResumeSubmitsOnlyTheFramesThatAreMissingOrDoNotRead) {
  fs::create_directories(dir_ / "out");
  const CommandResult rendered =
      RunVelumbra({"render", Scene(), "-f", "1-4", "-o", Out(), "-q"}, dir_.Path(), dir_.Path());
  ASSERT_EQ(rendered.status, 0) << rendered.err;
  fs::remove(dir_ / "out" / "f.0002.png");
  WriteAll(dir_ / "out" / "f.0004.png", "not a PNG");

  const auto [status, script] = Farm({Scene(), "-f", "1-5", "-o", Out(), "--resume", "--dry-run", "-q"});
  EXPECT_EQ(status, 0);
  EXPECT_NE(script.find("0) frames='2' ;;"), std::string::npos) << script;
  EXPECT_NE(script.find("1) frames='4' ;;"), std::string::npos) << script;
  EXPECT_NE(script.find("2) frames='5' ;;"), std::string::npos) << script;
  EXPECT_EQ(script.find("3) frames="), std::string::npos) << script;

  // Every frame there: nothing to submit, nothing printed.
  const auto done = Farm({Scene(), "-f", "1,3", "-o", Out(), "--resume", "-q"});
  EXPECT_EQ(done.first, 0);
  EXPECT_EQ(done.second, "");
}

// Debian's real sbatch with a cluster configured but no controller running
// (a closed port, timeouts of a second): it refuses at once, as on a machine
// where Slurm is installed but not set up. What the failed submission made
// is gone; what was there before stays.
TEST_F(FarmCommand, AFailedSubmissionLeavesNothingBehind) {
  ASSERT_EQ(std::system("command -v sbatch > /dev/null"), 0) << "sbatch (Debian package slurm-wlm) is not installed";
  TempDir conf;
  WriteAll(conf / "slurm.conf",
           "ClusterName=unreachable\nSlurmctldHost=localhost\nSlurmctldPort=9\nMessageTimeout=1\nTCPTimeout=1\n"
           "NodeName=localhost CPUs=1 State=UNKNOWN\nPartitionName=debug Nodes=localhost Default=YES\n");
  const char* before = std::getenv("SLURM_CONF");
  const std::string saved = before ? before : "";
  ::setenv("SLURM_CONF", (conf / "slurm.conf").c_str(), 1);
  const auto expectRefused = [&](const std::vector<std::string>& args) {
    try {
      Farm(args);
      ADD_FAILURE() << "submitted without a controller";
    } catch (const SystemError& e) {
      EXPECT_NE(std::string(e.what()).find("sbatch refused the job"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("slurm controller"), std::string::npos) << e.what();  // sbatch's own words
    }
  };
  // The output folder and velumbra-farm/ were made for the job: both go.
  expectRefused({Scene(), "-f", "1-3", "-o", Out(), "-q"});
  EXPECT_EQ(CountEntries(dir_.Path()), 1);  // the scene only
  // An output folder that was there, with an earlier job's folder in
  // velumbra-farm/, stays as it was.
  fs::create_directories(dir_ / "out" / "velumbra-farm" / "earlier");
  expectRefused({Scene(), "-f", "1-3", "-o", Out(), "-q", "--wait"});
  EXPECT_EQ(CountEntries(dir_ / "out" / "velumbra-farm"), 1);
  EXPECT_TRUE(fs::exists(dir_ / "out" / "velumbra-farm" / "earlier"));
  if (before) ::setenv("SLURM_CONF", saved.c_str(), 1);
  else ::unsetenv("SLURM_CONF");
}

TEST_F(FarmCommand, CpusBecomeTheTasksThreads) {
  const auto [status, script] = Farm({Scene(), "-f", "1", "-o", Out(), "--cpus", "4", "--dry-run"});
  EXPECT_EQ(status, 0);
  EXPECT_NE(script.find("#SBATCH --cpus-per-task=4\n"), std::string::npos) << script;
  EXPECT_NE(script.find("'--threads' '4' -f"), std::string::npos) << script;
  // The render command of this binary takes what the script gives it.
  CLI::App app("velumbra", "velumbra");
  const CommandRun render = AddRenderCommand(app);
  EXPECT_NO_THROW(app.parse(std::vector<std::string>{"4", "--threads", "render"}));
}

}  // namespace
