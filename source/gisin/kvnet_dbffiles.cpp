#include "gisin/kvnet_dbffiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_textfile.h"
#include "foundation/kvnet_unicode.h"
#include "gisin/kvnet_charset.h"

namespace kvnet {

namespace {

struct TLanguageDriver {
  std::uint8_t byte;
  std::uint16_t codePage;
};

constexpr TLanguageDriver kLanguageDrivers[] = {
    {0x01, 437},  {0x02, 850},   {0x03, 1252},  {0x04, 10000}, {0x08, 865},  {0x09, 437},
    {0x0A, 850},  {0x0B, 437},   {0x0C, 850},   {0x0D, 437},   {0x0E, 850},  {0x0F, 437},
    {0x10, 850},  {0x11, 437},   {0x12, 850},   {0x13, 932},   {0x14, 850},  {0x15, 437},
    {0x16, 850},  {0x17, 865},   {0x18, 437},   {0x19, 437},   {0x1A, 850},  {0x1B, 437},
    {0x1C, 863},  {0x1D, 850},   {0x1F, 852},   {0x20, 867},   {0x22, 852},  {0x23, 852},
    {0x24, 860},  {0x25, 850},   {0x26, 866},   {0x37, 850},   {0x4D, 936},  {0x4E, 949},
    {0x4F, 950},  {0x50, 874},   {0x56, 932},   {0x57, 1252},  {0x58, 1252}, {0x59, 1252},
    {0x5E, 437},  {0x5F, 437},   {0x60, 850},   {0x61, 1252},  {0x62, 1252}, {0x64, 852},
    {0x65, 866},  {0x66, 865},   {0x67, 861},   {0x68, 895},   {0x69, 620},  {0x6A, 737},
    {0x6B, 857},  {0x78, 950},   {0x79, 949},   {0x7A, 936},   {0x7B, 932},  {0x7C, 874},
    {0x7D, 1255}, {0x7E, 1256},  {0x85, 862},   {0x86, 437},   {0x87, 852},  {0x88, 857},
    {0x8E, 868},  {0x96, 10007}, {0x97, 10029}, {0x98, 10006}, {0x9B, 1250}, {0x9C, 850},
    {0xC8, 1250}, {0xC9, 1251},  {0xCA, 1254},  {0xCB, 1253},
};

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string LowerExtension(const std::string& fileName) {
  std::string ext = std::filesystem::path(fileName).extension().string();
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ext;
}

// A companion file with another extension, as given or in the other letter case.
std::string Companion(const std::string& fileName, const std::string& lowerExtension) {
  std::filesystem::path path(fileName);
  std::error_code ec;
  for (const std::string& ext : {lowerExtension, UpperAscii(lowerExtension)}) {
    path.replace_extension(ext);
    if (std::filesystem::exists(path, ec)) return path.string();
  }
  return {};
}

template <class T>
T LoadLE(const std::uint8_t* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

// Bytes a binary field type needs in a MapInfo native record (0 for text fields).
std::int32_t BinaryWidth(TGISField type) {
  switch (type) {
    case gfInteger:
    case gfDate:
    case gfTime:
      return 4;
    case gfSmallInt:
      return 2;
    case gfFloat:
    case gfInt64:
    case gfDateTime:
      return 8;
    case gfLogical:
      return 1;
    default:
      return 0;
  }
}

[[noreturn]] void OutOfBounds() {
  throw Exception("Value is out of bounds");
}
[[noreturn]] void NotSupported() {
  throw Exception("Field type is not supported");
}

std::int64_t RoundToInt64(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) OutOfBounds();
  return static_cast<std::int64_t>(std::nearbyint(value));
}

}  // namespace

std::uint16_t LanguageDriverCodePage(std::uint8_t languageDriver) {
  for (const TLanguageDriver& d : kLanguageDrivers) {
    if (d.byte == languageDriver) return d.codePage;
  }
  return 0;
}

std::uint8_t CodePageLanguageDriver(std::uint16_t codePage) {
  for (const TLanguageDriver& d : kLanguageDrivers) {
    if (d.codePage == codePage) return d.byte;
  }
  return 0;
}

// ---- TDbfFile

TDbfFile::TDbfFile(const std::string& fileName, std::uint16_t codePage)
    : fFilename(fileName), fCodePage(codePage) {}

TDbfFile::~TDbfFile() {
  try {
    Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): Close is the place to see write errors
  }
}

