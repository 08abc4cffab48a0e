#include "foundation/kvnet_memorypool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {
namespace {

std::uintptr_t Addr(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p);
}

template <class Call>
std::string ErrorOf(Call&& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no exception";
}

// ---- TBigArray

TEST(BigArray, CapacityGrowsByWholeBlocksAndNeverShrinks) {
  struct Case {
    std::int32_t shift;
    std::vector<std::int32_t> requests;
    std::vector<std::int32_t> capacities;  // after each request
  };
  const Case cases[] = {
      {20, {5, 1048576, 7, 2097151}, {1048576, 2097152, 2097152, 2097152}},
      {2, {0, 3, 4, 2, 13, -1}, {4, 4, 8, 8, 16, 16}},
      {0, {0, 1, 5}, {1, 2, 6}},
  };
  for (const Case& c : cases) {
    TBigArray<std::int32_t> a(c.shift);
    EXPECT_EQ(a.Capacity(), 0);
    for (std::size_t k = 0; k < c.requests.size(); ++k) {
      a.SetCapacity(c.requests[k]);
      EXPECT_EQ(a.Capacity(), c.capacities[k]) << "shift " << c.shift << " request " << k;
    }
  }
}

TEST(BigArray, ItemsSurviveGrowthInPlace) {
  TBigArray<std::string> a(2);
  a.SetCapacity(5);  // 2 blocks
  for (std::int32_t i = 0; i < a.Capacity(); ++i)
    a.SetItem(i, "item " + std::to_string(i));
  const std::string* third = &a.ItemRef(3);
  const std::string* sixth = &a.ItemRef(6);
  a.SetCapacity(100);
  EXPECT_EQ(a.Capacity(), 104);
  EXPECT_EQ(&a.ItemRef(3), third);
  EXPECT_EQ(&a.ItemRef(6), sixth);
  for (std::int32_t i = 0; i < 8; ++i)
    EXPECT_EQ(a.GetItem(i), "item " + std::to_string(i));
  EXPECT_EQ(a.GetItem(103), "");  // new items are default values
  a.ItemRef(103) = "last";
  EXPECT_EQ(a.GetItem(103), "last");
}

TEST(BigArray, BadIndexesShiftsAndCapacitiesRaise) {
  TBigArray<std::int32_t> a(20);
  EXPECT_EQ(ErrorOf([&] { a.GetItem(0); }), "Invalid TBigArray.GetItem index: 0");
  a.SetCapacity(5);
  a.SetItem(1048575, 7);
  EXPECT_EQ(a.GetItem(1048575), 7);
  EXPECT_EQ(ErrorOf([&] { a.GetItem(1048576); }), "Invalid TBigArray.GetItem index: 1048576");
  EXPECT_EQ(ErrorOf([&] { a.SetItem(1048576, 1); }), "Invalid TBigArray.SetItem index: 1048576");
  EXPECT_EQ(ErrorOf([&] { a.GetItem(-1); }), "Invalid TBigArray.GetItem index: -1");
  EXPECT_EQ(ErrorOf([&] { a.ItemRef(-5); }), "Invalid TBigArray.ItemRef index: -5");
  EXPECT_THROW(a.SetItem(-1, 1), EOutOfRange);

  EXPECT_THROW(TBigArray<char>(31), EOutOfRange);
  EXPECT_THROW(TBigArray<char>(-1), EOutOfRange);
  // The capacity must stay addressable by a 32-bit index.
  TBigArray<char> big(30);
  EXPECT_THROW(big.SetCapacity(1 << 30), EOutOfRange);
  EXPECT_EQ(big.Capacity(), 0);
}

// ---- TMemoryPool

TEST(MemoryPool, BlockSizeHoldsAnAlignedPointer) {
  constexpr std::uint32_t kPtr = sizeof(void*);
  struct Case {
    std::uint32_t requested;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {0, kPtr},
      {2, kPtr},
      {4, kPtr},
      {kPtr, kPtr},
      {kPtr + 1, 2 * kPtr},
      {3 * kPtr, 3 * kPtr},
      {3 * kPtr - 1, 3 * kPtr},
  };
  for (const Case& c : cases) {
    TMemoryPool pool(c.requested);
    EXPECT_EQ(pool.BlockSize(), c.expected) << c.requested;
    EXPECT_EQ(pool.BlockSize() % alignof(void*), 0U);
  }
}

