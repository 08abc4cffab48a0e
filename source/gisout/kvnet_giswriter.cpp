#include "gisout/kvnet_giswriter.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <numbers>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_io.h"
#include "gisout/kvnet_giswriterarray.h"
#include "gisout/kvnet_giswritermif.h"
#include "gisout/kvnet_giswritershp.h"

namespace kvnet {

namespace {

// The 4-byte float 1e38 widened to double: the start of a running minimum (and, negated, of a
// running maximum).
const double kBoundStart = static_cast<double>(1e38f);

constexpr double kDegToRad = std::numbers::pi / 180;

// More points than this in one densified section is a setting error, not a wish.
constexpr std::int64_t kMaxDensifiedPoints = 50'000'000;

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

double ClampUnit(double v) {
  return std::clamp(v, -1.0, 1.0);
}

// Central angle between two points given in degrees (x longitude, y latitude), in radians.
double CentralAngle(const TFloatPoint& p1, const TFloatPoint& p2) {
  const double phi1 = p1.y * kDegToRad;
  const double phi2 = p2.y * kDegToRad;
  const double dphi = std::sin((phi1 - phi2) / 2);
  const double dlambda = std::sin((p1.x - p2.x) * kDegToRad / 2);
  const double h = dphi * dphi + std::cos(phi1) * std::cos(phi2) * dlambda * dlambda;
  return 2 * std::asin(std::min(1.0, std::sqrt(h)));
}

std::int64_t InsertCount(const TFloatPoint& p1, const TFloatPoint& p2, double stepKm) {
  const double steps = CentralAngle(p1, p2) * kEarthRadiusKm / stepKm;
  if (!std::isfinite(steps) || steps > static_cast<double>(kMaxDensifiedPoints)) {
    throw EInvalidParameter(
        Format("GreatCircleDist %g km cannot densify the section from (%g %g) to (%g %g)", stepKm,
               p1.x, p1.y, p2.x, p2.y));
  }
  return static_cast<std::int64_t>(steps);
}

// Writes n points between p1 and p2 along the great circle to out[0..n-1].
void InsertGreatCircle(const TFloatPoint& p1, const TFloatPoint& p2, std::int64_t n,
                       TFloatPoint* out) {
  const double phi1 = p1.y * kDegToRad;
  const double lambda1 = p1.x * kDegToRad;
  const double phi2 = p2.y * kDegToRad;
  const double lambda2 = p2.x * kDegToRad;
  const double d = CentralAngle(p1, p2);
  const double denominator = std::sin(d) * std::cos(phi1);
  double tc;
  if (denominator == 0) {
    tc = phi1 > 0 ? std::numbers::pi : 0;  // from a pole every course runs along a meridian
  } else {
    tc = std::acos(ClampUnit((std::sin(phi2) - std::sin(phi1) * std::cos(d)) / denominator));
  }
  if (std::sin(lambda2 - lambda1) > 0) tc = 2 * std::numbers::pi - tc;
  for (std::int64_t k = 1; k <= n; ++k) {
    const double f = d * static_cast<double>(k) / static_cast<double>(n + 1);
    const double phi = std::asin(
        ClampUnit(std::sin(phi1) * std::cos(f) + std::cos(phi1) * std::sin(f) * std::cos(tc)));
    const double dlambda = std::atan2(std::sin(tc) * std::sin(f) * std::cos(phi1),
                                      std::cos(f) - std::sin(phi1) * std::sin(phi));
    double lambda = std::fmod(lambda1 - dlambda + std::numbers::pi, 2 * std::numbers::pi);
    if (lambda < 0) lambda += 2 * std::numbers::pi;
    lambda -= std::numbers::pi;
    out[k - 1] = TFloatPoint{lambda / kDegToRad, phi / kDegToRad};
  }
}

// s with separator inserted before each of the given positions that s reaches.
std::string InsertSeparators(std::string_view s,
                             std::initializer_list<std::pair<std::size_t, char>> marks) {
  std::string out;
  out.reserve(s.size() + marks.size());
  std::size_t from = 0;
  for (const auto& [position, separator] : marks) {
    if (position > s.size()) break;
    out.append(s.substr(from, position - from));
    out += separator;
    from = position;
  }
  out.append(s.substr(std::min(from, s.size())));
  return out;
}

// The general text padded to exactly 16 characters with zeros that keep its value, or a longer
// text when it does not fit.
std::string PadBound(const std::string& text) {
  const auto e = text.find('E');
  std::string mantissa = text.substr(0, e);
  const std::string exponent = e == std::string::npos ? std::string() : text.substr(e);
  if (mantissa.find('.') == std::string::npos) mantissa += '.';
  while (mantissa.size() + exponent.size() < 16)
    mantissa += '0';
  return mantissa + exponent;
}

}  // namespace

TMIPen MakePen(std::int32_t width, std::int32_t pattern, std::uint32_t color) {
  return TMIPen{width, pattern, color};
}

TMIBrush MakeBrush(std::int32_t pattern, std::uint32_t fgColor, std::uint32_t bgColor) {
  return TMIBrush{pattern, fgColor, bgColor};
}

std::string DateToISO(std::string_view s) {
  return InsertSeparators(s, {{4, '-'}, {6, '-'}});
}

std::string DateTimeToISO(std::string_view s) {
  return InsertSeparators(s, {{4, '-'}, {6, '-'}, {8, 'T'}, {10, ':'}, {12, ':'}, {14, '.'}});
}

std::string TimeToISO(std::string_view s) {
  return InsertSeparators(s, {{2, ':'}, {4, ':'}, {6, '.'}});
}

bool IsTrueText(std::string_view s) {
  return !s.empty() && std::string_view("TYty1").find(s.front()) != std::string_view::npos;
}

std::string FormatBound16(double x) {
  if (!std::isfinite(x)) x = 0;  // no coordinate can be written as a bound that is no number
  // Fewer significant digits until the padded text fits the 16 characters.
  for (int precision = 15; precision > 1; --precision) {
    std::string text = PadBound(FormatGeneral(x, precision));
    if (text.size() == 16) return text;
  }
  return PadBound(FormatGeneral(x, 1)).substr(0, 16);
}

std::string QuoteAttribute(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  for (const char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

TGISWriter::TGISWriter() : FUncaughtAtCreate(std::uncaught_exceptions()) {
  FLine.Pnt.resize(2);
  FLine.Count = 2;
  SetCodepage(SystemCodePage());
}

TGISWriter::~TGISWriter() = default;

std::unique_ptr<TGISWriter> TGISWriter::GetGISObject(TGISFormat Inp) {
  switch (Inp) {
    case gfDBF:
      return std::make_unique<TGISWriterDBF>();
    case gfSHP:
      return std::make_unique<TGISWriterSHP>();
    case gfCSV:
      return std::make_unique<TGISWriterCSV>();
    case gfArray:
      return std::make_unique<TGISWriterArray>();
    case gfMIF8:
      return std::make_unique<TGISWriterMIF8>();
    case gfGML2:
    case gfKML2:
    case gfGeoJSON:
    case gfGPX:
      throw EInvalidParameter(
          Format("No writer for output format %d in this build", static_cast<int>(Inp)));
    default:
      // MIF, and the MapInfo-library formats whose libraries are not loaded.
      return std::make_unique<TGISWriterMIF>();
  }
}

bool TGISWriter::AcceptsCodepage(std::uint16_t Value) const {
  return Value != kCodePageUtf8 && Value != kCodePageUtf16;
}

void TGISWriter::SetCodepage(std::uint16_t Value) {
  if (!AcceptsCodepage(Value)) return;
  if (Value == kCodePageUtf16 || Value == kCodePageUtf8) {
    FEncoding.reset();
  } else {
    FEncoding.emplace(Value);  // raises for a code page the library does not know
  }
  FCodepage = Value;
}

bool TGISWriter::GetFileIsFull() {
  if (NextFileCheck == -1) NextFileCheck = 10000;
  return fFileIsFull;
}

void TGISWriter::SetOptimizePLinesSections(bool Value) {
  if (Value != FOptimizePLinesSections && FWrittenParts != FNumParts) {
    throw Exception(
        "Can not change the OptimizePLinesSections property during processing sections.");
  }
  FOptimizePLinesSections = Value;
}

void TGISWriter::StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) {
  if (NumFields < 0 || NumFields > 65535) {
    throw EInvalidParameter(Format("Invalid number of fields: %d", NumFields));
  }
  if (ObjectTypes > otNone) {
    throw EInvalidParameter(Format("Invalid object type: %d", static_cast<int>(ObjectTypes)));
  }
  FNumFields = NumFields;
  FObjectTypes = ObjectTypes;
  FWrittenFields = 0;
  FWrittenRecords = 0;
  FNumParts = 0;
  FWrittenParts = 0;
  FFreeIndex = 0;
  FFilesCreated = false;
  FBroken = false;
  FFieldInfo.assign(static_cast<std::size_t>(NumFields) + 1, TFieldInfo{});
  Fopen = true;
  fFileIsFull = false;
  FXMinG = kBoundStart;
  FYMinG = kBoundStart;
  FXMaxG = -kBoundStart;
  FYMaxG = -kBoundStart;
}

void TGISWriter::AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                          std::uint8_t decimals) {
  if (FWrittenFields >= FNumFields) {
    throw Exception("You are trying to add more fields than declared");
  }
  if (Field > gfInt64)
    throw EInvalidParameter(Format("Invalid field type: %d", static_cast<int>(Field)));
  ++FWrittenFields;
  FFieldInfo[static_cast<std::size_t>(FWrittenFields)] =
      TFieldInfo{Field, Width, decimals, FieldName};
}

void TGISWriter::CheckNoPendingObject() const {
  if (ObjectIncomplete()) {
    throw Exception(Format("The object being written has received %d of its %d sections",
                           FWrittenParts, FNumParts));
  }
}

void TGISWriter::CheckRecordStart() const {
  if (!Fopen) throw Exception("The writer is not open: call StartHeader first");
  if (FWrittenFields < FNumFields) {
    throw Exception("You are trying to add objects before all fields has been added");
  }
  CheckNoPendingObject();
}

void TGISWriter::StartObject(std::int32_t NumParts, const std::string& /*Attrib*/) {
  FNumParts = NumParts;
  FWrittenParts = 0;
}

void TGISWriter::WriteSection(std::int32_t /*Index*/, const TFloatPointArrayEx& section) {
  if (section.Count <= 0) throw Exception("WriteSection requires that Segments.count>0");
  ++FWrittenParts;
}

void TGISWriter::AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) {
  if (FObjectTypes != otPline) return;
  AddObject(1, false, Attrib);
  FLine.Pnt.resize(2);
  FLine.Pnt[0] = TFloatPoint{X1, Y1};
  FLine.Pnt[1] = TFloatPoint{X2, Y2};
  FLine.Count = 2;
  AddSection(0, FLine);
}

