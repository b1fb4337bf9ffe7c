#include "host/app/image/png_io.h"

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/app/base/app_error.h"
#include "host/app/base/atomic_file.h"
#include "host/app/image/fast_deflate.h"

// libpng reports errors by longjmp back to a setjmp. The functions below that
// call setjmp (the *C functions) hold plain data only, and nothing between
// them and libpng owns a destructor, so the jump skips no C++ clean-up; the
// C++ objects (file handles, buffers) live in their callers, which the jump
// never crosses.

namespace velumbra {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// State shared with libpng's callbacks: plain data only.
struct PngContext {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::FILE* in = nullptr;     // reading
  AtomicFile* out = nullptr;   // writing to a file, or
  std::string* memory = nullptr;  // to memory
  char error[256] = {};        // libpng's message of the error that ended the call
};

void OnPngError(png_structp png, png_const_charp message) {
  auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
  std::snprintf(ctx->error, sizeof ctx->error, "%s", message ? message : "unknown error");
  png_longjmp(png, 1);
}

// Warnings (an odd ancillary chunk, a known-bad colour profile) do not make
// an image unusable; the pixels are taken as stored either way.
void OnPngWarning(png_structp, png_const_charp) {}

void OnPngWrite(png_structp png, png_bytep data, size_t size) {
  auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
  if (ctx->memory) ctx->memory->append(reinterpret_cast<const char*>(data), size);
  else if (!ctx->out->TryWrite(data, size)) png_error(png, "write failed");
}

void OnPngFlush(png_structp) {}

// --- reading ------------------------------------------------------------------

enum class Layout { Rgba, Grey };

struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  bool hasTrns = false;
  size_t rowBytes = 0;  // after the transforms
  int channels = 0;     // after the transforms
};