void TDbfFile::Close() {
  if (!fBinFile) return;
  std::unique_ptr<TKVBufferedStream> file = std::move(fBinFile);
  fOpen = false;
  file->Flush();
}

void TDbfFile::Open(bool readWrite) {
  if (fOpen) return;
  const std::string ext = LowerExtension(fFilename);
  if (ext == ".dbf") {
    fDBFtype = dbf;
  } else if (ext == ".dat") {
    fDBFtype = dat;
  } else {
    return;
  }
  std::vector<TGISField> tabTypes;
  if (fDBFtype == dat) ReadTabDescription(tabTypes);
  fBinFile = std::make_unique<TKVBufferedStream>(std::make_unique<TKVFileStream>(
      fFilename, readWrite ? fmOpenReadWrite | fmShareDenyNone : fmOpenRead | fmShareDenyNone));
  try {
    if (fDBFtype == dbf && fCodePage == 0) {
      // A .cpg file decides when there is one; else the header's language-driver byte.
      const std::string cpg = Companion(fFilename, ".cpg");
      if (!cpg.empty()) {
        fCodePage = CodePageFromCpg(cpg);
      } else {
        fBinFile->SetPosition(29);
        fCodePage = LanguageDriverCodePage(fBinFile->ReadByte());
      }
    }
    if (fCodePage == 0) fCodePage = SystemCodePage();
    ReadHeader(tabTypes);
  } catch (...) {
    fBinFile.reset();
    throw;
  }
  fWritable = readWrite;
  fOpen = true;
}

std::uint16_t TDbfFile::CodePageFromCpg(const std::string& cpg) {
  TTextFileReader reader(cpg, 1252);
  const std::string line = Trim(reader.Eof() ? std::string() : reader.ReadLine());
  std::int64_t number = 0;
  if (TryParseInt64(line, number)) {
    return number > 0 && number <= 65535 ? static_cast<std::uint16_t>(number) : 0;
  }
  const std::string upper = UpperAscii(line);
  if (upper == "UTF-8" || upper == "UTF8") return kCodePageUtf8;
  return 0;
}

void TDbfFile::ReadTabDescription(std::vector<TGISField>& types) {
  const std::string tab = Companion(fFilename, ".tab");
  if (tab.empty()) throw Exception("Corresponding TAB file is missing for DAT file " + fFilename);
  TTextFileReader reader(tab, kCodePageUtf8);
  std::int64_t fieldCount = -1;
  while (!reader.Eof()) {
    const std::string line = UpperAscii(Trim(reader.ReadLine()));
    if (line.rfind("!CHARSET", 0) == 0) {
      const std::uint16_t cp =
          CharSetList().Charset2CodePage(Trim(line.size() > 9 ? line.substr(9) : ""));
      if (fCodePage == 0) fCodePage = cp;
    } else if (line.rfind("TYPE NATIVEX", 0) == 0) {
      fDBFtype = datx;
    }
    const auto fields = line.find("FIELDS");
    if (fields == std::string::npos) continue;
    std::string rest = Trim(line.substr(fields + 6));
    rest = rest.substr(0, rest.find_first_of(" \t"));
    if (!TryParseInt64(rest, fieldCount) || fieldCount < 0 || fieldCount > 65535) {
      throw Exception(
          Format("Table %s is corrupt: the field count of %s is not valid", fFilename, tab));
    }
    break;
  }
  if (fieldCount < 0) {
    throw Exception(Format("Table %s is corrupt: %s declares no fields", fFilename, tab));
  }
  struct TTypeName {
    const char* prefix;
    TGISField type;
  };
  static constexpr TTypeName kTypes[] = {
      {"CHAR", gfChar},         {"DATETIME", gfDateTime}, {"DATE", gfDate},      {"TIME", gfTime},
      {"SMALLINT", gfSmallInt}, {"INTEGER", gfInteger},   {"LARGEINT", gfInt64}, {"FLOAT", gfFloat},
      {"DECIMAL", gfDecimal},   {"LOGICAL", gfLogical},
  };
  for (std::int64_t i = 0; i < fieldCount; ++i) {
    if (reader.Eof()) {
      throw Exception(
          Format("Table %s is corrupt: %s lists fewer fields than it declares", fFilename, tab));
    }
    const std::string line = UpperAscii(Trim(reader.ReadLine()));
    const auto space = line.find(' ');
    const std::string type =
        space == std::string::npos ? std::string() : Trim(line.substr(space + 1));
    TGISField field = gfChar;
    for (const TTypeName& t : kTypes) {
      if (type.rfind(t.prefix, 0) == 0) {
        field = t.type;
        break;
      }
    }
    types.push_back(field);
  }
}

