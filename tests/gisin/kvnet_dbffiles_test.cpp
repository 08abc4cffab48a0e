#include "gisin/kvnet_dbffiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_exceptions.h"
#include "support/kvnet_test_gdal.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::OgrFeatures;
using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

// ---- byte builders for hand-made tables

template <class T>
void Put(std::string& bytes, std::size_t at, T value) {
  if (bytes.size() < at + sizeof(T)) bytes.resize(at + sizeof(T), '\0');
  std::memcpy(bytes.data() + at, &value, sizeof(T));
}

struct TFieldDef {
  std::string name;
  char type;  // dBASE letter
  int width;
  int decimals;
};

// A dBASE file: header, descriptors, terminator, optional extra header bytes, records.
std::string DbfBytes(const std::vector<TFieldDef>& fields, const std::vector<std::string>& records,
                     std::uint8_t languageDriver = 0x57, std::size_t extraHeader = 0,
                     std::uint8_t version = 0x03) {
  int recordLength = 1;
  for (const auto& f : fields)
    recordLength += f.width;
  const std::size_t headerLength = 32 + 32 * fields.size() + 1 + extraHeader;
  std::string bytes(headerLength, '\0');
  bytes[0] = static_cast<char>(version);
  Put<std::int32_t>(bytes, 4, static_cast<std::int32_t>(records.size()));
  Put<std::uint16_t>(bytes, 8, static_cast<std::uint16_t>(headerLength));
  Put<std::uint16_t>(bytes, 10, static_cast<std::uint16_t>(recordLength));
  bytes[29] = static_cast<char>(languageDriver);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t d = 32 + 32 * i;
    std::memcpy(bytes.data() + d, fields[i].name.data(),
                std::min<std::size_t>(10, fields[i].name.size()));
    bytes[d + 11] = fields[i].type;
    bytes[d + 16] = static_cast<char>(fields[i].width);
    bytes[d + 17] = static_cast<char>(fields[i].decimals);
  }
  bytes[32 + 32 * fields.size()] = 0x0D;
  for (const std::string& record : records) {
    std::string r = record;
    r.resize(static_cast<std::size_t>(recordLength), ' ');
    bytes += r;
  }
  bytes += '\x1A';
  return bytes;
}

// Pads a value to a field width (left-aligned text).
std::string Text(const std::string& value, int width) {
  std::string v = value;
  v.resize(static_cast<std::size_t>(width), ' ');
  return v;
}

// Right-aligned numeric text.
std::string Num(const std::string& value, int width) {
  return std::string(static_cast<std::size_t>(width) - value.size(), ' ') + value;
}

std::string WriteDbf(const TTempDir& dir, const std::string& name, const std::string& bytes) {
  WriteFileBytes(dir.File(name), bytes);
  return dir.File(name);
}

// Every field of every record equals what GDAL reads from the same file.
void ExpectAgreesWithGdal(const std::string& table, const std::string& gdalSource) {
  const auto features = OgrFeatures(gdalSource);
  TDbfFile file(table, 0);
  file.Open(false);
  ASSERT_TRUE(file.IsOpen());
  ASSERT_EQ(static_cast<std::int64_t>(features.size()), file.RecordCount());
  std::int64_t compared = 0;
  for (std::int64_t r = 1; r <= file.RecordCount(); ++r) {
    const auto& gdal = features[static_cast<std::size_t>(r - 1)].values;
    for (std::int32_t f = 0; f < file.FieldCount(); ++f) {
      const Tdbffield field = file.FieldInfo(f);
      std::string gdalName;
      for (const auto& [name, value] : gdal) {
        std::string upper = name;
        for (char& c : upper)
          c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper == field.Name) gdalName = name;
      }
      ASSERT_FALSE(gdalName.empty()) << field.Name;
      const std::string& expected = gdal.at(gdalName);
      if (field.FieldType == gfChar) {
        EXPECT_EQ(file.ReadString(f, r), expected == "(null)" ? "" : expected)
            << field.Name << " record " << r;
      } else if (field.FieldType == gfFloat ||
                 (field.FieldType == gfDecimal && field.decimals > 0)) {
        EXPECT_DOUBLE_EQ(file.ReadFloat(f, r), std::stod(expected)) << field.Name << " " << r;
      } else {
        EXPECT_EQ(file.ReadInteger(f, r), std::stoll(expected)) << field.Name << " record " << r;
      }
      ++compared;
    }
  }
  EXPECT_EQ(compared, file.RecordCount() * file.FieldCount());
}

