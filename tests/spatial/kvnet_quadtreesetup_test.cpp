// Building the spatial index: the split rules, the runs of segments in every leaf they touch
// (checked against exact segment clipping), the file written, and the guards of the builder.
#include "spatial/kvnet_quadtreesetup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_io.h"
#include "store/kvnet_network.h"
#include "store/kvnet_quadtree.h"
#include "support/kvnet_network_generator.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ParseLinks;
using test::TNetworkDir;
using test::TNetworkWriterOptions;

TNetworkWriterOptions IndexOptions(std::int32_t maxNodes, std::int64_t key = 0) {
  TNetworkWriterOptions options;
  options.spatialIndex = true;
  options.maxNodesPerCell = maxNodes;
  options.key = key;
  return options;
}

TQuadTree LoadTree(const TNetworkDir& dir) {
  TQuadTree tree;
  tree.SetDirectory(dir.Path());
  tree.Load();
  return tree;
}

void ForEachLeaf(const TQuadTreeCell& cell, const std::function<void(const TQuadTreeCell&)>& f) {
  if (!cell.Divided) {
    f(cell);
    return;
  }
  for (const auto& child : cell.QTCellArray)
    ForEachLeaf(*child, f);
}

// Whether the closed segment a-b meets the closed rectangle (Liang-Barsky clipping).
bool SegmentMeetsRect(const TFloatPoint& a, const TFloatPoint& b, const TFloatRect& r) {
  double t0 = 0;
  double t1 = 1;
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - r.xmin, r.xmax - a.x, a.y - r.ymin, r.ymax - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
  }
  return true;
}

TEST(QuadTreeSetup, SmallNetworkIsOneLeafWithEverything) {
  const TNetworkDir dir(test::SampleLinks(), IndexOptions(50));
  const std::string bytes = test::ReadFileBytes(dir.File("spatialindex.bin"));
  TKVMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadInt32(), 1);
  stream.SetPosition(4 + 32);
  EXPECT_EQ(stream.ReadInt32(), 1);  // the root's id
  EXPECT_EQ(stream.ReadByte(), 0);   // a leaf
  const TQuadTree tree = LoadTree(dir);
  const TQuadTreeCell& root = *tree.MainCell();
  EXPECT_EQ(root.nodes.Count(), 8);
  for (std::int32_t i = 0; i < root.nodes.Count(); ++i)
    EXPECT_EQ(root.nodes[i], i + 1);
  // One run per valid link, covering all its segments; the single-point link 8 is not there.
  std::vector<TSubLink> runs(root.SLL.begin(), root.SLL.end());
  EXPECT_EQ(runs, (std::vector<TSubLink>{{1, 0, 1},
                                         {2, 0, 1},
                                         {3, 0, 1},
                                         {4, 0, 1},
                                         {5, 0, 1},
                                         {6, 0, 2},
                                         {7, 0, 2},
                                         {9, 0, 3},
                                         {10, 0, 1},
                                         {11, 0, 1},
                                         {12, 0, 1}}));
  EXPECT_EQ(bytes.size(), 4u + 37 + 2 + 8 * (8 + 11));
}