TEST(MemoryPool, HandsOutAClusterFromTheTopDownThenAddsAnother) {
  TMemoryPool pool(9);
  const std::uintptr_t size = pool.BlockSize();
  EXPECT_EQ(pool.Capacity(), 0);
  void* const first = pool.GetNewMemBlock();
  EXPECT_EQ(pool.Capacity(), 65536);
  EXPECT_EQ(pool.BlockCount(), 1U);
  EXPECT_EQ(Addr(first) % alignof(void*), 0U);

  // The remaining blocks of the cluster come in descending address order, all zero-filled.
  std::vector<unsigned char*> blocks{static_cast<unsigned char*>(first)};
  for (int k = 1; k < 65536; ++k)
    blocks.push_back(static_cast<unsigned char*>(pool.GetNewMemBlock()));
  for (std::size_t k = 1; k < blocks.size(); ++k)
    ASSERT_EQ(Addr(blocks[k]), Addr(first) - k * size) << k;
  for (unsigned char* b : {blocks[0], blocks[1], blocks[40000], blocks[65535]}) {
    for (std::uintptr_t i = 0; i < size; ++i)
      ASSERT_EQ(b[i], 0);
  }
  EXPECT_EQ(pool.Capacity(), 65536);
  EXPECT_EQ(pool.BlockCount(), 65536U);

  // The cluster is used up: the next block starts a second one.
  void* const next = pool.GetNewMemBlock();
  EXPECT_EQ(pool.Capacity(), 131072);
  EXPECT_EQ(pool.BlockCount(), 65537U);
  EXPECT_TRUE(Addr(next) < Addr(blocks.back()) || Addr(next) > Addr(first));

  // Freed blocks, of either cluster, come back last-in first-out and zero-filled.
  std::memset(blocks[7], 0xAB, size);
  std::memset(next, 0xCD, size);
  pool.FreeMemBlock(blocks[7]);
  pool.FreeMemBlock(next);
  EXPECT_EQ(pool.BlockCount(), 65535U);
  EXPECT_EQ(pool.GetNewMemBlock(), next);
  unsigned char* const again = static_cast<unsigned char*>(pool.GetNewMemBlock());
  EXPECT_EQ(again, blocks[7]);
  for (std::uintptr_t i = 0; i < size; ++i)
    ASSERT_EQ(again[i], 0);
  EXPECT_EQ(pool.BlockCount(), 65537U);
  EXPECT_EQ(pool.Capacity(), 131072);
}

TEST(MemoryPool, FreeRejectsPointersItDidNotHandOut) {
  TMemoryPool pool(16);
  unsigned char* const top = static_cast<unsigned char*>(pool.GetNewMemBlock());
  unsigned char* const below = static_cast<unsigned char*>(pool.GetNewMemBlock());
  int local = 0;
  const auto unknown = [](const void* p) {
    return "Unknown pointer (" + std::to_string(Addr(p)) + ")";
  };
  EXPECT_EQ(ErrorOf([&] { pool.FreeMemBlock(&local); }), unknown(&local));
  EXPECT_EQ(ErrorOf([&] { pool.FreeMemBlock(nullptr); }), unknown(nullptr));
  EXPECT_EQ(ErrorOf([&] { pool.FreeMemBlock(top + 1); }), unknown(top + 1));
  EXPECT_EQ(ErrorOf([&] { pool.FreeMemBlock(below + 8); }), unknown(below + 8));
  // The first block handed out is the cluster's last, so one block further is one past its end.
  EXPECT_EQ(ErrorOf([&] { pool.FreeMemBlock(top + 16); }), unknown(top + 16));
  // Blocks that were never handed out, and blocks freed twice, are already free.
  const std::string alreadyFree = "Memory block already free (" + std::to_string(Addr(below - 16));
  EXPECT_EQ(ErrorOf([&] { pool.FreeMemBlock(below - 16); }), alreadyFree + ")");
  pool.FreeMemBlock(below);
  EXPECT_EQ(ErrorOf([&] { pool.FreeMemBlock(below); }),
            "Memory block already free (" + std::to_string(Addr(below)) + ")");
  EXPECT_EQ(pool.BlockCount(), 1U);

  // Rejected frees left the free list intact.
  EXPECT_EQ(pool.GetNewMemBlock(), below);
  EXPECT_EQ(pool.GetNewMemBlock(), below - 16);
  pool.FreeMemBlock(top);
  EXPECT_EQ(pool.BlockCount(), 2U);
}

