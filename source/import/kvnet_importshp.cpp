// The shape-file reader of the import, and the unit of an ESRI projection text.
//
// Every object is found through its .shx entry and read with exact positioned reads. The .shx and
// .shp are untrusted: each offset, length and count is checked against the file sizes in 64-bit
// arithmetic before anything is read, and a record that does not fit raises an exception naming
// the file. Coordinates are handed on as stored (NaN included); the import judges them.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_textfile.h"
#include "gisin/kvnet_dbffiles.h"
#include "import/kvnet_importreaders.h"

namespace kvnet {

namespace {

constexpr std::int64_t kFileHeaderSize = 100;
constexpr std::int64_t kIndexEntrySize = 8;
constexpr std::int64_t kRecordHeaderSize = 8;
// Shape type, box, part count and point count of a polyline record's content.
constexpr std::int64_t kPolylineFixedSize = 44;
// Index entries read at a time.
constexpr std::int64_t kIndexPageEntries = 8192;

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

std::int32_t LittleEndianInt32(const std::uint8_t* p) {
  const std::uint32_t v = (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
                          (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]};
  return static_cast<std::int32_t>(v);
}

double LittleEndianDouble(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i)
    bits = (bits << 8) | p[i];
  return std::bit_cast<double>(bits);
}

bool IsPolylineType(std::int32_t type) {
  return type == 3 || type == 13 || type == 23;
}

[[noreturn]] void RaiseCorrupt(const std::string& file, const std::string& detail) {
  throw Exception("Shape file " + file + " is corrupt: " + detail);
}

std::string BaseName(const std::string& file) {
  const std::string ext = std::filesystem::path(file).extension().string();
  return file.substr(0, file.size() - ext.size());
}

std::int64_t FileSize(const std::string& file) {
  TKVFileStream stream(file, fmOpenRead | fmShareDenyWrite);
  return stream.Size();
}

// One input layer: its files and object count.
struct TShapeLayer {
  std::string shp;
  std::string shx;
  std::int64_t shpSize = 0;
  std::int64_t count = 0;
};

// Checks the .shx size and the .shp header of a layer.
TShapeLayer OpenLayer(const std::string& shp) {
  TShapeLayer layer;
  layer.shp = shp;
  layer.shx = CompanionFile(BaseName(shp), ".shx");
  const std::int64_t shxSize = FileSize(layer.shx);
  if (shxSize < kFileHeaderSize || (shxSize - kFileHeaderSize) % kIndexEntrySize != 0) {
    RaiseCorrupt(layer.shx, Format("its size of %d bytes is not 100 + 8 per record", shxSize));
  }
  layer.count = (shxSize - kFileHeaderSize) / kIndexEntrySize;

  TKVFileStream stream(shp, fmOpenRead | fmShareDenyWrite);
  layer.shpSize = stream.Size();
  if (layer.shpSize < kFileHeaderSize) {
    RaiseCorrupt(shp, Format("%d bytes are too few for its header", layer.shpSize));
  }
  std::uint8_t header[kFileHeaderSize];
  stream.ReadBuffer(header, kFileHeaderSize);
  if (!IsPolylineType(LittleEndianInt32(header + 32))) {
    throw Exception("Only polyline SHP files are supported in translator");
  }
  return layer;
}

// The record offsets of a .shx, read page by page in object order.
class TShapeIndex {
 public:
  explicit TShapeIndex(const TShapeLayer& layer)
      : fFile(layer.shx, fmOpenRead | fmShareDenyWrite), fCount(layer.count) {}

  // Byte offset into the .shp of object i (0-based).
  std::int64_t Offset(std::int64_t i) {
    if (i < fFirst || i >= fFirst + fLoaded) Load(i);
    const std::uint8_t* entry = fPage.data() + (i - fFirst) * kIndexEntrySize;
    return 2 * static_cast<std::int64_t>(static_cast<std::int32_t>(BigEndian32(entry)));
  }

 private:
  void Load(std::int64_t first) {
    fFirst = first;
    fLoaded = std::min(kIndexPageEntries, fCount - first);
    fPage.resize(static_cast<std::size_t>(fLoaded * kIndexEntrySize));
    fFile.Seek(kFileHeaderSize + first * kIndexEntrySize, soBeginning);
    fFile.ReadBuffer(fPage.data(), fLoaded * kIndexEntrySize);
  }

