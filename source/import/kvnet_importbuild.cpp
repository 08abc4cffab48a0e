// TImport: running the reader of the input kind, then building the network from the coordinate
// files the reader produced: lengths, nodes by exact coordinate, node numbering by degree, the
// binary network files, the configuration and the spatial index.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "foundation/kvnet_basetree.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_gistypes.h"
#include "foundation/kvnet_io.h"
#include "import/kvnet_import.h"
#include "import/kvnet_importreaders.h"
#include "spatial/kvnet_quadtreesetup.h"
#include "store/kvnet_configfile.h"
#include "store/kvnet_encryption.h"

namespace kvnet {

namespace {

// A node can carry at most this many link ends (node.bin keeps degrees in bytes elsewhere).
constexpr std::int32_t kMaxLinksAtNode = 255;

// The distinct end coordinates of the links, x then y, compared exactly.
class TXYTree : public TBalancedTree<TFloatPoint> {
 public:
  int CompareKeys(const TFloatPoint& a, const TFloatPoint& b) const override {
    if (a.x != b.x) return a.x < b.x ? -1 : 1;
    if (a.y != b.y) return a.y < b.y ? -1 : 1;
    return 0;
  }
};

enum class TInputKind { ikUnknown, ikSHP, ikMIF, ikTAB, ikTABNoMap, ikTABUnsupported };

std::string UpperExtension(const std::string& file) {
  std::string ext = std::filesystem::path(file).extension().string();
  for (char& c : ext)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

// The kind of one input; for a native table the .map layout decides (extended reports 8-byte
// object pointers).
TInputKind KindOf(const std::string& file, bool& extended) {
  const std::string ext = UpperExtension(file);
  if (ext == ".SHP") return TInputKind::ikSHP;
  if (ext == ".MIF") return TInputKind::ikMIF;
  if (ext != ".TAB") return TInputKind::ikUnknown;
  const std::string base = file.substr(0, file.size() - ext.size());
  const std::string map = CompanionFile(base, ".map");
  std::error_code ec;
  if (!std::filesystem::exists(map, ec)) return TInputKind::ikTABNoMap;
  TKVFileStream stream(map, fmOpenRead | fmShareDenyWrite);
  if (stream.Size() < 262) return TInputKind::ikTABUnsupported;
  stream.SetPosition(260);
  const std::uint16_t version = stream.ReadUInt16();
  if (version == 500 || version == 1252) {
    extended = false;
    return TInputKind::ikTAB;
  }
  if (version == 1500) {
    extended = true;
    return TInputKind::ikTAB;
  }
  return TInputKind::ikTABUnsupported;
}

// Reads count whole records of a file written by the reader, checking its size first.
std::vector<std::uint8_t> ReadAll(const std::string& fileName, std::int64_t expected) {
  TKVFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  if (file.Size() != expected) {
    throw Exception(
        Format("Import: %s holds %d bytes where %d were written", fileName, file.Size(), expected));
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(expected));
  file.ReadBuffer(bytes.data(), expected);
  return bytes;
}

TFloatPoint PointAt(const std::vector<std::uint8_t>& bytes, std::size_t index) {
  TFloatPoint p;
  std::memcpy(&p.x, bytes.data() + 16 * index, 8);
  std::memcpy(&p.y, bytes.data() + 16 * index + 8, 8);
  return p;
}

void WriteWords(const std::string& fileName, const std::vector<std::uint32_t>& words,
                std::int64_t key) {
  T32Encryption cipher(key);
  TKVBufferedStream out(std::make_unique<TKVFileStream>(fileName, fmCreate));
  for (const std::uint32_t w : words)
    out.WriteUInt32(cipher.Encode(w));
  out.Flush();
}

std::string BoundText(double v) {
  return FormatGeneral(std::fabs(v) < 1e-7 ? 0.0 : v);
}

}  // namespace

void TBaseImport::RemoveOutput(bool onlyCoordinates) const {
  static const char* const kCoordinateFiles[] = {"coordfrom.bin", "coordto.bin", "coord3.bin",
                                                 "coord3i.bin"};
  static const char* const kNetworkFiles[] = {"coord.bin", "length.bin",       "link.bin",
                                              "node.bin",  "spatialindex.bin", "kvnet_config.ini"};
  std::error_code ec;
  for (const char* name : kCoordinateFiles)
    std::filesystem::remove(OutFile(name), ec);
  if (onlyCoordinates) return;
  for (const char* name : kNetworkFiles)
    std::filesystem::remove(OutFile(name), ec);
}

void TBaseImport::BuildNetwork(int start) {
  const auto stepAt = [&](double share) {
    return start + static_cast<int>(std::lround(share * (100 - start)));
  };
  const TCoordinateUnit unit = fCoordinateUnit;
  const double factor = DistFactor(unit);  // raises for an unknown unit
  const auto links = static_cast<std::size_t>(fLinkCount);

  // Phase 1: lengths, and the link ends in the node tree.
  SetProgressStart(start);
  SetProgressStop(stepAt(0.38));
  SetProgressMaxValue(fLinkCount);
  const std::vector<std::uint8_t> from =
      ReadAll(OutFile("coordfrom.bin"), 16 * static_cast<std::int64_t>(links));
  const std::vector<std::uint8_t> to =
      ReadAll(OutFile("coordto.bin"), 16 * static_cast<std::int64_t>(links));
  const std::vector<std::uint8_t> index =
      ReadAll(OutFile("coord3i.bin"), 4 * (static_cast<std::int64_t>(links) + 1));
  TKVBufferedStream inner(
      std::make_unique<TKVFileStream>(OutFile("coord3.bin"), fmOpenRead | fmShareDenyWrite));
  if (inner.Size() != 16 * fCoord3Count) {
    throw Exception(Format("Import: coord3.bin holds %d bytes where %d were written", inner.Size(),
                           16 * fCoord3Count));
  }
  std::vector<float> lengths(links + 1, 0);
  std::vector<std::int32_t> endNodes(2 * links, 0);  // tree nodes of each link's two ends
  TXYTree tree;
  fTotalLength = 0;
  std::int64_t position = 0;  // intermediate vertices read
  for (std::size_t l = 1; l <= links; ++l) {
    if (Cancelled()) return;
    ProgressExecute(static_cast<double>(l));
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::memcpy(&first, index.data() + 4 * (l - 1), 4);
    std::memcpy(&last, index.data() + 4 * l, 4);
    TFloatPoint previous = PointAt(from, l - 1);
    double angle = 0;
    for (std::uint32_t v = first; v < last; ++v, ++position) {
      const TFloatPoint p{fEncoder2->Decode(inner.ReadInt64(), 2 * position),
                          fEncoder2->Decode(inner.ReadInt64(), 2 * position + 1)};
      angle += UnitDistance(unit, previous, p);
      previous = p;
    }
    const TFloatPoint end = PointAt(to, l - 1);
    angle += UnitDistance(unit, previous, end);
    const double length = angle * factor;
    fTotalLength += length;
    lengths[l] = static_cast<float>(length);
    if (lengths[l] == 0) continue;  // an error link: no nodes
    const TFloatPoint ends[2] = {PointAt(from, l - 1), end};
    for (std::size_t e = 0; e < 2; ++e) {
      tree.Add(ends[e]);
      endNodes[2 * l - 2 + e] = tree.LastAdded();
      if (tree.MaxItemCount() > kMaxLinksAtNode) {
        throw ETooManyLinksAtNode("Too many links at " + FormatGeneral(ends[e].x) + ", " +
                                  FormatGeneral(ends[e].y));
      }
    }
  }

  // Node numbers: degree classes from the highest down, within a class x then y.
  fNodeCount = tree.Count();
  fMaxdegree = fNodeCount > 0 ? tree.MaxItemCount() : 0;
  std::vector<std::int32_t> classStart(static_cast<std::size_t>(fMaxdegree) + 2, 0);
  std::vector<std::int32_t> inOrder;  // tree nodes in key order
  inOrder.reserve(static_cast<std::size_t>(fNodeCount));
  {
    std::vector<std::int32_t> stack;
    std::int32_t p = tree.Root();
    while (p != 0 || !stack.empty()) {
      while (p != 0) {
        stack.push_back(p);
        p = tree.Node(p).left;
      }
      p = stack.back();
      stack.pop_back();
      inOrder.push_back(p);
      ++classStart[static_cast<std::size_t>(tree.Node(p).ItemCount)];
      p = tree.Node(p).right;
    }
  }
  // classStart[d] := the last number of degree d (counts of all degrees >= d).
  std::vector<std::int32_t> lastOfClass(static_cast<std::size_t>(fMaxdegree) + 2, 0);
  for (std::int32_t d = fMaxdegree, total = 0; d >= 1; --d) {
    total += classStart[static_cast<std::size_t>(d)];
    lastOfClass[static_cast<std::size_t>(d)] = total;
  }
  std::vector<std::int32_t> nextNumber(static_cast<std::size_t>(fMaxdegree) + 2, 0);
  for (std::int32_t d = 1; d <= fMaxdegree; ++d) {
    nextNumber[static_cast<std::size_t>(d)] =
        lastOfClass[static_cast<std::size_t>(d)] - classStart[static_cast<std::size_t>(d)] + 1;
  }
  std::vector<std::int32_t> numberOf(static_cast<std::size_t>(fNodeCount) + 1, 0);
  std::vector<TFloatPoint> nodeXY(static_cast<std::size_t>(fNodeCount) + 1);
  std::vector<std::int32_t> degreeOf(static_cast<std::size_t>(fNodeCount) + 1, 0);
  for (const std::int32_t p : inOrder) {
    const TTreeNode<TFloatPoint>& node = tree.Node(p);
    const std::int32_t number = nextNumber[static_cast<std::size_t>(node.ItemCount)]++;
    numberOf[static_cast<std::size_t>(p)] = number;
    nodeXY[static_cast<std::size_t>(number)] = node.key;
    degreeOf[static_cast<std::size_t>(number)] = node.ItemCount;
  }

  // coord.bin.
  {
    T32Encryption cipher(fEncryptionKey);
    TKVBufferedStream out(std::make_unique<TKVFileStream>(OutFile("coord.bin"), fmCreate));
    for (std::size_t n = 1; n <= static_cast<std::size_t>(fNodeCount); ++n) {
      for (const double v : {nodeXY[n].x, nodeXY[n].y}) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        out.WriteUInt32(cipher.Encode(static_cast<std::uint32_t>(bits)));
        out.WriteUInt32(cipher.Encode(static_cast<std::uint32_t>(bits >> 32)));
      }
    }
    out.Flush();
  }
  // length.bin.
  {
    T32Encryption cipher(fEncryptionKey);
    TKVBufferedStream out(std::make_unique<TKVFileStream>(OutFile("length.bin"), fmCreate));
    for (std::size_t l = 1; l <= links; ++l)
      out.WriteUInt32(cipher.Encode(lengths[l]));
    out.Flush();
  }

