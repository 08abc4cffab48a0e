#include "support/kvnet_network_generator.h"

namespace kvnet::test {

namespace {

// splitmix64: fully specified, so the network is the same everywhere.
class TSeededRandom {
 public:
  explicit TSeededRandom(std::uint64_t seed) : FState(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (FState += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Between(double lo, double hi) { return lo + (hi - lo) * Unit(); }

 private:
  std::uint64_t FState;
};

}  // namespace

std::vector<TSupportLink> GenerateRoadNetwork(const TRoadNetworkOptions& options) {
  TSeededRandom random(options.seed);
  const std::int32_t cols = options.columns;
  const std::int32_t rows = options.rows;
  std::vector<TFloatPoint> grid(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows));
  for (std::int32_t r = 0; r < rows; ++r) {
    for (std::int32_t c = 0; c < cols; ++c) {
      grid[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) +
           static_cast<std::size_t>(c)] = {
          c * options.spacing + random.Between(-options.jitter, options.jitter),
          r * options.spacing + random.Between(-options.jitter, options.jitter)};
    }
  }
  const auto at = [&](std::int32_t c, std::int32_t r) {
    return grid[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) +
                static_cast<std::size_t>(c)];
  };
  std::vector<TSupportLink> links;
  links.reserve(2 * grid.size());
  const auto street = [&](const TFloatPoint& a, const TFloatPoint& b, bool arterial) {
    if (!arterial && random.Unit() < options.missingShare) return;
    TSupportLink link;
    link.points.push_back(a);
    if (random.Unit() < options.shapePointShare) {
      const int inner = 1 + static_cast<int>(random.Next() % 3);
      for (int k = 1; k <= inner; ++k) {
        const double t = static_cast<double>(k) / (inner + 1);
        link.points.push_back({a.x + (b.x - a.x) * t + random.Between(-5, 5),
                               a.y + (b.y - a.y) * t + random.Between(-5, 5)});
      }
    }
    link.points.push_back(b);
    link.attribute = arterial ? static_cast<std::uint16_t>(1 + random.Next() % 2) : 5;
    if (!arterial && random.Unit() < options.onewayShare) {
      link.attribute |= random.Unit() < 0.5 ? 0x0200 : 0x0400;
    }
    links.push_back(std::move(link));
  };
  for (std::int32_t r = 0; r < rows; ++r) {
    for (std::int32_t c = 0; c < cols; ++c) {
      if (c + 1 < cols) street(at(c, r), at(c + 1, r), r % options.arterialEvery == 0);
      if (r + 1 < rows) street(at(c, r), at(c, r + 1), c % options.arterialEvery == 0);
    }
  }
  return links;
}

}  // namespace kvnet::test
