// The routing engine against two oracles on seeded random networks: Bellman-Ford over the same
// arcs (costs), and a plain transcription of the search rules on node numbers with the queue of
// the library (which of several equal-cost routes comes out). Then the settings, stop modes and
// failures one by one.
#include "routing/kvnet_calc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_exceptions.h"
#include "store/kvnet_network.h"
#include "support/kvnet_network_generator.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ParseLinks;
using test::TNetworkDir;
using test::TNetworkWriterOptions;
using test::TSupportLink;

// A random network on a 6 x 6 grid of points: many equal lengths, parallel links, one-way and
// closed links, a non-valid link now and then, two limit layers.
struct TRandomNetwork {
  std::vector<TSupportLink> links;
  TNetworkWriterOptions options;
  std::unique_ptr<TNetworkDir> dir;
  TNetwork net;

  explicit TRandomNetwork(std::uint32_t seed) {
    std::mt19937 rng(seed);
    const int count = 8 + static_cast<int>(rng() % 40);
    std::vector<std::uint8_t> layer1;
    std::vector<std::uint8_t> layer2;
    for (int i = 0; i < count; ++i) {
      TSupportLink link;
      const TFloatPoint a{static_cast<double>(rng() % 6), static_cast<double>(rng() % 6)};
      TFloatPoint b{static_cast<double>(rng() % 6), static_cast<double>(rng() % 6)};
      if (b == a) b.x = a.x < 5 ? a.x + 1 : a.x - 1;
      link.points = {a};
      if (rng() % 5 == 0) link.points.push_back({(a.x + b.x) / 2 + 0.5, (a.y + b.y) / 2});
      if (rng() % 25 != 0) link.points.push_back(b);  // else a single point: non-valid
      const std::uint32_t oneway = rng() % 20;
      link.attribute = static_cast<std::uint16_t>(oneway < 2   ? 0x0200
                                                  : oneway < 4 ? 0x0400
                                                  : oneway < 5 ? 0x0600
                                                               : 0);
      links.push_back(link);
      layer1.push_back(static_cast<std::uint8_t>(rng() % 4 == 0 ? 1 + rng() % 3 : 0));
      layer2.push_back(static_cast<std::uint8_t>(rng() % 4 == 0 ? 1 + rng() % 3 : 0));
    }
    options.unit = cuKm;
    options.allowLoops = false;
    options.limits[1] = layer1;
    options.limits[2] = layer2;
    dir = std::make_unique<TNetworkDir>(links, options);
    net.SetDirectory(dir->Path());
    net.Open(true, rng() % 2 == 0, false, 0);
    net.OpenLimit(1, 1, false);
    net.OpenLimit(2, 2, true);
    net.CreateArrayTime(1);
    net.CreateArrayCost(2);
    for (std::int32_t k = 1; k <= net.LinkCount(); ++k) {
      if (net.LinkLength(k) == 0) continue;
      net.SetTime(0, k, 0.5f * static_cast<float>(1 + rng() % 4));  // equal times are common
      net.SetCost(0, k, static_cast<float>(1 + rng() % 3));
      net.SetCost(1, k, static_cast<float>(1 + rng() % 3));
    }
  }
};

// What a search may use: an arc per allowed direction of each usable link.
struct TArc {
  std::int32_t from;
  std::int32_t to;
  std::int32_t link;  // signed by direction
  float weight;
};

struct TSearchSettings {
  TRouteCriteria criteria = rcDist;
  bool ignoreOneway = false;
  std::uint8_t limit1 = 0;
  std::uint8_t limit2 = 0;
  const TBitArray* skip = nullptr;
};

bool Usable(const TNetwork& net, std::int32_t link, const TSearchSettings& s) {
  if (s.skip != nullptr && s.skip->GetBit(link)) return false;
  const std::uint8_t w1 = net.GetLimit(1, link);
  const std::uint8_t w2 = net.GetLimit(2, link);
  if (w1 != 0 && s.limit1 > w1) return false;  // a value layer
  if ((s.limit2 & w2) != 0) return false;      // a bit-pattern layer
  return true;
}

float Weight(const TNetwork& net, std::int32_t signedLink, TRouteCriteria criteria) {
  const std::int32_t link = std::abs(signedLink);
  switch (criteria) {
    case rcDist:
      return net.LinkLength(link);
    case rcTime:
      return net.GetTime(0, link);
    default:
      return net.GetCost(signedLink > 0 ? 0 : 1, link);
  }
}

