#include "gisout/kvnet_giswriterarray.h"

#include <chrono>
#include <cmath>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"

namespace kvnet {

namespace {

const double kBoundStart = static_cast<double>(1e38f);

// The number written by the digits text[from, from + count), or -1 when one is no digit.
std::int32_t Digits(std::string_view text, std::size_t from, std::size_t count) {
  std::int32_t value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

double DateOf(std::string_view text, const std::string& value) {
  const std::int32_t year = Digits(text, 0, 4);
  const std::int32_t month = Digits(text, 4, 2);
  const std::int32_t day = Digits(text, 6, 2);
  if (year < 0 || month < 0 || day < 0) {
    throw Exception(Format("'%s' is not a valid date", value));
  }
  return EncodeGISDate(year, month, day, value);
}

double TimeOf(std::string_view text, const std::string& value) {
  const std::int32_t hour = Digits(text, 0, 2);
  const std::int32_t minute = Digits(text, 2, 2);
  const std::int32_t second = Digits(text, 4, 2);
  const std::int32_t millisecond = Digits(text, 6, 3);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0) {
    throw Exception(Format("'%s' is not a valid time", value));
  }
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
}

TGISValue ConvertValue(const TFieldInfo& field, const std::string& value) {
  switch (field.FieldType) {
    case gfChar:
      return value;
    case gfDecimal:
    case gfFloat: {
      if (Trim(value).empty()) return std::monostate{};
      double number = 0;
      if (!TryParseFloat(value, number)) {
        throw Exception(Format("'%s' is not a valid floating point value", value));
      }
      return number;
    }
    case gfDate:
      if (value.size() != 8) return std::int32_t{1};
      return TGISDateTime{DateOf(value, value)};
    case gfTime:
      if (value.size() != 9) return std::int32_t{1};
      return TGISDateTime{TimeOf(value, value)};
    case gfDateTime:
      if (value.size() != 17) return std::int32_t{1};
      return TGISDateTime{DateOf(value, value) + TimeOf(std::string_view(value).substr(8), value)};
    case gfLogical:
      return IsTrueText(value);
    case gfInteger:
    case gfSmallInt:
    case gfInt64: {
      if (Trim(value).empty()) return std::monostate{};
      std::int64_t number = 0;
      if (!TryParseInt64(value, number) ||
          (field.FieldType != gfInt64 && (number < INT32_MIN || number > INT32_MAX))) {
        throw Exception(Format("'%s' is not a valid integer value", value));
      }
      if (field.FieldType == gfInt64) return number;
      return static_cast<std::int32_t>(number);
    }
  }
  return value;
}

}  // namespace

void TGISArray::Clear() {
  Rec.clear();
  Field.clear();
  RecCount = 0;
}

double EncodeGISDate(std::int32_t year, std::int32_t month, std::int32_t day,
                     const std::string& text) {
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(year),
                            std::chrono::month(static_cast<unsigned>(month)),
                            std::chrono::day(static_cast<unsigned>(day))};
  if (year < 1 || month < 1 || day < 1 || !date.ok()) {
    throw Exception(Format("'%s' is not a valid date", text));
  }
  constexpr year_month_day kEpoch{std::chrono::year(1899), December, std::chrono::day(30)};
  return static_cast<double>((sys_days(date) - sys_days(kEpoch)).count());
}

