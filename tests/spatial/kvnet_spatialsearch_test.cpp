// Nearest and radius searches against brute-force scans of the whole network, on planar and
// geographic networks in both hemispheres, plus the tie rules, bearings and the guards.
#include "spatial/kvnet_spatialsearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>
#include <random>
#include <set>

#include "foundation/kvnet_exceptions.h"
#include "store/kvnet_network.h"
#include "store/kvnet_segmentgeometry.h"
#include "support/kvnet_network_generator.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ParseLinks;
using test::TNetworkDir;
using test::TNetworkWriterOptions;
using test::TSupportLink;

TNetworkWriterOptions IndexOptions(std::int32_t maxNodes, TCoordinateUnit unit = cuM) {
  TNetworkWriterOptions options;
  options.spatialIndex = true;
  options.maxNodesPerCell = maxNodes;
  options.unit = unit;
  return options;
}

struct TIndexedNetwork {
  TIndexedNetwork(const std::vector<TSupportLink>& links, const TNetworkWriterOptions& options)
      : dir(links, options) {
    net.SetDirectory(dir.Path());
    net.Open(true, true, true, 0);
  }
  std::int32_t Node(double x, double y) const { return test::NodeAt(net, x, y); }
  TNetworkDir dir;
  TNetwork net;
};

// A road network of about 700 links; in degrees it is moved to the given latitude.
std::vector<TSupportLink> RoadLinks(std::uint64_t seed, bool degrees, double latitude) {
  test::TRoadNetworkOptions road;
  road.seed = seed;
  road.columns = 19;
  road.rows = 19;
  road.shapePointShare = 0.5;
  auto links = test::GenerateRoadNetwork(road);
  if (degrees) {
    for (TSupportLink& link : links) {
      for (TFloatPoint& p : link.points)
        p = {12.5 + p.x * 1.3e-5, latitude + p.y * 0.9e-5};
    }
  }
  return links;
}

struct TCaseNetwork {
  const char* name;
  bool degrees;
  double latitude;
};

// Brute-force answers over every node and link of an open network.
class TBruteForce {
 public:
  explicit TBruteForce(const TNetwork& net) : FNet(net) {}

  double NodeDistance(const TFloatPoint& p, std::int32_t n) const {
    return UnitDistance(FNet.CoordinateUnit(), p, FNet.Node2Coordinate(n)) * FNet.DistFactor();
  }
  bool Valid(std::int32_t link) const { return FNet.LinkLength(link) != 0; }

  double NearestNodeDistance(const TFloatPoint& p, const TBitArray* skip,
                             std::set<std::int32_t>& nodes) const {
    double best = DBL_MAX;
    for (std::int32_t n = 1; n <= FNet.NodeCount(); ++n) {
      if (skip != nullptr && skip->GetBit(n)) continue;
      const double d = NodeDistance(p, n);
      if (d < best) nodes.clear();
      if (d <= best) {
        best = d;
        nodes.insert(n);
      }
    }
    return best;
  }

  double NearestLinkDistance(const TFloatPoint& p, const TBitArray* skip,
                             std::set<std::int32_t>& links) const {
    double best = DBL_MAX;
    for (std::int32_t l = 1; l <= FNet.LinkCount(); ++l) {
      if (!Valid(l) || (skip != nullptr && skip->GetBit(l))) continue;
      const double d = FNet.DistanceToLinkSimple(p, l);
      if (d < best) links.clear();
      if (d <= best) {
        best = d;
        links.insert(l);
      }
    }
    return best;
  }

  std::vector<std::int32_t> NodesWithin(const TFloatPoint& p, double radius) const {
    std::vector<std::int32_t> nodes;
    for (std::int32_t n = 1; n <= FNet.NodeCount(); ++n) {
      if (radius / FNet.DistFactor() >
          UnitDistance(FNet.CoordinateUnit(), p, FNet.Node2Coordinate(n))) {
        nodes.push_back(n);
      }
    }
    return nodes;
  }

  std::vector<std::int32_t> LinksWithin(const TFloatPoint& p, double radius) const {
    std::vector<std::int32_t> links;
    for (std::int32_t l = 1; l <= FNet.LinkCount(); ++l) {
      if (!Valid(l)) continue;
      const TFloatPointArrayEx line = FNet.GetGISSection(l);
      for (std::int32_t i = 1; i < line.Count; ++i) {
        const TSegmentHit hit =
            SegmentHit(FNet.CoordinateUnit(), line.Pnt[static_cast<std::size_t>(i) - 1],
                       line.Pnt[static_cast<std::size_t>(i)], p);
        if (radius / FNet.DistFactor() > hit.w) {
          links.push_back(l);
          break;
        }
      }
    }
    return links;
  }

