#include "support/kvnet_bench_networks.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "gisin/kvnet_dbffiles.h"
#include "support/kvnet_network_generator.h"
#include "support/kvnet_network_shapefile.h"

namespace kvnet::bench {

namespace {

std::string TemporaryFolder(const std::string& name) {
  const std::string folder = (std::filesystem::temp_directory_path() /
                              ("kvnet_bench_" + name + "_" + std::to_string(::getpid())))
                                 .string() +
                             "/";
  std::filesystem::create_directories(folder);
  return folder;
}

void Finish(TBenchNetworkDir& dir, std::chrono::steady_clock::time_point start) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.directory)) {
    dir.fileBytes += static_cast<std::int64_t>(entry.file_size());
  }
  std::printf("%s network: %d links (%.1f MB of files), written in %.1f s\n", dir.name.c_str(),
              dir.links, static_cast<double>(dir.fileBytes) / 1e6,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace

TBenchNetworkDir::~TBenchNetworkDir() {
  if (!directory.empty()) std::filesystem::remove_all(directory);
}

const TBenchNetworkDir& GeneratedNetwork() {
  static const TBenchNetworkDir network = [] {
    const auto start = std::chrono::steady_clock::now();
    TBenchNetworkDir dir;
    dir.name = "Generated";
    dir.directory = TemporaryFolder("generated");
    test::TRoadNetworkOptions options;
    options.columns = 708;
    options.rows = 708;
    const auto links = test::GenerateRoadNetwork(options);
    dir.links = static_cast<std::int32_t>(links.size());
    test::WriteNetwork(dir.directory, links);
    Finish(dir, start);
    return dir;
  }();
  return network;
}

const TBenchNetworkDir* BaltimoreNetwork() {
  static const TBenchNetworkDir* network = []() -> const TBenchNetworkDir* {
    const std::string data = std::string(KVNET_DATA_DIR) + "/baltimore";
    if (!std::filesystem::exists(data + "/link.shp")) {
      std::printf("Baltimore data not found under %s: its benchmarks are skipped\n",
                  KVNET_DATA_DIR);
      return nullptr;
    }
    const auto start = std::chrono::steady_clock::now();
    static TBenchNetworkDir dir;
    dir.name = "Baltimore";
    dir.directory = TemporaryFolder("baltimore");
    const auto lines = test::ReadShapefileLines(data + "/link.shp");
    TDbfFile table(data + "/link.dbf", 0);
    table.Open(false);
    const std::int32_t attribute = table.FindField("attribute4");
    std::vector<test::TSupportLink> links(lines.size());
    for (std::size_t k = 0; k < lines.size(); ++k) {
      links[k].points = lines[k];
      links[k].attribute = static_cast<std::uint16_t>(
          table.ReadInteger(attribute, static_cast<std::int64_t>(k) + 1));
    }
    test::TNetworkWriterOptions options;
    options.unit = cuDeg;
    options.allowLoops = false;
    dir.links = static_cast<std::int32_t>(links.size());
    test::WriteNetwork(dir.directory, links, options);
    Finish(dir, start);
    return &dir;
  }();
  return network;
}

}  // namespace kvnet::bench
