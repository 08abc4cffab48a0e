// A benchmark main that prints, after the usual table, the ratio of each library benchmark to its
// peer measured in the same run. Pairs are found by name: "<case>/kvnet" and "<case>/peer".
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kvnet::bench {

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      FTimes[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }

  void PrintRatios() const {
    std::printf("\nRatio of library time to peer time (below 1 means faster than the peer):\n");
    for (const auto& [name, time] : FTimes) {
      const auto slash = name.find("/kvnet");
      if (slash == std::string::npos) continue;
      std::string peer = name;
      peer.replace(slash, 6, "/peer");
      const auto found = FTimes.find(peer);
      if (found == FTimes.end() || found->second <= 0) continue;
      std::printf("  %-50s %6.2f\n", name.substr(0, slash).c_str(), time / found->second);
    }
  }

 private:
  std::map<std::string, double> FTimes;
};

}  // namespace kvnet::bench

#define KVNET_BENCHMARK_MAIN_WITH_RATIOS()                            \
  int main(int argc, char** argv) {                                   \
    benchmark::Initialize(&argc, argv);                               \
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1; \
    kvnet::bench::TRatioReporter reporter;                            \
    benchmark::RunSpecifiedBenchmarks(&reporter);                     \
    reporter.PrintRatios();                                           \
    benchmark::Shutdown();                                            \
    return 0;                                                         \
  }