  std::vector<std::int32_t> LinksWithVertexIn(const TFloatRect& r) const {
    std::vector<std::int32_t> links;
    for (std::int32_t l = 1; l <= FNet.LinkCount(); ++l) {
      if (!Valid(l)) continue;
      const TFloatPointArrayEx line = FNet.GetGISSection(l);
      for (std::int32_t i = 0; i < line.Count; ++i) {
        const TFloatPoint& q = line.Pnt[static_cast<std::size_t>(i)];
        if (r.xmin <= q.x && q.x <= r.xmax && r.ymin <= q.y && q.y <= r.ymax) {
          links.push_back(l);
          break;
        }
      }
    }
    return links;
  }

  double NearestVertexDistance(const TFloatPoint& p) const {
    double best = DBL_MAX;
    for (std::int32_t l = 1; l <= FNet.LinkCount(); ++l) {
      if (!Valid(l)) continue;
      const TFloatPointArrayEx line = FNet.GetGISSection(l);
      for (std::int32_t i = 0; i < line.Count; ++i)
        best = std::min(
            best, UnitDistance(FNet.CoordinateUnit(), p, line.Pnt[static_cast<std::size_t>(i)]) *
                      FNet.DistFactor());
    }
    return best;
  }

 private:
  const TNetwork& FNet;
};

std::vector<std::int32_t> Items(const TIntegerList& list) {
  return std::vector<std::int32_t>(list.begin(), list.end());
}

TEST(SpatialSearch, AgreesWithBruteForce) {
  const TCaseNetwork cases[] = {
      {"planar", false, 0},
      {"degrees north", true, 52.4},
      {"degrees south", true, -64.8},
  };
  for (const TCaseNetwork& c : cases) {
    SCOPED_TRACE(c.name);
    TIndexedNetwork fixture(RoadLinks(7, c.degrees, c.latitude),
                            IndexOptions(1, c.degrees ? cuDeg : cuM));
    const TNetwork& net = fixture.net;
    const TBruteForce brute(net);
    TSpatialSearch search(fixture.net);
    std::mt19937_64 random(2026);
    const TFloatRect box = net.MBR();
    std::uniform_real_distribution<double> ux(box.xmin, box.xmax);
    std::uniform_real_distribution<double> uy(box.ymin, box.ymax);
    const double span =
        UnitDistance(net.CoordinateUnit(), {box.xmin, box.ymin}, {box.xmax, box.ymax}) *
        net.DistFactor();
    std::uniform_real_distribution<double> radii(0, span / 6);
    TBitArray skipNodes(net.NodeCount() + 1);
    TBitArray skipLinks(net.LinkCount() + 1);
    for (int q = 0; q < 200; ++q) {
      SCOPED_TRACE(q);
      TFloatPoint p{ux(random), uy(random)};
      if (q % 10 == 0) p = net.Node2Coordinate(1 + q % net.NodeCount());  // exactly on a node
      const bool skipping = q % 3 == 0;
      if (skipping) {
        for (std::int32_t n = 1; n <= net.NodeCount(); ++n)
          skipNodes.SetBit(n, random() % 4 == 0);
        for (std::int32_t l = 1; l <= net.LinkCount(); ++l)
          skipLinks.SetBit(l, random() % 4 == 0);
      }
      search.SetSkipNodes(skipping ? &skipNodes : nullptr);
      search.SetSkipLinks(skipping ? &skipLinks : nullptr);

      std::set<std::int32_t> nodes;
      const double nodeDistance = brute.NearestNodeDistance(p, search.SkipNodes(), nodes);
      std::int32_t node = 0;
      double distance = 0;
      search.NearestNode(p, node, distance);
      EXPECT_EQ(distance, nodeDistance);
      EXPECT_TRUE(nodes.count(node)) << node;

      std::set<std::int32_t> links;
      const double linkDistance = brute.NearestLinkDistance(p, search.SkipLinks(), links);
      TLocation loc;
      std::int32_t side = 0;
      TFloatPoint pnew;
      search.NearestLocation(p, loc, side, distance, pnew);
      EXPECT_NEAR(distance, linkDistance, 1e-12 * std::max(1.0, linkDistance));
      ASSERT_TRUE(links.count(loc.link)) << loc.link;
      double percent = 0;
      std::int32_t side2 = 0;
      double distance2 = 0;
      TFloatPoint pnew2;
      net.DistanceToLink(p, loc.link, percent, side2, distance2, pnew2);
      EXPECT_NEAR(loc.percent, percent, 1e-12);
      EXPECT_EQ(side, side2);
      EXPECT_NEAR(pnew.x, pnew2.x, 1e-9);
      EXPECT_NEAR(pnew.y, pnew2.y, 1e-9);

      // Radius selections (no skip arrays, with and without the rectangle test).
      search.SetSkipNodes(nullptr);
      search.SetSkipLinks(nullptr);
      const double radius = radii(random);
      TIntegerList list;
      TBitArray ba;
      search.SetMBRselect(false);
      search.SelectNodes(p, radius, &list, &ba);
      EXPECT_EQ(Items(list), brute.NodesWithin(p, radius));
      EXPECT_EQ(ba.CountTrue(), list.Count());
      search.SelectLinks(p, radius, &list, ba);
      EXPECT_EQ(Items(list), brute.LinksWithin(p, radius));

      search.SetMBRselect(true);
      const TFloatRect rect = search.SearchRect(p, radius / net.DistFactor());
      search.SelectLinksList(p, radius, list);
      EXPECT_EQ(Items(list), brute.LinksWithVertexIn(rect));
      search.SelectNodesList(p, radius, list);
      std::vector<std::int32_t> inside;
      for (std::int32_t n = 1; n <= net.NodeCount(); ++n) {
        const TFloatPoint v = net.Node2Coordinate(n);
        if (rect.xmin <= v.x && v.x <= rect.xmax && rect.ymin <= v.y && v.y <= rect.ymax) {
          inside.push_back(n);
        }
      }
      EXPECT_EQ(Items(list), inside);
      search.SetMBRselect(false);

      search.SelectLinksInRect(rect, list);
      EXPECT_EQ(Items(list), brute.LinksWithVertexIn(rect));
      search.SelectNodesInRect(rect, list);
      std::vector<std::int32_t> found = Items(list);
      std::sort(found.begin(), found.end());
      EXPECT_EQ(found, inside);

      std::int32_t vertexLink = 0;
      std::int32_t vertexIndex = 0;
      search.NearestVertex(p, vertexLink, vertexIndex, distance);
      EXPECT_EQ(distance, brute.NearestVertexDistance(p));
      const TFloatPointArrayEx line = net.GetGISSection(vertexLink);
      EXPECT_EQ(
          UnitDistance(net.CoordinateUnit(), p, line.Pnt[static_cast<std::size_t>(vertexIndex)]) *
              net.DistFactor(),
          distance);
    }
  }
}