std::string GISValueToText(const TGISValue& value) {
  struct TVisitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(double d) const { return FormatGeneral(d); }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(std::int32_t i) const { return std::to_string(i); }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(const TGISDateTime& t) const {
      using namespace std::chrono;
      const double whole = std::floor(t.days);
      std::string text;
      if (whole != 0 || t.days == 0) {
        const year_month_day date{sys_days(year(1899) / December / 30) +
                                  days(static_cast<std::int64_t>(whole))};
        text = Format("%.4d-%.2d-%.2d", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
      }
      const auto ms = static_cast<std::int64_t>(std::llround((t.days - whole) * 86400000.0));
      if (ms != 0) {
        if (!text.empty()) text += ' ';
        text +=
            Format("%.2d:%.2d:%.2d.%.3d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
      }
      return text;
    }
  };
  return std::visit(TVisitor{}, value);
}

TGISWriterArray::TGISWriterArray() : FOwnArray(std::make_unique<TGISArray>()) {
  GISarray = FOwnArray.get();
}

TGISWriterArray::~TGISWriterArray() {
  FinishOnDestroy();
}

TGISArray& TGISWriterArray::Target() const {
  if (GISarray == nullptr) throw EInvalidParameter("The array writer has no array to fill");
  return *GISarray;
}

void TGISWriterArray::StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISArray& array = Target();
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  array.Clear();
  array.Field.resize(static_cast<std::size_t>(NumFields));
  array.OT = ObjectTypes;
  array.MBR = TFloatRect{kBoundStart, kBoundStart, -kBoundStart, -kBoundStart};
  array.RecCount = 0;
  array.EPSG = epsg;
  array.Coordsys = CoordSys;
  array.PRJ = PRJ;
}

void TGISWriterArray::AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                               std::uint8_t decimals) {
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  Target().Field[static_cast<std::size_t>(FWrittenFields) - 1] =
      FFieldInfo[static_cast<std::size_t>(FWrittenFields)];
}

TRec& TGISWriterArray::NewRecord(const std::string& Attrib) {
  TGISArray& array = Target();
  SplitAttributes(Attrib);
  const std::int32_t count = array.RecCount + 1;
  const auto length = static_cast<std::int64_t>(array.Rec.size());
  if (count >= length - 1) {
    const std::int64_t grown = std::llround(0.3 * static_cast<double>(length - 1));
    const std::int64_t step = grown > 50 ? grown : 50;
    array.Rec.resize(static_cast<std::size_t>(length - 1 + step));
  }
  TRec& rec = array.Rec[static_cast<std::size_t>(count) - 1];
  rec.Attr.resize(static_cast<std::size_t>(FNumFields));
  for (std::int32_t i = 0; i < FNumFields; ++i) {
    rec.Attr[static_cast<std::size_t>(i)] =
        ConvertValue(FFieldInfo[static_cast<std::size_t>(i) + 1], FSL[static_cast<std::size_t>(i)]);
  }
  array.RecCount = count;
  ++FWrittenRecords;
  return rec;
}

void TGISWriterArray::Widen(const TFloatPoint& p) {
  TFloatRect& mbr = GISarray->MBR;
  if (p.x < mbr.xmin) mbr.xmin = p.x;
  if (p.y < mbr.ymin) mbr.ymin = p.y;
  if (p.x > mbr.xmax) mbr.xmax = p.x;
  if (p.y > mbr.ymax) mbr.ymax = p.y;
}

void TGISWriterArray::AddPoint(double X, double Y, const std::string& Attrib) {
  if (FObjectTypes != otPoint) return;
  CheckRecordStart();
  TRec& rec = NewRecord(Attrib);
  rec.Coord.resize(1);
  rec.Coord[0].assign(1, TFloatPoint{X, Y});
  Widen(TFloatPoint{X, Y});
}

void TGISWriterArray::StartObject(std::int32_t NumParts, const std::string& Attrib) {
  TRec& rec = NewRecord(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  rec.Coord.resize(static_cast<std::size_t>(NumParts));
  for (auto& part : rec.Coord)
    part.clear();
  Fpartsindex = -1;
}

void TGISWriterArray::WriteSection(std::int32_t Index, const TFloatPointArrayEx& section) {
  TGISWriter::WriteSection(Index, section);
  TGISArray& array = Target();
  ++Fpartsindex;
  auto& part = array.Rec[static_cast<std::size_t>(array.RecCount) - 1]
                   .Coord[static_cast<std::size_t>(Fpartsindex)];
  part.assign(section.Pnt.begin(), section.Pnt.begin() + section.Count);
  for (const TFloatPoint& p : part)
    Widen(p);
}

void TGISWriterArray::Close() {
  if (!Fopen) return;
  TGISWriter::Close();
  Fopen = false;
}

void TGISWriterArray::Drop() {
  TGISWriter::Drop();
  if (GISarray != nullptr) GISarray->Clear();
}

}  // namespace kvnet
