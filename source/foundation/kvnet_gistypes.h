// Enumerations shared by the GIS readers and writers: attribute field types, output formats and
// object kinds. The ordinal of each value is what files and callers store and pass.
#pragma once

#include <cstdint>
#include <string>

namespace kvnet {

enum TGISField : std::uint8_t {
  gfChar = 0,
  gfInteger,
  gfSmallInt,
  gfDecimal,
  gfFloat,
  gfDate,
  gfLogical,
  gfTime,
  gfDateTime,
  gfInt64
};

enum TGISFormat : std::uint8_t {
  gfMIF = 0,
  gfDBF,
  gfSHP,
  gfCSV,
  gfArray,
  gfMITAB,
  gfGML2,
  gfKML2,
  gfGeoJSON,
  gfMFAL,
  gfMIF8,
  gfEFAL,
  gfEFALx,
  gfGPX
};

enum TObjectTypes : std::uint8_t { otPline = 0, otRegion, otPoint, otNone };

// Radius of the sphere used for great-circle distances, in kilometres.
inline constexpr double kEarthRadiusKm = 6378.13;

// The projection text (WKT) of WGS 84 longitude/latitude, the default for networks in degrees
// and for shape files.
inline constexpr const char* kWgs84Prj =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]";
// The CoordSys clause of WGS 84 longitude/latitude.
inline constexpr const char* kWgs84CoordSys = "CoordSys Earth Projection 1, 104";

// One attribute column of a layer: its type, width and decimals as declared, and its name.
struct TFieldInfo {
  TGISField FieldType = gfChar;
  std::uint8_t Width = 0;
  std::uint8_t decimals = 0;
  std::string Name;
  friend bool operator==(const TFieldInfo&, const TFieldInfo&) = default;
};

}  // namespace kvnet
