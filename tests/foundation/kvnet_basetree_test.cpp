#include "foundation/kvnet_basetree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {
namespace {

class TIntTree : public TBalancedTree<std::int32_t> {
 public:
  int CompareKeys(const std::int32_t& a, const std::int32_t& b) const override {
    return a < b ? -1 : (a > b ? 1 : 0);
  }
};

class TWordTree : public TBalancedTree<std::string> {
 public:
  int CompareKeys(const std::string& a, const std::string& b) const override {
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
};

// Checks the AVL shape below node p and returns its height: each balance factor equals the real
// height difference and lies in -1..1, keys ascend in order, and every node is reached once.
template <class T>
int CheckSubtree(const TBalancedTree<T>& tree, std::int32_t p, std::vector<std::int32_t>& order) {
  if (p == 0) return 0;
  const TTreeNode<T>& node = tree.Node(p);
  const int hl = CheckSubtree(tree, node.left, order);
  order.push_back(p);
  const int hr = CheckSubtree(tree, node.right, order);
  EXPECT_EQ(node.bal, hr - hl) << "node " << p;
  EXPECT_LE(std::abs(hr - hl), 1) << "node " << p;
  return std::max(hl, hr) + 1;
}

// Returns the tree height after checking the whole tree.
template <class T>
int CheckAvl(const TBalancedTree<T>& tree) {
  std::vector<std::int32_t> order;
  const int height = CheckSubtree(tree, tree.Root(), order);
  EXPECT_EQ(static_cast<std::int32_t>(order.size()), tree.Count());
  for (std::size_t k = 1; k < order.size(); ++k) {
    EXPECT_LT(tree.CompareKeys(tree.Node(order[k - 1]).key, tree.Node(order[k]).key), 0);
  }
  std::vector<std::int32_t> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_TRUE(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end());
  return height;
}

TEST(BalancedTree, DoubleRotationsAtTheRoot) {
  // 3, 1, 2 rotates left-right; 1, 3, 2 right-left; both end with 2 at the root.
  for (const std::vector<std::int32_t>& keys : {std::vector<std::int32_t>{3, 1, 2}, {1, 3, 2}}) {
    TIntTree tree;
    for (const std::int32_t k : keys)
      tree.Add(k);
    ASSERT_EQ(tree.Count(), 3);
    const TTreeNode<std::int32_t> root = tree.GetItem(tree.Root());
    EXPECT_EQ(root.key, 2);
    EXPECT_EQ(root.bal, 0);
    EXPECT_EQ(tree.Root(), 3);  // node numbers follow the order of first insertion
    EXPECT_EQ(tree.Node(root.left).key, 1);
    EXPECT_EQ(tree.Node(root.right).key, 3);
    EXPECT_EQ(tree.Node(root.left).bal, 0);
    EXPECT_EQ(tree.Node(root.right).bal, 0);
    tree.CreateID();
    for (const std::int32_t k : {1, 2, 3})
      EXPECT_EQ(tree.GetItem(tree.IndexOf(k)).id, k - 1);
  }
}

TEST(BalancedTree, DuplicatesAndAbsentKeys) {
  TIntTree tree;
  EXPECT_EQ(tree.Root(), 0);
  EXPECT_EQ(tree.Count(), 0);
  EXPECT_EQ(tree.MaxItemCount(), 1);
  EXPECT_EQ(tree.IndexOf(5), -1);
  tree.CreateID();  // nothing to number

  for (int k = 0; k < 3; ++k)
    tree.Add(5);
  EXPECT_EQ(tree.Count(), 1);
  EXPECT_EQ(tree.GetItem(tree.IndexOf(5)).ItemCount, 3);
  EXPECT_EQ(tree.MaxItemCount(), 3);
  tree.Add(4);
  tree.Add(4);
  EXPECT_EQ(tree.MaxItemCount(), 3);  // a smaller count leaves the maximum alone
  EXPECT_EQ(tree.GetItem(tree.IndexOf(4)).ItemCount, 2);
  EXPECT_EQ(tree.IndexOf(6), -1);
  EXPECT_EQ(tree.IndexOf(3), -1);
}

TEST(BalancedTree, NodeNumbersOutsideTheTreeRaise) {
  TIntTree tree;
  tree.Add(1);
  tree.Add(2);
  EXPECT_EQ(tree.Node(2).key, 2);
  for (const std::int32_t bad : {0, -1, 3}) {
    try {
      tree.GetItem(bad);
      ADD_FAILURE() << "no exception for " << bad;
    } catch (const EOutOfRange& e) {
      EXPECT_EQ(std::string(e.what()),
                "Invalid TBalancedTree.GetItem index: " + std::to_string(bad));
    }
  }
}

TEST(BalancedTree, ShapeStaysAvlAfterEveryInsertion) {
  // Sorted runs exercise the single rotations, zigzags and random keys the double ones.
  std::vector<std::vector<std::int32_t>> sequences(4);
  for (std::int32_t k = 0; k < 600; ++k) {
    sequences[0].push_back(k);
    sequences[1].push_back(600 - k);
    sequences[2].push_back(k % 2 == 0 ? k : 100000 - k);
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::int32_t> key(-300, 300);
  for (int k = 0; k < 1500; ++k)
    sequences[3].push_back(key(rng));

  for (std::size_t s = 0; s < sequences.size(); ++s) {
    SCOPED_TRACE("sequence " + std::to_string(s));
    TIntTree tree;
    std::set<std::int32_t> distinct;
    for (const std::int32_t k : sequences[s]) {
      tree.Add(k);
      distinct.insert(k);
      const int height = CheckAvl(tree);
      ASSERT_EQ(tree.Count(), static_cast<std::int32_t>(distinct.size()));
      // AVL bound: height < 1.4405 log2(n + 2).
      ASSERT_LT(height, 1.4405 * std::log2(tree.Count() + 2.0));
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(BalancedTree, RandomInsertionsMatchAMultiset) {
  struct Case {
    unsigned seed;
    int adds;
    std::int32_t range;  // keys drawn from 0..range-1; a small range gives many duplicates
  };
  const Case cases[] = {{1, 20000, 50}, {2, 20000, 5000}, {3, 20000, 1000000000}};
  for (const Case& c : cases) {
    SCOPED_TRACE("seed " + std::to_string(c.seed));
    std::mt19937 rng(c.seed);
    std::uniform_int_distribution<std::int32_t> key(0, c.range - 1);
    TIntTree tree;
    std::multiset<std::int32_t> oracle;
    std::map<std::int32_t, std::int32_t> firstAdded;  // key -> order of first insertion, from 1
    for (int k = 0; k < c.adds; ++k) {
      const std::int32_t v = key(rng);
      tree.Add(v);
      oracle.insert(v);
      firstAdded.emplace(v, static_cast<std::int32_t>(firstAdded.size()) + 1);
    }
    CheckAvl(tree);
    tree.CreateID();

    ASSERT_EQ(tree.Count(), static_cast<std::int32_t>(firstAdded.size()));
    std::int32_t maxCount = 1;
    std::int32_t rank = 0;
    for (const auto& [v, number] : firstAdded) {
      const std::int32_t p = tree.IndexOf(v);
      ASSERT_EQ(p, number) << v;
      const TTreeNode<std::int32_t>& node = tree.Node(p);
      EXPECT_EQ(node.key, v);
      EXPECT_EQ(node.ItemCount, static_cast<std::int32_t>(oracle.count(v))) << v;
      EXPECT_EQ(node.id, rank++) << v;
      maxCount = std::max(maxCount, node.ItemCount);
    }
    EXPECT_EQ(tree.MaxItemCount(), maxCount);
    for (int k = 0; k < 2000; ++k) {
      const std::int32_t v = std::uniform_int_distribution<std::int32_t>(-10, c.range + 10)(rng);
      EXPECT_EQ(tree.IndexOf(v) != -1, oracle.count(v) > 0) << v;
    }
  }
}

TEST(BalancedTree, StringKeysAreCopiedIntoTheNodes) {
  TWordTree tree;
  const std::vector<std::string> words = {"Main Street", "Elm Road", "Main Street", "Abbey Lane",
                                          "main street", "Elm Road", "Main Street"};
  for (std::string w : words) {
    tree.Add(w);
    w.assign(40, 'x');  // the tree must hold its own copy
  }
  tree.CreateID();
  EXPECT_EQ(tree.Count(), 4);
  EXPECT_EQ(tree.MaxItemCount(), 3);
  const std::vector<std::string> sorted = {"Abbey Lane", "Elm Road", "Main Street", "main street"};
  for (std::size_t k = 0; k < sorted.size(); ++k)
    EXPECT_EQ(tree.Node(tree.IndexOf(sorted[k])).id, static_cast<std::int32_t>(k)) << sorted[k];
  EXPECT_EQ(tree.Node(tree.IndexOf("Main Street")).ItemCount, 3);
  EXPECT_EQ(tree.IndexOf("Elm"), -1);
}

TEST(BalancedTree, NodesSpanSeveralBlocks) {
  // More nodes than one 1048576-node block holds; ascending keys rotate at almost every step.
  constexpr std::int32_t kNodes = 1100000;
  TIntTree tree;
  for (std::int32_t k = 0; k < kNodes; ++k)
    tree.Add(2 * k);
  tree.Add(2 * 1048576);
  ASSERT_EQ(tree.Count(), kNodes);
  tree.CreateID();
  for (const std::int32_t k : {0, 1048574, 1048575, 1048576, kNodes - 1}) {
    const std::int32_t p = tree.IndexOf(2 * k);
    ASSERT_EQ(p, k + 1);
    EXPECT_EQ(tree.Node(p).id, k);
    EXPECT_EQ(tree.Node(p).ItemCount, k == 1048576 ? 2 : 1);
  }
  EXPECT_EQ(tree.IndexOf(2 * 1048576 + 1), -1);
  EXPECT_EQ(tree.MaxItemCount(), 2);
  EXPECT_LT(CheckAvl(tree), 1.4405 * std::log2(kNodes + 2.0));
}

}  // namespace
}  // namespace kvnet
