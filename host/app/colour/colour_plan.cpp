#include "host/app/colour/colour_plan.h"

#include <algorithm>
#include <vector>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"

namespace velumbra {

namespace {

std::string Listed(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : "; ") + item;
  return out;
}

// The space `name` of `option` stands for; InputError listing the config's
// spaces when there is none.
std::string Resolve(const ColourConfig& config, const std::string& option, const std::string& name) {
  if (std::optional<std::string> space = config.SpaceName(name)) return *space;
  throw InputError(option + " " + Quoted(name) + ": " + config.Description() +
                   " has no colour space, alias or role of that name; its spaces: " + Listed(config.SpaceList()));
}

// The space of display values: the color_picking role, else a space named
// sRGB (configs written before the role was common); nullopt when the
// config has neither.
std::optional<std::string> DisplaySpace(const ColourConfig& config) {
  if (std::optional<std::string> space = config.SpaceName("color_picking")) return space;
  return config.SpaceName("sRGB");
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

ColourPlan::ColourPlan(const ColourRequest& r, PlateKind plate, bool pngOutput, const std::string& plateName) {
  if (!r.outputSpace.empty() && (!r.display.empty() || !r.view.empty()))
    throw InputError(std::string("--output-space and ") + (r.display.empty() ? "--view" : "--display") +
                     " each choose what the output holds; give one of them");
  const bool asked = !r.ocio.empty() || !r.inputSpace.empty() || !r.outputSpace.empty() || !r.display.empty() ||
                     !r.view.empty();
  if (!asked && plate != PlateKind::Exr) return;  // values as the files hold them: nothing to convert

  const ColourConfig config = ColourConfig::Choose(r.ocio);
  const std::optional<std::string> display = DisplaySpace(config);
  const auto displaySpace = [&](const std::string& forWhat, const std::string& remedy) {
    if (display) return *display;
    throw InputError(config.Description() + " has no color_picking role (nor an sRGB space), the space of " +
                     forWhat + "; " + remedy);
  };

  if (!r.inputSpace.empty()) {
    frameSpace_ = Resolve(config, "--input-space", r.inputSpace);
  } else if (plate == PlateKind::Exr) {
    if (!config.SpaceName("scene_linear"))
      throw InputError(config.Description() + " has no scene_linear role, the space of OpenEXR plates; give "
                       "--input-space");
    frameSpace_ = *config.SpaceName("scene_linear");
  } else {
    frameSpace_ = displaySpace(plate == PlateKind::Png ? "PNG plates" : "the background and the star colours",
                               "give --input-space");
  }

  if (!r.outputSpace.empty()) {
    output_ = config.Transform(frameSpace_, Resolve(config, "--output-space", r.outputSpace));
  } else if (!r.display.empty() || !r.view.empty()) {
    const std::vector<std::string> displays = config.Displays();
    const std::string name = r.display.empty() ? config.DefaultDisplay() : r.display;
    if (!Contains(displays, name))
      throw InputError("--display " + Quoted(name) + ": " + config.Description() + " has no display of that name; its displays: " +
                       Listed(displays));
    const std::vector<std::string> views = config.Views(name);
    const std::string view = r.view.empty() ? config.DefaultView(name) : r.view;
    if (!Contains(views, view))
      throw InputError("--view " + Quoted(view) + ": the display " + Quoted(name) + " of " + config.Description() +
                       " has no view of that name; its views: " + Listed(views));
    output_ = config.DisplayTransform(frameSpace_, name, view);
  } else if (pngOutput && frameSpace_ != displaySpace("PNG outputs", "give --output-space")) {
    const std::string name = config.DefaultDisplay();
    const std::string view = config.DefaultView(name);
    output_ = config.DisplayTransform(frameSpace_, name, view);
    const std::string what = plateName.empty() ? std::string("the frame") : plateName;
    note_ = what + " holds " + Quoted(frameSpace_) + " values: the PNG is written for viewing, on the display " +
            Quoted(name) + " through the view " + Quoted(view) + " of " + config.Description() +
            " (--output-space " + Quoted(frameSpace_) + " writes the values as they are)";
  }

  if (r.displayColours) {
    const std::string from = displaySpace("the scene's colours", "give --colour-values frame to take them as they are");
    sceneColours_ = config.Transform(from, frameSpace_);
  }
}

}  // namespace velumbra
