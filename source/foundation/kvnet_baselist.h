// Growable lists. TBaseList<T> is the library's generic array: items are stored by value and
// contiguously, and capacity grows by 4 below 9 slots, by 16 up to 64 slots and by a quarter
// above. TBaseListSort<T> adds ordering through IsEqual / IsLess / IsGreater supplied by each
// concrete list: a quicksort whose (unstable) order among equal keys is part of the library's
// results, a partial selection sort, bisection search and duplicate handling. A sortable list
// remembers whether it is known to be sorted.
//
// Reading an item outside 0..Count-1 is a caller error (checked by assert only); writing at a
// negative index raises EOutOfRange.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_random.h"
#include "foundation/kvnet_types.h"

namespace kvnet {

class TBitArray;

template <class T>
class TBaseList {
 public:
  TBaseList() = default;
  TBaseList(const TBaseList&) = default;
  TBaseList(TBaseList&&) noexcept = default;
  TBaseList& operator=(const TBaseList&) = default;
  TBaseList& operator=(TBaseList&&) noexcept = default;
  virtual ~TBaseList() = default;

  std::int32_t Capacity() const { return FCapacity; }
  // Negative values are ignored; a value below Count cuts the list.
  void SetCapacity(std::int32_t value);
  std::int32_t Count() const { return FCount; }

  const T& GetItem(std::int32_t index) const {
    assert(index >= 0 && index < FCount);
    return FList[static_cast<std::size_t>(index)];
  }
  const T& operator[](std::int32_t index) const { return GetItem(index); }
  // Direct access for lists of lists; changing a sortable list's key this way leaves Sorted as it
  // was.
  T& ItemRef(std::int32_t index) {
    assert(index >= 0 && index < FCount);
    return FList[static_cast<std::size_t>(index)];
  }
  // Stores item at index; an index at or beyond the capacity first sets the capacity to the next
  // multiple of 32 above it, and an index at or beyond Count makes Count index + 1 (the slots
  // between hold default values).
  virtual void SetItem(std::int32_t index, const T& item);
  // Appends; returns the new item's index.
  virtual std::int32_t Add(const T& item);
  // Moves the items from index on up one place and stores item at index.
  virtual void Insert(std::int32_t index, const T& item);
  void Delete(std::int32_t index);
  T Extract(std::int32_t index);
  void Clear();

  const T& First() const { return GetItem(0); }
  const T& Last() const { return GetItem(FCount - 1); }
  bool IsEmpty() const { return FCount == 0; }

  // Reverses the order of the items.
  void Swap();
  void Swap(std::int32_t index1, std::int32_t index2);

  // Fisher-Yates shuffle with a generator seeded by Randomize, or with the given generator.
  void Shuffle();
  virtual void Shuffle(TRandom& random);

  // Makes v a copy of this list (same capacity, count and items).
  virtual void Clone(TBaseList& v) const;

  const T* begin() const { return FList.data(); }
  const T* end() const { return FList.data() + FCount; }

 protected:
  void Grow();
  // Called on the target of Clone after its items were replaced.
  virtual void AfterClone() {}
  void ResizeStorage(std::int32_t capacity);
  // Count after storing at index: slots between the old end and index are reset to defaults.
  void ExtendTo(std::int32_t index);
  static void CheckIndex(std::int32_t index);
  static std::int32_t CapacityFor(std::int32_t index);

  std::int32_t FCapacity = 0;
  std::int32_t FCount = 0;
  std::vector<T> FList;  // FCapacity slots
};

template <class T>
class TBaseListSort : public TBaseList<T> {
 public:
  virtual bool IsEqual(const T& a, const T& b) const = 0;
  virtual bool IsLess(const T& a, const T& b) const = 0;
  virtual bool IsGreater(const T& a, const T& b) const = 0;

  bool AllowDuplicates() const { return FAllowDuplicates; }
  void SetAllowDuplicates(bool value) { FAllowDuplicates = value; }
  bool ReverseIndex() const { return FReverseIndex; }
  void SetReverseIndex(bool value) { FReverseIndex = value; }
  bool Sorted() const { return FSorted; }
  std::int32_t SelectionSorted() const { return FSelectionSorted; }

