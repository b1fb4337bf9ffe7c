// The command under hostile and careless use, end to end: bytes from
// outside that JSON cannot hold, memory it does not have, outputs that would
// destroy other files, and signals in every stage. Each case says what the
// command did before it was made sound.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/cli_fixture.h"
#include "support/run_command.h"
#include "host/app/image/png_io.h"
#include "app/image/exr_test_files.h"

#include <OpenEXR/ImfStringAttribute.h>

namespace {

using velumbra::ReadPngRgba;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The names in `folder` that are temporaries of an atomic write.
std::vector<std::string> Temporaries(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (Has(e.path().filename().string(), ".tmp")) found.push_back(e.path().string());
  return found;
}

// --- outside bytes: what is not UTF-8 never reaches a JSON string --------------------------

// Before: terminate called after type_error.316 (exit 134).
TEST_F(Velumbra, OptionBytesThatAreNotUtf8AreBadInputNamingTheOption) {
  const struct {
    std::vector<std::string> args;
  } cases[] = {
      {{"render", "--set", "camera=\xff", "-o", "a.png"}},              // a node name
      {{"render", "--set", "\xff=1", "-o", "a.png"}},                   // a parameter name
      {{"render", "--set", "brightstarscolor=\xc3(", "-o", "a.png"}},   // a colour
      {{"render", "--set", "duration={\"keys\":[[0,\"\xed\xa0\x80\"]]}", "-o", "a.png"}},
      {{"stars", "--set", "camera=\xfe\xff"}},
  };
  for (const auto& c : cases) {
    const CommandResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "velumbra: error: --set ")) << r.err;
    EXPECT_TRUE(Has(r.err, "is not UTF-8 text")) << r.err;
    EXPECT_TRUE(Has(r.err, "\\x")) << "the stray byte is shown escaped: " << r.err;
    EXPECT_FALSE(Has(r.err, "terminate")) << r.err;
    EXPECT_EQ(Entries(), 0);
  }
}

// Before: the whole value came back in the message (and a library's
// message about an option repeated it too).
TEST_F(Velumbra, AHugeValueIsQuotedCutAndCounted) {
  const std::string value(100000, 'x');
  const std::vector<std::string> cases[] = {
      {"render", "--set", "camera=" + value, "-o", "a.png"},
      {"render", "-f", value},
      {"render", value + ".json"},
      {"render", "--input", value + ".png"},
      {"render", "--depth", value},
      {"render", "--exr-camera", value},
      {"stars", "-f", value},
      {"render", "-o", value + ".png"},
  };
  for (const auto& args : cases) {
    const CommandResult r = Run(args);
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_LT(r.err.size(), 2500u) << args[1] << ": the message repeats the value";
    EXPECT_TRUE(Has(r.err, " bytes)")) << r.err.substr(0, 300);
  }
}

// --- memory: refused before it is taken, with the estimate --------------------------------

// Before: exit 0 with an empty image (ulimit -v 200000), or an uncaught
// bad_alloc (ulimit -v 300000).
TEST_F(Velumbra, AStarFieldBeyondTheAddressSpaceLimitIsRefusedBeforeRendering) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  WriteScene("s.json", SmallScene(R"("starscount": 10000000)", 64, 48));
  for (std::uint64_t limit : {200'000u * 1024u, 300'000u * 1024u}) {
    CommandLimits limits;
    limits.addressSpace = limit;
    const CommandResult r = Run({"render", "s.json", "-o", "out.png"}, limits);
    EXPECT_EQ(r.status, 2) << "ulimit -v " << limit / 1024 << ": " << r.err;
    EXPECT_TRUE(Has(r.err, "needs about")) << r.err;
    EXPECT_TRUE(Has(r.err, "the memory available now")) << r.err;
    // What to do: the budget measured depends on the other programs.
    EXPECT_TRUE(Has(r.err, "close some and run again")) << r.err;
    EXPECT_TRUE(Has(r.err, "with --memory-budget SIZE")) << r.err;
    EXPECT_FALSE(fs::exists(Work("out.png")));
  }
}

