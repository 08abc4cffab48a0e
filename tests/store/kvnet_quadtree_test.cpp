#include "store/kvnet_quadtree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_io.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::TTempDir;
using test::WriteFileBytes;

// A cell as the index file describes it; children 1..4 in order, none for a leaf.
struct TCellLayout {
  TFloatRect rect;
  std::int32_t id = 0;
  std::vector<TCellLayout> children;
  std::vector<std::int32_t> nodes;
  std::vector<TSubLink> runs;
};

template <class T>
void Put(std::string& out, T v) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &v, sizeof(T));  // the test hosts are little-endian
  out.append(bytes, sizeof(T));
}

void PutCell(std::string& out, const TCellLayout& c) {
  Put(out, c.rect.xmin);
  Put(out, c.rect.ymin);
  Put(out, c.rect.xmax);
  Put(out, c.rect.ymax);
  Put(out, c.id);
  Put<std::uint8_t>(out, c.children.empty() ? 0 : 1);
  if (!c.children.empty()) {
    for (const TCellLayout& child : c.children)
      PutCell(out, child);
    return;
  }
  Put(out, static_cast<std::uint16_t>(c.nodes.size() + c.runs.size()));
  for (const std::int32_t n : c.nodes) {
    Put(out, n);
    Put<std::uint32_t>(out, 0);
  }
  for (const TSubLink& s : c.runs) {
    Put(out, s.Link);
    Put(out, s.sub1);
    Put(out, s.sub2);
  }
}

std::string IndexBytes(std::int32_t cellCount, const TCellLayout& root) {
  std::string out;
  Put(out, cellCount);
  PutCell(out, root);
  return out;
}

// Splits a leaf into its four quadrants, in the order north-east, north-west, south-west,
// south-east.
void Divide(TCellLayout& c) {
  const TFloatRect r = c.rect;
  const double xmid = r.xmin + (r.xmax - r.xmin) * 0.5;
  const double ymid = r.ymin + (r.ymax - r.ymin) * 0.5;
  c.children.resize(4);
  c.children[0].rect = {xmid, ymid, r.xmax, r.ymax};
  c.children[1].rect = {r.xmin, ymid, xmid, r.ymax};
  c.children[2].rect = {r.xmin, r.ymin, xmid, ymid};
  c.children[3].rect = {xmid, r.ymin, r.xmax, ymid};
}

// Gives ids in pre-order from next on; returns the number of cells.
std::int32_t Number(TCellLayout& c, std::int32_t& next) {
  c.id = next++;
  std::int32_t count = 1;
  for (TCellLayout& child : c.children)
    count += Number(child, next);
  return count;
}

// Root (0,0)-(10,10) split once: leaves 2 (NE), 3 (NW), 4 (SW), 5 (SE).
TCellLayout TwoLevelTree() {
  TCellLayout root;
  root.rect = {0, 0, 10, 10};
  Divide(root);
  root.children[0].nodes = {4};
  root.children[0].runs = {{7, 0, 2}};
  root.children[1].nodes = {3};
  root.children[2].nodes = {1};
  root.children[2].runs = {{7, 0, 1}, {8, 2, 5}};
  root.children[3].nodes = {2};
  std::int32_t next = 1;
  Number(root, next);
  return root;
}

// Divided `levels` times along the north-east corner, every other child a leaf.
TCellLayout ChainTree(int levels, std::int32_t& cellCount) {
  TCellLayout root;
  root.rect = {0, 0, 65536, 65536};
  TCellLayout* cell = &root;
  for (int level = 0; level < levels; ++level) {
    Divide(*cell);
    cell = &cell->children[0];
  }
  cell->nodes = {1};
  std::int32_t next = 1;
  cellCount = Number(root, next);
  return root;
}

void LoadBytes(TQuadTree& tree, const std::string& bytes) {
  TKVMemoryStream ms;
  ms.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  ms.SetPosition(0);
  tree.LoadFromStream(ms);
}

std::vector<std::int32_t> Ids(const TQuadTree& tree, TFloatRect r,
                              const TBitArray* visited = nullptr) {
  std::vector<std::int32_t> ids;
  tree.VisitLeaves(r, visited, [&](const TQuadTreeCell& leaf) { ids.push_back(leaf.ID); });
  return ids;
}

