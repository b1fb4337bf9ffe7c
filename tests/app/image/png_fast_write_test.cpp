// The fast PNG writer (unfiltered rows, run-length or libdeflate deflate,
// IDAT chunks of its own) against independent readings of its files: the
// chunks and the zlib stream taken apart by hand, libpng reading every byte,
// and for sparse images libpng's own row writer with the same zlib settings
// as the straightforward route, for busy ones libdeflate's own stream.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "host/app/image/png_io.h"
#include "support/temp_dir.h"

namespace {

using velumbra::FrameToPng;
using velumbra::PngAlpha;

// --- the file taken apart ------------------------------------------------------------

struct Chunk {
  std::string type;
  std::string data;
};

std::uint32_t BE32(const std::string& s, size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
  return v;
}

// The chunks of a PNG file; fails the test on a bad signature, a chunk
// running past the end, a wrong CRC or bytes after IEND.
std::vector<Chunk> Chunks(const std::string& png) {
  std::vector<Chunk> chunks;
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  size_t at = 8;
  while (at < png.size()) {
    if (png.size() - at < 12) {
      ADD_FAILURE() << "a chunk cut short at byte " << at;
      break;
    }
    const std::uint32_t length = BE32(png, at);
    if (length > png.size() - at - 12) {
      ADD_FAILURE() << "a chunk of " << length << " bytes runs past the end at byte " << at;
      break;
    }
    Chunk c{png.substr(at + 4, 4), png.substr(at + 8, length)};
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), static_cast<uInt>(length + 4)));
    EXPECT_EQ(BE32(png, at + 8 + length), crc) << c.type << " chunk at byte " << at;
    at += 12 + size_t{length};
    chunks.push_back(std::move(c));
    if (chunks.back().type == "IEND") break;
  }
  EXPECT_EQ(at, png.size()) << "bytes after IEND";
  return chunks;
}

// The IDAT chunks' data joined, checking that they are consecutive and that
// the file is IHDR first and an empty IEND last.
std::string ImageData(const std::string& png) {
  const std::vector<Chunk> chunks = Chunks(png);
  std::string data;
  EXPECT_GE(chunks.size(), 3u);
  if (chunks.size() < 3) return data;
  EXPECT_EQ(chunks.front().type, "IHDR");
  EXPECT_EQ(chunks.back().type, "IEND");
  EXPECT_TRUE(chunks.back().data.empty());
  bool seen = false, ended = false;
  for (const Chunk& c : chunks) {
    if (c.type == "IDAT") {
      EXPECT_FALSE(ended) << "IDAT chunks are not consecutive";
      seen = true;
      data += c.data;
    } else if (seen) {
      ended = true;
    }
  }
  EXPECT_TRUE(seen) << "no IDAT chunk";
  return data;
}

// The zlib stream inflated by zlib, which checks the header and the Adler-32
// trailer; empty with a failure when the stream is damaged, incomplete or
// followed by anything.
std::string Inflate(const std::string& stream, size_t expectedSize) {
  std::string out(expectedSize + 1, '\0');
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return {};
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&z, Z_FINISH);
  const std::string message = z.msg ? z.msg : "";
  const size_t produced = out.size() - z.avail_out;
  const uInt left = z.avail_in;
  inflateEnd(&z);
  EXPECT_EQ(result, Z_STREAM_END) << message;
  EXPECT_EQ(left, 0u) << "bytes after the end of the zlib stream";
  EXPECT_EQ(produced, expectedSize);
  if (result != Z_STREAM_END || left != 0 || produced != expectedSize) return {};
  out.resize(produced);
  return out;
}

// --- libpng reading every byte -----------------------------------------------------

struct MemoryReader {
  const std::string* bytes = nullptr;
  size_t at = 0;
  std::string problem;  // the first error or warning libpng reported
};

void OnRead(png_structp png, png_bytep data, size_t size) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (size > r->bytes->size() - r->at) png_error(png, "read past the end");
  std::memcpy(data, r->bytes->data() + r->at, size);
  r->at += size;
}

