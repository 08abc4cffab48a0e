#include "gisout/kvnet_giswritershp.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_textfile.h"
#include "gisin/kvnet_dbffiles.h"

namespace kvnet {

namespace {

// The header of a dBASE table holds at most this many field descriptors (its length is 16-bit).
constexpr std::int32_t kMaxDbfFields = (65535 - 33) / 32;

// A shape file addresses its records in 16-bit words with signed 32-bit numbers.
constexpr std::int64_t kMaxShapeFileBytes = 2 * static_cast<std::int64_t>(INT32_MAX);

const double kBoundStart = static_cast<double>(1e38f);

void PutLE16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

void PutLE32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutBE32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

void PutDouble(std::string& b, std::size_t at, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<char>((bits >> (8 * i)) & 0xFF);
}

void AppendLE32(std::string& b, std::uint32_t v) {
  b.append(4, '\0');
  PutLE32(b, b.size() - 4, v);
}

void AppendBE32(std::string& b, std::uint32_t v) {
  b.append(4, '\0');
  PutBE32(b, b.size() - 4, v);
}

void AppendDouble(std::string& b, double v) {
  b.append(8, '\0');
  PutDouble(b, b.size() - 8, v);
}

char TypeLetter(TGISField field) {
  switch (field) {
    case gfChar:
    case gfTime:
    case gfDateTime:
      return 'C';
    case gfDate:
      return 'D';
    case gfLogical:
      return 'L';
    default:
      return 'N';
  }
}

// Writes text right-aligned into the field, or fills it with '*' (the dBASE overflow marker,
// read as null) when it is too wide.
void PutRightAligned(std::string& row, std::size_t at, std::size_t width, std::string_view text) {
  if (text.size() > width) {
    std::fill_n(row.begin() + static_cast<std::ptrdiff_t>(at), width, '*');
    return;
  }
  std::copy(text.begin(), text.end(),
            row.begin() + static_cast<std::ptrdiff_t>(at + width - text.size()));
}

}  // namespace

// ---- DBF -------------------------------------------------------------------------------------

TGISWriterDBF::~TGISWriterDBF() {
  FinishOnDestroy();
}

void TGISWriterDBF::StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) {
  if (NumFields > kMaxDbfFields) {
    throw EInvalidParameter(
        Format("A dBASE table holds at most %d fields, not %d", kMaxDbfFields, NumFields));
  }
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FNumRec = 0;
  FTotalWidth = 1;
  FOutDBF = std::make_unique<TKVBufferedStream>(
      std::make_unique<TKVFileStream>(FileName + ".dbf", fmCreate));
  FFilesCreated = true;
  if (NumFields == 0) WriteHeader();
}

void TGISWriterDBF::AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                             std::uint8_t decimals) {
  switch (Field) {
    case gfChar:
      Width = std::clamp<std::uint8_t>(Width, 1, 254);  // a field of no bytes cannot be read
      decimals = 0;
      break;
    case gfInteger:
      Width = 11;
      decimals = 0;
      break;
    case gfSmallInt:
      Width = 6;
      decimals = 0;
      break;
    case gfDecimal:
      break;
    case gfFloat:
      if (Width == 0) Width = 20;
      if (decimals == 0) decimals = 8;
      break;
    case gfDate:
      Width = 8;
      decimals = 0;
      break;
    case gfLogical:
      Width = 1;
      decimals = 0;
      break;
    case gfTime:
      Width = 9;
      decimals = 0;
      break;
    case gfDateTime:
      Width = 17;
      decimals = 0;
      break;
    case gfInt64:
      Width = 20;
      decimals = 0;
      break;
  }
  if (FTotalWidth + Width > 65535) {
    throw EInvalidParameter(
        Format("A dBASE record holds at most 65535 bytes; field %s does not fit", FieldName));
  }
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  FTotalWidth = static_cast<std::uint16_t>(FTotalWidth + Width);
  if (FWrittenFields == FNumFields) WriteHeader();
}