std::vector<std::int32_t> Items(const TIntegerListUnsorted& list) {
  return {list.begin(), list.end()};
}

std::vector<TSubLink> Items(const TSubLinkList& list) {
  return {list.begin(), list.end()};
}

TEST(QuadTree, SingleLeafLoadsFromDirectoryWithExactlySizedLists) {
  TCellLayout leaf;
  leaf.rect = {-1.5, 2, 3, 4.25};
  leaf.id = 1;
  leaf.nodes = {1, 2, 5};
  leaf.runs = {{1, 0, 3}, {2, 0, 1}, {2, 4, 6}};
  TTempDir dir;
  WriteFileBytes(dir.File("spatialindex.bin"), IndexBytes(1, leaf));

  TQuadTree tree;
  tree.SetDirectory(dir.Path().string());
  tree.Load();
  ASSERT_EQ(tree.CellCount(), 1);
  const TQuadTreeCell* root = tree.MainCell();
  ASSERT_NE(root, nullptr);
  EXPECT_FALSE(root->Divided);
  EXPECT_EQ(root->ID, 1);
  EXPECT_EQ(root->Rect.xmin, -1.5);
  EXPECT_EQ(root->Rect.ymin, 2);
  EXPECT_EQ(root->Rect.xmax, 3);
  EXPECT_EQ(root->Rect.ymax, 4.25);
  for (const auto& child : root->QTCellArray)
    EXPECT_EQ(child, nullptr);
  EXPECT_EQ(Items(root->nodes), leaf.nodes);
  EXPECT_EQ(Items(root->SLL), leaf.runs);
  EXPECT_EQ(root->nodes.Capacity(), 3);
  EXPECT_EQ(root->SLL.Capacity(), 3);
  EXPECT_EQ(tree.FindLeaf({100, -100}), root);
}

TEST(QuadTree, MissingOrCorruptFileInDirectoryNamesThePath) {
  TTempDir dir;
  TQuadTree tree;
  tree.SetDirectory(dir.Path().string());
  const std::string path = tree.Directory() + "spatialindex.bin";
  try {
    tree.Load();
    FAIL() << "missing file was accepted";
  } catch (const EFileMissing& e) {
    EXPECT_EQ(std::string(e.what()), "File is missing: " + path);
  }
  WriteFileBytes(path, std::string("\x01\x00", 2));
  try {
    tree.Load();
    FAIL() << "corrupt file was accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Spatial index " + path + " is corrupt: the file is too short for the cell count");
  }
}

TEST(QuadTree, TwoLevelTreeReadsFromStreamPositionInPreOrder) {
  const TCellLayout layout = TwoLevelTree();
  const std::string tree = IndexBytes(5, layout);
  const std::string prefix = "header";
  const std::string bytes = prefix + tree + "trailer";
  TKVMemoryStream ms;
  ms.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  ms.SetPosition(static_cast<std::int64_t>(prefix.size()));

  TQuadTree qt;
  qt.LoadFromStream(ms);
  EXPECT_EQ(ms.Position(), static_cast<std::int64_t>(prefix.size() + tree.size()));
  ASSERT_EQ(qt.CellCount(), 5);
  const TQuadTreeCell* root = qt.MainCell();
  ASSERT_TRUE(root->Divided);
  EXPECT_EQ(root->ID, 1);
  EXPECT_EQ(root->nodes.Count(), 0);
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const TQuadTreeCell* child = root->QTCellArray[i].get();
    const TCellLayout& expected = layout.children[i];
    ASSERT_NE(child, nullptr);
    EXPECT_FALSE(child->Divided);
    EXPECT_EQ(child->ID, static_cast<std::int32_t>(i) + 2);
    EXPECT_EQ(child->Rect.xmin, expected.rect.xmin);
    EXPECT_EQ(child->Rect.ymin, expected.rect.ymin);
    EXPECT_EQ(child->Rect.xmax, expected.rect.xmax);
    EXPECT_EQ(child->Rect.ymax, expected.rect.ymax);
    EXPECT_EQ(Items(child->nodes), expected.nodes);
    EXPECT_EQ(Items(child->SLL), expected.runs);
  }
}

