// A network directory with one damaged file. A small valid network (with attributes, a limit
// file, road names, text ids and a spatial index) is written once; each input picks one of its
// files by its first byte and replaces it with the rest. The network is then opened in every
// storage mode and queried: topology, shape points, road names, ids, nearest search, a tree.
#include <array>
#include <cstdlib>
#include <fstream>

#include "foundation/kvnet_exceptions.h"
#include "import/kvnet_importattributes.h"
#include "kvnet_fuzz_support.h"
#include "routing/kvnet_calc.h"
#include "spatial/kvnet_spatialsearch.h"
#include "store/kvnet_network.h"
#include "support/kvnet_network_writer.h"

namespace {

constexpr std::array<const char*, 13> kFiles = {
    "kvnet_config.ini", "coord.bin",   "length.bin",    "link.bin",   "node.bin",
    "coord3.bin",       "coord3i.bin", "attribute.bin", "limit1.bin", "roadname01.bin",
    "roadnumber01.bin", "index1.bin",  "index2.bin"};

// The valid network, written once: its folder.
const std::filesystem::path& Template() {
  static const std::filesystem::path folder = [] {
    using namespace kvnet;
    const auto path = fuzz::TemplateFolder();
    auto links = test::ParseLinks(
        "0 0, 100 0; 100 0, 100 100, 200 100; 100 0, 200 0; 200 0, 200 100; 200 100, 300 100;"
        "0 0, 0 100, 100 100; 300 100, 300 100; 200 0, 300 100");
    for (std::size_t i = 0; i < links.size(); ++i)
      links[i].attribute = static_cast<std::uint16_t>(i * 37);
    test::TNetworkWriterOptions options;
    options.limits[1] = {3, 0, 9, 255, 1, 2, 0, 7};
    options.spatialIndex = true;
    const auto written = test::WriteNetwork(path.string(), links, options);
    TImportAttributes attributes;
    attributes.SetDirectory(path.string());
    const auto count = written.linkCount;
    attributes.OnReadRoadName = [&](TImportAttributes&, std::int32_t link, std::string& name,
                                    bool& last) {
      name =
          link % 3 == 0 ? "" : "Street " + std::to_string(link % 4) + (link % 2 ? "\xc3\xa9" : "");
      last = link == count;
    };
    attributes.ExecuteRoadnameEvent();
    attributes.OnReadExternalIDString = [&](TImportAttributes&, std::int32_t link, std::string& id,
                                            bool& last) {
      id = "id" + std::to_string(link * 11);
      last = link == count;
    };
    attributes.ExecuteExternalIDStringEvent(8);
    return path;
  }();
  return folder;
}

void Query(kvnet::TNetwork& net) {
  using namespace kvnet;
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    net.GetGISSection(link);
    net.Link2RoadName(1, link);
    const std::string id = net.Link2ExternalID(link);
    net.ExternalID2Link(id);
    net.AttributeGet(link);
    net.GetLimit(1, link);
  }
  for (std::int32_t node = 1; node <= net.NodeCount(); ++node) {
    for (std::int32_t slot = 1; slot <= net.Degree(node); ++slot)
      net.Node2Link(node, slot);
  }
  net.RoadName2RoadNameID(1, "street 1", true);
  TSpatialSearch search(net);
  search.NearestNodeSimple(TFloatPoint{150, 50});
  search.NearestLocationSimple(TFloatPoint{150, 50});
  TCalc calc(net);
  calc.SetShortest(false);
  if (net.NodeCount() > 0) calc.IsoCost(1);
}

}  // namespace

// With KVNET_FUZZ_SEEDS=<folder> set, writes one seed per file of the valid network there: the
// file's number followed by its intact contents.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* seeds = std::getenv("KVNET_FUZZ_SEEDS");
  if (seeds == nullptr) return 0;
  std::filesystem::create_directories(seeds);
  for (std::size_t i = 0; i < kFiles.size(); ++i) {
    std::ifstream in(Template() / kFiles[i], std::ios::binary);
    std::ofstream out(std::filesystem::path(seeds) / kFiles[i], std::ios::binary);
    out.put(static_cast<char>(i));
    out << in.rdbuf();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvnet;
  if (size == 0) return 0;
  const auto& source = Template();
  fuzz::CopyTemplate(source);
  const char* file = kFiles[data[0] % kFiles.size()];
  fuzz::WriteFile(file, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  for (const bool cache : {true, false}) {
    try {
      TNetwork net;
      net.SetDirectory(fuzz::Folder().string());
      net.Open(true, cache, true, cache ? 3 : 1);
      net.OpenLimit(1, 1, false);
      net.OpenRoadName(1, cache);
      Query(net);
    } catch (const Exception&) {
    }
  }
  return 0;
}
