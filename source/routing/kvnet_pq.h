// The priority queues of the searches: one binary min-heap over items held by value, with the
// exact sift rules that decide the order of items with equal keys (and so which of several
// equal-cost routes a search finds):
//   Enq (sift-up): the new item rises only past parents with a strictly greater key;
//   Deq (sift-down): the right child is taken when its key is less than or equal to the left
//   child's, and the hole moves down only past children with a strictly smaller key.
// Slot 0 is unused; capacity starts at 10000 items and grows by a factor of 1.2 (rounded half to
// even), and storage is never given back, so a search that once needed many slots keeps them.
// Deq on an empty queue returns the "empty" item (TPQ: FromNode = 0; TPQturn: ToLink = 0).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace kvnet {

// Node-mode item: reach ToNode from FromNode over link.
struct TPQitem {
  std::int32_t FromNode = 0;
  std::int32_t ToNode = 0;
  std::int32_t link = 0;
  float cost = 0;
  float sortvar = 0;
};

// Turn-mode item: enter ToLink from FromLink through Node; NextNode is ToLink's far end.
struct TPQturnitem {
  std::int32_t FromLink = 0;
  std::int32_t Node = 0;
  std::int32_t ToLink = 0;
  std::int32_t NextNode = 0;
  float cost = 0;
  float sortvar = 0;
};

// TItem must have a float member sortvar; TEmpty fills the item Deq returns on an empty queue.
// The searches use compact items of their own with the same rules.
template <class TItem, class TEmpty>
class TPQbase {
 public:
  static constexpr std::int32_t kInitialCapacity = 10000;

  // Two slots beyond the capacity: slot 0 is unused, and the slot after the last item holds an
  // infinite key during Deq so that choosing between two children needs no bounds test.
  TPQbase() : heapitems(static_cast<std::size_t>(kInitialCapacity) + 2) {}

  void Clear() { bottom = 0; }
  bool Empty() const { return bottom == 0; }
  std::int32_t Count() const { return bottom; }
  std::int32_t Capacity() const { return maxitems; }

  void Enq(const TItem& newitem) {
    if (bottom == maxitems) Grow();
    const float key = newitem.sortvar;
    std::int32_t hole = ++bottom;
    TItem* heap = heapitems.data();
    while (hole > 1) {
      const std::int32_t parent = hole >> 1;
      if (!(key < heap[parent].sortvar)) break;
      heap[hole] = heap[parent];
      hole = parent;
    }
    heap[hole] = newitem;
  }

  TItem Deq() {
    if (bottom == 0) {
      TItem empty{};
      TEmpty()(empty);
      return empty;
    }
    return DeqNonEmpty();
  }

  // Deq on a queue known not to be empty.
  TItem DeqNonEmpty() {
    TItem* heap = heapitems.data();
    const TItem result = heap[1];
    const TItem last = heap[bottom];
    const float key = last.sortvar;
    const std::int32_t n = --bottom;
    // With an infinite key just past the last item, "child != n" in the choice of the right
    // child is implied (keys are finite), so the choice compiles without a branch.
    heap[n + 1].sortvar = std::numeric_limits<float>::infinity();
    std::int32_t hole = 1;
    std::int32_t child = 2;
    while (child <= n) {
      child += heap[child + 1].sortvar <= heap[child].sortvar ? 1 : 0;
      if (!(heap[child].sortvar < key)) break;
      heap[hole] = heap[child];
      hole = child;
      child = hole << 1;
    }
    heap[hole] = last;
    return result;
  }

 private:
  void Grow() {
    maxitems = static_cast<std::int32_t>(std::nearbyint(static_cast<double>(maxitems) * 1.2));
    heapitems.resize(static_cast<std::size_t>(maxitems) + 2);
  }

  std::vector<TItem> heapitems;
  std::int32_t bottom = 0;
  std::int32_t maxitems = kInitialCapacity;
};

// Nothing to fill: for queues whose users test Empty before Deq.
struct TPQNoEmpty {
  template <class TItem>
  void operator()(TItem&) const {}
};

struct TPQEmpty {
  void operator()(TPQitem& item) const {
    item.FromNode = 0;
    item.cost = 0;
  }
};

struct TPQturnEmpty {
  void operator()(TPQturnitem& item) const { item.ToLink = 0; }
};

class TPQ : public TPQbase<TPQitem, TPQEmpty> {};
class TPQturn : public TPQbase<TPQturnitem, TPQturnEmpty> {};

}  // namespace kvnet