void TGISWriterDBF::WriteHeader() {
  const auto headerLength = static_cast<std::uint16_t>(32 * FNumFields + 33);
  std::string header(headerLength, '\0');
  header[0] = 3;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  header[1] = static_cast<char>(local.tm_year);  // years since 1900
  header[2] = static_cast<char>(local.tm_mon + 1);
  header[3] = static_cast<char>(local.tm_mday);
  PutLE16(header, 8, headerLength);
  PutLE16(header, 10, FTotalWidth);
  header[29] = static_cast<char>(CodePageLanguageDriver(FCodepage));
  std::string name;
  for (std::int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& field = FFieldInfo[static_cast<std::size_t>(i)];
    const std::size_t at = 32 * static_cast<std::size_t>(i);
    name.clear();
    if (Encoding() != nullptr) {
      Encoding()->EncodeWithin(field.Name, 10, name);
    } else {
      TEncoder(kCodePageUtf8).EncodeWithin(field.Name, 10, name);
    }
    std::copy(name.begin(), name.end(), header.begin() + static_cast<std::ptrdiff_t>(at));
    header[at + 11] = TypeLetter(field.FieldType);
    header[at + 16] = static_cast<char>(field.Width);
    header[at + 17] = static_cast<char>(field.decimals);
  }
  header[32 * (static_cast<std::size_t>(FNumFields) + 1)] = 0x0D;
  FOutDBF->WriteBuffer(header.data(), static_cast<std::int64_t>(header.size()));
}

void TGISWriterDBF::PrepareRow(const std::string& Attrib) {
  SplitAttributes(Attrib);
  FRow.assign(FTotalWidth, ' ');
  std::size_t at = 1;
  for (std::int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& field = FFieldInfo[static_cast<std::size_t>(i)];
    const std::string& value = FSL[static_cast<std::size_t>(i) - 1];
    const auto width = static_cast<std::size_t>(field.Width);
    switch (field.FieldType) {
      case gfChar: {
        FNumber.clear();
        if (Encoding() != nullptr) {
          Encoding()->EncodeWithin(value, width, FNumber);
        } else {
          TEncoder(kCodePageUtf8).EncodeWithin(value, width, FNumber);
        }
        std::copy(FNumber.begin(), FNumber.end(), FRow.begin() + static_cast<std::ptrdiff_t>(at));
        break;
      }
      case gfDecimal:
      case gfFloat: {
        if (Trim(value).empty()) break;  // an empty value is a null: blanks
        double number = 0;
        if (!TryParseFloat(value, number)) {
          throw Exception(Format("'%s' is not a valid floating point value", value));
        }
        if (std::isnan(number)) break;
        if (std::isinf(number)) {
          PutRightAligned(FRow, at, width, std::string(width + 1, '*'));
          break;
        }
        char buffer[400];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, number,
                                          std::chars_format::fixed, field.decimals);
        std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
        // No negative zero such as "-0.00".
        if (text.front() == '-' && text.find_first_not_of("-0.") == std::string_view::npos) {
          text.remove_prefix(1);
        }
        PutRightAligned(FRow, at, width, text);
        break;
      }
      case gfDate:
      case gfTime:
      case gfDateTime:
        if (value.size() == width)
          std::copy(value.begin(), value.end(), FRow.begin() + static_cast<std::ptrdiff_t>(at));
        break;
      case gfLogical:
        FRow[at] = IsTrueText(value) ? 'T' : 'F';
        break;
      case gfInteger:
      case gfSmallInt:
      case gfInt64: {
        if (Trim(value).empty()) break;
        std::int64_t number = 0;
        if (!TryParseInt64(value, number)) {
          throw Exception(Format("'%s' is not a valid integer value", value));
        }
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
        PutRightAligned(FRow, at, width,
                        std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
        break;
      }
    }
    at += width;
  }
}

void TGISWriterDBF::WriteRow() {
  FOutDBF->WriteBuffer(FRow.data(), static_cast<std::int64_t>(FRow.size()));
  ++FNumRec;
  ++FWrittenRecords;
  if (FOutDBF->Position() > kFileLimit) fFileIsFull = true;
}

