// TNetwork: opening a network directory. Each file (or the caller's stream that replaces it) is
// read in one piece, deciphered, and checked against the others before anything is built from
// it: sizes against the link and node counts, node ids against the node count, the adjacency
// against the end nodes of every link. A wrong encryption key or a corrupt file therefore raises
// a clear exception instead of producing a network that crashes later.
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"
#include "store/kvnet_arealist.h"
#include "store/kvnet_coord3file.h"
#include "store/kvnet_encryption.h"
#include "store/kvnet_externid.h"
#include "store/kvnet_network.h"
#include "store/kvnet_quadtree.h"
#include "store/kvnet_turn.h"

namespace kvnet {

namespace {

constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();

// One part of the network: a caller's stream (from its position) or a file of the directory.
class TPartReader {
 public:
  TPartReader(TKVStream* stream, std::string fileName, std::int64_t key)
      : FStream(stream), FName(std::move(fileName)), FKey(key) {
    if (FStream) {
      FSize = FStream->Size() - FStream->Position();
      return;
    }
    std::error_code ec;
    if (!std::filesystem::exists(FName, ec)) {
      throw EFileMissing(Format("File is missing: %s", FName));
    }
    FFile = std::make_unique<TKVFileStream>(FName, fmOpenRead | fmShareDenyWrite);
    FSize = FFile->Size();
  }

  std::int64_t Size() const { return FSize; }
  const std::string& Name() const { return FName; }

  void ExpectSize(std::int64_t bytes) const {
    if (FSize != bytes) {
      throw EWrongFileSize(Format("Wrong size of %s: %d bytes, expected %d", FName, FSize, bytes));
    }
  }

  // Reads the whole part into buffer (which has room for it).
  void ReadAll(void* buffer) const {
    TKVStream& stream = FStream ? *FStream : *FFile;
    stream.ReadBuffer(buffer, FSize);
  }

  [[noreturn]] void Corrupt(const std::string& detail) const {
    throw Exception(Format("Network file %s is corrupt: %s%s", FName, detail,
                           FKey != 0 ? " (wrong encryption key?)" : ""));
  }

