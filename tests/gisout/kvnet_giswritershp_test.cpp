// The bytes the dBASE and shape-file writers produce.
#include "gisout/kvnet_giswritershp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "foundation/kvnet_exceptions.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

std::uint32_t LE32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

std::uint16_t LE16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    (static_cast<unsigned char>(b[at + 1]) << 8));
}

std::uint32_t BE32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

double Double(const std::string& b, std::size_t at) {
  double v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

class DBFWriter : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir.File(name); }
  // The bytes of row r (from 0) of a table.
  static std::string Row(const std::string& dbf, std::uint32_t r) {
    return dbf.substr(LE16(dbf, 8) + r * LE16(dbf, 10), LE16(dbf, 10));
  }
  test::TTempDir dir;
};

TEST_F(DBFWriter, HeaderAndFieldLayout) {
  {
    TGISWriterDBF w;
    w.FileName = Path("two");
    w.StartHeader(2, otNone);
    w.AddField("A", gfInteger, 3, 2);
    w.AddField("LongFieldName", gfInteger, 0, 0);
    w.AddObject(0, false, "1,-2");
    w.Close();
  }
  const std::string dbf = test::ReadFileBytes(Path("two.dbf"));
  EXPECT_EQ(dbf[0], 3);
  EXPECT_EQ(LE32(dbf, 4), 1u);   // records
  EXPECT_EQ(LE16(dbf, 8), 97);   // 32 x 2 + 33
  EXPECT_EQ(LE16(dbf, 10), 23);  // 1 + 11 + 11
  EXPECT_EQ(dbf[29], 0x03);      // code page 1252
  EXPECT_EQ(dbf.substr(64, 11), std::string("LongFieldN\0", 11));
  EXPECT_EQ(dbf[64 + 11], 'N');
  EXPECT_EQ(dbf[64 + 16], 11);
  EXPECT_EQ(dbf[96], 0x0D);
  EXPECT_EQ(Row(dbf, 0), "           1         -2");
  EXPECT_EQ(dbf.back(), 0x1A);
  EXPECT_EQ(dbf.size(), 97u + 23 + 1);

  {
    TGISWriterDBF w;
    w.FileName = Path("types");
    w.SetCodepage(1250);
    w.StartHeader(9, otPline);
    w.AddField("C", gfChar, 5, 0);
    w.AddField("F", gfFloat, 0, 0);
    w.AddField("D", gfDecimal, 6, 2);
    w.AddField("Day", gfDate, 0, 0);
    w.AddField("L", gfLogical, 0, 0);
    w.AddField("T", gfTime, 0, 0);
    w.AddField("DT", gfDateTime, 0, 0);
    w.AddField("S", gfSmallInt, 0, 0);
    w.AddField("B", gfInt64, 0, 0);
    w.AddObject(0, false, "abcdefg,3.5,-0,20240131,y,123456789,2024013112345678,1234567,1000");
    w.AddObject(0, false, "ab,,1234.5,2024,0,,,-32768,-9223372036854775808");
    w.AddPoint(0, 0, "\"Łódź x\",5E35,-1E-9,,F,,,,");                  // a row, whatever the kind
    EXPECT_THROW(w.AddObject(0, false, "x,abc,1,,,,,,"), Exception);   // not a number
    EXPECT_THROW(w.AddObject(0, false, "x,1,1,,,,,1.5,"), Exception);  // not an integer
    EXPECT_EQ(w.FieldInfo()[2].Width, 20);  // the adjusted layout is what callers see
    w.Close();
  }
  const std::string types = test::ReadFileBytes(Path("types.dbf"));
  EXPECT_EQ(types[29], static_cast<char>(0x9B));  // code page 1250
  EXPECT_EQ(LE32(types, 4), 3u);                  // the refused rows were not written
  const auto descriptor = [&](int i) { return types.substr(32 * static_cast<std::size_t>(i), 32); };
  EXPECT_EQ(descriptor(2)[11], 'N');
  EXPECT_EQ(descriptor(2)[16], 20);  // float width 0 -> 20
  EXPECT_EQ(descriptor(2)[17], 8);   // decimals 0 -> 8
  EXPECT_EQ(descriptor(4)[11], 'D');
  EXPECT_EQ(descriptor(5)[11], 'L');
  EXPECT_EQ(descriptor(6)[11], 'C');
  EXPECT_EQ(descriptor(6)[16], 9);
  EXPECT_EQ(descriptor(7)[16], 17);
  EXPECT_EQ(descriptor(8)[16], 6);
  EXPECT_EQ(descriptor(9)[16], 20);
  // Values: text cut and padded; numbers right-aligned, '*' when too wide, blanks when empty;
  // dates and times only at their exact length; no negative zero.
  const std::string blank17(17, ' ');
  EXPECT_EQ(Row(types, 0), " abcde" + std::string(10, ' ') + "3.50000000" + "  0.00" + "20240131" +
                               "T" + "123456789" + blank17 + "******" + std::string(16, ' ') +
                               "1000");
  EXPECT_EQ(Row(types, 1), " ab   " + std::string(20, ' ') + "******" + std::string(8, ' ') + "F" +
                               std::string(9, ' ') + blank17 + "-32768" + "-9223372036854775808");
  EXPECT_EQ(Row(types, 2), std::string(" \xA3\xF3\x64\x9F ") + std::string(20, '*') + "  0.00" +
                               std::string(8, ' ') + "F" + std::string(9, ' ') + blank17 +
                               std::string(6 + 20, ' '));
}

