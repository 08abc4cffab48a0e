// Writes a complete network directory from a list of polylines, the way the import numbers and
// stores it: nodes found by exact coordinate matching and numbered by non-increasing degree,
// then by x, then by y; every file of the directory, plain or enciphered. Tests and benchmarks
// use it to make networks of any shape without going through GIS input.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/kvnet_types.h"
#include "store/kvnet_coordunit.h"

namespace kvnet::test {

struct TSupportLink {
  // The polyline in digitised direction. After repeated vertices are dropped, fewer than two
  // vertices (or a closed line when loops are not allowed) make a non-valid link.
  std::vector<TFloatPoint> points;
  std::uint16_t attribute = 0;
};

struct TNetworkWriterOptions {
  TCoordinateUnit unit = cuM;
  std::int64_t key = 0;  // encryption key, 0 for plain files
  bool allowLoops = true;
  bool writeAttributes = true;  // attribute.bin from TSupportLink::attribute
  // limit<N>.bin files: file number -> one value per link (missing values are 0).
  std::map<std::int32_t, std::vector<std::uint8_t>> limits;
  std::string prj;
  std::string coordSys;
  std::int32_t epsg = 0;
  bool spatialIndex = false;  // build spatialindex.bin with the library's builder
  std::int32_t maxNodesPerCell = 50;
};

struct TNetworkWriterResult {
  std::int32_t linkCount = 0;
  std::int32_t nodeCount = 0;
  std::int32_t maxDegree = 0;
  std::vector<std::int32_t> fromNode;  // index 1..linkCount, 0 for non-valid links
  std::vector<std::int32_t> toNode;
  std::vector<float> length;       // kilometres, index 1..linkCount
  std::vector<TFloatPoint> nodes;  // index 1..nodeCount
};

// Writes the directory (which must exist; a trailing '/' is optional).
TNetworkWriterResult WriteNetwork(const std::string& directory,
                                  const std::vector<TSupportLink>& links,
                                  const TNetworkWriterOptions& options = {});

// Parses polylines written as "x y, x y, ...; x y, ..." (links separated by ';'), for compact
// fixtures in tests.
std::vector<TSupportLink> ParseLinks(const std::string& text);

}  // namespace kvnet::test