// With the budget set aside, the effect itself runs out: it logs the
// failure to the host, and the frame fails instead of passing for a render.
// Before: an empty image and status 0.
TEST_F(Velumbra, AnEffectsLoggedFailureFailsTheFrameAndWritesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  WriteScene("s.json", SmallScene(R"("starscount": 10000000)", 64, 48));
  WriteAll(Work("out.png"), "previous render");
  CommandLimits limits;
  limits.addressSpace = 200'000u * 1024u;
  const CommandResult r = Run({"render", "s.json", "-o", "out.png", "--memory-budget", "100G"}, limits);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Has(r.err, "velumbra: error: frame 0: Qe_Velumbra: not enough memory for 10000000 stars")) << r.err;
  EXPECT_EQ(ReadAll(Work("out.png")), "previous render");
  EXPECT_TRUE(Temporaries(work_).empty());
}

TEST_F(Velumbra, TheMemoryBudgetComesFromTheOptionThenTheEnvironment) {
  CommandLimits env;
  env.env = {{"VELUMBRA_MEMORY_BUDGET", "1M"}};
  CommandResult r = Run({"render", "-o", "out.png"}, env);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "more than the memory budget of 1.0 MiB (VELUMBRA_MEMORY_BUDGET)")) << r.err;
  // The option wins over the variable.
  r = Run({"render", "-o", "out.png", "--memory-budget", "2G"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run({"render", "-o", "out.png", "--memory-budget", "3M"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "(--memory-budget)")) << r.err;
  for (const char* bad : {"-1", "1.5G", "4Q", "G", "99999999999T"}) {
    r = Run({"render", "-o", "other.png", "--memory-budget", bad});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_FALSE(fs::exists(Work("other.png")));
  }
}

// Before: a small file claiming a huge picture was allocated whole.
TEST_F(Velumbra, AnInputImageIsWeighedByItsHeaderBeforeItIsRead) {
  std::vector<BMM_Color_64> pixels(size_t{1000} * 1000);
  velumbra::WritePngRgba(Work("in.png"), 1000, 1000, pixels.data(), 8);
  const CommandResult r = Run({"render", "--input", "in.png", "-o", "out.png", "--memory-budget", "10M"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "reading in.png (1000 x 1000 pixels) needs about")) << r.err;
  EXPECT_FALSE(fs::exists(Work("out.png")));
}

// An OpenEXR file of RGBA halves over `data`, showing `display`, with the
// extra attributes of `extra`; the file holds only the data window.
void WriteRgbaExr(const fs::path& file, const Imath::Box2i& display, const Imath::Box2i& data,
                  const Imf::Header& extra = Imf::Header()) {
  TestExr layout;
  layout.display = display;
  layout.data = data;
  layout.extra = extra;
  for (const char* c : {"R", "G", "B", "A"})
    layout.channels.push_back(Filled(c, layout.Count(), 0.25f, Imf::HALF));
  WriteTestExr(file, layout);
}

Imath::Box2i Box(int width, int height) { return {Imath::V2i(0, 0), Imath::V2i(width - 1, height - 1)}; }

// Before: only a name without a frame field was weighed; each frame of
// s.####.exr was read whatever its size (a 4096 x 4096 frame under 100M:
// 1.1 GB; a 16384 x 16384 second frame under 1G: 23.9 GB).
TEST_F(Velumbra, EachFrameOfAPatternIsWeighedByItsHeaderBeforeItIsRead) {
  WriteRgbaExr(Work("s.0001.exr"), Box(16, 12), Box(16, 12));
  WriteRgbaExr(Work("s.0002.exr"), Box(4096, 4096), Box(16, 12));  // a few KB that claim 4096 x 4096
  const CommandResult r =
      Run({"render", "-i", "s.####.exr", "-f", "1-2", "-o", "o.####.png", "--memory-budget", "100M"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "--input (frame 2): reading s.0002.exr (4096 x 4096 pixels) needs about")) << r.err;
  EXPECT_TRUE(fs::exists(Work("o.0001.png"))) << r.err;  // the frame before is whole
  EXPECT_FALSE(fs::exists(Work("o.0002.png")));
}

// Before: only the display window was weighed. An OpenEXR output carries
// the input's whole data window and every attribute: a 1 MB file of an
// 8192 x 8192 data window (display 16 x 12) took 2.66 GB under 300M, a
// 100 MB string attribute 600 MB under 150M.
TEST_F(Velumbra, AnExrPlateIsWeighedByItsDataWindowAndAttributes) {
  WriteRgbaExr(Work("wide.exr"), Box(16, 12), Box(2048, 2048));
  CommandResult r = Run({"render", "-i", "wide.exr", "-o", "out.exr", "--memory-budget", "64M"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "--input: reading wide.exr (16 x 12 pixels, a data window of 4194304 pixels) needs about"))
      << r.err;
  EXPECT_FALSE(fs::exists(Work("out.exr")));
  // A PNG output takes the display window only.
  r = Run({"render", "-i", "wide.exr", "-o", "out.png", "--memory-budget", "64M"});
  EXPECT_EQ(r.status, 0) << r.err;

  Imf::Header extra;
  extra.insert("note", Imf::StringAttribute(std::string(size_t{16} << 20, 'x')));
  WriteRgbaExr(Work("noted.exr"), Box(16, 12), Box(16, 12), extra);
  r = Run({"render", "-i", "noted.exr", "-o", "noted-out.exr", "--memory-budget", "64M"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "reading noted.exr (16 x 12 pixels, attributes of 16")) << r.err;
  EXPECT_FALSE(fs::exists(Work("noted-out.exr")));
}

// --- names: only what the user or the scene wrote is a pattern ---------------------------

// Before: proj#1/scene.json with "image": "plate.png" read proj01/plate.png
// (the scene's folder was expanded as a pattern), and -o 'pct%%.png' wrote
// pct%%.png though '%%' is one '%'.
TEST_F(Velumbra, TheScenesFolderIsNoPatternAndEscapesHoldInEveryName) {
  std::vector<BMM_Color_64> pixels(size_t{32} * 32, BMM_Color_64{1000, 2000, 3000, 65535});
  for (const char* folder : {"proj#1", "p%%2", "p%03d"}) {
    SCOPED_TRACE(folder);
    fs::create_directories(Work(folder));
    velumbra::WritePngRgba(Work(folder) / "plate.png", 32, 32, pixels.data(), 8);
    WriteAll(Work(folder) / "scene.json", SmallScene(R"("starscount": 10)", 32, 32, R"(, "image": "plate.png")"));
    const CommandResult r = Run({"render", (fs::path(folder) / "scene.json").string(), "-o", "out.png"});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_FALSE(fs::exists(Work("proj01")));
  // A pattern the scene writes after its folder is still one.
  WriteAll(Work("proj#1") / "seq.json", SmallScene(R"("starscount": 10)", 32, 32, R"(, "image": "plate%%.##.png")"));
  velumbra::WritePngRgba(Work("proj#1") / "plate%.07.png", 32, 32, pixels.data(), 8);
  CommandResult r = Run({"render", "proj#1/seq.json", "-f", "7", "-o", "seq.png"});
  EXPECT_EQ(r.status, 0) << r.err;

  r = Run({"render", "-o", "pct%%.png", "--set", "starscount=10", "--size", "16x12"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(Work("pct%.png")));
  EXPECT_FALSE(fs::exists(Work("pct%%.png")));
}

// Before: a 255 MB .chan was read whole into keys (3.26 GB under a budget
// of 300M). Its lines are counted first and weighed as keys.
TEST_F(Velumbra, AChanFileIsWeighedByItsLinesBeforeItsKeysAreMade) {
  std::string lines;
  for (int f = 1; f <= 300000; ++f) lines += std::to_string(f) + " 0 0 0 0 0 0\n";
  WriteAll(Work("cam.chan"), lines);
  WriteScene("s.json", R"({"render": {"width": 32, "height": 32, "camera": "cam"},
    "nodes": [{"name": "cam", "type": "camera", "chan": {"file": "cam.chan", "up": "z"}}]})");
  CommandResult r = Run({"render", "s.json", "-o", "out.png", "--memory-budget", "20M"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "the camera keys of the scene's .chan files needs about")) << r.err;
  EXPECT_FALSE(fs::exists(Work("out.png")));
  r = Run({"render", "s.json", "-f", "7", "-o", "out.png", "--memory-budget", "400M"});
  EXPECT_EQ(r.status, 0) << r.err;
}

// Before: a camera scaled to nearly nothing on one axis rendered a smear
// (its view's entries near 1e7 and more); only an exactly singular one was
// refused.
TEST_F(Velumbra, ANearlySingularCameraIsRefusedLikeASingularOne) {
  WriteScene("s.json", R"({"render": {"width": 32, "height": 32, "camera": "cam"},
    "nodes": [{"name": "cam", "type": "camera", "rotation": [90, 0, 0], "scale": [1, 1e-7, 1]}]})");
  const CommandResult r = Run({"render", "s.json", "-o", "out.png", "--memory-budget", "1G"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "the render camera cam has a nearly singular transform at tick 0")) << r.err;
  EXPECT_FALSE(fs::exists(Work("out.png")));
}

// Before: the CSV of ten million stars was built whole in memory (1.8 GB).
TEST_F(Velumbra, StarsStreamTheirCsvWithinALimitTheWholeTextWouldBreak) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  // 4 million records take 96 MB; their text about 300 MB.
  CommandLimits limits;
  limits.addressSpace = std::uint64_t{360} << 20;
  const CommandResult r = Run({"stars", "--set", "starscount=4000000", "-o", "stars.csv", "-q"}, limits);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(fs::file_size(Work("stars.csv")), std::uintmax_t{200} << 20);
  std::ifstream in(Work("stars.csv"));
  std::string line, last;
  std::getline(in, line);
  EXPECT_EQ(line, "index,x,y,z,r,g,b,a,size");
  in.seekg(-200, std::ios::end);
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  EXPECT_EQ(last.rfind("3999999,", 0), 0u) << last;
}

// --- file safety ---------------------------------------------------------------------------

// Before: the link was replaced by a regular file, and the mode reset.
TEST_F(Velumbra, AnOutputLinkIsWrittenThroughAndModesAreKept) {
  fs::create_directories(Work("real"));
  WriteAll(Work("real/target.png"), "old");
  ::chmod(Work("real/target.png").c_str(), 0600);
  fs::create_symlink("real/target.png", Work("link.png"));
  const CommandResult r = Run({"render", "-o", "link.png", "--set", "starscount=10"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(Work("link.png")));
  EXPECT_EQ(fs::read_symlink(Work("link.png")), "real/target.png");
  EXPECT_EQ(ReadPngRgba(Work("real/target.png")).width, 640);
  struct stat st {};
  ASSERT_EQ(::stat(Work("real/target.png").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_TRUE(Temporaries(work_).empty());
}

// Before: "wrote a.objectid.png" with the render lost; a frame listed twice
// rendered and wrote the same file twice.
TEST_F(Velumbra, OutputsThatMeetAreRefusedBeforeRendering) {
  const std::vector<std::string> cases[] = {
      {"render", "--set", "starscount=10", "-o", "a.objectid.png", "--ids", "a"},
      {"render", "--set", "starscount=10", "-f", "1,1", "-o", "c.#.png"},
      {"render", "--set", "starscount=10", "-o", "sub/../d.materialid.png", "--ids", "d"},
  };
  for (const auto& args : cases) {
    const CommandResult r = Run(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, "are the same file")) << r.err;
    EXPECT_EQ(Entries(), 0) << r.err;
  }
}

// Before: found only after the frame was rendered (exit 1).
TEST_F(Velumbra, NamesTheFileSystemCannotHoldAreRefusedBeforeRendering) {
  for (const std::string& name : {std::string(), std::string(300, 'n') + ".png", "x/" + std::string(256, 'y') + "/z.png"}) {
    const CommandResult r = Run({"render", "--set", "starscount=10", "-o", name});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_FALSE(Has(r.err, "Star Field")) << "nothing rendered first: " << r.err;
    EXPECT_EQ(Entries(), 0);
  }
}

// Before: -f 1-3000 made 3000 folders before the first frame.
TEST_F(Velumbra, EachFrameFolderIsMadeWithItsFrame) {
  WriteScene("s.json", SmallScene(R"("starscount": 20000)", 320, 240));
  Command render({"render", "s.json", "-f", "1-100000", "-o", "dirs/######/x.png", "--memory-budget", "16G"}, work_, logs_.Path());
  for (int i = 0; i < 6000 && !Has(render.ErrSoFar(), "wrote dirs/000003/x.png"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(render.Pid(), SIGINT);
  const CommandResult r = render.Wait();
  EXPECT_EQ(r.status, 130) << r.err;
  // Every folder holds its frame: none was made ahead of it.
  int folders = 0;
  for (const auto& e : fs::directory_iterator(Work("dirs"))) {
    ++folders;
    EXPECT_TRUE(fs::exists(e.path() / "x.png")) << e.path();
  }
  EXPECT_GE(folders, 3);
  EXPECT_LT(folders, 1000);
}

// --- signals -------------------------------------------------------------------------------

// A multi-frame render stopped by `signal` at several moments: the status
// is 128 + the signal, the frame in progress is not written and no
// temporary stays. Before: SIGTERM left a half-written temporary in 7 of 8
// runs (status -15, no message).
void ExpectCleanStop(const fs::path& work, int signal, int expected) {
  for (int delayMs : {0, 40, 120, 300}) {
    TempDir logs;  // each run's own, so that no earlier run's titles are read as this one's
    Command render({"render", "s.json", "-f", "1-40", "-o", "f.####.png", "--memory-budget", "16G"}, work, logs.Path());
    for (int i = 0; i < 6000 && !Has(render.ErrSoFar(), "Star Field"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ::kill(render.Pid(), signal);
    const CommandResult r = render.Wait();
    EXPECT_EQ(r.status, expected) << r.err;
    EXPECT_TRUE(Has(r.err, "the frame in progress was not written")) << r.err;
    EXPECT_TRUE(Temporaries(work).empty()) << "after " << delayMs << " ms";
    // Every frame file is complete.
    for (const auto& e : fs::directory_iterator(work))
      if (e.path().extension() == ".png") {
        EXPECT_EQ(ReadPngRgba(e.path()).width, 1024) << e.path();
      }
  }
}

TEST_F(Velumbra, SigtermAndSighupStopLikeCtrlCWithTheirOwnStatus) {
  WriteScene("s.json", SmallScene(R"("starscount": 200000)", 1024, 768));
  ExpectCleanStop(work_, SIGTERM, 143);
  ExpectCleanStop(work_, SIGHUP, 129);
}

// A second signal ends the process at once; before, a Ctrl-C during a
// write left the temporary behind.
TEST_F(Velumbra, ASecondSignalEndsTheRunWithoutLeavingATemporary) {
  WriteScene("s.json", SmallScene(R"("starscount": 1000)", 2048, 2048));
  for (int delayMs : {50, 150, 300, 600, 1000}) {
    TempDir logs;
    Command render({"render", "s.json", "-f", "1-20", "-o", "g.####.png", "--memory-budget", "16G"}, work_, logs.Path());
    for (int i = 0; i < 6000 && !Has(render.ErrSoFar(), "Star Field"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ::kill(render.Pid(), SIGINT);
    ::kill(render.Pid(), SIGINT);
    const CommandResult r = render.Wait();
    EXPECT_TRUE(r.status == 130) << r.status << " " << r.err;
    EXPECT_TRUE(Temporaries(work_).empty()) << "after " << delayMs << " ms: " << r.err;
  }
}

}  // namespace
