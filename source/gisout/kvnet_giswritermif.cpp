#include "gisout/kvnet_giswritermif.h"

#include "foundation/kvnet_format.h"
#include "gisin/kvnet_charset.h"

namespace kvnet {

namespace {

std::string PointText(double x, double y) {
  return FormatGeneral(x) + " " + FormatGeneral(y);
}

}  // namespace

std::uint32_t SwapRedBlue(std::uint32_t color) {
  return ((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
}

// ---- MIF -------------------------------------------------------------------------------------

TGISWriterMIF::~TGISWriterMIF() {
  FinishOnDestroy();
}

void TGISWriterMIF::StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  fVersion = 300;
  fields.clear();
  // A table without fields is complete at once.
  if (NumFields == 0) OpenFiles();
}

void TGISWriterMIF::AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                             std::uint8_t decimals) {
  if (Width > 254) Width = 254;
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  std::string type;
  switch (Field) {
    case gfChar:
      type = " Char(" + std::to_string(Width) + ")";
      break;
    case gfInteger:
      type = " Integer";
      break;
    case gfSmallInt:
      type = " Smallint";
      break;
    case gfDecimal:
      type = " Decimal(" + std::to_string(Width) + "," + std::to_string(decimals) + ")";
      break;
    case gfFloat:
      type = " Float";
      break;
    case gfDate:
      type = " Date";
      break;
    case gfLogical:
      type = " Logical";
      break;
    case gfTime:
      type = " Time";
      fVersion = 900;
      break;
    case gfDateTime:
      type = " DateTime";
      fVersion = 900;
      break;
    case gfInt64:
      type = " LargeInt";
      fVersion = 900;
      break;
  }
  fields.push_back("  " + FieldName + type);
  if (FWrittenFields == FNumFields) OpenFiles();
}

void TGISWriterMIF::OpenFiles() {
  if (FCodepage == kCodePageUtf8 || FCodepage == kCodePageUtf16) fVersion = 1520;
  const bool bom = FCodepage == kCodePageUtf8;
  FOutMIF = std::make_unique<TTextFileWriter>(FileName + ".mif", FCodepage, bom);
  FFilesCreated = true;
  // The .mid carries no byte-order mark: the .mif header names its character set, and readers
  // would take the mark for part of the first value.
  FOutMID = std::make_unique<TTextFileWriter>(FileName + ".mid", FCodepage, false);
  TTextFileWriter& mif = *FOutMIF;
  mif.writeln("Version " + std::to_string(fVersion));
  const std::string charset = CharSetList().CodePage2Charset(ResolveCodePage(FCodepage));
  if (!charset.empty()) mif.writeln("CharSet \"" + charset + "\"");
  mif.writeln("Delimiter \",\"");
  if (!CoordSys.empty() && FObjectTypes != otNone) mif.writeln(CoordSys);
  mif.writeln("Columns " + std::to_string(FNumFields));
  for (const std::string& line : fields)
    mif.writeln(line);
  mif.writeln("Data");
}

void TGISWriterMIF::StartObject(std::int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  if (NumParts == 0 || !ObjectsHaveGeometry()) FOutMIF->writeln("None");
  FOutMID->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterMIF::WriteSection(std::int32_t Index, const TFloatPointArrayEx& section) {
  TGISWriter::WriteSection(Index, section);
  if (!ObjectsHaveGeometry()) return;  // the record was written as "None"
  TTextFileWriter& mif = *FOutMIF;
  const std::int32_t k = FWrittenParts;
  if (k == 1 && FNumParts == 1 && FObjectTypes == otPline && section.Count == 2) {
    mif.writeln("Line " + PointText(section.Pnt[0].x, section.Pnt[0].y) + " " +
                PointText(section.Pnt[1].x, section.Pnt[1].y));
  } else {
    if (k == 1) {
      if (FObjectTypes == otRegion) {
        mif.writeln("Region " + std::to_string(FNumParts));
      } else if (FNumParts >= 2) {
        mif.writeln("Pline multiple " + std::to_string(FNumParts));
      } else {
        mif.write("Pline ");
      }
    }
    mif.writeln(std::to_string(section.Count));
    for (std::int32_t i = 0; i < section.Count; ++i) {
      const TFloatPoint& p = section.Pnt[static_cast<std::size_t>(i)];
      FScratch = FormatGeneral(p.x);
      FScratch += ' ';
      FScratch += FormatGeneral(p.y);
      mif.writeln(FScratch);
    }
  }
  if (k < FNumParts || CompactMIF) return;
  if (FObjectTypes == otRegion && Brush != TMIBrush{}) {
    mif.writeln("    Brush(" + std::to_string(Brush.pattern) + "," +
                std::to_string(SwapRedBlue(Brush.fg_color)) + "," +
                std::to_string(SwapRedBlue(Brush.bg_color)) + ")");
  }
  WritePenClause();
}

void TGISWriterMIF::WritePenClause() {
  if (CompactMIF || Pen == TMIPen{}) return;
  FOutMIF->writeln("    Pen(" + std::to_string(Pen.Width) + "," + std::to_string(Pen.pattern) +
                   "," + std::to_string(SwapRedBlue(Pen.Color)) + ")");
}

void TGISWriterMIF::WriteLineObject(double X1, double Y1, double X2, double Y2) {
  FOutMIF->writeln("Line " + PointText(X1, Y1) + " " + PointText(X2, Y2));
  WritePenClause();
}

void TGISWriterMIF::AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) {
  if (FObjectTypes != otPline) return;
  CheckRecordStart();
  WriteLineObject(X1, Y1, X2, Y2);
  FOutMID->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterMIF::AddLine2(const TFloatPoint& P1, const TFloatPoint& P2,
                             const std::string& Attrib) {
  AddLine(P1.x, P1.y, P2.x, P2.y, Attrib);
}

void TGISWriterMIF::AddPoint(double X, double Y, const std::string& Attrib) {
  if (FObjectTypes != otPoint) return;
  CheckRecordStart();
  FOutMIF->writeln("Point " + PointText(X, Y));
  if (!CompactMIF && Symbol != TMISymbol{}) {
    FOutMIF->writeln("    Symbol(" + std::to_string(Symbol.Shape) + "," +
                     std::to_string(SwapRedBlue(Symbol.Color)) + "," + std::to_string(Symbol.Size) +
                     ")");
  }
  FOutMID->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterMIF::ReleaseFiles() noexcept {
  FOutMIF.reset();
  FOutMID.reset();
}

void TGISWriterMIF::Close() {
  if (!Fopen) return;
  TGISWriter::Close();
  Fopen = false;
  try {
    if (FOutMIF) FOutMIF->Close();
    if (FOutMID) FOutMID->Close();
  } catch (...) {
    ReleaseFiles();
    DeleteFiles(FileName, {".mif", ".mid"});
    throw;
  }
  ReleaseFiles();
}

void TGISWriterMIF::Drop() {
  ReleaseFiles();
  if (FFilesCreated) DeleteFiles(FileName, {".mif", ".mid"});
  TGISWriter::Drop();
}

TGISWriterMIF8::TGISWriterMIF8() {
  SetCodepage(kCodePageUtf8);
}

bool TGISWriterMIF8::AcceptsCodepage(std::uint16_t Value) const {
  return Value == kCodePageUtf8;
}

// ---- CSV -------------------------------------------------------------------------------------

TGISWriterCSV::~TGISWriterCSV() {
  FinishOnDestroy();
}

void TGISWriterCSV::StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FOutCSV = std::make_unique<TTextFileWriter>(FileName + ".csv", FCodepage, false);
  FFilesCreated = true;
}

void TGISWriterCSV::AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                             std::uint8_t decimals) {
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  FOutCSV->write(QuoteAttribute(FieldName));
  if (FWrittenFields < FNumFields) {
    FOutCSV->write(",");
  } else {
    FOutCSV->writeln("");
  }
}

void TGISWriterCSV::WriteRecord(const std::string& Attrib) {
  FOutCSV->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterCSV::StartObject(std::int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  WriteRecord(Attrib);
}

void TGISWriterCSV::AddLine(double /*X1*/, double /*Y1*/, double /*X2*/, double /*Y2*/,
                            const std::string& Attrib) {
  CheckRecordStart();
  WriteRecord(Attrib);
}

void TGISWriterCSV::AddLine2(const TFloatPoint& /*P1*/, const TFloatPoint& /*P2*/,
                             const std::string& Attrib) {
  CheckRecordStart();
  WriteRecord(Attrib);
}

void TGISWriterCSV::AddPoint(double /*X*/, double /*Y*/, const std::string& Attrib) {
  CheckRecordStart();
  WriteRecord(Attrib);
}

void TGISWriterCSV::Close() {
  if (!Fopen) return;
  TGISWriter::Close();
  Fopen = false;
  std::unique_ptr<TTextFileWriter> file = std::move(FOutCSV);
  try {
    if (file) file->Close();
  } catch (...) {
    file.reset();
    DeleteFiles(FileName, {".csv"});
    throw;
  }
}

void TGISWriterCSV::Drop() {
  FOutCSV.reset();
  if (FFilesCreated) DeleteFiles(FileName, {".csv"});
  TGISWriter::Drop();
}

}  // namespace kvnet
