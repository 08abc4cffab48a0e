// Reader of MapInfo native tables: the .tab names the character set, the .id lists one object
// offset into the .map per object, and the .map holds the objects in blocks (object blocks with a
// centre for compressed objects, chained coordinate blocks for polylines). The .dat beside them
// holds the attributes, of which the import reads only the z-levels.
//
// Every offset, pointer and size found in the .id and the .map is checked against the size of the
// .map before it is followed, so a damaged table raises an exception naming the file instead of
// reading outside it or running in circles.

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>
#include <type_traits>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_textfile.h"
#include "gisin/kvnet_charset.h"
#include "gisin/kvnet_dbffiles.h"
#include "import/kvnet_importreaders.h"
#include "import/kvnet_mapinfoheader.h"

namespace kvnet {

namespace {

// A .map below this size is read into memory whole.
constexpr std::int64_t kInMemoryLimit = std::int64_t{1} << 31;

constexpr std::int64_t kVersionPos = 260;
constexpr std::int64_t kBlockSizePos = 262;
// Block sizes accepted: powers of two in this range.
constexpr std::int64_t kMinBlockSize = 256;
constexpr std::int64_t kMaxBlockSize = 32768;

// Object types of the .map that the import reads.
constexpr std::uint8_t kCompressedLine = 4;
constexpr std::uint8_t kLine = 5;
constexpr std::uint8_t kCompressedPolyline = 7;
constexpr std::uint8_t kPolyline = 8;

std::string UpperAscii(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The file name without its extension.
std::string BaseName(const std::string& file) {
  const auto slash = file.find_last_of('/');
  const auto dot = file.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return file;
  return file.substr(0, dot);
}

[[noreturn]] void Corrupt(const std::string& file, const std::string& detail) {
  throw Exception(Format("MapInfo file %s is corrupt: %s", file, detail));
}

// The code page a .tab names: the quoted name after CHARSET on the first line (not a "!" line)
// that has the word; 1252 when there is none or the name is unknown.
std::uint16_t TabCodePage(const std::string& tabFile) {
  TTextFileReader reader(tabFile, 1252);
  while (!reader.Eof()) {
    const std::string line = UpperAscii(reader.ReadLine());
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '!') continue;
    const auto word = line.find("CHARSET");
    if (word == std::string::npos) continue;
    const auto open = line.find('"', word);
    const auto close = open == std::string::npos ? open : line.find('"', open + 1);
    if (close == std::string::npos) break;
    const std::uint16_t codePage =
        CharSetList().Charset2CodePage(line.substr(open + 1, close - open - 1));
    return codePage != 0 ? codePage : 1252;
  }
  return 1252;
}

// The .map of one table, in memory or behind a buffered stream. Every read is checked against the
// file size and raises, naming the file, when it would leave the file.
class TMapFile {
 public:
  TMapFile(const std::string& fileName, std::int64_t memoryLimit) : FName(fileName) {
    auto file = std::make_unique<TKVFileStream>(fileName, fmOpenRead | fmShareDenyWrite);
    FSize = file->Size();
    if (FSize < memoryLimit) {
      FMemory.resize(static_cast<std::size_t>(FSize));
      file->ReadBuffer(FMemory.data(), FSize);
      FInMemory = true;
    } else {
      FStream = std::make_unique<TKVBufferedStream>(std::move(file));
    }
  }

  const std::string& Name() const { return FName; }
  std::int64_t Size() const { return FSize; }

  void Read(std::int64_t pos, void* out, std::int64_t count) {
    if (pos < 0 || count < 0 || count > FSize || pos > FSize - count) {
      Corrupt(FName, Format("%d bytes at offset %d lie beyond the end of the file (%d bytes)",
                            count, pos, FSize));
    }
    if (count == 0) return;
    if (FInMemory) {
      std::copy_n(FMemory.data() + pos, count, static_cast<std::uint8_t*>(out));
    } else {
      FStream->SetPosition(pos);
      FStream->ReadBuffer(out, count);
    }
  }

  template <class T>
  T Value(std::int64_t pos) {
    std::array<std::uint8_t, sizeof(T)> bytes;
    Read(pos, bytes.data(), sizeof(T));
    return Decode<T>(bytes.data());
  }

  // A little-endian value from raw bytes.
  template <class T>
  static T Decode(const std::uint8_t* bytes) {
    using U = std::conditional_t<
        sizeof(T) == 1, std::uint8_t,
        std::conditional_t<sizeof(T) == 2, std::uint16_t,
                           std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    U v = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
      v = static_cast<U>((v << 8) | bytes[i]);
    return std::bit_cast<T>(v);
  }

