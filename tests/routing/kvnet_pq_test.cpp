#include "routing/kvnet_pq.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace kvnet {
namespace {

// The heap exactly as the rules read, written plainly: the order of equal keys is the contract.
class TReferenceHeap {
 public:
  void Enq(const TPQitem& item) {
    items.push_back(item);  // slot bottom (items[0] is the unused slot 0)
    std::size_t hole = items.size() - 1;
    std::size_t parent = hole / 2;
    while (hole > 1) {
      if (item.sortvar < items[parent].sortvar) {
        items[hole] = items[parent];
        hole = parent;
        parent = parent / 2;
      } else {
        break;
      }
    }
    items[hole] = item;
  }
  bool Empty() const { return items.size() == 1; }
  TPQitem Deq() {
    const TPQitem result = items[1];
    const TPQitem last = items.back();
    items.pop_back();
    const std::size_t bottom = items.size() - 1;
    std::size_t hole = 1;
    std::size_t child = 2;
    while (child <= bottom) {
      if (child != bottom && items[child + 1].sortvar <= items[child].sortvar) child = child + 1;
      if (items[child].sortvar < last.sortvar) {
        items[hole] = items[child];
        hole = child;
        child = 2 * hole;
      } else {
        break;
      }
    }
    if (bottom >= 1) items[hole] = last;
    return result;
  }

 private:
  std::vector<TPQitem> items = std::vector<TPQitem>(1);
};

TEST(PriorityQueue, EmptyQueueReturnsTheEmptyItem) {
  TPQ pq;
  EXPECT_TRUE(pq.Empty());
  EXPECT_EQ(pq.Deq().FromNode, 0);
  EXPECT_EQ(pq.Count(), 0);
  TPQturn turns;
  EXPECT_EQ(turns.Deq().ToLink, 0);
  pq.Enq(TPQitem{3, 4, 5, 1.5f, 1.5f});
  pq.Clear();
  EXPECT_EQ(pq.Deq().FromNode, 0);
}

TEST(PriorityQueue, CapacityGrowsByAFifthAndKeepsHeapOrder) {
  TPQ pq;
  std::vector<std::int32_t> capacities{pq.Capacity()};
  std::mt19937 rng(7);
  for (std::int32_t i = 1; i <= 25000; ++i) {
    const auto key = static_cast<float>(rng() % 1000);
    pq.Enq(TPQitem{i, i, i, key, key});
    if (pq.Capacity() != capacities.back()) capacities.push_back(pq.Capacity());
  }
  EXPECT_EQ(capacities,
            (std::vector<std::int32_t>{10000, 12000, 14400, 17280, 20736, 24883, 29860}));
  float previous = -1;
  for (std::int32_t i = 0; i < 25000; ++i) {
    const TPQitem item = pq.Deq();
    ASSERT_GE(item.sortvar, previous);
    previous = item.sortvar;
  }
  EXPECT_TRUE(pq.Empty());
  EXPECT_EQ(pq.Capacity(), 29860);  // storage is kept
}

TEST(PriorityQueue, EqualKeysFollowTheSiftRules) {
  // Two equal keys alone: the first enqueued comes out first.
  TPQ pair;
  pair.Enq(TPQitem{1, 1, 1, 2, 2});
  pair.Enq(TPQitem{2, 2, 2, 2, 2});
  EXPECT_EQ(pair.Deq().FromNode, 1);
  EXPECT_EQ(pair.Deq().FromNode, 2);
  // Three equal keys: on removal the last item rises over an equal child, so the third comes
  // out second.
  TPQ three;
  for (std::int32_t i = 1; i <= 3; ++i)
    three.Enq(TPQitem{i, i, i, 5, 5});
  EXPECT_EQ(three.Deq().FromNode, 1);
  EXPECT_EQ(three.Deq().FromNode, 3);
  EXPECT_EQ(three.Deq().FromNode, 2);
  // Any sequence of operations gives the order of the plain reading of the rules.
  std::mt19937 rng(20261210);
  for (int round = 0; round < 200; ++round) {
    TPQ pq;
    TReferenceHeap reference;
    std::int32_t id = 0;
    for (int op = 0; op < 600; ++op) {
      if (rng() % 3 != 0 || reference.Empty()) {
        const auto key = static_cast<float>(rng() % 7);  // many ties
        const TPQitem item{++id, id, id, key, key};
        pq.Enq(item);
        reference.Enq(item);
      } else {
        ASSERT_EQ(pq.Deq().FromNode, reference.Deq().FromNode) << "round " << round;
      }
    }
    while (!reference.Empty())
      ASSERT_EQ(pq.Deq().FromNode, reference.Deq().FromNode);
    EXPECT_TRUE(pq.Empty());
  }
}

}  // namespace
}  // namespace kvnet