void TDbfFile::ReadHeader(const std::vector<TGISField>& tabTypes) {
  const std::int64_t fileSize = fBinFile->Size();
  const auto corrupt = [&](const std::string& detail) {
    return Exception(Format("Table %s is corrupt: %s", fFilename, detail));
  };
  if (fileSize < 32) throw corrupt(Format("a file of %d bytes has no header", fileSize));
  std::uint8_t head[32];
  fBinFile->SetPosition(0);
  fBinFile->ReadBuffer(head, 32);
  std::int64_t headerLength = 0;
  if (fDBFtype == datx) {
    fRecordCount = LoadLE<std::int64_t>(head + 4);
    headerLength = LoadLE<std::uint32_t>(head + 12);
    fRecordLength = LoadLE<std::uint32_t>(head + 16);
  } else {
    fRecordCount = LoadLE<std::int32_t>(head + 4);
    headerLength = LoadLE<std::uint16_t>(head + 8);
    fRecordLength = LoadLE<std::uint16_t>(head + 10);
  }
  if (fRecordCount < 0) throw corrupt(Format("negative record count %d", fRecordCount));
  if (headerLength < 32 || headerLength > fileSize) {
    throw corrupt(Format("header length %d in a file of %d bytes", headerLength, fileSize));
  }
  if (fRecordLength < 1) throw corrupt("record length 0");
  // The descriptors, read in one piece.
  std::vector<std::uint8_t> header(static_cast<std::size_t>(headerLength));
  fBinFile->SetPosition(0);
  fBinFile->ReadBuffer(header.data(), headerLength);
  std::int64_t count = 0;
  if (fDBFtype == dbf) {
    // The list ends at the 0x0D terminator (extra header bytes, such as a backlink area, follow
    // it).
    while (32 + 32 * count < headerLength &&
           header[static_cast<std::size_t>(32 + 32 * count)] != 0x0D) {
      if (32 + 32 * (count + 1) > headerLength) throw corrupt("a field descriptor is cut off");
      ++count;
    }
  } else {
    count = static_cast<std::int64_t>(tabTypes.size());
    if (32 + 32 * count > headerLength) {
      throw corrupt(
          Format("%d field descriptors do not fit in a header of %d bytes", count, headerLength));
    }
  }
  fFieldCount = static_cast<std::int32_t>(count);
  fFields.assign(static_cast<std::size_t>(count), Tdbffield{});
  std::int64_t pos = fDBFtype == datx ? (count - 1) / 8 + 2 : 1;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::uint8_t* d = header.data() + 32 + 32 * i;
    Tdbffield& field = fFields[static_cast<std::size_t>(i)];
    for (int k = 0; k < 11 && d[k] != 0; ++k)
      AppendUtf8(field.Name, d[k]);
    field.Name = UpperAscii(field.Name);
    if (fDBFtype == dbf) {
      switch (d[11]) {
        case 'D':
          field.FieldType = gfDate;
          break;
        case 'F':
        case 'N':
          field.FieldType = gfDecimal;
          break;
        case 'L':
          field.FieldType = gfLogical;
          break;
        default:
          field.FieldType = gfChar;
          break;
      }
    } else {
      field.FieldType = tabTypes[static_cast<std::size_t>(i)];
    }
    if (fDBFtype == datx) {
      field.Width = LoadLE<std::int32_t>(d + 16);
      field.decimals = LoadLE<std::int32_t>(d + 20);
    } else {
      field.Width = d[16];
      field.decimals = d[17];
    }
    if (field.Width < 0 || field.decimals < 0 || field.decimals > 255) {
      throw corrupt(
          Format("field %d has width %d and %d decimals", i, field.Width, field.decimals));
    }
    if (fDBFtype != dbf && field.Width < BinaryWidth(field.FieldType)) {
      throw corrupt(Format("field %d is %d bytes wide, its type needs %d", i, field.Width,
                           BinaryWidth(field.FieldType)));
    }
    field.Pos = static_cast<std::uint32_t>(pos);
    pos += field.Width;
    if (pos > fRecordLength) {
      throw corrupt(Format("the fields need %d bytes of a record of %d", pos, fRecordLength));
    }
    if (field.FieldType == gfDecimal) {
      const double w = field.Width;
      const double dec = field.decimals;
      if (field.decimals > 0) {
        field.Max = std::pow(10.0, w - dec - 1) - std::pow(10.0, -dec);
        field.Min = -(std::pow(10.0, w - dec - 2) - std::pow(10.0, -dec));
      } else {
        field.Max = std::pow(10.0, w) - 1;
        field.Min = -(std::pow(10.0, w - 1) - 1);
      }
    }
  }
  fStartOfData = headerLength;
  // All records must be in the file (a trailing end-of-file byte is allowed, not required).
  if (fRecordCount > (fileSize - fStartOfData) / fRecordLength) {
    throw corrupt(Format("%d records of %d bytes do not fit in %d bytes after the header",
                         fRecordCount, fRecordLength, fileSize - fStartOfData));
  }
  fBuffer.resize(512);
}