  // Phase 2: link.bin, plain until the spatial index has read it.
  SetProgressStart(stepAt(0.38));
  SetProgressStop(stepAt(0.55));
  std::vector<std::uint32_t> ends(2 * links, 0);
  for (std::size_t l = 1; l <= links; ++l) {
    if (Cancelled()) return;
    ProgressExecute(static_cast<double>(l));
    if (lengths[l] == 0) continue;
    for (std::size_t e = 2 * l - 2; e < 2 * l; ++e)
      ends[e] = static_cast<std::uint32_t>(numberOf[static_cast<std::size_t>(endNodes[e])]);
  }
  WriteWords(OutFile("link.bin"), ends, 0);
  {
    std::error_code ec;
    std::filesystem::remove(OutFile("coordfrom.bin"), ec);
    std::filesystem::remove(OutFile("coordto.bin"), ec);
  }

  // Phase 3: node.bin, links entered in link order into the first free slot of each end.
  SetProgressStart(stepAt(0.55));
  SetProgressStop(stepAt(0.61));
  {
    std::vector<std::uint32_t> words;
    words.reserve(1 + static_cast<std::size_t>(fMaxdegree) + 2 * links);
    words.push_back(static_cast<std::uint32_t>(fMaxdegree));
    for (std::int32_t d = fMaxdegree; d >= 1; --d)
      words.push_back(static_cast<std::uint32_t>(lastOfClass[static_cast<std::size_t>(d)]));
    const std::size_t header = words.size();
    std::vector<std::size_t> nextSlot(static_cast<std::size_t>(fNodeCount) + 1, header);
    std::size_t slot = header;
    for (std::size_t n = 1; n <= static_cast<std::size_t>(fNodeCount); ++n) {
      nextSlot[n] = slot;
      slot += static_cast<std::size_t>(degreeOf[n]);
    }
    words.resize(slot, 0);
    for (std::size_t l = 1; l <= links; ++l) {
      if (lengths[l] == 0) continue;
      words[nextSlot[ends[2 * l - 2]]++] = static_cast<std::uint32_t>(l);
      words[nextSlot[ends[2 * l - 1]]++] = static_cast<std::uint32_t>(l);
    }
    WriteWords(OutFile("node.bin"), words, fEncryptionKey);
  }

