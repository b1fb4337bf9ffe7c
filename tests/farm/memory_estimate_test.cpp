// The render's memory estimate: its terms against the sizes of what they
// count, the effect's own figures asked of the loaded module, its parts
// taken from a real render session, and the estimate as an upper bound of
// the peak a real velumbra process reaches, generated stars and a
// catalogue's alike.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"
#include "support/run_command.h"
#include "effect/qe_velumbra.h"
#include "host/app/farm/farm.h"
#include "host/app/farm/memory_estimate.h"
#include "host/app/module_loader.h"
#include "host/app/render_frame.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/bitmap.h"
#include "plugin/class_desc.h"
#include "support/module_handle.h"
#include "support/synthetic_catalogue.h"

namespace {

namespace fs = std::filesystem;
using namespace velumbra;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

RenderMemoryInputs Frame(std::uint64_t w, std::uint64_t h) {
  RenderMemoryInputs in;
  in.width = w;
  in.height = h;
  return in;
}

TEST(MemoryEstimate, ResidentPartsFollowPixelsAndStars) {
  RenderMemoryInputs in = Frame(1920, 1080);
  const RenderMemoryEstimate bare = EstimateRenderMemory(in);
  EXPECT_EQ(bare.frame, 1920u * 1080u * 8u);  // 16-bit RGBA
  EXPECT_EQ(bare.gBuffer, 0u);
  EXPECT_EQ(bare.inputImages, 0u);
  EXPECT_EQ(bare.writeBuffers, 0u);  // PNG streams its rows
  EXPECT_EQ(bare.Total(), bare.process + bare.frame);

  in.objectIdChannel = in.materialIdChannel = true;
  EXPECT_EQ(EstimateRenderMemory(in).gBuffer, 1920u * 1080u * 3u);

  // The effects' records are kept between frames: two effects keep both;
  // their working memory takes turns.
  in.fields = {{24000000, 5000}, {72000000, 9000}};
  const RenderMemoryEstimate two = EstimateRenderMemory(in);
  EXPECT_EQ(two.stars, 96000000u);
  EXPECT_EQ(two.applyScratch, 9000u);
  EXPECT_EQ(two.Total(), bare.Total() + 1920u * 1080u * 3u + 96000000u + 9000u);
}

TEST(MemoryEstimate, InputsAndOutputsAddTheirBuffers) {
  const std::uint64_t pixels = 640 * 480;
  RenderMemoryInputs in = Frame(640, 480);
  in.input = InputImageKind::Png;
  EXPECT_EQ(EstimateRenderMemory(in).inputImages, pixels * 8);
  in.input = InputImageKind::Exr;  // 16-bit pixels and the file's floats
  EXPECT_EQ(EstimateRenderMemory(in).inputImages, pixels * 24);
  in.objectIdImage = in.materialIdImage = true;
  EXPECT_EQ(EstimateRenderMemory(in).inputImages, pixels * 27);

  // OpenEXR output: FLOAT floats and the encoded samples; HALF adds its
  // copy but encodes half as much; IDs add their widened channels twice.
  RenderMemoryInputs out = Frame(640, 480);
  out.output = OutputImageKind::ExrFloat;
  EXPECT_EQ(EstimateRenderMemory(out).writeBuffers, pixels * (16 + 16));
  out.output = OutputImageKind::ExrHalf;
  EXPECT_EQ(EstimateRenderMemory(out).writeBuffers, pixels * (16 + 8 + 8));
  out.exrIdChannels = true;
  EXPECT_EQ(EstimateRenderMemory(out).writeBuffers, pixels * (16 + 8 + 8 + 8 + 8));
}

TEST(MemoryEstimate, ApplyAndWritingTakeTurns) {
  RenderMemoryInputs in = Frame(4096, 4096);
  in.output = OutputImageKind::ExrFloat;
  in.fields = {{240000000, 33000000}};
  const RenderMemoryEstimate e = EstimateRenderMemory(in);
  EXPECT_GT(e.writeBuffers, e.applyScratch);
  EXPECT_EQ(e.Total(), e.process + e.frame + e.stars + e.writeBuffers);
  in.output = OutputImageKind::Png;
  EXPECT_EQ(EstimateRenderMemory(in).Total(), e.process + e.frame + e.stars + e.applyScratch);
}

// The effect's figures come from the loaded module (IStarField), for the
// values its block holds at the times asked.
class EffectMemory : public ::testing::Test {
 protected:
  void SetUp() override { registry_.LoadDirectory(BuildDir()); }
  // The effect's figures for `stars` and `subdivisions` on `workers`.
  StarFieldMemory Of(const std::string& stars, const std::string& subdivisions, int workers) {
    WriteAll(dir_ / "s.json", R"({"nodes": [{"name": "Camera001", "type": "camera"}],
      "effects": [{"class": "Qe_Velumbra", "params": {"starscount": )" + stars +
                                  R"(, "durationsubdivisions": )" + subdivisions + "}}]}");
    RenderSession session(LoadSceneFile(dir_ / "s.json"),
                          [&](const std::string& name) { return registry_.FindClass(name); });
    IStarField* field = GetStarFieldInterface(session.Effects().at(0));
    if (!field) {
      ADD_FAILURE() << "the module's effect hands out no star-field interface";
      return {};
    }
    const TimeValue times[] = {session.FrameTime(0), session.FrameTime(5), session.FrameTime(10),
                               session.FrameTime(15), session.FrameTime(20)};
    return field->RenderMemory(times, 5, workers);
  }
  ModuleRegistry registry_;
  TempDir dir_;
};

TEST_F(EffectMemory, RecordsAndWorkingMemoryFollowTheEffectsBuffers) {
  // 28 bytes a star (its record, 24, and its place in the visibility
  // index) and the index's group beginnings, 98,305 of 4 bytes a block of
  // 4,194,304 stars; an empty field is still an array of one record.
  constexpr std::uint64_t kTable = 4u * 98305u;
  EXPECT_EQ(Of("1000000", "1", 2).records, 28u * 1000000u + kTable);
  EXPECT_EQ(Of("5000000", "1", 2).records, 28u * 5000000u + 2 * kTable);
  EXPECT_EQ(Of("0", "1", 2).records, 28u + kTable);
  // More subdivisions need a longer motion path, bounded per sample (and
  // on workers room for more calls a star).
  const std::uint64_t few = Of("1000", "1", 0).working;
  const std::uint64_t many = Of("1000", "1000", 2).working;
  EXPECT_GT(Of("1000", "1000", 0).working, few);
  EXPECT_LT(Of("1000", "1000", 0).working - few, 999u * 256u);
  // Workers add the parallel reading's scratch and a batch of recorded
  // calls (53 MiB at most, the stars' calls when fewer); the serial loops
  // need neither.
  const std::uint64_t serial = Of("1000", "1000", 0).working;
  EXPECT_GT(many - serial, 32 * kMiB);
  EXPECT_LT(many - serial, 70 * kMiB);
  EXPECT_LT(Of("1000", "1", 2).working - Of("1000", "1", 0).working, 2 * kMiB);
  // What grows with the count: a pass's bitmap and ranks of the kept
  // stars (a bit and half a bit a star), and the generation's peak, the
  // larger of the stars' cells while the index is built (4 bytes a star)
  // and a block laid out by cell (96 MiB from 1,048,576 stars on).
  const std::uint64_t big = Of("10000000", "1", 2).working;
  const std::uint64_t half = Of("5000000", "1", 2).working;
  EXPECT_EQ(big - half, 5000000u * 3 / 16);
  EXPECT_GT(half, 96 * kMiB);
  EXPECT_LT(big, 200 * kMiB);
  const std::uint64_t below = Of("1000000", "1", 2).working;
  EXPECT_GE(below, 4u * 1000000u);
  EXPECT_LT(below, 80 * kMiB);
}

// Keyed values: the largest star count and the largest subdivisions over
// the times asked, even where no one time holds both.
TEST_F(EffectMemory, TakesTheLargestValuesOverTheTimes) {
  const StarFieldMemory keyed = Of(R"({"keys": [[0, 1000], [10, 50000], [20, 2000]]})",
                                   R"({"keys": [[0, 3], [15, 40]]})", 2);
  const StarFieldMemory constant = Of("50000", "40", 2);
  EXPECT_EQ(keyed.records, constant.records);
  EXPECT_EQ(keyed.working, constant.working);
}

TEST(MemoryEstimate, AbsurdSizesSaturateInsteadOfWrapping) {
  RenderMemoryInputs in = Frame(std::uint64_t{1} << 40, std::uint64_t{1} << 40);
  in.output = OutputImageKind::ExrHalf;
  in.fields = {{UINT64_MAX, UINT64_MAX}};
  EXPECT_EQ(EstimateRenderMemory(in).Total(), UINT64_MAX);
  in = Frame(1, 1);
  in.fields = {{UINT64_MAX - 1, 1}, {UINT64_MAX - 1, 1}};
  EXPECT_EQ(EstimateRenderMemory(in).Total(), UINT64_MAX);
  EXPECT_EQ(MemoryRequestMiB(UINT64_MAX), UINT64_MAX / kMiB + 1);
}

TEST(MemoryEstimate, RequestAddsATenthAndRoundsUpToMebibytes) {
  EXPECT_EQ(MemoryRequestMiB(0), 0u);
  EXPECT_EQ(MemoryRequestMiB(1), 1u);
  EXPECT_EQ(MemoryRequestMiB(100 * kMiB), 110u);
  EXPECT_EQ(MemoryRequestMiB(100 * kMiB + 1), 111u);
  EXPECT_EQ(FormatBytes(0), "0 bytes");
  EXPECT_EQ(FormatBytes(1023), "1023 bytes");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(110 * kMiB), "110 MiB");
  EXPECT_EQ(FormatBytes(std::uint64_t{3} << 30), "3.0 GiB");
}

// The session's own numbers: the render size, and each effect's figures
// over the frames rendered.
TEST(MemoryEstimate, SessionGivesTheLargestValuesOverTheFrames) {
  ModuleRegistry registry;
  registry.LoadDirectory(BuildDir());
  TempDir dir;
  WriteAll(dir / "s.json", R"({"render": {"width": 320, "height": 200},
    "nodes": [{"name": "Camera001", "type": "camera"}],
    "effects": [{"class": "Qe_Velumbra", "params": {
      "starscount": {"keys": [[0, 1000], [10, 50000], [20, 2000]]},
      "durationsubdivisions": {"keys": [[0, 3], [15, 40]]}}}]})");
  RenderSession session(LoadSceneFile(dir / "s.json"),
                        [&](const std::string& name) { return registry.FindClass(name); });
  const std::vector<int> early{0, 1, 2};
  RenderMemoryInputs in = MemoryInputsOf(session, early, 0, "out.png", 1);
  EXPECT_EQ(in.width, 320u);
  EXPECT_EQ(in.height, 200u);
  ASSERT_EQ(in.fields.size(), 1u);
  // Records and their visibility index (see EffectMemory below).
  EXPECT_EQ(in.fields[0].records, 28u * 1000u + 4u * 98305u);
  EXPECT_EQ(in.output, OutputImageKind::Png);
  EXPECT_FALSE(in.exrIdChannels);

