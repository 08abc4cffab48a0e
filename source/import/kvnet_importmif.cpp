// The MapInfo interchange (.mif) reader of the import.
//
// A line starts an object when its first word is an object keyword; every other line (styles,
// coordinates of objects that are passed over) is skipped. Pline and Line objects are read
// strictly: a vertex count or a coordinate line that is not what the object announces raises an
// exception naming the file and the line, so a damaged file never turns into wrong links.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_textfile.h"
#include "gisin/kvnet_charset.h"
#include "gisin/kvnet_csvfiles.h"
#include "import/kvnet_importreaders.h"

namespace kvnet {

namespace {

// The coordinate system of a MIF file without a CoordSys line: longitude and latitude.
constexpr const char* kDefaultCoordSys = "CoordSys Earth Projection 1, 0";
constexpr std::uint16_t kDefaultCodePage = 1252;

std::string UpperAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string LowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// The text between a leading and a trailing double quote; the text itself when not quoted.
std::string Unquote(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

std::string BaseName(const std::string& file) {
  const std::string ext = std::filesystem::path(file).extension().string();
  return file.substr(0, file.size() - ext.size());
}

enum class TMifKind : std::uint8_t { NotAnObject, Pline, Line, None, Collection, Other };

TMifKind ObjectKind(const std::string& keyword) {
  if (keyword == "PLINE") return TMifKind::Pline;
  if (keyword == "LINE") return TMifKind::Line;
  if (keyword == "NONE") return TMifKind::None;
  if (keyword == "COLLECTION") return TMifKind::Collection;
  static constexpr const char* kOthers[] = {"POINT", "REGION",    "ARC",     "TEXT",
                                            "RECT",  "ROUNDRECT", "ELLIPSE", "MULTIPOINT"};
  for (const char* other : kOthers) {
    if (keyword == other) return TMifKind::Other;
  }
  return TMifKind::NotAnObject;
}

// The unit named by the first quoted text of a CoordSys clause; degrees when it names none.
TCoordinateUnit CoordSysUnit(const std::string& coordSys) {
  const std::size_t open = coordSys.find('"');
  if (open == std::string::npos) return cuDeg;
  const std::size_t close = coordSys.find('"', open + 1);
  if (close == std::string::npos) return cuDeg;
  const std::string name =
      LowerAscii(std::string_view(coordSys).substr(open + 1, close - open - 1));
  struct TUnitName {
    const char* name;
    TCoordinateUnit unit;
  };
  static constexpr TUnitName kNames[] = {
      {"mm", cuMm},   {"cm", cuCm},     {"m", cuM},
      {"km", cuKm},   {"mi", cuMiles},  {"in", cuInch},
      {"ft", cuFt},   {"yd", cuYard},   {"survey ft", cuSurveyft},
      {"nmi", cuNmi}, {"link", cuLink}, {"chain", cuChain},
      {"rod", cuRod},
  };
  for (const TUnitName& n : kNames) {
    if (name == n.name) return n.unit;
  }
  return cuM;
}

// The lines of one .mif, each split into its words, with the line number for messages.
class TMifLines {
 public:
  explicit TMifLines(const std::string& file) : fFile(file), fReader(file, kDefaultCodePage) {}

  bool Next() {
    if (fReader.Eof()) return false;
    fLine = fReader.ReadLine();
    ++fNumber;
    fWords.clear();
    const std::string_view line(fLine);
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ')
        ++i;
      const std::size_t start = i;
      while (i < line.size() && static_cast<unsigned char>(line[i]) > ' ')
        ++i;
      if (i > start) fWords.push_back(line.substr(start, i - start));
    }
    return true;
  }

  const std::string& File() const { return fFile; }
  const std::string& Line() const { return fLine; }
  std::int64_t Number() const { return fNumber; }
  const std::vector<std::string_view>& Words() const { return fWords; }
  // The line after its first word, trimmed.
  std::string Rest() const {
    if (fWords.empty()) return std::string();
    const auto end = static_cast<std::size_t>(fWords[0].data() - fLine.data()) + fWords[0].size();
    return Trim(std::string_view(fLine).substr(end));
  }
  std::int64_t Position() const { return fReader.Position(); }
  std::int64_t Size() const { return fReader.Size(); }

  [[noreturn]] void Raise(const std::string& problem) const {
    throw Exception(Format("MIF file %s, line %d: ", fFile, fNumber) + problem);
  }
  [[noreturn]] void RaiseBadLine(const char* expected) const {
    Raise(Format("\"%s\" is not %s", Trim(fLine), expected));
  }

 private:
  std::string fFile;
  TTextFileReader fReader;
  std::string fLine;
  std::int64_t fNumber = 0;
  std::vector<std::string_view> fWords;
};

// A count of 0 .. 2^31 - 1 written as one word.
bool ParseCount(std::string_view word, std::int32_t& count) {
  std::int64_t value = 0;
  if (!TryParseInt64(word, value) || value < 0 ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  count = static_cast<std::int32_t>(value);
  return true;
}

struct TMifHeader {
  bool hasCoordSys = false;
  std::string coordSys;  // the CoordSys line, upper case
  bool hasCharset = false;
  std::string charset;
};

// Reads the header up to and including the DATA line.
TMifHeader ReadHeader(TMifLines& lines) {
  TMifHeader header;
  while (lines.Next()) {
    const std::vector<std::string_view>& words = lines.Words();
    if (words.empty()) continue;
    const std::string keyword = UpperAscii(words[0]);
    if (keyword == "DATA" && words.size() == 1) return header;
    if (keyword == "COORDSYS") {
      if (!header.hasCoordSys) {
        header.hasCoordSys = true;
        header.coordSys = UpperAscii(Trim(lines.Line()));
      }
    } else if (keyword == "CHARSET") {
      header.hasCharset = true;
      header.charset = Unquote(lines.Rest());
    } else if (keyword == "DELIMITER") {
      if (Unquote(lines.Rest()) != ",") {
        lines.Raise(Format("the delimiter %s is not supported; the attribute file must use \",\"",
                           lines.Rest()));
      }
    } else if (keyword == "COLUMNS") {
      // The column lines may hold any name, keywords included.
      std::int32_t columns = 0;
      if (words.size() != 2 || !ParseCount(words[1], columns)) lines.RaiseBadLine("a column count");
      for (std::int32_t i = 0; i < columns; ++i) {
        if (!lines.Next()) lines.Raise("the file ends inside the column list");
      }
    }
  }
  throw Exception(Format("MIF file %s has no DATA line", lines.File()));
}

class TMifObjectReader {
 public:
  TMifObjectReader(TBaseImport& import, TMifLines& lines, std::int32_t fileIndex)
      : fImport(import), fLines(lines), fFileIndex(fileIndex) {}

  // The object whose first line is the current line.
  void Read(TMifKind kind) {
    switch (kind) {
      case TMifKind::Pline:
        ReadPline();
        break;
      case TMifKind::Line:
        ReadLine();
        break;
      case TMifKind::None:
        Error(0, ecNotGeoCoded);
        break;
      default:
        Error(0, ecNotPolyLine);
        break;
    }
  }

 private:
  void ReadPline() {
    const std::vector<std::string_view>& words = fLines.Words();
    std::int32_t count = 0;
    if (words.size() >= 2 && UpperAscii(words[1]) == "MULTIPLE") {
      std::int32_t sections = 0;
      if (words.size() != 3 || !ParseCount(words[2], sections)) {
        fLines.RaiseBadLine("a Pline Multiple object line");
      }
      if (sections != 1) {
        Error(sections, ecMultiSection);
        return;
      }
      count = ReadCountLine();  // the only section
    } else if (words.size() == 1) {
      count = ReadCountLine();
    } else if (words.size() != 2 || !ParseCount(words[1], count)) {
      fLines.RaiseBadLine("a Pline object line");
    }
    ReadVertices(count);
  }

  void ReadLine() {
    const std::vector<std::string_view>& words = fLines.Words();
    double v[4];
    if (words.size() != 5) fLines.RaiseBadLine("a Line object (Line x1 y1 x2 y2)");
    for (std::size_t i = 0; i < 4; ++i) {
      if (!TryParseFloat(words[i + 1], v[i])) {
        fLines.RaiseBadLine("a Line object (Line x1 y1 x2 y2)");
      }
    }
    std::vector<TFloatPoint>& vertices = fImport.Vertices();
    if (vertices.size() < 2) vertices.resize(2);
    vertices[0] = TFloatPoint{v[0], v[1]};
    vertices[1] = TFloatPoint{v[2], v[3]};
    fImport.SetNumPoints(2);
    fImport.StoreLink(fFileIndex);
  }

  // A vertex count on a line of its own.
  std::int32_t ReadCountLine() {
    const std::int64_t objectLine = fLines.Number();
    if (!fLines.Next()) {
      throw Exception(Format("MIF file %s: the file ends after the Pline object of line %d",
                             fLines.File(), objectLine));
    }
    std::int32_t count = 0;
    if (fLines.Words().size() != 1 || !ParseCount(fLines.Words()[0], count)) {
      fLines.RaiseBadLine("a vertex count");
    }
    return count;
  }

  // The count coordinate lines of a Pline; the link when its count is valid.
  void ReadVertices(std::int32_t count) {
    const bool store = count >= 2 && count <= kMaxLinkVertices;
    std::vector<TFloatPoint>& vertices = fImport.Vertices();
    if (store && vertices.size() < static_cast<std::size_t>(count)) {
      vertices.resize(static_cast<std::size_t>(count));
    }
    const std::int64_t objectLine = fLines.Number();
    for (std::int32_t i = 0; i < count; ++i) {
      if (!fLines.Next()) {
        throw Exception(Format(
            "MIF file %s: the Pline of line %d announces %d vertices, the file ends after %d",
            fLines.File(), objectLine, count, i));
      }
      const std::vector<std::string_view>& words = fLines.Words();
      TFloatPoint p;
      if (words.size() != 2 || !TryParseFloat(words[0], p.x) || !TryParseFloat(words[1], p.y)) {
        fLines.RaiseBadLine("a coordinate pair");
      }
      if (store) vertices[static_cast<std::size_t>(i)] = p;
    }
    if (count < 2) {
      Error(count, ecZeroOrOneVertices);
    } else if (!store) {
      Error(count, ecTooManyVertices);
    } else {
      fImport.SetNumPoints(count);
      fImport.StoreLink(fFileIndex);
    }
  }

  void Error(std::int32_t value, TErrorCode code) {
    fImport.AddImportError(fFileIndex, fImport.LinkCountFile(), value, code, fImport.LinkCount());
  }

  TBaseImport& fImport;
  TMifLines& fLines;
  std::int32_t fFileIndex;
};

}  // namespace

void ReadMIF(TBaseImport& import) {
  const std::vector<std::string>& files = import.Files();
  std::int64_t totalSize = 0;
  for (const std::string& file : files) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec) totalSize += static_cast<std::int64_t>(size);
  }
  import.SetProgressMaxValue(static_cast<double>(totalSize));
  import.SetCoordSys(kDefaultCoordSys);

