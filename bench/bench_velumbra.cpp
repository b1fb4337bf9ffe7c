// One frame of `velumbra render` end to end at 1920 x 1080 with 10,000
// stars (every other parameter at its default), split into the frame (the
// bitmap, the render information and the effect's pass, the field cached
// after the first frame), the first frame with the field's generation, and
// the writing of the image (16-bit PNG, as the command writes by default).
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "bench_util.h"
#include "host/app/image/exr_frame.h"
#include "host/app/image/png_io.h"
#include "host/app/render_frame.h"
#include "host/app/scene/scene_file.h"
#include "plugin/class_desc.h"

namespace {

velumbra::SceneDesc Scene() {
  velumbra::SceneDesc scene = velumbra::DefaultScene();
  scene.render.width = 1920;
  scene.render.height = 1080;
  velumbra::ParamDesc count;
  count.name = "starscount";
  count.value = 10000;
  scene.effects.at(0).params.push_back(count);
  return scene;
}

ClassDesc* Lookup(const std::string& name) {
  return name == "Qe_Velumbra" ? static_cast<ClassDesc*>(GetQe_VelumbraDesc()) : nullptr;
}

void BM_FrameWithGeneration(benchmark::State& state) {
  for (auto _ : state) {
    velumbra::RenderSession session(Scene(), Lookup);
    benchmark::DoNotOptimize(session.RenderFrame(0, nullptr));
  }
}
BENCHMARK(BM_FrameWithGeneration)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameEffect(benchmark::State& state) {
  velumbra::RenderSession session(Scene(), Lookup);
  session.RenderFrame(0, nullptr);  // the field is generated once
  for (auto _ : state) benchmark::DoNotOptimize(session.RenderFrame(0, nullptr));
}
BENCHMARK(BM_FrameEffect)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameWritePng16(benchmark::State& state) {
  velumbra::RenderSession session(Scene(), Lookup);
  const auto bitmap = session.RenderFrame(0, nullptr);
  std::vector<BMM_Color_64> pixels(static_cast<size_t>(bitmap->Width()) * bitmap->Height());
  for (int y = 0; y < bitmap->Height(); ++y) bitmap->GetPixels(0, y, bitmap->Width(), &pixels[y * bitmap->Width()]);
  const auto file = std::filesystem::temp_directory_path() / ("velumbra-bench-" + std::to_string(::getpid()) + ".png");
  for (auto _ : state) velumbra::WritePngRgba(file, bitmap->Width(), bitmap->Height(), pixels.data(), 16);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  std::error_code ec;
  std::filesystem::remove(file, ec);
}
BENCHMARK(BM_FrameWritePng16)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same frame with its G-buffer (as `velumbra render -o NAME.exr`
// makes it) written as OpenEXR: 32-bit float RGBA and ID channels, with
// each compression (zip, zips, rle, piz, none); the 16-bit PNG above is
// the reference.
void BM_FrameWriteExr(benchmark::State& state) {
  const auto compression = static_cast<velumbra::ExrCompression>(state.range(0));
  velumbra::RenderSession session(Scene(), Lookup);
  const auto bitmap = session.RenderFrame(0, nullptr, BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID);
  const auto file = std::filesystem::temp_directory_path() / ("velumbra-bench-" + std::to_string(::getpid()) + ".exr");
  for (auto _ : state)
    velumbra::WriteExrFrame(file, *bitmap->Storage(), velumbra::ExrFrameInput{}, velumbra::ExrIdType::Float,
                            compression);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  std::error_code ec;
  std::filesystem::remove(file, ec);
}
BENCHMARK(BM_FrameWriteExr)
    ->Arg(static_cast<int>(velumbra::ExrCompression::Zip))
    ->Arg(static_cast<int>(velumbra::ExrCompression::Zips))
    ->Arg(static_cast<int>(velumbra::ExrCompression::Rle))
    ->Arg(static_cast<int>(velumbra::ExrCompression::Piz))
    ->Arg(static_cast<int>(velumbra::ExrCompression::None))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// An empty 1080p frame (transparent black) written as a 16-bit PNG with each
// compression, against the floor of any writer: the frame's 16.6 MB of rows
// in file order copied once to memory that is already mapped.
void BM_EmptyFrameWritePng16(benchmark::State& state) {
  const auto compression = static_cast<velumbra::PngCompression>(state.range(0));
  const int w = 1920, h = 1080;
  std::vector<BMM_Color_64> pixels(static_cast<size_t>(w) * h);
  const auto file = std::filesystem::temp_directory_path() / ("velumbra-bench-e-" + std::to_string(::getpid()) + ".png");
  velumbra::PngWriteOptions options;
  options.compression = compression;
  for (auto _ : state) velumbra::WritePngRgba(file, w, h, pixels.data(), options);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  std::error_code ec;
  std::filesystem::remove(file, ec);
}
BENCHMARK(BM_EmptyFrameWritePng16)
    ->Arg(static_cast<int>(velumbra::PngCompression::Fast))
    ->Arg(static_cast<int>(velumbra::PngCompression::Default))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FrameRowsCopied(benchmark::State& state) {
  const size_t bytes = size_t{1920} * 1080 * 8;
  std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FrameRowsCopied)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  bench::Ratios().push_back({"BM_FrameWritePng16/real_time", "BM_FrameEffect/real_time"});
  bench::Ratios().push_back({"BM_FrameWritePng16/real_time", "BM_FrameRowsCopied/real_time"});
  for (const char* exr : {"BM_FrameWriteExr/0/real_time", "BM_FrameWriteExr/1/real_time", "BM_FrameWriteExr/4/real_time",
                          "BM_FrameWriteExr/2/real_time", "BM_FrameWriteExr/5/real_time"})
    bench::Ratios().push_back({exr, "BM_FrameWritePng16/real_time"});
  bench::Ratios().push_back({"BM_EmptyFrameWritePng16/0/real_time", "BM_FrameRowsCopied/real_time"});
  bench::Ratios().push_back({"BM_EmptyFrameWritePng16/1/real_time", "BM_FrameRowsCopied/real_time"});
  return bench::Main(argc, argv);
}