TEST_F(DBFWriter, RefusesTablesDBaseCannotHold) {
  TGISWriterDBF w;
  w.FileName = Path("big");
  EXPECT_THROW(w.StartHeader(2047, otNone), EInvalidParameter);
  w.StartHeader(259, otNone);
  for (int i = 0; i < 258; ++i)
    w.AddField("F" + std::to_string(i), gfChar, 254, 0);  // 1 + 258 x 254 = 65533 bytes
  EXPECT_THROW(w.AddField("Last", gfChar, 3, 0), EInvalidParameter);
  w.Drop();
  EXPECT_FALSE(std::filesystem::exists(Path("big.dbf")));
}

TEST_F(DBFWriter, ShapeRecords) {
  {
    TGISWriterSHP w;
    w.FileName = Path("lines");
    w.StartHeader(1, otPline);
    w.AddField("N", gfInteger, 0, 0);
    w.AddObject(0, false, "1");  // a null shape
    w.AddObject(2, false, "2");
    auto a = test::MakeSection({{0, 0}, {1, 2}, {2, 0}});
    auto b = test::MakeSection({{-5, 5}, {-6, 7}});
    w.AddSection(0, a);
    w.AddSection(0, b);
    w.Close();
  }
  const std::string shp = test::ReadFileBytes(Path("lines.shp"));
  const std::string shx = test::ReadFileBytes(Path("lines.shx"));
  EXPECT_EQ(BE32(shp, 0), 9994u);
  EXPECT_EQ(LE32(shp, 28), 1000u);
  EXPECT_EQ(LE32(shp, 32), 3u);
  EXPECT_EQ(BE32(shp, 24) * 2, shp.size());
  EXPECT_EQ(Double(shp, 36), -6);  // xmin
  EXPECT_EQ(Double(shp, 44), 0);   // ymin
  EXPECT_EQ(Double(shp, 52), 2);   // xmax
  EXPECT_EQ(Double(shp, 60), 7);   // ymax
  // Record 1: null shape, 8 + 4 bytes.
  EXPECT_EQ(BE32(shp, 100), 1u);
  EXPECT_EQ(BE32(shp, 104), 2u);
  EXPECT_EQ(LE32(shp, 108), 0u);
  // Record 2: 44 + 4 x 2 + 16 x 5 = 132 bytes of content.
  const std::size_t r = 112;
  EXPECT_EQ(BE32(shp, r), 2u);
  EXPECT_EQ(BE32(shp, r + 4), 66u);
  EXPECT_EQ(LE32(shp, r + 8), 3u);
  EXPECT_EQ(Double(shp, r + 12), -6);
  EXPECT_EQ(Double(shp, r + 36), 7);
  EXPECT_EQ(LE32(shp, r + 44), 2u);  // parts
  EXPECT_EQ(LE32(shp, r + 48), 5u);  // points
  EXPECT_EQ(LE32(shp, r + 52), 0u);
  EXPECT_EQ(LE32(shp, r + 56), 3u);
  EXPECT_EQ(Double(shp, r + 60 + 16 * 3), -5);
  EXPECT_EQ(shp.size(), r + 8 + 132);
  // Index: offsets and lengths in 16-bit words.
  EXPECT_EQ(shx.size(), 100u + 16);
  EXPECT_EQ(BE32(shx, 24), (100u + 16) / 2);
  EXPECT_EQ(BE32(shx, 100), 50u);
  EXPECT_EQ(BE32(shx, 104), 2u);
  EXPECT_EQ(BE32(shx, 108), 56u);
  EXPECT_EQ(BE32(shx, 112), 66u);
  EXPECT_EQ(test::ReadFileBytes(Path("lines.cpg")), "1252");
  EXPECT_EQ(test::ReadFileBytes(Path("lines.prj")).substr(0, 22), "GEOGCS[\"GCS_WGS_1984\",");

  {
    TGISWriterSHP w;
    w.FileName = Path("points");
    w.PRJ.clear();
    w.StartHeader(1, otPoint);
    w.AddField("N", gfInteger, 0, 0);
    w.AddPoint(1.5, -2.5, "1");
    w.AddLine(0, 0, 1, 1, "2");  // not a line table: ignored, no row either
    w.Close();
  }
  const std::string points = test::ReadFileBytes(Path("points.shp"));
  EXPECT_EQ(points.size(), 100u + 8 + 20);
  EXPECT_EQ(LE32(points, 108), 1u);
  EXPECT_EQ(Double(points, 112), 1.5);
  EXPECT_EQ(Double(points, 120), -2.5);
  EXPECT_FALSE(std::filesystem::exists(Path("points.prj")));
  EXPECT_EQ(LE32(test::ReadFileBytes(Path("points.dbf")), 4), 1u);

  {
    TGISWriterSHP w;
    w.FileName = Path("table");
    w.StartHeader(1, otNone);
    w.AddField("N", gfInteger, 0, 0);
    w.AddObject(0, false, "1");
    w.Close();
  }
  EXPECT_TRUE(std::filesystem::exists(Path("table.dbf")));
  EXPECT_FALSE(std::filesystem::exists(Path("table.shp")));
}

}  // namespace
}  // namespace kvnet
