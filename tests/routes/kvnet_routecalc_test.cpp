#include "routes/kvnet_routecalc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_random.h"
#include "store/kvnet_network.h"
#include "support/kvnet_network_generator.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ParseLinks;
using test::TNetworkDir;

struct TOpenNetwork {
  TNetworkDir dir;
  TNetwork net;
  explicit TOpenNetwork(const std::vector<test::TSupportLink>& links) : dir(links) {
    net.SetDirectory(dir.Path());
    net.Open(true, true, false, 0);
  }
  std::int32_t Node(double x, double y) const { return test::NodeAt(net, x, y); }
};

TEST(RouteCalc, GoalDirectedRoutesCostWhatTheTreeSays) {
  // A generated street grid with one-way streets, and random speeds for the fastest routes.
  test::TRoadNetworkOptions options;
  options.columns = 40;
  options.rows = 40;
  TOpenNetwork grid(test::GenerateRoadNetwork(options));
  TNetwork& net = grid.net;
  net.CreateArrayTime(1);
  TRandom r;
  r.SetSeed(987654321);
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    net.SetSpeed(0, link, static_cast<float>(r.NextInt(40) + 60));
  }
  net.UpdateAlphas();
  TRouteCalc route(net);
  TCalc tree(net);
  std::int64_t compared = 0;
  for (const bool fastest : {false, true}) {
    if (fastest) {
      route.SetTime(0);
      route.SetFastest(false);
      tree.SetTime(0);
      tree.SetFastest(false);
    }
    for (int pair = 0; pair < 60; ++pair) {
      const std::int32_t s = net.RandomNode(r);
      const std::int32_t t = net.RandomNode(r);
      tree.IsoCost(s);
      const float expected = tree.NodeCost(t);
      const float cost = route.Route(s, t);
      if (expected >= InfiniteCost) {
        EXPECT_EQ(cost, -1);
        continue;
      }
      ASSERT_NEAR(cost, expected, 1e-6 * std::max(1.0f, expected)) << s << " -> " << t;
      const TRoute found = route.RouteFind(t);
      ASSERT_FALSE(found.links.empty() && s != t);
      EXPECT_EQ(found.nodes.front(), s);
      EXPECT_EQ(found.nodes.back(), t);
      EXPECT_NEAR(fastest ? route.RouteTime(found) : net.RouteLength(found), cost,
                  1e-5 * std::max(1.0f, cost));
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
}

TEST(RouteCalc, EndsSkipListsAndDeadEnds) {
  // A square A-B-C-D with a dead-end chain D-E-F, and an isolated link G-H.
  TOpenNetwork square(
      ParseLinks("0 0, 10 0; 10 0, 10 10; 10 10, 0 10; 0 10, 0 0; 0 10, -10 10; -10 10, -20 10; 50 "
                 "50, 60 50"));
  TNetwork& net = square.net;
  const std::int32_t a = square.Node(0, 0);
  const std::int32_t c = square.Node(10, 10);
  const std::int32_t f = square.Node(-20, 10);
  const std::int32_t g = square.Node(50, 50);
  TRouteCalc calc(net);
  EXPECT_EQ(calc.Route(a, a), 0);
  EXPECT_EQ(calc.RouteFind(a).nodes, (std::vector<std::int32_t>{a}));
  EXPECT_FLOAT_EQ(calc.Route(a, c), 0.02f);
  EXPECT_EQ(calc.Route(a, g), -1);
  EXPECT_TRUE(calc.RouteFind(g).nodes.empty());
  // A destination at the end of a dead end is reached; so is the way out of one.
  EXPECT_FLOAT_EQ(calc.Route(a, f), 0.03f);
  EXPECT_FLOAT_EQ(calc.Route(f, c), 0.03f);
  // Blocked nodes: the ends themselves give -1; a blocked node on the way forces the detour.
  TBitArray blocked(static_cast<std::int64_t>(net.NodeCount()) + 1);
  blocked.SetBit(square.Node(10, 0), true);
  calc.SetSkipNodeList(&blocked);
  EXPECT_FLOAT_EQ(calc.Route(a, c), 0.02f);  // around over D
  EXPECT_EQ(calc.RouteFind(c).nodes[1], square.Node(0, 10));
  EXPECT_EQ(calc.Route(a, square.Node(10, 0)), -1);
  TBitArray wrong(3);
  EXPECT_THROW(calc.SetSkipNodeList(&wrong), Exception);
  calc.SetSkipNodeList(nullptr);
  // Hierarchy thresholds must fall.
  calc.SetHierarchyLevel(10, 20, 5, 1);
  calc.SetHierarchyLevel(20, 10, 5, 1);
  calc.Hierarchy = true;
  calc.Lmax = 3;
  EXPECT_FLOAT_EQ(calc.Route(a, c), 0.02f);
  EXPECT_EQ(calc.Lmax, 3);  // the search's own level does not leak out
}

TEST(RouteCalc, NoDriveThroughAreasAreEnteredOnlyAtTheEnds) {
  TOpenNetwork net(test::NoDriveThroughLinks());
  TRouteCalc calc(net.net);
  const std::int32_t west = net.Node(-10, 0);
  const std::int32_t east = net.Node(30, 0);
  EXPECT_FLOAT_EQ(calc.Route(west, east), 0.04f);  // straight through
  calc.NoDriveThrough = true;
  EXPECT_FLOAT_EQ(calc.Route(west, east), 0.08f);  // around
  // A route that ends inside the area may enter it.
  EXPECT_FLOAT_EQ(calc.Route(west, net.Node(10, 0)), 0.02f);
}

}  // namespace
}  // namespace kvnet
