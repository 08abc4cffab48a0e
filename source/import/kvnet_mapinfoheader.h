// The coordinate system of a MapInfo native table, taken from the header of its .map file: the
// CoordSys clause that names it in MapInfo's text formats, the coordinate unit, and the transform
// from the integer coordinates stored in the .map to coordinates in that unit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "import/kvnet_import.h"
#include "store/kvnet_coordunit.h"

namespace kvnet {

// The header bytes MapHeaderToCoordSys reads: offsets 0 .. 623 of the .map.
inline constexpr std::size_t kMapHeaderSize = 624;

struct TMapCoordSys {
  std::string CoordSys;
  TCoordinateUnit Unit = cuUnknown;
  // A stored coordinate (ix, iy) is the point ((ix - XDispl) / XScale, (iy - YDispl) / YScale).
  // The quadrant of the header is already applied to the signs.
  double XScale = 1;
  double YScale = 1;
  double XDispl = 0;
  double YDispl = 0;
};

// Reads the coordinate system from the first kMapHeaderSize bytes of a .map. A datum number of 0
// is looked up in the datum table by the ellipsoid and the datum parameters of the header.
// Raises Exception when the header is shorter than kMapHeaderSize or when a scale is 0 or not a
// finite number, or a displacement is not finite.
TMapCoordSys MapHeaderToCoordSys(std::span<const std::uint8_t> header);

// The datum parameters of a MapInfo coordinate system: shifts dx, dy, dz, rotations rx, ry, rz,
// scale and prime meridian.
using TDatumValues = std::array<double, 8>;

// The datum number of the first row of the datum table on this ellipsoid whose eight values each
// differ from values by less than 1e-10; -1 when there is none.
std::int32_t MapInfoDatumNumber(std::int32_t ellipsoid, const TDatumValues& values);

// ReadTAB (see kvnet_importreaders.h) with a chosen size from which a .map is read through a
// buffered stream rather than loaded whole; ReadTAB itself loads files below 2 GiB.
void ReadTABWithMemoryLimit(TBaseImport& import, bool extended, std::int64_t memoryLimit);

}  // namespace kvnet
