#include "foundation/kvnet_memorypool.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"

namespace kvnet {

namespace detail {

void RaiseBigArrayIndex(const char* method, std::int64_t index) {
  throw EOutOfRange(Format("Invalid TBigArray.%s index: %d", method, index));
}

void RaiseBigArrayShift(std::int32_t shift) {
  throw EOutOfRange(Format("Invalid TBigArray shift: %d", shift));
}

void RaiseBigArrayCapacity(std::int64_t value) {
  throw EOutOfRange(Format("Invalid TBigArray capacity: %d", value));
}

}  // namespace detail

// ---- TMemoryPool

namespace {

constexpr std::uint32_t kPointerSize = sizeof(void*);
constexpr std::uint32_t kPointerAlign = alignof(void*);
constexpr std::int32_t kClusterSlotGrowth = 10;

std::uintptr_t AddressOf(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p);
}

[[noreturn]] void RaiseUnknownPointer(const void* block) {
  throw Exception(Format("Unknown pointer (%d)", AddressOf(block)));
}

// The free-list link lives in the first bytes of a free block; memcpy keeps the access free of
// alignment and aliasing assumptions.
std::byte* NextOf(const std::byte* block) {
  std::byte* next = nullptr;
  std::memcpy(static_cast<void*>(&next), block, sizeof next);
  return next;
}

void SetNext(std::byte* block, std::byte* next) {
  std::memcpy(block, static_cast<const void*>(&next), sizeof next);
}

}  // namespace

TMemoryPool::TMemoryPool(std::uint32_t aBlockSize) {
  constexpr std::uint32_t kLargest = UINT32_MAX - kPointerAlign + 1;
  if (aBlockSize > kLargest) throw EInvalidParameter(Format("Invalid block size: %d", aBlockSize));
  std::uint32_t size = std::max({aBlockSize, std::uint32_t{4}, kPointerSize});
  size = (size + kPointerAlign - 1) / kPointerAlign * kPointerAlign;
  FBlockSize = size;
}

void TMemoryPool::AddCluster(std::uint32_t blocks) {
  // The first slot without memory; the list grows by 10 slots when every slot has memory.
  std::int32_t slot = 0;
  while (slot < FMemClusterCount && FMemClusterList[static_cast<std::size_t>(slot)].Memory)
    ++slot;
  const std::uint64_t bytes = std::uint64_t{blocks} * FBlockSize;
  std::unique_ptr<std::byte[]> memory;
  TBitArray freeBlocks;
  try {
    if (slot == FMemClusterCount) {
      FMemClusterList.resize(static_cast<std::size_t>(FMemClusterCount) + kClusterSlotGrowth);
      FMemClusterCount += kClusterSlotGrowth;
    }
    FClusterOrder.reserve(FClusterOrder.size() + 1);
    freeBlocks.SetSize(blocks);
    memory = std::make_unique<std::byte[]>(static_cast<std::size_t>(bytes));  // zero-filled
  } catch (const std::bad_alloc&) {
    throw Exception("Can not create new memory cluster");
  } catch (const std::length_error&) {
    throw Exception("Can not create new memory cluster");
  }
  TMemoryCluster& cluster = FMemClusterList[static_cast<std::size_t>(slot)];
  cluster.Memory = std::move(memory);
  cluster.TotalSize = bytes;
  cluster.UsedSize = 0;
  cluster.FreeBlocks = std::move(freeBlocks);
  cluster.FreeBlocks.SetAllTrue();
  // Pushed in address order, so the last block of the cluster is handed out first.
  std::byte* const base = cluster.Memory.get();
  for (std::uint32_t k = 0; k < blocks; ++k)
    PushFree(base + std::uint64_t{k} * FBlockSize);
  FCapacity += blocks;

  const auto pos =
      std::upper_bound(FClusterOrder.begin(), FClusterOrder.end(), AddressOf(base),
                       [this](std::uintptr_t a, std::int32_t s) { return a < ClusterStart(s); });
  FClusterOrder.insert(pos, slot);  // reserved above: cannot fail
}

std::uintptr_t TMemoryPool::ClusterStart(std::int32_t slot) const {
  return AddressOf(FMemClusterList[static_cast<std::size_t>(slot)].Memory.get());
}

std::int32_t TMemoryPool::FindCluster(const void* p) const {
  // The last cluster that starts at or below p is the only one that can hold it.
  const std::uintptr_t a = AddressOf(p);
  const auto pos =
      std::upper_bound(FClusterOrder.begin(), FClusterOrder.end(), a,
                       [this](std::uintptr_t x, std::int32_t s) { return x < ClusterStart(s); });
  if (pos == FClusterOrder.begin()) return -1;
  const std::int32_t slot = *(pos - 1);
  if (a - ClusterStart(slot) >= FMemClusterList[static_cast<std::size_t>(slot)].TotalSize) {
    return -1;
  }
  return slot;
}

