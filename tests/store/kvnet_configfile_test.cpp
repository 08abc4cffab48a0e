#include "store/kvnet_configfile.h"

#include <gtest/gtest.h>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_textfile.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

std::string Dir(const TTempDir& dir) {
  return dir.Path().string() + "/";
}

TEST(ConfigFile, PlainFileHasTheKeysInOrderAndVerifies) {
  TTempDir dir;
  WriteConfig(Dir(dir), false, cuM, {1, -2.5, 1e6, 3.25}, 42, 28992, "PROJCS[x]",
              "CoordSys NonEarth Units \"m\"");
  const std::string text = ReadFileBytes(dir.File("kvnet_config.ini"));
  const std::string body =
      "[kvnet]\r\nversion=400\r\ncoordinateunit=Meter\r\ncoordsys=CoordSys NonEarth Units "
      "\"m\"\r\nprj=PROJCS[x]\r\nepsg=28992\r\nlinkcount=42\r\nxmin=1\r\nymin=-2.5\r\nxmax=1000000"
      "\r\nymax=3.25\r\n";
  ASSERT_EQ(text.substr(0, body.size()), body);
  // The checksum of the lines above, computed here by the rule h = (h * 17 + c) mod 2^16.
  std::uint32_t h = 0;
  for (const char c : body) {
    if (c != '\r' && c != '\n') h = (h * 17 + static_cast<unsigned char>(c)) & 0xFFFF;
  }
  EXPECT_EQ(text.substr(body.size()), "checksum=" + std::to_string(h) + "\r\n");

  TConfig config;
  ReadConfig(Dir(dir), config);
  EXPECT_EQ(config.VersionCode, 400);
  EXPECT_FALSE(config.Encrypted);
  EXPECT_EQ(config.Cu, cuM);
  EXPECT_EQ(config.CoordSys, "CoordSys NonEarth Units \"m\"");
  EXPECT_EQ(config.Prj, "PROJCS[x]");
  EXPECT_EQ(config.Epsg, 28992);
  EXPECT_EQ(config.LinkCount, 42);
  EXPECT_EQ(config.Mbr.ymin, -2.5);
  EXPECT_EQ(config.Mbr.xmax, 1e6);
}

TEST(ConfigFile, EncipheredValuesAreEncodedAndReadBack) {
  TTempDir dir;
  WriteConfig(Dir(dir), true, cuDeg, {-77.5, 39.1, -76.25, 39.75}, 13000, 4326, "", "");
  const std::string text = ReadFileBytes(dir.File("kvnet_config.ini"));
  EXPECT_EQ(text.rfind("[kvnet]\r\nencrypted=1\r\nversion=", 0), 0u);
  EXPECT_EQ(text.find("13000"), std::string::npos);
  EXPECT_EQ(text.find("Degrees"), std::string::npos);
  EXPECT_EQ(text.find("prj="), std::string::npos);  // empty values are not written
  TConfig config;
  ReadConfig(Dir(dir), config);
  EXPECT_TRUE(config.Encrypted);
  EXPECT_EQ(config.Cu, cuDeg);
  EXPECT_EQ(config.LinkCount, 13000);
  EXPECT_EQ(config.Epsg, 4326);
  EXPECT_EQ(config.Mbr.xmin, -77.5);
  for (const std::string value : {"", "a", "ab", "abc", "400", "Nautical Miles", "\xC3\xA4=;[x]"}) {
    EXPECT_EQ(DecodeConfigValue(EncodeConfigValue(value)), value);
  }
  EXPECT_THROW(DecodeConfigValue("ab$d"), EConfigFileCheckSumError);
  EXPECT_THROW(DecodeConfigValue("abcde"), EConfigFileCheckSumError);
}

TEST(ConfigFile, EditsAndMissingChecksumsAreRejected) {
  TTempDir dir;
  WriteConfig(Dir(dir), false, cuKm, {0, 0, 10, 10}, 5, 0, "", "");
  const std::string name = dir.File("kvnet_config.ini");
  const std::string good = ReadFileBytes(name);
  TConfig config;
  struct TCase {
    const char* what;
    std::string text;
  };
  std::string edited = good;
  edited.replace(edited.find("linkcount=5"), 11, "linkcount=6");
  std::string noChecksum = good.substr(0, good.find("checksum="));
  const TCase cases[] = {
      {"edited value", edited},
      {"checksum not last", noChecksum + good.substr(good.find("checksum=")) + "extra=1\r\n"},
      {"no checksum", noChecksum},
      {"empty", ""},
  };
  for (const TCase& c : cases) {
    WriteFileBytes(name, c.text);
    try {
      ReadConfig(Dir(dir), config);
      ADD_FAILURE() << c.what;
    } catch (const EConfigFileCheckSumError& e) {
      EXPECT_STREQ(e.what(), "The config file is corrupted") << c.what;
    }
  }
  std::filesystem::remove(name);
  EXPECT_THROW(ReadConfig(Dir(dir), config), EFileMissing);
}

TEST(ConfigFile, UnitNamesIgnoreCaseAndOddValuesReadAsDefaults) {
  TTempDir dir;
  const std::string name = dir.File("kvnet_config.ini");
  const std::vector<std::string> lines = {
      "[KVNET]",  "Version = 400", "coordinateunit=METER", "linkcount=99999999999",
      "xmin=abc", "ymin=1e3"};
  std::string text;
  for (const auto& line : lines)
    text += line + "\r\n";
  text += "checksum=" + std::to_string(ConfigChecksum(lines, lines.size())) + "\r\n";
  WriteFileBytes(name, text);
  TConfig config;
  ReadConfig(Dir(dir), config);
  EXPECT_EQ(config.VersionCode, 400);
  EXPECT_EQ(config.Cu, cuM);
  EXPECT_EQ(config.LinkCount, -1);  // beyond 32 bits: rejected when the network opens
  EXPECT_EQ(config.Mbr.xmin, 0);
  EXPECT_EQ(config.Mbr.ymin, 1000);
}

}  // namespace
}  // namespace kvnet
