// The MIF reader of the import: the real layer against its shape-file twin, every object kind on
// small files written here, the coordinate system and unit, z-levels from the .mid, and damaged
// files.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "import/kvnet_importreaders.h"
#include "support/kvnet_test_import.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

const auto kReadMIF = [](TBaseImport& import) { ReadMIF(import); };

const char* const kLongLat = "CoordSys Earth Projection 1, 104";

// A MIF text with two integer columns, the given CoordSys line (none when empty) and body.
std::string Mif(const std::string& body, const std::string& coordSys = kLongLat,
                const std::string& delimiter = "\",\"") {
  std::string text = "Version 300\r\nCharset \"WindowsLatin1\"\r\nDelimiter " + delimiter + "\r\n";
  if (!coordSys.empty()) text += coordSys + "\r\n";
  text += "Columns 2\r\n  fz Integer\r\n  tz Integer\r\nData\r\n\r\n";
  return text + body;
}

bool SameVertices(const std::vector<TFloatPoint>& a, const std::vector<TFloatPoint>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(a[i] == b[i])) return false;
  }
  return true;
}

class ReadMIFTest : public ::testing::Test {
 protected:
  // Writes name.mif (and name.mid when mid is not empty) and adds the .mif to the import.
  void AddFile(const std::string& name, const std::string& mif, const std::string& mid = "") {
    test::WriteFileBytes(dir.File(name + ".mif"), mif);
    if (!mid.empty()) test::WriteFileBytes(dir.File(name + ".mid"), mid);
    import.Add(dir.File(name + ".mif"));
  }
  // The message of the exception the reader raises.
  std::string Failure() {
    try {
      import.Run(kReadMIF);
    } catch (const Exception& e) {
      return e.what();
    }
    return "no exception";
  }
  const test::TRecordedLink& Link(std::int32_t n) const { return import.links.at(n); }

  test::TTempDir dir;
  test::TRecordingImport import;
};

// ---- real data

TEST(ReadMIF, BaltimoreGivesTheVerticesOfTheShapeFile) {
  KVNET_REQUIRE_DATA_SET(data, "baltimore");
  test::TRecordingImport mif;
  mif.Add(data + "/mif/link.mif");
  mif.Run(kReadMIF);
  test::TRecordingImport shp;
  shp.Add(data + "/link.shp");
  shp.Run([](TBaseImport& i) { ReadSHP(i); });

  EXPECT_EQ(mif.CoordinateUnit(), cuDeg);
  EXPECT_EQ(mif.CoordSys(), "COORDSYS EARTH PROJECTION 1, 104");
  ASSERT_EQ(mif.LinkCount(), 9777);
  EXPECT_EQ(mif.marks, 9778);
  EXPECT_TRUE(mif.ImportErrorList().empty());
  std::size_t differing = 0;
  for (std::int32_t link = 1; link <= 9777; ++link) {
    if (!SameVertices(mif.links.at(link).vertices, shp.links.at(link).vertices)) {
      if (++differing <= 3) ADD_FAILURE() << "link " << link << " differs from the shape file";
    }
  }
  EXPECT_EQ(differing, 0u);
}

// ---- objects and error codes

