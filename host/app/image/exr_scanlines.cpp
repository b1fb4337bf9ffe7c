#include "host/app/image/exr_scanlines.h"

#include <Imath/half.h>
#include <OpenEXR/IlmThreadPool.h>
#include <OpenEXR/openexr.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "host/app/base/app_error.h"
#include "host/app/base/atomic_file.h"
#include "host/app/image/fast_deflate.h"

namespace velumbra {

namespace {

// Scanlines per chunk, as the format fixes them for each compression.
int LinesPerChunk(ExrCompression c) { return c == ExrCompression::Zip ? 16 : 1; }

exr_compression_t CoreCompression(ExrCompression c) {
  switch (c) {
    case ExrCompression::Zip: return EXR_COMPRESSION_ZIP;
    case ExrCompression::Zips: return EXR_COMPRESSION_ZIPS;
    default: return EXR_COMPRESSION_NONE;
  }
}

// Where the core library's writes go, and the first failure on the way.
struct Sink {
  AtomicFile* file = nullptr;
  std::exception_ptr failure;
  std::string message;  // the library's last error message
};

int64_t WriteToFile(exr_const_context_t, void* userdata, const void* buffer, uint64_t size, uint64_t offset,
                    exr_stream_error_func_ptr_t) {
  auto* sink = static_cast<Sink*>(userdata);
  try {
    sink->file->WriteAt(buffer, static_cast<size_t>(size), offset);
    return static_cast<int64_t>(size);
  } catch (...) {
    if (!sink->failure) sink->failure = std::current_exception();
    return -1;
  }
}

void KeepMessage(exr_const_context_t ctxt, exr_result_t, const char* message) {
  void* userdata = nullptr;
  if (exr_get_user_data(ctxt, &userdata) == EXR_ERR_SUCCESS && userdata)
    static_cast<Sink*>(userdata)->message = message ? message : "";
}

// The context, finished (its chunk table written) when it goes.
class CoreContext {
 public:
  ~CoreContext() {
    if (ctxt_) exr_finish(&ctxt_);
  }
  exr_context_t* operator&() { return &ctxt_; }
  exr_context_t get() const { return ctxt_; }
  exr_result_t Finish() { return exr_finish(&ctxt_); }

 private:
  exr_context_t ctxt_ = nullptr;
};

exr_attr_m44f_t CoreMatrix(const ExrMatrix& m) {
  exr_attr_m44f_t out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out.m[4 * i + j] = m.m[i][j];
  return out;
}

template <class T>
uint8_t* Put(uint8_t* out, T value) {
  std::memcpy(out, &value, sizeof value);  // the file is little-endian, as this machine
  return out + sizeof value;
}

// One line's samples in the file's channel order (names sorted: A B G
// MaterialID ObjectID R).
uint8_t* PackLine(uint8_t* out, const FloatRgba* row, int width, bool half, const WORD* objectIds,
                  const UBYTE* materialIds, bool uintIds) {
  const auto colour = [&](float FloatRgba::*member) {
    if (half)
      for (int x = 0; x < width; ++x) out = Put(out, Imath::half(row[x].*member).bits());
    else
      for (int x = 0; x < width; ++x) out = Put(out, row[x].*member);
  };
  const auto ids = [&](const auto* line) {
    if (!line) return;
    if (uintIds)
      for (int x = 0; x < width; ++x) out = Put(out, static_cast<std::uint32_t>(line[x]));
    else
      for (int x = 0; x < width; ++x) out = Put(out, static_cast<float>(line[x]));
  };
  colour(&FloatRgba::a);
  colour(&FloatRgba::b);
  colour(&FloatRgba::g);
  ids(materialIds);
  ids(objectIds);
  colour(&FloatRgba::r);
  return out;
}

// A task of OpenEXR's thread pool that runs a function.
class ChunkTask final : public IlmThread::Task {
 public:
  ChunkTask(IlmThread::TaskGroup* group, std::function<void()> run) : IlmThread::Task(group), run_(std::move(run)) {}
  void execute() override { run_(); }

