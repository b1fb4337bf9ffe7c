// How much memory a render takes: the velumbra command's own estimate,
// made before anything large is allocated.
//
// The estimate is a plain function of the numbers that size a render (the
// frame, the G-buffer channels, the images read and written, and what each
// star-field effect says it takes), so that
// every user asks the same question the same way: the render farm sizes its
// tasks' memory request with it, and a memory budget can refuse a render
// that would not fit. It is an upper bound of the process's resident memory
// at its peak, not an average: parts that live at the same time are added,
// parts that take turns (the effect's working memory during Apply, the
// encoder's buffers while a frame is written) count with the larger of them.
//
//   resident all along   the frame bitmap (8 bytes a pixel; with a star
//                        light layer 16 more), its G-buffer
//                        channels (object ID 2, material ID 1 byte a pixel),
//                        the input image as read (PNG 8, OpenEXR 24 bytes a
//                        pixel: 16-bit pixels and the file's own floats), ID
//                        images read (2 and 1 byte a pixel), every star
//                        field's records (kept between frames), and the
//                        process itself (code, libraries, thread stacks)
//   while Apply runs     the largest effect's working memory (generation,
//                        motion path, recorded drawing calls)
//   while writing        OpenEXR: the floats (16 bytes a pixel), HALF copies
//                        (8), widened ID channels (4 bytes a pixel each), the
//                        star light layer's floats (16, when written) and
//                        the encoded file held in memory (at most the raw
//                        size of its channels); PNG streams row by row
//
// The figures follow the command's own buffers (host/app/image/exr_write.cpp,
// render_frame.cpp); a change to those buffers changes the matching term
// here. The effects' figures are their own: the loaded module answers
// through its star-field interface (IStarField::RenderMemory), so that they
// follow the effect's code. Tests hold the terms to the sizes of the buffers
// and to measured peaks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/sdk/istar_field.h"
#include "host/sdk/max_types.h"

namespace velumbra {

class RenderSession;

enum class InputImageKind { None, Png, Exr };
enum class OutputImageKind { Png, ExrHalf, ExrFloat };

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
  bool starLightLayer = false;  // frames carry the light layer, written as stars.* (16 bytes a pixel)
  // What each star-field effect takes over the frames rendered, as its
  // module reports it (IStarField::RenderMemory).
  std::vector<StarFieldMemory> fields;
};

// Bytes, part by part.
struct RenderMemoryEstimate {
  std::uint64_t process = 0;      // code, libraries, stacks: a measured constant
  std::uint64_t frame = 0;        // the bitmap's pixels
  std::uint64_t gBuffer = 0;      // its ID channels
  std::uint64_t inputImages = 0;  // the input image and ID images as read
  std::uint64_t stars = 0;        // the star records of every field
  std::uint64_t applyScratch = 0; // the largest effect's working memory
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
// RenderFrame takes them), and what each star-field effect says it takes to
// render the frames at which it is active (keyed values are read at every
// frame).
// `output` is the output file name: an OpenEXR output for a name ending in
// .exr, written as HALF when the input is a HALF OpenEXR image, else as
// FLOAT (as the render command writes it). `threads`: the effect's workers.
RenderMemoryInputs MemoryInputsOf(RenderSession& session, const std::vector<int>& frames, ULONG extraChannels,
                                  const std::string& output, int threads);

// "1.4 GiB", "512 MiB", "3.0 KiB", "12 bytes": binary units, one decimal
// below 10.
std::string FormatBytes(std::uint64_t bytes);

}  // namespace velumbra