bool TDbfFile::ValidField(std::int32_t fieldNum) const {
  return fOpen && fieldNum >= 0 && fieldNum < fFieldCount && fieldNum <= 255;
}

bool TDbfFile::ValidRecord(std::int64_t recNum) const {
  return fOpen && recNum >= 1 && recNum <= fRecordCount;
}

std::int32_t TDbfFile::FindField(const std::string& fieldname) const {
  if (!fOpen) return -1;
  const std::string wanted = UpperAscii(fieldname);
  for (std::int32_t i = 0; i < fFieldCount; ++i) {
    if (fFields[static_cast<std::size_t>(i)].Name == wanted) return i;
  }
  return -1;
}

Tdbffield TDbfFile::FieldInfo(std::int32_t fieldNum) const {
  if (!fOpen || fieldNum < 0 || fieldNum >= fFieldCount) return {};
  return fFields[static_cast<std::size_t>(fieldNum)];
}

const std::uint8_t* TDbfFile::FieldBytes(std::int32_t fieldNum, std::int64_t recNum) {
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldNum)];
  if (fBuffer.size() < static_cast<std::size_t>(field.Width))
    fBuffer.resize(static_cast<std::size_t>(field.Width));
  fBinFile->SetPosition(fStartOfData + (recNum - 1) * fRecordLength + field.Pos);
  fBinFile->ReadBuffer(fBuffer.data(), field.Width);
  return fBuffer.data();
}

void TDbfFile::PutFieldBytes(std::int32_t fieldNum, std::int64_t recNum, const void* bytes,
                             std::size_t count) {
  if (!fWritable) throw Exception("Table " + fFilename + " is open for reading only");
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldNum)];
  fBinFile->SetPosition(fStartOfData + (recNum - 1) * fRecordLength + field.Pos);
  fBinFile->WriteBuffer(bytes, static_cast<std::int64_t>(count));
}

const TEncoder& TDbfFile::Encoder() {
  if (!fEncoder) fEncoder.emplace(fCodePage);  // raises for a code page without a converter
  return *fEncoder;
}

bool TDbfFile::IsDeleted(std::int64_t recNum) {
  if (!ValidRecord(recNum)) return false;
  fBinFile->SetPosition(fStartOfData + (recNum - 1) * fRecordLength);
  return fBinFile->ReadByte() == '*';
}

std::string TDbfFile::ReadString(std::int32_t fieldNum, std::int64_t recNum) {
  if (!ValidField(fieldNum) || !ValidRecord(recNum)) return {};
  const std::int32_t width = fFields[static_cast<std::size_t>(fieldNum)].Width;
  const auto* bytes = reinterpret_cast<const char*>(FieldBytes(fieldNum, recNum));
  std::string_view raw(bytes, static_cast<std::size_t>(width));
  if (fCodePage == kCodePageUtf16) {
    if (width >= 2 && bytes[0] == 0 && bytes[1] == 0) return {};
  } else {
    raw = raw.substr(0, raw.find('\0'));
  }
  return Trim(Encoder().Decode(raw));
}

