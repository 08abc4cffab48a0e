// Opening a road-like network of about a million links: TNetwork::Open (all files read,
// deciphered and cross-checked, adjacency built, shape points cached) against the peer of
// merely reading the same files into memory. Memory is the network's heap per link against the
// peer's file bytes per link.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "store/kvnet_network.h"
#include "support/kvnet_bench_ratio.h"
#include "support/kvnet_network_generator.h"

namespace {

constexpr std::int32_t kGrid = 708;  // 2 * 708 * 707 streets, minus the missing blocks

struct TBenchNetwork {
  std::string directory;
  std::int32_t links = 0;
  std::int64_t fileBytes = 0;

  TBenchNetwork() {
    directory =
        (std::filesystem::temp_directory_path() / ("kvnet_bench_net_" + std::to_string(::getpid())))
            .string() +
        "/";
    std::filesystem::create_directories(directory);
    kvnet::test::TRoadNetworkOptions options;
    options.columns = kGrid;
    options.rows = kGrid;
    const auto start = std::chrono::steady_clock::now();
    const auto streets = kvnet::test::GenerateRoadNetwork(options);
    links = static_cast<std::int32_t>(streets.size());
    kvnet::test::WriteNetwork(directory, streets);
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      fileBytes += static_cast<std::int64_t>(entry.file_size());
    }
    std::printf("Generated %d links (%.1f MB of files) in %.1f s\n", links, fileBytes / 1e6,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  ~TBenchNetwork() { std::filesystem::remove_all(directory); }
};

const TBenchNetwork& Network() {
  static const TBenchNetwork network;
  return network;
}

void Open_kvnet(benchmark::State& state) {
  const TBenchNetwork& net = Network();
  const bool cache = state.range(0) != 0;
  double bytesPerLink = 0;
  for (auto _ : state) {
    kvnet::TNetwork network;
    network.SetDirectory(net.directory);
    network.Open(true, cache, false, 0);
    bytesPerLink = static_cast<double>(network.MemoryUsage()) / network.LinkCount();
    benchmark::DoNotOptimize(network.NodeCount());
  }
  state.counters["links"] = net.links;
  state.counters["bytes_per_link"] = bytesPerLink;
}
BENCHMARK(Open_kvnet)
    ->Name("Open 1M-link network, shape points cached/kvnet")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(Open_kvnet)
    ->Name("Open 1M-link network, shape points on disk/kvnet")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The peer: read every file of the directory into memory and do nothing else.
void ReadFiles(benchmark::State& state, bool withShapePoints) {
  const TBenchNetwork& net = Network();
  double bytesPerLink = 0;
  for (auto _ : state) {
    std::vector<std::vector<char>> contents;
    for (const char* name : {"length.bin", "link.bin", "coord.bin", "node.bin", "attribute.bin",
                             "coord3i.bin", "coord3.bin"}) {
      if (!withShapePoints && std::string(name) == "coord3.bin") continue;
      std::ifstream in(net.directory + name, std::ios::binary);
      std::vector<char> bytes(std::filesystem::file_size(net.directory + name));
      in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      contents.push_back(std::move(bytes));
    }
    std::int64_t total = 0;
    for (const auto& c : contents)
      total += static_cast<std::int64_t>(c.size());
    bytesPerLink = static_cast<double>(total) / net.links;
    benchmark::DoNotOptimize(contents.data());
  }
  state.counters["links"] = net.links;
  state.counters["bytes_per_link"] = bytesPerLink;
}
void Open_peer_cached(benchmark::State& state) {
  ReadFiles(state, true);
}
void Open_peer_disk(benchmark::State& state) {
  ReadFiles(state, false);
}
BENCHMARK(Open_peer_cached)
    ->Name("Open 1M-link network, shape points cached/peer")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(Open_peer_disk)
    ->Name("Open 1M-link network, shape points on disk/peer")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

KVNET_BENCHMARK_MAIN_WITH_RATIOS()
