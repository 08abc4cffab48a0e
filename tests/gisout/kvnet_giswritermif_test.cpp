// The text the MIF/MID and CSV writers produce, line by line.
#include "gisout/kvnet_giswritermif.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using Lines = std::vector<std::string>;

// The lines of a file written with CR LF line ends (the last line end included).
Lines ReadLines(const std::string& file) {
  const std::string bytes = test::ReadFileBytes(file);
  Lines lines;
  std::size_t from = 0;
  while (from < bytes.size()) {
    const auto end = bytes.find("\r\n", from);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(from) + "(no line end)");
      break;
    }
    lines.push_back(bytes.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

class MIFWriter : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir.File(name); }
  test::TTempDir dir;
};

TEST_F(MIFWriter, HeaderFollowsFieldsAndCodePage) {
  {
    TGISWriterMIF w;
    w.FileName = Path("a");
    w.StartHeader(4, otPline);
    w.AddField("Name", gfChar, 255, 0);
    w.AddField("Ratio", gfDecimal, 12, 3);
    w.AddField("Clock", gfTime, 0, 0);
    w.AddField("Big", gfInt64, 0, 0);
    w.Close();
  }
  EXPECT_EQ(ReadLines(Path("a.mif")),
            (Lines{"Version 900", "CharSet \"WindowsLatin1\"", "Delimiter \",\"",
                   "CoordSys Earth Projection 1, 104", "Columns 4", "  Name Char(254)",
                   "  Ratio Decimal(12,3)", "  Clock Time", "  Big LargeInt", "Data"}));

  {
    TGISWriterMIF w;
    w.FileName = Path("b");
    w.SetCodepage(737);  // a code page without a MapInfo character-set name
    w.StartHeader(2, otNone);
    w.AddField("A", gfInteger, 0, 0);
    w.AddField("B", gfLogical, 0, 0);
    w.AddObject(0, false, "1,T");
    w.Close();
  }
  EXPECT_EQ(ReadLines(Path("b.mif")), (Lines{"Version 300", "Delimiter \",\"", "Columns 2",
                                             "  A Integer", "  B Logical", "Data", "None"}));
  EXPECT_EQ(ReadLines(Path("b.mid")), (Lines{"1,T"}));

  {
    TGISWriterMIF8 w;
    w.FileName = Path("c");
    w.StartHeader(1, otPoint);
    w.AddField("Name", gfChar, 10, 0);
    w.AddPoint(1, 2, "\"Αθήνα\"");
    w.Close();
  }
  const std::string mif = test::ReadFileBytes(Path("c.mif"));
  EXPECT_EQ(mif.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(ReadLines(Path("c.mif"))[0], "\xEF\xBB\xBFVersion 1520");
  EXPECT_EQ(ReadLines(Path("c.mif"))[1], "CharSet \"UTF-8\"");
  EXPECT_EQ(ReadLines(Path("c.mid")), (Lines{"\"Αθήνα\""}));  // no mark before the first value
}

TEST_F(MIFWriter, TableWithoutFieldsIsComplete) {
  {
    TGISWriterMIF w;
    w.FileName = Path("none");
    w.StartHeader(0, otPoint);
    w.AddPoint(3, 4, "");
    w.Close();
  }
  const Lines lines = ReadLines(Path("none.mif"));
  EXPECT_EQ(lines[4], "Columns 0");
  EXPECT_EQ(lines.back(), "Point 3 4");
  EXPECT_EQ(ReadLines(Path("none.mid")), (Lines{""}));
}

TEST_F(MIFWriter, GeometryAndStyles) {
  {
    TGISWriterMIF w;
    w.FileName = Path("lines");
    w.Pen = MakePen(2, 2, 255);  // pure red as stored
    w.StartHeader(1, otPline);
    w.AddField("N", gfInteger, 0, 0);
    w.AddObject(1, false, "1");
    auto two = test::MakeSection({{0, 0}, {1.5, -2}});
    w.AddSection(0, two);
    w.AddObject(1, false, "2");
    auto three = test::MakeSection({{0, 0}, {1, 1}, {2, 1e-7}});
    w.AddSection(0, three);
    w.AddObject(2, false, "3");
    w.AddSection(0, two);
    w.AddSection(0, two);
    w.AddLine(5, 6, 7, 8, "4");
    w.AddObject(0, false, "5");
    w.AddPoint(1, 1, "6");  // not a point table: ignored
    w.Close();
  }
  const Lines lines = ReadLines(Path("lines.mif"));
  const Lines data(lines.begin() + 7, lines.end());
  EXPECT_EQ(data, (Lines{"Line 0 0 1.5 -2", "    Pen(2,2,16711680)", "Pline 3", "0 0", "1 1",
                         "2 1E-7", "    Pen(2,2,16711680)", "Pline multiple 2", "2", "0 0",
                         "1.5 -2", "2", "0 0", "1.5 -2", "    Pen(2,2,16711680)", "Line 5 6 7 8",
                         "    Pen(2,2,16711680)", "None"}));
  EXPECT_EQ(ReadLines(Path("lines.mid")), (Lines{"1", "2", "3", "4", "5"}));

  {
    TGISWriterMIF w;
    w.FileName = Path("regions");
    w.Brush = MakeBrush(2, 0x0000FF00, 0x00FF0000);  // green on blue, as stored
    w.Pen = MakePen(1, 2, 0x00123456);
    w.StartHeader(1, otRegion);
    w.AddField("N", gfInteger, 0, 0);
    w.AddObject(2, false, "1");
    auto outer = test::MakeSection({{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}});
    auto hole = test::MakeSection({{2, 2}, {4, 2}, {4, 4}, {2, 2}});
    w.AddSection(0, outer);
    w.AddSection(1, hole);
    w.CompactMIF = true;
    w.AddObject(1, false, "2");
    w.AddSection(0, outer);
    w.Close();
  }
  const Lines regions = ReadLines(Path("regions.mif"));
  EXPECT_EQ(Lines(regions.begin() + 7, regions.end()), (Lines{"Region 2",
                                                              "5",
                                                              "0 0",
                                                              "0 10",
                                                              "10 10",
                                                              "10 0",
                                                              "0 0",
                                                              "4",
                                                              "2 2",
                                                              "4 2",
                                                              "4 4",
                                                              "2 2",
                                                              "    Brush(2,65280,255)",
                                                              "    Pen(1,2,5649426)",
                                                              "Region 1",
                                                              "5",
                                                              "0 0",
                                                              "0 10",
                                                              "10 10",
                                                              "10 0",
                                                              "0 0"}));

  {
    TGISWriterMIF w;
    w.FileName = Path("points");
    w.Symbol = TMISymbol{35, 0x000000FF, 14};
    w.StartHeader(1, otPoint);
    w.AddField("N", gfInteger, 0, 0);
    w.AddPoint(-77.5, 38.25, "1");
    w.AddObject(1, false, "2");  // points come only through AddPoint
    auto p = test::MakeSection({{1, 1}});
    w.AddSection(0, p);
    w.Close();
  }
  const Lines points = ReadLines(Path("points.mif"));
  EXPECT_EQ(Lines(points.begin() + 7, points.end()),
            (Lines{"Point -77.5 38.25", "    Symbol(35,16711680,14)", "None"}));
  EXPECT_EQ(ReadLines(Path("points.mid")), (Lines{"1", "2"}));
}

TEST_F(MIFWriter, CsvKeepsAttributesOnly) {
  {
    TGISWriterCSV w;
    w.FileName = Path("t");
    w.StartHeader(2, otPline);
    w.AddField("Name \"x\"", gfChar, 10, 0);
    w.AddField("N", gfInteger, 0, 0);
    w.AddObject(1, false, "\"a, b\",1");
    auto s = test::MakeSection({{0, 0}, {1, 1}});
    w.AddSection(0, s);
    w.AddPoint(0, 0, "\"p\",2");  // written whatever the kind
    w.AddLine(0, 0, 1, 1, "\"Straße\",3");
    w.Close();
    EXPECT_EQ(w.WrittenRecords(), 3);
  }
  EXPECT_EQ(test::ReadFileBytes(Path("t.csv")),
            "\"Name \"\"x\"\"\",\"N\"\r\n\"a, b\",1\r\n\"p\",2\r\n\"Stra\xDF"
            "e\",3\r\n");
  {
    TGISWriterCSV w;
    w.FileName = Path("empty");
    w.StartHeader(0, otNone);
    w.AddObject(0, false, "");
    w.Close();
  }
  EXPECT_EQ(test::ReadFileBytes(Path("empty.csv")), "\r\n");
}

TEST_F(MIFWriter, DropRemovesTheFiles) {
  TGISWriterMIF w;
  w.FileName = Path("gone");
  w.StartHeader(1, otPoint);
  w.AddField("N", gfInteger, 0, 0);
  w.AddPoint(1, 2, "1");
  w.Close();
  EXPECT_TRUE(std::filesystem::exists(Path("gone.mif")));
  w.Drop();
  EXPECT_FALSE(std::filesystem::exists(Path("gone.mif")));
  EXPECT_FALSE(std::filesystem::exists(Path("gone.mid")));
}

}  // namespace
}  // namespace kvnet
