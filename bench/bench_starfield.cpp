// Star-field generation: 10,000,000 stars into a fresh array, against
// writing the same number of record bytes into memory already mapped, and
// into a fresh host block (the floor a fresh array cannot beat: the kernel
// hands out zeroed pages, and on a virtual machine the host may have to
// back them first).
#include <cstring>
#include <memory>

#include "bench_util.h"
#include "starfield/star_field.h"

namespace {

constexpr std::uint32_t kStars = 10'000'000;

StarFieldKey Key(int seed) {
  StarFieldKey k;
  k.count = kStars;
  k.seed = seed;
  k.brightColor = {65535, 65535, 65535, 0};
  k.dimColor = {52428, 52428, 52428, 0};
  k.alpha16 = 0xFF00;
  k.brightSize = 1.5f;
  k.dimSize = 1.0f;
  k.brightDimBalance = 0.2f;
  return k;
}

void BM_GenerateStars(benchmark::State& state) {
  GrantRenderThreads(static_cast<int>(state.range(0)));
  int seed = 1;
  for (auto _ : state) {
    // A fresh field each time: a new array, never the cache.
    auto field = std::make_unique<StarField>();
    if (!field->RefreshStarField(Key(seed++), nullptr)) state.SkipWithError("generation failed");
    benchmark::DoNotOptimize(field->stars());
    state.PauseTiming();
    field.reset();  // released outside the timing
    state.ResumeTiming();
  }
  GrantRenderThreads(0);
  // Shown as time per star (n = nanoseconds).
  state.counters["per_star"] = benchmark::Counter(
      kStars, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// threads: the host's grant; 0 = nothing granted, the serial reference reading.
// Several iterations: the first fresh array of a process can cost far more
// to fault in than the next (see BM_WriteFreshRecordBytes).
BENCHMARK(BM_GenerateStars)->ArgName("threads")->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A new seed for a field of the same size: the records and the index are
// written into the memory of the last field, so this is generation's own
// cost with little of the kernel's zeroing of fresh pages.
void BM_RegenerateStars(benchmark::State& state) {
  GrantRenderThreads(static_cast<int>(state.range(0)));
  StarField field;
  int seed = 1;
  if (!field.RefreshStarField(Key(seed++), nullptr)) state.SkipWithError("generation failed");
  for (auto _ : state) {
    if (!field.RefreshStarField(Key(seed++), nullptr)) state.SkipWithError("generation failed");
    benchmark::DoNotOptimize(field.stars());
  }
  GrantRenderThreads(0);
  state.counters["per_star"] = benchmark::Counter(
      kStars, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RegenerateStars)->ArgName("threads")->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_WriteRecordBytes(benchmark::State& state) {
  auto records = std::make_unique<StarRecord[]>(kStars);
  std::uint8_t value = 0;
  for (auto _ : state) {
    std::memset(static_cast<void*>(records.get()), value++, sizeof(StarRecord) * kStars);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WriteRecordBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteFreshRecordBytes(benchmark::State& state) {
  std::uint8_t value = 1;
  for (auto _ : state) {
    HostArray<StarRecord> records;
    if (!records.Allocate(kStars)) state.SkipWithError("no memory");
    std::memset(static_cast<void*>(records.get()), value++, sizeof(StarRecord) * kStars);
    benchmark::ClobberMemory();
    state.PauseTiming();
    records.Reset();  // released outside the timing
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WriteFreshRecordBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  for (const char* t : {"0", "2"}) {
    bench::Ratios().push_back({std::string("BM_GenerateStars/threads:") + t + "/iterations:5/real_time", "BM_WriteRecordBytes/real_time"});
    bench::Ratios().push_back({std::string("BM_GenerateStars/threads:") + t + "/iterations:5/real_time", "BM_WriteFreshRecordBytes/iterations:5/real_time"});
  }
  bench::Ratios().push_back({"BM_GenerateStars/threads:0/iterations:5/real_time", "BM_GenerateStars/threads:2/iterations:5/real_time"});
  bench::Ratios().push_back({"BM_RegenerateStars/threads:2/iterations:5/real_time", "BM_WriteRecordBytes/real_time"});
  return bench::Main(argc, argv);
}
