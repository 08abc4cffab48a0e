#include "foundation/kvnet_baselist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "foundation/kvnet_bitarray.h"

namespace kvnet {
namespace {

template <class List>
std::vector<typename std::remove_cvref_t<decltype(std::declval<List>()[0])>> Items(
    const List& list) {
  return {list.begin(), list.end()};
}

std::vector<std::int32_t> Indexes(const TInt64List& list) {
  std::vector<std::int32_t> out;
  for (const auto& item : list)
    out.push_back(item.index);
  return out;
}

TEST(BaseList, CapacityGrowsByFourSixteenAndAQuarter) {
  TIntegerListUnsorted list;
  std::vector<std::int32_t> capacities;
  for (std::int32_t v = 0; v < 200; ++v) {
    list.Add(v);
    if (capacities.empty() || capacities.back() != list.Capacity()) {
      capacities.push_back(list.Capacity());
    }
  }
  EXPECT_EQ(capacities,
            (std::vector<std::int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183, 228}));
  EXPECT_EQ(list.Count(), 200);
  EXPECT_EQ(list.Last(), 199);
}

TEST(BaseList, SetItemAndInsertBeyondTheEnd) {
  TIntegerListUnsorted list;
  list.SetItem(100, 7);
  EXPECT_EQ(list.Capacity(), 128);
  EXPECT_EQ(list.Count(), 101);
  EXPECT_EQ(list[99], 0);
  EXPECT_EQ(list[100], 7);

  // Slots between the old end and a far write hold defaults, even where deleted items were.
  TIntegerListUnsorted reused;
  for (std::int32_t v = 1; v <= 5; ++v)
    reused.Add(v);
  reused.Delete(4);
  reused.Delete(3);
  reused.SetItem(5, 9);
  EXPECT_EQ(Items(reused), (std::vector<std::int32_t>{1, 2, 3, 0, 0, 9}));

  TIntegerListUnsorted inserted;
  inserted.Add(1);
  inserted.Add(3);
  inserted.Insert(1, 2);
  inserted.Insert(0, 0);
  inserted.Insert(6, 6);  // beyond the end
  EXPECT_EQ(Items(inserted), (std::vector<std::int32_t>{0, 1, 2, 3, 0, 0, 6}));
  EXPECT_THROW(inserted.Insert(-1, 5), EOutOfRange);
  EXPECT_THROW(inserted.SetItem(-1, 5), EOutOfRange);
}

TEST(BaseList, DeleteExtractSwapCloneAndCapacity) {
  TIntegerListUnsorted list;
  for (std::int32_t v = 1; v <= 6; ++v)
    list.Add(v);
  EXPECT_EQ(list.Extract(0), 1);
  list.Delete(2);
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{2, 3, 5, 6}));
  list.Swap();
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{6, 5, 3, 2}));
  list.Swap(0, 3);
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{2, 5, 3, 6}));
  TIntegerListUnsorted copy;
  list.Clone(copy);
  EXPECT_EQ(Items(copy), Items(list));
  EXPECT_EQ(copy.Capacity(), list.Capacity());
  list.SetCapacity(2);
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{2, 5}));
  list.SetCapacity(-1);  // ignored
  EXPECT_EQ(list.Capacity(), 2);
  list.Clear();
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.Capacity(), 0);
  TIntegerListUnsorted empty;
  empty.Swap();
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(SortList, AddWithoutDuplicatesKeepsTheListSorted) {
  TIntegerList list;
  list.SetAllowDuplicates(false);
  EXPECT_EQ(list.Add(5), 0);
  EXPECT_EQ(list.Add(1), 1);  // the index before sorting
  EXPECT_EQ(list.Add(3), 2);
  EXPECT_EQ(list.Add(3), -1);
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{1, 3, 5}));
  EXPECT_TRUE(list.Sorted());
  EXPECT_EQ(list.IndexOf(5), 2);
  EXPECT_EQ(list.IndexOf(4), -1);
}

TEST(SortList, SortedFlagFollowsChanges) {
  TIntegerList list;
  EXPECT_TRUE(list.Sorted());
  list.Add(1);
  list.Add(2);
  EXPECT_TRUE(list.Sorted());
  list.SetItem(0, 3);
  EXPECT_FALSE(list.Sorted());
  list.Sort();
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{2, 3}));
  list.SetItem(4, 9);  // fills zeros below 9 after the 3: no longer sorted
  EXPECT_FALSE(list.Sorted());
  list.Sort();
  list.Insert(0, 5);
  EXPECT_FALSE(list.Sorted());
  EXPECT_EQ(list.IndexOf(9), 5);  // linear search while unsorted
}