  TKVFileStream fFile;
  std::int64_t fCount;
  std::int64_t fFirst = 0;
  std::int64_t fLoaded = 0;
  std::vector<std::uint8_t> fPage;
};

class TShapeReader {
 public:
  TShapeReader(TBaseImport& import, const TShapeLayer& layer, std::int32_t fileIndex)
      : fImport(import),
        fLayer(layer),
        fFileIndex(fileIndex),
        fIndex(layer),
        fShp(std::make_unique<TKVFileStream>(layer.shp, fmOpenRead | fmShareDenyWrite)) {}

  // Hands object i (0-based) of the layer to the import.
  void ReadObject(std::int64_t i) {
    const std::int64_t offset = fIndex.Offset(i);
    const std::int64_t size = fLayer.shpSize;
    if (offset < kFileHeaderSize || offset > size - kRecordHeaderSize - 4) {
      Corrupt(i, Format("its offset %d lies outside the file of %d bytes", offset, size));
    }
    // Record header and the fixed part of a polyline, as far as the file goes.
    const std::int64_t head =
        std::min<std::int64_t>(kRecordHeaderSize + kPolylineFixedSize, size - offset);
    Read(offset, head);
    const std::int64_t content =
        2 * static_cast<std::int64_t>(static_cast<std::int32_t>(BigEndian32(fBuffer.data() + 4)));
    if (content < 4 || content > size - offset - kRecordHeaderSize) {
      Corrupt(i, Format("its content length of %d bytes does not fit the file of %d bytes", content,
                        size));
    }
    const std::uint8_t* c = fBuffer.data() + kRecordHeaderSize;
    const std::int32_t type = LittleEndianInt32(c);
    if (type == 0) {
      Error(0, ecNotGeoCoded);
      return;
    }
    if (!IsPolylineType(type)) {
      Error(type, ecNotPolyLine);
      return;
    }
    if (content < kPolylineFixedSize) {
      Corrupt(i, Format("its content of %d bytes is too short for a polyline", content));
    }
    const std::int32_t parts = LittleEndianInt32(c + 36);
    const std::int32_t points = LittleEndianInt32(c + 40);
    if (parts < 0 || points < 0 ||
        kPolylineFixedSize + 4 * std::int64_t{parts} + 16 * std::int64_t{points} > content) {
      Corrupt(i, Format("%d parts and %d points do not fit its content of %d bytes", parts, points,
                        content));
    }
    if (parts >= 2) {
      Error(parts, ecMultiSection);
    } else if (points < 2) {
      Error(points, ecZeroOrOneVertices);
    } else if (points > kMaxLinkVertices) {
      Error(points, ecTooManyVertices);
    } else {
      Read(offset + kRecordHeaderSize + kPolylineFixedSize + 4 * std::int64_t{parts},
           16 * std::int64_t{points});
      std::vector<TFloatPoint>& vertices = fImport.Vertices();
      if (vertices.size() < static_cast<std::size_t>(points)) {
        vertices.resize(static_cast<std::size_t>(points));
      }
      const std::uint8_t* p = fBuffer.data();
      for (std::int32_t k = 0; k < points; ++k, p += 16) {
        vertices[static_cast<std::size_t>(k)] =
            TFloatPoint{LittleEndianDouble(p), LittleEndianDouble(p + 8)};
      }
      fImport.SetNumPoints(points);
      fImport.StoreLink(fFileIndex);
    }
  }

 private:
  void Read(std::int64_t position, std::int64_t count) {
    fBuffer.resize(static_cast<std::size_t>(count));
    fShp.Seek(position, soBeginning);
    fShp.ReadBuffer(fBuffer.data(), count);
  }

  void Error(std::int32_t value, TErrorCode code) {
    fImport.AddImportError(fFileIndex, fImport.LinkCountFile(), value, code, fImport.LinkCount());
  }

  [[noreturn]] void Corrupt(std::int64_t i, const std::string& detail) const {
    RaiseCorrupt(fLayer.shp, Format("record %d: ", i + 1) + detail);
  }