TEST(QuadTreeSetup, LeavesHoldWhatLiesInThem) {
  test::TRoadNetworkOptions road;
  road.columns = 24;
  road.rows = 18;
  road.shapePointShare = 0.6;
  const auto links = test::GenerateRoadNetwork(road);
  const TNetworkDir dir(links, IndexOptions(6));
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(false, true, true, 0);
  const TQuadTree& tree = *net.Quadtree();
  ASSERT_GT(tree.CellCount(), 20);

  std::vector<int> seen(static_cast<std::size_t>(net.NodeCount()) + 1, 0);
  std::int32_t expectedId = 0;
  std::function<void(const TQuadTreeCell&)> ids = [&](const TQuadTreeCell& c) {
    EXPECT_EQ(c.ID, ++expectedId);  // pre-order numbering
    if (c.Divided) {
      for (const auto& child : c.QTCellArray)
        ids(*child);
    }
  };
  ids(*tree.MainCell());
  EXPECT_EQ(expectedId, tree.CellCount());

  ForEachLeaf(*tree.MainCell(), [&](const TQuadTreeCell& leaf) {
    EXPECT_LE(leaf.nodes.Count(), 6);
    for (std::int32_t i = 0; i < leaf.nodes.Count(); ++i) {
      const std::int32_t n = leaf.nodes[i];
      ++seen[static_cast<std::size_t>(n)];
      const TFloatPoint p = net.Node2Coordinate(n);
      // Nodes on a dividing line belong to the eastern or northern cell.
      EXPECT_TRUE(p.x >= leaf.Rect.xmin && p.y >= leaf.Rect.ymin) << n;
      EXPECT_TRUE(p.x <= leaf.Rect.xmax && p.y <= leaf.Rect.ymax) << n;
      if (i > 0) {
        EXPECT_LT(leaf.nodes[i - 1], n);
      }
    }
    // Every segment of every link is in exactly the leaves it meets, as maximal runs.
    std::vector<std::vector<bool>> inLeaf(static_cast<std::size_t>(net.LinkCount()) + 1);
    for (std::int32_t l = 1; l <= net.LinkCount(); ++l) {
      const TFloatPointArrayEx line = net.GetGISSection(l);
      inLeaf[static_cast<std::size_t>(l)].assign(static_cast<std::size_t>(line.Count), false);
    }
    const TSubLink* previous = nullptr;
    for (const TSubLink& run : leaf.SLL) {
      ASSERT_LT(run.sub1, run.sub2);
      if (previous != nullptr) {
        ASSERT_TRUE(previous->Link < run.Link ||
                    (previous->Link == run.Link && previous->sub2 < run.sub1));
      }
      previous = &run;
      for (std::int32_t s = run.sub1; s < run.sub2; ++s)
        inLeaf[static_cast<std::size_t>(run.Link)][static_cast<std::size_t>(s)] = true;
    }
    for (std::int32_t l = 1; l <= net.LinkCount(); ++l) {
      if (net.LinkLength(l) == 0) continue;
      const TFloatPointArrayEx line = net.GetGISSection(l);
      for (std::int32_t s = 0; s + 1 < line.Count; ++s) {
        const bool meets = SegmentMeetsRect(line.Pnt[static_cast<std::size_t>(s)],
                                            line.Pnt[static_cast<std::size_t>(s) + 1], leaf.Rect);
        EXPECT_EQ(inLeaf[static_cast<std::size_t>(l)][static_cast<std::size_t>(s)], meets)
            << "link " << l << " segment " << s << " leaf " << leaf.ID;
      }
    }
  });
  for (std::int32_t n = 1; n <= net.NodeCount(); ++n)
    EXPECT_EQ(seen[static_cast<std::size_t>(n)], 1) << n;
}

TEST(QuadTreeSetup, SplitRulesAtDividingLines) {
  // The root box -1000..1000, widened by 0.05 % to -1001..1001, divides at exactly 0.
  const TNetworkDir dir(
      ParseLinks("-1000 -1000, 0 0; 0 0, 1000 1000; -1000 1000, 0 -1000; 0 -1000, 1000 -1000"),
      IndexOptions(2));
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(false, true, true, 0);
  const TQuadTreeCell& root = *net.Quadtree()->MainCell();
  ASSERT_TRUE(root.Divided);
  ASSERT_EQ(root.QTCellArray[0]->Rect.xmin, 0);
  ASSERT_EQ(root.QTCellArray[0]->Rect.ymin, 0);
  const auto leafOf = [&](double x, double y) {
    const std::int32_t node = test::NodeAt(net, x, y);
    const TQuadTreeCell* found = nullptr;
    ForEachLeaf(root, [&](const TQuadTreeCell& leaf) {
      for (const std::int32_t n : leaf.nodes) {
        if (n == node) found = &leaf;
      }
    });
    return found;
  };
  // Nodes on a dividing line go east and north.
  EXPECT_GE(leafOf(0, 0)->Rect.xmin, 0);
  EXPECT_GE(leafOf(0, 0)->Rect.ymin, 0);
  EXPECT_GE(leafOf(0, -1000)->Rect.xmin, 0);
  EXPECT_LE(leafOf(0, -1000)->Rect.ymax, 0);
  // A segment ending on the dividing lines is stored on both sides of them.
  std::int32_t leavesWithLink = 0;
  const std::int32_t link = 1;  // -1000 -1000 -> 0 0
  ForEachLeaf(root, [&](const TQuadTreeCell& leaf) {
    for (const TSubLink& run : leaf.SLL)
      leavesWithLink += run.Link == link ? 1 : 0;
  });
  EXPECT_GE(leavesWithLink, 2);
}