void OnProblem(png_structp png, png_const_charp message) {
  auto* r = static_cast<MemoryReader*>(png_get_error_ptr(png));
  if (r->problem.empty()) r->problem = message;
}

void OnError(png_structp png, png_const_charp message) {
  OnProblem(png, message);
  png_longjmp(png, 1);
}

struct Decoded {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  std::vector<unsigned char> rows;  // as stored: 16-bit samples big-endian
};

// The two steps of a read that call libpng; nothing in them owns a
// destructor that its error jump would skip.
bool ReadHeaderC(png_structp png, png_infop info, Decoded* out, size_t* rowBytes) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  out->bitDepth = png_get_bit_depth(png, info);
  out->colorType = png_get_color_type(png, info);
  *rowBytes = png_get_rowbytes(png, info);
  return true;
}

bool ReadImageC(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

// Reads the whole file with libpng, no transforms, checking every CRC and
// the zlib stream to its end; any error or warning (benign ones included)
// fails the read.
Decoded ReadRaw(const std::string& bytes) {
  MemoryReader reader;
  reader.bytes = &bytes;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, OnError, OnProblem);
  png_infop info = png_create_info_struct(png);
  png_set_read_fn(png, &reader, OnRead);
  png_set_benign_errors(png, 0);
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  Decoded out;
  size_t rowBytes = 0;
  bool ok = ReadHeaderC(png, info, &out, &rowBytes);
  if (ok) {
    out.rows.assign(rowBytes * out.height, 0);
    std::vector<png_bytep> rows(out.height);
    for (png_uint_32 y = 0; y < out.height; ++y) rows[y] = out.rows.data() + y * rowBytes;
    ok = ReadImageC(png, info, rows.data());
  }
  png_destroy_read_struct(&png, &info, nullptr);
  EXPECT_TRUE(ok && reader.problem.empty()) << "libpng: " << reader.problem;
  EXPECT_EQ(reader.at, bytes.size()) << "libpng stopped before the end of the file";
  return out;
}

// --- libpng's own row writer: the straightforward route ---------------------------------

void OnWrite(png_structp png, png_bytep data, size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}
void OnFlush(png_structp) {}

bool WriteLibpngC(png_structp png, png_infop info, const std::vector<png_bytep>* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_info(png, info);
  png_write_image(png, const_cast<png_bytepp>(rows->data()));
  png_write_end(png, nullptr);
  return true;
}

// `rows` (file layout) written by libpng with the fast choice's settings:
// no filter, zlib level 1, memory level 6, run-length strategy.
std::string LibpngRunLength(int width, int height, int colorType, int bitDepth, std::vector<unsigned char> rows) {
  std::string bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &bytes, OnWrite, OnFlush);
  png_set_IHDR(png, info, width, height, bitDepth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_level(png, 1);
  png_set_compression_strategy(png, Z_RLE);
  png_set_compression_mem_level(png, 6);
  const size_t rowBytes = rows.size() / height;
  std::vector<png_bytep> pointers(height);
  for (int y = 0; y < height; ++y) pointers[y] = rows.data() + y * rowBytes;
  const bool ok = WriteLibpngC(png, info, &pointers);
  png_destroy_write_struct(&png, &info);
  EXPECT_TRUE(ok);
  return bytes;
}

// --- frames ------------------------------------------------------------------------

// The samples of FrameToPng, pixel by pixel, in the file's layout.
std::vector<unsigned char> GeneralRows(const std::vector<BMM_Color_64>& px, int depth, PngAlpha alpha) {
  std::vector<unsigned char> rows;
  for (const BMM_Color_64& p : px) {
    const velumbra::PngSamples s = FrameToPng(p, depth, alpha);
    for (unsigned v : {s.r, s.g, s.b, s.a}) {
      if (depth == 16) rows.push_back(static_cast<unsigned char>(v >> 8));
      rows.push_back(static_cast<unsigned char>(v & 0xFF));
    }
  }
  return rows;
}

