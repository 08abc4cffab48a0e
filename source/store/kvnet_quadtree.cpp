#include "store/kvnet_quadtree.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"

namespace kvnet {

namespace {

constexpr char kSpatialIndexFile[] = "spatialindex.bin";
// Levels of division below the root that the builder can produce; deeper files are refused, which
// also bounds the recursion of every walk.
constexpr int kMaxDepth = 16;
// A cell record without its leaf part: four doubles, the id and the divided flag.
constexpr std::int64_t kCellHeaderBytes = 4 * 8 + 4 + 1;
constexpr std::int64_t kEntryBytes = 8;

[[noreturn]] void RaiseCorrupt(const std::string& source, const std::string& detail) {
  throw Exception(Format("Spatial index %s is corrupt: %s", source, detail));
}

// Parses the records of spatialindex.bin from a buffer holding the rest of the stream. Every read
// is checked against the bytes that remain.
class TCellReader {
 public:
  TCellReader(std::span<const std::uint8_t> data, std::int64_t basePosition,
              const std::string& source, TProgressCancel& progress)
      : FData(data), FBase(basePosition), FSource(source), FProgress(progress) {}

  std::int64_t Consumed() const { return FPos; }

  std::int32_t ReadCellCount() {
    if (Remaining() < 4) RaiseCorrupt(FSource, "the file is too short for the cell count");
    FCellCount = Get<std::int32_t>();
    // Every cell takes at least kCellHeaderBytes, so a larger count cannot be genuine.
    if (FCellCount < 1 || FCellCount > Remaining() / kCellHeaderBytes) {
      RaiseCorrupt(FSource, Format("cell count %d does not fit the file", FCellCount));
    }
    return FCellCount;
  }

  // Reads a cell and, in pre-order, its subtree; nullptr once the load was cancelled.
  std::unique_ptr<TQuadTreeCell> ReadCell(int depth) {
    if (FProgress.Cancelled()) return nullptr;
    FProgress.ProgressExecute(static_cast<double>(FBase + FPos));
    const std::int32_t expected = FNextID;
    if (expected > FCellCount) {
      RaiseCorrupt(FSource, Format("the tree holds more cells than its count %d", FCellCount));
    }
    if (Remaining() < kCellHeaderBytes) {
      RaiseCorrupt(FSource, Format("the file ends inside cell %d", expected));
    }
    auto cell = std::make_unique<TQuadTreeCell>();
    TFloatRect& r = cell->Rect;
    r.xmin = Get<double>();
    r.ymin = Get<double>();
    r.xmax = Get<double>();
    r.ymax = Get<double>();
    cell->ID = Get<std::int32_t>();
    cell->Divided = Get<std::uint8_t>() != 0;
    if (cell->ID != expected) {
      RaiseCorrupt(FSource, Format("cell id %d where %d was expected", cell->ID, expected));
    }
    ++FNextID;
    if (!std::isfinite(r.xmin) || !std::isfinite(r.ymin) || !std::isfinite(r.xmax) ||
        !std::isfinite(r.ymax) || r.xmin > r.xmax || r.ymin > r.ymax) {
      RaiseCorrupt(FSource, Format("cell %d has an invalid rectangle", cell->ID));
    }
    if (cell->Divided) {
      if (depth >= kMaxDepth) {
        RaiseCorrupt(FSource, Format("cell %d is divided below level %d", cell->ID, kMaxDepth));
      }
      for (auto& child : cell->QTCellArray)
        child = ReadCell(depth + 1);
    } else {
      ReadLeaf(*cell);
    }
    return cell;
  }

  // After a complete (not cancelled) walk: every counted cell must have been read.
  void CheckComplete() const {
    if (FNextID - 1 != FCellCount) {
      RaiseCorrupt(FSource,
                   Format("the tree holds %d cells, its count says %d", FNextID - 1, FCellCount));
    }
  }

 private:
  std::int64_t Remaining() const { return static_cast<std::int64_t>(FData.size()) - FPos; }

  // Little-endian value at the current position; the caller has checked the bytes remain.
  template <class T>
  T Get() {
    std::uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, FData.data() + FPos, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
      for (std::size_t i = 0; i < sizeof(T) / 2; ++i)
        std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    }
    FPos += static_cast<std::int64_t>(sizeof(T));
    T v;
    std::memcpy(&v, bytes, sizeof(T));
    return v;
  }