TEST(SpatialSearch, SearchRectangleCoversTheCircleInBothHemispheres) {
  for (const double latitude : {-70.0, -45.0, 0.0, 45.0, 70.0}) {
    SCOPED_TRACE(latitude);
    TIndexedNetwork fixture(RoadLinks(3, true, latitude), IndexOptions(8, cuDeg));
    TSpatialSearch search(fixture.net);
    const TFloatPoint p{12.55, latitude + 0.08};
    const double r = 0.002;  // radians: about 13 km
    const TFloatRect rect = search.SearchRect(p, r);
    const double f = std::numbers::pi / 180;
    for (int k = 0; k < 72; ++k) {
      const TFloatPoint q =
          sphere::Destination(p.x * f, p.y * f, k * std::numbers::pi / 36, r * 0.999999);
      EXPECT_TRUE(rect.xmin <= q.x / f && q.x / f <= rect.xmax) << k;
      EXPECT_TRUE(rect.ymin <= q.y / f && q.y / f <= rect.ymax) << k;
    }
  }
  // A circle around a pole covers every longitude.
  TIndexedNetwork polar(RoadLinks(3, true, 89.9), IndexOptions(8, cuDeg));
  TSpatialSearch search(polar.net);
  const TFloatRect rect = search.SearchRect({12.6, 89.95}, 0.002);
  EXPECT_EQ(rect.xmin, -DBL_MAX);
  EXPECT_EQ(rect.xmax, DBL_MAX);
}

TEST(SpatialSearch, TiesGoToTheHomeLeafThenToTheWalkOrder) {
  // Root -10..10 divides at 0; the query point (0, 0) lies in the south-west.
  TIndexedNetwork fixture(ParseLinks("-10 -10, -3 -4; 3 4, 10 10"), IndexOptions(1));
  TSpatialSearch search(fixture.net);
  std::int32_t node = 0;
  double distance = 0;
  search.NearestNode({0, 0}, node, distance);
  EXPECT_EQ(node, fixture.Node(-3, -4));  // not (3, 4), which the walk meets first
  EXPECT_DOUBLE_EQ(distance, 0.005);
  // Exactly on a node.
  search.NearestNode({10, 10}, node, distance);
  EXPECT_EQ(node, fixture.Node(10, 10));
  EXPECT_EQ(distance, 0);
}

