// Values per road class (bits 0-4 of the attribute word, 0..31): speeds in km/h for building
// time arrays (TNetwork::CalculateTime) and extra turn costs (turn restrictions).
//
// Every stored value is a finite single; Put checks the class and the value and raises EOutOfRange
// before storing anything. Objects are plain values: one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kvnet {

class TIniFile;

inline constexpr std::int32_t kRoadClassCount = 32;

class TRoadClassCustom {
 public:
  virtual ~TRoadClassCustom() = default;

  // The value of a class; raises EOutOfRange for a class outside 0..31.
  float Get(std::int32_t index) const;
  virtual void Put(std::int32_t index, float item) = 0;

 protected:
  explicit TRoadClassCustom(float initial) { Fspeed.fill(initial); }
  static void CheckIndex(std::int32_t index);

  std::array<float, kRoadClassCount> Fspeed{};
};

class TRoadClassSpeed : public TRoadClassCustom {
 public:
  // Every class starts at 60 km/h.
  TRoadClassSpeed() : TRoadClassCustom(60.0f) {}

  // Speed in km/h: finite and > 0.
  void Put(std::int32_t index, float item) override;

  // Reads keys Speed0..Speed31 of section (missing keys count as "60"); texts that are not
  // numbers and values <= 0 leave the class as it was; with mph the value is multiplied by 1.609.
  void LoadFromINI(const TIniFile& ini, const std::string& section, bool mph);
  void LoadFromINI(const std::string& filename, const std::string& section, bool mph);
  // The unit comes from key SpeedUnits of section Setup: "Mi" means miles per hour.
  void LoadFromINI(const std::string& filename, const std::string& section);
};

class TRoadClassTurnCost : public TRoadClassCustom {
 public:
  // Every class starts at 0.
  TRoadClassTurnCost() : TRoadClassCustom(0.0f) {}

  // Cost: finite and >= 0.
  void Put(std::int32_t index, float item) override;
};

}  // namespace kvnet