std::vector<TArc> Arcs(const TNetwork& net, const TSearchSettings& s) {
  std::vector<TArc> arcs;
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    if (net.LinkLength(link) == 0 || !Usable(net, link, s)) continue;
    const int code = (net.AttributeGet(link) >> 9) & 3;
    const std::int32_t from = net.Link2FromNode(link);
    const std::int32_t to = net.Link2ToNode(link);
    if (s.ignoreOneway || (code != 2 && code != 3)) {
      arcs.push_back({from, to, link, Weight(net, link, s.criteria)});
    }
    if (s.ignoreOneway || (code != 1 && code != 3)) {
      arcs.push_back({to, from, -link, Weight(net, -link, s.criteria)});
    }
  }
  return arcs;
}

std::vector<double> BellmanFord(const TNetwork& net, const std::vector<TArc>& arcs,
                                std::int32_t source) {
  std::vector<double> dist(static_cast<std::size_t>(net.NodeCount()) + 1,
                           std::numeric_limits<double>::infinity());
  dist[static_cast<std::size_t>(source)] = 0;
  for (std::int32_t round = 0; round < net.NodeCount(); ++round) {
    bool changed = false;
    for (const TArc& arc : arcs) {
      const double candidate = dist[static_cast<std::size_t>(arc.from)] + arc.weight;
      if (candidate < dist[static_cast<std::size_t>(arc.to)]) {
        dist[static_cast<std::size_t>(arc.to)] = candidate;
        changed = true;
      }
    }
    if (!changed) break;
  }
  return dist;
}

// The node-mode tree search as the rules read, on node numbers and with the library's queue:
// labels (cost, predecessor) per node, every relaxation of a node not yet settled enqueued.
struct TPlainTree {
  std::vector<float> cost;
  std::vector<std::int32_t> pred;
};

TPlainTree PlainTree(const TNetwork& net, std::int32_t s, const TSearchSettings& settings) {
  TPlainTree t;
  t.cost.assign(static_cast<std::size_t>(net.NodeCount()) + 1, InfiniteCost);
  t.pred.assign(static_cast<std::size_t>(net.NodeCount()) + 1, NotVisited);
  t.cost[static_cast<std::size_t>(s)] = 0;
  t.pred[static_cast<std::size_t>(s)] = 0;
  TPQ pq;
  std::int32_t u = s;
  for (;;) {
    const auto slots = net.NodeSlots(u);
    for (std::int32_t entry : slots) {
      if (settings.ignoreOneway) entry = std::abs(entry);
      if (entry <= 0 || !Usable(net, entry, settings)) continue;
      const std::int32_t link = entry;
      const bool ft = net.Link2FromNode(link) == u;
      const std::int32_t v = ft ? net.Link2ToNode(link) : net.Link2FromNode(link);
      const auto nc = static_cast<float>(static_cast<double>(t.cost[static_cast<std::size_t>(u)]) +
                                         Weight(net, ft ? link : -link, settings.criteria));
      if (nc < t.cost[static_cast<std::size_t>(v)]) pq.Enq(TPQitem{u, v, link, nc, nc});
    }
    TPQitem item;
    do {
      item = pq.Deq();
    } while (item.FromNode != 0 && t.pred[static_cast<std::size_t>(item.ToNode)] != NotVisited);
    if (item.FromNode == 0) break;
    t.cost[static_cast<std::size_t>(item.ToNode)] = item.cost;
    t.pred[static_cast<std::size_t>(item.ToNode)] = item.FromNode;
    u = item.ToNode;
  }
  return t;
}

void Configure(TCalc& calc, const TSearchSettings& s) {
  switch (s.criteria) {
    case rcDist:
      calc.SetShortest(false);
      break;
    case rcTime:
      calc.SetTime(0);
      calc.SetFastest(false);
      break;
    case rcCost:
      calc.SetCostFT(0);
      calc.SetCostTF(1);
      calc.SetCheapest(false);
      break;
  }
  calc.IgnoreOneway = s.ignoreOneway;
  calc.SetLimit(1, s.limit1);
  calc.SetLimit(2, s.limit2);
  calc.SetSkipLinkList(s.skip);
}