TEST(QuadTree, FindLeafSendsPointsOnDividingLinesWestAndSouth) {
  TQuadTree qt;
  LoadBytes(qt, IndexBytes(5, TwoLevelTree()));
  const struct {
    TFloatPoint p;
    std::int32_t leaf;
  } cases[] = {
      {{7, 7}, 2},
      {{2, 7}, 3},
      {{2, 2}, 4},
      {{7, 2}, 5},
      {{5, 5}, 4},  // the centre goes south-west
      {{5, 7}, 3},
      {{5, 2}, 4},  // on the vertical line: west
      {{7, 5}, 5},
      {{2, 5}, 4},  // on the horizontal line: south
      {{5.000001, 5.000001}, 2},
      {{-50, 80}, 3},  // outside the root: by side of the centre
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.p.x << ", " << c.p.y);
    const TQuadTreeCell* leaf = qt.FindLeaf(c.p);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->ID, c.leaf);
  }
}

TEST(QuadTree, VisitLeavesUsesClosedOverlapInChildOrder) {
  TQuadTree qt;
  LoadBytes(qt, IndexBytes(5, TwoLevelTree()));
  const struct {
    TFloatRect r;
    std::vector<std::int32_t> leaves;
  } cases[] = {
      {{-1, -1, 11, 11}, {2, 3, 4, 5}},
      {{5, 5, 5, 5}, {2, 3, 4, 5}},  // the centre point touches all four
      {{5, 1, 6, 2}, {4, 5}},        // touches the south-west leaf at its eastern edge
      {{6, 6, 7, 7}, {2}},
      {{10, 10, 12, 12}, {2}},  // touches the root's corner
      {{10.5, 0, 12, 12}, {}},
      {{0, 0, 10, 4}, {4, 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.r.xmin << " " << c.r.ymin << " " << c.r.xmax << " " << c.r.ymax);
    EXPECT_EQ(Ids(qt, c.r), c.leaves);
  }
}

TEST(QuadTree, VisitLeavesSkipsVisitedCellsAndFollowsShrinkingRectangle) {
  TQuadTree qt;
  LoadBytes(qt, IndexBytes(5, TwoLevelTree()));
  const TFloatRect all{0, 0, 10, 10};

  TBitArray visited(qt.CellCount() + 1);
  visited.SetBit2(3, true);
  EXPECT_EQ(Ids(qt, all, &visited), (std::vector<std::int32_t>{2, 4, 5}));
  visited.SetBit2(1, true);  // the root covers everything below it
  EXPECT_EQ(Ids(qt, all, &visited), std::vector<std::int32_t>{});

  // After the first leaf the action shrinks the query to the south-west corner: leaf 3 and
  // leaf 5 no longer overlap it, leaf 4 does.
  TFloatRect r = all;
  std::vector<std::int32_t> seen;
  qt.VisitLeaves(r, nullptr, [&](const TQuadTreeCell& leaf) {
    seen.push_back(leaf.ID);
    r = {0, 0, 1, 1};
  });
  EXPECT_EQ(seen, (std::vector<std::int32_t>{2, 4}));
}

TEST(QuadTree, CloneIsADeepIndependentCopy) {
  TQuadTree qt;
  LoadBytes(qt, IndexBytes(5, TwoLevelTree()));
  TQuadTree copy;
  TCellLayout small;
  small.rect = {0, 0, 1, 1};
  small.id = 1;
  LoadBytes(copy, IndexBytes(1, small));  // replaced by the clone

  qt.Clone(copy);
  ASSERT_EQ(copy.CellCount(), 5);
  ASSERT_NE(copy.MainCell(), qt.MainCell());
  EXPECT_NE(copy.FindLeaf({2, 2}), qt.FindLeaf({2, 2}));

  LoadBytes(qt, IndexBytes(1, small));  // frees the original cells
  const TQuadTreeCell* leaf = copy.FindLeaf({2, 2});
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->ID, 4);
  EXPECT_EQ(Items(leaf->nodes), std::vector<std::int32_t>{1});
  EXPECT_EQ(Items(leaf->SLL), (std::vector<TSubLink>{{7, 0, 1}, {8, 2, 5}}));
  EXPECT_EQ(Ids(copy, {0, 0, 10, 10}), (std::vector<std::int32_t>{2, 3, 4, 5}));
}

