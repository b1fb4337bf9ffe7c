// The options `velumbra render` and `velumbra farm` share: the scene's
// overrides, the inputs, and how each frame is written. They are declared
// once, here; the farm checks them at submission as a render does and passes
// them on to every task's `velumbra render`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/app/colour/colour_plan.h"
#include "host/app/image/exr_camera.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/flatten.h"
#include "host/app/image/png_io.h"
#include "host/app/output/output_format.h"
#include "host/app/scene/scene_file.h"

namespace velumbra {

struct RenderOptions {
  std::vector<std::string> sets;   // --set [EFFECT.]NAME=VALUE
  int depth = 0;                   // 0: after the input image (16 without one)
  std::string alpha = "straight";  // PNG files: straight or premultiplied
  std::string size;                // --size WxH; empty: the scene's
  std::string fps;                 // --fps; empty: the scene's
  std::string ids;                 // --ids PREFIX; empty: no ID images
  std::string input;               // --input: the image to paint into
  std::string exrCamera = "auto";
  std::string exrIdType = "float";
  std::string over;         // --over COLOR; empty: frames keep their alpha
  std::string exrType;  // --exr-type half|float; empty: an OpenEXR input's type, float without one
  std::string compression;  // empty: fast for PNG, an OpenEXR plate's own or zip for OpenEXR
  bool starsLayer = false;  // --stars-layer: an OpenEXR output carries stars.* even without catalogue stars
  // Colour management (colour_plan.h); empty: the defaults by file type.
  std::string ocio;         // --ocio CONFIG
  std::string inputSpace;   // --input-space NAME
  std::string outputSpace;  // --output-space NAME
  std::string display;      // --display NAME
  std::string view;         // --view NAME
  std::string colourValues = "display";  // --colour-values display|frame
};

// Declares the options on `cmd`, writing into `o`.
void AddRenderOptions(CLI::App* cmd, RenderOptions& o);

// Applies --size and --fps to the scene, as if its file said so.
// `sceneFile`: whether a scene file was given; without one the --input
// image's size is the render's, and --size is refused.
void OverrideScene(const RenderOptions& o, bool sceneFile, SceneDesc& scene);

// Refuses options that do not apply to the formats of this run: --depth and
// --over to an OpenEXR output, --alpha when no PNG is read or written,
// --exr-id-type, --exr-type and --stars-layer to a PNG output. `cli` is the sub-command, to tell given options from
// defaults.
void CheckFormatOptions(const RenderOptions& o, const std::string& output, ImageFormat outputFormat, bool pngInput,
                        const CLI::App& cli);

PngAlpha PngAlphaOf(const RenderOptions& o);
ExrIdType ExrIdTypeOf(const RenderOptions& o);
// --over: the background PNG frames are flattened over (nullopt: none);
// throws InputError for a colour it cannot read.
std::optional<BackgroundColor> BackgroundOf(const RenderOptions& o);
// --exr-type; nullopt when not given.
std::optional<ExrColourType> ExrColourTypeOf(const RenderOptions& o);
// Throws InputError for a name that is none of the conventions.
ExrCameraConvention ExrCameraOf(const RenderOptions& o);

// The colour options as the colour plan takes them.
ColourRequest ColourRequestOf(const RenderOptions& o);
// The colour plan of a render of `inputImage` (empty: none; a frame
// pattern is fine) into an output of `outputFormat` (colour_plan.h); the
// plan's note names the plate by its file name. Throws InputError.
ColourPlan ColourPlanOf(const RenderOptions& o, const std::filesystem::path& inputImage, ImageFormat outputFormat);

struct OutputCompression {
  PngCompression png = PngCompression::Fast;
  std::optional<ExrCompression> exr;  // not given: an OpenEXR plate's own, else zip
};

// --compression for an output of the given format; throws InputError for a
// name that format does not take.
OutputCompression CompressionOf(const RenderOptions& o, bool exrOutput);

class RenderSession;

// Whether the frames of this run carry the star light layer (stars.* and
// light above 1.0 in OpenEXR outputs): an OpenEXR output with
// --stars-layer, or of a scene whose effects draw catalogue stars at any of
// `frames`. A render and a farm submission ask the same.
bool StarLightLayerOf(const RenderOptions& o, bool exrOutput, const RenderSession& session,
                      const std::vector<int>& frames);

// The options as `velumbra render` arguments, those that differ from the
// defaults only, with `ids` and `input` standing for the names given (the
// farm passes absolute ones).
std::vector<std::string> RenderOptionArguments(const RenderOptions& o, const std::string& ids,
                                               const std::string& input);

}  // namespace velumbra