void TGISWriter::AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) {
  AddLine(P1.x, P1.y, P2.x, P2.y, Attrib);
}

void TGISWriter::AddObject(std::int32_t NumParts, bool multiPolygon, const std::string& Attrib) {
  CheckRecordStart();
  if (NumParts < 0) throw EInvalidParameter(Format("Invalid number of sections: %d", NumParts));
  FmultiPolygon = multiPolygon;
  if (!FOptimizePLinesSections || NumParts < 2 || FObjectTypes != otPline) {
    StartObject(NumParts, Attrib);
  } else {
    StartObjectOptimized(NumParts, Attrib);
  }
}

void TGISWriter::StartObjectOptimized(std::int32_t NumParts, const std::string& Attrib) {
  FNumParts = NumParts;
  FOptimizedParts = NumParts;
  FAttrib = Attrib;
  FWrittenParts = 0;
  FFreeIndex = 0;
}

void TGISWriter::CheckSection(const TFloatPointArrayEx& SegList) const {
  if (FWrittenParts >= FNumParts) {
    throw Exception(Format("No section expected: the object announced %d sections", FNumParts));
  }
  if (SegList.Count <= 0) throw Exception("WriteSection requires that Segments.count>0");
  if (static_cast<std::size_t>(SegList.Count) > SegList.Pnt.size()) {
    throw EInvalidParameter(Format("Section count %d exceeds its %d points", SegList.Count,
                                   static_cast<std::int64_t>(SegList.Pnt.size())));
  }
  if (FObjectTypes == otRegion) {
    if (SegList.Count < 4) throw Exception("Region objects must have >=4 points");
    if (!(SegList.Pnt[0] == SegList.Pnt[static_cast<std::size_t>(SegList.Count) - 1])) {
      throw Exception("Region objects must be closed");
    }
  }
}