void TMemoryPool::PushFree(std::byte* block) {
  SetNext(block, FHead);
  FHead = block;
}

void* TMemoryPool::GetNewMemBlock() {
  if (FHead == nullptr) AddCluster(kClusterBlocks);
  std::byte* const block = FHead;
  TMemoryCluster& cluster = FMemClusterList[static_cast<std::size_t>(FindCluster(block))];
  FHead = NextOf(block);
  SetNext(block, nullptr);  // the rest of a free block is already zero
  cluster.FreeBlocks.SetBit2(BlockIndex(cluster, block), false);
  cluster.UsedSize += FBlockSize;
  ++FBlockCount;
  return block;
}

std::int64_t TMemoryPool::BlockIndex(const TMemoryCluster& cluster, const void* p) const {
  return static_cast<std::int64_t>((AddressOf(p) - AddressOf(cluster.Memory.get())) / FBlockSize);
}

void TMemoryPool::FreeMemBlock(void* block) {
  const std::int32_t slot = FindCluster(block);
  if (slot < 0) RaiseUnknownPointer(block);
  TMemoryCluster& cluster = FMemClusterList[static_cast<std::size_t>(slot)];
  if ((AddressOf(block) - AddressOf(cluster.Memory.get())) % FBlockSize != 0) {
    RaiseUnknownPointer(block);
  }
  const std::int64_t index = BlockIndex(cluster, block);
  if (cluster.FreeBlocks.GetBit(index)) {
    throw Exception(Format("Memory block already free (%d)", AddressOf(block)));
  }

  std::byte* const p = static_cast<std::byte*>(block);
  std::memset(p, 0, FBlockSize);
  PushFree(p);
  cluster.FreeBlocks.SetBit2(index, true);
  cluster.UsedSize -= FBlockSize;
  --FBlockCount;
}

// ---- TDoubleLinkedList

namespace {
constexpr std::int32_t kSlotGrowth = 100;
}  // namespace

TDoubleLinkedList::TDoubleLinkedList()
    : DLarray(static_cast<std::size_t>(kSlotGrowth)), usedpos(kSlotGrowth) {}

std::int32_t TDoubleLinkedList::AllocSlot() {
  // Every slot below FFreeHint is in use, so the first clear bit from there on is the first
  // clear bit of all.
  auto slot = static_cast<std::int32_t>(usedpos.OpenBitOffset(FFreeHint));
  if (slot >= static_cast<std::int32_t>(usedpos.Size())) {
    slot = static_cast<std::int32_t>(usedpos.Size());
    usedpos.SetSize(usedpos.Size() + kSlotGrowth);
    DLarray.resize(DLarray.size() + static_cast<std::size_t>(kSlotGrowth));
  }
  usedpos.SetBit2(slot, true);
  FFreeHint = slot + 1;
  return slot;
}

void TDoubleLinkedList::FreeSlot(std::int32_t slot) {
  usedpos.SetBit2(slot, false);
  FFreeHint = std::min(FFreeHint, slot);
}

void TDoubleLinkedList::Push(std::int32_t item) {
  const std::int32_t slot = AllocSlot();
  Slot(slot) = TDoubleLinkedListNode{item, top, -1};
  if (top == -1) {
    bottom = slot;
  } else {
    Slot(top).prev = slot;
  }
  top = slot;
}

void TDoubleLinkedList::Insert(std::int32_t item) {
  const std::int32_t slot = AllocSlot();
  Slot(slot) = TDoubleLinkedListNode{item, -1, bottom};
  if (bottom == -1) {
    top = slot;
  } else {
    Slot(bottom).next = slot;
  }
  bottom = slot;
}

std::int32_t TDoubleLinkedList::Pop() {
  if (top == -1) return -1;
  const std::int32_t slot = top;
  const TDoubleLinkedListNode node = Slot(slot);
  top = node.next;
  if (top == -1) {
    bottom = -1;
  } else {
    Slot(top).prev = -1;
  }
  FreeSlot(slot);
  return node.info;
}

void TDoubleLinkedList::Remove() {
  if (bottom == -1) return;
  const std::int32_t slot = bottom;
  bottom = Slot(slot).prev;
  if (bottom == -1) {
    top = -1;
  } else {
    Slot(bottom).next = -1;
  }
  FreeSlot(slot);
}

std::int32_t TDoubleLinkedList::Last() const {
  return top == -1 ? -1 : Slot(top).info;
}

std::int32_t TDoubleLinkedList::First() const {
  return bottom == -1 ? -1 : Slot(bottom).info;
}

std::int32_t TDoubleLinkedList::SecondLast() const {
  if (top == -1 || Slot(top).next == -1) return -1;
  return Slot(Slot(top).next).info;
}

std::int32_t TDoubleLinkedList::SecondFirst() const {
  if (bottom == -1 || Slot(bottom).prev == -1) return 0;
  return Slot(Slot(bottom).prev).info;
}

}  // namespace kvnet