TEST(DbfFile, BaltimoreDbaseTableAgreesWithGdal) {
  KVNET_REQUIRE_DATA_SET(data, "baltimore");
  KVNET_REQUIRE_OGRINFO();
  TDbfFile file(data + "/link.dbf", 0);
  file.Open(false);
  EXPECT_EQ(file.CodePage(), kCodePageUtf8);  // link.cpg says "UTF-8"
  EXPECT_EQ(file.FieldCount(), 9);
  EXPECT_EQ(file.RecordCount(), 9777);
  ExpectAgreesWithGdal(data + "/link.dbf", data + "/link.dbf");
}

TEST(DbfFile, BaltimoreNativeTableAgreesWithGdal) {
  KVNET_REQUIRE_DATA_SET(data, "baltimore");
  KVNET_REQUIRE_OGRINFO();
  TDbfFile file(data + "/tab/link.dat", 0);
  file.Open(false);
  EXPECT_EQ(file.DBFtype(), dat);
  EXPECT_EQ(file.CodePage(), 1252);  // from the .tab's charset line
  EXPECT_EQ(file.FieldInfo(0).FieldType, gfInteger);
  EXPECT_EQ(file.FieldInfo(3).FieldType, gfChar);
  ExpectAgreesWithGdal(data + "/tab/link.dat", data + "/tab/link.tab");
}

TEST(DbfFile, ReadsTypesCodePagesAndTrims) {
  TTempDir dir;
  const std::vector<TFieldDef> fields = {{"name", 'C', 10, 0}, {"count", 'N', 5, 0},
                                         {"price", 'N', 8, 2}, {"flag", 'L', 1, 0},
                                         {"day", 'D', 8, 0},   {"odd", 'X', 3, 0}};
  const std::string name =
      WriteDbf(dir, "t.dbf",
               DbfBytes(fields, {" " +
                                     Text("  Stra\xDF"
                                          "e",
                                          10) +
                                     Num("42", 5) + Num("12.50", 8) + "T" + "20240131" + "abc",
                                 " " + std::string(10, '\0') + Num("-7", 5) + Num("13.50", 8) +
                                     "F" + "        " + "xyz",
                                 "*" + Text("gone", 10) + std::string(5, ' ') + Num("1.25", 8) +
                                     "?" + "        " + "   "}));
  TDbfFile file(name, 0);
  file.Open(false);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.CodePage(), 1252);  // language driver byte 0x57
  EXPECT_EQ(file.FieldCount(), 6);
  EXPECT_EQ(file.FindField("PRICE"), 2);
  EXPECT_EQ(file.FindField("Price"), 2);
  EXPECT_EQ(file.FindField("none"), -1);
  EXPECT_EQ(file.FieldInfo(0).Name, "NAME");
  EXPECT_EQ(file.FieldInfo(5).FieldType, gfChar);  // unknown letters read as text
  EXPECT_EQ(file.FieldInfo(2).Pos, 16u);
  EXPECT_DOUBLE_EQ(file.FieldInfo(2).Max, 99999.99);
  EXPECT_DOUBLE_EQ(file.FieldInfo(2).Min, -9999.99);
  EXPECT_EQ(file.ReadString(0, 1),
            "Stra\xC3\x9F"
            "e");
  EXPECT_EQ(file.ReadString(0, 2), "");  // starts with a zero byte
  EXPECT_EQ(file.ReadInteger(1, 1), 42);
  EXPECT_EQ(file.ReadInteger(1, 2), -7);
  EXPECT_EQ(file.ReadInteger(2, 1), 12);  // halves to even
  EXPECT_EQ(file.ReadInteger(2, 2), 14);
  EXPECT_DOUBLE_EQ(file.ReadFloat(2, 3), 1.25);
  EXPECT_TRUE(std::isnan(file.ReadFloat(1, 3)));  // a blank number
  EXPECT_TRUE(file.ReadBoolean(3, 1));
  EXPECT_FALSE(file.ReadBoolean(3, 2));
  EXPECT_EQ(file.ReadString(4, 1), "20240131");
  EXPECT_TRUE(file.IsDeleted(3));
  EXPECT_FALSE(file.IsDeleted(1));
  try {
    file.ReadInteger(1, 3);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid integer value");
  }
  EXPECT_THROW(file.ReadFloat(4, 1), Exception);  // dates are not numbers
  // Out of range: empty or zero, no exception.
  EXPECT_EQ(file.ReadString(6, 1), "");
  EXPECT_EQ(file.ReadString(0, 4), "");
  EXPECT_EQ(file.ReadInteger(-1, 1), 0);
  EXPECT_EQ(file.ReadFloat(1, 0), 0);
  EXPECT_FALSE(file.IsDeleted(99));
}