void TGISWriter::AddSection(std::int32_t Index, TFloatPointArrayEx& SegList) {
  CheckSection(SegList);
  if (!FOptimizePLinesSections || FNumParts < 2 || FObjectTypes != otPline) {
    Densify(SegList);
    WriteSection(Index, SegList);
    return;
  }
  AddSectionOptimized(SegList);
  if (FWrittenParts < FNumParts) return;
  // Every section arrived: the record starts now with the merged parts. The object counts as
  // complete before StartObject, so a record the writer refuses leaves no object pending.
  const std::int32_t parts = FOptimizedParts;
  const std::int32_t collected = FFreeIndex;
  FNumParts = 0;
  FWrittenParts = 0;
  FFreeIndex = 0;
  StartObject(parts, FAttrib);
  for (std::int32_t i = 0; i < collected; ++i) {
    TFloatPointArrayEx& part = FSegments[static_cast<std::size_t>(i)];
    Densify(part);
    WriteSection(0, part);
  }
}

void TGISWriter::AddSectionOptimized(const TFloatPointArrayEx& section) {
  ++FWrittenParts;
  const auto count = static_cast<std::size_t>(section.Count);
  if (FFreeIndex > 0) {
    TFloatPointArrayEx& last = FSegments[static_cast<std::size_t>(FFreeIndex) - 1];
    if (section.Pnt[0] == last.Pnt[static_cast<std::size_t>(last.Count) - 1]) {
      const auto used = static_cast<std::size_t>(last.Count);
      if (last.Pnt.size() < used + count - 1) last.Pnt.resize(used + count - 1);
      std::copy(section.Pnt.begin() + 1, section.Pnt.begin() + static_cast<std::ptrdiff_t>(count),
                last.Pnt.begin() + static_cast<std::ptrdiff_t>(used));
      last.Count += section.Count - 1;
      --FOptimizedParts;
      return;
    }
  }
  if (FFreeIndex >= static_cast<std::int32_t>(FSegments.size())) {
    FSegments.resize(std::max<std::size_t>(static_cast<std::size_t>(FNumParts),
                                           static_cast<std::size_t>(FFreeIndex) + 1));
  }
  TFloatPointArrayEx& part = FSegments[static_cast<std::size_t>(FFreeIndex)];
  if (part.Pnt.size() < count) part.Pnt.resize(count);
  std::copy(section.Pnt.begin(), section.Pnt.begin() + static_cast<std::ptrdiff_t>(count),
            part.Pnt.begin());
  part.Count = section.Count;
  ++FFreeIndex;
}