  void SetItem(std::int32_t index, const T& item) override;
  void Insert(std::int32_t index, const T& item) override;
  // With duplicates: appends. Without: -1 when an equal item exists, else appends, sorts and
  // returns the index the item had before sorting.
  std::int32_t Add(const T& item) override;
  // Bisection when sorted (any one of equal items), else the first equal item; -1 when absent.
  std::int32_t IndexOf(const T& item) const;
  void Sort();
  // After a sort with ReverseIndex on: the position the item now at index had before the sort.
  std::int32_t GetReverse(std::int32_t index) const;
  // Places up to n further smallest items after those already placed.
  void SelectionSortN(std::int32_t n);
  void SelectionSort() { SelectionSortN(this->FCount); }
  // Sorts and deletes every item equal to its left neighbour; true when one was deleted.
  bool RemoveDuplicates();
  // Sorts; true when no two neighbours are equal.
  bool Unique();
  bool EqualLists(const TBaseListSort& list2) const;
  T MinValue() const;
  T MaxValue() const;
  using TBaseList<T>::Shuffle;
  void Shuffle(TRandom& random) override;
  void Clone(TBaseList<T>& v) const override;

 protected:
  void AfterClone() override {
    FReverseList.clear();
    FSorted = this->FCount <= 1;
    FSelectionSorted = 0;
  }
  void CheckSorted(std::int32_t index);
  // Checks the neighbours of every position from first to last.
  void CheckSortedRange(std::int32_t first, std::int32_t last);
  void QuickSort(std::int32_t l, std::int32_t r);
  void Exchange(std::int32_t i, std::int32_t j);

  TIntegerArray FReverseList;
  bool FSorted = true;
  bool FReverseIndex = false;
  bool FAllowDuplicates = true;
  std::int32_t FSelectionSorted = 0;
};

// ---- concrete lists

class TIntegerList : public TBaseListSort<std::int32_t> {
 public:
  bool IsEqual(const std::int32_t& a, const std::int32_t& b) const override { return a == b; }
  bool IsLess(const std::int32_t& a, const std::int32_t& b) const override { return a < b; }
  bool IsGreater(const std::int32_t& a, const std::int32_t& b) const override { return a > b; }

  // Deletes every item equal to 0.
  void RemoveBlanks();
  // Clears the list and adds every set position from 1 to Size - 1; nullptr changes nothing.
  void SetFromBitArray(const TBitArray* ba);
  // True when no item is greater than 0.
  bool AllNegative() const;
};

class TIntegerListUnsorted : public TBaseList<std::int32_t> {};

class TIntegerLists : public TBaseList<TIntegerList> {};

struct TInt64Item {
  std::int64_t value = 0;
  std::int32_t index = 0;
};

class TInt64List : public TBaseListSort<TInt64Item> {
 public:
  bool IsEqual(const TInt64Item& a, const TInt64Item& b) const override {
    return a.value == b.value;
  }
  bool IsLess(const TInt64Item& a, const TInt64Item& b) const override { return a.value < b.value; }
  bool IsGreater(const TInt64Item& a, const TInt64Item& b) const override {
    return a.value > b.value;
  }
};

struct TStringItem {
  std::string value;
  std::int32_t index = 0;
};

// Ordered by value with an ordinal, case-sensitive comparison.
class TKVStringList : public TBaseListSort<TStringItem> {
 public:
  bool IsEqual(const TStringItem& a, const TStringItem& b) const override {
    return a.value == b.value;
  }
  bool IsLess(const TStringItem& a, const TStringItem& b) const override {
    return a.value < b.value;
  }
  bool IsGreater(const TStringItem& a, const TStringItem& b) const override {
    return a.value > b.value;
  }
  // The greatest length in characters; -1 for an empty list.
  std::int32_t MaxLength() const;
};

// Sorted cost bands: positive values, each once.
class TStepList : public TBaseListSort<float> {
 public:
  bool IsEqual(const float& a, const float& b) const override { return a == b; }
  bool IsLess(const float& a, const float& b) const override { return a < b; }
  bool IsGreater(const float& a, const float& b) const override { return a > b; }