void TGISWriterDBF::StartObject(std::int32_t NumParts, const std::string& Attrib) {
  PrepareRow(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  WriteRow();
}

void TGISWriterDBF::AddPoint(double /*X*/, double /*Y*/, const std::string& Attrib) {
  CheckRecordStart();
  PrepareRow(Attrib);
  WriteRow();
}

void TGISWriterDBF::CloseDbf() {
  if (!FOutDBF) return;
  try {
    const std::uint8_t end = 0x1A;
    FOutDBF->Seek(0, soEnd);
    FOutDBF->WriteBuffer(&end, 1);
    FOutDBF->SetPosition(4);
    FOutDBF->WriteUInt32(FNumRec);
    FOutDBF->Flush();
  } catch (...) {
    ReleaseDbf();
    DeleteFiles(FileName, {".dbf"});
    throw;
  }
  ReleaseDbf();
}

void TGISWriterDBF::Close() {
  if (!Fopen) return;
  TGISWriter::Close();
  Fopen = false;
  CloseDbf();
}

void TGISWriterDBF::Drop() {
  ReleaseDbf();
  if (FFilesCreated) DeleteFiles(FileName, {".dbf"});
  TGISWriter::Drop();
}

// ---- SHP -------------------------------------------------------------------------------------

TGISWriterSHP::~TGISWriterSHP() {
  FinishOnDestroy();
}

std::int32_t TGISWriterSHP::ShapeType() const {
  switch (FObjectTypes) {
    case otRegion:
      return 5;
    case otPoint:
      return 1;
    default:
      return 3;
  }
}

void TGISWriterSHP::StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriterDBF::StartHeader(NumFields, ObjectTypes);
  FSHPopen = false;
  FSHPOffset = 100;
  if (ObjectTypes == otNone) return;
  std::string header(100, '\0');
  PutBE32(header, 0, 9994);
  PutLE32(header, 28, 1000);
  PutLE32(header, 32, static_cast<std::uint32_t>(ShapeType()));
  FOutSHP = std::make_unique<TKVBufferedStream>(
      std::make_unique<TKVFileStream>(FileName + ".shp", fmCreate));
  FOutSHX = std::make_unique<TKVBufferedStream>(
      std::make_unique<TKVFileStream>(FileName + ".shx", fmCreate));
  FSHPopen = true;
  FOutSHP->WriteBuffer(header.data(), 100);
  FOutSHX->WriteBuffer(header.data(), 100);
  if (!PRJ.empty()) {
    TTextFileWriter prj(FileName + ".prj", 1252);
    prj.write(PRJ);
    prj.Close();
  }
  if (FCodepage != 0) {
    TTextFileWriter cpg(FileName + ".cpg", 1252);
    cpg.write(std::to_string(FCodepage));
    cpg.Close();
  }
}

void TGISWriterSHP::StartObject(std::int32_t NumParts, const std::string& Attrib) {
  if (FObjectTypes == otPoint && NumParts > 1) {
    throw EInvalidParameter(Format("A point record holds one point, not %d sections", NumParts));
  }
  TGISWriterDBF::StartObject(NumParts, Attrib);
  if (FObjectTypes == otNone) return;
  FRecord.clear();
  AppendBE32(FRecord, FNumRec);
  AppendBE32(FRecord, 0);  // content length, set when the record is complete
  FNumPoints = 0;
  FXMinO = kBoundStart;
  FYMinO = kBoundStart;
  FXMaxO = -kBoundStart;
  FYMaxO = -kBoundStart;
  if (NumParts == 0) {
    AppendLE32(FRecord, 0);  // a null shape
    FinishRecord();
    return;
  }
  AppendLE32(FRecord, static_cast<std::uint32_t>(ShapeType()));
  if (FObjectTypes == otPoint) return;
  FRecord.append(32, '\0');  // the record's box
  AppendLE32(FRecord, static_cast<std::uint32_t>(NumParts));
  AppendLE32(FRecord, 0);  // point count
  FRecord.append(4 * static_cast<std::size_t>(NumParts), '\0');
}

void TGISWriterSHP::WriteSection(std::int32_t Index, const TFloatPointArrayEx& section) {
  if (FObjectTypes == otPoint && section.Count != 1) {
    FBroken = true;
    throw EInvalidParameter(Format("A point record holds one point, not %d", section.Count));
  }
  TGISWriterDBF::WriteSection(Index, section);
  if (FObjectTypes == otNone) return;
  if (FObjectTypes != otPoint) {
    PutLE32(FRecord, 52 + 4 * static_cast<std::size_t>(FWrittenParts - 1), FNumPoints);
  }
  for (std::int32_t i = 0; i < section.Count; ++i) {
    const TFloatPoint& p = section.Pnt[static_cast<std::size_t>(i)];
    AppendDouble(FRecord, p.x);
    AppendDouble(FRecord, p.y);
    FXMinO = std::min(FXMinO, p.x);
    FYMinO = std::min(FYMinO, p.y);
    FXMaxO = std::max(FXMaxO, p.x);
    FYMaxO = std::max(FYMaxO, p.y);
  }
  FNumPoints += static_cast<std::uint32_t>(section.Count);
  if (FWrittenParts == FNumParts) FinishRecord();
}