std::int64_t TDbfFile::ReadInteger(std::int32_t fieldNum, std::int64_t recNum) {
  if (!ValidField(fieldNum) || !ValidRecord(recNum)) return 0;
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldNum)];
  switch (field.FieldType) {
    case gfInteger:
      return LoadLE<std::int32_t>(FieldBytes(fieldNum, recNum));
    case gfSmallInt:
      return LoadLE<std::int16_t>(FieldBytes(fieldNum, recNum));
    case gfInt64:
      return LoadLE<std::int64_t>(FieldBytes(fieldNum, recNum));
    case gfFloat:
      return RoundToInt64(LoadLE<double>(FieldBytes(fieldNum, recNum)));
    case gfDecimal: {
      const auto* bytes = reinterpret_cast<const char*>(FieldBytes(fieldNum, recNum));
      const std::string text = Trim(std::string_view(bytes, static_cast<std::size_t>(field.Width)));
      if (field.decimals > 0) {
        double value = 0;
        if (!TryParseFloat(text, value)) {
          throw Exception(Format("'%s' is not a valid floating point value", text));
        }
        return RoundToInt64(value);
      }
      std::int64_t value = 0;
      if (!TryParseInt64(text, value))
        throw Exception(Format("'%s' is not a valid integer value", text));
      return value;
    }
    default:
      NotSupported();
  }
}

double TDbfFile::ReadFloat(std::int32_t fieldNum, std::int64_t recNum) {
  if (!ValidField(fieldNum) || !ValidRecord(recNum)) return 0;
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldNum)];
  switch (field.FieldType) {
    case gfInteger:
    case gfSmallInt:
    case gfInt64:
      return static_cast<double>(ReadInteger(fieldNum, recNum));
    case gfFloat:
      return LoadLE<double>(FieldBytes(fieldNum, recNum));
    case gfDecimal: {
      const auto* bytes = reinterpret_cast<const char*>(FieldBytes(fieldNum, recNum));
      double value = 0;
      return TryParseFloat(std::string_view(bytes, static_cast<std::size_t>(field.Width)), value)
                 ? value
                 : std::numeric_limits<double>::quiet_NaN();
    }
    default:
      NotSupported();
  }
}

bool TDbfFile::ReadBoolean(std::int32_t fieldNum, std::int64_t recNum) {
  if (!ValidField(fieldNum) || !ValidRecord(recNum)) return false;
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldNum)];
  if (field.FieldType == gfLogical) {
    const std::uint8_t flag = *FieldBytes(fieldNum, recNum);
    if (fDBFtype != dbf) return flag != 0;
    return flag == 'T' || flag == 't' || flag == 'Y' || flag == 'y';
  }
  const double value = ReadFloat(fieldNum, recNum);
  return !std::isnan(value) && value != 0;
}

std::string TDbfFile::DecimalText(const Tdbffield& field, double value) const {
  if (!std::isfinite(value) || value < field.Min || value > field.Max) OutOfBounds();
  std::string text = FormatFixed(value, field.decimals);
  if (static_cast<std::int32_t>(text.size()) > field.Width) OutOfBounds();  // rounding overflow
  text.insert(0, static_cast<std::size_t>(field.Width) - text.size(), ' ');
  return text;
}

void TDbfFile::WriteLogical(std::int32_t fieldNum, std::int64_t recNum, bool value) {
  const char flag = fDBFtype == dbf ? (value ? 'T' : 'F') : (value ? 1 : 0);
  PutFieldBytes(fieldNum, recNum, &flag, 1);
}

