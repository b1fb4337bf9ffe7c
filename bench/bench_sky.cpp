// The sky: parsing Debian's KStars catalogue (125,982 stars) against merely
// finding its line ends, the colours of its stars, and the directions of
// all of them for one frame against the celestial frame's bare proper
// motion.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "sky/astrometry.h"
#include "sky/catalogue.h"
#include "sky/star_light.h"

namespace {

const std::string& Bytes(const char* path) {
  static std::string kstars, bsc;
  std::string& bytes = std::string(path).find("BSC") != std::string::npos ? bsc : kstars;
  if (bytes.empty()) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    bytes = s.str();
  }
  return bytes;
}
constexpr char kKStars[] = "/usr/share/kstars/stars.dat";  // Debian kstars-data
constexpr char kBsc[] = "/usr/share/xplanet/stars/BSC";    // Debian xplanet

// The floor of any parser: every byte looked at once, to find the lines.
void BM_ScanLineEnds(benchmark::State& state) {
  const std::string& bytes = Bytes(kKStars);
  if (bytes.empty()) state.SkipWithError("install kstars-data");
  for (auto _ : state) benchmark::DoNotOptimize(std::count(bytes.begin(), bytes.end(), '\n'));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ScanLineEnds)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ParseKStars(benchmark::State& state) {
  const std::string& bytes = Bytes(kKStars);
  if (bytes.empty()) state.SkipWithError("install kstars-data");
  for (auto _ : state) benchmark::DoNotOptimize(sky::ParseCatalogue(bytes).stars.data());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParseKStars)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ParseBsc(benchmark::State& state) {
  const std::string& bytes = Bytes(kBsc);
  if (bytes.empty()) state.SkipWithError("install xplanet");
  for (auto _ : state) benchmark::DoNotOptimize(sky::ParseCatalogue(bytes).stars.data());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParseBsc)->Unit(benchmark::kMillisecond)->UseRealTime();

// A fresh cache each time: the first frame's cost of colouring the catalogue.
void BM_StarColours(benchmark::State& state) {
  const sky::Catalogue catalogue = sky::ParseCatalogue(Bytes(kKStars));
  for (auto _ : state) {
    sky::StarColourCache colours;
    double sum = 0;
    for (const sky::CatalogueStar& s : catalogue.stars) sum += colours(s.bv).b;
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_StarColours)->Unit(benchmark::kMillisecond)->UseRealTime();

sky::SkySettings Observer() {
  sky::SkySettings s;
  s.frame = sky::SkyFrame::Observer;
  s.time = {2024, 3, 20, 21, 30, 0};
  s.latitudeDeg = 28.76;
  s.longitudeDeg = -17.88;
  s.heightM = 2396;
  return s;
}

void BM_BuildObserverTransform(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(sky::SkyTransform(Observer()).CelestialToWorld());
}
BENCHMARK(BM_BuildObserverTransform)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Every star's direction for one frame, from vectors made once per catalogue.
void Directions(benchmark::State& state, const sky::SkySettings& settings) {
  const sky::Catalogue catalogue = sky::ParseCatalogue(Bytes(kKStars));
  std::vector<sky::StarVector> vectors;
  for (const sky::CatalogueStar& s : catalogue.stars) vectors.push_back(sky::MakeStarVector(s));
  const sky::SkyTransform sky(settings);
  for (auto _ : state) {
    double sum = 0;
    for (const sky::StarVector& v : vectors) sum += sky.Direction(v)[2];
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_star"] = benchmark::Counter(static_cast<double>(vectors.size()),
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}
void BM_DirectionsCelestial(benchmark::State& state) { Directions(state, sky::SkySettings{}); }
void BM_DirectionsObserver(benchmark::State& state) { Directions(state, Observer()); }
void BM_DirectionsObserverRefracted(benchmark::State& state) {
  sky::SkySettings s = Observer();
  s.refraction = true;
  Directions(state, s);
}
BENCHMARK(BM_DirectionsCelestial)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DirectionsObserver)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DirectionsObserverRefracted)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  bench::Ratios().push_back({"BM_ParseKStars/real_time", "BM_ScanLineEnds/real_time"});
  bench::Ratios().push_back({"BM_DirectionsObserver/real_time", "BM_DirectionsCelestial/real_time"});
  bench::Ratios().push_back({"BM_DirectionsObserverRefracted/real_time", "BM_DirectionsObserver/real_time"});
  return bench::Main(argc, argv);
}
