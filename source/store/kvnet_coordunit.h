// Coordinate units of a network and the distance function that goes with them. Planar units
// measure Euclidean distance; angular units (radians, degrees, grad; x = longitude, y = latitude)
// measure the great-circle angle on a sphere. DistFactor turns either into kilometres: the
// kilometres per unit, or the sphere radius 6378.13 km for angular units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/kvnet_gistypes.h"
#include "foundation/kvnet_types.h"

namespace kvnet {

enum TCoordinateUnit : std::uint8_t {
  cuUnknown = 0,
  cuRad,
  cuDeg,
  cuGrad,
  cuMm,
  cuCm,
  cuDm,
  cuM,
  cuKm,
  cuPoint,
  cuInch,
  cuLink,
  cuFt,
  cuSurveyft,
  cuYard,
  cuChain,
  cuRod,
  cuMiles,
  cuNmi
};

// The name written to the configuration ("Degrees", "Meter", ...); empty for cuUnknown and for
// values outside the enumeration.
std::string CoordinateUnitName(TCoordinateUnit unit);
// The unit of a name, ignoring case; cuUnknown when no name matches.
TCoordinateUnit CoordinateUnitFromName(std::string_view name);
// Kilometres per unit; raises Exception "Undefined coordinate in DistFactor" for cuUnknown.
double DistFactor(TCoordinateUnit unit);
bool IsAngularUnit(TCoordinateUnit unit);
// The unit's name in a MapInfo CoordSys clause ("m", "survey ft", ...); nullptr for the units
// without one (angular units, dm, points, unknown).
const char* MapInfoUnitName(TCoordinateUnit unit);
// Radians per unit for angular units (1, pi/180, pi/200); 1 for planar units.
double RadiansPerUnit(TCoordinateUnit unit);

// The haversine central angle in radians between two points given in radians (x = longitude,
// y = latitude); the square root is limited to 1.
double HaversineAngle(double x1, double y1, double x2, double y2);

// Distance between two points in units of DistFactor: the great-circle angle (radians) for
// angular units, the Euclidean distance for planar ones. Multiply by DistFactor for kilometres.
double UnitDistance(TCoordinateUnit unit, const TFloatPoint& p1, const TFloatPoint& p2);

}  // namespace kvnet