TEST(DbfFile, CodePageComesFromTheCpgFileOrTheLanguageByte) {
  TTempDir dir;
  const std::vector<TFieldDef> fields = {{"n", 'C', 6, 0}};
  struct TCase {
    std::string cpg;  // empty: no .cpg file
    std::uint8_t languageDriver;
    std::string record;
    std::uint16_t codePage;
    std::string text;
  };
  const TCase cases[] = {
      {"", 0x57, "\xE4", 1252, "\xC3\xA4"},
      {"", 0x00, "\xE4", 1252, "\xC3\xA4"},  // unknown byte: system default
      {"", 0xC9, "\xE4", 1251, "\xD0\xB4"},  // Cyrillic
      {"UTF-8\r\n", 0x57, "\xC3\xA4", 65001, "\xC3\xA4"},
      {"utf8", 0xC9, "\xC3\xA4", 65001, "\xC3\xA4"},
      {"65001", 0x00, "\xC3\xA4", 65001, "\xC3\xA4"},
      {"1250", 0x57, "\xB9", 1250, "\xC4\x85"},
      {"ISO 8859-1", 0xC9, "\xE4", 1252, "\xC3\xA4"},  // not a number: system default
  };
  for (const TCase& c : cases) {
    const std::string name =
        WriteDbf(dir, "cp.dbf", DbfBytes(fields, {" " + c.record}, c.languageDriver));
    std::filesystem::remove(dir.File("cp.cpg"));
    if (!c.cpg.empty()) WriteFileBytes(dir.File("cp.cpg"), c.cpg);
    TDbfFile file(name, 0);
    file.Open(false);
    EXPECT_EQ(file.CodePage(), c.codePage) << c.cpg << " " << int{c.languageDriver};
    EXPECT_EQ(file.ReadString(0, 1), c.text) << c.cpg;
  }
  // The caller's code page wins over both.
  WriteDbf(dir, "cp.dbf", DbfBytes(fields, {" \xE4"}, 0xC9));
  WriteFileBytes(dir.File("cp.cpg"), "65001");
  TDbfFile forced(dir.File("cp.dbf"), 1252);
  forced.Open(false);
  EXPECT_EQ(forced.ReadString(0, 1), "\xC3\xA4");
}

TEST(DbfFile, HeaderTailAfterTheTerminatorAndManyFields) {
  TTempDir dir;
  // A backlink area of 263 bytes after the field list, as Visual FoxPro writes it.
  const std::vector<TFieldDef> fields = {{"id", 'N', 4, 0}, {"label", 'C', 5, 0}};
  const std::string name =
      WriteDbf(dir, "vfp.dbf",
               DbfBytes(fields, {" " + Num("7", 4) + "seven", " " + Num("8", 4) + "eight"}, 0x03,
                        263, 0x30));
  TDbfFile file(name, 0);
  file.Open(false);
  EXPECT_EQ(file.FieldCount(), 2);
  EXPECT_EQ(file.ReadInteger(0, 2), 8);
  EXPECT_EQ(file.ReadString(1, 1), "seven");

  // Field 256 of a file with 300 fields reads as empty.
  std::vector<TFieldDef> many;
  std::string record = " ";
  for (int i = 0; i < 300; ++i) {
    many.push_back({"f" + std::to_string(i), 'C', 3, 0});
    record += Text(std::to_string(i), 3);
  }
  const std::string wide = WriteDbf(dir, "wide.dbf", DbfBytes(many, {record}));
  TDbfFile wideFile(wide, 0);
  wideFile.Open(false);
  EXPECT_EQ(wideFile.FieldCount(), 300);
  EXPECT_EQ(wideFile.ReadString(255, 1), "255");
  EXPECT_EQ(wideFile.ReadString(256, 1), "");
}

