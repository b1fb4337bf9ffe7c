// The encoded OpenEXR file in memory, for the image code's writers: the
// library seeks back to fill in its chunk offsets, which the append-only
// AtomicFile cannot do, so a file is encoded here and then written whole.
// Internal to host/app/image (it includes the OpenEXR headers).
#pragma once

#include <OpenEXR/Iex.h>
#include <OpenEXR/ImfCompression.h>
#include <OpenEXR/ImfIO.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/app/base/atomic_file.h"
#include "host/app/image/exr_io.h"

namespace velumbra {

class ExrMemoryStream final : public Imf::OStream {
 public:
  explicit ExrMemoryStream(const std::string& name) : Imf::OStream(name.c_str()) {}

  void write(const char c[], int n) override {
    if (n < 0) throw Iex::ArgExc("negative write size");
    const size_t end = position_ + static_cast<size_t>(n);
    if (end > bytes_.size()) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, c, static_cast<size_t>(n));
    position_ = end;
  }
  uint64_t tellp() override { return position_; }
  void seekp(uint64_t pos) override { position_ = static_cast<size_t>(pos); }

  const std::vector<char>& Bytes() const { return bytes_; }

  // Writes the encoded file to `file` whole, atomically (AtomicFile).
  void CommitTo(const std::filesystem::path& file) const {
    AtomicFile target(file);
    target.Write(bytes_.data(), bytes_.size());
    target.Commit();
  }

 private:
  std::vector<char> bytes_;
  size_t position_ = 0;
};

// The library's code of a compression (exr_write.cpp).
Imf::Compression ImfCompressionOf(ExrCompression compression);

}  // namespace velumbra
