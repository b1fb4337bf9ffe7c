// The input files of one frame: the image to paint into (a PNG, or an
// OpenEXR file with its own floats, and its whole first part for an OpenEXR
// output) and the object and material ID images, read by the scene's names
// (with the frame's number filled into frame patterns) and checked against
// the render size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/app/colour/colour_config.h"
#include "host/app/image/exr_camera.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/exr_plate.h"
#include "host/app/image/image.h"
#include "host/app/memory_budget.h"
#include "host/app/scene/scene_file.h"

namespace velumbra {

// What the command line changes in a scene's inputs.
struct InputOptions {
  // --input: the image to paint into, instead of render.image.
  std::optional<std::filesystem::path> image;
  // The scene is the built-in one (no scene file was given): the input
  // image's size sets the render size, frame by frame for a pattern (else
  // the sizes must agree), and messages suggest no edits to a scene file.
  bool builtInScene = false;
  // Keep an EXR input's whole first part for an EXR output (ExrInput).
  bool keepExrPlate = false;
  // How a PNG input holds alpha (straight unless --alpha premultiplied).
  PngAlpha pngAlpha = PngAlpha::Straight;
  // How to read an EXR input's camera attributes.
  ExrCameraConvention exrCamera = ExrCameraConvention::Auto;
  // Receives one line for each choice the session made on its own (the ID
  // channels found in an EXR input, the camera taken from it), for the
  // first frame read; may be empty.
  std::function<void(const std::string&)> note;
  // Weighs every file from its header before it is read (each frame's own
  // for a pattern), refusing one beyond the budget (InputImageBytes);
  // nullopt: no check (the farm, the panel).
  std::optional<MemoryBudget> budget;
  // Converts the scene's colours (every effect's colour parameters and
  // render.background: display values) into the frame's space before the
  // render (colour_plan.h); the identity takes them as they are.
  ColourTransform sceneColours;
};

// The memory reading `file` takes, from its header, and its size in pixels
// for messages; nullopt when the header cannot tell (the reader then says
// why). For an OpenEXR file: its display window as floats, halves and the
// 16-bit frame, every attribute's copies, and with `keepPlate` the samples
// of its data window, which an OpenEXR output carries through.
struct InputWeight {
  std::uint64_t bytes = 0;
  std::uint64_t width = 0, height = 0;
  std::string beyond;  // for messages: ", a data window of N pixels", ", attributes of N MiB"
};
std::optional<InputWeight> InputImageBytes(const std::filesystem::path& file, bool keepPlate);

class FrameInputs {
 public:
  // Receives one line for each choice made on the reader's own (an ID
  // channel found by its name).
  using Notes = std::function<void(const std::string&)>;

  // No inputs.
  FrameInputs() = default;
  // Reads the inputs of `frame` (nullopt: the names as they are): the image
  // (inputs.image, else rd.image) and the ID images rd.objectId and
  // rd.materialId name. An OpenEXR image and the ID channels it holds come
  // in one pass over the file; an ID source not named takes the image's
  // channel of a common name (FindIdChannel). For the built-in scene the
  // image's size becomes rd's width and height; otherwise every file must
  // have rd's size. `src` names the scene in messages. Throws InputError
  // naming the file, the scene's JSON path (or --input) and the frame.
  FrameInputs(RenderDesc& rd, const std::string& src, const InputOptions& inputs, std::optional<int> frame,
              const Notes& note);

  // The input image as messages name it (--input, or the scene's
  // /render/image), and its file (empty: none).
  const std::string& ImageLabel() const { return imageLabel_; }
  const std::filesystem::path& ImageFile() const { return imageFile_; }
  // The image as read (null without one); for an OpenEXR image, with the
  // file's own floats and sample type.
  const RgbaImage* Image() const { return exrImage_ ? &*exrImage_ : pngImage_ ? &*pngImage_ : nullptr; }
  const ExrRgbaImage* Exr() const { return exrImage_ ? &*exrImage_ : nullptr; }
  // The OpenEXR image's first part, with InputOptions::keepExrPlate.
  const ExrPlate* Plate() const { return plate_ ? &*plate_ : nullptr; }
  // The OpenEXR image's channels the IDs came from (empty: not from it).
  const std::string& ObjectChannel() const { return objectChannel_; }
  const std::string& MaterialChannel() const { return materialChannel_; }
  const std::optional<IdImage<WORD>>& ObjectIds() const { return objectIds_; }
  const std::optional<IdImage<UBYTE>>& MaterialIds() const { return materialIds_; }
  // The OpenEXR image as the effects paint it when it has channels beyond
  // the 16-bit range (those at 0; HdrEffectFrame); empty otherwise.
  const std::vector<BMM_Color_64>& HdrFrame() const { return hdrFrame_; }

 private:
  std::string imageLabel_;
  std::filesystem::path imageFile_;
  std::optional<RgbaImage> pngImage_;
  std::optional<ExrRgbaImage> exrImage_;
  std::optional<ExrPlate> plate_;
  std::string objectChannel_;
  std::string materialChannel_;
  std::vector<BMM_Color_64> hdrFrame_;
  std::optional<IdImage<WORD>> objectIds_;
  std::optional<IdImage<UBYTE>> materialIds_;
};

}  // namespace velumbra