TEST_F(ReadMIFTest, ObjectsAreKnownByTheirFirstWord) {
  AddFile("a", Mif("Pline 3\r\n0 0\r\n1 1\r\n2 0\r\n    Pen (1,2,0)\r\n"             // 1
                   "Line 0 0 10 0\r\n"                                               // 2
                   "Pline Multiple 2\r\n  2\r\n0 0\r\n1 1\r\n  2\r\n5 5\r\n6 6\r\n"  // 3
                   "  PLINE MULTIPLE 1\r\n  2\r\n3 3\r\n4 4\r\n"                     // 4
                   "none\r\n"                                                        // 5
                   "Point 1 2\r\n    Symbol (35,0,12)\r\n"                           // 6
                   "Text\r\n    \"Line 1 2 3 4\"\r\n    0 0 1 1\r\n"                 // 7
                   "    Font (\"Arial\",0,0,0)\r\n    Label Line Arrow 1 2\r\n"
                   "Region 1\r\n  4\r\n0 0\r\n1 0\r\n1 1\r\n0 0\r\n    Brush (2,0)\r\n"  // 8
                   "Rect 0 0 1 1\r\n"                                                    // 9
                   "Roundrect 0 0 1 1\r\n  0.1\r\n"                                      // 10
                   "Ellipse 0 0 1 1\r\n"                                                 // 11
                   "Arc 0 0 1 1\r\n  0 90\r\n"                                           // 12
                   "Multipoint 2\r\n1 1\r\n2 2\r\n"                                      // 13
                   "Pline 1\r\n7 7\r\n"                                                  // 14
                   "Pline 0\r\n"                                                         // 15
                   "Pline\r\n2\r\n8 8\r\n9\t9\r\n"                                       // 16
                   "\tpline 2\r\n 1e3   -2.5 \r\nNaN -inf\r\n"                           // 17
                   "Line -1.25 .5 3. +4\r\n"));                                          // 18
  import.Run(kReadMIF);

  ASSERT_EQ(import.LinkCount(), 18);
  EXPECT_EQ(import.marks, 19);
  EXPECT_TRUE(SameVertices(Link(1).vertices, {{0, 0}, {1, 1}, {2, 0}}));
  EXPECT_TRUE(SameVertices(Link(2).vertices, {{0, 0}, {10, 0}}));
  EXPECT_TRUE(SameVertices(Link(4).vertices, {{3, 3}, {4, 4}}));
  EXPECT_TRUE(SameVertices(Link(16).vertices, {{8, 8}, {9, 9}}));
  ASSERT_EQ(Link(17).vertices.size(), 2u);
  EXPECT_EQ(Link(17).vertices[0], (TFloatPoint{1000, -2.5}));
  EXPECT_TRUE(std::isnan(Link(17).vertices[1].x));
  EXPECT_EQ(Link(17).vertices[1].y, -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(SameVertices(Link(18).vertices, {{-1.25, 0.5}, {3, 4}}));

  struct TExpectedError {
    std::int32_t link;
    TErrorCode code;
    std::int32_t value;
  };
  const TExpectedError errors[] = {
      {3, ecMultiSection, 2}, {5, ecNotGeoCoded, 0},        {6, ecNotPolyLine, 0},
      {7, ecNotPolyLine, 0},  {8, ecNotPolyLine, 0},        {9, ecNotPolyLine, 0},
      {10, ecNotPolyLine, 0}, {11, ecNotPolyLine, 0},       {12, ecNotPolyLine, 0},
      {13, ecNotPolyLine, 0}, {14, ecZeroOrOneVertices, 1}, {15, ecZeroOrOneVertices, 0}};
  ASSERT_EQ(import.ImportErrorList().size(), std::size(errors));
  for (const TExpectedError& e : errors) {
    ASSERT_TRUE(Link(e.link).error) << "link " << e.link;
    const TImportError& error = Link(e.link).importError;
    EXPECT_EQ(error.errorcode, e.code) << "link " << e.link;
    EXPECT_EQ(error.value, e.value) << "link " << e.link;
    EXPECT_EQ(error.linklocal, e.link);
    EXPECT_EQ(error.fileindex, 0);
  }
}

TEST_F(ReadMIFTest, APlineOfMoreThan65535VerticesIsAnError) {
  std::string body;
  for (const int count : {65535, 65536}) {
    body += "Pline " + std::to_string(count) + "\n";
    for (int i = 0; i < count; ++i)
      body += std::to_string(i) + " " + std::to_string(i % 7) + "\n";
  }
  AddFile("a", Mif(body + "Line 0 0 1 1\n"));
  import.Run(kReadMIF);
  ASSERT_EQ(import.LinkCount(), 3);
  ASSERT_EQ(Link(1).vertices.size(), 65535u);
  EXPECT_EQ(Link(1).vertices[65534], (TFloatPoint{65534, 65534 % 7}));
  EXPECT_EQ(Link(2).importError.errorcode, ecTooManyVertices);
  EXPECT_EQ(Link(2).importError.value, 65536);
  EXPECT_TRUE(SameVertices(Link(3).vertices, {{0, 0}, {1, 1}}));
}

TEST_F(ReadMIFTest, ACollectionStopsTheImport) {
  AddFile("a", Mif("Line 0 0 1 1\r\nCollection 2\r\nPline 2\r\n0 0\r\n1 1\r\n"
                   "Multipoint 1\r\n5 5\r\n"));
  EXPECT_EQ(Failure(), "Collections are not supported in MIF translator");
  EXPECT_EQ(import.LinkCount(), 1);
}

// ---- coordinate system and unit

TEST_F(ReadMIFTest, TheCoordSysLineGivesTheUnit) {
  struct TCase {
    std::string coordSys;  // empty: no CoordSys line
    TCoordinateUnit preset;
    TCoordinateUnit unit;
    std::string text;
  };
  const TCase cases[] = {
      {kLongLat, cuUnknown, cuDeg, "COORDSYS EARTH PROJECTION 1, 104"},
      {"  CoordSys NonEarth Units \"m\" Bounds (0, 0) (100, 100)  ", cuUnknown, cuM,
       "COORDSYS NONEARTH UNITS \"M\" BOUNDS (0, 0) (100, 100)"},
      {"CoordSys Earth Projection 8, 74, \"survey ft\", -96, 0, 0.9996, 500000, 0", cuUnknown,
       cuSurveyft, "COORDSYS EARTH PROJECTION 8, 74, \"SURVEY FT\", -96, 0, 0.9996, 500000, 0"},
      {"CoordSys NonEarth Units \"mi\"", cuUnknown, cuMiles, "COORDSYS NONEARTH UNITS \"MI\""},
      {"CoordSys NonEarth Units \"nmi\"", cuUnknown, cuNmi, "COORDSYS NONEARTH UNITS \"NMI\""},
      {"CoordSys NonEarth Units \"chain\"", cuUnknown, cuChain,
       "COORDSYS NONEARTH UNITS \"CHAIN\""},
      {"CoordSys NonEarth Units \"furlong\"", cuUnknown, cuM,
       "COORDSYS NONEARTH UNITS \"FURLONG\""},
      {"", cuUnknown, cuDeg, "CoordSys Earth Projection 1, 0"},
      {kLongLat, cuFt, cuFt, "COORDSYS EARTH PROJECTION 1, 104"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.coordSys);
    test::WriteFileBytes(dir.File("a.mif"), Mif("Line 0 0 1 1\r\n", c.coordSys));
    test::TRecordingImport one;
    one.SetCoordSys("set by the caller");
    one.SetCoordinateUnit(c.preset);
    one.Add(dir.File("a.mif"));
    one.Run(kReadMIF);
    EXPECT_EQ(one.CoordinateUnit(), c.unit);
    EXPECT_EQ(one.CoordSys(), c.text);
    EXPECT_EQ(one.LinkCount(), 1);
  }
}

TEST_F(ReadMIFTest, LaterFilesMustShareTheCoordSys) {
  AddFile("a", Mif("Line 0 0 1 1\r\nNone\r\n"));
  AddFile("b", Mif("Point 0 0\r\nLine 1 1 2 2\r\n", "coordsys earth projection 1, 104"));
  import.Run(kReadMIF);
  ASSERT_EQ(import.LinkCount(), 4);
  EXPECT_EQ(import.marks, 5);
  EXPECT_EQ(Link(3).importError.linklocal, 1);
  EXPECT_EQ(Link(3).importError.fileindex, 1);
  EXPECT_EQ(Link(4).fileIndex, 1);
  EXPECT_TRUE(SameVertices(Link(4).vertices, {{1, 1}, {2, 2}}));

  AddFile("c", Mif("Line 5 5 6 6\r\n", "CoordSys Earth Projection 1, 33"));
  EXPECT_EQ(Failure(), "Different Coordsys in input tables");
  EXPECT_EQ(import.LinkCount(), 4);

  import.SetFailOnDifferentCoordSys(false);
  import.Run(kReadMIF);
  EXPECT_EQ(import.LinkCount(), 5);
  EXPECT_EQ(import.CoordSys(), "COORDSYS EARTH PROJECTION 1, 104");
}

// ---- z-levels

TEST_F(ReadMIFTest, EachObjectTakesTheNextMidLineForItsLevels) {
  AddFile("a", Mif("Line 0 0 1 0\r\nNone\r\nPline 2\r\n1 0\r\n2 0\r\n"),
          "-9,9\r\n0,0\r\n\"3\",4\r\n");
  test::WriteFileBytes(dir.File("b.mif"), Mif("Line 2 0 3 0\r\n"));
  test::WriteFileBytes(dir.File("b.MID"), "1, -2\r\n");
  import.Add(dir.File("b.mif"));
  import.SetZFromField(0);
  import.SetZToField(1);
  import.Run(kReadMIF);
  ASSERT_EQ(import.LinkCount(), 4);
  EXPECT_EQ(Link(1).zFrom, -9);
  EXPECT_EQ(Link(1).zTo, 9);
  EXPECT_TRUE(Link(2).error);
  EXPECT_EQ(Link(3).zFrom, 3);
  EXPECT_EQ(Link(3).zTo, 4);
  EXPECT_EQ(Link(4).zFrom, 1);
  EXPECT_EQ(Link(4).zTo, -2);
}

TEST_F(ReadMIFTest, BadZLevelsRaise) {
  AddFile("a", Mif("Line 0 0 1 0\r\nLine 1 0 2 0\r\n"), "0,0\r\n1,10\r\n");
  import.SetZFromField(0);
  import.SetZToField(1);
  try {
    import.Run(kReadMIF);
    ADD_FAILURE() << "no exception";
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Z-levels of out range (-9..9)");
  }
  EXPECT_EQ(import.LinkCount(), 2);

  import.SetZToField(2);
  EXPECT_EQ(Failure(), "Invalid fields for Z-levels defined");

  import.SetZToField(1);
  test::WriteFileBytes(dir.File("a.mid"), "0,0\r\n");
  EXPECT_EQ(Failure(), "The MID files end before the attributes of object 2");
}

// ---- damaged files

TEST_F(ReadMIFTest, DamagedFilesRaiseAnExceptionNamingFileAndLine) {
  struct TCase {
    const char* name;
    std::string mif;
    const char* where;  // expected in the message after the file name
  };
  // The Data line of Mif() is line 8; the body starts at line 10.
  const TCase cases[] = {
      {"count not a number", Mif("Pline abc\r\n0 0\r\n1 1\r\n"), ", line 10: "},
      {"negative count", Mif("Pline -2\r\n0 0\r\n1 1\r\n"), ", line 10: "},
      {"count and more", Mif("Pline 2 3\r\n0 0\r\n1 1\r\n"), ", line 10: "},
      {"sections not a number", Mif("Pline Multiple x\r\n"), ", line 10: "},
      {"count line not a number", Mif("Pline\r\n    Pen (1,2,0)\r\n"), ", line 11: "},
      {"count line missing", Mif("Line 0 0 1 1\r\nPline\r\n"), ": the file ends after"},
      {"coordinate not a number", Mif("Pline 2\r\n0 0\r\n1.5 abc\r\n"), ", line 12: "},
      {"three numbers", Mif("Pline 2\r\n0 0 0\r\n1 1\r\n"), ", line 11: "},
      {"decimal comma", Mif("Pline 2\r\n0 0\r\n1,5 2\r\n"), ", line 12: "},
      {"count beyond the next object", Mif("Pline 3\r\n0 0\r\n1 1\r\nLine 0 0 1 1\r\n"),
       ", line 13: "},
      {"count beyond the file", Mif("Pline 3\r\n0 0\r\n1 1\r\n"),
       ": the Pline of line 10 announces 3 vertices, the file ends after 2"},
      {"huge count", Mif("Pline 2000000000\r\n0 0\r\n1 1\r\n"),
       ": the Pline of line 10 announces 2000000000 vertices, the file ends after 2"},
      {"Line of three numbers", Mif("Line 0 0 1\r\n"), ", line 10: "},
      {"Line of text", Mif("Line 0 0 1 x\r\n"), ", line 10: "},
      {"bad delimiter", Mif("Line 0 0 1 1\r\n", kLongLat, "\";\""), ", line 3: "},
      {"tab delimiter", Mif("Line 0 0 1 1\r\n", kLongLat, "\"\t\""), ", line 3: "},
      {"no Data line", "Version 300\r\nCoordSys Earth Projection 1, 104\r\nLine 0 0 1 1\r\n",
       " has no DATA line"},
      {"column list cut short", "Version 300\r\nColumns 3\r\n  a Integer\r\n",
       ", line 3: the file ends inside the column list"},
      {"column count not a number", "Version 300\r\nColumns three\r\nData\r\n", ", line 2: "},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(dir.File("d.mif"), c.mif);
    test::TRecordingImport one;
    one.Add(dir.File("d.mif"));
    try {
      one.Run(kReadMIF);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(dir.File("d.mif") + c.where), std::string::npos) << message;
    }
  }
}