 private:
  std::function<void()> run_;
};

}  // namespace

void ExrZipPredict(const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
  // Even bytes to the first half, odd ones to the second, each the
  // difference from the byte before it in that order; in one pass, so that
  // the loops vectorise.
  if (n == 0) return;
  const std::size_t half = (n + 1) / 2;
  out[0] = in[0];
  for (std::size_t i = 1; i < half; ++i) out[i] = static_cast<std::uint8_t>(in[2 * i] - in[2 * i - 2] + 128);
  if (n < 2) return;
  out[half] = static_cast<std::uint8_t>(in[1] - in[2 * half - 2] + 128);
  for (std::size_t i = 1; i < n / 2; ++i)
    out[half + i] = static_cast<std::uint8_t>(in[2 * i + 1] - in[2 * i - 1] + 128);
}

bool WritesExrScanlines(ExrCompression c) {
  return c == ExrCompression::Zip || c == ExrCompression::Zips || c == ExrCompression::None;
}

void WriteExrScanlines(const std::filesystem::path& file, int width, int height, const ExrColourRows& colour,
                       const WORD* objectIds, const UBYTE* materialIds, const ExrWriteOptions& options) {
  EnableExrThreads();
  AtomicFile target(file);
  Sink sink;
  sink.file = &target;
  const auto check = [&](exr_result_t rv) {
    if (sink.failure) std::rethrow_exception(sink.failure);
    if (rv != EXR_ERR_SUCCESS)
      throw SystemError("cannot write " + file.string() + ": " +
                        (sink.message.empty() ? exr_get_default_error_message(rv) : sink.message));
  };
  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  init.user_data = &sink;
  init.write_fn = &WriteToFile;
  init.error_handler_fn = &KeepMessage;
  CoreContext ctxt;
  check(exr_start_write(&ctxt, file.c_str(), EXR_WRITE_FILE_DIRECTLY, &init));
  int part = 0;
  check(exr_add_part(ctxt.get(), nullptr, EXR_STORAGE_SCANLINE, &part));
  check(exr_initialize_required_attr_simple(ctxt.get(), part, width, height, CoreCompression(options.compression)));
  const bool half = options.colour == ExrColourType::Half;
  const bool uintIds = options.ids == ExrIdType::Uint;
  const exr_pixel_type_t colourType = half ? EXR_PIXEL_HALF : EXR_PIXEL_FLOAT;
  const exr_pixel_type_t idType = uintIds ? EXR_PIXEL_UINT : EXR_PIXEL_FLOAT;
  for (const char* name : {"R", "G", "B", "A"})
    if (exr_add_channel(ctxt.get(), part, name, colourType, EXR_PERCEPTUALLY_LOGARITHMIC, 1, 1) < 0) check(EXR_ERR_INVALID_ARGUMENT);
  if (objectIds && exr_add_channel(ctxt.get(), part, "ObjectID", idType, EXR_PERCEPTUALLY_LOGARITHMIC, 1, 1) < 0)
    check(EXR_ERR_INVALID_ARGUMENT);
  if (materialIds && exr_add_channel(ctxt.get(), part, "MaterialID", idType, EXR_PERCEPTUALLY_LOGARITHMIC, 1, 1) < 0)
    check(EXR_ERR_INVALID_ARGUMENT);
  if (options.camera.worldToCamera) {
    const exr_attr_m44f_t m = CoreMatrix(*options.camera.worldToCamera);
    check(exr_attr_set_m44f(ctxt.get(), part, "worldToCamera", &m));
  }
  if (options.camera.worldToNDC) {
    const exr_attr_m44f_t m = CoreMatrix(*options.camera.worldToNDC);
    check(exr_attr_set_m44f(ctxt.get(), part, "worldToNDC", &m));
  }
  check(exr_write_header(ctxt.get()));

  const size_t pixelBytes = (half ? 4 * 2 : 4 * 4) + (objectIds ? 4 : 0) + (materialIds ? 4 : 0);
  const int chunkLines = LinesPerChunk(options.compression);
  const size_t lineBytes = pixelBytes * static_cast<size_t>(width);
  const bool zip = options.compression != ExrCompression::None;
  // The bytes of chunk `index` of the batch starting at line y0 into
  // encoded[index] (laid out, and for zip predicted and deflated).
  const auto encode = [&](int y0, std::vector<std::uint8_t>& encoded) {
    const int lines = std::min(chunkLines, height - y0);
    const size_t n = lineBytes * static_cast<size_t>(lines);
    // Kept by each thread from one chunk and frame to the next: a frame
    // faults in no fresh pages.
    thread_local std::vector<FloatRgba> row;
    thread_local std::vector<std::uint8_t> raw, predicted;
    row.resize(static_cast<size_t>(width));
    std::vector<std::uint8_t>& laid = zip ? raw : encoded;
    laid.resize(n);
    uint8_t* out = laid.data();
    for (int y = y0; y < y0 + lines; ++y) {
      colour(y, row.data());
      const size_t offset = static_cast<size_t>(y) * static_cast<size_t>(width);
      out = PackLine(out, row.data(), width, half, objectIds ? objectIds + offset : nullptr,
                     materialIds ? materialIds + offset : nullptr, uintIds);
    }
    if (!zip) return;
    // A zlib stream (RFC 1950) of the predicted bytes; the raw bytes when
    // that is no smaller, as the format asks.
    predicted.resize(n);
    ExrZipPredict(raw.data(), n, predicted.data());
    encoded.resize(sizeof kFastZlibHeader);
    std::memcpy(encoded.data(), kFastZlibHeader, sizeof kFastZlibHeader);
    // By the image writers' rule (fast_deflate.h): sparse chunks by zlib's
    // run-length strategy, busy ones by libdeflate; but busy chunks of
    // float colour as runs and literals. Their predicted samples are runs
    // and, where stars lie, bytes a match search finds nothing in (the low
    // bytes of the floats). Measured on the 24 frames of a 1080p pan of
    // 100,000 stars: FLOAT, the deflating took 4.5 s of processor time with
    // libdeflate, about 2.4 times less this way, the files 9 % larger
    // (287 MB); HALF samples have matches to find, libdeflate's files are a
    // third smaller than runs and literals make them (105 MB against 154).
    const bool busy = IsBusy(CountChanges(predicted.data(), n), n);
    const size_t deflated = busy && !half ? DeflateRuns(predicted.data(), n, encoded, sizeof kFastZlibHeader)
                                          : DeflateFast(predicted.data(), n, busy, encoded, sizeof kFastZlibHeader);
    const std::uint32_t adler = static_cast<std::uint32_t>(libdeflate_adler32(1, predicted.data(), n));
    const size_t end = sizeof kFastZlibHeader + deflated;
    encoded.resize(end + 4);
    for (int i = 0; i < 4; ++i) encoded[end + static_cast<size_t>(i)] = static_cast<uint8_t>(adler >> (24 - 8 * i));
    if (encoded.size() >= n) encoded.assign(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(n));
  };
  // Chunks are encoded a batch at a time on OpenEXR's thread pool (all on
  // this thread when it has none) and written in order; a batch of about
  // 256 lines bounds the memory of its encoded chunks.
  const int batchChunks = std::max(1, 256 / chunkLines);
  std::vector<std::vector<std::uint8_t>> encoded(static_cast<size_t>(batchChunks));
  for (int batch = 0; batch < height; batch += batchChunks * chunkLines) {
    const int chunks = std::min(batchChunks, (height - batch + chunkLines - 1) / chunkLines);
    std::vector<std::exception_ptr> failures(static_cast<size_t>(chunks));
    {
      IlmThread::TaskGroup group;
      for (int i = 0; i < chunks; ++i)
        IlmThread::ThreadPool::addGlobalTask(new ChunkTask(&group, [&, i] {
          try {
            encode(batch + i * chunkLines, encoded[static_cast<size_t>(i)]);
          } catch (...) {
            failures[static_cast<size_t>(i)] = std::current_exception();
          }
        }));
    }  // the group waits for its tasks here
    for (int i = 0; i < chunks; ++i) {
      if (failures[static_cast<size_t>(i)]) std::rethrow_exception(failures[static_cast<size_t>(i)]);
      const std::vector<std::uint8_t>& chunk = encoded[static_cast<size_t>(i)];
      check(exr_write_scanline_chunk(ctxt.get(), part, batch + i * chunkLines, chunk.data(), chunk.size()));
    }
  }
  check(ctxt.Finish());
  target.Commit();
}

}  // namespace velumbra