// ---- TDoubleLinkedList

TEST(DoubleLinkedList, BothEndsOfAShortList) {
  TDoubleLinkedList list;
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Last(), -1);
  EXPECT_EQ(list.First(), -1);
  EXPECT_EQ(list.SecondLast(), -1);
  EXPECT_EQ(list.SecondFirst(), 0);
  EXPECT_EQ(list.Pop(), -1);
  list.Remove();
  EXPECT_TRUE(list.Empty());

  list.Push(1);
  EXPECT_EQ(list.Last(), 1);
  EXPECT_EQ(list.First(), 1);
  EXPECT_EQ(list.SecondLast(), -1);
  EXPECT_EQ(list.SecondFirst(), 0);
  list.Push(2);
  list.Insert(3);
  EXPECT_EQ(list.Last(), 2);
  EXPECT_EQ(list.First(), 3);
  EXPECT_EQ(list.SecondLast(), 1);
  EXPECT_EQ(list.SecondFirst(), 1);
  EXPECT_EQ(list.Pop(), 2);
  list.Remove();
  EXPECT_FALSE(list.Empty());
  EXPECT_EQ(list.Last(), 1);
  EXPECT_EQ(list.First(), 1);
  EXPECT_EQ(list.Pop(), 1);
  EXPECT_TRUE(list.Empty());
  list.Insert(4);  // an emptied list starts again from either end
  EXPECT_EQ(list.Last(), 4);
  EXPECT_EQ(list.First(), 4);
}

TEST(DoubleLinkedList, RandomOperationsMatchADeque) {
  // Long runs of growth and shrinking force slot reuse and growth past 100 slots.
  std::mt19937 rng(20240601);
  TDoubleLinkedList list;
  std::deque<std::int32_t> oracle;  // front = top end
  for (int step = 0; step < 20000; ++step) {
    const bool growing = (step / 1000) % 2 == 0;
    const auto op = std::uniform_int_distribution<int>(0, 9)(rng);
    const auto value = std::uniform_int_distribution<std::int32_t>(0, 1000000)(rng);
    if (op < (growing ? 4 : 2)) {
      list.Push(value);
      oracle.push_front(value);
    } else if (op < (growing ? 7 : 4)) {
      list.Insert(value);
      oracle.push_back(value);
    } else if (op < 8) {
      EXPECT_EQ(list.Pop(), oracle.empty() ? -1 : oracle.front());
      if (!oracle.empty()) oracle.pop_front();
    } else {
      list.Remove();
      if (!oracle.empty()) oracle.pop_back();
    }
    ASSERT_EQ(list.Empty(), oracle.empty()) << step;
    const std::size_t n = oracle.size();
    ASSERT_EQ(list.Last(), n > 0 ? oracle.front() : -1) << step;
    ASSERT_EQ(list.First(), n > 0 ? oracle.back() : -1) << step;
    ASSERT_EQ(list.SecondLast(), n > 1 ? oracle[1] : -1) << step;
    ASSERT_EQ(list.SecondFirst(), n > 1 ? oracle[n - 2] : 0) << step;
  }
  // Drain from the top: the whole order must match.
  while (!oracle.empty()) {
    ASSERT_EQ(list.Pop(), oracle.front());
    oracle.pop_front();
  }
  EXPECT_TRUE(list.Empty());
}

}  // namespace
}  // namespace kvnet
