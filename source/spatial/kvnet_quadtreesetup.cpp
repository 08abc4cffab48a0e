#include "spatial/kvnet_quadtreesetup.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <system_error>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"
#include "store/kvnet_configfile.h"
#include "store/kvnet_coord3file.h"
#include "store/kvnet_encryption.h"

namespace kvnet {

namespace {

// Levels of division below the root; leaves at the deepest level keep what they get.
constexpr std::int32_t kMaxSplitDepth = 15;
// A leaf's entry count is a 16-bit field of the file.
constexpr std::int64_t kMaxLeafEntries = 65535;

[[noreturn]] void RaiseCorrupt(const std::string& file, const std::string& detail) {
  throw Exception(Format("Network file %s is corrupt: %s", file, detail));
}

// The whole content of a file of the directory; raises EFileMissing when it does not exist.
std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName) {
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) {
    throw EFileMissing(Format("File is missing: %s", fileName));
  }
  TKVFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
  file.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

template <typename T>
T Load(const std::uint8_t* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

bool Overlaps(const TFloatRect& r, double x, double y) {
  return r.xmin <= x && x <= r.xmax && r.ymin <= y && y <= r.ymax;
}

}  // namespace

// Every link's polyline (vertex 0 the from-node, the last the to-node), kept for the leaves that
// must be split after the segments went in.
struct TQuadTreeSetup::TLinkGeometry {
  std::vector<std::int64_t> first{0, 0};  // first[l]..first[l + 1] - 1 are link l's vertices
  std::vector<TFloatPoint> points;