TEST(Calc, TreesMatchBothOraclesOnRandomNetworks) {
  std::int64_t comparedNodes = 0;
  std::int64_t tracedRoutes = 0;
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    TRandomNetwork r(seed);
    TNetwork& net = r.net;
    std::mt19937 rng(seed * 7919);
    TBitArray skip(static_cast<std::int64_t>(net.LinkCount()) + 1);
    for (std::int32_t k = 1; k <= net.LinkCount(); ++k)
      skip.SetBit2(k, rng() % 10 == 0);
    TSearchSettings settings;
    settings.criteria = static_cast<TRouteCriteria>(seed % 3);
    settings.ignoreOneway = seed % 7 == 0;
    settings.limit1 = static_cast<std::uint8_t>(rng() % 4);
    settings.limit2 = static_cast<std::uint8_t>(rng() % 4);
    settings.skip = seed % 2 == 0 ? &skip : nullptr;
    TCalc calc(net);
    Configure(calc, settings);
    const std::vector<TArc> arcs = Arcs(net, settings);
    for (int trial = 0; trial < 3; ++trial) {
      const std::int32_t s =
          1 + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(net.NodeCount()));
      calc.IsoCost(s);
      const std::vector<double> oracle = BellmanFord(net, arcs, s);
      const TPlainTree plain = PlainTree(net, s, settings);
      for (std::int32_t n = 1; n <= net.NodeCount(); ++n) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " source " << s << " node " << n);
        const float cost = calc.NodeCost(n);
        const double expected = oracle[static_cast<std::size_t>(n)];
        ++comparedNodes;
        if (std::isinf(expected)) {
          ASSERT_EQ(cost, InfiniteCost);
          ASSERT_TRUE(calc.RouteFind(n).nodes.empty());
          continue;
        }
        ASSERT_NEAR(cost, expected, 1e-5 * std::max(1.0, expected));
        // The plain search settles the same nodes at the same costs, from the same predecessor.
        ASSERT_EQ(cost, plain.cost[static_cast<std::size_t>(n)]);
        const TRoute route = calc.RouteFind(n);
        ASSERT_EQ(route.nodes.size(), route.links.size() + 1);
        ASSERT_EQ(route.nodes.front(), s);
        ASSERT_EQ(route.nodes.back(), n);
        if (n != s) {
          ASSERT_EQ(route.nodes[route.nodes.size() - 2], plain.pred[static_cast<std::size_t>(n)]);
        }
        // A valid walk over usable arcs whose cost, added up as the search adds, is NodeCost.
        float walked = 0;
        for (std::size_t i = 0; i < route.links.size(); ++i) {
          const std::int32_t link = route.links[i];
          bool found = false;
          for (const TArc& arc : arcs) {
            found |= arc.link == link && arc.from == route.nodes[i] && arc.to == route.nodes[i + 1];
          }
          ASSERT_TRUE(found) << "link " << link << " is not an arc from " << route.nodes[i]
                             << " to " << route.nodes[i + 1] << " (ends "
                             << net.Link2FromNode(std::abs(link)) << "-"
                             << net.Link2ToNode(std::abs(link)) << ", attribute "
                             << net.AttributeGet(std::abs(link)) << ", skipped "
                             << (settings.skip != nullptr && settings.skip->GetBit(std::abs(link)))
                             << ", usable " << Usable(net, std::abs(link), settings) << ")";
          walked = static_cast<float>(static_cast<double>(walked) +
                                      Weight(net, link, settings.criteria));
        }
        ASSERT_EQ(walked, cost);
        ++tracedRoutes;
      }
    }
  }
  EXPECT_GT(comparedNodes, 10000);
  EXPECT_GT(tracedRoutes, 5000);
}

