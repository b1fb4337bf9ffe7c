// The colour plan of a render: which space the frame is in, how it is
// converted for the output file, and how the scene's colours are converted
// for the frame. Decided once, before the first frame, from the options and
// the kinds of the input and output files.
//
// Inside the frame colours stay in the frame's own space: the plate's, as
// the file holds it (the effect adds light to the plate's values; the 16-bit
// frame keeps 1.0 = 65280). The space is
//   - --input-space NAME when given;
//   - for an OpenEXR plate: the config's scene_linear role (OpenEXR holds
//     scene-linear light);
//   - for a PNG plate, and without a plate: the config's color_picking role
//     (values as a colour picker and an sRGB monitor show them; sRGB in the
//     built-in config), the "display space" below.
// The output file is converted from the frame's space
//   - to --output-space NAME when given;
//   - to what --display NAME shows through --view NAME when either is given
//     (the other then the config's default display, or the display's
//     default view);
//   - otherwise, for a PNG output of a frame that is not in the display
//     space (an OpenEXR plate), to the config's default display and view
//     (the sRGB display, view Standard, in the built-in config): a PNG is
//     for looking at. The plan then holds a note saying so, which the
//     command prints once;
//   - otherwise not at all: an OpenEXR output holds the frame's space, and a
//     PNG plate's PNG keeps its values.
// The scene's colours (the colour parameters of every effect, as the scene,
// --set and the panel give them, and render.background) are display
// values: when the frame's space is not the display space they are
// converted from it to the frame's space before the render (each key of a
// keyed colour on its own), unless --colour-values frame takes them as
// the frame's own values.
//
// Without --input-space, --output-space, --display, --view and --ocio, a
// render that reads no OpenEXR plate converts nothing and reads no config
// (PNG in, PNG out: the bytes are those of a render without colour
// management).
#pragma once

#include <optional>
#include <string>

#include "host/app/colour/colour_config.h"

namespace velumbra {

// What the command line asks (render_options.h).
struct ColourRequest {
  std::string ocio;         // --ocio: a config file; empty: $OCIO, else the built-in config
  std::string inputSpace;   // --input-space
  std::string outputSpace;  // --output-space
  std::string display;      // --display
  std::string view;         // --view
  bool displayColours = true;  // --colour-values display (false: frame)
};

// The input image a render paints into, by its file type.
enum class PlateKind { None, Png, Exr };

class ColourPlan {
 public:
  // No conversion anywhere.
  ColourPlan() = default;
  // Throws InputError naming the option (and listing the config's spaces,
  // displays or views) for a name the config does not know, and for
  // --output-space given with --display or --view; and as
  // ColourConfig::Choose does for a config that cannot be read.
  // `plateName` names the plate in the note.
  ColourPlan(const ColourRequest& request, PlateKind plate, bool pngOutput, const std::string& plateName = "");

  // The frame's space, by its name in the config; empty when no config was
  // needed (the values as the files hold them).
  const std::string& FrameSpace() const { return frameSpace_; }
  // Frame -> output file.
  const ColourTransform& Output() const { return output_; }
  // Display values (scene colours) -> frame.
  const ColourTransform& SceneColours() const { return sceneColours_; }
  // For the default display transform of a PNG output: one line for the
  // user, without the program's prefix; empty otherwise.
  const std::string& Note() const { return note_; }

 private:
  std::string frameSpace_;
  ColourTransform output_;
  ColourTransform sceneColours_;
  std::string note_;
};

}  // namespace velumbra
