// Importing a polyline shape file into a network directory: the Baltimore layer (9,777 links) and
// a generated layer of about a million links, against the peer of merely reading the same
// shape file's vertices into memory. Peak memory is measured in a child process that does the
// import alone (this program started again with --import-child).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gisout/kvnet_giswritershp.h"
#include "import/kvnet_import.h"
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
