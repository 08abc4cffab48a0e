// Positions on links, sections, route polylines, turn angles, matrices and random positions.
// Planar cases use a small network in kilometres whose answers can be worked out by hand; the
// great-circle cases compare against tests/fixtures/geodesic/great_circle.txt, computed with
// GeographicLib by tools/geodesic_reference.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_random.h"
#include "store/kvnet_network.h"
#include "support/kvnet_network_writer.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::ParseLinks;
using test::TSupportLink;
using test::TTempDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A network written from polylines and opened with cached shape points.
struct TOpenNetwork {
  TOpenNetwork(const std::vector<TSupportLink>& links, TCoordinateUnit unit) {
    test::TNetworkWriterOptions options;
    options.unit = unit;
    info = test::WriteNetwork(dir.Path().string(), links, options);
    net.SetDirectory(dir.Path().string());
    net.Open(true, true, false, 0);
  }

  std::int32_t NodeAt(double x, double y) const {
    for (std::size_t n = 1; n < info.nodes.size(); ++n) {
      if (info.nodes[n] == TFloatPoint{x, y}) return static_cast<std::int32_t>(n);
    }
    ADD_FAILURE() << "no node at " << x << " " << y;
    return 0;
  }

  TTempDir dir;
  test::TNetworkWriterResult info;
  TNetwork net;
};

TFloatPointArrayEx Polyline(const std::string& text) {
  TFloatPointArrayEx list;
  list.Pnt = ParseLinks(text).at(0).points;
  list.Count = static_cast<std::int32_t>(list.Pnt.size());
  return list;
}

void ExpectPoints(const TFloatPointArrayEx& got, const std::string& expected,
                  double tolerance = 1e-12) {
  const std::vector<TFloatPoint> want =
      expected.empty() ? std::vector<TFloatPoint>{} : ParseLinks(expected).at(0).points;
  ASSERT_EQ(got.Count, static_cast<std::int32_t>(want.size())) << "expected " << expected;
  ASSERT_GE(got.Pnt.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(got.Pnt[i].x, want[i].x, tolerance) << "point " << i << " of " << expected;
    EXPECT_NEAR(got.Pnt[i].y, want[i].y, tolerance) << "point " << i << " of " << expected;
  }
}

// Links of the planar network (kilometres):
//   1 bent (0 0)-(10 0)-(10 10), turning left     2 (10 10)-(20 10), east
//   3 (10 10)-(0 10), west                          4 (10 10)-(10 20), north
//   5 (20 10)-(25 12)-(30 10), one shape point      6 non-valid (a single point)
//   7 a loop at (30 10)
class NetworkGeometryPlanar : public ::testing::Test {
 protected:
  NetworkGeometryPlanar()
      : Fixture(ParseLinks("0 0, 10 0, 10 10; 10 10, 20 10; 10 10, 0 10; 10 10, 10 20;"
                           "20 10, 25 12, 30 10; 7 7, 7 7; 30 10, 35 15, 35 5, 30 10"),
                cuKm),
        Net(Fixture.net) {}

  TOpenNetwork Fixture;
  TNetwork& Net;
};

TEST_F(NetworkGeometryPlanar, DistanceToLinkPicksNearestSegmentWithSideAndPercent) {
  struct TCase {
    std::int32_t link;
    TFloatPoint p;
    double percent;
    std::int32_t side;
    double distance;
    TFloatPoint pnew;
  };
  const double sqrt5 = std::sqrt(5.0);
  const TCase cases[] = {
      {1, {5, -3}, 0.25, 1, 3, {5, 0}},                 // right of the first segment
      {1, {5, 3}, 0.25, -1, 3, {5, 0}},                 // left of it
      {1, {5, 0}, 0.25, 1, 0, {5, 0}},                  // on the line: right
      {1, {10, 0}, 0.5, 1, 0, {10, 0}},                 // the vertex both segments share
      {1, {8, 2}, 0.4, -1, 2, {8, 0}},                  // as near to both segments: the earlier one
      {1, {12, 6}, 0.8, 1, 2, {10, 6}},                 // right of the second segment
      {1, {-3, -4}, 0, 1, 5, {0, 0}},                   // behind the from-node
      {1, {9, 12}, 1, -1, sqrt5, {10, 10}},             // beyond the to-node of the bent link
      {2, {25, 11}, 1, -1, std::sqrt(26.0), {20, 10}},  // beyond the to-node, straight link
      {5, {25, 12}, 0.5, 1, 0, {25, 12}},               // on the shape point
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "link " << c.link << " point " << c.p.x << " " << c.p.y);
    double percent = -1;
    std::int32_t side = 0;
    double distance = -1;
    TFloatPoint pnew{-99, -99};
    Net.DistanceToLink(c.p, c.link, percent, side, distance, pnew);
    EXPECT_NEAR(percent, c.percent, 1e-15);
    EXPECT_EQ(side, c.side);
    EXPECT_NEAR(distance, c.distance, 1e-12);
    EXPECT_NEAR(pnew.x, c.pnew.x, 1e-12);
    EXPECT_NEAR(pnew.y, c.pnew.y, 1e-12);
    EXPECT_EQ(Net.DistanceToLinkSimple(c.p, c.link), distance);
  }
}