void TGISWriter::AddSection1(std::int32_t Index, const TFloatPointArrayEx2& SegList,
                             bool swapdirection) {
  const std::int32_t count = SegList.Last + 1;
  if (count < 0 || static_cast<std::size_t>(count) > SegList.Pnt.size()) {
    throw EInvalidParameter(Format("Section end %d exceeds its %d points", SegList.Last,
                                   static_cast<std::int64_t>(SegList.Pnt.size())));
  }
  FSection.Pnt.resize(std::max<std::size_t>(FSection.Pnt.size(), static_cast<std::size_t>(count)));
  const auto end = SegList.Pnt.begin() + count;
  if (swapdirection) {
    std::reverse_copy(SegList.Pnt.begin(), end, FSection.Pnt.begin());
  } else {
    std::copy(SegList.Pnt.begin(), end, FSection.Pnt.begin());
  }
  FSection.Count = count;
  AddSection(Index, FSection);
}

void TGISWriter::AddSection2(std::int32_t Index, double X1, double Y1, double X2, double Y2) {
  FLine.Pnt.resize(2);
  FLine.Pnt[0] = TFloatPoint{X1, Y1};
  FLine.Pnt[1] = TFloatPoint{X2, Y2};
  FLine.Count = 2;
  AddSection(Index, FLine);
}

