// TFromToNodeTree: derives z-levels from external node ids. A network built without z-levels
// joins every link end at one coordinate into one node, even where the source data kept several
// nodes there (a bridge over a road). Fed with the network node and the source's node id of every
// link end, the tree numbers the source ids that share a network node, so that a new import with
// those numbers as z-levels keeps the ends apart.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "foundation/kvnet_basetree.h"

namespace kvnet {

using TZLevel = std::int8_t;

struct TFromToNode {
  std::int32_t IntNode = 0;  // network node
  std::int64_t ExtNode = 0;  // node id of the source data
};

// Ordered by network node, then by external id. Each external id enters once, with the network
// node it came with first.
class TFromToNodeTree : public TBalancedTree<TFromToNode> {
 public:
  int CompareKeys(const TFromToNode& a, const TFromToNode& b) const override;

  // Ignores an external id that is already known; a new one gets z-level 0.
  void Add(const TFromToNode& aItem) override;
  void Add(std::int32_t IntNode, std::int64_t ExtNode) { Add(TFromToNode{IntNode, ExtNode}); }

  // Walks the ids in order with one counter that starts at 1 and never restarts. An id at the
  // same network node as the one before takes the counter (and gives the one before the counter
  // first when that one still has 0), the counter moving on after each use. The counter is 8 bits
  // wide: after 255 it wraps to 0, and 128..255 read as -128..-1.
  void CreateZ();
  // The z-level of an external id; 0 when the id is unknown or alone at its network node.
  TZLevel GetZ(std::int64_t ExtNode) const;

 private:
  std::unordered_map<std::int64_t, std::int32_t> IndexedNodes;  // ExtNode -> tree node
  std::vector<TZLevel> FZLevel;                                 // by tree node, entry 0 unused
};

}  // namespace kvnet
