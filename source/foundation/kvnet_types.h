// Small value types shared by every subsystem: points, rectangles, polylines, routes and
// positions on links. Ids are 32-bit signed and counted from 1; 0 means none. A signed link id
// carries the direction of travel: positive from its from-node, negative against it.
#pragma once

#include <cstdint>
#include <vector>

namespace kvnet {

using TIntegerArray = std::vector<std::int32_t>;

struct TFloatPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const TFloatPoint&, const TFloatPoint&) = default;
};

struct TFloatRect {
  double xmin = 0;
  double ymin = 0;
  double xmax = 0;
  double ymax = 0;
};

// A polyline; Pnt may hold more points than are in use.
struct TFloatPointArrayEx {
  std::vector<TFloatPoint> Pnt;
  std::int32_t Count = 0;
};

// A ring with the extra values of the polygon builders; points 0..Last are in use.
struct TFloatPointArrayEx2 {
  std::vector<TFloatPoint> Pnt;
  std::int32_t Last = -1;
  double Z1 = 0;
  double Z2 = 0;
  std::uint8_t Side1 = 0;
  std::uint8_t Side2 = 0;
  std::int32_t Zi1 = 0;
  std::int32_t Zi2 = 0;
};

// A route: one node more than links for a route between nodes; empty when not reached.
struct TRoute {
  std::vector<std::int32_t> nodes;
  std::vector<std::int32_t> links;
  double percent1 = 0;
  double percent2 = 0;
};

// A position on a link: the fraction of its length measured from its from-node.
struct TLocation {
  std::int32_t link = 0;
  double percent = 0;
};

// A square or rectangular table of 32-bit values: [i][j] is the value from item i to item j.
using TMatrix = std::vector<std::vector<float>>;

// Cost of a node or link that a search has not reached.
inline constexpr float kCostUnreached = 1e38f;

}  // namespace kvnet