void TGISWriter::AddSection3(std::int32_t Index, const TFloatPoint& P1, const TFloatPoint& P2) {
  AddSection2(Index, P1.x, P1.y, P2.x, P2.y);
}

void TGISWriter::Densify(TFloatPointArrayEx& section) const {
  if (!(GreatCircleDist > 0) || section.Count < 2) return;
  const auto count = static_cast<std::size_t>(section.Count);
  std::int64_t total = 0;
  for (std::size_t i = 0; i + 1 < count; ++i) {
    total += InsertCount(section.Pnt[i], section.Pnt[i + 1], GreatCircleDist);
    if (total > kMaxDensifiedPoints) {
      throw EInvalidParameter(
          Format("GreatCircleDist %g km would add more than %d points to one section",
                 GreatCircleDist, kMaxDensifiedPoints));
    }
  }
  if (total == 0) return;
  const std::size_t newCount = count + static_cast<std::size_t>(total);
  if (section.Pnt.size() < newCount) section.Pnt.resize(newCount);
  // From the last pair down: point i moves up by the points inserted before it, and the points
  // between i - 1 and i follow point i - 1.
  auto shift = static_cast<std::size_t>(total);
  for (std::size_t i = count - 1; i > 0; --i) {
    const TFloatPoint before = section.Pnt[i - 1];
    const TFloatPoint point = section.Pnt[i];
    const std::int64_t n = InsertCount(before, point, GreatCircleDist);
    section.Pnt[i + shift] = point;
    shift -= static_cast<std::size_t>(n);
    InsertGreatCircle(before, point, n, section.Pnt.data() + (i - 1 + shift + 1));
  }
  section.Count = static_cast<std::int32_t>(newCount);
}

