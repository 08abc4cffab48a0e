// Shortest paths against Boost.Graph on the same directed graph, in the same run: one-to-all
// trees (TCalc::IsoCost against dijkstra_shortest_paths) and one-to-one routes with the
// straight-line estimate (TRouteCalc::Route against astar_search), on the generated network of
// about a million links and on the Baltimore network. Arcs are the links in their allowed
// directions, weighted by length in kilometres. The benchmark also counts heap allocations per
// search once the calculator has warmed up.
#include <atomic>
#include <boost/graph/astar_search.hpp>
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "foundation/kvnet_random.h"
#include "routes/kvnet_routecalc.h"
#include "store/kvnet_network.h"
#include "support/kvnet_bench_networks.h"
#include "support/kvnet_bench_ratio.h"

// Counts every allocation of the process. (GCC cannot see that delete below pairs with the new
// replaced here.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<std::int64_t> gAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using kvnet::TNetwork;

struct TArc {
  float weight;
};
using TBoostGraph = boost::compressed_sparse_row_graph<boost::directedS, boost::no_property, TArc>;

// An open network with its Boost twin and fixed query nodes.
struct TRoutingFixture {
  std::unique_ptr<TNetwork> net;
  std::unique_ptr<TBoostGraph> graph;
  std::unique_ptr<TBoostGraph> searchOrderGraph;  // the same arcs with the library's node order
  std::vector<std::int32_t> sources;
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  std::vector<float> distance;
  std::vector<TBoostGraph::vertex_descriptor> predecessor;

  explicit TRoutingFixture(const kvnet::bench::TBenchNetworkDir& dir) {
    net = std::make_unique<TNetwork>();
    net->SetDirectory(dir.directory);
    net->Open(true, true, false, 0);
    std::vector<std::pair<std::int32_t, std::int32_t>> arcs;
    std::vector<TArc> weights;
    for (std::int32_t link = 1; link <= net->LinkCount(); ++link) {
      const float length = net->LengthOf(link);
      if (length == 0) continue;
      const std::int32_t from = net->FromNodeOf(link);
      const std::int32_t to = net->ToNodeOf(link);
      const std::uint16_t word = net->AttributeOf(link);
      if ((word & 0x0400) == 0) {  // not one-way against the digitised direction
        arcs.emplace_back(from, to);
        weights.push_back({length});
      }
      if ((word & 0x0200) == 0) {
        arcs.emplace_back(to, from);
        weights.push_back({length});
      }
    }
    graph = std::make_unique<TBoostGraph>(boost::edges_are_unsorted_multi_pass, arcs.begin(),
                                          arcs.end(), weights.begin(),
                                          static_cast<std::size_t>(net->NodeCount()) + 1);
    for (auto& [from, to] : arcs) {
      from = net->SearchNode(from);
      to = net->SearchNode(to);
    }
    searchOrderGraph = std::make_unique<TBoostGraph>(
        boost::edges_are_unsorted_multi_pass, arcs.begin(), arcs.end(), weights.begin(),
        static_cast<std::size_t>(net->NodeCount()) + 1);
    kvnet::TRandom r;
    r.SetSeed(987654321);
    for (int i = 0; i < 16; ++i)
      sources.push_back(net->RandomNode(r));
    for (int i = 0; i < 64; ++i)
      pairs.emplace_back(net->RandomNode(r), net->RandomNode(r));
    distance.resize(boost::num_vertices(*graph));
    predecessor.resize(boost::num_vertices(*graph));
  }
};

TRoutingFixture& Fixture(bool baltimore) {
  static std::unique_ptr<TRoutingFixture> generated;
  static std::unique_ptr<TRoutingFixture> real;
  auto& slot = baltimore ? real : generated;
  if (!slot)
    slot = std::make_unique<TRoutingFixture>(baltimore ? *kvnet::bench::BaltimoreNetwork()
                                                       : kvnet::bench::GeneratedNetwork());
  return *slot;
}

bool Skip(benchmark::State& state, bool baltimore) {
  if (baltimore && kvnet::bench::BaltimoreNetwork() == nullptr) {
    state.SkipWithError("Baltimore data not available");
    return true;
  }
  return false;
}

