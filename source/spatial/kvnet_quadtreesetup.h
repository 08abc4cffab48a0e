// Builds the quad-tree spatial index of a network directory and writes spatialindex.bin. The
// root covers the bounding rectangle of the network's configuration; cells split into quadrants
// while they hold more than MaxNodesPerCell nodes (at most 16 levels below the root), and every
// leaf receives the nodes inside it and, per link, the runs of consecutive segments that touch
// it (borders count as inside).
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kvnet_types.h"
#include "store/kvnet_quadtree.h"

namespace kvnet {

class TKVStream;

class TQuadTreeSetup : public TQuadTreeBase {
 public:
  TQuadTreeSetup() = default;

  std::int32_t MaxNodesPerCell() const { return fMaxNodesPerCell; }
  // At least 1.
  void SetMaxNodesPerCell(std::int32_t value);

  // Builds the tree from coord.bin, length.bin, link.bin, coord3.bin and coord3i.bin of
  // Directory() (coordinates and lengths enciphered under encryptionkey when it is not 0;
  // link.bin is read as stored) and writes it to aFS from its current position, or, without
  // aFS, to spatialindex.bin in the directory (replacing any old file only once the new one is
  // complete). A cancelled build writes nothing. Raises for missing or inconsistent files, and
  // when a leaf would hold more than 65535 entries at the deepest level.
  void Build(std::int64_t encryptionkey, TKVStream* aFS = nullptr);

  // Writes the tree held in the file layout of spatialindex.bin.
  void WriteTree(TKVStream& out) const;

 private:
  struct TLinkGeometry;

  void InsertNodes(TQuadTreeCell& cell, std::int32_t depth, const std::vector<TFloatPoint>& xy);
  void Split(TQuadTreeCell& cell, const std::vector<TFloatPoint>& xy);
  void InsertSegment(TQuadTreeCell& cell, std::int32_t link, std::int32_t pos);
  bool SegmentTouchesCell(const TFloatRect& r) const;
  void SetSegment(const TFloatPoint& p1, const TFloatPoint& p2);
  // Splits leaves holding more than 65535 entries while the depth allows.
  void SplitFullLeaves(TQuadTreeCell& cell, std::int32_t depth, const std::vector<TFloatPoint>& xy,
                       const TLinkGeometry& links);
  std::int32_t Renumber(TQuadTreeCell& cell, std::int32_t next);

  std::int32_t fMaxNodesPerCell = 50;
  double c1 = 0;
  double c2 = 0;
  double c3 = 0;
  double P1x = 0;
  double P1y = 0;
  double P2x = 0;
  double P2y = 0;
};

}  // namespace kvnet