 private:
  std::string FName;
  std::int64_t FSize = 0;
  bool FInMemory = false;
  std::vector<std::uint8_t> FMemory;
  std::unique_ptr<TKVBufferedStream> FStream;
};

class TTabReader {
 public:
  TTabReader(TBaseImport& import, bool extended, std::int64_t memoryLimit)
      : fImport(import),
        fExtended(extended),
        fMemoryLimit(memoryLimit),
        fPointerSize(extended ? 8 : 4),
        fObjectHeader(extended ? 9 : 5),
        fCoordHeader(extended ? 16 : 8) {}

  void Run();

 private:
  struct TTable {
    std::string map;
    std::string id;
    std::int64_t objects = 0;
  };

  void OpenMap(const TTable& table, bool first);
  void ReadObject(std::int32_t fileIndex, std::int64_t offset);
  void ReadLine(std::int32_t fileIndex, std::uint8_t type, std::int64_t offset, std::int64_t data);
  // Reads count bytes of coordinate data from pos on into fRaw, following the block chain.
  void ReadCoordinateBytes(std::int64_t pos, std::int64_t count);
  void SetVertex(std::size_t index, std::int64_t ix, std::int64_t iy);
  void Error(std::int32_t fileIndex, std::int32_t value, TErrorCode code) {
    fImport.AddImportError(fileIndex, fImport.LinkCountFile(), value, code, fImport.LinkCount());
  }

  TBaseImport& fImport;
  const bool fExtended;
  const std::int64_t fMemoryLimit;
  const std::int64_t fPointerSize;   // object pointers in the .id and the .map
  const std::int64_t fObjectHeader;  // type byte and object id in front of an object's data
  const std::int64_t fCoordHeader;   // header of a coordinate block