void TGISWriterSHP::FinishRecord() {
  const std::size_t size = FRecord.size();
  if (FSHPOffset + static_cast<std::int64_t>(size) > kMaxShapeFileBytes) {
    FBroken = true;
    throw Exception(Format("Shape file %s.shp cannot grow beyond 4 GB", FileName));
  }
  if (FNumPoints > 0) {
    if (FObjectTypes != otPoint) {
      PutDouble(FRecord, 12, FXMinO);
      PutDouble(FRecord, 20, FYMinO);
      PutDouble(FRecord, 28, FXMaxO);
      PutDouble(FRecord, 36, FYMaxO);
      PutLE32(FRecord, 48, FNumPoints);
    }
    UpdateBounds(FXMinO, FYMinO);
    UpdateBounds(FXMaxO, FYMaxO);
  }
  const auto contentWords = static_cast<std::uint32_t>((size - 8) / 2);
  PutBE32(FRecord, 4, contentWords);
  try {
    FOutSHP->WriteBuffer(FRecord.data(), static_cast<std::int64_t>(size));
    FIndexEntry.resize(8);
    PutBE32(FIndexEntry, 0, static_cast<std::uint32_t>(FSHPOffset / 2));
    PutBE32(FIndexEntry, 4, contentWords);
    FOutSHX->WriteBuffer(FIndexEntry.data(), 8);
  } catch (...) {
    FBroken = true;
    throw;
  }
  FSHPOffset += static_cast<std::int64_t>(size);
  if (FSHPOffset > kFileLimit) fFileIsFull = true;
}

void TGISWriterSHP::AddPoint(double X, double Y, const std::string& Attrib) {
  if (FObjectTypes != otPoint) return;
  CheckRecordStart();
  StartObject(1, Attrib);
  FPoint.Pnt.resize(1);
  FPoint.Pnt[0] = TFloatPoint{X, Y};
  FPoint.Count = 1;
  WriteSection(0, FPoint);
}

void TGISWriterSHP::ReleaseShapes() noexcept {
  FOutSHP.reset();
  FOutSHX.reset();
  FSHPopen = false;
}

void TGISWriterSHP::Close() {
  if (!Fopen) return;
  // The base part only: the .dbf part is closed below, after the shapes.
  TGISWriter::Close();  // NOLINT(bugprone-parent-virtual-call)
  Fopen = false;
  try {
    if (FSHPopen) {
      // Without any shape the extent is empty: zeros rather than the running start values.
      const bool empty = FXMinG > FXMaxG;
      std::string box(32, '\0');
      PutDouble(box, 0, empty ? 0 : FXMinG);
      PutDouble(box, 8, empty ? 0 : FYMinG);
      PutDouble(box, 16, empty ? 0 : FXMaxG);
      PutDouble(box, 24, empty ? 0 : FYMaxG);
      std::string length(4, '\0');
      PutBE32(length, 0, static_cast<std::uint32_t>(FSHPOffset / 2));
      FOutSHP->SetPosition(24);
      FOutSHP->WriteBuffer(length.data(), 4);
      FOutSHP->SetPosition(36);
      FOutSHP->WriteBuffer(box.data(), 32);
      PutBE32(length, 0,
              static_cast<std::uint32_t>((100 + 8 * static_cast<std::int64_t>(FNumRec)) / 2));
      FOutSHX->SetPosition(24);
      FOutSHX->WriteBuffer(length.data(), 4);
      FOutSHX->SetPosition(36);
      FOutSHX->WriteBuffer(box.data(), 32);
      FOutSHP->Flush();
      FOutSHX->Flush();
    }
    ReleaseShapes();
    CloseDbf();
  } catch (...) {
    ReleaseShapes();
    ReleaseDbf();
    DeleteFiles(FileName, {".dbf", ".shp", ".shx", ".prj", ".cpg"});
    throw;
  }
}

void TGISWriterSHP::Drop() {
  ReleaseShapes();
  ReleaseDbf();
  if (FFilesCreated) DeleteFiles(FileName, {".dbf", ".shp", ".shx", ".prj", ".cpg"});
  TGISWriter::Drop();  // NOLINT(bugprone-parent-virtual-call): the .dbf part is released above
}

}  // namespace kvnet