// A MapInfo native table: a .tab description and a .dat in the classic or extended layout.
struct TNativeField {
  std::string name;
  std::string type;  // as the .tab writes it
  int width;
  int decimals = 0;
};

void WriteNativeTable(const TTempDir& dir, bool extended, const std::vector<TNativeField>& fields,
                      const std::vector<std::string>& records) {
  std::string tab =
      "!table\r\n!version 1520\r\n!charset WindowsCyrillic\r\n\r\nDefinition Table\r\n";
  tab += extended ? "  Type NATIVEX Charset \"WindowsCyrillic\"\r\n" : "  Type NATIVE\r\n";
  tab += "  Fields " + std::to_string(fields.size()) + "\r\n";
  for (const auto& f : fields)
    tab += "    " + f.name + " " + f.type + " ;\r\n";
  WriteFileBytes(dir.File("native.tab"), tab);
  const std::size_t n = fields.size();
  const std::size_t flags = extended ? (n - 1) / 8 + 2 : 1;
  std::size_t recordLength = flags;
  for (const auto& f : fields)
    recordLength += static_cast<std::size_t>(f.width);
  const std::size_t headerLength = 32 + 32 * n + 1;
  std::string bytes(headerLength, '\0');
  bytes[0] = 3;
  if (extended) {
    Put<std::int64_t>(bytes, 4, static_cast<std::int64_t>(records.size()));
    Put<std::uint32_t>(bytes, 12, static_cast<std::uint32_t>(headerLength));
    Put<std::uint32_t>(bytes, 16, static_cast<std::uint32_t>(recordLength));
  } else {
    Put<std::int32_t>(bytes, 4, static_cast<std::int32_t>(records.size()));
    Put<std::uint16_t>(bytes, 8, static_cast<std::uint16_t>(headerLength));
    Put<std::uint16_t>(bytes, 10, static_cast<std::uint16_t>(recordLength));
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t d = 32 + 32 * i;
    std::memcpy(bytes.data() + d, fields[i].name.data(), fields[i].name.size());
    bytes[d + 11] = 'C';
    if (extended) {
      Put<std::int32_t>(bytes, d + 16, fields[i].width);
      Put<std::int32_t>(bytes, d + 20, fields[i].decimals);
    } else {
      bytes[d + 16] = static_cast<char>(fields[i].width);
      bytes[d + 17] = static_cast<char>(fields[i].decimals);
    }
  }
  bytes[headerLength - 1] = 0x0D;
  for (const std::string& r : records) {
    EXPECT_EQ(r.size(), recordLength);
    bytes += r;
  }
  WriteFileBytes(dir.File("native.dat"), bytes);
}

std::string Bin(auto value) {
  std::string bytes(sizeof(value), '\0');
  std::memcpy(bytes.data(), &value, sizeof(value));
  return bytes;
}

