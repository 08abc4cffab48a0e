// TBalancedTree<T>: an AVL tree that counts duplicate keys and numbers its keys in sorted order.
// It is the engine behind the coordinate, road-name and node-id dictionaries of the import.
//
// Nodes are numbered from 1 in the order their keys were first added (0 means no node) and live
// in a TBigArray of 1048576-node blocks, so growth never moves a node and node numbers are stable
// handles that callers may keep. Adding a key that is already present costs no node: the node's
// ItemCount grows and MaxItemCount tells the largest multiplicity. There is no removal.
//
// A concrete tree supplies the key order through CompareKeys. Callers walk the tree read-only
// through Root and Node (left/right hold node numbers, 0 for none).
#pragma once

#include <cstdint>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_memorypool.h"

namespace kvnet {

// Height of the right subtree minus height of the left one: -1, 0 or +1.
using TBalanceFactor = std::int8_t;

template <class T>
struct TTreeNode {
  T key{};
  std::int32_t id = 0;         // rank of the key after CreateID
  std::int32_t ItemCount = 0;  // how often the key was added
  std::int32_t left = 0;
  std::int32_t right = 0;
  TBalanceFactor bal = 0;
};

template <class T>
class TBalancedTree {
 public:
  // Nodes come in blocks of 4096: a small tree stays small, and a tree of millions of keys adds
  // blocks without moving the nodes it has.
  static constexpr std::int32_t kNodeShift = 12;

  TBalancedTree() : fNodeArray(kNodeShift) {}
  TBalancedTree(const TBalancedTree&) = default;
  TBalancedTree(TBalancedTree&&) noexcept = default;
  TBalancedTree& operator=(const TBalancedTree&) = default;
  TBalancedTree& operator=(TBalancedTree&&) noexcept = default;
  virtual ~TBalancedTree() = default;

  // -1 when a orders before b, 0 when they are equal, +1 when a orders after b (any negative or
  // positive value is taken the same way).
  virtual int CompareKeys(const T& a, const T& b) const = 0;

  // Inserts the key, or counts it once more when an equal key is present.
  virtual void Add(const T& aItem);
  // Node number of the key the last Add inserted or counted (0 before any Add).
  std::int32_t LastAdded() const { return fLastAdded; }
  // Numbers the nodes 0, 1, 2, ... in ascending key order (the id of each node).
  virtual void CreateID();

  // Node number of the key that compares equal to value; -1 when absent.
  std::int32_t IndexOf(const T& value) const;

  // The node with number 1..Count; any other number raises EOutOfRange.
  const TTreeNode<T>& Node(std::int32_t iindex) const {
    if (iindex < 1 || iindex > fNextPos) RaiseNodeIndex(iindex);
    return fNodeArray.ItemRef(iindex);
  }
  TTreeNode<T> GetItem(std::int32_t iindex) const { return Node(iindex); }

  // Number of nodes, that is of distinct keys.
  std::int32_t Count() const { return fNextPos; }
  // Node number of the root; 0 for an empty tree.
  std::int32_t Root() const { return fRoot; }
  // The largest ItemCount of any key; 1 for a new tree.
  std::int32_t MaxItemCount() const { return fMaxItemCount; }
  void SetMaxItemCount(std::int32_t value) { fMaxItemCount = value; }

 private:
  [[noreturn]] static void RaiseNodeIndex(std::int32_t iindex) {
    throw EOutOfRange(Format("Invalid TBalancedTree.GetItem index: %d", iindex));
  }
  TTreeNode<T>& At(std::int32_t p) { return fNodeArray.ItemRef(p); }
  const TTreeNode<T>& At(std::int32_t p) const { return fNodeArray.ItemRef(p); }

  std::int32_t NewNode(const T& key);
  void InsertKey(const T& key, std::int32_t& p, bool& found, bool& grown);
  void CountDuplicate(std::int32_t p);
  // Rebalance node p after its left (right) subtree grew by one level; p becomes the root of the
  // rotated subtree.
  void GrownLeft(std::int32_t& p, bool& grown);
  void GrownRight(std::int32_t& p, bool& grown);
  void NumberInOrder(std::int32_t p);