// Two routes of equal length from s to t: s-a-t over links 1, 3 and s-b-t over 2, 4. Nodes by
// degree, then x, then y: s = 1, b = 2, a = 3, t = 4. The search expands s (a enqueued before
// b), settles a, enqueues t over 3, settles b, enqueues t over 4, and takes the first t item:
// t is reached over a. Two equal parallel links from a to t: the trace reports the first in t's
// order.
TEST(Calc, EqualRoutesFollowTheQueueAndTheLinkOrder) {
  const TNetworkDir dir(ParseLinks("0 0, 1 1; 0 0, 1 -1; 1 1, 2 0; 1 -1, 2 0"));
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(true, true, false, 0);
  ASSERT_EQ(net.Node2Coordinate(3), (TFloatPoint{1, 1}));
  TCalc calc(net);
  calc.IsoCost(1);
  const TRoute route = calc.RouteFind(4);
  EXPECT_EQ(route.nodes, (std::vector<std::int32_t>{1, 3, 4}));
  EXPECT_EQ(route.links, (std::vector<std::int32_t>{1, 3}));

  // Parallel links of equal length between a and t, listed 3 then 5 at t; 3 is taken.
  const TNetworkDir parallel(ParseLinks("0 0, 1 1; 0 0, 1 -1; 1 1, 2 0; 1 -1, 2 0; 1 1, 2 0"));
  TNetwork pnet;
  pnet.SetDirectory(parallel.Path());
  pnet.Open(true, true, false, 0);
  TCalc pcalc(pnet);
  pcalc.IsoCost(pnet.Link2FromNode(1));
  const TRoute proute = pcalc.RouteFind(pnet.Link2ToNode(3));
  EXPECT_EQ(proute.links.back(), 3);
  // With link 3 closed by the skip list, the route uses its twin 5 instead.
  TBitArray skip(6);
  skip.SetBit(3, true);
  pcalc.SetSkipLinkList(&skip);
  pcalc.IsoCost(pnet.Link2FromNode(1));
  EXPECT_EQ(pcalc.RouteFind(pnet.Link2ToNode(3)).links.back(), 5);
}

// A small network in kilometres for the single-behaviour tests.
struct TLineNetwork {
  TNetworkDir dir;
  TNetwork net;
  explicit TLineNetwork(std::vector<TSupportLink> links)
      : dir(links, [] {
          TNetworkWriterOptions o;
          o.unit = cuKm;
          return o;
        }()) {
    net.SetDirectory(dir.Path());
    net.Open(true, true, false, 0);
  }
  std::int32_t Node(double x, double y) const { return test::NodeAt(net, x, y); }
};

TEST(Calc, BoundsListsNearestAndOneWay) {
  // A line 0 - 4 - 10 - 10.5 - 20 (km) with a one-way spur 10 -> (10,5).
  auto links = ParseLinks("0 0, 4 0; 4 0, 10 0; 10 0, 10.5 0; 10.5 0, 20 0; 10 0, 10 5");
  links[4].attribute = 0x0200;
  TLineNetwork line(links);
  TNetwork& net = line.net;
  const std::int32_t n0 = line.Node(0, 0);
  const std::int32_t n4 = line.Node(4, 0);
  const std::int32_t n10 = line.Node(10, 0);
  const std::int32_t n105 = line.Node(10.5, 0);
  const std::int32_t n20 = line.Node(20, 0);
  const std::int32_t spur = line.Node(10, 5);
  TCalc calc(net);
  calc.MaxCost = 10;  // a node at exactly the bound is settled
  calc.IsoCost(n0);
  EXPECT_EQ(calc.NodeCost(n10), 10);
  EXPECT_EQ(calc.NodeCost(n105), InfiniteCost);
  calc.MaxCost = 0;
  calc.IsoCost(n0);
  EXPECT_EQ(calc.NodeCost(n20), 20);
  EXPECT_EQ(calc.NodeCost(spur), 15);
  // Against the one-way direction nothing is reached from the spur, unless one-way is ignored.
  calc.IsoCost(spur);
  EXPECT_EQ(calc.NodeCost(n10), InfiniteCost);
  EXPECT_EQ(calc.RouteFind(spur).nodes, (std::vector<std::int32_t>{spur}));
  EXPECT_TRUE(calc.RouteFind(n10).nodes.empty());
  EXPECT_EQ(calc.LinkCost(5), 0);  // only the spur end is reached
  calc.IgnoreOneway = true;
  calc.IsoCost(spur);
  EXPECT_EQ(calc.NodeCost(n0), 15);
  calc.IgnoreOneway = false;
  // LinkCost: the larger end when both are reached, the reached one otherwise.
  calc.IsoCost(n0);
  EXPECT_EQ(calc.LinkCost(2), 10);

  TIntegerList targets;
  targets.Add(n0);
  EXPECT_EQ(calc.Nearest(n0, targets), -1);  // the start does not count
  targets.Add(n20);
  targets.Add(n105);
  targets.Add(n20);
  EXPECT_EQ(calc.Nearest(n0, targets), 2);
  calc.IsoCostList(n4, targets);  // stops once 0, 20 and 10.5 are settled
  EXPECT_EQ(calc.NodeCost(n20), 16);
  TIntegerList reached;
  calc.MaxCost = 7;
  calc.IsoCostListN(n4, targets, reached, 2);
  EXPECT_EQ(std::vector<std::int32_t>(reached.begin(), reached.end()),
            (std::vector<std::int32_t>{0, 2}));  // 0 at 4 km, 10.5 at 6.5 km; 20 beyond 7 km
  calc.MaxCost = 0;
  EXPECT_THROW(calc.IsoCostListN(n4, targets, reached, 0), EOutOfRange);
  try {
    calc.IsoCostListN(n4, targets, reached, 5);
    FAIL();
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "N (5) should be between 1 and 4");
  }

  // NearestOpen: with the line closed by limits, the first open link beyond the closure.
  std::int32_t nearestNode = 0;
  std::int32_t nearestLink = 0;
  float cost = -1;
  TBitArray skip(6);
  skip.SetBit(1, true);
  skip.SetBit(2, true);
  calc.SetSkipLinkList(&skip);
  calc.NearestOpen(n0, nearestNode, nearestLink, cost);
  EXPECT_EQ(nearestLink, 3);
  EXPECT_EQ(nearestNode, n10);
  EXPECT_EQ(cost, 10);
  skip.SetAllTrue();
  calc.NearestOpen(n0, nearestNode, nearestLink, cost);
  EXPECT_EQ(nearestLink, 0);
  EXPECT_EQ(nearestNode, 0);
}

