// velumbra render: a scene (or the built-in one) to PNG or OpenEXR frames.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/app/app_error.h"
#include "host/app/commands.h"
#include "host/app/frame_range.h"
#include "host/app/frame_writer.h"
#include "host/app/image/exr_camera.h"
#include "host/app/image/exr_frame.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/png_io.h"
#include "host/app/memory_budget.h"
#include "host/app/memory_estimate.h"
#include "host/app/module_options.h"
#include "host/app/output_plan.h"
#include "host/app/progress.h"
#include "host/app/quoting.h"
#include "host/app/render_frame.h"
#include "host/app/scene/param_binding.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/render_threads.h"

namespace velumbra {

namespace fs = std::filesystem;

namespace {

struct RenderOptions {
  std::string scene;
  std::string output = "stars.png";
  std::string frames;
  std::vector<std::string> sets;
  bool quiet = false;
  int depth = 0;  // 0: after the input image (16 without one)
  std::string ids;
  std::string input;  // --input: the image to paint into
  std::string exrCamera = "auto";
  std::string exrIdType = "float";
  std::string compression;  // empty: fast for PNG, zip for OpenEXR
  int threads = 0;          // 0: every core
  std::string memoryBudget;  // --memory-budget (empty: VELUMBRA_MEMORY_BUDGET, else what is available)
  ModuleOptions modules;
};

// --- the memory a render needs ---------------------------------------------------------------
// The render's own estimate is the command's (memory_estimate.h, shared
// with `velumbra farm`); these weigh what comes before it: the frame size
// of the scene, and an input image from its header before it is read.
constexpr std::uint64_t kBitmapBytesPerPixel = 8;      // BMM_Color_64
constexpr std::uint64_t kGBufferBytesPerPixel = 3;     // object ID 2, material ID 1
constexpr std::uint64_t kPngReadBytesPerPixel = 16;    // the image kept, and its decoding rows
constexpr std::uint64_t kExrReadBytesPerPixel = 64;    // the file's floats, halves and the 16-bit frame

std::uint64_t Pixels(std::uint64_t width, std::uint64_t height) { return width * height; }

// The size of a PNG or OpenEXR image from its header, without reading its
// pixels; nullopt when the file cannot tell (the reader then says why).
std::optional<std::pair<std::uint64_t, std::uint64_t>> ImageSizeOf(const fs::path& file) {
  try {
    if (IsExrFile(file)) {
      ExrReader reader(file);
      return std::pair<std::uint64_t, std::uint64_t>(static_cast<std::uint64_t>(reader.Width()),
                                                     static_cast<std::uint64_t>(reader.Height()));
    }
    // A PNG's first chunk is IHDR: width and height, 4 bytes each, big-endian.
    unsigned char header[24] = {};
    std::ifstream in(file, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(header), sizeof header) || header[1] != 'P' || header[12] != 'I')
      return std::nullopt;
    const auto be32 = [&](int at) {
      return (std::uint64_t{header[at]} << 24) | (std::uint64_t{header[at + 1]} << 16) |
             (std::uint64_t{header[at + 2]} << 8) | std::uint64_t{header[at + 3]};
    };
    return std::pair<std::uint64_t, std::uint64_t>(be32(16), be32(20));
  } catch (const InputError&) {
    return std::nullopt;
  }
}


// The frames the render holds at once beyond the estimate's one: with the
// background writer, one written, one waiting and one rendering
// (frame_writer.h).
std::uint64_t ExtraFrameBytes(RenderSession& session, std::uint64_t framesInFlight) {
  const std::uint64_t pixels = Pixels(static_cast<std::uint64_t>(session.Width()),
                                      static_cast<std::uint64_t>(session.Height()));
  return pixels * (kBitmapBytesPerPixel + kGBufferBytesPerPixel) * (framesInFlight - 1);
}


int RunRender(const RenderOptions& o) {
  const MemoryBudget budget = ResolveMemoryBudget(o.memoryBudget);
  SceneDesc scene = o.scene.empty() ? DefaultScene() : LoadSceneFile(o.scene);
  // A frame's render size in the scene (an image's own size is read below).
  CheckMemoryBudget(Pixels(static_cast<std::uint64_t>(scene.render.width), static_cast<std::uint64_t>(scene.render.height)) *
                        (kBitmapBytesPerPixel + kGBufferBytesPerPixel),
                    budget, "a " + std::to_string(scene.render.width) + " x " + std::to_string(scene.render.height) +
                                " frame");
  InputOptions inputs;
  if (!o.input.empty()) inputs.image = fs::path(o.input);
  if (o.scene.empty()) {
    // The built-in scene's camera renders only when the input image brings
    // none of its own.
    scene.render.camera.clear();
    inputs.builtInScene = true;
  }
  if (const auto convention = ParseExrCameraConvention(o.exrCamera)) inputs.exrCamera = *convention;
  else throw InputError("--exr-camera " + Quoted(o.exrCamera) + ": expected auto, openexr or minus-z");
  if (!o.quiet) inputs.note = [](const std::string& line) { std::fprintf(stderr, "velumbra: %s\n", line.c_str()); };
  const std::vector<int> frames = o.frames.empty() ? std::vector<int>{scene.render.frame} : ParseFrameList(o.frames);
  std::vector<SetOption> sets;
  for (const std::string& s : o.sets) sets.push_back(ParseSetOption(s, scene.TicksPerFrame()));

  // The input image is read whole before the first frame: its size comes
  // from its header, so a tiny file claiming a huge picture costs nothing.
  const std::optional<fs::path> inputImage = inputs.image ? inputs.image : scene.render.image;
  if (inputImage)
    if (const auto size = ImageSizeOf(*inputImage))
      CheckMemoryBudget(Pixels(size->first, size->second) *
                            (IsExrFile(*inputImage) ? kExrReadBytesPerPixel : kPngReadBytesPerPixel),
                        budget, "reading " + QuotedIfNeeded(inputImage->string()) + " (" +
                                    std::to_string(size->first) + " x " + std::to_string(size->second) + " pixels)");

  const auto registry = LoadModules(o.modules, o.quiet);
  RenderSession session(scene, LookupIn(*registry), sets, inputs);
  for (int frame : frames) session.FrameTime(frame);  // every frame fits the host's time
  const OutputPlan plan(o.output, o.ids, frames, RenderInputs(o.scene, scene, inputs));

  const int depth = o.depth ? o.depth : session.DefaultOutputDepth();
  const bool exrOutput = IsExrFile(o.output);
  const ULONG idChannels = o.ids.empty() && !exrOutput ? 0 : (BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID);
  const ExrIdType exrIdType = o.exrIdType == "uint" ? ExrIdType::Uint : ExrIdType::Float;
  PngCompression pngCompression = PngCompression::Fast;
  ExrCompression exrCompression = ExrCompression::Zip;
  if (!o.compression.empty()) {
    const auto png = ParsePngCompression(o.compression);
    const auto exr = ParseExrCompression(o.compression);
    if (exrOutput && !exr)
      throw InputError("--compression " + Quoted(o.compression) +
                       ": an OpenEXR output takes zip, zips, piz, dwaa, rle or none");
    if (!exrOutput && !png)
      throw InputError("--compression " + Quoted(o.compression) + ": a PNG output takes fast, default, small or none");
    if (png) pngCompression = *png;
    if (exr) exrCompression = *exr;
  }
  const int threads = o.threads > 0 ? o.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::uint64_t estimate =
      EstimateRenderMemory(MemoryInputsOf(session, frames, idChannels, o.output, threads)).Total() +
      ExtraFrameBytes(session, o.threads == 1 ? 1 : 3);
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
  FrameWriter writer(/*background=*/o.threads != 1);
  const auto announce = [&] {
    for (const std::string& file : writer.TakeWritten())
      if (!o.quiet) std::fprintf(stderr, "wrote %s\n", file.c_str());
  };
  const int count = static_cast<int>(plan.Frames().size());
  for (int i = 0; i < count; ++i) {
    const FrameOutputs& out = plan.Frames()[static_cast<size_t>(i)];
    progress.StartFrame(out.frame, i, count);
    std::shared_ptr<Bitmap> bitmap = session.RenderFrame(out.frame, &progress, idChannels);
    if (!bitmap || progress.Interrupted()) {
      progress.EndLine();
      writer.Finish();
      announce();
      throw Interrupted{};
    }
    progress.FinishFrame();
    for (const std::string& warning : session.TakeLogWarnings())
      if (!o.quiet) std::fprintf(stderr, "velumbra: warning: %s\n", warning.c_str());
    const ExrRgbaImage* inputExr = session.InputExr();
    const bool keepInputCamera = session.InputCamera().has_value();
    writer.Submit([=] {
      BitmapStorage& storage = *bitmap->Storage();
      if (exrOutput) WriteExrFrame(out.image, storage, inputExr, keepInputCamera, exrIdType, exrCompression);
      else WritePngRgba(out.image, storage.Width(), storage.Height(), storage.Pixels(), depth, pngCompression);
      std::vector<std::string> written{out.image};
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
  writer.Finish();
  announce();
  return 0;
}

}  // namespace

CommandRun AddRenderCommand(CLI::App& app) {
  auto o = std::make_shared<RenderOptions>();
  CLI::App* render = app.add_subcommand("render", "render a scene (or the built-in default scene) to PNG or OpenEXR images");
  render->add_option("scene", o->scene, "scene file (JSON); without one the built-in default scene renders")
      ->type_name("SCENE.json");
  render->add_option("-o,--output", o->output,
                     "output image: PNG, or OpenEXR for a name ending in .exr; each '#' is one digit of the "
                     "frame number (stars.####.png)")
      ->type_name("OUT")
      ->capture_default_str();
  render->add_option("-f,--frames", o->frames,
                     "frames to render: 12, 1-100, 1-100x2, 1-10,20 (default: the scene's render.frame)")
      ->type_name("FRAMES");
  render->add_option("--set", o->sets,
                     "override a parameter of the scene's effects; VALUE is JSON as in a scene's params, "
                     "a bare word is a string (repeatable)")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  render->add_flag("-q,--quiet", o->quiet, "no progress display and no messages but errors");
  render->add_option("--depth", o->depth, "bits per channel of the output PNG (default 16; 8 for an 8-bit input image)")
      ->check(CLI::IsMember({8, 16}))
      ->type_name("BITS");
  render->add_option("--ids", o->ids,
                     "also write PREFIX.objectid.png (16-bit grey) and PREFIX.materialid.png (8-bit grey) "
                     "with the G-buffer IDs; '#' runs as in -o")
      ->type_name("PREFIX");
  render->add_option("-i,--input", o->input,
                     "image to paint the stars into (PNG or OpenEXR), instead of the scene's render.image; "
                     "without a scene its size is the render size, and an OpenEXR image's ID channels and "
                     "camera are used")
      ->type_name("IMAGE");
  render->add_option("--exr-camera", o->exrCamera,
                     "how to read an OpenEXR input's worldToCamera/worldToNDC: auto (tell by the optical axis), "
                     "openexr (looks down +z, NDC 0..1 from the top left), minus-z (looks down -z, NDC -1..1, y up)")
      ->check(CLI::IsMember({"auto", "openexr", "minus-z"}))
      ->type_name("CONVENTION")
      ->capture_default_str();
  render->add_option("--exr-id-type", o->exrIdType,
                     "sample type of the ObjectID and MaterialID channels of an OpenEXR output")
      ->check(CLI::IsMember({"float", "uint"}))
      ->type_name("TYPE")
      ->capture_default_str();
  render->add_option("--compression", o->compression,
                     "PNG: fast (the default: unfiltered rows, run-length zlib; quick, and small for star "
                     "frames), default (libpng's adaptive filters, zlib 6), small (zlib 9), none; "
                     "OpenEXR: zip (the default), zips, piz, dwaa, rle, none")
      ->type_name("NAME");
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
  velumbra render scenes/hyperspace.json -o hyper.png
  velumbra render scenes/twinkle.json -f 0-59 -o out/twinkle.####.png
  velumbra render --set starscount=100000 --set 'duration={"keys":[[0,0.5],[30,2]]}' -f 0-30 -o blur.##.png
  velumbra render scenes/masks.json --ids masks --depth 8)");
  return [o] { return RunRender(*o); };
}

}  // namespace velumbra