TEST_F(NetworkGeometryPlanar, Location2CoordinateInterpolatesAndOffsetsToTheRight) {
  struct TCase {
    std::int32_t link;
    double percent;
    double offset;
    TFloatPoint p;
    double tolerance = 1e-12;
  };
  const TCase cases[] = {
      {1, 0.25, 0, {5, 0}},
      {1, 0.5, 0, {10, 0}},
      {1, 0.75, 0, {10, 5}},
      // The walk measures against the stored single-precision length (10.77 km).
      {5, 0.25, 0, {22.5, 11}, 1e-6},
      // Offsets: right of an eastward segment is south, of a northward one east.
      {1, 0.25, 2, {5, -2}},
      {1, 0.75, 1, {11, 5}},
      // On the vertex: the perpendicular of the segment ending there.
      {1, 0.5, 1, {10, -1}},
      // Negative: left; at the from-node the first segment counts, at the to-node the last.
      {1, 0, -1, {0, 1}},
      {1, 1, 1, {11, 10}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "link " << c.link << " at " << c.percent << " offset " << c.offset);
    const TFloatPoint p = Net.Location2Coordinate({c.link, c.percent}, c.offset);
    EXPECT_NEAR(p.x, c.p.x, c.tolerance);
    EXPECT_NEAR(p.y, c.p.y, c.tolerance);
  }
  // The ends are the node coordinates exactly.
  EXPECT_EQ(Net.Location2Coordinate({5, 0}, 0), (TFloatPoint{20, 10}));
  EXPECT_EQ(Net.Location2Coordinate({5, 1}, 0), (TFloatPoint{30, 10}));

  TLocationList ll;
  ll.Add2(1, 0.75);
  ll.Add2(2, 0.5);
  ll.Add2(5, 0.25);
  Net.Location2CoordinateList(ll, 1);
  for (const TLocationListItem& item : ll) {
    EXPECT_EQ(item.P, Net.Location2Coordinate(item.loc, 1));
  }
  EXPECT_NEAR(Net.DistanceBetweenLocations({1, 0.25}, {2, 0.5}), std::sqrt(200.0), 1e-12);
}

TEST_F(NetworkGeometryPlanar, ExtractSectionCopiesCutsAndReverses) {
  const TFloatPointArrayEx line = Polyline("0 0, 10 0, 10 10, 20 10");  // 30 km
  struct TCase {
    double start;
    double stop;
    const char* expected;
  };
  const TCase cases[] = {
      {0, 1, "0 0, 10 0, 10 10, 20 10"},
      {1, 0, "20 10, 10 10, 10 0, 0 0"},
      {0, 0.5, "0 0, 10 0, 10 5"},
      {0.5, 1, "10 5, 10 10, 20 10"},
      {0.1, 0.9, "3 0, 10 0, 10 10, 17 10"},
      {0.9, 0.1, "17 10, 10 10, 10 0, 3 0"},
      {0.1, 0.2, "3 0, 6 0"},
      {0, 0.6, "0 0, 10 0, 10 8"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " -> " << c.stop);
    ExpectPoints(Net.ExtractSection(line, c.start, c.stop), c.expected);
  }
  // A cut exactly at a vertex lies on the segment that starts there.
  ExpectPoints(Net.ExtractSection(Polyline("0 0, 10 0, 20 0"), 0, 0.5), "0 0, 10 0, 10 0");
  // Only the points in use count.
  TFloatPointArrayEx longer = Polyline("0 0, 10 0, 10 10, 99 99");
  longer.Count = 3;
  ExpectPoints(Net.ExtractSection(longer, 0, 1), "0 0, 10 0, 10 10");
  ExpectPoints(Net.ExtractSection(longer, 0.25, 0.75), "5 0, 10 0, 10 5");
  longer.Count = 5;
  EXPECT_THROW((void)Net.ExtractSection(longer, 0, 1), EInvalidParameter);
}