TEST(DbfFile, NativeTablesClassicAndExtended) {
  for (const bool extended : {false, true}) {
    TTempDir dir;
    const std::vector<TNativeField> fields = {{"Code", "Integer", 4},
                                              {"Small", "SmallInt", 2},
                                              {"Big", "LargeInt", 8},
                                              {"Ratio", "Float", 8},
                                              {"Amount", "Decimal (7, 2)", 7, 2},
                                              {"Open", "Logical", 1},
                                              {"Seen", "Date", 4},
                                              {"Name", "Char (6)", 6},
                                              {"Tail", "Char (2)", 2}};
    const std::string flags = extended ? std::string(3, '\0') : std::string(1, ' ');
    const std::string record1 = flags + Bin(std::int32_t{-123456}) + Bin(std::int16_t{-2}) +
                                Bin(std::int64_t{1} << 40) + Bin(2.5) + Num("-12.75", 7) +
                                std::string(1, '\1') + Bin(std::int32_t{20240131}) +
                                "\xE4\xEE\xEC" + std::string(3, '\0') + "ok";
    const std::string record2 = flags + Bin(std::int32_t{7}) + Bin(std::int16_t{300}) +
                                Bin(std::int64_t{-5}) + Bin(-0.25) + Num("3.50", 7) +
                                std::string(1, '\0') + Bin(std::int32_t{0}) + "street" + "  ";
    WriteNativeTable(dir, extended, fields, {record1, record2});
    TDbfFile file(dir.File("native.dat"), 0);
    file.Open(true);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.DBFtype(), extended ? datx : dat);
    EXPECT_EQ(file.CodePage(), 1251);
    EXPECT_EQ(file.FieldCount(), 9);
    // With 9 fields the extended layout has two flag bytes after the deletion byte.
    EXPECT_EQ(file.FieldInfo(0).Pos, extended ? 3u : 1u);
    EXPECT_EQ(file.ReadInteger(0, 1), -123456);
    EXPECT_EQ(file.ReadInteger(1, 1), -2);
    EXPECT_EQ(file.ReadInteger(2, 1), std::int64_t{1} << 40);
    EXPECT_EQ(file.ReadFloat(3, 1), 2.5);
    EXPECT_EQ(file.ReadInteger(3, 2), 0);  // -0.25 rounds to 0
    EXPECT_EQ(file.ReadFloat(4, 1), -12.75);
    EXPECT_EQ(file.ReadInteger(4, 2), 4);  // 3.50 rounds half to even
    EXPECT_TRUE(file.ReadBoolean(5, 1));
    EXPECT_FALSE(file.ReadBoolean(5, 2));
    EXPECT_EQ(file.ReadString(7, 1), "\xD0\xB4\xD0\xBE\xD0\xBC");  // Cyrillic in code page 1251
    EXPECT_EQ(file.ReadString(7, 2), "street");
    EXPECT_EQ(file.ReadString(8, 1), "ok");
    EXPECT_THROW(file.ReadInteger(6, 1), Exception);  // dates are not numbers
    // Writes use the binary layout and 1/0 for logical values.
    file.WriteInteger(0, 2, 99);
    file.WriteFloat(1, 2, -31.9);
    file.WriteBoolean(5, 2, true);
    file.WriteFloat(4, 2, 1234.5);
    file.WriteString(7, 2,
                     "\xD0\xB4\xD0\xBE\xD0\xBC\xD0\xB8\xD0\xBA\xD0\xB8\xD0\xB9");  // 7 letters
    file.Close();
    TDbfFile again(dir.File("native.dat"), 0);
    again.Open(false);
    EXPECT_EQ(again.ReadInteger(0, 2), 99);
    EXPECT_EQ(again.ReadInteger(1, 2), -31);
    EXPECT_TRUE(again.ReadBoolean(5, 2));
    EXPECT_EQ(again.ReadFloat(4, 2), 1234.5);
    EXPECT_EQ(again.ReadString(7, 2),
              "\xD0\xB4\xD0\xBE\xD0\xBC\xD0\xB8\xD0\xBA\xD0\xB8");  // cut to 6
  }
  TTempDir dir;
  WriteFileBytes(dir.File("lonely.dat"), std::string(64, '\0'));
  try {
    TDbfFile file(dir.File("lonely.dat"), 0);
    file.Open(false);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Corresponding TAB file is missing for DAT file " + dir.File("lonely.dat"));
  }
}