// Pixels of every alpha class (none, partial, full, beyond full) with
// colours below, at and above their alpha, mixed in every row; row 0 holds
// no partial alpha at all, so that the writer's skipping of such runs is
// checked too.
std::vector<BMM_Color_64> AlphaClassFrame(int w, int h) {
  static const WORD alphas[] = {0, 65280, 1, 2, 255, 256, 32768, 65279, 65281, 65535};
  std::mt19937 rng(11);
  std::vector<BMM_Color_64> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const WORD a = y == 0 ? alphas[x % 2] : alphas[(x * 7 + y) % 10];
      const WORD colours[] = {0, 1, 255, WORD(a / 2), a, WORD(a < 65535 ? a + 1 : a), 65280, 65535, WORD(rng())};
      BMM_Color_64& p = px[size_t(y) * w + x];
      p = {colours[rng() % 9], colours[rng() % 9], colours[rng() % 9], a};
    }
  return px;
}

// Black with sparse stars and a busy band, larger than the writer's band of
// rows.
std::vector<BMM_Color_64> StarFrame(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<BMM_Color_64> px(size_t(w) * h);
  for (size_t i = 0; i < px.size() / 40; ++i) {
    const WORD a = rng() % 3 ? 65280 : WORD(rng() % 65281);
    px[rng() % px.size()] = {WORD(rng() % (a + 1u)), WORD(rng() % (a + 1u)), WORD(rng() % (a + 1u)), a};
  }
  for (int y = h / 3; y < std::min(h, h / 3 + 4); ++y)
    for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = {WORD(x * 211), WORD(y * 3001), 65280, 65280};
  return px;
}

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

velumbra::PngWriteOptions Options(int depth, PngAlpha alpha) {
  velumbra::PngWriteOptions o;
  o.bitDepth = depth;
  o.alpha = alpha;
  o.compression = velumbra::PngCompression::Fast;
  return o;
}

const char* Name(PngAlpha alpha) { return alpha == PngAlpha::Straight ? "straight" : "premultiplied"; }

// --- the tests -----------------------------------------------------------------------

TEST(PngFastWrite, DecodesToTheGeneralConversionForEveryAlphaClass) {
  TempDir dir;
  const int w = 37, h = 23;  // two blocks of sixteen and a tail in every row
  const std::vector<BMM_Color_64> px = AlphaClassFrame(w, h);
  for (int depth : {8, 16})
    for (PngAlpha alpha : {PngAlpha::Straight, PngAlpha::Premultiplied}) {
      SCOPED_TRACE(std::to_string(depth) + "-bit " + Name(alpha));
      const auto file = dir / "classes.png";
      velumbra::WritePngRgba(file, w, h, px.data(), Options(depth, alpha));
      const std::string bytes = ReadAll(file);
      EXPECT_EQ(velumbra::EncodePngRgba(w, h, px.data(), Options(depth, alpha)), bytes);
      const Decoded d = ReadRaw(bytes);
      EXPECT_EQ(d.width, png_uint_32(w));
      EXPECT_EQ(d.height, png_uint_32(h));
      EXPECT_EQ(d.bitDepth, depth);
      EXPECT_EQ(d.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
      const std::vector<unsigned char> expected = GeneralRows(px, depth, alpha);
      ASSERT_EQ(d.rows.size(), expected.size());
      const size_t pixelBytes = size_t(depth) / 2;
      for (size_t i = 0; i < expected.size(); i += pixelBytes) {
        const BMM_Color_64& p = px[i / pixelBytes];
        ASSERT_TRUE(std::equal(expected.begin() + i, expected.begin() + i + pixelBytes, d.rows.begin() + i))
            << "pixel " << i / pixelBytes << " (" << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ")";
      }
    }
}

TEST(PngFastWrite, EveryChunkAndTheZlibStreamCheckOut) {
  struct Case {
    const char* name;
    int w, h;
    bool noise;
  };
  // One pixel; one column; a frame of several bands; noise, whose stream
  // fills more than one IDAT chunk.
  for (const Case& c : {Case{"pixel", 1, 1, false}, Case{"column", 1, 700, false}, Case{"stars", 331, 217, false},
                        Case{"noise", 512, 300, true}}) {
    for (int depth : {8, 16}) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(depth) + " bits");
      std::vector<BMM_Color_64> px = StarFrame(c.w, c.h, 3);
      std::mt19937 rng(4);
      if (c.noise)
        for (auto& p : px) p = {WORD(rng()), WORD(rng()), WORD(rng()), WORD(rng())};
      const std::string bytes = velumbra::EncodePngRgba(c.w, c.h, px.data(), Options(depth, PngAlpha::Straight));
      const size_t rowBytes = size_t(c.w) * 4 * depth / 8;
      const std::string rows = Inflate(ImageData(bytes), (rowBytes + 1) * c.h);
      ASSERT_FALSE(rows.empty());
      const std::vector<unsigned char> expected = GeneralRows(px, depth, PngAlpha::Straight);
      for (int y = 0; y < c.h; ++y) {
        ASSERT_EQ(rows[y * (rowBytes + 1)], '\0') << "row " << y << " is filtered";
        ASSERT_EQ(std::memcmp(rows.data() + y * (rowBytes + 1) + 1, expected.data() + y * rowBytes, rowBytes), 0)
            << "row " << y;
      }
      EXPECT_FALSE(ReadRaw(bytes).rows.empty());
      if (c.noise) {
        EXPECT_GT(Chunks(bytes).size(), 3u) << "the stream should fill several IDAT chunks";
      }
    }
  }
}