TEST(QuadTree, ProgressFollowsStreamPositionAndEndsWithZero) {
  const std::string bytes = IndexBytes(5, TwoLevelTree());
  TQuadTree qt;
  std::vector<int> reports;
  qt.OnProgress = [&](TProgress&, int progress, bool&) { reports.push_back(progress); };
  LoadBytes(qt, bytes);
  EXPECT_EQ(qt.ProgressMaxValue(), static_cast<double>(bytes.size()));
  // One report per cell at its start (4 bytes in for the root), then the final zero.
  ASSERT_EQ(reports.size(), 6u);
  EXPECT_EQ(reports.front(), static_cast<int>(std::lround(400.0 / bytes.size())));
  for (std::size_t i = 1; i + 1 < reports.size(); ++i)
    EXPECT_GT(reports[i], reports[i - 1]);
  EXPECT_EQ(reports.back(), 0);
}

TEST(QuadTree, CancelledLoadLeavesUnreadSubtreesAbsent) {
  const std::string bytes = IndexBytes(5, TwoLevelTree());
  struct {
    int cancelAt;  // report number (1 = root) whose callback cancels
    std::vector<std::int32_t> leaves;
  } const cases[] = {{1, {}}, {3, {2, 3}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cancelAt);
    TQuadTree qt;
    int calls = 0;
    qt.OnProgress = [&](TProgress&, int, bool& cancel) {
      if (++calls == c.cancelAt) cancel = true;
    };
    LoadBytes(qt, bytes);
    ASSERT_NE(qt.MainCell(), nullptr);
    EXPECT_TRUE(qt.MainCell()->Divided);
    EXPECT_EQ(qt.CellCount(), 5);
    EXPECT_EQ(Ids(qt, {0, 0, 10, 10}), c.leaves);
    EXPECT_EQ(qt.FindLeaf({2, 2}), nullptr);  // leaf 4 was never read
  }
}

TEST(QuadTree, DivisionDeeperThanSixteenLevelsIsRefused) {
  std::int32_t count = 0;
  const TCellLayout sixteen = ChainTree(16, count);
  TQuadTree qt;
  LoadBytes(qt, IndexBytes(count, sixteen));
  ASSERT_EQ(qt.CellCount(), 65);
  const TQuadTreeCell* deepest = qt.FindLeaf({65535.5, 65535.5});
  ASSERT_NE(deepest, nullptr);
  EXPECT_EQ(Items(deepest->nodes), std::vector<std::int32_t>{1});
  EXPECT_EQ(deepest->Rect.xmax - deepest->Rect.xmin, 1.0);

  // The cells along the north-east chain have ids 1..18; cell 17 sits 16 levels down.
  const TCellLayout seventeen = ChainTree(17, count);
  const std::string deeper = IndexBytes(count, seventeen);
  try {
    LoadBytes(qt, deeper);
    FAIL() << "a tree of 17 levels was accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Spatial index stream is corrupt: cell 17 is divided below level 16");
  }
  EXPECT_EQ(qt.CellCount(), 65);  // the failed load kept the tree held before
}