void TGISWriter::SplitAttributes(std::string_view Attrib, bool checkCount) {
  std::size_t n = 0;
  const auto next = [&]() -> std::string& {
    if (n == FSL.size()) FSL.emplace_back();
    std::string& value = FSL[n++];
    value.clear();
    return value;
  };
  const std::size_t length = Attrib.size();
  std::size_t i = 0;
  // Blanks are the characters up to ' ', NUL included (a NUL must not stop the scan).
  while (i < length && IsBlank(Attrib[i]))
    ++i;
  while (i < length) {
    std::string& value = next();
    if (Attrib[i] == '"') {
      ++i;
      while (i < length) {
        if (Attrib[i] == '"') {
          if (i + 1 < length && Attrib[i + 1] == '"') {
            value += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += Attrib[i++];
      }
    } else {
      const std::size_t start = i;
      while (i < length && Attrib[i] != ',' && !IsBlank(Attrib[i]))
        ++i;
      value.assign(Attrib.substr(start, i - start));
    }
    while (i < length && IsBlank(Attrib[i]))
      ++i;
    if (i < length && Attrib[i] == ',') {
      if (i == length - 1) next();
      ++i;
      while (i < length && IsBlank(Attrib[i]))
        ++i;
    }
  }
  FSLCount = static_cast<std::int32_t>(n);
  if (checkCount && FSLCount != FNumFields) {
    throw Exception(
        Format("Number of values must match number of fields. NumVal = %d, NumFields = %d, string "
               "= \"%s\"",
               FSLCount, FNumFields, Attrib));
  }
}

TGISField TGISWriter::SL2GISField(const std::vector<std::string>& SL, std::int32_t& width) const {
  width = 1;
  bool integer = true;
  for (const std::string& value : SL) {
    width = std::max(width, static_cast<std::int32_t>(TextWidth(value, FCodepage)));
    if (!integer) continue;
    const std::string trimmed = Trim(value);
    std::int64_t parsed = 0;
    integer = !trimmed.empty() && trimmed.front() != '0' && TryParseInt64(trimmed, parsed) &&
              parsed >= INT32_MIN && parsed <= INT32_MAX;
  }
  return integer ? gfInteger : gfChar;
}

void TGISWriter::UpdateBounds(double x, double y) {
  if (x < FXMinG) FXMinG = x;
  if (x > FXMaxG) FXMaxG = x;
  if (y < FYMinG) FYMinG = y;
  if (y > FYMaxG) FYMaxG = y;
}

void TGISWriter::PatchBounds(const std::string& extension, std::string_view keyXMin,
                             std::string_view keyYMin, std::string_view keyXMax,
                             std::string_view keyYMax) {
  const std::string_view keys[4] = {keyXMin, keyYMin, keyXMax, keyYMax};
  const double bounds[4] = {FXMinG, FYMinG, FXMaxG, FYMaxG};
  TKVFileStream file(FileName + extension, fmOpenReadWrite);
  const std::int64_t size = file.Size();
  std::vector<char> chunk(1 << 20);
  std::int64_t position = 0;  // where the search for the current key goes on
  for (int k = 0; k < 4; ++k) {
    const std::string_view key = keys[k];
    if (key.empty()) return;
    bool found = false;
    while (!found && position + static_cast<std::int64_t>(key.size()) <= size) {
      file.SetPosition(position);
      const std::int32_t got = file.Read(chunk.data(), static_cast<std::int32_t>(chunk.size()));
      if (got < static_cast<std::int32_t>(key.size())) return;
      const std::string_view text(chunk.data(), static_cast<std::size_t>(got));
      const auto at = text.find(key);
      if (at == std::string_view::npos) {
        // Keep the tail that may hold the start of the key.
        position += got - static_cast<std::int64_t>(key.size()) + 1;
        continue;
      }
      const std::string bound = FormatBound16(bounds[k]);
      file.SetPosition(position + static_cast<std::int64_t>(at + key.size()));
      file.WriteBuffer(bound.data(), static_cast<std::int64_t>(bound.size()));
      position += static_cast<std::int64_t>(at + key.size() + bound.size());
      found = true;
    }
    if (!found) return;
  }
}

void TGISWriter::Close() {
  if (FBroken) throw Exception("A record was left half written; the table cannot be completed");
  if (FWrittenFields < FNumFields) {
    throw Exception(
        Format("The table was closed after %d of its %d fields", FWrittenFields, FNumFields));
  }
  CheckNoPendingObject();
  FFieldInfo.clear();
}

void TGISWriter::Drop() {
  Fopen = false;
  FFilesCreated = false;
  FBroken = false;
  FFieldInfo.clear();
  FNumParts = 0;
  FWrittenParts = 0;
}

void TGISWriter::DeleteFiles(const std::string& fileName, std::initializer_list<const char*> exts) {
  for (const char* ext : exts) {
    std::error_code ec;
    std::filesystem::remove(fileName + ext, ec);
  }
}

void TGISWriter::FinishOnDestroy() noexcept {
  if (!Fopen) return;
  try {
    if (std::uncaught_exceptions() > FUncaughtAtCreate || ObjectIncomplete() || FBroken) {
      Drop();
    } else {
      Close();
    }
  } catch (...) {
    try {
      Drop();
    } catch (...) {  // NOLINT(bugprone-empty-catch): nothing more can be done in a destructor
    }
  }
}

}  // namespace kvnet