void Tree_kvnet(benchmark::State& state) {
  const bool baltimore = state.range(0) != 0;
  if (Skip(state, baltimore)) return;
  TRoutingFixture& f = Fixture(baltimore);
  kvnet::TCalc calc(*f.net);
  calc.IsoCost(f.sources[0]);  // warm up: labels and queue reach their size
  std::size_t i = 0;
  std::int64_t allocations = 0;
  for (auto _ : state) {
    const std::int64_t before = gAllocations.load();
    calc.IsoCost(f.sources[i++ % f.sources.size()]);
    allocations += gAllocations.load() - before;
    benchmark::DoNotOptimize(calc.NodeCost(1));
  }
  state.counters["allocations_per_search"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["nodes"] = f.net->NodeCount();
}

void Tree_peer(benchmark::State& state) {
  const bool baltimore = state.range(0) != 0;
  if (Skip(state, baltimore)) return;
  TRoutingFixture& f = Fixture(baltimore);
  std::size_t i = 0;
  for (auto _ : state) {
    boost::dijkstra_shortest_paths(
        *f.graph, static_cast<TBoostGraph::vertex_descriptor>(f.sources[i++ % f.sources.size()]),
        boost::weight_map(boost::get(&TArc::weight, *f.graph))
            .distance_map(boost::make_iterator_property_map(
                f.distance.begin(), boost::get(boost::vertex_index, *f.graph)))
            .predecessor_map(boost::make_iterator_property_map(
                f.predecessor.begin(), boost::get(boost::vertex_index, *f.graph))));
    benchmark::DoNotOptimize(f.distance[1]);
  }
  state.counters["nodes"] = f.net->NodeCount();
}

// Not a peer of the same graph: Boost on the arcs renumbered in the library's search order,
// to show how much of the difference the node layout makes.
void TreeSearchOrder(benchmark::State& state) {
  const bool baltimore = state.range(0) != 0;
  if (Skip(state, baltimore)) return;
  TRoutingFixture& f = Fixture(baltimore);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto source = f.net->SearchNode(f.sources[i++ % f.sources.size()]);
    boost::dijkstra_shortest_paths(
        *f.searchOrderGraph, static_cast<TBoostGraph::vertex_descriptor>(source),
        boost::weight_map(boost::get(&TArc::weight, *f.searchOrderGraph))
            .distance_map(boost::make_iterator_property_map(
                f.distance.begin(), boost::get(boost::vertex_index, *f.searchOrderGraph)))
            .predecessor_map(boost::make_iterator_property_map(
                f.predecessor.begin(), boost::get(boost::vertex_index, *f.searchOrderGraph))));
    benchmark::DoNotOptimize(f.distance[1]);
  }
}

// The straight-line estimate of the peer: the same factor x distance as TRouteCalc uses.
class TEstimate : public boost::astar_heuristic<TBoostGraph, float> {
 public:
  TEstimate(const TNetwork& net, std::int32_t target)
      : FNet(net), FTarget(net.Node2Coordinate(target)) {}
  float operator()(TBoostGraph::vertex_descriptor v) const {
    if (v == 0) return 0;
    return static_cast<float>(
        FNet.LengthAlpha() *
        FNet.DistanceBetweenPoints(FNet.Node2Coordinate(static_cast<std::int32_t>(v)), FTarget));
  }

 private:
  const TNetwork& FNet;
  kvnet::TFloatPoint FTarget;
};

struct TFound {};

class TStopAtTarget : public boost::default_astar_visitor {
 public:
  explicit TStopAtTarget(TBoostGraph::vertex_descriptor target) : FTarget(target) {}
  void examine_vertex(TBoostGraph::vertex_descriptor v, const TBoostGraph&) const {
    if (v == FTarget) throw TFound();
  }

 private:
  TBoostGraph::vertex_descriptor FTarget;
};

void Route_kvnet(benchmark::State& state) {
  const bool baltimore = state.range(0) != 0;
  if (Skip(state, baltimore)) return;
  TRoutingFixture& f = Fixture(baltimore);
  kvnet::TRouteCalc calc(*f.net);
  calc.Route(f.pairs[0].first, f.pairs[0].second);
  std::size_t i = 0;
  std::int64_t allocations = 0;
  for (auto _ : state) {
    const auto& [s, t] = f.pairs[i++ % f.pairs.size()];
    const std::int64_t before = gAllocations.load();
    benchmark::DoNotOptimize(calc.Route(s, t));
    allocations += gAllocations.load() - before;
  }
  state.counters["allocations_per_search"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void Route_peer(benchmark::State& state) {
  const bool baltimore = state.range(0) != 0;
  if (Skip(state, baltimore)) return;
  TRoutingFixture& f = Fixture(baltimore);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& [s, t] = f.pairs[i++ % f.pairs.size()];
    try {
      boost::astar_search(
          *f.graph, static_cast<TBoostGraph::vertex_descriptor>(s), TEstimate(*f.net, t),
          boost::weight_map(boost::get(&TArc::weight, *f.graph))
              .distance_map(boost::make_iterator_property_map(
                  f.distance.begin(), boost::get(boost::vertex_index, *f.graph)))
              .predecessor_map(boost::make_iterator_property_map(
                  f.predecessor.begin(), boost::get(boost::vertex_index, *f.graph)))
              .visitor(TStopAtTarget(static_cast<TBoostGraph::vertex_descriptor>(t))));
    } catch (const TFound&) {
    }
    benchmark::DoNotOptimize(f.distance[static_cast<std::size_t>(t)]);
  }
}

// Arguments: 0 = generated network, 1 = Baltimore.
BENCHMARK(Tree_kvnet)
    ->Name("One-to-all tree, generated 965k links/kvnet")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Tree_peer)
    ->Name("One-to-all tree, generated 965k links/peer")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(TreeSearchOrder)
    ->Name("One-to-all tree, generated 965k links, Boost in the library's node order")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Tree_kvnet)
    ->Name("One-to-all tree, Baltimore 9777 links/kvnet")
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Tree_peer)
    ->Name("One-to-all tree, Baltimore 9777 links/peer")
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Route_kvnet)
    ->Name("One-to-one route, generated 965k links/kvnet")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Route_peer)
    ->Name("One-to-one route, generated 965k links/peer")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Route_kvnet)
    ->Name("One-to-one route, Baltimore 9777 links/kvnet")
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Route_peer)
    ->Name("One-to-one route, Baltimore 9777 links/peer")
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

KVNET_BENCHMARK_MAIN_WITH_RATIOS()