TEST(SpatialSearch, PositionsOnLinks) {
  TIndexedNetwork fixture(ParseLinks("0 0, 100 0, 100 100; 500 500, 600 500"), IndexOptions(50));
  TSpatialSearch search(fixture.net);
  TLocation loc;
  std::int32_t side = 0;
  double distance = 0;
  TFloatPoint pnew;
  // Beyond the start of the link: its first point.
  search.NearestLocation({-30, -40}, loc, side, distance, pnew);
  EXPECT_EQ(loc.link, 1);
  EXPECT_EQ(loc.percent, 0);
  EXPECT_EQ(pnew, (TFloatPoint{0, 0}));
  EXPECT_DOUBLE_EQ(distance, 0.05);
  // On the link: distance 0, the point itself, side 1.
  search.NearestLocation({100, 50}, loc, side, distance, pnew);
  EXPECT_EQ(loc.link, 1);
  EXPECT_DOUBLE_EQ(loc.percent, 0.75);
  EXPECT_EQ(distance, 0);
  EXPECT_EQ(pnew, (TFloatPoint{100, 50}));
  EXPECT_EQ(side, 1);
  // Left of the digitised direction.
  search.NearestLocation({50, 10}, loc, side, distance, pnew);
  EXPECT_EQ(side, -1);
  EXPECT_DOUBLE_EQ(loc.percent, 0.25);

  TLocationList list;
  list.Add(TLocationListItem{{}, {590, 510}});
  list.Add(TLocationListItem{{}, {100, 120}});
  search.NearestLocationSimpleList(list);
  EXPECT_EQ(list[0].loc.link, 2);
  EXPECT_DOUBLE_EQ(list[0].loc.percent, 0.9);
  EXPECT_EQ(list[1].loc.link, 1);
  EXPECT_EQ(list[1].loc.percent, 1);
}

TEST(SpatialSearch, NearestLinkWeighsBearingAndOneWay) {
  auto links = ParseLinks("0 0, 100 0; 0 10, 100 10; 0 -30, 100 -30");
  links[0].attribute = 0x0200;  // one-way from-to
  links[2].attribute = 0x0600;  // closed: never a candidate
  TIndexedNetwork fixture(links, IndexOptions(50));
  TSpatialSearch search(fixture.net);
  // Travelling east (bearing 90) at (50, 2): the with-direction items first, nearest first.
  const TGPSMatchList matches = search.NearestLink({50, 2}, 90, 0.05);
  ASSERT_EQ(matches.Count(), 4);
  const auto check = [&](std::int32_t i, std::int32_t link, double difBearing, bool reverse,
                         bool mismatch) {
    SCOPED_TRACE(i);
    EXPECT_EQ(matches[i].Loc.link, link);
    EXPECT_DOUBLE_EQ(matches[i].DifBearing, difBearing);
    EXPECT_EQ(matches[i].Reverse, reverse);
    EXPECT_EQ(matches[i].OneWayMisMatch, mismatch);
    EXPECT_DOUBLE_EQ(matches[i].Loc.percent, 0.5);
  };
  check(0, 1, 0, false, false);
  check(1, 2, 0, false, false);
  check(2, 2, 180, true, false);
  check(3, 1, 180, true, true);  // against the one-way link: sorted last
  EXPECT_DOUBLE_EQ(matches[0].Distance, 0.002);
  EXPECT_DOUBLE_EQ(matches[1].Distance, 0.008);
  // Nothing within the radius.
  EXPECT_EQ(search.NearestLink({50, 15}, 90, 0.001).Count(), 0);
}

TEST(SpatialSearch, SearchesEndWhenNothingCanBeFound) {
  // All nodes on one line: the index has no height, and skipping every node leaves nothing.
  TIndexedNetwork fixture(ParseLinks("0 0, 10 0; 10 0, 20 0; 20 0, 30 0"), IndexOptions(1));
  TSpatialSearch search(fixture.net);
  std::int32_t node = 0;
  double distance = 0;
  search.NearestNode({2, 0}, node, distance);
  EXPECT_EQ(node, fixture.Node(0, 0));
  TBitArray all(fixture.net.NodeCount() + 1);
  all.SetAllTrue();
  search.SetSkipNodes(&all);
  search.NearestNode({2, 0}, node, distance);
  EXPECT_EQ(node, 0);
  TBitArray links(fixture.net.LinkCount() + 1);
  links.SetAllTrue();
  search.SetSkipLinks(&links);
  EXPECT_EQ(search.NearestLocationSimple({2, 0}).link, 0);
}

TEST(SpatialSearch, Guards) {
  TNetwork closed;
  TSpatialSearch onClosed(closed);
  EXPECT_THROW(onClosed.NearestNodeSimple({0, 0}), Exception);

  const TNetworkDir dir(test::SampleLinks());
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(true, true, false, 0);
  TSpatialSearch search(net);
  try {
    search.NearestNodeSimple({0, 0});
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Spatial index need to be open");
  }

  TIndexedNetwork indexed(test::SampleLinks(), IndexOptions(2));
  TSpatialSearch inside(indexed.net);
  EXPECT_THROW(inside.NearestNodeSimple({1e9, 0}), ECoordinateCheck);
}

}  // namespace
}  // namespace kvnet