TEST(DbfFile, WritesFieldsWithinTheirRange) {
  TTempDir dir;
  const std::vector<TFieldDef> fields = {
      {"speed", 'N', 6, 2}, {"count", 'N', 3, 0}, {"flag", 'L', 1, 0}, {"name", 'C', 4, 0}};
  const std::string name =
      WriteDbf(dir, "w.dbf",
               DbfBytes(fields, {" " + Num("1.00", 6) + Num("1", 3) + "F" + "abcd",
                                 " " + Num("2.00", 6) + Num("2", 3) + "F" + "efgh",
                                 " " + Num("3.00", 6) + Num("3", 3) + "T" + "ijkl"}));
  {
    TDbfFile readOnly(name, 0);
    readOnly.Open(false);
    EXPECT_THROW(readOnly.WriteFloat(0, 1, 5), Exception);
  }
  TDbfFile file(name, 0);
  file.Open(true);
  file.WriteFloat(0, 1, 123.456);
  EXPECT_DOUBLE_EQ(file.ReadFloat(0, 1), 123.46);  // read back before any flush
  file.WriteInteger(1, 2, -99);
  EXPECT_EQ(file.ReadInteger(1, 2), -99);
  file.WriteBoolean(2, 2, true);
  file.WriteString(3, 3, "\xC3\xA4xyzzy");  // cut to the width
  file.WriteString(0, 3, "ignored");        // not a text field
  struct TCase {
    const char* what;
    std::function<void()> call;
  };
  const TCase outOfBounds[] = {
      {"too large", [&] { file.WriteFloat(0, 1, 1000); }},
      {"too small", [&] { file.WriteFloat(0, 1, -100); }},
      {"rounds beyond", [&] { file.WriteFloat(0, 1, 999.995); }},
      {"NaN", [&] { file.WriteFloat(0, 1, std::nan("")); }},
      {"integer too large", [&] { file.WriteInteger(1, 1, 1000); }},
  };
  for (const TCase& c : outOfBounds) {
    try {
      c.call();
      ADD_FAILURE() << c.what;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Value is out of bounds") << c.what;
    }
  }
  TBitArray bits(4);
  bits.SetBit(1, true);
  bits.SetBit(3, true);
  file.WriteBitArray(2, bits);
  file.WriteCostArray(1, {0, 7.9f, 8.1f});  // a decimal field rounds to its decimals
  file.WriteIntegerArray(0, {0, 6, 0, 5});
  file.WriteInteger(9, 1, 1);  // out of range: nothing
  file.Close();
  const std::string bytes = ReadFileBytes(name);
  const std::size_t data = 32 + 32 * 4 + 1;
  EXPECT_EQ(bytes.substr(data, 15), "   6.00  8Tabcd");
  EXPECT_EQ(bytes.substr(data + 15, 15), "   0.00  8Fefgh");
  EXPECT_EQ(bytes.substr(data + 30, 15), "   5.00  3T\xE4xyz");  // code page 1252, cut to 4
}

TEST(DbfFile, CorruptHeadersRaise) {
  const std::vector<TFieldDef> fields = {{"a", 'N', 4, 0}, {"b", 'C', 6, 0}};
  const std::string good = DbfBytes(fields, {" " + Num("1", 4) + "one", " " + Num("2", 4) + "two"});
  struct TCase {
    const char* what;
    std::function<void(std::string&)> damage;
  };
  const TCase cases[] = {
      {"empty", [](std::string& b) { b.clear(); }},
      {"header cut", [](std::string& b) { b.resize(20); }},
      {"records cut", [](std::string& b) { b.resize(b.size() - 8); }},
      {"record count huge", [](std::string& b) { Put<std::int32_t>(b, 4, 1 << 30); }},
      {"record count negative", [](std::string& b) { Put<std::int32_t>(b, 4, -1); }},
      {"header length beyond", [](std::string& b) { Put<std::uint16_t>(b, 8, 60000); }},
      {"header length short", [](std::string& b) { Put<std::uint16_t>(b, 8, 31); }},
      {"record length 0", [](std::string& b) { Put<std::uint16_t>(b, 10, 0); }},
      {"fields wider than records", [](std::string& b) { b[32 + 16] = 100; }},
      {"descriptor cut",
       [](std::string& b) {
         b[32 + 32 * 2] = 'x';  // no terminator: the third descriptor runs past the header
         Put<std::uint16_t>(b, 8, 32 + 32 * 2 + 10);
       }},
  };
  for (const TCase& c : cases) {
    TTempDir dir;
    std::string bytes = good;
    c.damage(bytes);
    WriteFileBytes(dir.File("bad.dbf"), bytes);
    TDbfFile file(dir.File("bad.dbf"), 0);
    EXPECT_THROW(file.Open(false), Exception) << c.what;
    EXPECT_FALSE(file.IsOpen()) << c.what;
  }
  // Native tables: a width too small for the type, and fewer field lines than declared.
  TTempDir dir;
  WriteNativeTable(dir, true, {{"Code", "Integer", 2}}, {std::string(2, '\0') + "ab"});
  TDbfFile narrow(dir.File("native.dat"), 0);
  EXPECT_THROW(narrow.Open(false), Exception);
  WriteFileBytes(dir.File("native.tab"),
                 "!table\r\nDefinition Table\r\n  Fields 3\r\n    a Integer ;\r\n");
  TDbfFile shortTab(dir.File("native.dat"), 0);
  EXPECT_THROW(shortTab.Open(false), Exception);
  // Other extensions leave the file closed without an error.
  WriteFileBytes(dir.File("x.txt"), good);
  TDbfFile text(dir.File("x.txt"), 0);
  text.Open(false);
  EXPECT_FALSE(text.IsOpen());
}

