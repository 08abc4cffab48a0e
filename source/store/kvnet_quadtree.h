// The quad-tree spatial index of a network: cells over the network's bounding rectangle, inner
// cells split into four equal quadrants, leaves holding node ids and runs of link segments.
// TQuadTree reads spatialindex.bin (or a caller's stream) and answers the two walks every
// coordinate search uses, FindLeaf and VisitLeaves.
//
// Thread rules: a tree is loaded once by one thread; after that it is never changed, and any
// number of threads may walk it at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_filebase.h"
#include "foundation/kvnet_types.h"
#include "store/kvnet_sublinklist.h"

namespace kvnet {

class TBitArray;
class TKVStream;

struct TRunBox {
  float xmin = 0;
  float ymin = 0;
  float xmax = 0;
  float ymax = 0;
};

class TQuadTreeCell {
 public:
  TQuadTreeCell() = default;
  TQuadTreeCell(double x1, double y1, double x2, double y2) : Rect{x1, y1, x2, y2} {}

  // Deep copy into v (flag, id, node list, rectangle, run list and all children); v's own
  // children are replaced.
  void Clone(TQuadTreeCell& v) const;

  bool Divided = false;
  std::int32_t ID = 0;
  TIntegerListUnsorted nodes;  // leaves only, increasing node ids
  // Children 1..4 at [0]..[3]: north-east, north-west, south-west, south-east. All present in an
  // inner cell, none in a leaf; a cancelled load leaves the ones not yet read absent.
  std::array<std::unique_ptr<TQuadTreeCell>, 4> QTCellArray;
  TFloatRect Rect;
  TSubLinkList SLL;  // leaves only, by link id, then vertex
  // The coordinates of the nodes, in the order of nodes, once the network has attached them
  // (searches then read them in sequence instead of across the network's arrays); else empty.
  std::vector<TFloatPoint> nodeXY;
  // The bounding box of each run's vertices, in the order of SLL (rounded outwards to floats),
  // once the network has attached them; else empty.
  std::vector<TRunBox> runBox;
};

class TQuadTreeBase : public TFileBase {
 public:
  std::int32_t CellCount() const { return fCellCount; }
  // The root, or nullptr when no tree is held.
  const TQuadTreeCell* MainCell() const { return fMainCell.get(); }

 protected:
  std::int32_t fCellCount = 0;
  std::unique_ptr<TQuadTreeCell> fMainCell;
};

class TQuadTree : public TQuadTreeBase {
 public:
  using TLeafAction = std::function<void(const TQuadTreeCell& leaf)>;

  // Reads spatialindex.bin from Directory(). Raises EFileMissing "File is missing: %s" when it
  // does not exist and Exception "Spatial index <path> is corrupt: ..." for a bad file.
  void Load();
  // Reads a tree from fs, starting at its current position, and leaves the position after the
  // tree. Replaces the tree held; after a failure the previous tree is kept. Progress runs over
  // the stream position; a cancelled load keeps the cells read so far and leaves the subtrees not
  // yet read absent (a cancel flag set before the load leaves no root).
  void LoadFromStream(TKVStream& fs);
  // Makes v a deep copy of this tree (cell count and cells).
  void Clone(TQuadTree& v) const;

  // The leaf holding p (a point on a dividing line goes west or south); nullptr when there is no
  // tree or the leaf was not loaded.
  const TQuadTreeCell* FindLeaf(const TFloatPoint& p) const;
  // Hands every leaf whose rectangle overlaps r (closed test) to action, children in the order
  // 1..4. Cells whose id is set in visited (size CellCount + 1) and absent cells are passed over.
  // The action may shrink r; later overlap tests use the changed rectangle.
  void VisitLeaves(TFloatRect& r, const TBitArray* visited, const TLeafAction& action) const;

  // Stores in every leaf the coordinates of its nodes (x[n], y[n] for node n). Call after
  // CheckAgainst, before the tree is shared.
  void AttachNodeCoordinates(const double* x, const double* y);
  // Stores in every leaf the bounding box of each run; section(link, list) fills a link's
  // polyline.
  void AttachRunBoxes(const std::function<void(std::int32_t, TFloatPointArrayEx&)>& section);

  // Raises the corrupt-index Exception when a node id exceeds nodeCount or a link id exceeds
  // linkCount: the file cannot be checked against the network while it is read.
  void CheckAgainst(std::int32_t nodeCount, std::int32_t linkCount) const;

 private:
  void LoadNamed(TKVStream& fs, const std::string& sourceName);

  std::string FSourceName;  // the file (or stream) the tree came from, for messages
};

}  // namespace kvnet
