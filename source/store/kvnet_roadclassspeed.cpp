#include "store/kvnet_roadclassspeed.h"

#include <cmath>
#include <limits>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"

namespace kvnet {

namespace {

constexpr double kMphFactor = 1.609;  // the factor of speed files, not the exact 1.609344

}  // namespace

void TRoadClassCustom::CheckIndex(std::int32_t index) {
  if (index < 0 || index >= kRoadClassCount) {
    throw EOutOfRange(Format("Index for RoadClass should be 0 to 31 (is %d)", index));
  }
}

float TRoadClassCustom::Get(std::int32_t index) const {
  CheckIndex(index);
  return Fspeed[static_cast<std::size_t>(index)];
}

void TRoadClassSpeed::Put(std::int32_t index, float item) {
  CheckIndex(index);
  // NaN fails the test as well; an infinite speed would give zero times.
  if (!(item > 0) || !std::isfinite(item)) {
    throw EOutOfRange(Format("Speed for RoadClass should be >0 (is %n)", item));
  }
  Fspeed[static_cast<std::size_t>(index)] = item;
}

void TRoadClassSpeed::LoadFromINI(const TIniFile& ini, const std::string& section, bool mph) {
  for (std::int32_t i = 0; i < kRoadClassCount; ++i) {
    const std::string text = ini.ReadString(section, "Speed" + std::to_string(i), "60");
    double value = 0;
    if (!TryParseFloat(text, value) || !std::isfinite(value)) continue;
    if (value <= 0) continue;
    if (mph) value *= kMphFactor;
    // A value beyond the single range is as unusable as a text that is not a number.
    if (value > std::numeric_limits<float>::max()) continue;
    const auto speed = static_cast<float>(value);
    if (!(speed > 0)) continue;  // below the smallest single
    Put(i, speed);
  }
}

void TRoadClassSpeed::LoadFromINI(const std::string& filename, const std::string& section,
                                  bool mph) {
  const TIniFile ini(filename);
  LoadFromINI(ini, section, mph);
}

void TRoadClassSpeed::LoadFromINI(const std::string& filename, const std::string& section) {
  const TIniFile ini(filename);
  const bool mph = ini.ReadString("Setup", "SpeedUnits", "Km") == "Mi";
  LoadFromINI(ini, section, mph);
}

void TRoadClassTurnCost::Put(std::int32_t index, float item) {
  CheckIndex(index);
  if (!(item >= 0) || !std::isfinite(item)) {
    throw EOutOfRange(Format("Cost for RoadClass should be >=0 (is %n)", item));
  }
  Fspeed[static_cast<std::size_t>(index)] = item;
}

}  // namespace kvnet