bool ReadInfoC(PngContext* ctx, PngHeader* header) {
  if (setjmp(png_jmpbuf(ctx->png))) return false;
  png_init_io(ctx->png, ctx->in);
  png_set_sig_bytes(ctx->png, 8);
  // The pixel-count limit of the caller decides, not libpng's default
  // one-million-pixel width and height limits.
  png_set_user_limits(ctx->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_read_info(ctx->png, ctx->info);
  header->width = png_get_image_width(ctx->png, ctx->info);
  header->height = png_get_image_height(ctx->png, ctx->info);
  header->bitDepth = png_get_bit_depth(ctx->png, ctx->info);
  header->colorType = png_get_color_type(ctx->png, ctx->info);
  header->hasTrns = png_get_valid(ctx->png, ctx->info, PNG_INFO_tRNS) != 0;
  return true;
}

bool SetTransformsC(PngContext* ctx, Layout layout, PngHeader* header) {
  if (setjmp(png_jmpbuf(ctx->png))) return false;
  png_structp png = ctx->png;
  if (layout == Layout::Rgba) {
    // Palette to RGB, 1/2/4-bit grey to 8 bits, tRNS to an alpha channel.
    if (header->colorType == PNG_COLOR_TYPE_PALETTE || header->bitDepth < 8 || header->hasTrns)
      png_set_expand(png);
    if (!(header->colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    if (!(header->colorType & PNG_COLOR_MASK_ALPHA))
      // Opaque is file white (0xFF, 0xFFFF), the effect's full opacity
      // 65280 once read. libpng adds the filler only
      // to rows still without alpha after the tRNS expansion, so a tRNS
      // chunk libpng sets aside (one out of place) leaves an opaque image,
      // not a row of another layout.
      png_set_filler(png, header->bitDepth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
  } else if (header->colorType == PNG_COLOR_TYPE_GRAY && header->bitDepth < 8) {
    png_set_packing(png);  // one byte per pixel, values not scaled
  }
  if (header->bitDepth == 16 && kLittleEndian) png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, ctx->info);
  header->rowBytes = png_get_rowbytes(png, ctx->info);
  header->channels = png_get_channels(png, ctx->info);
  return true;
}

bool ReadRowsC(PngContext* ctx, png_bytepp rows) {
  if (setjmp(png_jmpbuf(ctx->png))) return false;
  png_read_image(ctx->png, rows);
  png_read_end(ctx->png, nullptr);
  return true;
}

const char* ColorTypeName(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY: return "grey";
    case PNG_COLOR_TYPE_GRAY_ALPHA: return "grey+alpha";
    case PNG_COLOR_TYPE_RGB: return "RGB";
    case PNG_COLOR_TYPE_RGB_ALPHA: return "RGBA";
    case PNG_COLOR_TYPE_PALETTE: return "palette";
    default: return "unknown";
  }
}

// One PNG file being read: opened, header read, size checked, transforms
// set; then ReadRows fills the caller's buffer.
class PngFileReader {
 public:
  PngFileReader(const std::filesystem::path& file, Layout layout, const ImageReadOptions& options)
      : file_(file) {
    PngContext& ctx = handles_.ctx;
    ctx.in = std::fopen(file.c_str(), "rb");
    if (!ctx.in) throw InputError("cannot open " + file.string() + ": " + std::strerror(errno));
    png_byte signature[8];
    const size_t n = std::fread(signature, 1, sizeof signature, ctx.in);
    if (n < sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0)
      throw InputError(file.string() + ": not a PNG file");
    ctx.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, OnPngError, OnPngWarning);
    if (ctx.png) ctx.info = png_create_info_struct(ctx.png);
    if (!ctx.png || !ctx.info) throw std::bad_alloc();
    if (!ReadInfoC(&ctx, &header_)) Fail();
    const std::uint64_t pixels = std::uint64_t{header_.width} * header_.height;
    if (pixels > options.maxPixels)
      throw InputError(file.string() + ": " + TooManyPixels(header_.width, header_.height, options.maxPixels));
    if (layout == Layout::Grey && header_.colorType != PNG_COLOR_TYPE_GRAY)
      throw InputError(file.string() + ": an ID image must be a grey PNG without alpha; this one is " +
                       ColorTypeName(header_.colorType));
    if (!SetTransformsC(&ctx, layout, &header_)) Fail();
  }

  PngFileReader(const PngFileReader&) = delete;
  PngFileReader& operator=(const PngFileReader&) = delete;

  const PngHeader& Header() const { return header_; }

  // Reads every row; row y goes to rowStart + y * rowStride bytes. The
  // caller's buffer must hold Header().rowBytes at each row.
  void ReadRows(unsigned char* rowStart, size_t rowStride) {
    std::vector<png_bytep> rows(header_.height);
    for (png_uint_32 y = 0; y < header_.height; ++y) rows[y] = rowStart + y * rowStride;
    if (!ReadRowsC(&handles_.ctx, rows.data())) Fail();
  }

  // Checks the layout the transforms produced; anything else is a fault of
  // this reader, not of the file.
  void ExpectLayout(int channels, size_t bytesPerSample) const {
    if (header_.channels != channels ||
        header_.rowBytes != size_t{header_.width} * channels * bytesPerSample)
      throw std::logic_error(file_.string() + ": unexpected PNG row layout after transforms");
  }

 private:
  [[noreturn]] void Fail() {
    throw InputError(file_.string() + ": damaged or truncated PNG (" + handles_.ctx.error + ")");
  }

  // Released also when the constructor throws (a member, not the body).
  struct Handles {
    PngContext ctx;
    Handles() = default;
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;
    ~Handles() {
      if (ctx.png) png_destroy_read_struct(&ctx.png, ctx.info ? &ctx.info : nullptr, nullptr);
      if (ctx.in) std::fclose(ctx.in);
    }
  };

  std::filesystem::path file_;
  Handles handles_;
  PngHeader header_;
};

// --- writing ------------------------------------------------------------------

// Fills one PNG row (as stored: big-endian 16-bit samples) from row y of
// the source. Plain functions: they run between setjmp and libpng.
using RowFill = void (*)(const void* source, png_uint_32 width, png_uint_32 y, png_bytep row);

struct PngWriteJob {
  const void* source = nullptr;
  RowFill fill = nullptr;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 8;
  int colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  size_t rowBytes = 0;  // one row of the file's layout, without its filter byte
  PngCompression compression = PngCompression::Fast;
  png_bytep row = nullptr;  // rowBytes, for libpng's own row writer
};

// The signature and the header chunks.
bool WriteInfoC(PngContext* ctx, const PngWriteJob* job) {
  if (setjmp(png_jmpbuf(ctx->png))) return false;
  png_set_write_fn(ctx->png, ctx, OnPngWrite, OnPngFlush);
  png_set_IHDR(ctx->png, ctx->info, job->width, job->height, job->bitDepth, job->colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  switch (job->compression) {
    case PngCompression::Fast: break;  // the image data does not go through libpng
    case PngCompression::Default: break;
    case PngCompression::Small: png_set_compression_level(ctx->png, 9); break;
    case PngCompression::None:
      png_set_filter(ctx->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
      png_set_compression_level(ctx->png, 0);
      break;
  }
  png_write_info(ctx->png, ctx->info);
  return true;
}

// The rows filtered and compressed by libpng, and the end chunk.
bool WriteRowsC(PngContext* ctx, const PngWriteJob* job) {
  if (setjmp(png_jmpbuf(ctx->png))) return false;
  for (png_uint_32 y = 0; y < job->height; ++y) {
    job->fill(job->source, job->width, y, job->row);
    png_write_row(ctx->png, job->row);
  }
  png_write_end(ctx->png, nullptr);
  return true;
}

// One whole chunk (length, type, data, CRC) of `type`, four letters.
bool WriteChunkC(PngContext* ctx, const char* type, png_const_bytep data, size_t size) {
  if (setjmp(png_jmpbuf(ctx->png))) return false;
  png_write_chunk(ctx->png, reinterpret_cast<png_const_bytep>(type), data, size);
  return true;
}

// --- fast writing: unfiltered rows, run-length deflate --------------------------
//
// The image data of PngCompression::Fast is one zlib stream (RFC 1950) of
// the rows, each behind its filter byte 0 (none), deflated at level 1: by
// zlib with its run-length strategy (and the memory level below) where the
// image is mostly runs of equal bytes, which is what star frames hold
// (black with sparse points), else by libdeflate (fast_deflate.h).
// Through libpng, zlib would also compute the stream's Adler-32, a byte at a
// time, about a fifth of the compression's cost; here the deflate data is
// raw, libdeflate's vectorised adler32 sums the same bytes, and the
// stream's two-byte header and four-byte trailer are written around it.
// The run-length stream is byte for byte the one libpng's own row writer
// makes with these settings (a test compares them). libpng writes the
// header chunks, frames each IDAT chunk and writes IEND.

constexpr size_t kBandBytes = size_t{64} << 10;    // rows converted and looked at at once
constexpr size_t kIdatBytes = size_t{256} << 10;   // data of each full IDAT chunk

// Writes the image data and IEND of `job` (after WriteInfoC). False when
// libpng failed (ctx->error says why); throws when the compressor fails.
bool WriteFastImageData(PngContext* ctx, const PngWriteJob& job) {
  const size_t stride = job.rowBytes + 1;
  const size_t total = stride * job.height;
  // The filtered image (filter byte 0 and the row) and its deflate data;
  // kept by the thread from one image to the next, so that a frame does
  // not fault in fresh pages.
  thread_local std::vector<png_byte> image, packed;
  image.resize(total);
  // Rows are converted, summed and their changes counted a band at a time,
  // while the band is in cache.
  const png_uint_32 bandRows = static_cast<png_uint_32>(std::max<size_t>(1, kBandBytes / stride));
  std::uint32_t adler = 1;  // Adler-32 of no bytes
  std::uint64_t changes = 0;
  for (png_uint_32 y0 = 0; y0 < job.height; y0 += bandRows) {
    const png_uint_32 y1 = std::min(job.height, y0 + bandRows);
    png_byte* band = image.data() + size_t{y0} * stride;
    for (png_uint_32 y = y0; y < y1; ++y) {
      png_byte* row = image.data() + size_t{y} * stride;
      row[0] = 0;
      job.fill(job.source, job.width, y, row + 1);
    }
    const size_t bytes = size_t{y1 - y0} * stride;
    adler = static_cast<std::uint32_t>(libdeflate_adler32(adler, band, bytes));
    changes += (y0 > 0 && band[0] != band[-1]) + CountChanges(band, bytes);
  }
  const size_t size = DeflateFast(image.data(), total, IsBusy(changes, total), packed);
  // The zlib stream: header, deflate data, Adler-32; in IDAT chunks of at
  // most kIdatBytes.
  const png_byte trailer[4] = {static_cast<png_byte>(adler >> 24), static_cast<png_byte>(adler >> 16),
                               static_cast<png_byte>(adler >> 8), static_cast<png_byte>(adler)};
  std::vector<png_byte> chunk(kIdatBytes);
  size_t used = 0;
  const auto put = [&](const png_byte* data, size_t n) {
    while (n > 0) {
      const size_t take = std::min(n, chunk.size() - used);
      std::memcpy(chunk.data() + used, data, take);
      used += take;
      data += take;
      n -= take;
      if (used == chunk.size()) {
        if (!WriteChunkC(ctx, "IDAT", chunk.data(), used)) return false;
        used = 0;
      }
    }
    return true;
  };
  if (!put(kFastZlibHeader, sizeof kFastZlibHeader) || !put(packed.data(), size) || !put(trailer, sizeof trailer)) return false;
  if (used > 0 && !WriteChunkC(ctx, "IDAT", chunk.data(), used)) return false;
  return WriteChunkC(ctx, "IEND", nullptr, 0);
}

// The frame's pixels with the alpha convention of the file.
struct RgbaSource {
  const BMM_Color_64* pixels = nullptr;
  PngAlpha alpha = PngAlpha::Straight;
};

void FillRgba8(const void* source, png_uint_32 width, png_uint_32 y, png_bytep row) {
  const auto* src = static_cast<const RgbaSource*>(source);
  FrameRowToPng8(src->pixels + size_t{y} * width, width, src->alpha, row);
}

void FillRgba16(const void* source, png_uint_32 width, png_uint_32 y, png_bytep row) {
  const auto* src = static_cast<const RgbaSource*>(source);
  FrameRowToPng16(src->pixels + size_t{y} * width, width, src->alpha, row);
}

inline void Put16(png_bytep out, WORD v) {
  out[0] = static_cast<png_byte>(v >> 8);
  out[1] = static_cast<png_byte>(v & 0xFF);
}

void FillGrey16(const void* source, png_uint_32 width, png_uint_32 y, png_bytep row) {
  const WORD* p = static_cast<const WORD*>(source) + size_t{y} * width;
  for (png_uint_32 x = 0; x < width; ++x) Put16(row + 2 * x, p[x]);
}

void FillGrey8(const void* source, png_uint_32 width, png_uint_32 y, png_bytep row) {
  std::memcpy(row, static_cast<const UBYTE*>(source) + size_t{y} * width, width);
}

// Encodes to `out` (a file) or `memory`, exactly one of them.
void EncodePng(AtomicFile* out, std::string* memory, const std::string& name, int width, int height,
               const void* source, RowFill fill, int bitDepth, int colorType, int channels, PngCompression compression) {
  if (width <= 0 || height <= 0 || !source)
    throw std::invalid_argument("cannot write " + name + ": the image is empty");
  PngContext ctx;
  ctx.out = out;
  ctx.memory = memory;
  std::vector<png_byte> row(size_t(width) * channels * (bitDepth / 8));
  ctx.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, OnPngError, OnPngWarning);
  if (ctx.png) ctx.info = png_create_info_struct(ctx.png);
  struct Destroy {
    PngContext& ctx;
    ~Destroy() {
      if (ctx.png) png_destroy_write_struct(&ctx.png, ctx.info ? &ctx.info : nullptr);
    }
  } destroy{ctx};
  if (!ctx.png || !ctx.info) throw std::bad_alloc();
  PngWriteJob job;
  job.source = source;
  job.fill = fill;
  job.width = static_cast<png_uint_32>(width);
  job.height = static_cast<png_uint_32>(height);
  job.bitDepth = bitDepth;
  job.colorType = colorType;
  job.rowBytes = row.size();
  job.compression = compression;
  job.row = row.data();
  const bool written = WriteInfoC(&ctx, &job) && (compression == PngCompression::Fast
                                                      ? WriteFastImageData(&ctx, job)
                                                      : WriteRowsC(&ctx, &job));
  if (!written) {
    if (out) out->Fail(ctx.error);
    throw SystemError("cannot encode " + name + ": " + ctx.error);
  }
}

void WritePng(const std::filesystem::path& file, int width, int height, const void* source, RowFill fill,
              int bitDepth, int colorType, int channels, PngCompression compression = PngCompression::Fast) {
  if (width <= 0 || height <= 0 || !source)
    throw std::invalid_argument("cannot write " + file.string() + ": the image is empty");
  AtomicFile out(file);
  EncodePng(&out, nullptr, file.string(), width, height, source, fill, bitDepth, colorType, channels,
            compression);
  out.Commit();
}

}  // namespace

RgbaImage ReadPngRgba(const std::filesystem::path& file, const ImageReadOptions& options) {
  PngFileReader reader(file, Layout::Rgba, options);
  const PngHeader& h = reader.Header();
  const bool sixteen = h.bitDepth == 16;
  reader.ExpectLayout(4, sixteen ? 2 : 1);
  RgbaImage image;
  image.width = static_cast<int>(h.width);
  image.height = static_cast<int>(h.height);
  image.fileBitDepth = h.bitDepth;
  image.pixels.resize(size_t{h.width} * h.height);
  // Rows land at the start of their own pixel row: 16-bit samples (in host
  // byte order) fill the pixel in place; 8-bit rows fill the first half and
  // are widened in place from the right, so no byte is overwritten before it
  // is read.
  auto* base = reinterpret_cast<unsigned char*>(image.pixels.data());
  const size_t stride = size_t{h.width} * sizeof(BMM_Color_64);
  reader.ReadRows(base, stride);
  for (png_uint_32 y = 0; y < h.height; ++y) {
    BMM_Color_64* px = image.pixels.data() + size_t{y} * h.width;
    if (!sixteen) {
      const unsigned char* bytes = base + y * stride;
      for (png_uint_32 x = h.width; x-- > 0;) {
        const unsigned char* s = bytes + 4 * size_t{x};
        px[x] = PngToFrame({s[0], s[1], s[2], s[3]}, 8, options.alpha);
      }
    } else {
      for (png_uint_32 x = 0; x < h.width; ++x)
        px[x] = PngToFrame({px[x].r, px[x].g, px[x].b, px[x].a}, 16, options.alpha);
    }
  }
  return image;
}

std::string EncodePngRgba(int width, int height, const BMM_Color_64* pixels, const PngWriteOptions& options) {
  if (options.bitDepth != 8 && options.bitDepth != 16)
    throw std::invalid_argument("PNG bit depth must be 8 or 16, not " + std::to_string(options.bitDepth));
  std::string bytes;
  const RgbaSource source{pixels, options.alpha};
  EncodePng(nullptr, &bytes, "the image", width, height, pixels ? &source : nullptr,
            options.bitDepth == 16 ? FillRgba16 : FillRgba8, options.bitDepth, PNG_COLOR_TYPE_RGB_ALPHA, 4,
            options.compression);
  return bytes;
}

std::optional<PngCompression> ParsePngCompression(std::string_view name) {
  if (name == "fast") return PngCompression::Fast;
  if (name == "default") return PngCompression::Default;
  if (name == "small") return PngCompression::Small;
  if (name == "none") return PngCompression::None;
  return std::nullopt;
}

void WritePngRgba(const std::filesystem::path& file, int width, int height, const BMM_Color_64* pixels,
                  const PngWriteOptions& options) {
  if (options.bitDepth != 8 && options.bitDepth != 16)
    throw std::invalid_argument("cannot write " + file.string() + ": bit depth " +
                                std::to_string(options.bitDepth) + " is not 8 or 16");
  const RgbaSource source{pixels, options.alpha};
  WritePng(file, width, height, pixels ? &source : nullptr, options.bitDepth == 16 ? FillRgba16 : FillRgba8,
           options.bitDepth, PNG_COLOR_TYPE_RGB_ALPHA, 4, options.compression);
}

void WritePngRgba(const std::filesystem::path& file, int width, int height,
                  const BMM_Color_64* pixels, int bitDepth) {
  PngWriteOptions options;
  options.bitDepth = bitDepth;
  WritePngRgba(file, width, height, pixels, options);
}

IdImage<WORD> ReadObjectIdPng(const std::filesystem::path& file, const ImageReadOptions& options) {
  PngFileReader reader(file, Layout::Grey, options);
  const PngHeader& h = reader.Header();
  const bool sixteen = h.bitDepth == 16;
  reader.ExpectLayout(1, sixteen ? 2 : 1);
  IdImage<WORD> image;
  image.width = static_cast<int>(h.width);
  image.height = static_cast<int>(h.height);
  image.fileBitDepth = h.bitDepth;
  image.values.resize(size_t{h.width} * h.height);
  auto* base = reinterpret_cast<unsigned char*>(image.values.data());
  const size_t stride = size_t{h.width} * sizeof(WORD);
  reader.ReadRows(base, stride);
  if (!sixteen) {
    // Widen 8-bit IDs in place, from the right (see ReadPngRgba).
    for (png_uint_32 y = 0; y < h.height; ++y) {
      const unsigned char* bytes = base + y * stride;
      WORD* ids = image.values.data() + size_t{y} * h.width;
      for (png_uint_32 x = h.width; x-- > 0;) {
        const WORD v = bytes[x];
        ids[x] = v;
      }
    }
  }
  return image;
}

IdImage<UBYTE> ReadMaterialIdPng(const std::filesystem::path& file, const ImageReadOptions& options) {
  PngFileReader reader(file, Layout::Grey, options);
  const PngHeader& h = reader.Header();
  IdImage<UBYTE> image;
  image.width = static_cast<int>(h.width);
  image.height = static_cast<int>(h.height);
  image.fileBitDepth = h.bitDepth;
  image.values.resize(size_t{h.width} * h.height);
  if (h.bitDepth != 16) {
    reader.ExpectLayout(1, 1);
    reader.ReadRows(image.values.data(), h.width);
    return image;
  }
  reader.ExpectLayout(1, 2);
  std::vector<WORD> wide(size_t{h.width} * h.height);
  reader.ReadRows(reinterpret_cast<unsigned char*>(wide.data()), size_t{h.width} * sizeof(WORD));
  for (size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] > 255)
      throw InputError(file.string() + ": material ID " + std::to_string(wide[i]) + " at pixel (" +
                       std::to_string(i % h.width) + ", " + std::to_string(i / h.width) +
                       ") is outside 0..255 (material IDs are 8-bit)");
    image.values[i] = static_cast<UBYTE>(wide[i]);
  }
  return image;
}

void WriteObjectIdPng(const std::filesystem::path& file, int width, int height, const WORD* ids) {
  WritePng(file, width, height, ids, FillGrey16, 16, PNG_COLOR_TYPE_GRAY, 1);
}

void WriteMaterialIdPng(const std::filesystem::path& file, int width, int height, const UBYTE* ids) {
  WritePng(file, width, height, ids, FillGrey8, 8, PNG_COLOR_TYPE_GRAY, 1);
}

}  // namespace velumbra