TEST(SortList, QuickSortOrderOfEqualKeys) {
  // Worked by hand through the partitioning: items (value, index).
  TInt64List list;
  const std::int64_t values[] = {2, 1, 2, 1, 2};
  for (std::int32_t i = 0; i < 5; ++i)
    list.Add({values[i], i});
  list.Sort();
  EXPECT_EQ(Indexes(list), (std::vector<std::int32_t>{3, 1, 4, 0, 2}));
}

// The quicksort as first written: recursion into the left part, loop over the right one.
void ReferenceQuickSort(std::vector<TInt64Item>& a, int l, int r) {
  do {
    int i = l;
    int j = r;
    const TInt64Item pivot = a[static_cast<std::size_t>((l + r) / 2)];
    do {
      while (a[static_cast<std::size_t>(i)].value < pivot.value)
        ++i;
      while (a[static_cast<std::size_t>(j)].value > pivot.value)
        --j;
      if (i <= j) {
        if (i != j) std::swap(a[static_cast<std::size_t>(i)], a[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (l < j) ReferenceQuickSort(a, l, j);
    l = i;
    if (i >= r) break;
  } while (true);
}

TEST(SortList, QuickSortGivesTheSameTieOrderAsTheLeftFirstRecursion) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    const int n = 1 + static_cast<int>(rng() % 400);
    const int distinct = 1 + static_cast<int>(rng() % 6);  // many ties
    TInt64List list;
    std::vector<TInt64Item> reference;
    for (int i = 0; i < n; ++i) {
      const TInt64Item item{static_cast<std::int64_t>(rng() % distinct), i};
      list.Add(item);
      reference.push_back(item);
    }
    list.SetReverseIndex(true);
    list.Sort();
    if (n > 1) ReferenceQuickSort(reference, 0, n - 1);
    std::vector<std::int32_t> expected;
    for (const auto& item : reference)
      expected.push_back(item.index);
    ASSERT_EQ(Indexes(list), expected) << "round " << round;
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(list.GetReverse(i), expected[static_cast<std::size_t>(i)]);
  }
}

TEST(SortList, QuickSortStaysShallowOnLargeOrderedInput) {
  TIntegerList list;
  const std::int32_t n = 1000000;
  for (std::int32_t v = 0; v < n; ++v)
    list.Add(v % 2 == 0 ? v : n - v);  // organ-pipe-like
  list.Sort();
  for (std::int32_t k = 1; k < n; ++k)
    ASSERT_LE(list[k - 1], list[k]);
  TIntegerList descending;
  for (std::int32_t v = n; v > 0; --v)
    descending.Add(v);
  descending.Sort();
  EXPECT_EQ(descending.First(), 1);
  EXPECT_EQ(descending.Last(), n);
}

TEST(SortList, ReverseIndexAfterSort) {
  TIntegerList list;
  list.SetReverseIndex(true);
  for (const std::int32_t v : {30, 10, 20})
    list.Add(v);
  list.Sort();
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{10, 20, 30}));
  EXPECT_EQ(list.GetReverse(0), 1);
  EXPECT_EQ(list.GetReverse(1), 2);
  EXPECT_EQ(list.GetReverse(2), 0);
  EXPECT_EQ(list.GetReverse(3), -1);
  EXPECT_EQ(list.GetReverse(-1), -1);
  // An already sorted list still builds its reverse index when asked to.
  TIntegerList sorted;
  sorted.Add(1);
  sorted.Add(2);
  sorted.SetReverseIndex(true);
  sorted.Sort();
  EXPECT_EQ(sorted.GetReverse(1), 1);
}

TEST(SortList, SelectionSortContinuesWhereItStopped) {
  TIntegerList list;
  for (const std::int32_t v : {5, 3, 4, 1})
    list.Add(v);
  list.SelectionSortN(2);
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{1, 3, 4, 5}));
  EXPECT_EQ(list.SelectionSorted(), 2);
  EXPECT_FALSE(list.Sorted());
  list.SelectionSortN(2);
  EXPECT_EQ(list.SelectionSorted(), 4);
  EXPECT_TRUE(list.Sorted());
  // The first of equal smallest items is taken.
  TInt64List ties;
  for (std::int32_t i = 0; i < 4; ++i)
    ties.Add({i == 0 ? 9 : 1, i});
  ties.SelectionSortN(1);
  EXPECT_EQ(Indexes(ties), (std::vector<std::int32_t>{1, 0, 2, 3}));
}

