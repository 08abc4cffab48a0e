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

template <class T>
T Load(const std::string& bytes, std::size_t at) {
  if (at + sizeof(T) > bytes.size()) throw std::runtime_error("shapefile cut short");
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof(T));
  return value;
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  const auto b = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + i)));
  };
  return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

}  // namespace

TBenchNetworkDir::~TBenchNetworkDir() {
  if (!directory.empty()) std::filesystem::remove_all(directory);
}

std::vector<std::vector<TFloatPoint>> ReadShapefileLines(const std::string& shpFile) {
  std::ifstream in(shpFile, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::vector<TFloatPoint>> lines;
  std::size_t at = 100;
  while (at + 8 <= bytes.size()) {
    const std::size_t length = 2 * static_cast<std::size_t>(BigEndian32(bytes, at + 4));
    const std::size_t content = at + 8;
    const auto type = Load<std::int32_t>(bytes, content);
    std::vector<TFloatPoint> points;
    if (type == 3 || type == 13 || type == 23) {
      const auto parts = Load<std::int32_t>(bytes, content + 36);
      const auto count = Load<std::int32_t>(bytes, content + 40);
      const std::size_t first = content + 44 + 4 * static_cast<std::size_t>(parts);
      for (std::int32_t k = 0; k < count; ++k) {
        points.push_back({Load<double>(bytes, first + 16 * static_cast<std::size_t>(k)),
                          Load<double>(bytes, first + 16 * static_cast<std::size_t>(k) + 8)});
      }
    }
    lines.push_back(std::move(points));
    at = content + length;
  }
  return lines;
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
    const auto lines = ReadShapefileLines(data + "/link.shp");
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
