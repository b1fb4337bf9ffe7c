// How much memory a render takes: the velumbra command's own estimate,
// made before anything large is allocated.
//
// The estimate is a plain function of the numbers that size a render (the
// frame, the G-buffer channels, the images read and written, the star
// fields, the motion-blur subdivisions, the star loop's workers), so that
// every user asks the same question the same way: the render farm sizes its
// tasks' memory request with it, and a memory budget can refuse a render
// that would not fit. It is an upper bound of the process's resident memory
// at its peak, not an average: parts that live at the same time are added,
// parts that take turns (the effect's working memory during Apply, the
// encoder's buffers while a frame is written) count with the larger of them.
//
//   resident all along   the frame bitmap (8 bytes a pixel), its G-buffer
//                        channels (object ID 2, material ID 1 byte a pixel),
//                        the input image as read (PNG 8, OpenEXR 24 bytes a
//                        pixel: 16-bit pixels and the file's own floats), ID
//                        images read (2 and 1 byte a pixel), every star
//                        field (24 bytes a star, kept between frames), and
//                        the process itself (code, libraries, thread stacks)
//   while Apply runs     star generation's scratch (parallel generation: 5
//                        bytes a triple of draws, at most 20 MiB), the motion
//                        path (one sample per subdivision and one more), the
//                        parallel star loop's recorded drawing calls (one
//                        batch, about 12 MiB)
//   while writing        OpenEXR: the floats (16 bytes a pixel), HALF copies
//                        (8), widened ID channels (4 bytes a pixel each) and
//                        the encoded file held in memory (at most the raw
//                        size of its channels); PNG streams row by row
//
// The figures follow the command's own buffers (host/app/image/exr_write.cpp,
// render_frame.cpp, starfield/, render/); a change to those buffers changes
// the matching term here. Tests hold the terms to the sizes of the records
// and to measured peaks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/sdk/max_types.h"

namespace velumbra {

class RenderSession;

enum class InputImageKind { None, Png, Exr };
enum class OutputImageKind { Png, ExrHalf, ExrFloat };

// One star-field effect of the scene, at its largest over the frames
// rendered.
struct StarFieldLoad {
  std::uint64_t stars = 0;         // the star count, 0..10,000,000
  std::uint64_t subdivisions = 1;  // motion-blur subdivisions, 1..1000 (0 counts as 1)
};

struct RenderMemoryInputs {
  std::uint64_t width = 0;  // the frame in pixels
  std::uint64_t height = 0;
  bool objectIdChannel = false;    // the bitmap holds object IDs (2 bytes a pixel)
  bool materialIdChannel = false;  // and material IDs (1 byte a pixel)
  InputImageKind input = InputImageKind::None;  // render.image or --input
  bool objectIdImage = false;    // an object-ID image is read (render.objectId)
  bool materialIdImage = false;  // a material-ID image is read (render.materialId)
  OutputImageKind output = OutputImageKind::Png;
  bool exrIdChannels = false;  // an OpenEXR output carries ObjectID and MaterialID
  std::vector<StarFieldLoad> fields;  // one per star-field effect
  int threads = 1;  // the effect's workers: 0 runs the serial loops (no scratch)
};

// Bytes, part by part.
struct RenderMemoryEstimate {
  std::uint64_t process = 0;      // code, libraries, stacks: a measured constant
  std::uint64_t frame = 0;        // the bitmap's pixels
  std::uint64_t gBuffer = 0;      // its ID channels
  std::uint64_t inputImages = 0;  // the input image and ID images as read
  std::uint64_t stars = 0;        // the star records of every field
  std::uint64_t applyScratch = 0; // the largest effect's generation, motion path and star loop
  std::uint64_t writeBuffers = 0; // the encoder's buffers for one frame

  // The peak: everything resident, plus the larger of Apply's and the
  // writer's working memory. Saturates at UINT64_MAX instead of wrapping.
  std::uint64_t Total() const;
};

// The memory of a velumbra process beyond its buffers: code, libraries,
// thread stacks (measured: a 64 x 48 render of 2,000 stars peaks at 11.4 MiB
// resident; with room for OpenEXR's thread pool and larger stacks).
inline constexpr std::uint64_t kProcessBaseBytes = std::uint64_t{32} << 20;

RenderMemoryEstimate EstimateRenderMemory(const RenderMemoryInputs& inputs);

// The numbers of a render session for `frames`: the render size, the input
// images it read, the G-buffer its effects ask for (and `extraChannels`, as
// RenderFrame takes them), and each star-field effect's largest star count
// and subdivisions over the frames (keyed values are read at every frame).
// `output` is the output file name: an OpenEXR output for a name ending in
// .exr, written as HALF when the input is a HALF OpenEXR image, else as
// FLOAT (as the render command writes it). `threads`: the effect's workers.
RenderMemoryInputs MemoryInputsOf(RenderSession& session, const std::vector<int>& frames, ULONG extraChannels,
                                  const std::string& output, int threads);

// "1.4 GiB", "512 MiB", "3.0 KiB", "12 bytes": binary units, one decimal
// below 10.
std::string FormatBytes(std::uint64_t bytes);

}  // namespace velumbra
