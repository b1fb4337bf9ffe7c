#include "host/app/output/output_format.h"

#include <cctype>
#include <filesystem>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"

namespace velumbra {

ImageFormat OutputFormatOf(std::string_view name, const std::string& option) {
  if (IsStandardOutput(name)) return ImageFormat::Png;
  // A device or a pipe that exists (/dev/stdout, a FIFO) takes PNG whatever
  // its name.
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(std::filesystem::path(name), ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_directory(status))
    return ImageFormat::Png;
  std::string ext = std::filesystem::path(name).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".png") return ImageFormat::Png;
  if (ext == ".exr") return ImageFormat::Exr;
  const std::string what = ext.empty() ? "has no extension" : "ends in " + Quoted(ext);
  throw InputError(option + " " + Quoted(name) + ": " + what +
                   "; the command writes PNG (.png), OpenEXR (.exr), or PNG to standard output (-)");
}

const char* FormatName(ImageFormat format) { return format == ImageFormat::Exr ? "OpenEXR" : "PNG"; }

}  // namespace velumbra
