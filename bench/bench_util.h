// Shared by the benchmark programs: runs the registered benchmarks and then
// prints, for each declared pair, the ratio of a measurement to its
// reference measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  const std::map<std::string, double>& times() const { return seconds_; }

 private:
  std::map<std::string, double> seconds_;
};

// Pairs of (measurement, reference) benchmark names.
inline std::vector<std::pair<std::string, std::string>>& Ratios() {
  static std::vector<std::pair<std::string, std::string>> ratios;
  return ratios;
}

// Pairs of such pairs: one ratio against another, both measured in the run.
using Ratio = std::pair<std::string, std::string>;
inline std::vector<std::pair<Ratio, Ratio>>& RatiosOfRatios() {
  static std::vector<std::pair<Ratio, Ratio>> ratios;
  return ratios;
}

inline int Main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios to the reference measured in this run:\n");
  for (const auto& [name, reference] : Ratios()) {
    auto a = reporter.times().find(name), b = reporter.times().find(reference);
    if (a == reporter.times().end() || b == reporter.times().end()) continue;
    std::printf("  %-48s %8.2fx  (vs %s)\n", name.c_str(), a->second / b->second, reference.c_str());
  }
  const auto ratio = [&](const Ratio& r, double& out) {
    auto a = reporter.times().find(r.first), b = reporter.times().find(r.second);
    if (a == reporter.times().end() || b == reporter.times().end()) return false;
    out = a->second / b->second;
    return true;
  };
  for (const auto& [measured, reference] : RatiosOfRatios()) {
    double x = 0, y = 0;
    if (!ratio(measured, x) || !ratio(reference, y)) continue;
    std::printf("  %-48s %8.2fx  (its ratio %.2fx against %s's %.2fx)\n", measured.first.c_str(), x / y, x,
                reference.first.c_str(), y);
  }
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
