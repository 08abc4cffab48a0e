// Enumerations shared by the GIS readers and writers: attribute field types, output formats and
// object kinds. The ordinal of each value is what files and callers store and pass.
#pragma once

#include <cstdint>

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

}  // namespace kvnet