TEST_F(NetworkGeometryPlanar, ExtractSectionOfAZeroLengthLineGivesValidPolylines) {
  const TFloatPointArrayEx dot = Polyline("5 5, 5 5, 5 5");
  const std::pair<double, double> ranges[] = {{0.25, 0.75}, {0, 0.5}, {0.5, 1}, {0.75, 0.25}};
  for (const auto& [start, stop] : ranges) {
    SCOPED_TRACE(testing::Message() << start << " -> " << stop);
    const TFloatPointArrayEx part = Net.ExtractSection(dot, start, stop);
    ASSERT_GE(part.Count, 2);
    for (std::int32_t i = 0; i < part.Count; ++i) {
      EXPECT_EQ(part.Pnt[static_cast<std::size_t>(i)], (TFloatPoint{5, 5}));
    }
  }
}

TEST_F(NetworkGeometryPlanar, RoutePolylinesAndLengths) {
  const std::int32_t n00 = Fixture.NodeAt(0, 0);
  const std::int32_t n1010 = Fixture.NodeAt(10, 10);
  const std::int32_t n2010 = Fixture.NodeAt(20, 10);
  const std::int32_t n3010 = Fixture.NodeAt(30, 10);
  const double len1 = Fixture.info.length[1];
  const double len2 = Fixture.info.length[2];
  const double len5 = Fixture.info.length[5];
  struct TCase {
    const char* name;
    TRoute route;
    const char* polyline;
    double length;
  };
  const TCase cases[] = {
      {"node route",
       {{n00, n1010, n2010, n3010}, {1, 2, 5}, 0, 0},
       "0 0, 10 0, 10 10, 20 10, 25 12, 30 10",
       len1 + len2 + len5},
      {"node route against the links",
       {{n3010, n2010, n1010, n00}, {-5, -2, -1}, 0, 0},
       "30 10, 25 12, 20 10, 10 10, 10 0, 0 0",
       len1 + len2 + len5},
      {"single node", {{n00}, {}, 0, 0}, "0 0", 0},
      {"one link", {{}, {1}, 0.25, 0.75}, "5 0, 10 0, 10 5", 0.5 * len1},
      {"one link backwards", {{}, {-1}, 0.75, 0.25}, "10 5, 10 0, 5 0", 0.5 * len1},
      {"one link, no extent", {{}, {1}, 0.4, 0.4}, "", 0},
      {"several links",
       {{n1010, n2010}, {1, 2, 5}, 0.25, 0.25},
       "5 0, 10 0, 10 10, 20 10, 22.5 11",
       0.75 * len1 + len2 + 0.25 * len5},
      {"several links backwards",
       {{n2010, n1010}, {-5, -2, -1}, 0.25, 0.25},
       "22.5 11, 20 10, 10 10, 10 0, 5 0",
       0.25 * len5 + len2 + 0.75 * len1},
      {"start at the end of the first link", {{n1010}, {1, 2}, 1, 0.5}, "10 10, 15 10", 0.5 * len2},
      {"end at the start of the last link",
       {{n1010}, {1, 2}, 0.25, 0},
       "5 0, 10 0, 10 10",
       0.75 * len1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectPoints(Net.GetGISSectionRoute(c.route), c.polyline);
    EXPECT_NEAR(Net.RouteLength(c.route), c.length, 1e-12);
  }
}

TEST_F(NetworkGeometryPlanar, SplitPlacesPositionsByTheStepRule) {
  TLocationList ll;
  ll.Add2(3, 0.5);  // cleared first
  Net.Split(4, true, ll);
  // Links 1 (20 km: n = 6), 2, 3, 4 (10 km: n = 3), 5 (10.77 km: n = 3); 6 has no length.
  // The loop (24.1 km): n = 7.
  ASSERT_EQ(ll.Count(), 5 + 2 + 2 + 2 + 2 + 0 + 6);
  const double evenLink1[] = {1 / 6.0, 2 / 6.0, 3 / 6.0, 4 / 6.0, 5 / 6.0};
  for (std::int32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(ll[i].loc.link, 1);
    EXPECT_NEAR(ll[i].loc.percent, evenLink1[i], 1e-15);
  }
  EXPECT_EQ(ll[5].loc.link, 2);
  EXPECT_NEAR(ll[5].loc.percent, 1 / 3.0, 1e-15);
  for (std::int32_t i = 1; i < ll.Count(); ++i)
    EXPECT_LE(ll[i - 1].loc.link, ll[i].loc.link);
  for (const TLocationListItem& item : ll) {
    EXPECT_EQ(item.P, Net.Location2Coordinate(item.loc, 0));
  }

  // Without evening out the step is the distance itself: a length that is a multiple of it
  // puts the last position on the to-node.
  Net.Split(4, false, ll);
  const double stepLink1[] = {0.2, 0.4, 0.6, 0.8, 1.0};
  for (std::int32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(ll[i].loc.link, 1);
    EXPECT_NEAR(ll[i].loc.percent, stepLink1[i], 1e-15);
  }
  EXPECT_EQ(ll[4].P, (TFloatPoint{10, 10}));
  EXPECT_NEAR(ll[5].loc.percent, 0.4, 1e-15);
  EXPECT_NEAR(ll[6].loc.percent, 0.8, 1e-15);

  Net.Split(30, true, ll);  // longer than every link
  EXPECT_EQ(ll.Count(), 0);
}

TEST_F(NetworkGeometryPlanar, DirectionGivesTurnAngles) {
  const std::int32_t node = Fixture.NodeAt(10, 10);
  // Link 1 arrives at the node heading north.
  EXPECT_EQ(Net.Direction(1, node, 4), 0);    // straight on
  EXPECT_EQ(Net.Direction(1, node, 3), 90);   // left
  EXPECT_EQ(Net.Direction(1, node, 2), 270);  // right
  EXPECT_EQ(Net.Direction(1, node, 1), 180);  // U-turn
  // Link 2 arrives heading west (the node is its from-node); north is a right turn.
  EXPECT_EQ(Net.Direction(2, node, 4), 270);
  EXPECT_EQ(Net.Direction(2, node, 3), 0);
  // Onto link 5 from link 2 at (20 10): the shape point (25 12) gives atan(2/5) = 21.8 degrees.
  EXPECT_EQ(Net.Direction(2, Fixture.NodeAt(20, 10), 5), 22);
}

TEST_F(NetworkGeometryPlanar, MatricesAreSymmetricWithZeroDiagonalAndExtraRow) {
  TIntegerList nl;
  nl.Add(Fixture.NodeAt(0, 0));
  nl.Add(Fixture.NodeAt(10, 10));
  nl.Add(Fixture.NodeAt(20, 10));
  const TMatrix m = Net.Matrix(nl, true);
  const float d01 = static_cast<float>(std::sqrt(200.0));
  const float d02 = static_cast<float>(std::sqrt(500.0));
  const TMatrix expected = {{0, d01, d02, 0}, {d01, 0, 10, 0}, {d02, 10, 0, 0}, {0, 0, 0, 0}};
  EXPECT_EQ(m, expected);
  EXPECT_EQ(Net.Matrix(nl, false).size(), 3u);

  // Items with a coordinate use it; items without one use their location.
  TLocationList ll;
  ll.Add(TLocationListItem{{0, 0}, {3, 4}});
  ll.Add2(2, 0.5);  // (15 10)
  ll.Add2(1, 0);    // (0 0)
  const TMatrix md = Net.MatrixDyn(ll, false);
  const TMatrix mdExpected = {
      {0, static_cast<float>(std::sqrt(180.0)), 5},
      {static_cast<float>(std::sqrt(180.0)), 0, static_cast<float>(std::sqrt(325.0))},
      {5, static_cast<float>(std::sqrt(325.0)), 0}};
  EXPECT_EQ(md, mdExpected);
  EXPECT_EQ(Net.MatrixDyn(ll, true).size(), 4u);

  TLocationList cols;
  cols.Add2(4, 1);  // (10 20)
  const TMatrix rect = Net.MatrixDyn2(ll, cols);
  ASSERT_EQ(rect.size(), 3u);
  ASSERT_EQ(rect[0].size(), 1u);
  EXPECT_EQ(rect[1][0], static_cast<float>(std::sqrt(125.0)));
  EXPECT_EQ(rect[2][0], static_cast<float>(std::sqrt(500.0)));
}

TEST_F(NetworkGeometryPlanar, RandomPositionsSkipLinksWithoutLengthAndRepeat) {
  TRandom r1;
  TRandom r2;
  r1.SetSeed(987654321);
  r2.SetSeed(987654321);
  for (int i = 0; i < 2000; ++i) {
    const TLocation a = Net.RandomLocation(r1);
    const TLocation b = Net.RandomLocation(r2);
    ASSERT_NE(a.link, 6);
    ASSERT_GE(a.link, 1);
    ASSERT_LE(a.link, Net.LinkCount());
    ASSERT_GE(a.percent, 0);
    ASSERT_LT(a.percent, 1);
    ASSERT_EQ(a.link, b.link);
    ASSERT_EQ(a.percent, b.percent);
  }
  // RandomPoint draws the offset first, then the location.
  TRandom r3;
  r1.SetSeed(42);
  r3.SetSeed(42);
  for (int i = 0; i < 50; ++i) {
    const TFloatPoint p = Net.RandomPoint(r1);
    const double x = r3.NextDouble();
    const TLocation loc = Net.RandomLocation(r3);
    ASSERT_EQ(p, Net.Location2Coordinate(loc, x * 0.01));
  }
}

TEST_F(NetworkGeometryPlanar, BadArgumentsRaiseTheirMessages) {
  const std::int32_t node = Fixture.NodeAt(10, 10);
  const std::int32_t loopNode = Fixture.NodeAt(30, 10);
  const TFloatPointArrayEx line = Polyline("0 0, 10 0");
  double percent = 0;
  double distance = 0;
  std::int32_t side = 0;
  TFloatPoint pnew;
  TLocationList empty;
  TLocationList ll;
  TIntegerList nodes;
  nodes.Add(1);
  nodes.Add(99);
  struct TCase {
    const char* name;
    std::function<void()> call;
    std::type_index type;
    std::string message;
  };
  const TCase cases[] = {
      {"non-valid link",
       [&] {
         Net.DistanceToLink({1, 1}, 6, percent, side, distance, pnew);
       },
       typeid(Exception), "Link 6 is a non-valid link"},
      {"link 0",
       [&] {
         (void)Net.DistanceToLinkSimple({1, 1}, 0);
       },
       typeid(EOutOfRange), "Link-ID must be >=1: 0"},
      {"link too large",
       [&] {
         (void)Net.DistanceToLinkSimple({1, 1}, 8);
       },
       typeid(EOutOfRange), "Link-ID must be <=7: 8"},
      {"coordinate NaN",
       [&] {
         (void)Net.DistanceToLinkSimple({kNaN, 1}, 1);
       },
       typeid(ECoordinateCheck), "(NAN , 1) are not valid coordinates"},
      {"coordinate outside",
       [&] {
         (void)Net.DistanceToLinkSimple({1000, 1000}, 1);
       },
       typeid(ECoordinateCheck), "Coordinates (1000 , 1000) are beyond search area"},
      {"location percent",
       [&] {
         (void)Net.Location2Coordinate({1, 1.5}, 0);
       },
       typeid(EOutOfRange), "Percentage must be 0<=percent<=1: 1.50"},
      {"location percent NaN",
       [&] {
         (void)Net.Location2Coordinate({1, kNaN}, 0);
       },
       typeid(EOutOfRange), "Percentage must be 0<=percent<=1: NAN"},
      {"location on non-valid link",
       [&] {
         (void)Net.Location2Coordinate({6, 0.5}, 0);
       },
       typeid(Exception), "Location (link 6), is a non-valid link"},
      {"offset NaN",
       [&] {
         (void)Net.Location2Coordinate({1, 0.5}, kNaN);
       },
       typeid(EInvalidParameter), "Offset must be a finite number: NAN"},
      {"between locations",
       [&] {
         (void)Net.DistanceBetweenLocations({1, 0.5}, {0, 0.5});
       },
       typeid(EOutOfRange), "Link-ID must be >=1: 0"},
      {"section start = stop", [&] { (void)Net.ExtractSection(line, 0.3, 0.3); },
       typeid(EWrongPercent), "Start and Stop percent need to be different"},
      {"section stop > 1", [&] { (void)Net.ExtractSection(line, 0.3, 1.5); }, typeid(EWrongPercent),
       "Percent need to be from 0 to 1"},
      {"section start < 0", [&] { (void)Net.ExtractSection(line, -0.1, 0.5); },
       typeid(EWrongPercent), "Percent need to be from 0 to 1"},
      {"section NaN", [&] { (void)Net.ExtractSection(line, kNaN, 0.5); }, typeid(EWrongPercent),
       "Percent need to be from 0 to 1"},
      {"direction, link 1 not at node", [&] { (void)Net.Direction(1, Fixture.NodeAt(20, 10), 2); },
       typeid(Exception),
       "Link 1 and node " + std::to_string(Fixture.NodeAt(20, 10)) + " are not connected"},
      {"direction, link 2 not at node", [&] { (void)Net.Direction(1, node, 5); }, typeid(Exception),
       "Link 5 and node " + std::to_string(node) + " are not connected"},
      {"direction, same loop twice", [&] { (void)Net.Direction(7, loopNode, 7); },
       typeid(Exception), "Link 7 and node " + std::to_string(loopNode) + " are not connected"},
      {"split distance 0", [&] { Net.Split(0, true, ll); }, typeid(EInvalidParameter),
       "Split distance must be greater than 0: 0"},
      {"matrix, node out of range", [&] { (void)Net.Matrix(nodes, false); }, typeid(EOutOfRange),
       "Node at index 1 in list, 99, must be between 1 and " + std::to_string(Net.NodeCount())},
      {"matrix, empty list", [&] { (void)Net.MatrixDyn(empty, false); }, typeid(Exception),
       "Locationlist is empty"},
      {"location list, bad item",
       [&] {
         TLocationList bad;
         bad.Add2(1, 0.5);
         bad.Add2(6, 0.5);
         Net.Location2CoordinateList(bad, 0);
       },
       typeid(Exception), "Location (link) at index 1 in list, 6, is a non-valid link"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(std::type_index(typeid(e)), c.type);
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

TEST_F(NetworkGeometryPlanar, InconsistentRoutesAreRefused) {
  const std::int32_t n00 = Fixture.NodeAt(0, 0);
  const std::int32_t n1010 = Fixture.NodeAt(10, 10);
  struct TCase {
    const char* name;
    TRoute route;
    std::string message;
  };
  const TCase cases[] = {
      {"empty", {}, "Route is empty"},
      {"node count", {{n00, n1010}, {1, 2}, 0, 0}, "Route with 2 links cannot have 2 nodes"},
      {"link 0", {{n00, n1010}, {0}, 0, 0}, "Link-ID must be >=1: 0"},
      {"link out of range", {{}, {99}, 0, 1}, "Link-ID must be <=7: 99"},
      {"smallest link number",
       {{}, {std::numeric_limits<std::int32_t>::min()}, 0, 1},
       "Link-ID must be >=1: -2147483648"},
      {"non-valid link", {{n00, n1010}, {-6}, 0, 0}, "Link 6 is a non-valid link"},
      {"node 0", {{0, n1010}, {1}, 0, 0}, "Node-ID must be >=1: 0"},
      {"percent NaN", {{}, {1}, kNaN, 0.5}, "Percent need to be from 0 to 1"},
      {"percent above 1", {{n1010}, {1, 2}, 0.5, 2}, "Percent need to be from 0 to 1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (int call = 0; call < 2; ++call) {
      try {
        if (call == 0) {
          (void)Net.GetGISSectionRoute(c.route);
        } else {
          (void)Net.RouteLength(c.route);
        }
        ADD_FAILURE() << "no exception from call " << call;
      } catch (const Exception& e) {
        EXPECT_EQ(e.what(), c.message) << "call " << call;
      }
    }
  }
}

TEST(NetworkGeometry, ClosedNetworkRefusesQueries) {
  TNetwork net;
  TRandom r;
  EXPECT_THROW((void)net.RandomLocation(r), ENetworkIsClosed);
  EXPECT_THROW((void)net.ExtractSection(Polyline("0 0, 1 1"), 0, 1), ENetworkIsClosed);
  EXPECT_THROW((void)net.Location2Coordinate({1, 0.5}, 0), ENetworkIsClosed);
  EXPECT_THROW((void)net.DistanceToLinkSimple({0, 0}, 1), ENetworkIsClosed);
}

// ---- great-circle reference

struct TReference {
  // Each row: the numbers before '|' and after it.
  std::map<std::string, std::vector<std::pair<std::vector<double>, std::vector<double>>>> rows;
};

const TReference& Reference() {
  static const TReference reference = [] {
    TReference ref;
    std::ifstream in(test::FixturePath("geodesic/great_circle.txt"));
    EXPECT_TRUE(in) << "missing fixture geodesic/great_circle.txt";
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      if (line[0] == '[') {
        section = line.substr(1, line.find(']') - 1);
        continue;
      }
      const std::size_t bar = line.find('|');
      std::istringstream left(line.substr(0, bar));
      std::istringstream right(line.substr(bar + 1));
      std::vector<double> in1;
      std::vector<double> out1;
      for (double v = 0; left >> v;)
        in1.push_back(v);
      for (double v = 0; right >> v;)
        out1.push_back(v);
      ref.rows[section].emplace_back(in1, out1);
    }
    return ref;
  }();
  return reference;
}

// A network in degrees of straight links, each given by its two ends; repeated links are
// written once.
struct TSphereNetwork {
  explicit TSphereNetwork(const std::vector<std::pair<TFloatPoint, TFloatPoint>>& lines) {
    std::vector<TSupportLink> links;
    for (const auto& line : lines) {
      if (std::find(ends.begin(), ends.end(), line) != ends.end()) continue;
      ends.push_back(line);
      links.push_back({{line.first, line.second}});
    }
    fx = std::make_unique<TOpenNetwork>(links, cuDeg);
    fx->net.SetCoordinateWindow(-1);  // points all over the globe
  }

  std::int32_t LinkOf(const TFloatPoint& a, const TFloatPoint& b) const {
    const auto it = std::find(ends.begin(), ends.end(), std::make_pair(a, b));
    EXPECT_NE(it, ends.end()) << "no link";
    return static_cast<std::int32_t>(it - ends.begin()) + 1;
  }

  std::vector<std::pair<TFloatPoint, TFloatPoint>> ends;  // of link 1, 2, ...
  std::unique_ptr<TOpenNetwork> fx;
};

// The links A->B of the rows of a section, and B->C too for the turn rows.
std::vector<std::pair<TFloatPoint, TFloatPoint>> LinksOf(const std::string& section) {
  std::vector<std::pair<TFloatPoint, TFloatPoint>> lines;
  for (const auto& [in, out] : Reference().rows.at(section)) {
    lines.emplace_back(TFloatPoint{in[0], in[1]}, TFloatPoint{in[2], in[3]});
    if (section == "turn") lines.emplace_back(TFloatPoint{in[2], in[3]}, TFloatPoint{in[4], in[5]});
  }
  return lines;
}

TEST(NetworkGeometrySphere, DistanceBetweenPointsMatchesGeodesics) {
  const TSphereNetwork sphere(LinksOf("segment"));
  const auto& rows = Reference().rows.at("distance");
  ASSERT_GE(rows.size(), 10u);
  for (const auto& [in, out] : rows) {
    const double d = sphere.fx->net.DistanceBetweenPoints({in[0], in[1]}, {in[2], in[3]});
    // 1e-9 relative; for the pair below a metre apart the reference itself is good to about a
    // nanometre, so that pair is held to 2 nanometres.
    EXPECT_NEAR(d, out[0], std::max(out[0] * 1e-9, 2e-12))
        << in[0] << " " << in[1] << " " << in[2] << " " << in[3];
  }
}

TEST(NetworkGeometrySphere, DistanceToLinkMatchesGeodesics) {
  const TSphereNetwork sphere(LinksOf("segment"));
  const TNetwork& net = sphere.fx->net;
  const auto& rows = Reference().rows.at("segment");
  ASSERT_GE(rows.size(), 15u);
  for (const auto& [in, out] : rows) {
    SCOPED_TRACE(testing::Message() << "A " << in[0] << " " << in[1] << " B " << in[2] << " "
                                    << in[3] << " P " << in[4] << " " << in[5]);
    const std::int32_t link = sphere.LinkOf({in[0], in[1]}, {in[2], in[3]});
    double percent = -1;
    double distance = -1;
    std::int32_t side = 0;
    TFloatPoint pnew;
    net.DistanceToLink({in[4], in[5]}, link, percent, side, distance, pnew);
    const double refDistance = out[0];
    const double refPercent = out[1] / out[2];
    const TFloatPoint refPoint{out[3], out[4]};
    EXPECT_NEAR(distance, refDistance, refDistance * 1e-9);
    EXPECT_NEAR(percent, refPercent, 1e-11);
    // The nearest point within 10 nanometres (measured on the sphere, so that longitudes of
    // -180 and 180 agree).
    EXPECT_LT(net.DistanceBetweenPoints(pnew, refPoint), 1e-11);
    EXPECT_EQ(side, static_cast<std::int32_t>(out[5]));
  }
}

TEST(NetworkGeometrySphere, OffsetsMoveLeftAlongTheGreatCircle) {
  const TSphereNetwork sphere(LinksOf("offset"));
  const TNetwork& net = sphere.fx->net;
  for (const auto& [in, out] : Reference().rows.at("offset")) {
    SCOPED_TRACE(testing::Message() << "A " << in[0] << " " << in[1] << " B " << in[2] << " "
                                    << in[3] << " offset " << in[4]);
    const std::int32_t link = sphere.LinkOf({in[0], in[1]}, {in[2], in[3]});
    const TFloatPoint p0 = net.Location2Coordinate({link, 0}, in[4]);
    const TFloatPoint p1 = net.Location2Coordinate({link, 1}, in[4]);
    EXPECT_LT(net.DistanceBetweenPoints(p0, {out[0], out[1]}), 1e-11);
    EXPECT_LT(net.DistanceBetweenPoints(p1, {out[2], out[3]}), 1e-11);
  }
}

TEST(NetworkGeometrySphere, DirectionMatchesGeodesicCourses) {
  const TSphereNetwork sphere(LinksOf("turn"));
  const TNetwork& net = sphere.fx->net;
  for (const auto& [in, out] : Reference().rows.at("turn")) {
    SCOPED_TRACE(testing::Message() << "B " << in[2] << " " << in[3]);
    const std::int32_t link1 = sphere.LinkOf({in[0], in[1]}, {in[2], in[3]});
    const std::int32_t link2 = sphere.LinkOf({in[2], in[3]}, {in[4], in[5]});
    EXPECT_EQ(net.Direction(link1, net.Link2ToNode(link1), link2),
              static_cast<std::int32_t>(out[0]));
  }
}

TEST(NetworkGeometrySphere, SectionsAcrossTheAntimeridianTakeTheShortWay) {
  const TSphereNetwork sphere({{{179.5, 10.0}, {-179.5, 11.0}}});
  const TNetwork& net = sphere.fx->net;
  const TFloatPoint mid = net.Location2Coordinate({1, 0.5}, 0);
  EXPECT_GT(std::fabs(mid.x), 179.5);
  const TFloatPointArrayEx part = net.ExtractSection(net.GetGISSection(1), 0.25, 0.75);
  ASSERT_EQ(part.Count, 2);
  for (const TFloatPoint& p : part.Pnt)
    EXPECT_GT(std::fabs(p.x), 179.5);
}

}  // namespace
}  // namespace kvnet
