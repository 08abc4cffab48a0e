// kvnet_config.ini, the configuration of a network directory: one [kvnet] section with the
// format version, coordinate unit and system, link count, bounding rectangle and a checksum over
// all preceding lines. In an enciphered network every value but "encrypted" is stored through a
// reversible text encoding (TMyinifile with Encoded set).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_types.h"
#include "store/kvnet_coordunit.h"

namespace kvnet {

inline constexpr const char* kConfigFileName = "kvnet_config.ini";
inline constexpr std::int32_t kNetworkVersion = 400;

struct TConfig {
  std::int32_t VersionCode = 0;
  bool Encrypted = false;
  TCoordinateUnit Cu = cuUnknown;
  std::string CoordSys;
  std::string Prj;
  std::int32_t Epsg = 0;
  std::int32_t LinkCount = 0;
  TFloatRect Mbr;
  double CheckSum = 0;
};

// A profile file whose values pass through the value encoder while Encoded is set (the typed
// reads and writes of TIniFile go through it too).
class TMyinifile : public TIniFile {
 public:
  using TIniFile::TIniFile;

  bool Encoded() const { return FEncoded; }
  void SetEncoded(bool value) { FEncoded = value; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const override;
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;

 private:
  bool FEncoded = false;
};

// The reversible value encoding of enciphered configurations (64-character alphabet, safe in a
// profile file). DecodeConfigValue raises EConfigFileCheckSumError for text it did not produce.
std::string EncodeConfigValue(const std::string& value);
std::string DecodeConfigValue(const std::string& text);

// h = (h * 17 + c) AND 0xFFFF over the UTF-16 code units of the first `count` lines, joined
// without separators.
std::uint16_t ConfigChecksum(const std::vector<std::string>& lines, std::size_t count);

// Reads and verifies <directory>kvnet_config.ini. Raises EFileMissing when it does not exist and
// EConfigFileCheckSumError "The config file is corrupted" when the checksum does not match.
void ReadConfig(const std::string& directory, TConfig& config);

// Writes <directory>kvnet_config.ini anew: the keys in their fixed order, then the checksum.
void WriteConfig(const std::string& directory, bool encrypted, TCoordinateUnit unit,
                 const TFloatRect& mbr, std::int32_t linkCount, std::int32_t epsg,
                 const std::string& prj, const std::string& coordSys);

}  // namespace kvnet