TEST(QuadTreeSetup, EncipheredNetworkGivesTheSameIndex) {
  test::TRoadNetworkOptions road;
  road.columns = 12;
  road.rows = 12;
  const auto links = test::GenerateRoadNetwork(road);
  const TNetworkDir plain(links, IndexOptions(5));
  const TNetworkDir secret(links, IndexOptions(5, 987654321));
  EXPECT_EQ(test::ReadFileBytes(plain.File("spatialindex.bin")),
            test::ReadFileBytes(secret.File("spatialindex.bin")));
  TNetwork net;  // and the enciphered network opens with it
  net.SetDirectory(secret.Path());
  net.SetEncryptionKey(987654321);
  EXPECT_NO_THROW(net.Open(true, false, true, 0));

  // Built into a stream at its position.
  TQuadTreeSetup setup;
  setup.SetDirectory(plain.Path());
  setup.SetMaxNodesPerCell(5);
  TKVMemoryStream stream;
  stream.WriteInt32(77);
  setup.Build(0, &stream);
  stream.SetPosition(4);
  TQuadTree tree;
  tree.LoadFromStream(stream);
  EXPECT_EQ(tree.CellCount(), setup.CellCount());
  // The tree read back is the tree built: cells, rectangles, node and run lists in order.
  std::function<void(const TQuadTreeCell&, const TQuadTreeCell&)> same =
      [&](const TQuadTreeCell& a, const TQuadTreeCell& b) {
        ASSERT_EQ(a.ID, b.ID);
        ASSERT_EQ(a.Divided, b.Divided);
        EXPECT_EQ(a.Rect.xmin, b.Rect.xmin);
        EXPECT_EQ(a.Rect.ymax, b.Rect.ymax);
        EXPECT_TRUE(std::equal(a.nodes.begin(), a.nodes.end(), b.nodes.begin(), b.nodes.end()));
        EXPECT_TRUE(std::equal(a.SLL.begin(), a.SLL.end(), b.SLL.begin(), b.SLL.end()));
        if (a.Divided) {
          for (std::size_t i = 0; i < 4; ++i)
            same(*a.QTCellArray[i], *b.QTCellArray[i]);
        }
      };
  same(*setup.MainCell(), *tree.MainCell());
}

TEST(QuadTreeSetup, FullLeavesAreSplitFurther) {
  // 24000 short links: 72000 entries would not fit one leaf, although no cell holds more nodes
  // than the limit allows.
  std::vector<test::TSupportLink> links;
  for (int i = 0; i < 24000; ++i) {
    const double x = (i % 200) * 10.0;
    const double y = (i / 200) * 10.0;
    links.push_back({{{x, y}, {x + 3, y + 3}}, 0});
  }
  const TNetworkDir dir(links, IndexOptions(1000000));
  const TQuadTree tree = LoadTree(dir);
  ASSERT_TRUE(tree.MainCell()->Divided);
  std::int64_t nodes = 0;
  std::int64_t runs = 0;
  ForEachLeaf(*tree.MainCell(), [&](const TQuadTreeCell& leaf) {
    EXPECT_LE(leaf.nodes.Count() + leaf.SLL.Count(), 65535);
    nodes += leaf.nodes.Count();
    runs += leaf.SLL.Count();
  });
  EXPECT_EQ(nodes, 48000);
  EXPECT_GE(runs, 24000);
}

TEST(QuadTreeSetup, RefusesWhatCannotBeIndexed) {
  // 66000 links through one point: every cell around it holds them all, down to the last level.
  std::vector<test::TSupportLink> star;
  for (int i = 0; i < 66000; ++i) {
    const double a = 3.14159 * i / 66000;
    star.push_back({{{-std::cos(a), -std::sin(a)}, {std::cos(a), std::sin(a)}}, 0});
  }
  TNetworkWriterOptions noIndex;
  const TNetworkDir dir(star, noIndex);
  TQuadTreeSetup setup;
  setup.SetDirectory(dir.Path());
  setup.SetMaxNodesPerCell(100000);
  try {
    setup.Build(0);
    ADD_FAILURE() << "built";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("more than 65535"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("spatialindex.bin")));

  // A link joining a node that does not exist.
  const TNetworkDir small(ParseLinks("0 0, 1 1; 1 1, 2 0"), noIndex);
  std::string ends = test::ReadFileBytes(small.File("link.bin"));
  ends[4] = 9;
  test::WriteFileBytes(small.File("link.bin"), ends);
  TQuadTreeSetup broken;
  broken.SetDirectory(small.Path());
  EXPECT_THROW(broken.Build(0), Exception);
  std::filesystem::remove(small.File("coord.bin"));
  EXPECT_THROW(broken.Build(0), EFileMissing);
  EXPECT_THROW(broken.SetMaxNodesPerCell(0), EInvalidParameter);
}

TEST(QuadTreeSetup, CancelledBuildWritesNothing) {
  const TNetworkDir dir(test::SampleLinks());
  TQuadTreeSetup setup;
  setup.SetDirectory(dir.Path());
  setup.SetMaxNodesPerCell(1);
  setup.OnProgress = [](TProgress&, int, bool& cancel) { cancel = true; };
  setup.Build(0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("spatialindex.bin")));
}

}  // namespace
}  // namespace kvnet
