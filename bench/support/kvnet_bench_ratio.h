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
    // The case is the part of a name before "/kvnet" or "/peer" (arguments may follow).
    std::map<std::string, double> ours;
    std::map<std::string, double> peers;
    for (const auto& [name, time] : FTimes) {
      if (const auto at = name.find("/kvnet"); at != std::string::npos) {
        ours[name.substr(0, at)] = time;
      } else if (const auto peer = name.find("/peer"); peer != std::string::npos) {
        peers[name.substr(0, peer)] = time;
      }
    }
    std::printf("\nRatio of library time to peer time (below 1 means faster than the peer):\n");
    for (const auto& [name, time] : ours) {
      const auto found = peers.find(name);
      if (found == peers.end() || found->second <= 0) continue;
      std::printf("  %-60s %6.2f\n", name.c_str(), time / found->second);
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
