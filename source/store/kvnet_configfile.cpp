#include "store/kvnet_configfile.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_unicode.h"

namespace kvnet {

namespace {

constexpr const char* kSection = "kvnet";
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// A byte-wise mask so that the encoded text of similar values differs throughout.
std::uint8_t Mask(std::size_t i) {
  return static_cast<std::uint8_t>(0xA5 + 61 * i);
}

int AlphabetIndex(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

[[noreturn]] void Corrupted() {
  throw EConfigFileCheckSumError("The config file is corrupted");
}

}  // namespace

std::string EncodeConfigValue(const std::string& value) {
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    buffer = (buffer << 8) | (static_cast<std::uint8_t>(value[i]) ^ Mask(i));
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += kAlphabet[(buffer >> bits) & 63];
    }
  }
  if (bits > 0) out += kAlphabet[(buffer << (6 - bits)) & 63];
  return out;
}

std::string DecodeConfigValue(const std::string& text) {
  if (text.size() % 4 == 1) Corrupted();
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (const char c : text) {
    const int index = AlphabetIndex(c);
    if (index < 0) Corrupted();
    buffer = (buffer << 6) | static_cast<std::uint32_t>(index);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      const auto byte = static_cast<std::uint8_t>((buffer >> bits) & 0xFF);
      out += static_cast<char>(byte ^ Mask(out.size()));
    }
  }
  if ((buffer & ((1U << bits) - 1)) != 0) Corrupted();  // leftover bits must be zero padding
  return out;
}

std::string TMyinifile::ReadString(const std::string& section, const std::string& key,
                                   const std::string& def) const {
  if (!ValueExists(section, key)) return def;
  const std::string value = TIniFile::ReadString(section, key, def);
  return FEncoded ? DecodeConfigValue(value) : value;
}

void TMyinifile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
  TIniFile::WriteString(section, key, FEncoded ? EncodeConfigValue(value) : value);
}

std::uint16_t ConfigChecksum(const std::vector<std::string>& lines, std::size_t count) {
  std::uint32_t h = 0;
  for (std::size_t i = 0; i < count && i < lines.size(); ++i) {
    for (const char16_t unit : Utf8ToUtf16(lines[i]))
      h = (h * 17 + unit) & 0xFFFF;
  }
  return static_cast<std::uint16_t>(h);
}

void ReadConfig(const std::string& directory, TConfig& config) {
  const std::string fileName = directory + kConfigFileName;
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) {
    throw EFileMissing(Format("File is missing: %s", fileName));
  }
  TMyinifile ini(fileName);
  config = TConfig{};
  config.Encrypted = ini.ReadBool(kSection, "encrypted", false);
  ini.SetEncoded(config.Encrypted);
  config.VersionCode = static_cast<std::int32_t>(ini.ReadInteger(kSection, "version", 0));
  config.Cu = CoordinateUnitFromName(ini.ReadString(kSection, "coordinateunit", ""));
  config.CoordSys = ini.ReadString(kSection, "coordsys", "");
  config.Prj = ini.ReadString(kSection, "prj", "");
  const std::int64_t epsg = ini.ReadInteger(kSection, "epsg", 0);
  const std::int64_t linkCount = ini.ReadInteger(kSection, "linkcount", 0);
  config.Epsg = epsg >= INT32_MIN && epsg <= INT32_MAX ? static_cast<std::int32_t>(epsg) : 0;
  // A count outside the 32-bit range is as absurd as a negative one; the network rejects both.
  config.LinkCount =
      linkCount >= 0 && linkCount <= INT32_MAX ? static_cast<std::int32_t>(linkCount) : -1;
  config.Mbr.xmin = ini.ReadFloat(kSection, "xmin", 0);
  config.Mbr.ymin = ini.ReadFloat(kSection, "ymin", 0);
  config.Mbr.xmax = ini.ReadFloat(kSection, "xmax", 0);
  config.Mbr.ymax = ini.ReadFloat(kSection, "ymax", 0);
  config.CheckSum = static_cast<double>(ini.ReadInteger(kSection, "checksum", -1));

  const auto& lines = ini.Lines();
  if (lines.empty() || config.CheckSum != ConfigChecksum(lines, lines.size() - 1)) Corrupted();
}

void WriteConfig(const std::string& directory, bool encrypted, TCoordinateUnit unit,
                 const TFloatRect& mbr, std::int32_t linkCount, std::int32_t epsg,
                 const std::string& prj, const std::string& coordSys) {
  const std::string fileName = directory + kConfigFileName;
  std::error_code ec;
  std::filesystem::remove(fileName, ec);
  TMyinifile ini(fileName);
  if (encrypted) ini.WriteString(kSection, "encrypted", "1");
  ini.SetEncoded(encrypted);
  ini.WriteInteger(kSection, "version", kNetworkVersion);
  ini.WriteString(kSection, "coordinateunit", CoordinateUnitName(unit));
  if (!coordSys.empty()) ini.WriteString(kSection, "coordsys", coordSys);
  if (!prj.empty()) ini.WriteString(kSection, "prj", prj);
  if (epsg != 0) ini.WriteInteger(kSection, "epsg", epsg);
  ini.WriteInteger(kSection, "linkcount", linkCount);
  ini.WriteFloat(kSection, "xmin", mbr.xmin);
  ini.WriteFloat(kSection, "ymin", mbr.ymin);
  ini.WriteFloat(kSection, "xmax", mbr.xmax);
  ini.WriteFloat(kSection, "ymax", mbr.ymax);
  const auto& lines = ini.Lines();
  ini.WriteInteger(kSection, "checksum", ConfigChecksum(lines, lines.size()));
  ini.UpdateFile();
}

}  // namespace kvnet
