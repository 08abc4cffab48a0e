// A network directory with one damaged file. A small valid network (with attributes, a limit
// file, road names, text ids and a spatial index) is written once. An input damages one of its
// files: byte 0 picks the file, byte 1 the kind of damage, and the rest says how:
//   kind 0: bytes 2..5 are an offset (little-endian, taken modulo the file size + 1) and the
//           bytes after them overwrite the file from there, lengthening it when they pass its end;
//   kind 1: the file is cut to the length in bytes 2..5 (modulo the file size + 1);
//   kind 2: the bytes from 2 on replace the file.
// The network is then opened in every storage mode and queried: topology, shape points, road
// names, ids, nearest search, a tree.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "foundation/kvnet_exceptions.h"
#include "import/kvnet_importattributes.h"
#include "kvnet_fuzz_support.h"
#include "routing/kvnet_calc.h"
#include "spatial/kvnet_spatialsearch.h"
#include "store/kvnet_network.h"
#include "support/kvnet_network_writer.h"

namespace {

constexpr std::array<const char*, 14> kFiles = {
    "kvnet_config.ini", "coord.bin",   "length.bin",    "link.bin",        "node.bin",
    "coord3.bin",       "coord3i.bin", "attribute.bin", "limit1.bin",      "roadname01.bin",
    "roadnumber01.bin", "index1.bin",  "index2.bin",    "spatialindex.bin"};

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

// With KVNET_FUZZ_SEEDS=<folder> set, writes seeds there: for every file of the valid network one
// that flips its first byte, one that cuts it in half, and one that gives its contents whole.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* seeds = std::getenv("KVNET_FUZZ_SEEDS");
  if (seeds == nullptr) return 0;
  std::filesystem::create_directories(seeds);
  for (std::size_t i = 0; i < kFiles.size(); ++i) {
    const auto size =
        static_cast<std::uint32_t>(std::filesystem::file_size(Template() / kFiles[i]));
    const auto seed = [&](const std::string& suffix, char kind, std::uint32_t offset) {
      std::ofstream out(std::filesystem::path(seeds) / (kFiles[i] + suffix), std::ios::binary);
      out.put(static_cast<char>(i));
      out.put(kind);
      for (int k = 0; k < 4; ++k)
        out.put(static_cast<char>((offset >> (8 * k)) & 0xFF));
      return out;
    };
    seed(".flip", 0, 0).put('\xff');
    seed(".cut", 1, size / 2);
    std::ifstream in(Template() / kFiles[i], std::ios::binary);
    std::ofstream whole(std::filesystem::path(seeds) / (std::string(kFiles[i]) + ".whole"),
                        std::ios::binary);
    whole.put(static_cast<char>(i));
    whole.put(2);
    whole << in.rdbuf();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvnet;
  if (size < 2) return 0;
  const auto& source = Template();
  fuzz::CopyTemplate(source);
  const char* file = kFiles[data[0] % kFiles.size()];
  std::string bytes;
  {
    std::ifstream in(source / file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::uint32_t offset = 0;
  for (std::size_t k = 0; k < 4 && k < rest.size(); ++k)
    offset |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(rest[k])) << (8 * k);
  const std::size_t at = offset % (bytes.size() + 1);
  switch (data[1] % 3) {
    case 0: {
      const std::string_view patch = rest.size() > 4 ? rest.substr(4) : std::string_view();
      if (bytes.size() < at + patch.size()) bytes.resize(at + patch.size());
      std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
      break;
    }
    case 1:
      bytes.resize(at);
      break;
    default:
      bytes.assign(rest);
      break;
  }
  fuzz::WriteFile(file, bytes);
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