// The number of test failures `check` reports, kept from the test's result.
template <class Check>
int FailuresOf(Check check) {
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter record(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    check();
  }
  return failures.size();
}

TEST(PngFastWrite, TheChecksCatchDamagedFiles) {
  // A writer wrong in these ways would not pass the checks above.
  const int w = 64, h = 40;
  const std::vector<BMM_Color_64> px = StarFrame(w, h, 5);
  const std::string bytes = velumbra::EncodePngRgba(w, h, px.data(), Options(16, PngAlpha::Straight));
  const std::string data = ImageData(bytes);
  const size_t size = (size_t(w) * 8 + 1) * h;
  ASSERT_EQ(Inflate(data, size).size(), size);
  std::string badAdler = data;
  badAdler.back() ^= 1;
  EXPECT_GT(FailuresOf([&] { Inflate(badAdler, size); }), 0);
  EXPECT_GT(FailuresOf([&] { Inflate(data.substr(0, data.size() - 1), size); }), 0);
  EXPECT_GT(FailuresOf([&] { Inflate(data + '\0', size); }), 0);
  EXPECT_GT(FailuresOf([&] { Inflate(data, size + 1); }), 0);
  std::string badCrc = bytes;
  badCrc[bytes.size() - 20] ^= 1;  // inside the last IDAT chunk's data
  EXPECT_GT(FailuresOf([&] { Chunks(badCrc); }), 0);
  EXPECT_GT(FailuresOf([&] { Chunks(bytes + "x"); }), 0);
  // A wrong Adler-32 inside a file with correct CRCs, which libpng by
  // default only warns about: the strict reader refuses it.
  std::string file = bytes;
  const size_t idat = file.rfind("IDAT");
  const std::uint32_t length = BE32(file, idat - 4);
  file[idat + 4 + length - 1] ^= 1;
  const std::uint32_t crc =
      static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(file.data() + idat), length + 4));
  for (int i = 0; i < 4; ++i) file[idat + 4 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
  EXPECT_EQ(FailuresOf([&] { Chunks(file); }), 0);
  EXPECT_GT(FailuresOf([&] { ReadRaw(file); }), 0);
}

