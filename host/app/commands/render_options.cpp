#include "host/app/commands/render_options.h"

#include <tuple>
#include <utility>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"
#include "host/app/render_frame.h"
#include "host/app/scene/scene_check.h"

namespace velumbra {

namespace {

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

}  // namespace

void AddRenderOptions(CLI::App* cmd, RenderOptions& o) {
  cmd->add_option("--set", o.sets,
                  "override a parameter of the scene's effects (EFFECT.NAME=VALUE: of the effect of that "
                  "name only); VALUE is JSON as in a scene's params, a bare word is a string, a radio "
                  "parameter takes its index or its name (repeatable)")
      ->type_name("[EFFECT.]NAME=VALUE")
      ->allow_extra_args(false);
  cmd->add_option("--depth", o.depth, "bits per channel of the output PNG (default 16; 8 for an 8-bit input image)")
      ->check(CLI::IsMember({8, 16}))
      ->type_name("BITS");
  cmd->add_option("--alpha", o.alpha,
                  "how PNG files read and written hold alpha: straight (what PNG defines, what viewers and "
                  "compositors expect) or premultiplied (the frame's own values, for tools that take "
                  "associated alpha)")
      ->check(CLI::IsMember({"straight", "premultiplied"}))
      ->type_name("MODE")
      ->capture_default_str();
  cmd->add_option("--size", o.size, "render size in pixels, instead of the scene's render.width and height")
      ->type_name("WxH");
  cmd->add_option("--fps", o.fps,
                  "frame rate, instead of the scene's fps: a divisor of 4800 (24, 25, 30, 60 ...) or an NTSC "
                  "rate (23.976, 29.97, 59.94 or 24000/1001 ...)")
      ->type_name("RATE");
  cmd->add_option("--ids", o.ids,
                  "also write PREFIX.objectid.png (16-bit grey) and PREFIX.materialid.png (8-bit grey) "
                  "with the G-buffer IDs; '#' runs as in -o")
      ->type_name("PREFIX");
  cmd->add_option("-i,--input", o.input,
                  "image to paint the stars into (PNG or OpenEXR), instead of the scene's render.image; "
                  "'#' runs or %04d read one file per frame (shot_####.exr); without a scene its size is "
                  "the render size, and an OpenEXR image's ID channels and camera are used")
      ->type_name("IMAGE");
  cmd->add_option("--exr-camera", o.exrCamera,
                  "how to read an OpenEXR input's worldToCamera/worldToNDC: auto (tell by the optical axis), "
                  "openexr (looks down +z, NDC 0..1 from the top left), minus-z (looks down -z, NDC -1..1, y up)")
      ->check(CLI::IsMember({"auto", "openexr", "minus-z"}))
      ->type_name("CONVENTION")
      ->capture_default_str();
  cmd->add_option("--exr-id-type", o.exrIdType, "sample type of the ObjectID and MaterialID channels of an OpenEXR output")
      ->check(CLI::IsMember({"float", "uint"}))
      ->type_name("TYPE")
      ->capture_default_str();
  cmd->add_option("--over", o.over,
                  "flatten each PNG frame over an opaque background: black, white, grey or #RRGGBB; for "
                  "video, which has no alpha (ffmpeg drops a PNG's alpha, so the soft edges of dimmed and "
                  "blurred stars would show at full colour)")
      ->type_name("COLOR");
  cmd->add_option("--exr-type", o.exrType,
                  "sample type of the R G B A channels of an OpenEXR output: float (the default without an "
                  "OpenEXR input; keeps every 16-bit value exactly) or half (what Blender and most compositing "
                  "pipelines write; half the size). Default with an OpenEXR input: its own type")
      ->check(CLI::IsMember({"half", "float"}))
      ->type_name("TYPE");
  cmd->add_option("--compression", o.compression,
                  "PNG: fast (the default: unfiltered rows deflated at level 1, by zlib's run-length "
                  "strategy or, for busy frames, libdeflate; quick, and small for star frames), "
                  "default (libpng's adaptive filters, zlib 6), small (zlib 9), none; "
                  "OpenEXR: zip (the default), zips, piz, dwaa, rle, none")
      ->type_name("NAME");
  cmd->add_flag("--stars-layer", o.starsLayer,
                "OpenEXR outputs: add the float layer stars.R .G .B .A, the star light alone as the effects "
                "drew it (unclipped, 1.0 = file white; stars.A their summed coverage), and keep star light "
                "above 1.0 in the colour where the frame clipped it; done unasked when an effect draws "
                "catalogue stars (starsource 1). See docs/sky.md");
  cmd->add_option("--input-space", o.inputSpace,
                  "OpenColorIO colour space of the input image, in which the stars are painted (a space, alias "
                  "or role of the config: sRGB, lin_rec709, ACEScg, scene_linear ...). Default: scene_linear for "
                  "OpenEXR, color_picking (sRGB) for PNG and without an input")
      ->type_name("NAME");
  cmd->add_option("--output-space", o.outputSpace,
                  "OpenColorIO colour space the output file is written in. Default: the frame's own space, but "
                  "a PNG of a linear frame (an OpenEXR plate) is written for the config's default display "
                  "(sRGB), with a note")
      ->type_name("NAME");
  cmd->add_option("--display", o.display,
                  "write the output as this OpenColorIO display shows the frame (default display: the "
                  "config's), through --view")
      ->type_name("NAME");
  cmd->add_option("--view", o.view, "the view of --display (default: the display's default view, e.g. Standard)")
      ->type_name("NAME");
  cmd->add_option("--ocio", o.ocio,
                  "OpenColorIO config file for the colour spaces (default: $OCIO, else the built-in config: "
                  "sRGB, Linear Rec.709, ACEScg, ACES2065-1, CIE XYZ D65, Raw; display sRGB)")
      ->type_name("CONFIG");
  cmd->add_option("--colour-values", o.colourValues,
                  "how the scene's colours (colour parameters, background) are read: display (the default: as a "
                  "colour picker shows them, converted into a linear frame's space) or frame (the frame's own "
                  "values, as they are)")
      ->check(CLI::IsMember({"display", "frame"}))
      ->type_name("MODE")
      ->capture_default_str();
}

void OverrideScene(const RenderOptions& o, bool sceneFile, SceneDesc& scene) {
  if (!o.size.empty()) {
    if (!sceneFile && !o.input.empty())
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

void CheckFormatOptions(const RenderOptions& o, const std::string& output, ImageFormat outputFormat, bool pngInput,
                        const CLI::App& cli) {
  if (outputFormat == ImageFormat::Exr && cli.count("--depth"))
    throw InputError("--depth " + std::to_string(o.depth) + " applies to PNG outputs; an OpenEXR output (" +
                     Quoted(output) + ") is written as HALF or FLOAT samples (the input's type, FLOAT without an "
                     "OpenEXR input)");
  if (outputFormat == ImageFormat::Exr && cli.count("--over"))
    throw InputError("--over applies to PNG outputs; an OpenEXR output (" + Quoted(output) +
                     ") keeps its alpha for compositing");
  if (outputFormat == ImageFormat::Exr && !pngInput && cli.count("--alpha"))
    throw InputError("--alpha applies to PNG files; this render reads and writes none (OpenEXR is always "
                     "premultiplied)");
  if (outputFormat == ImageFormat::Png && cli.count("--exr-id-type"))
    throw InputError("--exr-id-type applies to OpenEXR outputs; " + Quoted(output) + " is a PNG");
  if (outputFormat == ImageFormat::Png && cli.count("--exr-type"))
    throw InputError("--exr-type applies to OpenEXR outputs; " + Quoted(output) + " is a PNG");
  if (outputFormat == ImageFormat::Png && o.starsLayer)
    throw InputError("--stars-layer applies to OpenEXR outputs; " + Quoted(output) +
                     " is a PNG, which holds the 16-bit frame only");
}

PngAlpha PngAlphaOf(const RenderOptions& o) {
  return o.alpha == "premultiplied" ? PngAlpha::Premultiplied : PngAlpha::Straight;
}

ExrIdType ExrIdTypeOf(const RenderOptions& o) { return o.exrIdType == "uint" ? ExrIdType::Uint : ExrIdType::Float; }

std::optional<BackgroundColor> BackgroundOf(const RenderOptions& o) {
  if (o.over.empty()) return std::nullopt;
  if (const auto color = ParseBackgroundColor(o.over)) return color;
  throw InputError("--over " + Quoted(o.over) + ": expected black, white, grey or #RRGGBB (e.g. #102030)");
}

std::optional<ExrColourType> ExrColourTypeOf(const RenderOptions& o) {
  if (o.exrType.empty()) return std::nullopt;
  return o.exrType == "half" ? ExrColourType::Half : ExrColourType::Float;
}

ExrCameraConvention ExrCameraOf(const RenderOptions& o) {
  if (const auto convention = ParseExrCameraConvention(o.exrCamera)) return *convention;
  throw InputError("--exr-camera " + Quoted(o.exrCamera) + ": expected auto, openexr or minus-z");
}

ColourRequest ColourRequestOf(const RenderOptions& o) {
  ColourRequest r;
  r.ocio = o.ocio;
  r.inputSpace = o.inputSpace;
  r.outputSpace = o.outputSpace;
  r.display = o.display;
  r.view = o.view;
  r.displayColours = o.colourValues != "frame";
  return r;
}

ColourPlan ColourPlanOf(const RenderOptions& o, const std::filesystem::path& inputImage, ImageFormat outputFormat) {
  const PlateKind plate = inputImage.empty() ? PlateKind::None : IsExrFile(inputImage) ? PlateKind::Exr : PlateKind::Png;
  return ColourPlan(ColourRequestOf(o), plate, outputFormat == ImageFormat::Png, inputImage.filename().string());
}

OutputCompression CompressionOf(const RenderOptions& o, bool exrOutput) {
  OutputCompression c;
  if (o.compression.empty()) return c;
  const auto png = ParsePngCompression(o.compression);
  const auto exr = ParseExrCompression(o.compression);
  if (exrOutput && !exr)
    throw InputError("--compression " + Quoted(o.compression) +
                     ": an OpenEXR output takes zip, zips, piz, dwaa, rle or none");
  if (!exrOutput && !png)
    throw InputError("--compression " + Quoted(o.compression) + ": a PNG output takes fast, default, small or none");
  if (png) c.png = *png;
  if (exr) c.exr = *exr;
  return c;
}

bool StarLightLayerOf(const RenderOptions& o, bool exrOutput, const RenderSession& session,
                      const std::vector<int>& frames) {
  return exrOutput && (o.starsLayer || session.UsesCatalogueStars(frames));
}

std::vector<std::string> RenderOptionArguments(const RenderOptions& o, const std::string& ids,
                                               const std::string& input) {
  std::vector<std::string> args;
  for (const std::string& s : o.sets) args.insert(args.end(), {"--set", s});
  if (o.depth) args.insert(args.end(), {"--depth", std::to_string(o.depth)});
  if (o.alpha != "straight") args.insert(args.end(), {"--alpha", o.alpha});
  if (!o.size.empty()) args.insert(args.end(), {"--size", o.size});
  if (!o.fps.empty()) args.insert(args.end(), {"--fps", o.fps});
  if (!ids.empty()) args.insert(args.end(), {"--ids", ids});
  if (!input.empty()) args.insert(args.end(), {"--input", input});
  if (o.exrCamera != "auto") args.insert(args.end(), {"--exr-camera", o.exrCamera});
  if (o.exrIdType != "float") args.insert(args.end(), {"--exr-id-type", o.exrIdType});
  if (!o.over.empty()) args.insert(args.end(), {"--over", o.over});
  if (!o.exrType.empty()) args.insert(args.end(), {"--exr-type", o.exrType});
  if (!o.compression.empty()) args.insert(args.end(), {"--compression", o.compression});
  if (o.starsLayer) args.push_back("--stars-layer");
  if (!o.ocio.empty()) args.insert(args.end(), {"--ocio", o.ocio});
  if (!o.inputSpace.empty()) args.insert(args.end(), {"--input-space", o.inputSpace});
  if (!o.outputSpace.empty()) args.insert(args.end(), {"--output-space", o.outputSpace});
  if (!o.display.empty()) args.insert(args.end(), {"--display", o.display});
  if (!o.view.empty()) args.insert(args.end(), {"--view", o.view});
  if (o.colourValues != "display") args.insert(args.end(), {"--colour-values", o.colourValues});
  return args;
}

}  // namespace velumbra
