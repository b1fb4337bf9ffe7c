// The OpenColorIO config a render converts colours with, and the transforms
// it makes.
//
// The command converts colours only at the file boundary and only where two
// spaces differ (colour_plan.h says which); everything OpenColorIO does for
// it goes through these two types, so that no other part of the command
// sees the library. Names are the config's: a colour space's name, one of
// its aliases or a role (scene_linear, color_picking ...), in any letter
// case, as OpenColorIO resolves them.
//
// Which config: --ocio FILE, else the file $OCIO names (the variable every
// OpenColorIO application reads), else the built-in config
// (host/app/colour/config.ocio, compiled into the binary; the install keeps
// a copy in share/qe_velumbra/ocio/): sRGB (the sRGB encoding, PNG files and
// colour pickers), Linear Rec.709 (scene-linear light, OpenEXR plates),
// ACEScg, ACES2065-1, CIE XYZ D65 and Raw; one display, sRGB, with the views
// Standard and Raw.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/app/image/exr_io.h"

namespace velumbra {

// A colour transform between two spaces (or a space and a display's view),
// ready to run on pixels. A default-constructed one is the identity. Copies
// share the processor; applying it is thread-safe.
class ColourTransform {
 public:
  ColourTransform() = default;

  // True when applying it changes nothing (the same space, or OpenColorIO
  // found the transform to be a no-op).
  bool IsIdentity() const { return impl_ == nullptr; }

  // Converts `count` straight (unassociated) RGB triples in place.
  void ApplyRgb(float* rgb, std::size_t count) const;

  // Converts premultiplied pixels in place: the colour is divided by alpha,
  // converted, and multiplied back (a transform that is not linear must see
  // the colour a pixel shows, not its share of coverage); alpha is kept. A
  // pixel of alpha 0 or less (no coverage, or light without coverage) is
  // converted as it is.
  void ApplyPremultiplied(std::span<FloatRgba> pixels) const;

  struct Impl;

 private:
  friend class ColourConfig;
  std::shared_ptr<const Impl> impl_;
};

class ColourConfig {
 public:
  // The config the options choose: `ocioOption` (--ocio) when not empty,
  // else $OCIO when set and not empty, else the built-in one. Throws
  // InputError naming the option or the variable and the file when the
  // config cannot be read or is not valid.
  static ColourConfig Choose(const std::string& ocioOption);
  static ColourConfig BuiltIn();
  // `where` names the file in messages ("--ocio", "$OCIO").
  static ColourConfig FromFile(const std::filesystem::path& file, const std::string& where);

  // The config as messages name it: "the built-in OpenColorIO config",
  // "the OpenColorIO config /path/config.ocio ($OCIO)".
  const std::string& Description() const;

  // The colour space `name` (a space, an alias or a role, any letter case)
  // stands for, by its own name; nullopt when the config has none.
  std::optional<std::string> SpaceName(const std::string& name) const;
  // Every colour space, each as "Name" or "Name (alias, alias)", in the
  // config's order, and the roles as "role = Name": for messages that list
  // what a name may be.
  std::vector<std::string> SpaceList() const;

  std::vector<std::string> Displays() const;
  std::vector<std::string> Views(const std::string& display) const;  // empty for an unknown display
  std::string DefaultDisplay() const;
  std::string DefaultView(const std::string& display) const;

  // The transform from space `from` to space `to` (names as SpaceName
  // takes them; both must exist): the identity when they are one space.
  ColourTransform Transform(const std::string& from, const std::string& to) const;
  // The transform from space `from` to what `display` shows through
  // `view` (both must exist).
  ColourTransform DisplayTransform(const std::string& from, const std::string& display,
                                   const std::string& view) const;

  struct Impl;

 private:
  explicit ColourConfig(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const Impl> impl_;
};

// The text of the built-in config (host/app/colour/config.ocio).
std::string_view BuiltInColourConfigText();

}  // namespace velumbra
