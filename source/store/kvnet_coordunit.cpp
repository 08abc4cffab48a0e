#include "store/kvnet_coordunit.h"

#include <cmath>
#include <numbers>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {

namespace {

struct TUnitRow {
  const char* name;
  double distFactor;
};

// Indexed by TCoordinateUnit.
constexpr TUnitRow kUnits[] = {
    {"", 0},
    {"Radians", kEarthRadiusKm},
    {"Degrees", kEarthRadiusKm},
    {"Grad", kEarthRadiusKm},
    {"Mm", 1e-06},
    {"Cm", 1e-05},
    {"Dm", 0.0001},
    {"Meter", 0.001},
    {"Km", 1.0},
    {"Points", 3.527777777777778e-07},
    {"Inch", 2.54e-05},
    {"Link", 0.0002011684026},
    {"Feet", 0.0003048},
    {"Survey Feet", 0.00030480061},
    {"Yard", 0.0009144},
    {"Chain", 0.02011684026},
    {"Rod", 0.005029210065},
    {"Miles", 1.609344},
    {"Nautical Miles", 1.853184},
};
constexpr int kUnitCount = static_cast<int>(std::size(kUnits));
static_assert(kUnitCount == cuNmi + 1);

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string CoordinateUnitName(TCoordinateUnit unit) {
  return unit < kUnitCount ? kUnits[unit].name : "";
}

TCoordinateUnit CoordinateUnitFromName(std::string_view name) {
  for (int u = 1; u < kUnitCount; ++u) {
    if (EqualsIgnoreCase(name, kUnits[u].name)) return static_cast<TCoordinateUnit>(u);
  }
  return cuUnknown;
}

double DistFactor(TCoordinateUnit unit) {
  if (unit == cuUnknown || unit >= kUnitCount) {
    throw Exception("Undefined coordinate in DistFactor");
  }
  return kUnits[unit].distFactor;
}

bool IsAngularUnit(TCoordinateUnit unit) {
  return unit == cuRad || unit == cuDeg || unit == cuGrad;
}

double RadiansPerUnit(TCoordinateUnit unit) {
  switch (unit) {
    case cuDeg:
      return std::numbers::pi / 180.0;
    case cuGrad:
      return std::numbers::pi / 200.0;
    default:
      return 1.0;
  }
}

double HaversineAngle(double x1, double y1, double x2, double y2) {
  const double sy = std::sin((y1 - y2) / 2);
  const double sx = std::sin((x1 - x2) / 2);
  double s = std::sqrt(sy * sy + std::cos(y1) * std::cos(y2) * sx * sx);
  if (s > 1) s = 1;
  return 2 * std::asin(s);
}

double UnitDistance(TCoordinateUnit unit, const TFloatPoint& p1, const TFloatPoint& p2) {
  if (IsAngularUnit(unit)) {
    // Differences are taken before the conversion to radians: short distances keep their digits.
    const double f = RadiansPerUnit(unit);
    const double sy = std::sin((p1.y - p2.y) * f / 2);
    const double sx = std::sin((p1.x - p2.x) * f / 2);
    double s = std::sqrt(sy * sy + std::cos(p1.y * f) * std::cos(p2.y * f) * sx * sx);
    if (s > 1) s = 1;
    return 2 * std::asin(s);
  }
  const double dx = p2.x - p1.x;
  const double dy = p2.y - p1.y;
  return std::sqrt(dx * dx + dy * dy);
}

const char* MapInfoUnitName(TCoordinateUnit unit) {
  switch (unit) {
    case cuMm:
      return "mm";
    case cuCm:
      return "cm";
    case cuM:
      return "m";
    case cuKm:
      return "km";
    case cuInch:
      return "in";
    case cuLink:
      return "link";
    case cuFt:
      return "ft";
    case cuSurveyft:
      return "survey ft";
    case cuYard:
      return "yd";
    case cuChain:
      return "chain";
    case cuRod:
      return "rod";
    case cuMiles:
      return "mi";
    case cuNmi:
      return "nmi";
    default:
      return nullptr;
  }
}

}  // namespace kvnet