// The zlib stream of libdeflate's level 1 over rows of `rowBytes` bytes,
// each behind its filter byte 0.
std::string LibdeflateStream(const std::vector<unsigned char>& rows, size_t rowBytes) {
  std::vector<unsigned char> image;
  for (size_t at = 0; at < rows.size(); at += rowBytes) {
    image.push_back(0);
    image.insert(image.end(), rows.begin() + static_cast<std::ptrdiff_t>(at),
                 rows.begin() + static_cast<std::ptrdiff_t>(at + rowBytes));
  }
  libdeflate_compressor* c = libdeflate_alloc_compressor(1);
  std::string out(2 + libdeflate_deflate_compress_bound(c, image.size()) + 4, '\0');
  out[0] = 0x78;
  out[1] = 0x01;
  const size_t n = libdeflate_deflate_compress(c, image.data(), image.size(), out.data() + 2, out.size() - 6);
  libdeflate_free_compressor(c);
  const std::uint32_t adler = libdeflate_adler32(1, image.data(), image.size());
  out.resize(2 + n);
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>(adler >> (8 * i)));
  return out;
}

TEST(PngFastWrite, ImageDataIsLibpngsOwnRunLengthStreamOrLibdeflatesForBusyImages) {
  // Sparse images: libpng's row writer with the same settings (no filter,
  // zlib level 1, memory level 6, run-length) over the pixel-by-pixel
  // conversion gives the very same zlib stream: the fast writer changes
  // where the work is done, not the file's image data. Frames above 16 KiB
  // of rows, below which libpng narrows zlib's window. Busy images (every
  // pixel of its own): libdeflate's level 1 over the same rows.
  const int w = 331, h = 217;
  for (int depth : {8, 16})
    for (PngAlpha alpha : {PngAlpha::Straight, PngAlpha::Premultiplied})
      for (unsigned seed : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(depth) + "-bit " + Name(alpha) + ", seed " + std::to_string(seed));
        std::vector<BMM_Color_64> px = seed == 1 ? StarFrame(w, h, seed) : AlphaClassFrame(w, h);
        const std::string fast = velumbra::EncodePngRgba(w, h, px.data(), Options(depth, alpha));
        const std::vector<unsigned char> rows = GeneralRows(px, depth, alpha);
        const std::string expected = seed == 1 ? ImageData(LibpngRunLength(w, h, PNG_COLOR_TYPE_RGB_ALPHA, depth, rows))
                                               : LibdeflateStream(rows, size_t(w) * 4 * (depth / 8));
        EXPECT_TRUE(ImageData(fast) == expected);
        const Decoded d = ReadRaw(fast);
        EXPECT_EQ(d.rows, rows);
      }
}

TEST(PngFastWrite, IdImagesTakeTheSameRoute) {
  TempDir dir;
  const int w = 300, h = 90;
  std::vector<WORD> objects(size_t(w) * h);
  std::vector<UBYTE> materials(size_t(w) * h);
  std::mt19937 rng(9);
  // Sparse, as ID images of star frames are (runs of zeros).
  for (size_t i = 0; i < objects.size(); i += 1 + rng() % 400) {
    objects[i] = WORD(rng());
    materials[i] = UBYTE(rng());
  }
  velumbra::WriteObjectIdPng(dir / "o.png", w, h, objects.data());
  velumbra::WriteMaterialIdPng(dir / "m.png", w, h, materials.data());
  std::vector<unsigned char> objectRows;
  for (WORD v : objects) objectRows.insert(objectRows.end(), {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)});
  const std::string o = ReadAll(dir / "o.png"), m = ReadAll(dir / "m.png");
  EXPECT_TRUE(ImageData(o) == ImageData(LibpngRunLength(w, h, PNG_COLOR_TYPE_GRAY, 16, objectRows)));
  EXPECT_TRUE(ImageData(m) == ImageData(LibpngRunLength(w, h, PNG_COLOR_TYPE_GRAY, 8, {materials.begin(), materials.end()})));
  const Decoded d = ReadRaw(o);
  EXPECT_EQ(d.rows, objectRows);
  EXPECT_EQ(ReadRaw(m).rows, std::vector<unsigned char>(materials.begin(), materials.end()));
}

}  // namespace