TEST(SortList, DuplicatesUniqueMinMaxAndEquality) {
  TIntegerList list;
  for (const std::int32_t v : {4, 1, 4, 2, 1, 4})
    list.Add(v);
  EXPECT_EQ(list.MinValue(), 1);
  EXPECT_EQ(list.MaxValue(), 4);
  EXPECT_FALSE(list.Unique());
  EXPECT_TRUE(list.RemoveDuplicates());
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{1, 2, 4}));
  EXPECT_FALSE(list.RemoveDuplicates());
  EXPECT_TRUE(list.Unique());
  TIntegerList other;
  for (const std::int32_t v : {1, 2, 4})
    other.Add(v);
  EXPECT_TRUE(list.EqualLists(other));
  other.Add(5);
  EXPECT_FALSE(list.EqualLists(other));
}

TEST(SortList, CloneCarriesTheSortState) {
  TIntegerList unsorted;
  for (const std::int32_t v : {3, 1, 2})
    unsorted.Add(v);
  TIntegerList copy;
  unsorted.Clone(copy);
  EXPECT_FALSE(copy.Sorted());
  copy.Sort();
  EXPECT_EQ(Items(copy), (std::vector<std::int32_t>{1, 2, 3}));
  // Items copied from an unsortable list are not assumed to be in order.
  TIntegerListUnsorted plain;
  for (const std::int32_t v : {2, 1})
    plain.Add(v);
  TIntegerList target;
  plain.Clone(target);
  EXPECT_FALSE(target.Sorted());
  EXPECT_EQ(target.IndexOf(1), 1);
}

TEST(IntegerList, BlanksBitArraysAndSigns) {
  TIntegerList list;
  for (const std::int32_t v : {0, -3, 0, -1, 0})
    list.Add(v);
  EXPECT_TRUE(list.AllNegative());
  list.RemoveBlanks();
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{-3, -1}));
  list.Add(2);
  EXPECT_FALSE(list.AllNegative());

  TBitArray bits(10);
  bits.SetBit(0, true);  // position 0 is never listed
  bits.SetBit(3, true);
  bits.SetBit(9, true);
  list.SetFromBitArray(&bits);
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{3, 9}));
  list.SetFromBitArray(nullptr);
  EXPECT_EQ(Items(list), (std::vector<std::int32_t>{3, 9}));
}

TEST(StringList, OrdinalOrderAndLengthInCharacters) {
  TKVStringList list;
  list.Add({"b", 0});
  list.Add({"B", 1});
  list.Add({"\xC3\xA4\xC3\xA4\xC3\xA4", 2});  // three characters, six bytes
  list.Add({"a", 3});
  list.Sort();
  std::vector<std::string> values;
  for (const auto& item : list)
    values.push_back(item.value);
  EXPECT_EQ(values, (std::vector<std::string>{"B", "a", "b", "\xC3\xA4\xC3\xA4\xC3\xA4"}));
  EXPECT_EQ(list.MaxLength(), 3);
  EXPECT_EQ(TKVStringList().MaxLength(), -1);
}

TEST(StepList, AcceptsPositiveValuesOnceInOrder) {
  TStepList steps;
  EXPECT_THROW(steps.Add(0), Exception);
  EXPECT_THROW(steps.Add(-1), Exception);
  EXPECT_THROW(steps.Add(std::numeric_limits<float>::quiet_NaN()), Exception);
  EXPECT_EQ(steps.Add(10), 0);
  EXPECT_EQ(steps.Add(5), 0);
  EXPECT_EQ(steps.Add(10), 1);
  EXPECT_EQ(Items(steps), (std::vector<float>{5, 10}));
  EXPECT_EQ(steps.Max(), 10);
  try {
    steps.Add(0);
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Only values >0 are allowed in TStepList");
  }
}

TEST(PairAndListLists, HoldTheirItems) {
  TPairList pairs;
  pairs.Add(1, 2);
  pairs.Add(TPair{3, 4});
  EXPECT_EQ(pairs[1].i, 3);
  EXPECT_EQ(pairs[1].j, 4);

  TIntegerLists lists;
  lists.Add(TIntegerList());
  lists.ItemRef(0).Add(7);
  lists.Add(lists[0]);
  lists.ItemRef(1).Add(8);
  EXPECT_EQ(lists[0].Count(), 1);
  EXPECT_EQ(lists[1].Count(), 2);
}

}  // namespace
}  // namespace kvnet