  // Raises Exception "Only values >0 are allowed in TStepList" for item <= 0 (and NaN); returns
  // the value's position in the sorted list.
  std::int32_t Add(const float& item) override;
  float Max() const { return Last(); }
};

struct TPair {
  std::int32_t i = 0;
  std::int32_t j = 0;
};

class TPairList : public TBaseList<TPair> {
 public:
  using TBaseList<TPair>::Add;
  std::int32_t Add(std::int32_t i, std::int32_t j) { return Add(TPair{i, j}); }
};

// ---- TBaseList<T>

template <class T>
void TBaseList<T>::CheckIndex(std::int32_t index) {
  if (index < 0) throw EOutOfRange(Format("List index out of bounds (%d)", index));
}

template <class T>
std::int32_t TBaseList<T>::CapacityFor(std::int32_t index) {
  const std::int64_t capacity = (static_cast<std::int64_t>(index) + 32) / 32 * 32;
  if (capacity > INT32_MAX) throw EOutOfRange(Format("List index out of bounds (%d)", index));
  return static_cast<std::int32_t>(capacity);
}

template <class T>
void TBaseList<T>::ResizeStorage(std::int32_t capacity) {
  FList.resize(static_cast<std::size_t>(capacity));
  FCapacity = capacity;
}

template <class T>
void TBaseList<T>::Grow() {
  std::int64_t delta = 4;
  if (FCapacity > 64) {
    delta = FCapacity / 4;
  } else if (FCapacity > 8) {
    delta = 16;
  }
  const std::int64_t capacity = FCapacity + delta;
  if (capacity > INT32_MAX) throw EOutOfRange("List capacity exceeds 2^31 - 1 items");
  ResizeStorage(static_cast<std::int32_t>(capacity));
}

template <class T>
void TBaseList<T>::SetCapacity(std::int32_t value) {
  if (value < 0) return;
  if (value < FCount) FCount = value;
  ResizeStorage(value);
}

template <class T>
void TBaseList<T>::ExtendTo(std::int32_t index) {
  for (std::int32_t k = FCount; k < index; ++k)
    FList[static_cast<std::size_t>(k)] = T{};
  FCount = index + 1;
}

template <class T>
void TBaseList<T>::SetItem(std::int32_t index, const T& item) {
  CheckIndex(index);
  if (index >= FCapacity) ResizeStorage(CapacityFor(index));
  if (index >= FCount) ExtendTo(index);
  FList[static_cast<std::size_t>(index)] = item;
}

template <class T>
std::int32_t TBaseList<T>::Add(const T& item) {
  if (FCount == FCapacity) Grow();
  FList[static_cast<std::size_t>(FCount)] = item;
  return FCount++;
}

template <class T>
void TBaseList<T>::Insert(std::int32_t index, const T& item) {
  CheckIndex(index);
  if (index >= FCapacity) {
    ResizeStorage(CapacityFor(index));
  } else if (FCount == FCapacity) {
    Grow();
  }
  if (index < FCount) {
    std::move_backward(FList.begin() + index, FList.begin() + FCount, FList.begin() + FCount + 1);
    FList[static_cast<std::size_t>(index)] = item;
    ++FCount;
  } else {
    ExtendTo(index);
    FList[static_cast<std::size_t>(index)] = item;
  }
}

template <class T>
void TBaseList<T>::Delete(std::int32_t index) {
  assert(index >= 0 && index < FCount);
  std::move(FList.begin() + index + 1, FList.begin() + FCount, FList.begin() + index);
  --FCount;
  FList[static_cast<std::size_t>(FCount)] = T{};  // release what the vacated slot held
}

template <class T>
T TBaseList<T>::Extract(std::int32_t index) {
  T item = std::move(ItemRef(index));
  Delete(index);
  return item;
}

template <class T>
void TBaseList<T>::Clear() {
  std::vector<T>().swap(FList);
  FCount = 0;
  FCapacity = 0;
}

template <class T>
void TBaseList<T>::Swap() {
  std::reverse(FList.begin(), FList.begin() + FCount);
}

template <class T>
void TBaseList<T>::Swap(std::int32_t index1, std::int32_t index2) {
  std::swap(ItemRef(index1), ItemRef(index2));
}

template <class T>
void TBaseList<T>::Shuffle() {
  TRandom random;
  random.Randomize();
  Shuffle(random);
}

template <class T>
void TBaseList<T>::Shuffle(TRandom& random) {
  for (std::int32_t i = FCount - 1; i >= 1; --i) {
    const std::int32_t j = random.NextInt(i + 1);
    if (i != j) std::swap(FList[static_cast<std::size_t>(i)], FList[static_cast<std::size_t>(j)]);
  }
}

template <class T>
void TBaseList<T>::Clone(TBaseList& v) const {
  v.FList = FList;
  v.FCapacity = FCapacity;
  v.FCount = FCount;
  v.AfterClone();
}

// ---- TBaseListSort<T>

template <class T>
void TBaseListSort<T>::CheckSorted(std::int32_t index) {
  if (!FSorted) return;
  const auto& list = this->FList;
  const auto at = [&](std::int32_t k) -> const T& { return list[static_cast<std::size_t>(k)]; };
  if ((index > 0 && IsGreater(at(index - 1), at(index))) ||
      (index < this->FCount - 1 && IsGreater(at(index), at(index + 1)))) {
    FSorted = false;
    FSelectionSorted = 0;
  }
}

template <class T>
void TBaseListSort<T>::CheckSortedRange(std::int32_t first, std::int32_t last) {
  for (std::int32_t k = std::max(first, 0); k <= last && FSorted; ++k)
    CheckSorted(k);
}

template <class T>
void TBaseListSort<T>::SetItem(std::int32_t index, const T& item) {
  const std::int32_t oldCount = this->FCount;
  TBaseList<T>::SetItem(index, item);
  // Default values filled in below index must be checked as well.
  CheckSortedRange(index > oldCount ? oldCount : index, index);
}

template <class T>
void TBaseListSort<T>::Insert(std::int32_t index, const T& item) {
  const std::int32_t oldCount = this->FCount;
  TBaseList<T>::Insert(index, item);
  CheckSortedRange(index > oldCount ? oldCount : index, index);
}

template <class T>
std::int32_t TBaseListSort<T>::Add(const T& item) {
  if (FAllowDuplicates) {
    const std::int32_t index = TBaseList<T>::Add(item);
    CheckSorted(index);
    return index;
  }
  if (IndexOf(item) >= 0) return -1;
  const std::int32_t index = TBaseList<T>::Add(item);
  CheckSorted(index);
  Sort();
  return index;
}

template <class T>
std::int32_t TBaseListSort<T>::IndexOf(const T& item) const {
  const auto at = [&](std::int32_t k) -> const T& {
    return this->FList[static_cast<std::size_t>(k)];
  };
  if (FSorted) {
    std::int32_t lo = 0;
    std::int32_t hi = this->FCount - 1;
    while (lo <= hi) {
      const std::int32_t mid = lo + (hi - lo) / 2;
      if (IsEqual(at(mid), item)) return mid;
      if (IsGreater(at(mid), item)) {
        hi = mid - 1;
      } else {
        lo = mid + 1;
      }
    }
    return -1;
  }
  for (std::int32_t k = 0; k < this->FCount; ++k) {
    if (IsEqual(at(k), item)) return k;
  }
  return -1;
}

template <class T>
void TBaseListSort<T>::Exchange(std::int32_t i, std::int32_t j) {
  std::swap(this->FList[static_cast<std::size_t>(i)], this->FList[static_cast<std::size_t>(j)]);
  if (FReverseIndex) {
    std::swap(FReverseList[static_cast<std::size_t>(i)], FReverseList[static_cast<std::size_t>(j)]);
  }
}

template <class T>
void TBaseListSort<T>::QuickSort(std::int32_t l, std::int32_t r) {
  // Hoare partitioning around the middle item. The two parts of a partition are sorted
  // independently, so recursing into the smaller part and looping on the larger one gives the
  // same order as any other processing order while keeping the stack shallow.
  const auto at = [&](std::int32_t k) -> const T& {
    return this->FList[static_cast<std::size_t>(k)];
  };
  for (;;) {
    std::int32_t i = l;
    std::int32_t j = r;
    // A copy: the pivot's slot takes part in the exchanges.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
    const T pivot = at(l + (r - l) / 2);
    do {
      while (IsLess(at(i), pivot))
        ++i;
      while (IsGreater(at(j), pivot))
        --j;
      if (i <= j) {
        if (i != j) Exchange(i, j);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - l < r - i) {
      if (l < j) QuickSort(l, j);
      if (i >= r) return;
      l = i;
    } else {
      if (i < r) QuickSort(i, r);
      if (l >= j) return;
      r = j;
    }
  }
}

template <class T>
void TBaseListSort<T>::Sort() {
  const std::int32_t count = this->FCount;
  if (FSorted && !(FReverseIndex && static_cast<std::int32_t>(FReverseList.size()) != count)) {
    return;
  }
  if (FReverseIndex) {
    FReverseList.resize(static_cast<std::size_t>(count));
    for (std::int32_t k = 0; k < count; ++k)
      FReverseList[static_cast<std::size_t>(k)] = k;
  }
  if (count > 1) QuickSort(0, count - 1);
  FSorted = true;
  FSelectionSorted = count;
}

template <class T>
std::int32_t TBaseListSort<T>::GetReverse(std::int32_t index) const {
  if (index < 0 || index >= static_cast<std::int32_t>(FReverseList.size())) return -1;
  return FReverseList[static_cast<std::size_t>(index)];
}

template <class T>
void TBaseListSort<T>::SelectionSortN(std::int32_t n) {
  const std::int32_t count = this->FCount;
  const std::int32_t steps = std::min(n, count - FSelectionSorted);
  const auto at = [&](std::int32_t k) -> const T& {
    return this->FList[static_cast<std::size_t>(k)];
  };
  for (std::int32_t s = 0; s < steps; ++s) {
    const std::int32_t p = FSelectionSorted;
    std::int32_t best = p;
    for (std::int32_t k = p + 1; k < count; ++k) {
      if (IsLess(at(k), at(best))) best = k;
    }
    if (best != p) {
      std::swap(this->FList[static_cast<std::size_t>(best)],
                this->FList[static_cast<std::size_t>(p)]);
    }
    FSelectionSorted = p + 1;
  }
  if (FSelectionSorted >= count) FSorted = true;
}

template <class T>
bool TBaseListSort<T>::RemoveDuplicates() {
  Sort();
  bool removed = false;
  for (std::int32_t k = this->FCount - 1; k >= 1; --k) {
    if (IsEqual(this->GetItem(k), this->GetItem(k - 1))) {
      this->Delete(k);
      removed = true;
    }
  }
  return removed;
}

template <class T>
bool TBaseListSort<T>::Unique() {
  Sort();
  for (std::int32_t k = 1; k < this->FCount; ++k) {
    if (IsEqual(this->GetItem(k), this->GetItem(k - 1))) return false;
  }
  return true;
}

template <class T>
bool TBaseListSort<T>::EqualLists(const TBaseListSort& list2) const {
  if (this->FCount != list2.FCount) return false;
  for (std::int32_t k = 0; k < this->FCount; ++k) {
    if (!IsEqual(this->GetItem(k), list2.GetItem(k))) return false;
  }
  return true;
}

template <class T>
T TBaseListSort<T>::MinValue() const {
  if (FSorted) return this->First();
  std::int32_t best = 0;
  for (std::int32_t k = 1; k < this->FCount; ++k) {
    if (IsLess(this->GetItem(k), this->GetItem(best))) best = k;
  }
  return this->GetItem(best);
}

template <class T>
T TBaseListSort<T>::MaxValue() const {
  if (FSorted) return this->Last();
  std::int32_t best = 0;
  for (std::int32_t k = 1; k < this->FCount; ++k) {
    if (IsGreater(this->GetItem(k), this->GetItem(best))) best = k;
  }
  return this->GetItem(best);
}

template <class T>
void TBaseListSort<T>::Shuffle(TRandom& random) {
  TBaseList<T>::Shuffle(random);
  FSorted = false;
  FSelectionSorted = 0;
}

template <class T>
void TBaseListSort<T>::Clone(TBaseList<T>& v) const {
  TBaseList<T>::Clone(v);
  if (auto* sortable = dynamic_cast<TBaseListSort*>(&v)) {
    sortable->FReverseList = FReverseList;
    sortable->FSorted = FSorted;
    sortable->FReverseIndex = FReverseIndex;
    sortable->FAllowDuplicates = FAllowDuplicates;
    sortable->FSelectionSorted = FSelectionSorted;
  }
}

}  // namespace kvnet