TEST(QuadTree, CorruptFilesRaise) {
  const auto withLeaf = [](auto change) {
    TCellLayout root = TwoLevelTree();
    change(root.children[2]);
    return IndexBytes(5, root);
  };
  const auto withCount = [](std::int32_t count) { return IndexBytes(count, TwoLevelTree()); };
  const auto withRoot = [](auto change) {
    TCellLayout root = TwoLevelTree();
    change(root);
    return IndexBytes(5, root);
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::string leafCountTooLarge = withLeaf([](TCellLayout&) {});
  // The entry count of the last leaf (one node) claims two entries.
  leafCountTooLarge[leafCountTooLarge.size() - 10] = 2;

  const struct {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"empty", "", "the file is too short for the cell count"},
      {"count 0", withCount(0), "cell count 0 does not fit the file"},
      {"count -1", withCount(-1), "cell count -1 does not fit the file"},
      {"count huge", withCount(1000000), "cell count 1000000 does not fit the file"},
      {"count too small", withCount(4), "the tree holds more cells than its count 4"},
      {"count too large", withCount(6) + std::string(100, '\0'),
       "the tree holds 5 cells, its count says 6"},
      {"root id 2", withRoot([](TCellLayout& r) { r.id = 2; }), "cell id 2 where 1 was expected"},
      {"skipped id", withLeaf([](TCellLayout& l) { l.id = 5; }), "cell id 5 where 4 was expected"},
      {"leaf count beyond file", leafCountTooLarge,
       "leaf 5 holds 2 entries but only 8 bytes remain"},
      {"run sub2 = sub1", withLeaf([](TCellLayout& l) {
         l.runs[1] = {8, 3, 3};
       }),
       "run entry 3 of leaf 4 is invalid"},
      {"run sub2 < sub1", withLeaf([](TCellLayout& l) {
         l.runs[0] = {7, 2, 1};
       }),
       "run entry 2 of leaf 4 is invalid"},
      {"run link 0", withLeaf([](TCellLayout& l) {
         l.runs[0] = {0, 0, 1};
       }),
       "run entry 2 of leaf 4 is invalid"},
      {"run link negative", withLeaf([](TCellLayout& l) {
         l.runs[0] = {-7, 0, 1};
       }),
       "run entry 2 of leaf 4 is invalid"},
      {"node id 0", withLeaf([](TCellLayout& l) { l.nodes[0] = 0; }),
       "node entry 1 of leaf 4 is invalid"},
      {"node entry with sub1", withLeaf([](TCellLayout& l) {
         l.runs[0] = {7, 1, 0};
       }),
       "node entry 2 of leaf 4 is invalid"},
      {"NaN rectangle", withLeaf([&](TCellLayout& l) { l.rect.ymax = nan; }),
       "cell 4 has an invalid rectangle"},
      {"infinite rectangle", withRoot([&](TCellLayout& r) { r.rect.xmin = -inf; }),
       "cell 1 has an invalid rectangle"},
      {"inverted rectangle", withLeaf([](TCellLayout& l) { l.rect.xmin = 6; }),
       "cell 4 has an invalid rectangle"},
  };
  TQuadTree qt;
  LoadBytes(qt, IndexBytes(5, TwoLevelTree()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      LoadBytes(qt, c.bytes);
      ADD_FAILURE() << "corrupt file was accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("Spatial index stream is corrupt: ") + c.message);
    }
    EXPECT_EQ(qt.CellCount(), 5);
  }
}

TEST(QuadTree, EveryTruncationRaises) {
  const std::string bytes = IndexBytes(5, TwoLevelTree());
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE(length);
    TQuadTree qt;
    try {
      LoadBytes(qt, bytes.substr(0, length));
      ADD_FAILURE() << "a file cut short was accepted";
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find("Spatial index stream is corrupt: "), std::string::npos)
          << e.what();
    }
  }
}

TEST(QuadTree, CheckAgainstRefusesIdsBeyondTheNetwork) {
  TQuadTree qt;
  qt.CheckAgainst(0, 0);  // no tree held: nothing to check
  LoadBytes(qt, IndexBytes(5, TwoLevelTree()));
  qt.CheckAgainst(4, 8);
  EXPECT_THROW(
      {
        try {
          qt.CheckAgainst(3, 8);
        } catch (const Exception& e) {
          EXPECT_STREQ(e.what(),
                       "Spatial index stream is corrupt: leaf 2 holds node 4, the network has 3 "
                       "nodes");
          throw;
        }
      },
      Exception);
  EXPECT_THROW(qt.CheckAgainst(4, 7), Exception);
}

TEST(QuadTreeSubLinkList, IncSub2GrowsTheLastRunAndVertexcountSkipsNodeRecords) {
  TSubLinkList list;
  EXPECT_THROW(list.incsub2(), EOutOfRange);
  list.Add({3, 0, 1});
  list.Add({5, 0, 0});  // not a run
  list.Add({9, 4, 5});
  list.incsub2();
  EXPECT_EQ(list.Last(), (TSubLink{9, 4, 6}));
  EXPECT_EQ(list.Vertexcount(), 2 + 3);
  list.Add({9, 0, 65535});
  EXPECT_THROW(list.incsub2(), EOutOfRange);
  EXPECT_EQ(list.Vertexcount(), 5 + 65536);
}

}  // namespace
}  // namespace kvnet
