// Storage for large volumes.
//
// TBigArray<T> is an array split into blocks of 2^Shift items. Item i lives in block i >> Shift at
// position i & (2^Shift - 1). Growing the array adds blocks and never moves the items already
// there, so references to items stay valid across SetCapacity, and millions of records never need
// one contiguous allocation or a copying resize. Every index is checked: one outside
// 0..Capacity-1 raises EOutOfRange.
//
// TMemoryPool hands out fixed-size, zero-filled memory blocks taken from clusters of 65536 blocks
// and recycles freed blocks through an intrusive free list; memory goes back to the system only
// when the pool is destroyed. Blocks are at least pointer-sized and pointer-aligned (a free block
// keeps the link to the next free block in its first bytes).
//
// TDoubleLinkedList is a deque of 32-bit integers kept in slots of one array; freed slots are
// reused first, and the array grows by 100 slots when every slot is in use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/kvnet_bitarray.h"

namespace kvnet {

namespace detail {
// Raises EOutOfRange "Invalid TBigArray.<method> index: <index>".
[[noreturn]] void RaiseBigArrayIndex(const char* method, std::int64_t index);
// Raises EOutOfRange for a shift or a capacity the array cannot address.
[[noreturn]] void RaiseBigArrayShift(std::int32_t shift);
[[noreturn]] void RaiseBigArrayCapacity(std::int64_t value);
}  // namespace detail

template <class T>
class TBigArray {
 public:
  // A block holds 2^shift items; shift is 0..30. The array starts with capacity 0.
  explicit TBigArray(std::int32_t shift) {
    if (shift < 0 || shift > 30) detail::RaiseBigArrayShift(shift);
    cShift = static_cast<std::uint8_t>(shift);
    cElements = std::int32_t{1} << shift;
    cAndPattern = cElements - 1;
  }

  std::uint8_t Shift() const { return cShift; }
  std::int32_t Elements() const { return cElements; }
  // Number of addressable items: blocks x 2^Shift.
  std::int32_t Capacity() const { return FCapacity; }

  // Never shrinks: a value below the capacity does nothing. Otherwise the array gets
  // (value >> Shift) + 1 blocks, so the capacity is always more than value afterwards; new items
  // are default-constructed. A capacity beyond the 32-bit index range raises EOutOfRange.
  void SetCapacity(std::int32_t value);

  T GetItem(std::int32_t index) const {
    if (!Valid(index)) detail::RaiseBigArrayIndex("GetItem", index);
    return At(index);
  }
  void SetItem(std::int32_t index, const T& item) {
    if (!Valid(index)) detail::RaiseBigArrayIndex("SetItem", index);
    At(index) = item;
  }
  // In-place access for hot paths, checked like GetItem.
  const T& ItemRef(std::int32_t index) const {
    if (!Valid(index)) detail::RaiseBigArrayIndex("ItemRef", index);
    return At(index);
  }
  T& ItemRef(std::int32_t index) {
    if (!Valid(index)) detail::RaiseBigArrayIndex("ItemRef", index);
    return At(index);
  }

 private:
  bool Valid(std::int32_t index) const {
    return static_cast<std::uint32_t>(index) < static_cast<std::uint32_t>(FCapacity);
  }
  const T& At(std::int32_t index) const {
    return FArray[static_cast<std::size_t>(index >> cShift)]
                 [static_cast<std::size_t>(index & cAndPattern)];
  }
  T& At(std::int32_t index) {
    return FArray[static_cast<std::size_t>(index >> cShift)]
                 [static_cast<std::size_t>(index & cAndPattern)];
  }

  // The record layout's own names.
  // NOLINTBEGIN(readability-identifier-naming)
  std::uint8_t cShift = 0;
  std::int32_t cElements = 1;
  std::int32_t cAndPattern = 0;
  // NOLINTEND(readability-identifier-naming)
  std::int32_t FCapacity = 0;
  // Moving the outer vector on growth moves the blocks' buffers, never the items in them.
  std::vector<std::vector<T>> FArray;
};

template <class T>
void TBigArray<T>::SetCapacity(std::int32_t value) {
  if (value < FCapacity) return;
  const std::int64_t blocks = (std::int64_t{value} >> cShift) + 1;
  const std::int64_t capacity = blocks * cElements;
  if (capacity > INT32_MAX) detail::RaiseBigArrayCapacity(value);
  while (static_cast<std::int64_t>(FArray.size()) < blocks)
    FArray.emplace_back(static_cast<std::size_t>(cElements));
  FCapacity = static_cast<std::int32_t>(capacity);
}

// One cluster of pool memory: TotalSize bytes from Memory on, UsedSize of them handed out.
struct TMemoryCluster {
  std::unique_ptr<std::byte[]> Memory;
  std::uint64_t TotalSize = 0;
  std::uint64_t UsedSize = 0;
  // One bit per block of the cluster, set while the block is on the free list.
  TBitArray FreeBlocks;
};

class TMemoryPool {
 public:
  static constexpr std::uint32_t kClusterBlocks = 65536;

