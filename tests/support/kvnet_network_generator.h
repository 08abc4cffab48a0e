// A seeded generator of road-like networks for benchmarks and large tests: a jittered street
// grid with shape points, arterials every few rows and columns (road classes 1 and 2, streets
// class 5), a share of one-way streets and a share of missing street blocks. The same options
// always give the same network on every platform.
#pragma once

#include <cstdint>
#include <vector>

#include "support/kvnet_network_writer.h"

namespace kvnet::test {

struct TRoadNetworkOptions {
  std::uint64_t seed = 20261210;
  std::int32_t columns = 100;       // grid nodes per row
  std::int32_t rows = 100;          // grid nodes per column
  double spacing = 100;             // metres between grid lines
  double jitter = 20;               // largest shift of a grid node, metres
  double shapePointShare = 0.3;     // share of streets with 1 to 3 shape points
  std::int32_t arterialEvery = 10;  // every n-th row and column is an arterial
  double onewayShare = 0.1;         // share of one-way streets (half FT, half TF)
  double missingShare = 0.04;       // share of street blocks left out
};

// Street polylines in metres; about 2 * columns * rows links.
std::vector<TSupportLink> GenerateRoadNetwork(const TRoadNetworkOptions& options);

}  // namespace kvnet::test