void TDbfFile::WriteInteger(std::int32_t fieldNum, std::int64_t recNum, std::int64_t value) {
  if (!ValidField(fieldNum) || !ValidRecord(recNum)) return;
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldNum)];
  switch (field.FieldType) {
    case gfInteger: {
      if (value < INT32_MIN || value > INT32_MAX) OutOfBounds();
      const auto v = static_cast<std::int32_t>(value);
      PutFieldBytes(fieldNum, recNum, &v, 4);
      break;
    }
    case gfSmallInt: {
      if (value < -32768 || value > 32767) OutOfBounds();
      const auto v = static_cast<std::int16_t>(value);
      PutFieldBytes(fieldNum, recNum, &v, 2);
      break;
    }
    case gfDecimal: {
      const std::string text = DecimalText(field, static_cast<double>(value));
      PutFieldBytes(fieldNum, recNum, text.data(), text.size());
      break;
    }
    case gfFloat: {
      const auto v = static_cast<double>(value);
      PutFieldBytes(fieldNum, recNum, &v, 8);
      break;
    }
    case gfLogical:
      WriteLogical(fieldNum, recNum, value > 0);
      break;
    case gfInt64:
      PutFieldBytes(fieldNum, recNum, &value, 8);
      break;
    default:
      NotSupported();
  }
}

void TDbfFile::WriteFloat(std::int32_t fieldNum, std::int64_t recNum, double value) {
  if (!ValidField(fieldNum) || !ValidRecord(recNum)) return;
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldNum)];
  switch (field.FieldType) {
    case gfInteger:
    case gfSmallInt:
    case gfInt64: {
      if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) OutOfBounds();
      WriteInteger(fieldNum, recNum, static_cast<std::int64_t>(std::trunc(value)));
      break;
    }
    case gfDecimal: {
      const std::string text = DecimalText(field, value);
      PutFieldBytes(fieldNum, recNum, text.data(), text.size());
      break;
    }
    case gfFloat:
      PutFieldBytes(fieldNum, recNum, &value, 8);
      break;
    case gfLogical:
      WriteLogical(fieldNum, recNum, value > 0);
      break;
    default:
      NotSupported();
  }
}

void TDbfFile::WriteBoolean(std::int32_t fieldNum, std::int64_t recNum, bool value) {
  WriteInteger(fieldNum, recNum, value ? 1 : 0);
}

void TDbfFile::WriteString(std::int32_t fieldNum, std::int64_t recNum, const std::string& value) {
  if (!ValidField(fieldNum) || !ValidRecord(recNum)) return;
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldNum)];
  if (field.FieldType != gfChar) return;
  const auto width = static_cast<std::size_t>(field.Width);
  // Whole characters that fit, then padding with spaces.
  std::string bytes;
  Encoder().EncodeWithin(value, width, bytes);
  const std::string pad = fCodePage == kCodePageUtf16 ? std::string(" \0", 2) : std::string(" ");
  while (bytes.size() + pad.size() <= width)
    bytes += pad;
  bytes.resize(width, ' ');
  PutFieldBytes(fieldNum, recNum, bytes.data(), bytes.size());
}

bool TDbfFile::NumericField(std::int32_t fieldNum) const {
  if (!ValidField(fieldNum)) return false;
  switch (fFields[static_cast<std::size_t>(fieldNum)].FieldType) {
    case gfInteger:
    case gfSmallInt:
    case gfDecimal:
    case gfFloat:
    case gfLogical:
      return true;
    default:
      return false;
  }
}

void TDbfFile::WriteIntegerArray(std::int32_t fieldnum, const TIntegerArray& value) {
  if (!NumericField(fieldnum)) return;
  const auto last =
      std::min<std::int64_t>(static_cast<std::int64_t>(value.size()) - 1, fRecordCount);
  for (std::int64_t i = 1; i <= last; ++i)
    WriteInteger(fieldnum, i, value[static_cast<std::size_t>(i)]);
}

void TDbfFile::WriteCostArray(std::int32_t fieldnum, const std::vector<float>& value) {
  if (!NumericField(fieldnum)) return;
  const auto last =
      std::min<std::int64_t>(static_cast<std::int64_t>(value.size()) - 1, fRecordCount);
  for (std::int64_t i = 1; i <= last; ++i)
    WriteFloat(fieldnum, i, value[static_cast<std::size_t>(i)]);
}