  std::int32_t fNextPos = 0;  // last node number handed out
  TBigArray<TTreeNode<T>> fNodeArray;
  std::int32_t fMaxItemCount = 1;
  std::int32_t FCreateIndex = 0;
  std::int32_t fRoot = 0;
  std::int32_t fLastAdded = 0;
};

template <class T>
void TBalancedTree<T>::Add(const T& aItem) {
  bool found = false;
  bool grown = false;
  InsertKey(aItem, fRoot, found, grown);
}

template <class T>
std::int32_t TBalancedTree<T>::NewNode(const T& key) {
  const std::int64_t needed = std::int64_t{fNextPos} + 2;
  if (needed > INT32_MAX) throw EOutOfRange("TBalancedTree: too many nodes");
  if (fNodeArray.Capacity() < needed) fNodeArray.SetCapacity(static_cast<std::int32_t>(needed));
  ++fNextPos;
  TTreeNode<T>& node = At(fNextPos);
  node.key = key;
  node.id = 0;
  node.ItemCount = 1;
  node.left = 0;
  node.right = 0;
  node.bal = 0;
  return fNextPos;
}

template <class T>
void TBalancedTree<T>::CountDuplicate(std::int32_t p) {
  TTreeNode<T>& node = At(p);
  if (node.ItemCount == INT32_MAX) throw EOutOfRange("TBalancedTree: too many equal keys");
  ++node.ItemCount;
  if (node.ItemCount > fMaxItemCount) fMaxItemCount = node.ItemCount;
}

template <class T>
void TBalancedTree<T>::InsertKey(const T& key, std::int32_t& p, bool& found, bool& grown) {
  if (p == 0) {
    p = NewNode(key);
    fLastAdded = p;
    grown = true;
    return;
  }
  const int c = CompareKeys(key, At(p).key);
  if (c == 0) {
    found = true;
    grown = false;
    fLastAdded = p;
    CountDuplicate(p);
  } else if (c < 0) {
    std::int32_t child = At(p).left;
    InsertKey(key, child, found, grown);
    At(p).left = child;
    if (grown && !found) GrownLeft(p, grown);
  } else {
    std::int32_t child = At(p).right;
    InsertKey(key, child, found, grown);
    At(p).right = child;
    if (grown && !found) GrownRight(p, grown);
  }
}

template <class T>
void TBalancedTree<T>::GrownLeft(std::int32_t& p, bool& grown) {
  TTreeNode<T>& n = At(p);
  if (n.bal == 1) {
    n.bal = 0;
    grown = false;
    return;
  }
  if (n.bal == 0) {
    n.bal = -1;
    return;
  }
  // Left-heavy by two levels now: rotate.
  const std::int32_t p1 = n.left;
  TTreeNode<T>& n1 = At(p1);
  if (n1.bal == -1) {
    // Single right rotation: the left child becomes the subtree root.
    n.left = n1.right;
    n1.right = p;
    n.bal = 0;
    n1.bal = 0;
    p = p1;
  } else {
    // Double rotation through the left child's right child.
    const std::int32_t p2 = n1.right;
    TTreeNode<T>& n2 = At(p2);
    n1.right = n2.left;
    n2.left = p1;
    n.left = n2.right;
    n2.right = p;
    n.bal = n2.bal == -1 ? 1 : 0;
    n1.bal = n2.bal == 1 ? -1 : 0;
    n2.bal = 0;
    p = p2;
  }
  grown = false;
}

template <class T>
void TBalancedTree<T>::GrownRight(std::int32_t& p, bool& grown) {
  TTreeNode<T>& n = At(p);
  if (n.bal == -1) {
    n.bal = 0;
    grown = false;
    return;
  }
  if (n.bal == 0) {
    n.bal = 1;
    return;
  }
  // Right-heavy by two levels now: rotate.
  const std::int32_t p1 = n.right;
  TTreeNode<T>& n1 = At(p1);
  if (n1.bal == 1) {
    // Single left rotation: the right child becomes the subtree root.
    n.right = n1.left;
    n1.left = p;
    n.bal = 0;
    n1.bal = 0;
    p = p1;
  } else {
    // Double rotation through the right child's left child.
    const std::int32_t p2 = n1.left;
    TTreeNode<T>& n2 = At(p2);
    n1.left = n2.right;
    n2.right = p1;
    n.right = n2.left;
    n2.left = p;
    n.bal = n2.bal == 1 ? -1 : 0;
    n1.bal = n2.bal == -1 ? 1 : 0;
    n2.bal = 0;
    p = p2;
  }
  grown = false;
}

template <class T>
std::int32_t TBalancedTree<T>::IndexOf(const T& value) const {
  std::int32_t p = fRoot;
  while (p != 0) {
    const TTreeNode<T>& node = At(p);
    const int c = CompareKeys(node.key, value);
    if (c == 0) return p;
    p = c > 0 ? node.left : node.right;
  }
  return -1;
}

template <class T>
void TBalancedTree<T>::CreateID() {
  FCreateIndex = 0;
  NumberInOrder(fRoot);
}

template <class T>
void TBalancedTree<T>::NumberInOrder(std::int32_t p) {
  // Recursion depth is the tree height: below 45 for any 32-bit node count.
  if (p == 0) return;
  NumberInOrder(At(p).left);
  At(p).id = FCreateIndex++;
  NumberInOrder(At(p).right);
}

}  // namespace kvnet
