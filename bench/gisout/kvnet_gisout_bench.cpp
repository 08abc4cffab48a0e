// Writing a polyline shape-file set (.shp, .shx, .dbf, .prj, .cpg) of about a million records
// through TGISWriterSHP, against the peer of writing the same bytes with a bare loop that knows
// the layout in advance (no value splitting, no checks, no section bookkeeping).
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kvnet_io.h"
#include "gisout/kvnet_giswritershp.h"
#include "support/kvnet_bench_ratio.h"
#include "support/kvnet_network_generator.h"

namespace {

constexpr std::int32_t kGrid = 708;  // about a million streets

struct TBenchLayer {
  std::string directory;
  std::vector<kvnet::test::TSupportLink> streets;
  std::vector<std::string> attributes;  // the value list of each record, as callers build it

  TBenchLayer() {
    directory =
        (std::filesystem::temp_directory_path() / ("kvnet_bench_shp_" + std::to_string(::getpid())))
            .string();
    std::filesystem::create_directories(directory);
    kvnet::test::TRoadNetworkOptions options;
    options.columns = kGrid;
    options.rows = kGrid;
    streets = kvnet::test::GenerateRoadNetwork(options);
    attributes.reserve(streets.size());
    for (std::size_t i = 0; i < streets.size(); ++i) {
      attributes.push_back(std::to_string(i + 1) + "," + std::to_string(streets[i].attribute) +
                           ",\"Street " + std::to_string(i % 977) + "\"");
    }
    std::printf("Layer: %zu polyline records\n", streets.size());
  }
  ~TBenchLayer() { std::filesystem::remove_all(directory); }
  std::string File(const char* name) const { return directory + "/" + name; }
};

const TBenchLayer& Layer() {
  static const TBenchLayer layer;
  return layer;
}

void SetRate(benchmark::State& state, std::size_t records) {
  state.counters["records_per_second"] = benchmark::Counter(
      static_cast<double>(records), benchmark::Counter::kIsIterationInvariantRate);
}

void Shapefile_kvnet(benchmark::State& state) {
  const TBenchLayer& layer = Layer();
  kvnet::TFloatPointArrayEx section;
  for (auto _ : state) {
    kvnet::TGISWriterSHP writer;
    writer.FileName = layer.File("kvnet");
    writer.StartHeader(3, kvnet::otPline);
    writer.AddField("ID", kvnet::gfInteger, 0, 0);
    writer.AddField("Attribute", kvnet::gfSmallInt, 0, 0);
    writer.AddField("Name", kvnet::gfChar, 20, 0);
    for (std::size_t i = 0; i < layer.streets.size(); ++i) {
      const auto& points = layer.streets[i].points;
      section.Pnt.assign(points.begin(), points.end());
      section.Count = static_cast<std::int32_t>(points.size());
      writer.AddObject(1, false, layer.attributes[i]);
      writer.AddSection(0, section);
    }
    writer.Close();
  }
  SetRate(state, layer.streets.size());
}

// The peer: the same files from a loop that writes each record's bytes directly.
void PutBE32(char* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

void Shapefile_peer(benchmark::State& state) {
  const TBenchLayer& layer = Layer();
  std::string record;
  std::string row(1 + 11 + 6 + 20, ' ');
  for (auto _ : state) {
    kvnet::TKVBufferedStream shp(
        std::make_unique<kvnet::TKVFileStream>(layer.File("peer.shp"), kvnet::fmCreate));
    kvnet::TKVBufferedStream shx(
        std::make_unique<kvnet::TKVFileStream>(layer.File("peer.shx"), kvnet::fmCreate));
    kvnet::TKVBufferedStream dbf(
        std::make_unique<kvnet::TKVFileStream>(layer.File("peer.dbf"), kvnet::fmCreate));
    std::string header(100, '\0');
    shp.WriteBuffer(header.data(), 100);
    shx.WriteBuffer(header.data(), 100);
    std::string dbfHeader(32 * 3 + 33, '\0');
    dbf.WriteBuffer(dbfHeader.data(), static_cast<std::int64_t>(dbfHeader.size()));
    std::int64_t offset = 100;
    for (std::size_t i = 0; i < layer.streets.size(); ++i) {
      const auto& points = layer.streets[i].points;
      const std::size_t content = 44 + 4 + 16 * points.size();
      record.assign(8 + content, '\0');
      PutBE32(record.data(), static_cast<std::uint32_t>(i + 1));
      PutBE32(record.data() + 4, static_cast<std::uint32_t>(content / 2));
      double box[4] = {points[0].x, points[0].y, points[0].x, points[0].y};
      char* p = record.data() + 8 + 44 + 4;
      for (const auto& point : points) {
        box[0] = std::min(box[0], point.x);
        box[1] = std::min(box[1], point.y);
        box[2] = std::max(box[2], point.x);
        box[3] = std::max(box[3], point.y);
        std::memcpy(p, &point.x, 8);
        std::memcpy(p + 8, &point.y, 8);
        p += 16;
      }
      const std::int32_t type = 3;
      const std::int32_t parts = 1;
      const auto count = static_cast<std::int32_t>(points.size());
      std::memcpy(record.data() + 8, &type, 4);
      std::memcpy(record.data() + 12, box, 32);
      std::memcpy(record.data() + 44, &parts, 4);
      std::memcpy(record.data() + 48, &count, 4);
      shp.WriteBuffer(record.data(), static_cast<std::int64_t>(record.size()));
      char entry[8];
      PutBE32(entry, static_cast<std::uint32_t>(offset / 2));
      PutBE32(entry + 4, static_cast<std::uint32_t>(content / 2));
      shx.WriteBuffer(entry, 8);
      offset += static_cast<std::int64_t>(record.size());

      std::fill(row.begin(), row.end(), ' ');
      char number[16];
      auto end = std::to_chars(number, number + sizeof number, i + 1).ptr;
      std::memcpy(row.data() + 1 + 11 - (end - number), number,
                  static_cast<std::size_t>(end - number));
      end = std::to_chars(number, number + sizeof number, layer.streets[i].attribute).ptr;
      std::memcpy(row.data() + 12 + 6 - (end - number), number,
                  static_cast<std::size_t>(end - number));
      const std::string name = "Street " + std::to_string(i % 977);
      std::memcpy(row.data() + 18, name.data(), name.size());
      dbf.WriteBuffer(row.data(), static_cast<std::int64_t>(row.size()));
    }
    shp.Flush();
    shx.Flush();
    dbf.Flush();
  }
  SetRate(state, layer.streets.size());
}

BENCHMARK(Shapefile_kvnet)
    ->Name("Polyline shapefile, 965k records/kvnet")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(Shapefile_peer)
    ->Name("Polyline shapefile, 965k records/peer")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

KVNET_BENCHMARK_MAIN_WITH_RATIOS();
