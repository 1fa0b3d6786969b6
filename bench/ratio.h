// Runs the registered benchmarks and prints, for each pair, the ratio of the
// measured case's median to its baseline's median, both taken in this run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace zarn {
namespace bench {

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        medians[r.run_name.function_name] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

struct RatioLine {
  const char* label;
  const char* measured;
  const char* baseline;
  double goal;  // the ratio should stay at or below this
};

inline int RunAndPrintRatios(int argc, char** argv, const std::vector<RatioLine>& lines) {
  benchmark::Initialize(&argc, argv);
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  int missed = 0;
  for (const RatioLine& l : lines) {
    auto m = reporter.medians.find(l.measured);
    auto b = reporter.medians.find(l.baseline);
    if (m == reporter.medians.end() || b == reporter.medians.end() || b->second <= 0) continue;
    const double ratio = m->second / b->second;
    printf("RATIO %s: %.3f (median %.1f us against %.1f us; goal <= %.2f) %s\n", l.label, ratio, m->second / 1000.0,
           b->second / 1000.0, l.goal, ratio <= l.goal ? "met" : "MISSED");
    if (ratio > l.goal) ++missed;
  }
  return missed == 0 ? 0 : 1;
}

}  // namespace bench
}  // namespace zarn