TEST(DbfFiles, SeveralFilesReadAsOneTable) {
  TTempDir dir;
  const std::vector<TFieldDef> fields = {{"id", 'N', 3, 0}, {"name", 'C', 4, 0}};
  WriteDbf(dir, "a.dbf", DbfBytes(fields, {" " + Num("1", 3) + "one", " " + Num("2", 3) + "two"}));
  WriteDbf(dir, "b.dbf", DbfBytes(fields, {}));
  WriteDbf(dir, "c.dbf", DbfBytes(fields, {" " + Num("3", 3) + "thr"}));
  TDbfFiles files(0);
  files.Add(dir.File("a.dbf"));
  files.Add(std::vector<std::string>{dir.File("b.dbf"), dir.File("c.dbf")});
  EXPECT_EQ(files.RecordCount(), -1);
  files.Open();
  EXPECT_EQ(files.RecordCount(), 3);
  EXPECT_EQ(files.FieldCount(), 2);
  EXPECT_EQ(files.FindField("NAME"), 1);
  EXPECT_EQ(files.ReadInteger(0, 3), 3);
  EXPECT_EQ(files.ReadString(1, 2), "two");
  EXPECT_EQ(files.ReadString(1, 4), "");
  EXPECT_EQ(files.ReadFloat(0, 0), 0);

  struct TCase {
    std::vector<TFieldDef> fields;
    const char* message;
  };
  const TCase cases[] = {
      {{{"id", 'N', 3, 0}}, "Fields count of table "},
      {{{"name", 'C', 4, 0}, {"id", 'N', 3, 0}}, "Names in table "},
      {{{"id", 'C', 3, 0}, {"name", 'C', 4, 0}}, "Fields types in table "},
  };
  for (const TCase& c : cases) {
    WriteDbf(dir, "d.dbf", DbfBytes(c.fields, {}));
    TDbfFiles mixed(0);
    mixed.Add(dir.File("a.dbf"));
    mixed.Add(dir.File("d.dbf"));
    try {
      mixed.Open();
      ADD_FAILURE() << c.message;
    } catch (const EDifferentDBFFilesStructure& e) {
      EXPECT_EQ(std::string(e.what()), std::string("DBF files structure are different. ") +
                                           c.message + dir.File("d.dbf") +
                                           " is not the same as the first");
    }
  }
}

TEST(DbfFile, LanguageDriverTable) {
  EXPECT_EQ(LanguageDriverCodePage(0x57), 1252);
  EXPECT_EQ(LanguageDriverCodePage(0xC9), 1251);
  EXPECT_EQ(LanguageDriverCodePage(0x00), 0);
  EXPECT_EQ(CodePageLanguageDriver(1252), 0x03);  // the first byte naming it
  EXPECT_EQ(CodePageLanguageDriver(437), 0x01);
  EXPECT_EQ(CodePageLanguageDriver(65001), 0);
}

TEST(DbfFile, ColumnWrittenBackIsReadByGdal) {
  KVNET_REQUIRE_DATA_SET(data, "baltimore");
  KVNET_REQUIRE_OGRINFO();
  TTempDir dir;
  std::filesystem::copy_file(data + "/link.dbf", dir.File("link.dbf"));
  std::filesystem::copy_file(data + "/link.cpg", dir.File("link.cpg"));
  {
    TDbfFile file(dir.File("link.dbf"), 0);
    file.Open(true);
    const std::int32_t speed = file.FindField("speed");
    const std::int32_t street = file.FindField("streetname");
    for (std::int64_t r = 1; r <= file.RecordCount(); r += 97) {
      file.WriteFloat(speed, r, static_cast<double>(r % 130));
      file.WriteString(street, r,
                       "Stra\xC3\x9F"
                       "e " +
                           std::to_string(r));
    }
    file.Close();
  }
  const auto features = OgrFeatures(dir.File("link.dbf"));
  ASSERT_EQ(features.size(), 9777u);
  for (std::size_t r = 1; r <= features.size(); r += 97) {
    EXPECT_EQ(features[r - 1].values.at("speed"), std::to_string(r % 130)) << r;
    EXPECT_EQ(features[r - 1].values.at("streetname"),
              "Stra\xC3\x9F"
              "e " +
                  std::to_string(r));
  }
}

}  // namespace
}  // namespace kvnet