TEST(Calc, VehicleLimitsAndClosedLinks) {
  TNetworkWriterOptions options;
  options.unit = cuKm;
  options.limits[1] = {3, 0, 2};  // value layer: link 1 limit 3, link 3 limit 2
  options.limits[2] = {0, 4, 0};  // bit pattern: link 2 carries bit 2
  auto links = ParseLinks("0 0, 1 0; 1 0, 2 0; 2 0, 3 0; 3 0, 4 0");
  links[3].attribute = 0x0600;  // closed both ways
  const TNetworkDir dir(links, options);
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(true, true, false, 0);
  net.OpenLimit(1, 1, false);
  net.OpenLimit(2, 2, true);
  TCalc calc(net);
  const std::int32_t start = net.Link2FromNode(1);
  calc.SetLimit(1, 3);  // equal to the limit of link 1: passes
  calc.IsoCost(start);
  EXPECT_EQ(calc.NodeCost(net.Link2ToNode(2)), 2);
  EXPECT_EQ(calc.NodeCost(net.Link2ToNode(3)), InfiniteCost);  // 3 > 2 blocks link 3
  calc.SetLimit(1, 0);
  calc.SetLimit(2, 4);  // the bit of link 2
  calc.IsoCost(start);
  EXPECT_EQ(calc.NodeCost(net.Link2ToNode(2)), InfiniteCost);
  calc.SetLimit(2, 3);
  calc.IsoCost(start);
  EXPECT_EQ(calc.NodeCost(net.Link2ToNode(3)), 3);
  EXPECT_EQ(calc.NodeCost(net.Link2ToNode(4)), InfiniteCost);  // closed
  TBitArray closed;
  calc.SetLimit(1, 3);
  calc.SelectClosedLinks(closed, true);
  EXPECT_EQ(closed.Size(), 5);
  EXPECT_FALSE(closed.GetBit(1));
  EXPECT_TRUE(closed.GetBit(3));
  EXPECT_TRUE(closed.GetBit(4));
  calc.SetLimit(0, 9);  // ignored
  calc.SetLimit(10, 9);
  EXPECT_EQ(calc.Limit(1), 3);
}

