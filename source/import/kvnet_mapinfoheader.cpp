#include "import/kvnet_mapinfoheader.h"

#include <bit>
#include <cmath>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"

namespace kvnet {

namespace {

// Header fields of the .map (little-endian).
constexpr std::size_t kOriginFlagPos = 352;
constexpr std::size_t kQuadrantPos = 353;
constexpr std::size_t kDatumPos = 362;
constexpr std::size_t kProjectionPos = 365;
constexpr std::size_t kEllipsoidPos = 366;
constexpr std::size_t kUnitPos = 367;
constexpr std::size_t kXScalePos = 368;
constexpr std::size_t kYScalePos = 376;
constexpr std::size_t kXDisplPos = 384;
constexpr std::size_t kYDisplPos = 392;
constexpr std::size_t kParameterPos = 400;  // parameters 1..6
constexpr std::size_t kDatumValuesPos = 448;
constexpr std::size_t kParameter7Pos = 616;

struct TDatumRow {
  std::int32_t datum;
  std::int32_t ellipsoid;
  TDatumValues values;
};

// MapInfo's datum numbers with their ellipsoids and parameters, in datum-number order. Only the
// datums whose numbers and parameters are known for certain are listed; a header that carries
// another datum as parameters (datum number 0) is described by its parameters instead.
constexpr TDatumRow kDatums[] = {
    {1, 6, {-162, -12, 206, 0, 0, 0, 0, 0}},     // Adindan
    {12, 2, {-133, -48, 148, 0, 0, 0, 0, 0}},    // Australian Geodetic 1966
    {13, 2, {-134, -48, 149, 0, 0, 0, 0, 0}},    // Australian Geodetic 1984
    {28, 4, {-87, -98, -121, 0, 0, 0, 0, 0}},    // European 1950
    {29, 4, {-86, -98, -119, 0, 0, 0, 0, 0}},    // European 1979
    {31, 4, {84, -22, 209, 0, 0, 0, 0, 0}},      // Geodetic Datum 1949 (New Zealand)
    {33, 0, {0, 0, 0, 0, 0, 0, 0, 0}},           // Geodetic Reference System 1980
    {62, 7, {-8, 160, 176, 0, 0, 0, 0, 0}},      // North American 1927, continental US
    {63, 7, {-5, 135, 172, 0, 0, 0, 0, 0}},      // North American 1927, Alaska
    {64, 7, {-4, 154, 178, 0, 0, 0, 0, 0}},      // North American 1927, Bahamas
    {65, 7, {1, 140, 165, 0, 0, 0, 0, 0}},       // North American 1927, San Salvador
    {66, 7, {-10, 158, 187, 0, 0, 0, 0, 0}},     // North American 1927, Canada
    {67, 7, {0, 125, 201, 0, 0, 0, 0, 0}},       // North American 1927, Canal Zone
    {68, 7, {-7, 152, 178, 0, 0, 0, 0, 0}},      // North American 1927, Caribbean
    {69, 7, {0, 125, 194, 0, 0, 0, 0, 0}},       // North American 1927, Central America
    {70, 7, {-9, 152, 178, 0, 0, 0, 0, 0}},      // North American 1927, Cuba
    {71, 7, {11, 114, 195, 0, 0, 0, 0, 0}},      // North American 1927, Greenland
    {72, 7, {-12, 130, 190, 0, 0, 0, 0, 0}},     // North American 1927, Mexico
    {74, 0, {0, 0, 0, 0, 0, 0, 0, 0}},           // North American 1983
    {79, 9, {375, -111, 431, 0, 0, 0, 0, 0}},    // Ordnance Survey of Great Britain 1936
    {97, 10, {-128, 481, 664, 0, 0, 0, 0, 0}},   // Tokyo
    {104, 28, {0, 0, 0, 0, 0, 0, 0, 0}},         // WGS 84
    {107, 30, {-168, -60, 320, 0, 0, 0, 0, 0}},  // Nouvelle Triangulation Francaise
    {108, 4, {-83, -96, -113, 0, 0, 0, 0, 0}},   // European 1987
    {115, 0, {0, 0, 0, 0, 0, 0, 0, 0}},          // EUREF 89
    {116, 0, {0, 0, 0, 0, 0, 0, 0, 0}},          // GDA 94
    {117, 0, {0, 0, 0, 0, 0, 0, 0, 0}},          // NZGD 2000
};

std::uint64_t LoadBytes(std::span<const std::uint8_t> bytes, std::size_t pos, int count) {
  std::uint64_t v = 0;
  for (int i = count - 1; i >= 0; --i)
    v = (v << 8) | bytes[pos + static_cast<std::size_t>(i)];
  return v;
}

double LoadDouble(std::span<const std::uint8_t> bytes, std::size_t pos) {
  return std::bit_cast<double>(LoadBytes(bytes, pos, 8));
}

// Map unit codes of the header.
TCoordinateUnit UnitOfCode(std::uint8_t code) {
  switch (code) {
    case 0:
      return cuMiles;
    case 1:
      return cuKm;
    case 2:
      return cuInch;
    case 3:
      return cuFt;
    case 4:
      return cuYard;
    case 5:
      return cuMm;
    case 6:
      return cuCm;
    case 7:
      return cuM;
    case 8:
      return cuSurveyft;
    case 9:
      return cuNmi;
    case 30:
      return cuLink;
    case 31:
      return cuChain;
    case 32:
      return cuRod;
    default:
      return cuDeg;
  }
}

// The name of a unit in CoordSys clauses, with its quotes; empty for units without one.
std::string QuotedUnitName(TCoordinateUnit unit) {
  switch (unit) {
    case cuMm:
      return "\"mm\"";
    case cuCm:
      return "\"cm\"";
    case cuM:
      return "\"m\"";
    case cuKm:
      return "\"km\"";
    case cuInch:
      return "\"in\"";
    case cuLink:
      return "\"link\"";
    case cuFt:
      return "\"ft\"";
    case cuSurveyft:
      return "\"survey ft\"";
    case cuYard:
      return "\"yd\"";
    case cuChain:
      return "\"chain\"";
    case cuRod:
      return "\"rod\"";
    case cuMiles:
      return "\"mi\"";
    case cuNmi:
      return "\"nmi\"";
    default:
      return "";
  }
}

// How many projection parameters the CoordSys clause of a projection lists.
int ParameterCount(int projection) {
  switch (projection) {
    case 2:
    case 26:
      return 2;
    case 4:
    case 5:
    case 28:
    case 29:
      return 3;
    case 18:
    case 25:
    case 27:
    case 30:
    case 31:
    case 33:
      return 4;
    case 8:
    case 20:
    case 21:
    case 22:
    case 23:
    case 24:
    case 34:
      return 5;
    case 3:
    case 6:
    case 7:
    case 9:
    case 19:
    case 32:
      return 6;
    case 35:
      return 7;
    default:
      return projection >= 10 && projection <= 17 ? 1 : 0;
  }
}

// A bound of the coordinate range; tiny magnitudes are rounding noise and written as 0.
double Bound(double value) {
  return std::fabs(value) < 1e-7 ? 0 : value;
}

}  // namespace

std::int32_t MapInfoDatumNumber(std::int32_t ellipsoid, const TDatumValues& values) {
  for (const TDatumRow& row : kDatums) {
    if (row.ellipsoid != ellipsoid) continue;
    bool same = true;
    for (std::size_t i = 0; i < values.size() && same; ++i)
      same = std::fabs(row.values[i] - values[i]) < 1e-10;
    if (same) return row.datum;
  }
  return -1;
}

TMapCoordSys MapHeaderToCoordSys(std::span<const std::uint8_t> header) {
  if (header.size() < kMapHeaderSize) {
    throw Exception(
        Format("A MAP header has %d bytes; %d are needed", header.size(), kMapHeaderSize));
  }
  TMapCoordSys result;
  result.XScale = LoadDouble(header, kXScalePos);
  result.YScale = LoadDouble(header, kYScalePos);
  result.XDispl = LoadDouble(header, kXDisplPos);
  result.YDispl = LoadDouble(header, kYDisplPos);
  if (!std::isfinite(result.XScale) || !std::isfinite(result.YScale) || result.XScale == 0 ||
      result.YScale == 0 || !std::isfinite(result.XDispl) || !std::isfinite(result.YDispl)) {
    throw Exception(
        Format("A MAP header has an invalid coordinate transform (scale %g, %g; "
               "displacement %g, %g)",
               result.XScale, result.YScale, result.XDispl, result.YDispl));
  }
  const std::uint8_t quadrant = header[kQuadrantPos];
  if (quadrant == 2 || quadrant == 3) {
    result.XScale = -result.XScale;
    result.XDispl = -result.XDispl;
  }
  if (quadrant == 3 || quadrant == 4) {
    result.YScale = -result.YScale;
    result.YDispl = -result.YDispl;
  }

  const int projection = header[kProjectionPos];
  const int ellipsoid = header[kEllipsoidPos];
  TDatumValues datumValues{};
  for (std::size_t i = 0; i < datumValues.size(); ++i)
    datumValues[i] = LoadDouble(header, kDatumValuesPos + 8 * i);
  std::int32_t datum = static_cast<std::int16_t>(LoadBytes(header, kDatumPos, 2));
  if (datum == 0) datum = MapInfoDatumNumber(ellipsoid, datumValues);

  std::string& text = result.CoordSys;
  if (projection == 0) {
    text = "CoordSys NonEarth Units ";
  } else if (datum == -1) {
    text = Format("CoordSys Earth Projection %d, ", projection);
    const bool sevenParameters = datumValues[3] != 0 || datumValues[4] != 0 ||
                                 datumValues[5] != 0 || datumValues[6] != 0 || datumValues[7] != 0;
    text += Format(sevenParameters ? "9999, %d" : "999, %d", ellipsoid);
    const std::size_t listed = sevenParameters ? 8 : 3;
    for (std::size_t i = 0; i < listed; ++i)
      text += ", " + FormatGeneral(datumValues[i]);
  } else {
    text = Format("CoordSys Earth Projection %d, %d", projection, datum);
  }

  result.Unit = UnitOfCode(header[kUnitPos]);
  if (projection >= 2) text += ", ";
  if (projection != 1) text += QuotedUnitName(result.Unit);

  const int parameters = ParameterCount(projection);
  for (int k = 1; k <= parameters; ++k) {
    const std::size_t pos =
        k <= 6 ? kParameterPos + 8 * static_cast<std::size_t>(k - 1) : kParameter7Pos;
    text += ", " + FormatGeneral(LoadDouble(header, pos));
  }

  if (projection != 1 || header[kOriginFlagPos] == 8) {
    const double xmin = Bound((-result.XDispl - 1e9) / result.XScale);
    const double ymin = Bound((-result.YDispl - 1e9) / result.YScale);
    const double xmax = Bound((1e9 - result.XDispl) / result.XScale);
    const double ymax = Bound((1e9 - result.YDispl) / result.YScale);
    text += " Bounds (" + FormatGeneral(xmin) + ", " + FormatGeneral(ymin) + ") (" +
            FormatGeneral(xmax) + ", " + FormatGeneral(ymax) + ")";
  }
  return result;
}

}  // namespace kvnet
