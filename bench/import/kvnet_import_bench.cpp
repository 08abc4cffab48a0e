// Importing a polyline shape file into a network directory: the Baltimore layer (9,777 links) and
// a generated layer of about a million links, against the peer of merely reading the same
// shape file's vertices into memory. Peak memory is measured in a child process that does the
// import alone (this program started again with --import-child).
//
// The attribute steps on Baltimore (street names and text ids from link.dbf) run against the peer
// of reading the same two columns and building a sorted name list and a hash map of the ids; text
// id lookups against a std::unordered_map holding the same ids.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/kvnet_inifile.h"
#include "gisin/kvnet_dbffiles.h"
#include "gisout/kvnet_giswritershp.h"
#include "import/kvnet_import.h"
#include "import/kvnet_importattributes.h"
#include "store/kvnet_network.h"
#include "support/kvnet_bench_ratio.h"
#include "support/kvnet_network_generator.h"
#include "support/kvnet_network_shapefile.h"

namespace {

std::string TemporaryFolder(const std::string& name) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kvnet_bench_import_" + name + "_" + std::to_string(::getpid()));
  std::filesystem::create_directories(path);
  return path.string();
}

struct TLayer {
  std::string name;
  std::string shp;     // empty when the layer is not available
  std::string folder;  // holds the layer and the networks
  std::int64_t links = 0;
  ~TLayer() {
    if (!folder.empty()) std::filesystem::remove_all(folder);
  }
};

// About a million streets of the generated road network, in metres.
const TLayer& GeneratedLayer() {
  static const TLayer layer = [] {
    TLayer l;
    l.name = "generated";
    l.folder = TemporaryFolder("generated");
    kvnet::test::TRoadNetworkOptions options;
    options.columns = 708;
    options.rows = 708;
    const auto streets = kvnet::test::GenerateRoadNetwork(options);
    kvnet::TGISWriterSHP writer;
    writer.FileName = l.folder + "/roads";
    writer.PRJ = "PROJCS[\"generated\",UNIT[\"Meter\",1]]";
    writer.StartHeader(1, kvnet::otPline);
    writer.AddField("ID", kvnet::gfInteger, 0, 0);
    kvnet::TFloatPointArrayEx section;
    for (std::size_t i = 0; i < streets.size(); ++i) {
      section.Pnt = streets[i].points;
      section.Count = static_cast<std::int32_t>(section.Pnt.size());
      writer.AddObject(1, false, std::to_string(i + 1));
      writer.AddSection(0, section);
    }
    writer.Close();
    l.shp = l.folder + "/roads.shp";
    l.links = static_cast<std::int64_t>(streets.size());
    return l;
  }();
  return layer;
}

const TLayer& BaltimoreLayer() {
  static const TLayer layer = [] {
    TLayer l;
    l.name = "Baltimore";
    const std::string shp = std::string(KVNET_DATA_DIR) + "/baltimore/link.shp";
    if (std::filesystem::exists(shp)) {
      l.shp = shp;
      l.folder = TemporaryFolder("baltimore");
      l.links = 9777;
    }
    return l;
  }();
  return layer;
}

void Import(const std::string& shp, const std::string& directory) {
  std::filesystem::create_directories(directory);
  kvnet::TImport import;
  import.SetDirectory(directory);
  import.Add(shp);
  import.Execute();
}

// Runs the import in a fresh process and returns its peak resident memory in MB.
double PeakMemoryMB(const TLayer& layer) {
  const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe --import-child '" +
                              layer.shp + "' '" + layer.folder + "/child'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  double mb = 0;
  if (std::fscanf(pipe, "%lf", &mb) != 1) mb = 0;
  ::pclose(pipe);
  return mb;
}

void Import_kvnet(benchmark::State& state, const TLayer& (*layerOf)()) {
  const TLayer& layer = layerOf();
  if (layer.shp.empty()) {
    state.SkipWithError("the layer is not available");
    return;
  }
  for (auto _ : state)
    Import(layer.shp, layer.folder + "/net");
  state.counters["links"] = static_cast<double>(layer.links);
  state.counters["peak_MB"] = PeakMemoryMB(layer);
}

void Import_peer(benchmark::State& state, const TLayer& (*layerOf)()) {
  const TLayer& layer = layerOf();
  if (layer.shp.empty()) {
    state.SkipWithError("the layer is not available");
    return;
  }
  std::size_t points = 0;
  for (auto _ : state) {
    const auto lines = kvnet::test::ReadShapefileLines(layer.shp);
    for (const auto& line : lines)
      points += line.size();
  }
  benchmark::DoNotOptimize(points);
}

// The Baltimore network imported once for the attribute benchmarks; empty without the data.
const std::string& BaltimoreNetwork() {
  static const std::string directory = [] {
    const TLayer& layer = BaltimoreLayer();
    if (layer.shp.empty()) return std::string();
    const std::string net = layer.folder + "/attributes";
    Import(layer.shp, net);
    return net;
  }();
  return directory;
}