// A column named like a header keyword is a column, not a keyword.
TEST_F(ReadMIFTest, ColumnNamesAreNotHeaderKeywords) {
  AddFile("a",
          "Version 300\nColumns 3\n  Delimiter Char(5)\n  CoordSys Char(5)\n  Data Integer\n"
          "CoordSys NonEarth Units \"km\"\nData\nLine 0 0 1 1\n");
  import.Run(kReadMIF);
  EXPECT_EQ(import.CoordinateUnit(), cuKm);
  EXPECT_EQ(import.LinkCount(), 1);
}

// ---- cancel

TEST_F(ReadMIFTest, CancelStopsAfterTheCurrentObject) {
  std::string body;
  for (int i = 0; i < 200; ++i)
    body += "Line 0 " + std::to_string(i) + " 1 " + std::to_string(i) + "\n";
  AddFile("a", Mif(body));
  import.OnProgress = [](TProgress&, int progress, bool& cancel) { cancel = progress >= 50;
};
import.Run(kReadMIF);
EXPECT_TRUE(import.Cancelled());
EXPECT_GT(import.LinkCount(), 50);
EXPECT_LT(import.LinkCount(), 150);
EXPECT_EQ(import.links.size(), static_cast<std::size_t>(import.LinkCount()));
EXPECT_EQ(import.marks, import.LinkCount());  // no closing mark for a cancelled read
}  // namespace

}  // namespace kvnet
}  // namespace kvnet
