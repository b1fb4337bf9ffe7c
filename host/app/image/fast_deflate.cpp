#include "host/app/image/fast_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace velumbra {

namespace {

// zlib's memory level for the run-length choice: 6 rather than its default
// 8. The run-length strategy never reads zlib's hash table, but zlib still
// slides it every 32 KiB of input; at level 6 it is a quarter the size (16
// KiB). Measured on 1080p frames: the compression of empty and star frames
// about a quarter faster, files under 1 % larger (blocks of 4096 rather than
// 16384 symbols), busy frames somewhat slower.
constexpr int kFastMemLevel = 6;

// zlib's raw run-length deflater, reset for each use (a reset stream gives
// the same bytes as a new one).
class RawDeflate {
 public:
  RawDeflate() {
    // Window bits negative: raw deflate, no zlib header or checksum; 15: a
    // 32 KiB window, as kFastZlibHeader declares.
    const int result = deflateInit2(&z_, 1, Z_DEFLATED, -15, kFastMemLevel, Z_RLE);
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result != Z_OK) throw std::logic_error("zlib refused the deflate settings (" + std::to_string(result) + ")");
  }
  ~RawDeflate() { deflateEnd(&z_); }
  RawDeflate(const RawDeflate&) = delete;
  RawDeflate& operator=(const RawDeflate&) = delete;
  z_stream* get() { return &z_; }

 private:
  z_stream z_{};
};

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

}  // namespace

std::uint64_t CountChanges(const std::uint8_t* data, std::size_t n) {
  std::uint64_t changes = 0;
  for (std::size_t i = 1; i < n; ++i) changes += data[i] != data[i - 1];
  return changes;
}

std::size_t DeflateFast(const std::uint8_t* data, std::size_t n, bool busy, std::vector<std::uint8_t>& out,
                        std::size_t offset) {
  if (busy) {
    thread_local Compressor compressor;
    if (!compressor) compressor.reset(libdeflate_alloc_compressor(1));
    if (!compressor) throw std::bad_alloc();
    out.resize(offset + libdeflate_deflate_compress_bound(compressor.get(), n));
    const std::size_t size =
        libdeflate_deflate_compress(compressor.get(), data, n, out.data() + offset, out.size() - offset);
    if (size == 0) throw std::logic_error("libdeflate could not compress the image data");
    return size;
  }
  thread_local std::unique_ptr<RawDeflate> deflater;
  if (!deflater) deflater = std::make_unique<RawDeflate>();
  z_stream* z = deflater->get();
  if (deflateReset(z) != Z_OK) throw std::logic_error("zlib could not reset its deflater");
  out.resize(offset + deflateBound(z, static_cast<uLong>(n)));
  z->next_in = const_cast<std::uint8_t*>(data);
  z->avail_in = static_cast<uInt>(n);
  z->next_out = out.data() + offset;
  z->avail_out = static_cast<uInt>(out.size() - offset);
  const int result = deflate(z, Z_FINISH);
  if (result != Z_STREAM_END) throw std::logic_error("zlib deflate failed (" + std::to_string(result) + ")");
  return out.size() - offset - z->avail_out;
}

}  // namespace velumbra