  // Coordinate system defaults and the configuration.
  if (fPrj.empty() && unit == cuDeg) fPrj = kWgs84Prj;
  if (fEPSG == 0 && unit == cuDeg) fEPSG = 4326;
  if (fCoordSys.empty()) {
    if (unit == cuDeg) {
      fCoordSys = kWgs84CoordSys;
    } else if (const char* name = MapInfoUnitName(unit)) {
      fCoordSys = std::string("CoordSys NonEarth Units \"") + name + "\" Bounds (" +
                  BoundText(fMBR.xmin) + ", " + BoundText(fMBR.ymin) + ") (" +
                  BoundText(fMBR.xmax) + ", " + BoundText(fMBR.ymax) + ")";
    }
  }
  const double dx = (fMBR.xmax - fMBR.xmin) * 0.0005;
  const double dy = (fMBR.ymax - fMBR.ymin) * 0.0005;
  const TFloatRect widened{fMBR.xmin - dx, fMBR.ymin - dy, fMBR.xmax + dx, fMBR.ymax + dy};
  WriteConfig(fDirectory, fEncryptionKey != 0, unit, widened, fLinkCount, fEPSG, fPrj, fCoordSys);

  if (!fSkipSpatialIndex) {
    TQuadTreeSetup setup;
    setup.SetDirectory(fDirectory);
    setup.SetMaxNodesPerCell(fMaxNodesPerCell);
    setup.SetProgressStart(stepAt(0.61));
    setup.SetProgressStop(100);
    setup.OnProgress = [this](TProgress&, int p, bool& cancel) {
      if (OnProgress) OnProgress(*this, p, cancel);
    };
    setup.Build(fEncryptionKey);
    if (setup.Cancelled()) {
      FCancelled = true;
      return;
    }
  }
  if (fEncryptionKey != 0) WriteWords(OutFile("link.bin"), ends, fEncryptionKey);
}

void TImport::Execute() {
  ResetCancelled();
  CheckDirectory();
  if (fFiles.empty()) throw Exception("No input files to import");
  // The kind of every file, before anything is written.
  bool extended = false;
  const TInputKind kind = KindOf(fFiles.front(), extended);
  for (const std::string& file : fFiles) {
    bool fileExtended = false;
    if (KindOf(file, fileExtended) != kind || fileExtended != extended) {
      throw Exception("Only a single type of files are allowed");
    }
  }
  switch (kind) {
    case TInputKind::ikUnknown:
      throw Exception("Only MIF/SHP/TAB files are allowed in the list");
    case TInputKind::ikTABNoMap:
      throw Exception("TAB file has no MAP component");
    case TInputKind::ikTABUnsupported:
      throw Exception("Unsupported MAP file encountered");
    default:
      break;
  }
  try {
    OpenOutput();
    SetProgressStart(0);
    SetProgressStop(26);
    switch (kind) {
      case TInputKind::ikSHP:
        ReadSHP(*this);
        break;
      case TInputKind::ikMIF:
        ReadMIF(*this);
        break;
      default:
        ReadTAB(*this, extended);
        break;
    }
    CloseOutput();
    if (Cancelled()) {
      RemoveOutput(true);
    } else if (!fObjects_found) {
      RemoveOutput(false);
      throw Exception("No object of the input became a link: no network was created");
    } else {
      BuildNetwork(26);
      if (Cancelled()) RemoveOutput(false);
    }
  } catch (...) {
    fg1.reset();
    fg2.reset();
    fg3.reset();
    fg3i.reset();
    RemoveOutput(false);
    fStopTime = TClock::now();
    throw;
  }
  fStopTime = TClock::now();
  ProgressExecuteZero();
}

}  // namespace kvnet