std::string BaltimoreTable() {
  return std::string(KVNET_DATA_DIR) + "/baltimore/link.dbf";
}

void Names_kvnet(benchmark::State& state) {
  const std::string& directory = BaltimoreNetwork();
  if (directory.empty()) {
    state.SkipWithError("the layer is not available");
    return;
  }
  for (auto _ : state) {
    kvnet::TImportAttributes attributes;
    attributes.SetDirectory(directory);
    attributes.Add(BaltimoreTable());
    attributes.ExecuteRoadname(0, "streetname", kvnet::fkDBF);
    attributes.ExecuteExternalIDstring(0, "ext_id", kvnet::fkDBF);
  }
}

void Names_peer(benchmark::State& state) {
  if (BaltimoreNetwork().empty()) {
    state.SkipWithError("the layer is not available");
    return;
  }
  for (auto _ : state) {
    kvnet::TDbfFile table(BaltimoreTable(), 0);
    table.Open(false);
    const std::int32_t name = table.FindField("streetname");
    const std::int32_t id = table.FindField("ext_id");
    std::vector<std::string> names;
    std::unordered_map<std::string, std::int64_t> ids;
    for (std::int64_t r = 1; r <= table.RecordCount(); ++r) {
      names.push_back(kvnet::Trim(table.ReadString(name, r)));
      ids.emplace(kvnet::Trim(table.ReadString(id, r)), r);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    benchmark::DoNotOptimize(names.data());
    benchmark::DoNotOptimize(ids.size());
  }
}

// Every link's text id, looked up once per iteration.
std::vector<std::string> BaltimoreIds() {
  kvnet::TDbfFile table(BaltimoreTable(), 0);
  table.Open(false);
  const std::int32_t id = table.FindField("ext_id");
  std::vector<std::string> ids;
  for (std::int64_t r = 1; r <= table.RecordCount(); ++r)
    ids.push_back(kvnet::Trim(table.ReadString(id, r)));
  return ids;
}

// state.range(0) is the network's external-id mode: 3 holds both index files in memory, 1 reads
// them per lookup.
void IdLookup_kvnet(benchmark::State& state) {
  const std::string& directory = BaltimoreNetwork();
  if (directory.empty()) {
    state.SkipWithError("the layer is not available");
    return;
  }
  {
    kvnet::TImportAttributes attributes;
    attributes.SetDirectory(directory);
    attributes.Add(BaltimoreTable());
    attributes.ExecuteExternalIDstring(0, "ext_id", kvnet::fkDBF);
  }
  kvnet::TNetwork net;
  net.SetDirectory(directory);
  net.Open(false, false, false, static_cast<std::int32_t>(state.range(0)));
  const auto ids = BaltimoreIds();
  std::int64_t found = 0;
  for (auto _ : state)
    for (const auto& id : ids)
      found += net.ExternalID2Link(id);
  benchmark::DoNotOptimize(found);
  state.counters["lookups_per_second"] =
      benchmark::Counter(static_cast<double>(ids.size()) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void IdLookup_peer(benchmark::State& state) {
  if (BaltimoreNetwork().empty()) {
    state.SkipWithError("the layer is not available");
    return;
  }
  const auto ids = BaltimoreIds();
  std::unordered_map<std::string, std::int32_t> map;
  for (std::size_t i = 0; i < ids.size(); ++i)
    map.emplace(ids[i], static_cast<std::int32_t>(i + 1));
  std::int64_t found = 0;
  for (auto _ : state)
    for (const auto& id : ids)
      found += map.find(id)->second;
  benchmark::DoNotOptimize(found);
  state.counters["lookups_per_second"] =
      benchmark::Counter(static_cast<double>(ids.size()) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(Import_kvnet, baltimore, &BaltimoreLayer)
    ->Name("Import, Baltimore 9777 links/kvnet")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Import_peer, baltimore, &BaltimoreLayer)
    ->Name("Import, Baltimore 9777 links/peer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Import_kvnet, generated, &GeneratedLayer)
    ->Name("Import, generated 965k links/kvnet")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(Import_peer, generated, &GeneratedLayer)
    ->Name("Import, generated 965k links/peer")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK(Names_kvnet)
    ->Name("Road names and text ids, Baltimore 9777 links/kvnet")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Names_peer)
    ->Name("Road names and text ids, Baltimore 9777 links/peer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(IdLookup_kvnet)
    ->Name("Text id lookup, Baltimore 9777 ids/kvnet")
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// No peer: the files are read per lookup.
BENCHMARK(IdLookup_kvnet)
    ->Name("Text id lookup from disk, Baltimore 9777 ids")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(IdLookup_peer)
    ->Name("Text id lookup, Baltimore 9777 ids/peer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--import-child") == 0) {
    Import(argv[2], argv[3]);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.1f\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  kvnet::bench::TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
