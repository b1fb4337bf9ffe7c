// velumbra render: a scene (or the built-in one) to PNG or OpenEXR frames.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>
#include <utility>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/app/base/app_error.h"
#include "host/app/colour/scene_colours.h"
#include "host/app/commands/commands.h"
#include "host/app/frame_range.h"
#include "host/app/output/frame_writer.h"
#include "host/app/image/exr_camera.h"
#include "host/app/image/exr_frame.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/flatten.h"
#include "host/app/image/hdr_merge.h"
#include "host/app/image/png_io.h"
#include "host/app/memory_budget.h"
#include "host/app/farm/memory_estimate.h"
#include "host/app/commands/module_options.h"
#include "host/app/commands/render_options.h"
#include "host/app/output/output_format.h"
#include "host/app/output/output_name.h"
#include "host/app/output/output_plan.h"
#include "host/app/progress.h"
#include "host/app/base/quoting.h"
#include "host/app/render_frame.h"
#include "host/app/scene/param_binding.h"
#include "host/app/scene/scene_build.h"
#include "host/app/scene/scene_check.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/render_threads.h"

namespace velumbra {

namespace fs = std::filesystem;

namespace {

// The render's own options; those it shares with `velumbra farm` are in
// `shared` (render_options.h).
struct RenderCommandOptions {
  std::string scene;
  std::string output = "stars.png";
  std::string frames;
  bool quiet = false;
  int threads = 0;           // 0: every core
  std::string memoryBudget;  // --memory-budget (empty: VELUMBRA_MEMORY_BUDGET, else what is available)
  RenderOptions shared;
  ModuleOptions modules;
};

// Writes one PNG file to standard output.
void WriteToStandardOutput(const std::string& png) {
  if (std::fwrite(png.data(), 1, png.size(), stdout) != png.size() || std::fflush(stdout) != 0)
    throw SystemError(std::string("cannot write to standard output: ") + std::strerror(errno));
}

// --- the memory a render needs ---------------------------------------------------------------
// The render's own estimate is the command's (memory_estimate.h, shared
// with `velumbra farm`); these weigh what comes before it: the frame size
// of the scene (input images are weighed by FrameInputs).
constexpr std::uint64_t kBitmapBytesPerPixel = 8;      // BMM_Color_64
constexpr std::uint64_t kGBufferBytesPerPixel = 3;     // object ID 2, material ID 1

std::uint64_t Pixels(std::uint64_t width, std::uint64_t height) { return width * height; }

// The frames the render holds at once beyond the estimate's one: with the
// background writer, one written, one waiting and one rendering
// (frame_writer.h).
std::uint64_t ExtraFrameBytes(RenderSession& session, std::uint64_t framesInFlight) {
  const std::uint64_t pixels = Pixels(static_cast<std::uint64_t>(session.Width()),
                                      static_cast<std::uint64_t>(session.Height()));
  const std::uint64_t light = session.StarLightLayer() ? sizeof(BMM_Color_fl) : 0;
  return pixels * (kBitmapBytesPerPixel + kGBufferBytesPerPixel + light) * (framesInFlight - 1);
}

// The floats a colour conversion of the output holds for each frame in
// flight: the frame's copy and the converted frame (colour_plan.h).
std::uint64_t ColourConversionBytes(RenderSession& session, const ColourPlan& colour, std::uint64_t framesInFlight) {
  if (colour.Output().IsIdentity()) return 0;
  const std::uint64_t pixels = Pixels(static_cast<std::uint64_t>(session.Width()),
                                      static_cast<std::uint64_t>(session.Height()));
  return pixels * 2 * sizeof(FloatRgba) * framesInFlight;
}

int RunRender(const RenderCommandOptions& o, const CLI::App& cli) {
  const RenderOptions& shared = o.shared;
  const MemoryBudget budget = ResolveMemoryBudget(o.memoryBudget);
  SceneDesc scene = o.scene.empty() ? DefaultScene() : LoadSceneFile(o.scene);
  OverrideScene(shared, !o.scene.empty(), scene);
  // A frame's render size in the scene (an image's own size is read below).
  CheckMemoryBudget(Pixels(static_cast<std::uint64_t>(scene.render.width), static_cast<std::uint64_t>(scene.render.height)) *
                        (kBitmapBytesPerPixel + kGBufferBytesPerPixel),
                    budget, "a " + std::to_string(scene.render.width) + " x " + std::to_string(scene.render.height) +
                                " frame");
  // The keys of .chan cameras, counted from the files' lines before they are read.
  const std::uint64_t chanKeyBytes = ChanKeyBytes(scene);
  CheckMemoryBudget(chanKeyBytes, budget, "the camera keys of the scene's .chan files");
  const ImageFormat outputFormat = OutputFormatOf(o.output, "-o");
  const bool toStdout = IsStandardOutput(o.output);
  if (toStdout && ::isatty(fileno(stdout)))
    throw InputError("-o -: standard output is a terminal; send it to a program or a file "
                     "(velumbra render --over black -o - | ffmpeg -f image2pipe -i - -pix_fmt yuv420p out.mp4)");
  const PngAlpha pngAlpha = PngAlphaOf(shared);
  InputOptions inputs;
  inputs.pngAlpha = pngAlpha;
  if (!shared.input.empty()) inputs.image = fs::path(shared.input);
  inputs.keepExrPlate = IsExrFile(o.output);
  if (o.scene.empty()) {
    // The built-in scene's camera renders only when the input image brings
    // none of its own.
    scene.render.camera.clear();
    inputs.builtInScene = true;
  }
  inputs.exrCamera = ExrCameraOf(shared);
  // Each input file is weighed from its header before it is read, every
  // frame's own for a pattern: a tiny file claiming a huge picture costs
  // nothing.
  inputs.budget = budget;
  if (!o.quiet) inputs.note = [](const std::string& line) { std::fprintf(stderr, "velumbra: %s\n", line.c_str()); };
  const std::vector<int> frames = o.frames.empty() ? std::vector<int>{scene.render.frame} : ParseFrameList(o.frames);
  // The input image's name as written (a frame pattern, output_name.h).
  const std::filesystem::path inputImage = inputs.image ? *inputs.image : scene.render.image.value_or(fs::path());
  CheckFormatOptions(shared, o.output, outputFormat, !inputImage.empty() && !IsExrFile(inputImage), cli);
  const ColourPlan colour = ColourPlanOf(shared, inputImage, outputFormat);
  inputs.sceneColours = colour.SceneColours();
  if (!colour.Note().empty() && inputs.note) inputs.note(colour.Note());
  std::vector<SetOption> sets;
  for (const std::string& s : shared.sets) sets.push_back(ParseSetOption(s, scene.TicksPerFrame()));

  const auto registry = LoadModules(o.modules, o.quiet);
  RenderSession session(scene, LookupIn(*registry), sets, inputs);
  for (int frame : frames) session.FrameTime(frame);  // every frame fits the host's time
  const OutputPlan plan(o.output, shared.ids, frames, RenderInputs(o.scene, scene, inputs, frames));

  const bool exrOutput = outputFormat == ImageFormat::Exr;
  // The star light beyond the 16-bit frame: for catalogue stars always,
  // else when asked (docs/sky.md).
  session.SetStarLightLayer(StarLightLayerOf(shared, exrOutput, session, frames));
  const ULONG idChannels = shared.ids.empty() && !exrOutput ? 0 : (BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID);
  const ExrIdType exrIdType = ExrIdTypeOf(shared);
  const std::optional<ExrColourType> exrColourType = ExrColourTypeOf(shared);
  const OutputCompression compression = CompressionOf(shared, exrOutput);
  const std::optional<BackgroundColor> over = BackgroundOf(shared);
  const int threads = o.threads > 0 ? o.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::uint64_t estimate =
      EstimateRenderMemory(MemoryInputsOf(session, frames, idChannels, o.output, threads)).Total() +
      ExtraFrameBytes(session, o.threads == 1 ? 1 : 3) + chanKeyBytes +
      ColourConversionBytes(session, colour, o.threads == 1 ? 1 : 3);
  CheckMemoryBudget(estimate, budget,
                    "the render (" + std::to_string(session.Width()) + " x " + std::to_string(session.Height()) +
                        " pixels" + (exrOutput ? ", OpenEXR" : "") + ")");

  // The effects may keep this many threads busy; the writer is one more
  // thread, mostly waiting on the disk and zlib.
  GrantRenderThreads(o.threads > 0 ? o.threads : static_cast<int>(std::thread::hardware_concurrency()));
  InterruptGuard guard;
  ProgressReporter progress(ProgressReporter::StyleFor(o.quiet, stderr), stderr);
  // Each frame is written on the writer's thread while the next renders;
  // "wrote" lines are printed here, in frame order, between progress lines.
  // An OpenEXR output over an OpenEXR input carries the input's passes, which
  // the session holds only until it reads the next frame's: such frames are
  // written before the next renders.
  const bool writeNeedsInputs = exrOutput && !inputImage.empty() && IsExrFile(inputImage);
  FrameWriter writer(/*background=*/o.threads != 1 && !writeNeedsInputs);
  const auto announce = [&] {
    for (const std::string& file : writer.TakeWritten())
      if (!o.quiet) std::fprintf(stderr, "wrote %s\n", file.c_str());
  };
  const int count = static_cast<int>(plan.Frames().size());
  try {
    for (int i = 0; i < count; ++i) {
      const FrameOutputs& out = plan.Frames()[static_cast<size_t>(i)];
      progress.StartFrame(out.frame, i, count);
      std::shared_ptr<Bitmap> bitmap = session.RenderFrame(out.frame, &progress, idChannels);
      if (!bitmap || progress.Interrupted()) {
        progress.EndLine();
        throw Interrupted{};
      }
      progress.FinishFrame();
      for (const std::string& warning : session.TakeLogWarnings())
        if (!o.quiet) std::fprintf(stderr, "velumbra: warning: %s\n", warning.c_str());
      const ExrFrameInput exrInput = session.ExrInput();
      PngWriteOptions pngOptions;
      pngOptions.bitDepth = shared.depth ? shared.depth : session.DefaultOutputDepth();
      pngOptions.compression = compression.png;
      pngOptions.alpha = pngAlpha;
      const int frame = out.frame;
      // The floats the output's colour conversion starts from, copied: the
      // session reuses its own for the next frame while this one is written.
      std::shared_ptr<const std::vector<FloatRgba>> frameFloats;
      if (!colour.Output().IsIdentity() && !exrInput.outputFloats.empty())
        frameFloats = std::make_shared<const std::vector<FloatRgba>>(exrInput.outputFloats.begin(),
                                                                     exrInput.outputFloats.end());
      writer.Submit([=, exrInput = exrInput]() mutable {
        BitmapStorage& storage = *bitmap->Storage();
        std::vector<std::string> written;
        // The output's colour space (colour_plan.h), converted on the
        // frame's floats: an OpenEXR plate's own, HDR values and all.
        std::vector<FloatRgba> converted;
        if (!colour.Output().IsIdentity()) {
          const std::span<BMM_Color_64> pixels(storage.Pixels(), static_cast<size_t>(storage.Width()) * storage.Height());
          // Star light the 16-bit frame clipped, and the star light layer,
          // go into the output's space with the colour (docs/sky.md).
          converted = FrameColourIn(colour.Output(), pixels,
                                    frameFloats ? std::span<const FloatRgba>(*frameFloats) : std::span<const FloatRgba>(),
                                    exrInput.lightAboveFull);
          exrInput.lightAboveFull.clear();
          if (BMM_Color_fl* light = storage.LightLayer()) {
            std::vector<FloatRgba> layer(pixels.size());
            std::transform(light, light + pixels.size(), layer.begin(),
                           [](const BMM_Color_fl& l) { return FloatRgba{l.r, l.g, l.b, l.a}; });
            colour.Output().ApplyPremultiplied(layer);
            std::transform(layer.begin(), layer.end(), light,
                           [](const FloatRgba& f) { return BMM_Color_fl{f.r, f.g, f.b, f.a}; });
          }
          std::transform(converted.begin(), converted.end(), pixels.begin(), FloatRgbaTo16);
          // The plate's other channels are in its own space: the output is a
          // plain frame of the converted colour.
          exrInput.outputFloats = converted;
          exrInput.plate = nullptr;
        }
        if (over) FlattenOver(storage.Pixels(), static_cast<size_t>(storage.Width()) * storage.Height(), *over);
        if (exrOutput) {
          WriteExrFrame(out.image, storage, exrInput, exrIdType, compression.exr, exrColourType);
          written.push_back(out.image);
        } else if (toStdout) {
          WriteToStandardOutput(EncodePngRgba(storage.Width(), storage.Height(), storage.Pixels(), pngOptions));
          written.push_back("frame " + std::to_string(frame) + " to standard output");
        } else {
          WritePngRgba(out.image, storage.Width(), storage.Height(), storage.Pixels(), pngOptions);
          written.push_back(out.image);
        }
        if (!out.objectIds.empty()) {
          ULONG type = 0;
          WriteObjectIdPng(out.objectIds, storage.Width(), storage.Height(),
                           static_cast<const WORD*>(storage.GetChannel(BMM_CHAN_NODE_ID, type)));
          WriteMaterialIdPng(out.materialIds, storage.Width(), storage.Height(),
                             static_cast<const UBYTE*>(storage.GetChannel(BMM_CHAN_MTL_ID, type)));
          written.push_back(out.objectIds);
          written.push_back(out.materialIds);
        }
        return written;
      });
      announce();
    }
  } catch (...) {
    // The frames rendered before the failure (a missing input frame, Ctrl-C)
    // are whole: they are written, as they would be without the writer.
    try {
      writer.Finish();
      announce();
    } catch (...) {
    }
    throw;
  }
  writer.Finish();
  announce();
  return 0;
}

}  // namespace

CommandRun AddRenderCommand(CLI::App& app) {
  auto o = std::make_shared<RenderCommandOptions>();
  CLI::App* render = app.add_subcommand("render", "render a scene (or the built-in default scene) to PNG or OpenEXR images");
  render->add_option("scene", o->scene, "scene file (JSON); without one the built-in default scene renders")
      ->type_name("SCENE.json");
  render->add_option("-o,--output", o->output,
                     "output image: NAME.png (PNG), NAME.exr (OpenEXR), or - for PNG on standard output (one PNG "
                     "per frame, for ffmpeg -f image2pipe); each '#' is one digit of the frame number "
                     "(stars.####.png), as is %04d")
      ->type_name("OUT")
      ->capture_default_str();
  render->add_option("-f,--frames", o->frames,
                     "frames to render: 12, 1-100, 1-100x2, 1-10,20 (default: the scene's render.frame)")
      ->type_name("FRAMES");
  render->add_flag("-q,--quiet", o->quiet, "no progress display and no messages but errors");
  AddRenderOptions(render, o->shared);
  render->add_option("--threads", o->threads,
                     "threads the render may use: the effect's workers, and a writer that saves each frame "
                     "while the next renders (default: every core; 1: everything on one thread)")
      ->check(CLI::Range(1, 1024))
      ->type_name("N");
  render->add_option("--memory-budget", o->memoryBudget,
                     "the most memory the render may take, e.g. 4G or 512M; a render estimated to need more is "
                     "refused before it starts (default: $VELUMBRA_MEMORY_BUDGET, else the memory available)")
      ->type_name("SIZE");
  AddModuleOptions(render, o->modules);
  render->footer(R"(Examples:
  velumbra render
  velumbra render --input beauty.exr -o out.exr
  velumbra render --input out.exr --set starscount=0 -o look.png
  velumbra render scenes/hyperspace.json -o hyper.png
  velumbra render scenes/twinkle.json -f 0-59 -o out/twinkle.####.png
  velumbra render --set starscount=100000 --set 'duration={"keys":[[0,0.5],[30,2]]}' -f 0-30 -o blur.##.png
  velumbra render scenes/masks.json --ids masks --depth 8
  velumbra render scenes/orion.json -o orion.exr      (the real sky; OpenEXR adds the stars.* layer)
  velumbra render --size 1920x1080 --fps 23.976 --set drawmode="Simple Additive"
  velumbra render scenes/pan.json --set Stars.starscount=50000 -f 0-30 -o pan.##.png
  velumbra render scenes/pan.json -f 0-30 --over black -o - |
      ffmpeg -f image2pipe -framerate 30 -i - -pix_fmt yuv420p pan.mp4

PNG files hold straight alpha, 16-bit 65535 = the effect's full 65280; --alpha premultiplied
writes the frame's own values. A video has no alpha: --over black flattens each frame over
black first (players expect -pix_fmt yuv420p). Progress and messages go to stderr only.

Colour (OpenColorIO; built-in config unless --ocio or $OCIO): the stars are painted in the
plate's own space. An OpenEXR plate is scene-linear: its PNG is written for the sRGB display,
with a note (--output-space scene_linear keeps the linear values), and the scene's colours,
which are display values, are converted into its linear light (--colour-values frame does not).
PNG in, PNG out converts nothing.)");
  return [o, render] { return RunRender(*o, *render); };
}

}  // namespace velumbra
