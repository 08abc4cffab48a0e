#include "store/kvnet_fromtonode.h"

#include <algorithm>

namespace kvnet {

int TFromToNodeTree::CompareKeys(const TFromToNode& a, const TFromToNode& b) const {
  if (a.IntNode != b.IntNode) return a.IntNode < b.IntNode ? -1 : 1;
  if (a.ExtNode != b.ExtNode) return a.ExtNode < b.ExtNode ? -1 : 1;
  return 0;
}

void TFromToNodeTree::Add(const TFromToNode& aItem) {
  if (IndexedNodes.contains(aItem.ExtNode)) return;
  TBalancedTree<TFromToNode>::Add(aItem);
  const std::int32_t node = LastAdded();
  IndexedNodes.emplace(aItem.ExtNode, node);
  if (FZLevel.size() <= static_cast<std::size_t>(node)) {
    FZLevel.resize(static_cast<std::size_t>(node) + 1, 0);
  }
  FZLevel[static_cast<std::size_t>(node)] = 0;
}

void TFromToNodeTree::CreateZ() {
  std::fill(FZLevel.begin(), FZLevel.end(), TZLevel{0});
  std::uint8_t counter = 1;
  std::int32_t previous = 0;
  const auto take = [&](std::int32_t node) {
    FZLevel[static_cast<std::size_t>(node)] = static_cast<TZLevel>(counter);
    ++counter;  // wraps after 255
  };
  // In-order walk without recursion: the stack holds the nodes whose left side is being visited.
  std::vector<std::int32_t> stack;
  std::int32_t p = Root();
  while (p != 0 || !stack.empty()) {
    while (p != 0) {
      stack.push_back(p);
      p = Node(p).left;
    }
    p = stack.back();
    stack.pop_back();
    if (previous != 0 && Node(previous).key.IntNode == Node(p).key.IntNode) {
      if (FZLevel[static_cast<std::size_t>(previous)] == 0) take(previous);
      take(p);
    }
    previous = p;
    p = Node(p).right;
  }
}

TZLevel TFromToNodeTree::GetZ(std::int64_t ExtNode) const {
  const auto it = IndexedNodes.find(ExtNode);
  return it == IndexedNodes.end() ? 0 : FZLevel[static_cast<std::size_t>(it->second)];
}

}  // namespace kvnet