 private:
  TKVStream* FStream;
  std::string FName;
  std::int64_t FKey;
  std::unique_ptr<TKVFileStream> FFile;
  std::int64_t FSize = 0;
};

// Deciphers count 32-bit words stored at data (any element type) in place, in order.
// Reports progress for a step of Open over [start, stop] percent.
void StepProgress(TProgressCancel& progress, int start, int stop, double maxValue) {
  progress.SetProgressStart(start);
  progress.SetProgressStop(stop);
  progress.SetProgressMaxValue(maxValue);
}

}  // namespace

void TNetwork::Open(bool attributes, bool coord3Cache, bool spatialindex, std::int32_t externalid) {
  Close();
  // Limit slots and attribute words belong to the network that was open before.
  for (auto& slot : FLimit)
    slot = {};
  FLimitBP = {};
  QTVindex = {};
  FlimitX = 0;
  Fattribute = {};
  try {
    TConfig config;
    if (OnConfig) {
      OnConfig(*this, config);
    } else {
      ReadConfig(fDirectory, config);
    }
    if (config.VersionCode != kNetworkVersion) {
      throw EWrongVersion("This network is not compatible with the software");
    }
    if (!config.Encrypted) {
      fEncryptionKey = 0;
    } else if (fEncryptionKey == 0) {
      throw EEncryptedData("Network is encrypted, supply a key");
    }
    if (fEncryptionKey < 0) {
      throw EInvalidParameter(Format("Encryption key must not be negative: %d", fEncryptionKey));
    }
    Fepsg = config.Epsg;
    Fprj = config.Prj;
    Fcoordsys = config.CoordSys;
    FCoordinateUnit = config.Cu;
    FDistfactor = kvnet::DistFactor(config.Cu);
    if (config.LinkCount < 0) {
      throw Exception(Format("Network file %s is corrupt: the link count is not valid",
                             FilePath(kConfigFileName)));
    }
    FLinkCount = config.LinkCount;
    Fmbr = config.Mbr;
    if (!std::isfinite(Fmbr.xmin) || !std::isfinite(Fmbr.ymin) || !std::isfinite(Fmbr.xmax) ||
        !std::isfinite(Fmbr.ymax)) {
      throw Exception(Format("Network file %s is corrupt: the bounding rectangle is not valid",
                             FilePath(kConfigFileName)));
    }
    ComputeSearchArea();
    ReadNetworkFiles(spatialindex, coord3Cache, externalid);

    FDuplicates.clear();
    ComputeLengthAlpha();
    FTurnList.clear();
    FTurnList.push_back(std::make_unique<TTurnRestrictions>(FLinkCount));
    ComputeCulDeSac();
    Fattribute.assign(static_cast<std::size_t>(FLinkCount) + 1, 0);
    FAreaList = std::make_unique<TAreaList>();
    fLoopLinks = false;
    for (std::int32_t link = 1; link <= FLinkCount && !fLoopLinks; ++link) {
      fLoopLinks = LengthOf(link) != 0 && FromNodeOf(link) == ToNodeOf(link);
    }
    ProgressExecuteZero();
    fIsOpen = true;
    if (attributes) OpenAttributes();
  } catch (...) {
    Close();
    throw;
  }
}

void TNetwork::ReadNetworkFiles(bool spatialindex, bool coord3Cache, std::int32_t externalid) {
  const auto links = static_cast<std::size_t>(FLinkCount);
  T32Encryption cipher(fEncryptionKey);

  // length.bin: one single per link.
  {
    StepProgress(*this, 0, 8, FLinkCount);
    TPartReader part(LengthStream, FilePath("length.bin"), fEncryptionKey);
    part.ExpectSize(4 * static_cast<std::int64_t>(FLinkCount));
    FLength.assign(links + 1, 0);
    part.ReadAll(FLength.data() + 1);
    DecipherWords(FLength.data() + 1, links, cipher);
    for (std::size_t k = 1; k <= links; ++k) {
      if (!std::isfinite(FLength[k]) || FLength[k] < 0) {
        part.Corrupt(Format("link %d has the length %g", k, FLength[k]));
      }
    }
    ProgressExecute(FLinkCount);
  }

  // link.bin: from-node and to-node per link, stored as they are kept in memory.
  TPartReader linkPart(LinkStream, FilePath("link.bin"), fEncryptionKey);
  {
    StepProgress(*this, 8, 21, FLinkCount);
    cipher.Restart();
    linkPart.ExpectSize(8 * static_cast<std::int64_t>(FLinkCount));
    FEnds.assign(2 * links + 2, 0);
    linkPart.ReadAll(FEnds.data() + 2);
    DecipherWords(FEnds.data() + 2, 2 * links, cipher);
    ProgressExecute(FLinkCount);
  }

  // coord.bin: the node coordinates; NodeCount follows from its size.
  {
    cipher.Restart();
    TPartReader part(CoordStream, FilePath("coord.bin"), fEncryptionKey);
    if (part.Size() % 16 != 0 || part.Size() / 16 > INT32_MAX - 1) {
      part.Corrupt(Format("size %d is not 16 bytes per node", part.Size()));
    }
    FNodeCount = static_cast<std::int32_t>(part.Size() / 16);
    StepProgress(*this, 21, 47, FNodeCount);
    std::vector<double> xy(2 * static_cast<std::size_t>(FNodeCount));
    part.ReadAll(xy.data());
    DecipherWords(xy.data(), 2 * xy.size(), cipher);
    FX.assign(static_cast<std::size_t>(FNodeCount) + 1, 0);
    FY.assign(static_cast<std::size_t>(FNodeCount) + 1, 0);
    for (std::size_t n = 1; n <= static_cast<std::size_t>(FNodeCount); ++n) {
      FX[n] = xy[2 * n - 2];
      FY[n] = xy[2 * n - 1];
      if (!std::isfinite(FX[n]) || !std::isfinite(FY[n])) {
        part.Corrupt(Format("node %d has no valid coordinate", n));
      }
    }
    ProgressExecute(FNodeCount);
  }

  // End nodes, now that the node count is known: valid links join existing nodes, links of
  // length 0 join none.
  std::int64_t validLinks = 0;
  for (std::size_t k = 1; k <= links; ++k) {
    const std::int32_t from = FEnds[2 * k];
    const std::int32_t to = FEnds[2 * k + 1];
    if (FLength[k] != 0) {
      if (from < 1 || from > FNodeCount || to < 1 || to > FNodeCount) {
        linkPart.Corrupt(
            Format("link %d joins the nodes %d and %d of %d", k, from, to, FNodeCount));
      }
      ++validLinks;
    } else if (from != 0 || to != 0) {
      linkPart.Corrupt(Format("the non-valid link %d joins the nodes %d and %d", k, from, to));
    }
  }

  // node.bin: MaxDegree, the degree counts, then the adjacency slots.
  {
    cipher.Restart();
    TPartReader part(NodeStream, FilePath("node.bin"), fEncryptionKey);
    StepProgress(*this, 47, 60, 2.0 * FLinkCount);
    if (part.Size() < 4 || part.Size() % 4 != 0) {
      part.Corrupt(Format("size %d is not a whole number of 32-bit words", part.Size()));
    }
    // The file can hold no more than two slots per valid link besides its header.
    const std::int64_t words = part.Size() / 4;
    std::vector<std::int32_t> data(static_cast<std::size_t>(words));
    part.ReadAll(data.data());
    DecipherWords(data.data(), data.size(), cipher);
    const std::int32_t maxDegree = data[0];
    if (maxDegree < 0 || maxDegree > words - 1) part.Corrupt(Format("MaxDegree %d", maxDegree));
    Fmaxdegree = maxDegree;
    a.assign(static_cast<std::size_t>(maxDegree) + 2, 0);
    std::int64_t slotCount = 0;
    for (std::int32_t d = maxDegree; d >= 1; --d) {
      const std::int32_t count = data[static_cast<std::size_t>(maxDegree - d) + 1];
      if (count < a[static_cast<std::size_t>(d) + 1] || (d == maxDegree && count < 1)) {
        part.Corrupt(Format("the count of nodes of degree %d or more is %d", d, count));
      }
      a[static_cast<std::size_t>(d)] = count;
      slotCount += count;
    }
    const std::int32_t nodesInFile = maxDegree >= 1 ? a[1] : 0;
    if (nodesInFile != FNodeCount) {
      part.Corrupt(Format("it counts %d nodes, coord.bin holds %d", nodesInFile, FNodeCount));
    }
    a[0] = FNodeCount;
    if (slotCount != words - 1 - maxDegree || slotCount != 2 * validLinks) {
      part.Corrupt(Format("it holds %d adjacency slots, %d valid links need %d",
                          words - 1 - maxDegree, validLinks, 2 * validLinks));
    }
    const std::int32_t* slots = data.data() + 1 + maxDegree;
    // CSR offsets: nodes are numbered by non-increasing degree.
    FOffsets.assign(static_cast<std::size_t>(FNodeCount) + 2, 0);
    std::uint32_t offset = 0;
    for (std::int32_t d = maxDegree; d >= 1; --d) {
      for (std::int32_t n = a[static_cast<std::size_t>(d) + 1] + 1;
           n <= a[static_cast<std::size_t>(d)]; ++n) {
        FOffsets[static_cast<std::size_t>(n)] = offset;
        offset += static_cast<std::uint32_t>(d);
      }
    }
    FOffsets[static_cast<std::size_t>(FNodeCount) + 1] = offset;
    // Every slot must hold a link that ends at its node (a non-valid link ends nowhere); each
    // end of a link appears once.
    FEndSlots.assign(2 * links + 2, kNoSlot);
    for (std::int32_t n = 1; n <= FNodeCount; ++n) {
      for (std::uint32_t s = FOffsets[static_cast<std::size_t>(n)];
           s < FOffsets[static_cast<std::size_t>(n) + 1]; ++s) {
        const std::int32_t link = slots[s];
        if (link < 1 || link > FLinkCount) {
          part.Corrupt(Format("node %d lists the link %d", n, link));
        }
        const auto k = 2 * static_cast<std::size_t>(link);
        if (FEnds[k] == n && FEndSlots[k] == kNoSlot) {
          FEndSlots[k] = s;
        } else if (FEnds[k + 1] == n && FEndSlots[k + 1] == kNoSlot) {
          FEndSlots[k + 1] = s;
        } else {
          part.Corrupt(Format(
              "node %d lists the link %d, which does not end there or is listed twice", n, link));
        }
      }
    }
    BuildSearchLayout(slots);
    data = {};
    ProgressExecute(2.0 * FLinkCount);
  }

  // The spatial index, when asked for.
  std::shared_ptr<TQuadTree> tree;
  if (spatialindex) {
    tree = std::make_shared<TQuadTree>();
    tree->SetDirectory(fDirectory);
    tree->SetProgressStart(60);
    tree->SetProgressStop(100);
    tree->OnProgress = [this](TProgress&, int p, bool& cancel) {
      if (OnProgress) OnProgress(*this, p, cancel);
    };
    if (SpatialIndexStream) {
      tree->LoadFromStream(*SpatialIndexStream);
    } else {
      const std::string fileName = FilePath("spatialindex.bin");
      std::error_code ec;
      if (!std::filesystem::exists(fileName, ec)) {
        throw EFileMissing(Format("File is missing: %s", fileName));
      }
      tree->Load();
    }
    tree->CheckAgainst(FNodeCount, FLinkCount);
  }

  // The external-id index: always created, opened only when asked for.
  {
    auto index = ExternalIdIndex1Stream && ExternalIdIndex2Stream
                     ? std::make_shared<TExternalID>(ExternalIdIndex1Stream, ExternalIdIndex2Stream)
                     : std::make_shared<TExternalID>();
    if (externalid > 0) {
      index->SetDirectory(fDirectory);
      if (externalid <= 3) {
        index->Open(externalid >= 3, externalid >= 2);
        index->CheckAgainst(FLinkCount);
      }
    }
    FexternalID = std::move(index);
  }

  // Shape points.
  if (Coord3Stream && Coord3iStream) {
    FCoord3file =
        std::make_unique<TCoord3File>(coord3Cache, fEncryptionKey, Coord3Stream, Coord3iStream);
  } else {
    for (const char* name : {"coord3.bin", "coord3i.bin"}) {
      std::error_code ec;
      if (!std::filesystem::exists(FilePath(name), ec)) {
        throw EFileMissing(Format("File is missing: %s", FilePath(name)));
      }
    }
    FCoord3file = std::make_unique<TCoord3File>();
    FCoord3file->SetDirectory(fDirectory);
    FCoord3file->SetEncryptionKey(fEncryptionKey);
    FCoord3file->SetProgressStart(0);
    FCoord3file->SetProgressStop(100);
    if (coord3Cache) {
      FCoord3file->OnProgress = [this](TProgress&, int p, bool& cancel) {
        if (OnProgress) OnProgress(*this, p, cancel);
      };
    }
    FCoord3file->Open(coord3Cache);
  }
  if (FCoord3file->Count() != FLinkCount) {
    throw Exception(Format("Network file %s is corrupt: it describes %d links, not %d",
                           FilePath("coord3i.bin"), FCoord3file->Count(), FLinkCount));
  }

  // The index keeps node coordinates and run boxes beside its lists for the searches.
  if (tree) {
    tree->AttachNodeCoordinates(FX.data(), FY.data());
    tree->AttachRunBoxes([this](std::int32_t link, TFloatPointArrayEx& line) {
      FCoord3file->ReadSection(link - 1, line);
      const auto from = static_cast<std::size_t>(FromNodeOf(link));
      const auto to = static_cast<std::size_t>(ToNodeOf(link));
      line.Pnt[0] = {FX[from], FY[from]};
      line.Pnt[static_cast<std::size_t>(line.Count) - 1] = {FX[to], FY[to]};
    });
    FQuadtree = std::move(tree);
  }
}

void TNetwork::OpenAttributes() {
  CheckOpen();
  const auto links = static_cast<std::size_t>(FLinkCount);
  TPartReader part(AttributeStream, FilePath("attribute.bin"), fEncryptionKey);
  if (part.Size() != 2 * static_cast<std::int64_t>(FLinkCount)) {
    throw Exception("Attribute file has incorrect size");
  }
  std::vector<std::uint16_t> words(links + 1, 0);
  part.ReadAll(words.data() + 1);
  T32Encryption cipher(fEncryptionKey);
  cipher.Apply(std::span<std::uint16_t>(words.data() + 1, links));
  StepProgress(*this, 0, 100, FLinkCount);
  Fattribute = std::move(words);
  for (std::int32_t link = 1; link <= FLinkCount; ++link)
    UpdateSigns(link);
  ProgressExecute(FLinkCount);
  NoDriveThroughInit();
  FindDuplicateLinks();
  ProgressExecuteZero();
}

void TNetwork::UpdateSigns(std::int32_t link) {
  const auto k = 2 * static_cast<std::size_t>(link);
  if (FEndSlots[k] == kNoSlot) return;  // a non-valid link has no entries
  const std::uint16_t word = Fattribute[static_cast<std::size_t>(link)];
  FAdjacency[FEndSlots[k + 1]].entry = (word & (1U << kBitOnewayFT)) ? -link : link;
  FAdjacency[FEndSlots[k]].entry = (word & (1U << kBitOnewayTF)) ? -link : link;
}

}  // namespace kvnet