TEST(Calc, TimeSlotsAndSpeedModifiers) {
  TLineNetwork line(ParseLinks("0 0, 30 0; 30 0, 60 0"));
  TNetwork& net = line.net;
  net.CreateArrayTime(2);  // both at 60 km/h: 30 minutes per link
  for (std::int32_t k = 1; k <= 2; ++k)
    net.SetTime(1, k, 60);  // 30 km/h
  TCalc calc(net);
  calc.SetTime(0);
  calc.SetFastest(false);
  const std::int32_t start = line.Node(0, 0);
  const std::int32_t end = line.Node(60, 0);
  calc.IsoCost(start);
  EXPECT_EQ(calc.NodeCost(end), 60);
  // Array 1 applies from minute 10 to minute 10000: the second link is entered at minute 30.
  calc.SetTimePeriod(1, 10, 10000);
  calc.SetFastest(false);
  calc.IsoCost(start);
  EXPECT_EQ(calc.NodeCost(end), 90);
  // A start 60 minutes before the end of the week: both links are entered after minute 10000.
  calc.SetStarttime(-60);
  EXPECT_EQ(calc.Starttime(), kWeekMinutes - 60);
  calc.IsoCost(start);
  EXPECT_EQ(calc.NodeCost(end), 60);
  calc.SetStarttime(kWeekMinutes + 5);  // wraps to minute 5: array 0, then minute 35: array 1
  calc.IsoCost(start);
  EXPECT_EQ(calc.NodeCost(end), 90);
  EXPECT_THROW(calc.SetStarttime(std::numeric_limits<float>::quiet_NaN()), EInvalidParameter);
  calc.SetTime(0);
  calc.SetMaxSpeed(20);  // caps the speed: 30 km at 20 km/h
  calc.SetFastest(false);
  EXPECT_EQ(calc.GetTime(0, 1), 90);
  calc.SetMaxSpeed(-1);  // ignored
  EXPECT_EQ(calc.MaxSpeed(), 20);
  calc.SetMaxSpeed(0);
  calc.SetRelativeSpeed(0.5);
  EXPECT_EQ(calc.GetTime(0, 1), 60);
  calc.SetRelativeSpeed(0.005);
  calc.SetRelativeSpeed(1.5);
  EXPECT_EQ(calc.RelativeSpeed(), 0.5);
  calc.IsoCost(start);
  EXPECT_EQ(calc.NodeCost(end), 120);
  EXPECT_EQ(calc.RouteTime(calc.RouteFind(end)), 120);
}

TEST(Calc, SettingsAndFailuresRaiseTheirMessages) {
  TLineNetwork line(ParseLinks("0 0, 1 0; 1 0, 2 0"));
  TNetwork& net = line.net;
  TCalc calc(net);
  TBitArray wrongSize(2);
  struct TCase {
    const char* what;
    std::function<void()> call;
    const char* message;
  };
  const TCase cases[] = {
      {"cost index", [&] { calc.SetCost(0); },
       "Index (0) must be defined in Network object (CreateArrayCost)"},
      {"time index", [&] { calc.SetTime(-1); },
       "Index (-1) must be defined in Network object (CreateArrayTime)"},
      {"turn index", [&] { calc.SetTurn(3); },
       "Index (3) must be defined in Network object (CreateArrayTurn)"},
      {"fastest", [&] { calc.SetFastest(false); },
       "One or more timeslots points to a non-valid Time-Array"},
      {"cheapest", [&] { calc.SetCheapest(false); },
       "Call SetCostFT and SetCostTF to define Cost-Array"},
      {"skip size", [&] { calc.SetSkipLinkList(&wrongSize); }, "SkipLinkList has wrong size"},
      {"time read", [&] { calc.GetTime(0, 1); },
       "Index (0) must be defined in Network object (CreateArrayTime)"},
      {"route cost",
       [&] {
         TRoute route;
         route.nodes = {1, 2};
         route.links = {1};
         calc.RouteCost(route);
       },
       "Call SetCostFT and SetCostTF to define Cost-Array"},
      {"node", [&] { calc.IsoCost(4); }, "Node-ID must be =<3: 4"},
      {"turn mode", [&] { TCalc turns(net, true); },
       "Turn-mode searches are not available yet: create the calculator in node mode"},
  };
  for (const TCase& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.message) << c.what;
    }
  }
  EXPECT_EQ(calc.RouteCriteria(), rcDist);  // unchanged by the failed setters
  EXPECT_NO_THROW(calc.SetTurn(0));         // the network's first turn set

  // A network with a loop link is refused.
  TLineNetwork loop(ParseLinks("0 0, 1 0; 1 0, 2 1, 2 -1, 1 0"));
  TCalc loopCalc(loop.net);
  try {
    loopCalc.IsoCost(1);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Loop links are not allowed in the network");
  }
}

