// The spatial index on the generated road network of about a million links: building it from the
// network directory, and nearest-node and nearest-position queries, against Boost.Geometry's
// R-tree (bulk-loaded from the same nodes and segments held in memory) measured in the same run.
#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/segment.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "foundation/kvnet_io.h"
#include "spatial/kvnet_quadtreesetup.h"
#include "spatial/kvnet_spatialsearch.h"
#include "store/kvnet_network.h"
#include "support/kvnet_bench_networks.h"
#include "support/kvnet_bench_ratio.h"

namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
using BPoint = bg::model::d2::point_xy<double>;
using BSegment = bg::model::segment<BPoint>;
using NodeTree = bgi::rtree<std::pair<BPoint, std::int32_t>, bgi::rstar<16>>;
using SegmentTree = bgi::rtree<std::pair<BSegment, std::int32_t>, bgi::rstar<16>>;

constexpr int kQueries = 20000;

struct TSpatialFixture {
  kvnet::TNetwork net;
  std::vector<std::pair<BPoint, std::int32_t>> nodes;
  std::vector<std::pair<BSegment, std::int32_t>> segments;
  std::vector<kvnet::TFloatPoint> queries;

  TSpatialFixture() {
    const auto& dir = kvnet::bench::GeneratedNetwork();
    const auto start = std::chrono::steady_clock::now();
    kvnet::TQuadTreeSetup setup;
    setup.SetDirectory(dir.directory);
    setup.Build(0);
    std::printf("Spatial index of %d links: %d cells, built in %.2f s\n", dir.links,
                setup.CellCount(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    net.SetDirectory(dir.directory);
    net.Open(true, true, true, 0);
    for (std::int32_t n = 1; n <= net.NodeCount(); ++n) {
      const kvnet::TFloatPoint p = net.Node2Coordinate(n);
      nodes.emplace_back(BPoint(p.x, p.y), n);
    }
    kvnet::TFloatPointArrayEx line;
    for (std::int32_t l = 1; l <= net.LinkCount(); ++l) {
      if (net.LinkLength(l) == 0) continue;
      net.GetGISSection(l, line);
      for (std::int32_t i = 1; i < line.Count; ++i) {
        const auto& a = line.Pnt[static_cast<std::size_t>(i) - 1];
        const auto& b = line.Pnt[static_cast<std::size_t>(i)];
        segments.emplace_back(BSegment(BPoint(a.x, a.y), BPoint(b.x, b.y)), l);
      }
    }
    std::mt19937_64 random(42);
    const kvnet::TFloatRect box = net.MBR();
    std::uniform_real_distribution<double> ux(box.xmin, box.xmax);
    std::uniform_real_distribution<double> uy(box.ymin, box.ymax);
    for (int q = 0; q < kQueries; ++q)
      queries.push_back({ux(random), uy(random)});
  }
};

TSpatialFixture& Fixture() {
  static TSpatialFixture fixture;
  return fixture;
}

void SetQueryRate(benchmark::State& state) {
  state.counters["queries_per_second"] =
      benchmark::Counter(kQueries, benchmark::Counter::kIsIterationInvariantRate);
}

void Build_kvnet(benchmark::State& state) {
  const auto& dir = kvnet::bench::GeneratedNetwork();
  Fixture();
  for (auto _ : state) {
    kvnet::TQuadTreeSetup setup;
    setup.SetDirectory(dir.directory);
    kvnet::TKVMemoryStream out;
    setup.Build(0, &out);
    benchmark::DoNotOptimize(out.Size());
  }
}

void Build_peer(benchmark::State& state) {
  const TSpatialFixture& f = Fixture();
  for (auto _ : state) {
    NodeTree nodes(f.nodes.begin(), f.nodes.end());
    SegmentTree segments(f.segments.begin(), f.segments.end());
    benchmark::DoNotOptimize(nodes.size() + segments.size());
  }
}

// Runs every query through query(search, point), which returns an id to keep the work alive.
template <typename Query>
void KvnetQueries(benchmark::State& state, Query query) {
  TSpatialFixture& f = Fixture();
  kvnet::TSpatialSearch search(f.net);
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (const kvnet::TFloatPoint& p : f.queries)
      sum += query(search, p);
  }
  benchmark::DoNotOptimize(sum);
  SetQueryRate(state);
}

// The same queries against an R-tree bulk-loaded from values.
template <typename Tree, typename Values>
void PeerQueries(benchmark::State& state, const Values& values) {
  const TSpatialFixture& f = Fixture();
  const Tree tree(values.begin(), values.end());
  std::vector<typename Tree::value_type> result;
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (const kvnet::TFloatPoint& p : f.queries) {
      result.clear();
      tree.query(bgi::nearest(BPoint(p.x, p.y), 1), std::back_inserter(result));
      sum += result.front().second;
    }
  }
  benchmark::DoNotOptimize(sum);
  SetQueryRate(state);
}

void NearestNode_kvnet(benchmark::State& state) {
  KvnetQueries(state, [](kvnet::TSpatialSearch& search, const kvnet::TFloatPoint& p) {
    return search.NearestNodeSimple(p);
  });
}

void NearestNode_peer(benchmark::State& state) {
  PeerQueries<NodeTree>(state, Fixture().nodes);
}

void NearestLocation_kvnet(benchmark::State& state) {
  KvnetQueries(state, [](kvnet::TSpatialSearch& search, const kvnet::TFloatPoint& p) {
    return search.NearestLocationSimple(p).link;
  });
}

void NearestLocation_peer(benchmark::State& state) {
  PeerQueries<SegmentTree>(state, Fixture().segments);
}

BENCHMARK(Build_kvnet)
    ->Name("Index build, generated 965k links/kvnet")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK(Build_peer)
    ->Name("Index build, generated 965k links/peer")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK(NearestNode_kvnet)
    ->Name("Nearest node, generated 965k links/kvnet")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(NearestNode_peer)
    ->Name("Nearest node, generated 965k links/peer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(NearestLocation_kvnet)
    ->Name("Nearest position, generated 965k links/kvnet")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(NearestLocation_peer)
    ->Name("Nearest position, generated 965k links/peer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

KVNET_BENCHMARK_MAIN_WITH_RATIOS();