  std::unique_ptr<TCSVFiles> table;
  std::int64_t done = 0;
  for (std::size_t f = 0; f < files.size(); ++f) {
    TMifLines lines(files[f]);
    const TMifHeader header = ReadHeader(lines);
    if (f == 0) {
      std::uint16_t codePage = kDefaultCodePage;
      if (header.hasCharset) {
        const std::uint16_t named = CharSetList().Charset2CodePage(header.charset);
        if (named != 0) codePage = named;
      }
      if (header.hasCoordSys) import.SetCoordSys(header.coordSys);
      import.SetInputUnit(import.CoordinateUnit() == cuUnknown ? CoordSysUnit(import.CoordSys())
                                                               : import.CoordinateUnit());
      if (import.ZLevels()) {
        table = std::make_unique<TCSVFiles>(codePage);
        for (const std::string& file : files)
          table->Add(CompanionFile(BaseName(file), ".mid"));
        table->Open();
      }
    } else if (import.FailOnDifferentCoordSys()) {
      const std::string own = header.hasCoordSys ? header.coordSys : UpperAscii(kDefaultCoordSys);
      if (own != UpperAscii(import.CoordSys())) {
        throw Exception("Different Coordsys in input tables");
      }
    }

    import.StartFile();
    TMifObjectReader reader(import, lines, static_cast<std::int32_t>(f));
    while (lines.Next()) {
      if (lines.Words().empty()) continue;
      const TMifKind kind = ObjectKind(UpperAscii(lines.Words()[0]));
      if (kind == TMifKind::NotAnObject) continue;
      if (kind == TMifKind::Collection) {
        throw Exception("Collections are not supported in MIF translator");
      }
      import.NextObject();
      if (table) {
        if (table->Eof()) {
          throw Exception(
              Format("The MID files end before the attributes of object %d", import.LinkCount()));
        }
        std::int32_t zFrom = 0;
        std::int32_t zTo = 0;
        table->Read_Z(import.ZFromField(), import.ZToField(), zFrom, zTo);
        import.SetZLevels(zFrom, zTo);
      }
      import.MarkLinkStart();
      import.ProgressExecute(static_cast<double>(done + std::min(lines.Position(), lines.Size())));
      reader.Read(kind);
      if (import.Cancelled()) return;
    }
    done += lines.Size();
  }
  import.MarkLinkStart();
}

}  // namespace kvnet