  TBaseImport& fImport;
  const TShapeLayer& fLayer;
  std::int32_t fFileIndex;
  TShapeIndex fIndex;
  TKVBufferedStream fShp;  // records mostly follow each other: one read per megabyte
  std::vector<std::uint8_t> fBuffer;
};

// The unit from the first layer's .prj, unless the import already has one.
void EstablishUnit(TBaseImport& import, const std::string& firstShp) {
  if (import.CoordinateUnit() == cuUnknown) {
    const std::string prj = CompanionFile(BaseName(firstShp), ".prj");
    std::error_code ec;
    if (std::filesystem::exists(prj, ec)) {
      TTextFileReader reader(prj, 0);
      import.SetPrj(reader.Eof() ? std::string() : reader.ReadLine());
    }
    const TCoordinateUnit unit = PrjToCoordinateUnit(import.Prj());
    if (unit == cuUnknown) throw Exception("No coordinate unit defined / found in PRJ file");
    import.SetInputUnit(unit);
  } else {
    import.SetInputUnit(import.CoordinateUnit());
  }
}

}  // namespace

void ReadSHP(TBaseImport& import) {
  const std::vector<std::string>& files = import.Files();
  std::vector<TShapeLayer> layers;
  layers.reserve(files.size());
  std::int64_t total = 0;
  for (const std::string& file : files) {
    layers.push_back(OpenLayer(file));
    total += layers.back().count;
  }
  if (total > std::numeric_limits<std::int32_t>::max()) {
    throw Exception(
        Format("The shape files hold %d objects, more than a network can number", total));
  }
  if (!files.empty()) EstablishUnit(import, files.front());

  std::unique_ptr<TDbfFiles> table;
  const bool zLevels = import.ZLevels();
  if (zLevels) {
    table = std::make_unique<TDbfFiles>(0);
    for (const std::string& file : files)
      table->Add(CompanionFile(BaseName(file), ".dbf"));
    table->Open();
    if (import.ZFromField() >= table->FieldCount() || import.ZToField() >= table->FieldCount()) {
      throw Exception("Invalid fields for Z-levels defined");
    }
    if (table->RecordCount() != total) {
      throw Exception(Format("The attribute tables hold %d records for %d shape objects",
                             table->RecordCount(), total));
    }
  }

  import.SetProgressMaxValue(static_cast<double>(total));
  for (std::size_t f = 0; f < layers.size(); ++f) {
    import.StartFile();
    TShapeReader reader(import, layers[f], static_cast<std::int32_t>(f));
    for (std::int64_t i = 0; i < layers[f].count; ++i) {
      import.NextObject();
      if (zLevels) {
        import.SetZLevels(table->ReadInteger(import.ZFromField(), import.LinkCount()),
                          table->ReadInteger(import.ZToField(), import.LinkCount()));
      }
      import.MarkLinkStart();
      import.ProgressExecute(import.LinkCount());
      reader.ReadObject(i);
      if (import.Cancelled()) return;
    }
  }
  import.MarkLinkStart();
}

TCoordinateUnit PrjToCoordinateUnit(const std::string& prj) {
  std::string text = prj;
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const std::size_t unit = text.rfind("UNIT");
  if (unit == std::string::npos) return cuUnknown;
  const std::size_t open = text.find('"', unit);
  if (open == std::string::npos) return cuUnknown;
  const std::size_t close = text.find('"', open + 1);
  if (close == std::string::npos) return cuUnknown;
  const std::string name = text.substr(open + 1, close - open - 1);

  struct TUnitName {
    const char* name;
    TCoordinateUnit unit;
  };
  static constexpr TUnitName kNames[] = {
      {"DECIMAL DEGREE", cuDeg},
      {"DEGREE", cuDeg},
      {"GRAD", cuGrad},
      {"METER", cuM},
      {"METRE", cuM},
      {"CHAIN_BENOIT_1895_B", cuChain},
      {"CHAIN_SEARS", cuChain},
      {"FOOT", cuFt},
      {"FOOT_BRITISH_1936", cuFt},
      {"FOOT_CLARKE", cuFt},
      {"FOOT_GOLD_COAST", cuFt},
      {"FOOT_SEARS", cuFt},
      {"FOOT_US", cuFt},
      {"LINK_CLARKE", cuLink},
      {"YARD_INDIAN", cuYard},
      {"YARD_INDIAN_1937", cuYard},
      {"YARD_SEARS", cuYard},
  };
  for (const TUnitName& n : kNames) {
    if (name == n.name) return n.unit;
  }
  return cuUnknown;
}

}  // namespace kvnet
