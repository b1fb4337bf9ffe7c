#include "host/app/colour/colour_config.h"

#include <OpenColorIO/OpenColorIO.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"

namespace OCIO = OCIO_NAMESPACE;

namespace velumbra {

struct ColourTransform::Impl {
  OCIO::ConstCPUProcessorRcPtr cpu;
};

struct ColourConfig::Impl {
  OCIO::ConstConfigRcPtr config;
  std::string description;
};

namespace {

// Lossless optimisation only: the transforms run as the config writes them
// (no approximated powers or logarithms, no LUT baking), so that a PNG of a
// linear plate is the sRGB formula of its values to within the rounding of
// the file.
constexpr OCIO::OptimizationFlags kOptimisation = OCIO::OPTIMIZATION_LOSSLESS;

ColourTransform::Impl* NewTransform(const OCIO::ConstProcessorRcPtr& processor) {
  if (processor->isNoOp()) return nullptr;
  return new ColourTransform::Impl{processor->getOptimizedCPUProcessor(kOptimisation)};
}

}  // namespace

void ColourTransform::ApplyRgb(float* rgb, std::size_t count) const {
  if (!impl_ || count == 0) return;
  // The library's image descriptions count pixels in a long.
  constexpr std::size_t kChunk = std::size_t{1} << 24;
  for (std::size_t done = 0; done < count; done += kChunk) {
    const std::size_t n = std::min(kChunk, count - done);
    OCIO::PackedImageDesc image(rgb + 3 * done, static_cast<long>(n), 1, 3);
    impl_->cpu->apply(image);
  }
}

void ColourTransform::ApplyPremultiplied(std::span<FloatRgba> pixels) const {
  if (!impl_ || pixels.empty()) return;
  static_assert(sizeof(FloatRgba) == 4 * sizeof(float), "FloatRgba is four packed floats");
  const auto covered = [](float a) { return a > 0.0f; };  // false for 0, negative and NaN
  for (FloatRgba& p : pixels)
    if (covered(p.a)) {
      p.r /= p.a;
      p.g /= p.a;
      p.b /= p.a;
    }
  constexpr std::size_t kChunk = std::size_t{1} << 24;
  for (std::size_t done = 0; done < pixels.size(); done += kChunk) {
    const std::size_t n = std::min(kChunk, pixels.size() - done);
    // RGBA: the library converts the colour and passes alpha through.
    OCIO::PackedImageDesc image(&pixels[done].r, static_cast<long>(n), 1, 4);
    impl_->cpu->apply(image);
  }
  for (FloatRgba& p : pixels)
    if (covered(p.a)) {
      p.r *= p.a;
      p.g *= p.a;
      p.b *= p.a;
    }
}

ColourConfig ColourConfig::BuiltIn() {
  try {
    std::istringstream text{std::string(BuiltInColourConfigText())};
    auto impl = std::make_shared<Impl>();
    impl->config = OCIO::Config::CreateFromStream(text);
    impl->config->validate();
    impl->description = "the built-in OpenColorIO config";
    return ColourConfig(std::move(impl));
  } catch (const OCIO::Exception& e) {
    // The built-in text is part of the binary: it must load.
    throw std::logic_error(std::string("the built-in OpenColorIO config does not load: ") + e.what());
  }
}

ColourConfig ColourConfig::FromFile(const std::filesystem::path& file, const std::string& where) {
  const std::string named = where + " " + QuotedIfNeeded(file.string());
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw InputError(named + ": no such OpenColorIO config file");
  try {
    auto impl = std::make_shared<Impl>();
    impl->config = OCIO::Config::CreateFromFile(file.c_str());
    impl->config->validate();
    impl->description = "the OpenColorIO config " + file.string() + " (" + where + ")";
    return ColourConfig(std::move(impl));
  } catch (const OCIO::Exception& e) {
    throw InputError(named + ": not a usable OpenColorIO config: " + e.what());
  }
}

ColourConfig ColourConfig::Choose(const std::string& ocioOption) {
  if (!ocioOption.empty()) return FromFile(ocioOption, "--ocio");
  if (const char* env = std::getenv("OCIO"); env && *env) return FromFile(env, "$OCIO");
  return BuiltIn();
}

const std::string& ColourConfig::Description() const { return impl_->description; }

std::optional<std::string> ColourConfig::SpaceName(const std::string& name) const {
  if (name.empty()) return std::nullopt;
  const OCIO::ConstColorSpaceRcPtr space = impl_->config->getColorSpace(name.c_str());
  if (!space) return std::nullopt;
  return std::string(space->getName());
}

std::vector<std::string> ColourConfig::SpaceList() const {
  const OCIO::Config& c = *impl_->config;
  std::vector<std::string> out;
  for (int i = 0; i < c.getNumColorSpaces(); ++i) {
    const OCIO::ConstColorSpaceRcPtr space = c.getColorSpace(c.getColorSpaceNameByIndex(i));
    if (!space) continue;
    std::string entry = space->getName();
    std::string aliases;
    for (std::size_t a = 0; a < space->getNumAliases(); ++a)
      aliases += (aliases.empty() ? "" : ", ") + std::string(space->getAlias(a));
    if (!aliases.empty()) entry += " (" + aliases + ")";
    out.push_back(std::move(entry));
  }
  for (int i = 0; i < c.getNumRoles(); ++i)
    out.push_back(std::string(c.getRoleName(i)) + " = " + c.getRoleColorSpace(i));
  return out;
}

std::vector<std::string> ColourConfig::Displays() const {
  const OCIO::Config& c = *impl_->config;
  std::vector<std::string> out;
  for (int i = 0; i < c.getNumDisplays(); ++i) out.emplace_back(c.getDisplay(i));
  return out;
}

std::vector<std::string> ColourConfig::Views(const std::string& display) const {
  const OCIO::Config& c = *impl_->config;
  std::vector<std::string> out;
  for (int i = 0; i < c.getNumViews(display.c_str()); ++i) out.emplace_back(c.getView(display.c_str(), i));
  return out;
}

std::string ColourConfig::DefaultDisplay() const { return impl_->config->getDefaultDisplay(); }

std::string ColourConfig::DefaultView(const std::string& display) const {
  return impl_->config->getDefaultView(display.c_str());
}

ColourTransform ColourConfig::Transform(const std::string& from, const std::string& to) const {
  ColourTransform t;
  if (SpaceName(from) == SpaceName(to)) return t;
  try {
    t.impl_.reset(NewTransform(impl_->config->getProcessor(from.c_str(), to.c_str())));
  } catch (const OCIO::Exception& e) {
    throw InputError(Description() + ": cannot convert from " + Quoted(from) + " to " + Quoted(to) + ": " + e.what());
  }
  return t;
}

ColourTransform ColourConfig::DisplayTransform(const std::string& from, const std::string& display,
                                               const std::string& view) const {
  ColourTransform t;
  try {
    const OCIO::DisplayViewTransformRcPtr dv = OCIO::DisplayViewTransform::Create();
    dv->setSrc(from.c_str());
    dv->setDisplay(display.c_str());
    dv->setView(view.c_str());
    t.impl_.reset(NewTransform(impl_->config->getProcessor(dv)));
  } catch (const OCIO::Exception& e) {
    throw InputError(Description() + ": cannot convert from " + Quoted(from) + " to the display " + Quoted(display) +
                     ", view " + Quoted(view) + ": " + e.what());
  }
  return t;
}

}  // namespace velumbra