TEST(Calc, TreesEnterNoDriveThroughAreasButDoNotCrossThem) {
  TLineNetwork area(test::NoDriveThroughLinks());
  TCalc calc(area.net);
  const std::int32_t west = area.Node(-10, 0);
  calc.IsoCost(west);
  EXPECT_EQ(calc.NodeCost(area.Node(30, 0)), 40);
  calc.NoDriveThrough = true;
  calc.IsoCost(west);
  EXPECT_EQ(calc.NodeCost(area.Node(30, 0)), 80);  // around the area
  EXPECT_EQ(calc.NodeCost(area.Node(10, 0)), 20);  // inside it, entered from the west
  EXPECT_EQ(calc.RouteFind(area.Node(20, 0)).links, (std::vector<std::int32_t>{1, 4, 5, 6}));
}

TEST(Calc, CloneCalcCopiesTheSearchSettings) {
  TLineNetwork line(ParseLinks("0 0, 1 0; 1 0, 2 0; 2 0, 3 0"));
  TNetwork& net = line.net;
  net.CreateArrayCost(1);
  net.SetCost(0, 2, 7);
  TBitArray skip(4);
  skip.SetBit(3, true);
  TCalc calc(net);
  calc.SetCost(0);
  calc.SetCheapest(false);
  calc.SetSkipLinkList(&skip);
  calc.IgnoreOneway = true;
  calc.MaxCost = 100;
  auto copy = calc.CloneCalc();
  EXPECT_EQ(copy->RouteCriteria(), rcCost);
  EXPECT_EQ(copy->SkipLinkList(), &skip);
  EXPECT_TRUE(copy->IgnoreOneway);
  EXPECT_EQ(copy->MaxCost, 100);
  const std::int32_t start = line.Node(0, 0);
  copy->IsoCost(start);
  calc.IsoCost(start);
  EXPECT_EQ(copy->NodeCost(line.Node(2, 0)), 8);
  EXPECT_EQ(calc.NodeCost(line.Node(2, 0)), 8);
  EXPECT_EQ(copy->NodeCost(line.Node(3, 0)), InfiniteCost);
  // Each calculator keeps the labels of its own last search.
  copy->IsoCost(line.Node(3, 0));
  EXPECT_EQ(calc.NodeCost(line.Node(2, 0)), 8);
}

TEST(Calc, SmartInitNeedsTheSpatialIndex) {
  const auto links = ParseLinks("0 0, 1 0; 1 0, 2 0; 2 0, 2 1");
  TLineNetwork plain(links);
  TCalc without(plain.net);
  without.SetSmartInit(true);
  EXPECT_FALSE(without.SmartInit());

  TNetworkWriterOptions options;
  options.spatialIndex = true;
  const TNetworkDir dir(links, options);
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(true, true, true, 0);
  TCalc with(net);
  with.SetSmartInit(true);
  EXPECT_TRUE(with.SmartInit());
  with.IsoCost(test::NodeAt(net, 0, 0));
  EXPECT_FLOAT_EQ(with.NodeCost(test::NodeAt(net, 2, 1)), 0.003f);  // metres -> km
  with.SetSmartInit(false);
  EXPECT_FALSE(with.SmartInit());
}

TEST(Calc, LongSearchesReportProgressAndStopWhenCancelled) {
  test::TRoadNetworkOptions options;
  options.columns = 300;
  options.rows = 300;
  const TNetworkDir dir(test::GenerateRoadNetwork(options));
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(true, false, false, 0);
  TCalc calc(net);
  std::vector<int> reports;
  calc.OnProgress = [&](TProgress&, int percent, bool& cancel) {
    reports.push_back(percent);
    cancel = percent > 0;
  };
  calc.IsoCost(1);
  ASSERT_GE(reports.size(), 2u);  // the first report cancels, then the final 0
  EXPECT_GT(reports.front(), 0);
  EXPECT_EQ(reports.back(), 0);
  std::int32_t reached = 0;
  for (std::int32_t n = 1; n <= net.NodeCount(); ++n)
    reached += calc.NodeCost(n) < InfiniteCost;
  EXPECT_LT(reached, net.NodeCount());
  // The next search runs in full again.
  calc.OnProgress = nullptr;
  calc.IsoCost(1);
  reached = 0;
  for (std::int32_t n = 1; n <= net.NodeCount(); ++n)
    reached += calc.NodeCost(n) < InfiniteCost;
  EXPECT_GT(reached, 65536 + 1000);
}

}  // namespace
}  // namespace kvnet