  std::span<const TFloatPoint> Vertices(std::int32_t link) const {
    const auto l = static_cast<std::size_t>(link);
    return {points.data() + first[l], static_cast<std::size_t>(first[l + 1] - first[l])};
  }
};

void TQuadTreeSetup::SetMaxNodesPerCell(std::int32_t value) {
  if (value < 1) throw EInvalidParameter(Format("MaxNodesPerCell must be at least 1: %d", value));
  fMaxNodesPerCell = value;
}

void TQuadTreeSetup::Split(TQuadTreeCell& cell, const std::vector<TFloatPoint>& xy) {
  const TFloatRect r = cell.Rect;
  const double xmid = r.xmin + (r.xmax - r.xmin) * 0.5;
  const double ymid = r.ymin + (r.ymax - r.ymin) * 0.5;
  cell.Divided = true;
  cell.QTCellArray[0] = std::make_unique<TQuadTreeCell>(xmid, ymid, r.xmax, r.ymax);
  cell.QTCellArray[1] = std::make_unique<TQuadTreeCell>(r.xmin, ymid, xmid, r.ymax);
  cell.QTCellArray[2] = std::make_unique<TQuadTreeCell>(r.xmin, r.ymin, xmid, ymid);
  cell.QTCellArray[3] = std::make_unique<TQuadTreeCell>(xmid, r.ymin, r.xmax, ymid);
  for (const std::int32_t node : cell.nodes) {
    const TFloatPoint& p = xy[static_cast<std::size_t>(node)];
    // A node on a dividing line goes east or north.
    const std::size_t child = p.y >= ymid ? (p.x >= xmid ? 0 : 1) : (p.x >= xmid ? 3 : 2);
    cell.QTCellArray[child]->nodes.Add(node);
  }
  cell.nodes.Clear();
}

void TQuadTreeSetup::InsertNodes(TQuadTreeCell& cell, std::int32_t depth,
                                 const std::vector<TFloatPoint>& xy) {
  if (Cancelled()) return;
  if (cell.nodes.Count() <= fMaxNodesPerCell || depth > kMaxSplitDepth) return;
  Split(cell, xy);
  for (auto& child : cell.QTCellArray)
    InsertNodes(*child, depth + 1, xy);
}

void TQuadTreeSetup::SetSegment(const TFloatPoint& p1, const TFloatPoint& p2) {
  P1x = p1.x;
  P1y = p1.y;
  P2x = p2.x;
  P2y = p2.y;
  c1 = P1y - P2y;
  c2 = P2x - P1x;
  c3 = P1x * P2y - P2x * P1y;
}

bool TQuadTreeSetup::SegmentTouchesCell(const TFloatRect& r) const {
  if (Overlaps(r, P1x, P1y) || Overlaps(r, P2x, P2y)) return true;
  if ((P1x < r.xmin && P2x < r.xmin) || (P1y < r.ymin && P2y < r.ymin) ||
      (P1x > r.xmax && P2x > r.xmax) || (P1y > r.ymax && P2y > r.ymax)) {
    return false;
  }
  // The segment's line separates two corners: it crosses the cell.
  const bool first = c1 * r.xmin + c2 * r.ymin + c3 > 0;
  return (c1 * r.xmin + c2 * r.ymax + c3 > 0) != first ||
         (c1 * r.xmax + c2 * r.ymin + c3 > 0) != first ||
         (c1 * r.xmax + c2 * r.ymax + c3 > 0) != first;
}

void TQuadTreeSetup::InsertSegment(TQuadTreeCell& cell, std::int32_t link, std::int32_t pos) {
  if (!SegmentTouchesCell(cell.Rect)) return;
  if (cell.Divided) {
    for (auto& child : cell.QTCellArray)
      InsertSegment(*child, link, pos);
    return;
  }
  TSubLinkList& runs = cell.SLL;
  if (runs.Count() > 0) {
    const TSubLink& last = runs[runs.Count() - 1];
    if (last.Link == link && last.sub2 == pos) {
      runs.incsub2();
      return;
    }
  }
  runs.Add(TSubLink{link, static_cast<std::uint16_t>(pos), static_cast<std::uint16_t>(pos + 1)});
}

void TQuadTreeSetup::SplitFullLeaves(TQuadTreeCell& cell, std::int32_t depth,
                                     const std::vector<TFloatPoint>& xy,
                                     const TLinkGeometry& links) {
  if (!cell.Divided) {
    const std::int64_t entries = static_cast<std::int64_t>(cell.nodes.Count()) + cell.SLL.Count();
    if (entries <= kMaxLeafEntries) return;
    if (depth > kMaxSplitDepth) {
      throw Exception(Format(
          "Spatial index: a cell at the deepest level holds %d entries, more than %d (around %g "
          "%g)",
          entries, kMaxLeafEntries, cell.Rect.xmin, cell.Rect.ymin));
    }
    // Split as if the cell had held too many nodes, then give the children the segments again,
    // in the order they arrived.
    const TSubLinkList runs = cell.SLL;
    cell.SLL.Clear();
    Split(cell, xy);
    for (const TSubLink& run : runs) {
      const auto vertices = links.Vertices(run.Link);
      for (std::int32_t pos = run.sub1; pos < run.sub2; ++pos) {
        SetSegment(vertices[static_cast<std::size_t>(pos)],
                   vertices[static_cast<std::size_t>(pos) + 1]);
        InsertSegment(cell, run.Link, pos);
      }
    }
  }
  for (auto& child : cell.QTCellArray)
    SplitFullLeaves(*child, depth + 1, xy, links);
}

std::int32_t TQuadTreeSetup::Renumber(TQuadTreeCell& cell, std::int32_t next) {
  cell.ID = next++;
  if (cell.Divided) {
    for (auto& child : cell.QTCellArray)
      next = Renumber(*child, next);
  }
  return next;
}

void TQuadTreeSetup::Build(std::int64_t encryptionkey, TKVStream* aFS) {
  const std::string dir = Directory();
  T32Encryption cipher(encryptionkey);

  // Node coordinates.
  const std::string coordName = dir + "coord.bin";
  std::vector<std::uint8_t> bytes = ReadWholeFile(coordName);
  if (bytes.size() % 16 != 0 || bytes.size() / 16 > INT32_MAX - 1) {
    RaiseCorrupt(coordName, Format("size %d is not 16 bytes per node", bytes.size()));
  }
  const auto nodeCount = static_cast<std::int32_t>(bytes.size() / 16);
  DecipherWords(bytes.data(), bytes.size() / 4, cipher);
  std::vector<TFloatPoint> xy(static_cast<std::size_t>(nodeCount) + 1);
  for (std::size_t n = 1; n <= static_cast<std::size_t>(nodeCount); ++n) {
    xy[n] = {Load<double>(bytes.data() + 16 * (n - 1)),
             Load<double>(bytes.data() + 16 * (n - 1) + 8)};
    if (!std::isfinite(xy[n].x) || !std::isfinite(xy[n].y)) {
      RaiseCorrupt(coordName, Format("node %d has no valid coordinate", n));
    }
  }

  // The root and the split by nodes.
  TConfig config;
  ReadConfig(dir, config);
  fCellCount = 0;
  fMainCell = std::make_unique<TQuadTreeCell>(config.Mbr.xmin, config.Mbr.ymin, config.Mbr.xmax,
                                              config.Mbr.ymax);
  fMainCell->nodes.SetCapacity(nodeCount);
  for (std::int32_t n = 1; n <= nodeCount; ++n)
    fMainCell->nodes.Add(n);
  InsertNodes(*fMainCell, 0, xy);
  if (Cancelled()) return;

  // Links: lengths, end nodes and shape points.
  TCoord3File coord3;
  coord3.SetDirectory(dir);
  coord3.SetEncryptionKey(encryptionkey);
  coord3.Open(true);
  const std::int32_t linkCount = coord3.Count();
  const std::string lengthName = dir + "length.bin";
  std::vector<std::uint8_t> lengths = ReadWholeFile(lengthName);
  if (lengths.size() != 4 * static_cast<std::size_t>(linkCount)) {
    RaiseCorrupt(lengthName, Format("%d bytes for %d links", lengths.size(), linkCount));
  }
  cipher.Restart();
  DecipherWords(lengths.data(), lengths.size() / 4, cipher);
  const std::string linkName = dir + "link.bin";
  const std::vector<std::uint8_t> ends = ReadWholeFile(linkName);
  if (ends.size() != 8 * static_cast<std::size_t>(linkCount)) {
    RaiseCorrupt(linkName, Format("%d bytes for %d links", ends.size(), linkCount));
  }

  SetProgressMaxValue(linkCount);
  TLinkGeometry geometry;
  geometry.first.assign(static_cast<std::size_t>(linkCount) + 2, 0);
  TFloatPointArrayEx section;
  for (std::int32_t l = 1; l <= linkCount; ++l) {
    if (Cancelled()) return;
    ProgressExecute(l);
    const auto k = static_cast<std::size_t>(l - 1);
    const float length = Load<float>(lengths.data() + 4 * k);
    geometry.first[k + 2] = geometry.first[k + 1];
    if (length == 0) continue;  // a non-valid link is in no leaf
    const auto from = Load<std::uint32_t>(ends.data() + 8 * k);
    const auto to = Load<std::uint32_t>(ends.data() + 8 * k + 4);
    if (from < 1 || to < 1 || from > static_cast<std::uint32_t>(nodeCount) ||
        to > static_cast<std::uint32_t>(nodeCount)) {
      RaiseCorrupt(linkName,
                   Format("link %d joins the nodes %d and %d of %d", l, from, to, nodeCount));
    }
    coord3.ReadSection(l - 1, section);
    section.Pnt[0] = xy[from];
    section.Pnt[static_cast<std::size_t>(section.Count) - 1] = xy[to];
    geometry.points.insert(geometry.points.end(), section.Pnt.begin(),
                           section.Pnt.begin() + section.Count);
    geometry.first[k + 2] += section.Count;
    for (std::int32_t pos = 0; pos + 1 < section.Count; ++pos) {
      SetSegment(section.Pnt[static_cast<std::size_t>(pos)],
                 section.Pnt[static_cast<std::size_t>(pos) + 1]);
      InsertSegment(*fMainCell, l, pos);
    }
  }
  coord3.Close();
  SplitFullLeaves(*fMainCell, 0, xy, geometry);
  fCellCount = Renumber(*fMainCell, 1) - 1;

  if (aFS != nullptr) {
    TKVBufferedStream out(*aFS);
    WriteTree(out);
    out.Flush();
    return;
  }
  ReplaceFile(dir + "spatialindex.bin", [&](const std::string& temporary) {
    TKVBufferedStream out(std::make_unique<TKVFileStream>(temporary, fmCreate));
    WriteTree(out);
    out.Flush();
  });
}

namespace {

void WriteCell(TKVStream& out, const TQuadTreeCell& cell) {
  out.WriteDouble(cell.Rect.xmin);
  out.WriteDouble(cell.Rect.ymin);
  out.WriteDouble(cell.Rect.xmax);
  out.WriteDouble(cell.Rect.ymax);
  out.WriteInt32(cell.ID);
  out.WriteByte(cell.Divided ? 1 : 0);
  if (cell.Divided) {
    for (const auto& child : cell.QTCellArray)
      WriteCell(out, *child);
    return;
  }
  out.WriteUInt16(static_cast<std::uint16_t>(cell.nodes.Count() + cell.SLL.Count()));
  for (const std::int32_t node : cell.nodes) {
    out.WriteInt32(node);
    out.WriteUInt32(0);
  }
  for (const TSubLink& run : cell.SLL) {
    out.WriteInt32(run.Link);
    out.WriteUInt16(run.sub1);
    out.WriteUInt16(run.sub2);
  }
}

}  // namespace

void TQuadTreeSetup::WriteTree(TKVStream& out) const {
  if (!fMainCell) throw Exception("Spatial index: no tree to write");
  out.WriteInt32(fCellCount);
  WriteCell(out, *fMainCell);
}

}  // namespace kvnet