  std::string fCoordSys;  // of the first file
  std::unique_ptr<TMapFile> fMap;
  TMapCoordSys fTransform;
  std::int64_t fBlockSize = 0;
  std::int64_t fCentreBlock = -1;  // block whose centre is cached
  std::int64_t fCentreX = 0;
  std::int64_t fCentreY = 0;
  std::vector<std::uint8_t> fRaw;
  std::vector<std::int64_t> fVisited;  // coordinate blocks of the current object
};

void TTabReader::Run() {
  const std::vector<std::string>& files = fImport.Files();
  std::vector<TTable> tables;
  std::int64_t total = 0;
  for (const std::string& file : files) {
    const std::string base = BaseName(file);
    TTable table{CompanionFile(base, ".map"), CompanionFile(base, ".id"), 0};
    std::error_code ec;
    const auto idSize = std::filesystem::file_size(table.id, ec);
    if (ec) throw EFOpenError(Format("Cannot open file \"%s\". %s", table.id, ec.message()));
    table.objects = static_cast<std::int64_t>(idSize) / fPointerSize;
    total += table.objects;
    tables.push_back(table);
  }
  if (total > std::numeric_limits<std::int32_t>::max() - std::int64_t{fImport.LinkCount()}) {
    throw Exception(Format("The tables hold %d objects; at most %d links can be numbered", total,
                           std::numeric_limits<std::int32_t>::max()));
  }
  const std::uint16_t codePage = files.empty() ? 1252 : TabCodePage(files.front());

  std::unique_ptr<TDbfFiles> attributes;
  std::int32_t zFrom = -1;
  std::int32_t zTo = -1;
  if (fImport.ZLevels()) {
    attributes = std::make_unique<TDbfFiles>(codePage);
    for (const std::string& file : files)
      attributes->Add(CompanionFile(BaseName(file), ".dat"));
    attributes->Open();
    zFrom = fImport.ZFromField();
    zTo = fImport.ZToField();
    if (zFrom >= attributes->FieldCount() || zTo >= attributes->FieldCount()) {
      throw Exception("Invalid fields for Z-levels defined");
    }
  }

  fImport.SetProgressMaxValue(static_cast<double>(total));
  for (std::size_t f = 0; f < tables.size(); ++f) {
    const TTable& table = tables[f];
    const auto fileIndex = static_cast<std::int32_t>(f);
    OpenMap(table, f == 0);
    fImport.StartFile();
    TKVBufferedStream id(std::make_unique<TKVFileStream>(table.id, fmOpenRead | fmShareDenyWrite));
    for (std::int64_t i = 0; i < table.objects; ++i) {
      const std::int64_t offset =
          fExtended ? id.ReadInt64() : static_cast<std::int64_t>(id.ReadUInt32());
      fImport.NextObject();
      if (attributes) {
        fImport.SetZLevels(attributes->ReadInteger(zFrom, fImport.LinkCount()),
                           attributes->ReadInteger(zTo, fImport.LinkCount()));
      }
      fImport.MarkLinkStart();
      fImport.ProgressExecute(fImport.LinkCount());
      ReadObject(fileIndex, offset);
      if (fImport.Cancelled()) return;
    }
    fMap.reset();
  }
  fImport.MarkLinkStart();
}

void TTabReader::OpenMap(const TTable& table, bool first) {
  fMap = std::make_unique<TMapFile>(table.map, fMemoryLimit);
  fCentreBlock = -1;
  if (fMap->Size() < static_cast<std::int64_t>(kMapHeaderSize)) {
    Corrupt(table.map, Format("its %d bytes cannot hold the %d bytes of the header", fMap->Size(),
                              kMapHeaderSize));
  }
  std::vector<std::uint8_t> header(kMapHeaderSize);
  fMap->Read(0, header.data(), static_cast<std::int64_t>(header.size()));
  const std::uint16_t version = TMapFile::Decode<std::uint16_t>(header.data() + kVersionPos);
  const bool versionFits = fExtended ? version == 1500 : (version == 500 || version == 1252);
  if (!versionFits) {
    Corrupt(table.map, Format("version %d does not have the %s layout of the table list", version,
                              fExtended ? "extended" : "classic"));
  }
  fBlockSize = TMapFile::Decode<std::uint16_t>(header.data() + kBlockSizePos);
  if (fBlockSize < kMinBlockSize || fBlockSize > kMaxBlockSize ||
      !std::has_single_bit(static_cast<std::uint64_t>(fBlockSize))) {
    Corrupt(table.map, Format("block size %d is not a power of two from %d to %d", fBlockSize,
                              kMinBlockSize, kMaxBlockSize));
  }
  try {
    fTransform = MapHeaderToCoordSys(header);
  } catch (const Exception& e) {
    Corrupt(table.map, e.what());
  }
  if (first) {
    if (fTransform.Unit == cuUnknown) throw Exception("Unknown coordinate unit found");
    fCoordSys = fTransform.CoordSys;
    fImport.SetCoordSys(fCoordSys);
    fImport.SetInputUnit(fTransform.Unit);
  } else if (fImport.FailOnDifferentCoordSys() && fTransform.CoordSys != fCoordSys) {
    throw Exception("Different Coordsys in input tables");
  }
}

void TTabReader::ReadObject(std::int32_t fileIndex, std::int64_t offset) {
  if (offset == 0) {
    Error(fileIndex, 0, ecDeleted);
    return;
  }
  if (offset < 0 || offset >= fMap->Size()) {
    Corrupt(fMap->Name(), Format("object %d of the table starts at offset %d, beyond the end of "
                                 "the file (%d bytes)",
                                 fImport.LinkCountFile(), offset, fMap->Size()));
  }
  const auto type = fMap->Value<std::uint8_t>(offset);
  const std::int64_t data = offset + fObjectHeader;
  switch (type) {
    case kCompressedLine:
    case kLine:
      ReadLine(fileIndex, type, offset, data);
      break;
    case kCompressedPolyline:
    case kPolyline: {
      const bool compressed = type == kCompressedPolyline;
      const std::int64_t pointer =
          fExtended ? fMap->Value<std::int64_t>(data) : fMap->Value<std::int32_t>(data);
      const auto size = fMap->Value<std::uint32_t>(data + fPointerSize);
      const std::int64_t vertexBytes = compressed ? 4 : 8;
      const std::int64_t count = compressed ? (size >> 2) & 0x1FFFFFFF : (size >> 3) & 0x0FFFFFFF;
      if (count * vertexBytes > fMap->Size()) {
        Corrupt(fMap->Name(), Format("object %d has %d bytes of coordinates, more than the file",
                                     fImport.LinkCountFile(), count * vertexBytes));
      }
      if (count < 2) {
        Error(fileIndex, static_cast<std::int32_t>(count), ecZeroOrOneVertices);
        return;
      }
      if (count > kMaxLinkVertices) {
        Error(fileIndex, static_cast<std::int32_t>(count), ecTooManyVertices);
        return;
      }
      if (pointer <= 0 || pointer >= fMap->Size() || (pointer & (fBlockSize - 1)) < fCoordHeader) {
        Corrupt(fMap->Name(),
                Format("object %d has its coordinates at offset %d, which is outside the file "
                       "or inside a block header",
                       fImport.LinkCountFile(), pointer));
      }
      std::int64_t originX = 0;
      std::int64_t originY = 0;
      if (compressed) {
        const std::int64_t origin = offset + (fExtended ? 25 : 17);
        originX = fMap->Value<std::int32_t>(origin);
        originY = fMap->Value<std::int32_t>(origin + 4);
      }
      ReadCoordinateBytes(pointer, count * vertexBytes);
      std::vector<TFloatPoint>& vertices = fImport.Vertices();
      if (vertices.size() < static_cast<std::size_t>(count))
        vertices.resize(static_cast<std::size_t>(count));
      for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        if (compressed) {
          const std::uint8_t* p = fRaw.data() + 4 * i;
          SetVertex(i, originX + TMapFile::Decode<std::int16_t>(p),
                    originY + TMapFile::Decode<std::int16_t>(p + 2));
        } else {
          const std::uint8_t* p = fRaw.data() + 8 * i;
          SetVertex(i, TMapFile::Decode<std::int32_t>(p), TMapFile::Decode<std::int32_t>(p + 4));
        }
      }
      fImport.SetNumPoints(static_cast<std::int32_t>(count));
      fImport.StoreLink(fileIndex);
      break;
    }
    default:
      Error(fileIndex, type, ecNotPolyLine);
      break;
  }
}

void TTabReader::ReadLine(std::int32_t fileIndex, std::uint8_t type, std::int64_t offset,
                          std::int64_t data) {
  std::int64_t c[4];
  if (type == kCompressedLine) {
    const std::int64_t block = offset & ~(fBlockSize - 1);
    if (block != fCentreBlock) {
      fCentreX = fMap->Value<std::int32_t>(block + 4);
      fCentreY = fMap->Value<std::int32_t>(block + 8);
      fCentreBlock = block;
    }
    for (int k = 0; k < 4; ++k) {
      c[k] = (k % 2 == 0 ? fCentreX : fCentreY) +
             fMap->Value<std::int16_t>(data + 2 * std::int64_t{k});
    }
  } else {
    for (int k = 0; k < 4; ++k)
      c[k] = fMap->Value<std::int32_t>(data + 4 * std::int64_t{k});
  }
  std::vector<TFloatPoint>& vertices = fImport.Vertices();
  if (vertices.size() < 2) vertices.resize(2);
  SetVertex(0, c[0], c[1]);
  SetVertex(1, c[2], c[3]);
  fImport.SetNumPoints(2);
  fImport.StoreLink(fileIndex);
}

void TTabReader::SetVertex(std::size_t index, std::int64_t ix, std::int64_t iy) {
  TFloatPoint& p = fImport.Vertices()[index];
  p.x = (static_cast<double>(ix) - fTransform.XDispl) / fTransform.XScale;
  p.y = (static_cast<double>(iy) - fTransform.YDispl) / fTransform.YScale;
}

void TTabReader::ReadCoordinateBytes(std::int64_t pos, std::int64_t count) {
  const std::int64_t mask = fBlockSize - 1;
  fRaw.resize(static_cast<std::size_t>(count));
  fVisited.assign(1, pos & ~mask);
  std::int64_t done = 0;
  while (done < count) {
    std::int64_t inBlock = pos & mask;
    if (inBlock == 0) {
      // The data continue in the block the current block points to.
      const std::int64_t block = pos - fBlockSize;
      const std::int64_t next =
          fExtended ? fMap->Value<std::int64_t>(block + 8) : fMap->Value<std::int32_t>(block + 4);
      if (next == 0) {
        Corrupt(fMap->Name(), Format("the coordinates of object %d end after %d of %d bytes",
                                     fImport.LinkCountFile(), done, count));
      }
      if (next < 0 || next >= fMap->Size() || (next & mask) != 0) {
        Corrupt(fMap->Name(),
                Format("the coordinate block at offset %d points to offset %d, which is outside "
                       "the file or not at a block start",
                       block, next));
      }
      if (std::find(fVisited.begin(), fVisited.end(), next) != fVisited.end()) {
        Corrupt(fMap->Name(),
                Format("the coordinate blocks of object %d form a cycle", fImport.LinkCountFile()));
      }
      fVisited.push_back(next);
      pos = next + fCoordHeader;
      inBlock = fCoordHeader;
    }
    const std::int64_t n = std::min(count - done, fBlockSize - inBlock);
    fMap->Read(pos, fRaw.data() + done, n);
    done += n;
    pos += n;
  }
}

}  // namespace

void ReadTABWithMemoryLimit(TBaseImport& import, bool extended, std::int64_t memoryLimit) {
  TTabReader(import, extended, memoryLimit).Run();
}

void ReadTAB(TBaseImport& import, bool extended) {
  ReadTABWithMemoryLimit(import, extended, kInMemoryLimit);
}

}  // namespace kvnet