  // Blocks of aBlockSize bytes, raised to at least 4 and to the size and alignment of a pointer.
  explicit TMemoryPool(std::uint32_t aBlockSize);
  TMemoryPool(const TMemoryPool&) = delete;
  TMemoryPool& operator=(const TMemoryPool&) = delete;
  ~TMemoryPool() = default;

  std::uint32_t BlockSize() const { return FBlockSize; }
  // Blocks handed out and not freed.
  std::uint32_t BlockCount() const { return FBlockCount; }
  // Blocks created in all clusters.
  std::int64_t Capacity() const { return FCapacity; }

  // A zero-filled block. When no block is free, a new cluster of 65536 blocks is created first,
  // and its blocks are handed out from the highest address down.
  void* GetNewMemBlock();
  // Puts a block handed out by this pool back on the free list. Any other pointer (outside every
  // cluster or not at the start of a block) raises Exception "Unknown pointer (<address>)", a
  // block that is already free raises Exception "Memory block already free (<address>)"; the
  // pool is unchanged then.
  void FreeMemBlock(void* block);

 private:
  void AddCluster(std::uint32_t blocks);
  void PushFree(std::byte* block);
  std::uintptr_t ClusterStart(std::int32_t slot) const;
  // Slot of the cluster whose memory holds p; -1 when none does.
  std::int32_t FindCluster(const void* p) const;
  std::int64_t BlockIndex(const TMemoryCluster& cluster, const void* p) const;

  std::uint32_t FBlockCount = 0;
  std::uint32_t FBlockSize = 0;
  std::int64_t FCapacity = 0;
  std::byte* FHead = nullptr;
  std::vector<TMemoryCluster> FMemClusterList;  // grows by 10 slots
  std::int32_t FMemClusterCount = 0;            // slots in FMemClusterList
  // Slots of the clusters with memory, by ascending start address (for FreeMemBlock).
  std::vector<std::int32_t> FClusterOrder;
};

struct TDoubleLinkedListNode {
  std::int32_t info = 0;
  std::int32_t next = -1;  // toward the bottom end
  std::int32_t prev = -1;  // toward the top end
};

class TDoubleLinkedList {
 public:
  // Empty, with 100 slots.
  TDoubleLinkedList();

  // Adds at the top end.
  void Push(std::int32_t item);
  // Adds at the bottom end.
  void Insert(std::int32_t item);
  // Removes and returns the top item; -1 when empty.
  std::int32_t Pop();
  // Removes the bottom item; nothing when empty.
  void Remove();

  // The top item; -1 when empty.
  std::int32_t Last() const;
  // The bottom item; -1 when empty.
  std::int32_t First() const;
  // The item next to the top one; -1 when there is none.
  std::int32_t SecondLast() const;
  // The item next to the bottom one; 0 (not -1) when there is none.
  std::int32_t SecondFirst() const;
  bool Empty() const { return top == -1; }

 private:
  std::int32_t AllocSlot();
  void FreeSlot(std::int32_t slot);
  TDoubleLinkedListNode& Slot(std::int32_t slot) { return DLarray[static_cast<std::size_t>(slot)]; }
  const TDoubleLinkedListNode& Slot(std::int32_t slot) const {
    return DLarray[static_cast<std::size_t>(slot)];
  }

  // The record layout's own names.
  // NOLINTBEGIN(readability-identifier-naming)
  std::int32_t top = -1;     // slot of the top end, -1 when empty
  std::int32_t bottom = -1;  // slot of the bottom end, -1 when empty
  std::vector<TDoubleLinkedListNode> DLarray;
  TBitArray usedpos;  // set while the slot is in use
  // NOLINTEND(readability-identifier-naming)
  // Every slot below this one is in use.
  std::int32_t FFreeHint = 0;
};

}  // namespace kvnet