  // Entries: node ids have sub2 = 0 (and sub1 = 0), runs have sub2 > sub1. Both lists are sized
  // exactly, so a first pass validates and counts.
  void ReadLeaf(TQuadTreeCell& cell) {
    if (Remaining() < 2) RaiseCorrupt(FSource, Format("the file ends inside leaf %d", cell.ID));
    const std::int32_t n = Get<std::uint16_t>();
    if (n * kEntryBytes > Remaining()) {
      RaiseCorrupt(FSource, Format("leaf %d holds %d entries but only %d bytes remain", cell.ID, n,
                                   Remaining()));
    }
    const std::int64_t start = FPos;
    std::int32_t nodeCount = 0;
    for (std::int32_t k = 0; k < n; ++k) {
      const std::int32_t id = Get<std::int32_t>();
      const std::uint16_t sub1 = Get<std::uint16_t>();
      const std::uint16_t sub2 = Get<std::uint16_t>();
      if (sub2 == 0) {
        if (id < 1 || sub1 != 0) {
          RaiseCorrupt(FSource, Format("node entry %d of leaf %d is invalid", k + 1, cell.ID));
        }
        ++nodeCount;
      } else if (id < 1 || sub2 <= sub1) {
        RaiseCorrupt(FSource, Format("run entry %d of leaf %d is invalid", k + 1, cell.ID));
      }
    }
    FPos = start;
    cell.nodes.SetCapacity(nodeCount);
    cell.SLL.SetCapacity(n - nodeCount);
    for (std::int32_t k = 0; k < n; ++k) {
      TSubLink entry;
      entry.Link = Get<std::int32_t>();
      entry.sub1 = Get<std::uint16_t>();
      entry.sub2 = Get<std::uint16_t>();
      if (entry.sub2 == 0) {
        cell.nodes.Add(entry.Link);
      } else {
        cell.SLL.Add(entry);
      }
    }
  }

  std::span<const std::uint8_t> FData;
  std::int64_t FBase;  // stream position of FData[0]
  std::int64_t FPos = 0;
  const std::string& FSource;
  TProgressCancel& FProgress;
  std::int32_t FCellCount = 0;
  std::int32_t FNextID = 1;  // ids run 1, 2, ... in pre-order
};

void VisitCell(const TQuadTreeCell* cell, TFloatRect& r, const TBitArray* visited,
               const TQuadTree::TLeafAction& action) {
  if (cell == nullptr) return;
  if (visited != nullptr && visited->GetBit(cell->ID)) return;
  const TFloatRect& c = cell->Rect;
  if (!(r.xmin <= c.xmax && r.xmax >= c.xmin && r.ymin <= c.ymax && r.ymax >= c.ymin)) return;
  if (cell->Divided) {
    for (const auto& child : cell->QTCellArray)
      VisitCell(child.get(), r, visited, action);
  } else {
    action(*cell);
  }
}

void CheckCell(const TQuadTreeCell* cell, std::int32_t nodeCount, std::int32_t linkCount,
               const std::string& source) {
  if (cell == nullptr) return;
  for (const std::int32_t node : cell->nodes) {
    if (node > nodeCount) {
      RaiseCorrupt(source, Format("leaf %d holds node %d, the network has %d nodes", cell->ID, node,
                                  nodeCount));
    }
  }
  for (const TSubLink& run : cell->SLL) {
    if (run.Link > linkCount) {
      RaiseCorrupt(source, Format("leaf %d holds link %d, the network has %d links", cell->ID,
                                  run.Link, linkCount));
    }
  }
  for (const auto& child : cell->QTCellArray)
    CheckCell(child.get(), nodeCount, linkCount, source);
}

}  // namespace

// ---- TQuadTreeCell

void TQuadTreeCell::Clone(TQuadTreeCell& v) const {
  v.Divided = Divided;
  v.ID = ID;
  nodes.Clone(v.nodes);
  v.Rect = Rect;
  v.nodeXY = nodeXY;
  v.runBox = runBox;
  SLL.Clone(v.SLL);
  for (std::size_t i = 0; i < QTCellArray.size(); ++i) {
    std::unique_ptr<TQuadTreeCell> copy;
    if (QTCellArray[i]) {
      copy = std::make_unique<TQuadTreeCell>();
      QTCellArray[i]->Clone(*copy);
    }
    v.QTCellArray[i] = std::move(copy);
  }
}

// ---- TQuadTree

void TQuadTree::Load() {
  const std::string path = Directory() + kSpatialIndexFile;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw EFileMissing(Format("File is missing: %s", path));
  TKVFileStream fs(path, fmOpenRead | fmShareDenyWrite);
  LoadNamed(fs, path);
}

void TQuadTree::LoadFromStream(TKVStream& fs) {
  const auto* file = dynamic_cast<const TKVFileStream*>(&fs);
  LoadNamed(fs, file != nullptr ? file->FileName() : std::string("stream"));
}

// One bulk read of the rest of the stream, then a checked parse of the buffer.
void TQuadTree::LoadNamed(TKVStream& fs, const std::string& sourceName) {
  const std::int64_t start = fs.Position();
  const std::int64_t size = fs.Size();
  if (start < 0 || size < start) RaiseCorrupt(sourceName, "the stream position is invalid");
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size - start));
  fs.ReadBuffer(data.data(), size - start);

  SetProgressMaxValue(static_cast<double>(size));
  TCellReader reader(data, start, sourceName, *this);
  const std::int32_t cellCount = reader.ReadCellCount();
  std::unique_ptr<TQuadTreeCell> root = reader.ReadCell(0);
  if (!Cancelled()) reader.CheckComplete();
  ProgressExecuteZero();
  fs.SetPosition(start + reader.Consumed());

  fCellCount = cellCount;
  fMainCell = std::move(root);
  FSourceName = sourceName;
}

