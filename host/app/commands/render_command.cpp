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
#include "host/app/commands/commands.h"
#include "host/app/frame_range.h"
#include "host/app/output/frame_writer.h"
#include "host/app/image/exr_camera.h"
#include "host/app/image/exr_frame.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/png_io.h"
#include "host/app/memory_budget.h"
#include "host/app/farm/memory_estimate.h"
#include "host/app/commands/module_options.h"
#include "host/app/output/output_format.h"
#include "host/app/output/output_name.h"
#include "host/app/output/output_plan.h"
#include "host/app/progress.h"
#include "host/app/base/quoting.h"
#include "host/app/render_frame.h"
#include "host/app/scene/param_binding.h"
#include "host/app/scene/scene_check.h"
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
  std::string alpha = "straight";  // PNG files: straight or premultiplied
  std::string size;                // --size WxH; empty: the scene's
  std::string fps;                 // --fps; empty: the scene's
  std::string ids;
  std::string input;  // --input: the image to paint into
  std::string exrCamera = "auto";
  std::string exrIdType = "float";
  std::string compression;  // empty: fast for PNG, zip for OpenEXR
  int threads = 0;          // 0: every core
  std::string memoryBudget;  // --memory-budget (empty: VELUMBRA_MEMORY_BUDGET, else what is available)
  ModuleOptions modules;
};

// --size WxH: each side 1..65535.
std::pair<int, int> ParseSize(const std::string& text) {
  const size_t x = text.find_first_of("xX");
  const auto side = [&](const std::string& s) {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return 0;
    const int v = std::stoi(s);
    return v <= 65535 ? v : 0;
  };
  const int w = x == std::string::npos ? 0 : side(text.substr(0, x));
  const int h = x == std::string::npos ? 0 : side(text.substr(x + 1));
  if (w < 1 || h < 1)
    throw InputError("--size " + Quoted(text) + ": expected WIDTHxHEIGHT in pixels, each 1..65535, e.g. 1920x1080");
  return {w, h};
}

// Applies --size and --fps to the scene, as if its file said so.
void OverrideScene(const RenderOptions& o, SceneDesc& scene) {
  if (!o.size.empty()) {
    if (o.scene.empty() && !o.input.empty())
      throw InputError("--size " + Quoted(o.size) + ": without a scene file the --input image's size is the render's");
    std::tie(scene.render.width, scene.render.height) = ParseSize(o.size);
  }
  if (!o.fps.empty()) {
    const std::optional<double> fps = scene_check::ParseFrameRate(o.fps);
    if (!fps) throw InputError("--fps " + Quoted(o.fps) + ": expected a number (30, 23.976) or a fraction (24000/1001)");
    scene_check::CheckFps(scene_check::Reporter("--fps " + o.fps), *fps, "");
    scene.fps = *fps;
  }
}

// Refuses options that do not apply to the formats of this run.
void CheckFormatOptions(const RenderOptions& o, ImageFormat output, bool pngInput, const CLI::App& cli) {
  if (output == ImageFormat::Exr && cli.count("--depth"))
    throw InputError("--depth " + std::to_string(o.depth) + " applies to PNG outputs; an OpenEXR output (" +
                     Quoted(o.output) + ") is written as HALF or FLOAT samples (the input's type, FLOAT without an "
                     "OpenEXR input)");
  if (output == ImageFormat::Exr && !pngInput && cli.count("--alpha"))
    throw InputError("--alpha applies to PNG files; this render reads and writes none (OpenEXR is always "
                     "premultiplied)");
  if (output == ImageFormat::Png && cli.count("--exr-id-type"))
    throw InputError("--exr-id-type applies to OpenEXR outputs; " + Quoted(o.output) + " is a PNG");
}

// Writes one PNG file to standard output.
void WriteToStandardOutput(const std::string& png) {
  if (std::fwrite(png.data(), 1, png.size(), stdout) != png.size() || std::fflush(stdout) != 0)
    throw SystemError(std::string("cannot write to standard output: ") + std::strerror(errno));
}

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