  const std::vector<int> all{0, 5, 10, 15, 20};
  in = MemoryInputsOf(session, all, 0, "out.####.EXR", 1);
  EXPECT_EQ(in.fields[0].records, 28u * 50000u + 4u * 98305u);
  // An OpenEXR output carries the ID channels, written as FLOAT without an
  // OpenEXR input.
  EXPECT_EQ(in.output, OutputImageKind::ExrFloat);
  EXPECT_TRUE(in.objectIdChannel && in.materialIdChannel && in.exrIdChannels);
}

// The peak resident memory of a velumbra render, in bytes.
std::uint64_t PeakOfRender(const std::vector<std::string>& args, const fs::path& cwd) {
  std::vector<std::string> argv{(BuildDir() / "velumbra").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // KiB on Linux
}

// The estimate is an upper bound of what a render really takes: PNG and
// OpenEXR outputs, ID channels, a large field with motion blur.
TEST(MemoryEstimate, BoundsThePeakOfARealRender) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine make the peak no measure of the render";
#endif
  ModuleRegistry registry;
  registry.LoadDirectory(BuildDir());
  TempDir dir;
  WriteAll(dir / "s.json", R"({"render": {"width": 960, "height": 540},
    "nodes": [{"name": "Camera001", "type": "camera", "position": [0, 0, 0], "target": [0, 1, 0],
               "keys": [{"frame": 0, "target": [0, 1, 0]}, {"frame": 30, "target": [1, 1, 0]}]}],
    "effects": [{"class": "Qe_Velumbra", "params": {"starscount": 1000000, "duration": 1,
                                                    "durationsubdivisions": 8}}]})");
  RenderSession session(LoadSceneFile(dir / "s.json"),
                        [&](const std::string& name) { return registry.FindClass(name); });
  const std::vector<int> frames{3};
  struct Case {
    std::vector<std::string> args;
    std::string output;
    ULONG channels;
  };
  const Case cases[] = {
      {{"render", "s.json", "-f", "3", "-o", "a.png", "-q"}, "a.png", 0},
      {{"render", "s.json", "-f", "3", "-o", "a.exr", "-q"}, "a.exr", 0},
      {{"render", "s.json", "-f", "3", "-o", "b.png", "--ids", "b", "-q"}, "b.png", BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID},
  };
  for (const Case& c : cases) {
    const std::uint64_t peak = PeakOfRender(c.args, dir.Path());
    ASSERT_GT(peak, 0u) << c.output << ": the render failed";
    const std::uint64_t estimate =
        EstimateRenderMemory(MemoryInputsOf(session, frames, c.channels, c.output, 2)).Total();
    EXPECT_GE(estimate, peak) << c.output << ": estimate " << FormatBytes(estimate) << ", peak " << FormatBytes(peak);
    // An upper bound, not a wild one.
    EXPECT_LT(estimate, 3 * peak) << c.output << ": estimate " << FormatBytes(estimate) << ", peak "
                                  << FormatBytes(peak);
  }
}