void TQuadTree::Clone(TQuadTree& v) const {
  std::unique_ptr<TQuadTreeCell> copy;
  if (fMainCell) {
    copy = std::make_unique<TQuadTreeCell>();
    fMainCell->Clone(*copy);
  }
  v.fMainCell = std::move(copy);
  v.fCellCount = fCellCount;
  v.FSourceName = FSourceName;
}

const TQuadTreeCell* TQuadTree::FindLeaf(const TFloatPoint& p) const {
  const TQuadTreeCell* cell = fMainCell.get();
  while (cell != nullptr && cell->Divided) {
    // The centre is the south-west corner of child 1.
    const TQuadTreeCell* northEast = cell->QTCellArray[0].get();
    if (northEast == nullptr) return nullptr;
    const bool west = p.x <= northEast->Rect.xmin;
    const bool south = p.y <= northEast->Rect.ymin;
    std::size_t child = 0;  // child 1, north-east
    if (west) {
      child = south ? 2 : 1;  // child 3 or 2
    } else if (south) {
      child = 3;  // child 4
    }
    cell = cell->QTCellArray[child].get();
  }
  return cell;
}

void TQuadTree::VisitLeaves(TFloatRect& r, const TBitArray* visited,
                            const TLeafAction& action) const {
  VisitCell(fMainCell.get(), r, visited, action);
}

namespace {

void AttachCell(TQuadTreeCell* cell, const double* x, const double* y) {
  if (cell == nullptr) return;
  if (cell->Divided) {
    for (auto& child : cell->QTCellArray)
      AttachCell(child.get(), x, y);
    return;
  }
  cell->nodeXY.resize(static_cast<std::size_t>(cell->nodes.Count()));
  for (std::int32_t i = 0; i < cell->nodes.Count(); ++i) {
    const auto n = static_cast<std::size_t>(cell->nodes[i]);
    cell->nodeXY[static_cast<std::size_t>(i)] = TFloatPoint{x[n], y[n]};
  }
}

void AttachBoxes(TQuadTreeCell* cell,
                 const std::function<void(std::int32_t, TFloatPointArrayEx&)>& section,
                 TFloatPointArrayEx& line, std::int32_t& fetched) {
  if (cell == nullptr) return;
  if (cell->Divided) {
    for (auto& child : cell->QTCellArray)
      AttachBoxes(child.get(), section, line, fetched);
    return;
  }
  cell->runBox.resize(static_cast<std::size_t>(cell->SLL.Count()));
  for (std::int32_t i = 0; i < cell->SLL.Count(); ++i) {
    const TSubLink& run = cell->SLL[i];
    if (fetched != run.Link) {
      section(run.Link, line);
      fetched = run.Link;
    }
    double xmin = DBL_MAX;
    double ymin = DBL_MAX;
    double xmax = -DBL_MAX;
    double ymax = -DBL_MAX;
    const std::int32_t last = std::min<std::int32_t>(run.sub2, line.Count - 1);
    for (std::int32_t v = run.sub1; v <= last; ++v) {
      const TFloatPoint& p = line.Pnt[static_cast<std::size_t>(v)];
      xmin = std::min(xmin, p.x);
      ymin = std::min(ymin, p.y);
      xmax = std::max(xmax, p.x);
      ymax = std::max(ymax, p.y);
    }
    // Floats rounded outwards, so the box still holds every vertex.
    const auto down = [](double v) {
      const auto f = static_cast<float>(v);
      return static_cast<double>(f) > v ? std::nextafter(f, -FLT_MAX) : f;
    };
    const auto up = [](double v) {
      const auto f = static_cast<float>(v);
      return static_cast<double>(f) < v ? std::nextafter(f, FLT_MAX) : f;
    };
    cell->runBox[static_cast<std::size_t>(i)] = TRunBox{down(xmin), down(ymin), up(xmax), up(ymax)};
  }
}

}  // namespace

void TQuadTree::AttachRunBoxes(
    const std::function<void(std::int32_t, TFloatPointArrayEx&)>& section) {
  TFloatPointArrayEx line;
  std::int32_t fetched = 0;
  AttachBoxes(fMainCell.get(), section, line, fetched);
}

void TQuadTree::AttachNodeCoordinates(const double* x, const double* y) {
  AttachCell(fMainCell.get(), x, y);
}

void TQuadTree::CheckAgainst(std::int32_t nodeCount, std::int32_t linkCount) const {
  CheckCell(fMainCell.get(), nodeCount, linkCount, FSourceName);
}

}  // namespace kvnet