int RunRender(const RenderOptions& o, const CLI::App& cli) {
  const MemoryBudget budget = ResolveMemoryBudget(o.memoryBudget);
  SceneDesc scene = o.scene.empty() ? DefaultScene() : LoadSceneFile(o.scene);
  OverrideScene(o, scene);
  // A frame's render size in the scene (an image's own size is read below).
  CheckMemoryBudget(Pixels(static_cast<std::uint64_t>(scene.render.width), static_cast<std::uint64_t>(scene.render.height)) *
                        (kBitmapBytesPerPixel + kGBufferBytesPerPixel),
                    budget, "a " + std::to_string(scene.render.width) + " x " + std::to_string(scene.render.height) +
                                " frame");
  const ImageFormat outputFormat = OutputFormatOf(o.output, "-o");
  const bool toStdout = IsStandardOutput(o.output);
  if (toStdout && ::isatty(fileno(stdout)))
    throw InputError("-o -: standard output is a terminal; send it to a program or a file "
                     "(velumbra render -o - | ffmpeg -f image2pipe -i - out.mp4)");
  const PngAlpha pngAlpha = o.alpha == "premultiplied" ? PngAlpha::Premultiplied : PngAlpha::Straight;
  InputOptions inputs;
  inputs.pngAlpha = pngAlpha;
  if (!o.input.empty()) inputs.image = fs::path(o.input);
  inputs.keepExrPlate = IsExrFile(o.output);
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
  const std::filesystem::path inputImage = inputs.image ? *inputs.image : scene.render.image.value_or(fs::path());
  CheckFormatOptions(o, outputFormat, !inputImage.empty() && !IsExrFile(inputImage), cli);
  std::vector<SetOption> sets;
  for (const std::string& s : o.sets) sets.push_back(ParseSetOption(s, scene.TicksPerFrame()));

  // The input image is read whole before the first frame: its size comes
  // from its header, so a tiny file claiming a huge picture costs nothing.
  // (A name with a frame pattern names no one file here; each frame's reader
  // keeps to the image limit.)
  if (!inputImage.empty())
    if (const auto size = ImageSizeOf(inputImage))
      CheckMemoryBudget(Pixels(size->first, size->second) *
                            (IsExrFile(inputImage) ? kExrReadBytesPerPixel : kPngReadBytesPerPixel),
                        budget, "reading " + QuotedIfNeeded(inputImage.string()) + " (" +
                                    std::to_string(size->first) + " x " + std::to_string(size->second) + " pixels)");

  const auto registry = LoadModules(o.modules, o.quiet);
  RenderSession session(scene, LookupIn(*registry), sets, inputs);
  for (int frame : frames) session.FrameTime(frame);  // every frame fits the host's time
  const OutputPlan plan(o.output, o.ids, frames, RenderInputs(o.scene, scene, inputs, frames));

  const bool exrOutput = outputFormat == ImageFormat::Exr;
  const ULONG idChannels = o.ids.empty() && !exrOutput ? 0 : (BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID);
  const ExrIdType exrIdType = o.exrIdType == "uint" ? ExrIdType::Uint : ExrIdType::Float;
  PngCompression pngCompression = PngCompression::Fast;
  std::optional<ExrCompression> exrCompression;  // not given: an EXR plate's own, else zip
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
      pngOptions.bitDepth = o.depth ? o.depth : session.DefaultOutputDepth();
      pngOptions.compression = pngCompression;
      pngOptions.alpha = pngAlpha;
      const int frame = out.frame;
      writer.Submit([=] {
        BitmapStorage& storage = *bitmap->Storage();
        std::vector<std::string> written;
        if (exrOutput) {
          WriteExrFrame(out.image, storage, exrInput, exrIdType, exrCompression);
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
  auto o = std::make_shared<RenderOptions>();
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
  render->add_option("--set", o->sets,
                     "override a parameter of the scene's effects (EFFECT.NAME=VALUE: of the effect of that "
                     "name only); VALUE is JSON as in a scene's params, a bare word is a string, a radio "
                     "parameter takes its index or its name (repeatable)")
      ->type_name("[EFFECT.]NAME=VALUE")
      ->allow_extra_args(false);
  render->add_flag("-q,--quiet", o->quiet, "no progress display and no messages but errors");
  render->add_option("--depth", o->depth, "bits per channel of the output PNG (default 16; 8 for an 8-bit input image)")
      ->check(CLI::IsMember({8, 16}))
      ->type_name("BITS");
  render->add_option("--alpha", o->alpha,
                     "how PNG files read and written hold alpha: straight (what PNG defines, what viewers and "
                     "compositors expect) or premultiplied (the frame's own values, for tools that take "
                     "associated alpha)")
      ->check(CLI::IsMember({"straight", "premultiplied"}))
      ->type_name("MODE")
      ->capture_default_str();
  render->add_option("--size", o->size, "render size in pixels, instead of the scene's render.width and height")
      ->type_name("WxH");
  render->add_option("--fps", o->fps,
                     "frame rate, instead of the scene's fps: a divisor of 4800 (24, 25, 30, 60 ...) or an NTSC "
                     "rate (23.976, 29.97, 59.94 or 24000/1001 ...)")
      ->type_name("RATE");
  render->add_option("--ids", o->ids,
                     "also write PREFIX.objectid.png (16-bit grey) and PREFIX.materialid.png (8-bit grey) "
                     "with the G-buffer IDs; '#' runs as in -o")
      ->type_name("PREFIX");
  render->add_option("-i,--input", o->input,
                     "image to paint the stars into (PNG or OpenEXR), instead of the scene's render.image; "
                     "'#' runs or %04d read one file per frame (shot_####.exr); without a scene its size is "
                     "the render size, and an OpenEXR image's ID channels and camera are used")
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
                     "PNG: fast (the default: unfiltered rows deflated at level 1, by zlib's run-length "
                     "strategy or, for busy frames, libdeflate; quick, and small for star frames), "
                     "default (libpng's adaptive filters, zlib 6), small (zlib 9), none; "
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
  velumbra render scenes/masks.json --ids masks --depth 8
  velumbra render --size 1920x1080 --fps 23.976 --set drawmode="Simple Additive"
  velumbra render scenes/pan.json --set Stars.starscount=50000 -f 0-30 -o pan.##.png
  velumbra render scenes/pan.json -f 0-30 -o - | ffmpeg -f image2pipe -framerate 30 -i - pan.mp4

PNG files hold straight alpha, 16-bit 65535 = the effect's full 65280; --alpha premultiplied
writes the frame's own values. Progress and messages go to stderr only.)");
  return [o, render] { return RunRender(*o, *render); };
}

}  // namespace velumbra