// With catalogue stars the effect counts what it reads and places: the
// estimate against the effect's own buffers after rendering the frames.
TEST(CatalogueMemory, RecordsBoundTheEffectsBuffersAndLeaveTheGeneratedFieldOut) {
  ScopedInstance instance;
  TempDir dir;
  WriteAll(dir / "sky.dat", SyntheticKStars(SyntheticSky()));
  struct Case {
    const char* label;
    std::string params;
  };
  const Case cases[] = {
      {"catalogue", R"("magnitudelimit": 8)"},
      {"fill-in to a keyed limit", R"("fillinflag": 1, "magnitudelimit": {"keys": [[0, 9.5], [20, 10.2]]})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    WriteAll(dir / "s.json", R"({"render": {"width": 320, "height": 200},
      "nodes": [{"name": "Camera001", "type": "camera"}],
      "effects": [{"class": "Qe_Velumbra", "params": {"starscount": 10000000, "starsource": 1,
                   "catalogfile": "sky.dat", "durationsubdivisions": 4, )" + c.params + "}}]}");
    RenderSession session(LoadSceneFile(dir / "s.json"), [](const std::string& name) -> ClassDesc* {
      return name == "Qe_Velumbra" ? GetQe_VelumbraDesc() : nullptr;
    });
    auto* effect = static_cast<Qe_Velumbra*>(session.Effects().at(0));
    const TimeValue times[] = {session.FrameTime(0), session.FrameTime(10), session.FrameTime(20)};
    const StarFieldMemory m = GetStarFieldInterface(effect)->RenderMemory(times, 3, 2);
    for (int frame : {0, 10, 20}) ASSERT_NE(session.RenderFrame(frame, nullptr), nullptr);
    const std::uint64_t kept =
        effect->skyCatalogue.KeptBytes() + effect->skyField.Bytes() + effect->skyFillIn.Bytes();
    EXPECT_GE(m.records, kept);
    EXPECT_LT(m.records, kept + kept / 20);
    // The 10 million generated stars are not made, nor counted.
    EXPECT_EQ(effect->starField.stars(), nullptr);
    EXPECT_LT(m.records, 24u * 10000000u);
    // Working: at least the catalogue's file and its parse.
    EXPECT_GT(m.working, std::filesystem::file_size(dir / "sky.dat") + 60000u * sizeof(sky::CatalogueStar));
  }
}

// The peak of a real render of a catalogue (its first frame: read, parsed,
// placed) with and without fill-in.
TEST(MemoryEstimate, BoundsThePeakOfACatalogueRender) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine make the peak no measure of the render";
#endif
  ModuleRegistry registry;
  registry.LoadDirectory(BuildDir());
  TempDir dir;
  SyntheticSky sky;
  sky.stars = 200000;
  WriteAll(dir / "sky.dat", SyntheticKStars(sky));
  struct Case {
    const char* label;
    std::string params;
  };
  const Case cases[] = {
      {"catalogue", R"("magnitudelimit": 9)"},
      {"fill-in", R"("magnitudelimit": 10, "fillinflag": 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    WriteAll(dir / "s.json", R"({"render": {"width": 960, "height": 540},
      "nodes": [{"name": "Camera001", "type": "camera", "position": [0, 0, 0], "target": [0, 1, 0],
                 "keys": [{"frame": 0, "target": [0, 1, 0]}, {"frame": 30, "target": [1, 1, 0]}]}],
      "effects": [{"class": "Qe_Velumbra", "params": {"starsource": 1, "catalogfile": "sky.dat", "duration": 1,
                   "durationsubdivisions": 8, )" + c.params + "}}]}");
    RenderSession session(LoadSceneFile(dir / "s.json"),
                          [&](const std::string& name) { return registry.FindClass(name); });
    const std::uint64_t peak = PeakOfRender({"render", "s.json", "-f", "3", "-o", "a.png", "-q"}, dir.Path());
    ASSERT_GT(peak, 0u) << "the render failed";
    const std::uint64_t estimate = EstimateRenderMemory(MemoryInputsOf(session, {3}, 0, "a.png", 2)).Total();
    EXPECT_GE(estimate, peak) << "estimate " << FormatBytes(estimate) << ", peak " << FormatBytes(peak);
    EXPECT_LT(estimate, 3 * peak) << "estimate " << FormatBytes(estimate) << ", peak " << FormatBytes(peak);
  }
}

}  // namespace