void TDbfFile::WriteBitArray(std::int32_t fieldnum, const TBitArray& value) {
  if (!ValidField(fieldnum)) return;
  const Tdbffield& field = fFields[static_cast<std::size_t>(fieldnum)];
  std::string zero;
  if (field.FieldType == gfDecimal) zero = DecimalText(field, 0);
  const std::int64_t last = std::min<std::int64_t>(value.Size() - 1, fRecordCount);
  for (std::int64_t i = 1; i <= last; ++i) {
    const bool bit = value.GetBit(i);
    switch (field.FieldType) {
      case gfInteger:
      case gfSmallInt:
      case gfFloat:
        WriteInteger(fieldnum, i, bit ? 1 : 0);
        break;
      case gfLogical:
        WriteLogical(fieldnum, i, bit);
        break;
      case gfDecimal: {
        // The units digit sits just before the decimal point (or at the end).
        std::string text = zero;
        const auto point = text.find('.');
        text[point == std::string::npos ? text.size() - 1 : point - 1] = bit ? '1' : '0';
        PutFieldBytes(fieldnum, i, text.data(), text.size());
        break;
      }
      default:
        return;
    }
  }
}

// ---- TDbfFiles

TDbfFiles::TDbfFiles(std::uint16_t codePage) : fCodePage(codePage) {}

TDbfFiles::~TDbfFiles() = default;

void TDbfFiles::Add(const std::string& fileName) {
  fFiles.push_back(fileName);
}

void TDbfFiles::Add(const std::vector<std::string>& files) {
  fFiles.insert(fFiles.end(), files.begin(), files.end());
}

void TDbfFiles::Open() {
  fDbf.clear();
  std::int64_t records = 0;
  for (const std::string& name : fFiles) {
    auto file = std::make_unique<TDbfFile>(name, fCodePage);
    file->Open(false);
    if (!file->IsOpen()) {
      throw Exception("Table " + name + " is neither a dBASE file nor a native table");
    }
    if (!fDbf.empty()) {
      const TDbfFile& first = *fDbf.front();
      if (file->FieldCount() != first.FieldCount()) {
        throw EDifferentDBFFilesStructure(
            "DBF files structure are different. Fields count of table " + name +
            " is not the same as the first");
      }
      for (std::int32_t i = 0; i < first.FieldCount(); ++i) {
        if (file->FieldInfo(i).Name != first.FieldInfo(i).Name) {
          throw EDifferentDBFFilesStructure("DBF files structure are different. Names in table " +
                                            name + " is not the same as the first");
        }
      }
      for (std::int32_t i = 0; i < first.FieldCount(); ++i) {
        if (file->FieldInfo(i).FieldType != first.FieldInfo(i).FieldType) {
          throw EDifferentDBFFilesStructure(
              "DBF files structure are different. Fields types in table " + name +
              " is not the same as the first");
        }
      }
    }
    records += file->RecordCount();
    if (records > INT32_MAX) throw EOutOfRange("The tables hold more than 2^31 - 1 records");
    fDbf.push_back(std::move(file));
  }
  fRecordCount = static_cast<std::int32_t>(records);
  fFieldCount = fDbf.empty() ? 0 : fDbf.front()->FieldCount();
}

std::int32_t TDbfFiles::FindField(const std::string& fieldname) const {
  return fDbf.empty() ? -1 : fDbf.front()->FindField(fieldname);
}

Tdbffield TDbfFiles::FieldInfo(std::int32_t fieldNum) const {
  return fDbf.empty() ? Tdbffield{} : fDbf.front()->FieldInfo(fieldNum);
}

TDbfFile* TDbfFiles::Locate(std::int32_t recNum, std::int64_t& local) {
  if (recNum < 1) return nullptr;
  std::int64_t before = 0;
  for (const auto& file : fDbf) {
    if (recNum <= before + file->RecordCount()) {
      local = recNum - before;
      return file.get();
    }
    before += file->RecordCount();
  }
  return nullptr;
}

std::string TDbfFiles::ReadString(std::int32_t fieldNum, std::int32_t recNum) {
  std::int64_t local = 0;
  TDbfFile* file = Locate(recNum, local);
  return file ? file->ReadString(fieldNum, local) : std::string();
}

std::int64_t TDbfFiles::ReadInteger(std::int32_t fieldNum, std::int32_t recNum) {
  std::int64_t local = 0;
  TDbfFile* file = Locate(recNum, local);
  return file ? file->ReadInteger(fieldNum, local) : 0;
}

double TDbfFiles::ReadFloat(std::int32_t fieldNum, std::int32_t recNum) {
  std::int64_t local = 0;
  TDbfFile* file = Locate(recNum, local);
  return file ? file->ReadFloat(fieldNum, local) : 0;
}

}  // namespace kvnet
