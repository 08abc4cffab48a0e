// The writer contract, observed through the array writer (which keeps every record it receives):
// value splitting, section merging, densification, the call-order checks, and the helpers.
#include "gisout/kvnet_giswriter.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <numbers>

#include "foundation/kvnet_exceptions.h"
#include "gisout/kvnet_flexwriter.h"
#include "gisout/kvnet_gisarray.h"
#include "gisout/kvnet_giswriterarray.h"
#include "gisout/kvnet_giswritermif.h"
#include "gisout/kvnet_giswritershp.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using Points = std::vector<TFloatPoint>;

template <typename F>
std::string MessageOf(F&& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// An array writer with n text fields named F1..Fn.
struct TTextTable {
  explicit TTextTable(std::int32_t n, TObjectTypes kind = otPline) {
    writer.StartHeader(n, kind);
    for (std::int32_t i = 1; i <= n; ++i)
      writer.AddField("F" + std::to_string(i), gfChar, 20, 0);
  }
  const TGISArray& Array() const { return *writer.GISarray; }
  TGISWriterArray writer;
};

TEST(GISWriter, SplitsValueListsLikeAMidLine) {
  struct TCase {
    const char* attrib;
    std::vector<std::string> values;
  };
  const TCase cases[] = {
      {R"(7,"New Town",3)", {"7", "New Town", "3"}},
      {R"(7,New Town,3)", {"7", "New", "Town", "3"}},  // a space ends an unquoted value
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {"", {}},
      {R"(  "say ""hi""" , x)", {"say \"hi\"", "x"}},
      {R"("a,b")", {"a,b"}},
      {"x\ty", {"x", "y"}},
  };
  for (const TCase& c : cases) {
    TTextTable table(static_cast<std::int32_t>(c.values.size()), otNone);
    table.writer.AddObject(0, false, c.attrib);
    ASSERT_EQ(table.Array().RecCount, 1) << c.attrib;
    std::vector<std::string> got;
    for (const TGISValue& v : table.Array().Rec[0].Attr)
      got.push_back(std::get<std::string>(v));
    EXPECT_EQ(got, c.values) << c.attrib;
  }
}

TEST(GISWriter, NulCharactersNeitherHangNorVanish) {
  // A NUL inside the text separates values like a blank.
  TTextTable table(2, otNone);
  table.writer.AddObject(0, false, std::string("a\0b", 3));
  EXPECT_EQ(std::get<std::string>(table.Array().Rec[0].Attr[1]), "b");
}

TEST(GISWriter, ValueCountMustMatchTheFields) {
  TTextTable table(2, otNone);
  EXPECT_EQ(MessageOf([&] { table.writer.AddObject(0, false, "1,2,3"); }),
            "Number of values must match number of fields. NumVal = 3, NumFields = 2, "
            "string = \"1,2,3\"");
  // The refused record left nothing behind: the next one is record 1 and Close succeeds.
  table.writer.AddObject(0, false, "1,2");
  EXPECT_EQ(table.Array().RecCount, 1);
  EXPECT_NO_THROW(table.writer.Close());
}

TEST(GISWriter, MergesTouchingSectionsOfAPolyline) {
  TTextTable table(1);
  table.writer.SetOptimizePLinesSections(true);
  // A->B, B->C, D->E: two parts, the joint point B written once.
  table.writer.AddObject(3, false, "x");
  auto ab = test::MakeSection({{0, 0}, {1, 0}});
  auto bc = test::MakeSection({{1, 0}, {2, 1}, {3, 1}});
  auto de = test::MakeSection({{5, 5}, {6, 6}});
  table.writer.AddSection(0, ab);
  table.writer.AddSection(0, bc);
  EXPECT_EQ(table.Array().RecCount, 0);  // nothing is written before the last section
  table.writer.AddSection(0, de);
  ASSERT_EQ(table.Array().RecCount, 1);
  const auto& coord = table.Array().Rec[0].Coord;
  ASSERT_EQ(coord.size(), 2u);
  EXPECT_EQ(coord[0], (Points{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
  EXPECT_EQ(coord[1], (Points{{5, 5}, {6, 6}}));

  // Sections that share only one coordinate, or join an earlier part, stay apart; the buffer
  // kept from the first object must not leak into this one.
  table.writer.AddObject(3, false, "y");
  auto p1 = test::MakeSection({{0, 0}, {1, 0}});
  auto p2 = test::MakeSection({{1, 5}, {2, 5}});  // starts at x = 1 but not at (1, 0)
  auto p3 = test::MakeSection({{0, 0}, {0, 1}});  // starts where the first part starts
  table.writer.AddSection(0, p1);
  table.writer.AddSection(0, p2);
  table.writer.AddSection(0, p3);
  ASSERT_EQ(table.Array().RecCount, 2);
  EXPECT_EQ(table.Array().Rec[1].Coord,
            (std::vector<Points>{{{0, 0}, {1, 0}}, {{1, 5}, {2, 5}}, {{0, 0}, {0, 1}}}));
}

TEST(GISWriter, MergingLeavesSingleSectionsAndRegionsAlone) {
  TTextTable lines(1);
  lines.writer.SetOptimizePLinesSections(true);
  lines.writer.AddObject(1, false, "x");
  EXPECT_EQ(lines.Array().RecCount, 1);  // written at once
  auto s = test::MakeSection({{0, 0}, {1, 1}});
  lines.writer.AddSection(0, s);

  TTextTable regions(1, otRegion);
  regions.writer.SetOptimizePLinesSections(true);
  regions.writer.AddObject(2, true, "r");
  auto a = test::MakeSection({{0, 0}, {0, 1}, {1, 1}, {0, 0}});
  auto b = test::MakeSection({{0, 0}, {1, 0}, {1, 1}, {0, 0}});  // touches a, yet is its own ring
  regions.writer.AddSection(0, a);
  regions.writer.AddSection(-1, b);
  EXPECT_EQ(regions.Array().Rec[0].Coord.size(), 2u);
}

TEST(GISWriter, MergingCannotBeSwitchedDuringAnObject) {
  TTextTable table(1);
  table.writer.AddObject(2, false, "x");
  EXPECT_EQ(MessageOf([&] { table.writer.SetOptimizePLinesSections(true); }),
            "Can not change the OptimizePLinesSections property during processing sections.");
  auto s = test::MakeSection({{0, 0}, {1, 1}});
  table.writer.AddSection(0, s);
  table.writer.AddSection(0, s);
  EXPECT_NO_THROW(table.writer.SetOptimizePLinesSections(true));
}

TEST(GISWriter, DensifiesAlongGreatCircles) {
  TTextTable table(1);
  table.writer.GreatCircleDist = 500;
  // 10 degrees on the equator are 1113 km: two points at a third and two thirds.
  table.writer.AddObject(1, false, "x");
  auto equator = test::MakeSection({{0, 0}, {10, 0}});
  table.writer.AddSection(0, equator);
  const Points& e = table.Array().Rec[0].Coord[0];
  ASSERT_EQ(e.size(), 4u);
  EXPECT_NEAR(e[1].x, 10.0 / 3, 1e-9);
  EXPECT_NEAR(e[2].x, 20.0 / 3, 1e-9);
  EXPECT_NEAR(e[1].y, 0, 1e-9);
  EXPECT_EQ(equator.Count, 4);  // the caller's section is densified in place

  // Off the equator and westwards, with an unchanged short pair: the inserted points must lie
  // on the great circle, evenly spaced (checked against interpolation of unit vectors).
  table.writer.GreatCircleDist = 300;
  table.writer.AddObject(1, false, "y");
  const Points input = {{-74.0, 40.7}, {-74.1, 40.8}, {2.35, 48.85}};
  auto route = test::MakeSection(input);
  table.writer.AddSection(0, route);
  const Points& r = table.Array().Rec[1].Coord[0];
  const auto unit = [](const TFloatPoint& p) {
    const double lat = p.y * std::numbers::pi / 180;
    const double lon = p.x * std::numbers::pi / 180;
    return std::array<double, 3>{std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon),
                                 std::sin(lat)};
  };
  const auto a = unit(input[1]);
  const auto b = unit(input[2]);
  const double omega = std::acos(a[0] * b[0] + a[1] * b[1] + a[2] * b[2]);
  const auto n = static_cast<std::int32_t>(omega * 6378.13 / 300);
  ASSERT_EQ(r.size(), 3u + static_cast<std::size_t>(n));
  EXPECT_EQ(r[0], input[0]);
  EXPECT_EQ(r[1], input[1]);
  EXPECT_EQ(r.back(), input[2]);
  for (std::int32_t k = 1; k <= n; ++k) {
    const double t = static_cast<double>(k) / (n + 1);
    const double wa = std::sin((1 - t) * omega) / std::sin(omega);
    const double wb = std::sin(t * omega) / std::sin(omega);
    std::array<double, 3> v{};
    for (int i = 0; i < 3; ++i)
      v[static_cast<std::size_t>(i)] =
          wa * a[static_cast<std::size_t>(i)] + wb * b[static_cast<std::size_t>(i)];
    const TFloatPoint& p = r[static_cast<std::size_t>(k) + 1];
    EXPECT_NEAR(p.y, std::asin(v[2]) * 180 / std::numbers::pi, 1e-9) << k;
    EXPECT_NEAR(p.x, std::atan2(v[1], v[0]) * 180 / std::numbers::pi, 1e-9) << k;
  }

  // A step that would create absurd numbers of points is refused.
  table.writer.GreatCircleDist = 1e-12;
  table.writer.AddObject(1, false, "z");
  auto far = test::MakeSection({{0, 0}, {90, 0}});
  EXPECT_THROW(table.writer.AddSection(0, far), EInvalidParameter);
}

TEST(GISWriter, RefusesCallsOutOfOrder) {
  TGISWriterArray writer;
  auto line = test::MakeSection({{0, 0}, {1, 1}});
  auto open = test::MakeSection({{0, 0}, {0, 1}, {1, 1}, {1, 0}});
  auto small = test::MakeSection({{0, 0}, {0, 1}, {0, 0}});
  TFloatPointArrayEx empty;
  struct TCase {
    const char* what;
    TObjectTypes kind;
    std::function<void()> call;
    const char* message;
  };
  const TCase cases[] = {
      {"extra field", otPline,
       [&] {
         writer.AddField("A", gfChar, 5, 0);
         writer.AddField("B", gfChar, 5, 0);
       },
       "You are trying to add more fields than declared"},
      {"object before fields", otPline, [&] { writer.AddObject(0, false, ""); },
       "You are trying to add objects before all fields has been added"},
      {"open ring", otRegion,
       [&] {
         writer.AddField("A", gfChar, 5, 0);
         writer.AddObject(1, false, "a");
         writer.AddSection(0, open);
       },
       "Region objects must be closed"},
      {"short ring", otRegion,
       [&] {
         writer.AddField("A", gfChar, 5, 0);
         writer.AddObject(1, false, "a");
         writer.AddSection(0, small);
       },
       "Region objects must have >=4 points"},
      {"empty section", otPline,
       [&] {
         writer.AddField("A", gfChar, 5, 0);
         writer.AddObject(1, false, "a");
         writer.AddSection(0, empty);
       },
       "WriteSection requires that Segments.count>0"},
      {"section too many", otPline,
       [&] {
         writer.AddField("A", gfChar, 5, 0);
         writer.AddObject(1, false, "a");
         writer.AddSection(0, line);
         writer.AddSection(0, line);
       },
       "No section expected: the object announced 1 sections"},
      {"object too early", otPline,
       [&] {
         writer.AddField("A", gfChar, 5, 0);
         writer.AddObject(2, false, "a");
         writer.AddSection(0, line);
         writer.AddObject(1, false, "b");
       },
       "The object being written has received 1 of its 2 sections"},
      {"close too early", otPline,
       [&] {
         writer.AddField("A", gfChar, 5, 0);
         writer.AddObject(2, false, "a");
         writer.AddSection(0, line);
         writer.Close();
       },
       "The object being written has received 1 of its 2 sections"},
      {"close before fields", otPline, [&] { writer.Close(); },
       "The table was closed after 0 of its 1 fields"},
  };
  for (const TCase& c : cases) {
    writer.Drop();
    writer.StartHeader(1, c.kind);
    EXPECT_EQ(MessageOf(c.call), c.message) << c.what;
  }
  writer.Drop();
  EXPECT_EQ(MessageOf([&] { writer.AddObject(0, false, ""); }),
            "The writer is not open: call StartHeader first");
}

TEST(GISWriter, AbandonedOrFailedWritersLeaveNoFiles) {
  const test::TTempDir dir;
  auto write = [&](const std::string& name, bool complete) {
    TGISWriterSHP writer;
    writer.FileName = dir.File(name);
    writer.StartHeader(1, otPline);
    writer.AddField("A", gfChar, 5, 0);
    writer.AddObject(2, false, "a");
    auto s = test::MakeSection({{0, 0}, {1, 1}});
    writer.AddSection(0, s);
    if (complete) writer.AddSection(0, s);
  };
  write("complete", true);  // destroyed normally: completed as by Close
  EXPECT_TRUE(std::filesystem::exists(dir.File("complete.shp")));
  EXPECT_EQ(std::filesystem::file_size(dir.File("complete.shp")), 100u + 8 + 44 + 8 + 64);

  write("pending", false);  // an object still waits for a section
  for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"})
    EXPECT_FALSE(std::filesystem::exists(dir.File(std::string("pending") + ext))) << ext;

  try {
    TGISWriterMIF writer;
    writer.FileName = dir.File("unwound");
    writer.StartHeader(1, otPoint);
    writer.AddField("A", gfChar, 5, 0);
    writer.AddPoint(1, 2, "a");
    throw std::runtime_error("the caller failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("unwound.mif")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("unwound.mid")));
}

TEST(GISWriter, AFailingCloseRemovesItsFiles) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "/dev/full is needed";
  const test::TTempDir dir;
  // The .mid lands on a device that takes no data: Close must fail and leave no .mif.
  std::filesystem::create_symlink("/dev/full", dir.File("full.mid"));
  TGISWriterMIF writer;
  writer.FileName = dir.File("full");
  writer.StartHeader(1, otPoint);
  writer.AddField("A", gfChar, 5, 0);
  writer.AddPoint(1, 2, "a");
  EXPECT_THROW(writer.Close(), EWriteError);
  EXPECT_FALSE(std::filesystem::exists(dir.File("full.mif")));
  EXPECT_FALSE(std::filesystem::is_symlink(dir.File("full.mid")));
}

TEST(GISWriter, CodePageRules) {
  TGISWriterMIF mif;
  EXPECT_EQ(mif.Codepage(), 1252);  // the system default
  mif.SetCodepage(65001);
  mif.SetCodepage(1200);
  EXPECT_EQ(mif.Codepage(), 1252);  // both ignored
  mif.SetCodepage(1250);
  EXPECT_EQ(mif.Codepage(), 1250);
  EXPECT_THROW(mif.SetCodepage(4242), EEncodingError);
  EXPECT_EQ(mif.Codepage(), 1250);

  TGISWriterMIF8 mif8;
  EXPECT_EQ(mif8.Codepage(), 65001);
  mif8.SetCodepage(1252);
  EXPECT_EQ(mif8.Codepage(), 65001);
}

TEST(GISWriter, FactoryAndFileFullSignal) {
  EXPECT_NE(dynamic_cast<TGISWriterSHP*>(TGISWriter::GetGISObject(gfSHP).get()), nullptr);
  EXPECT_NE(dynamic_cast<TGISWriterMIF8*>(TGISWriter::GetGISObject(gfMIF8).get()), nullptr);
  EXPECT_NE(dynamic_cast<TGISWriterArray*>(TGISWriter::GetGISObject(gfArray).get()), nullptr);
  // Library formats without their library fall back to MIF.
  for (TGISFormat f : {gfMITAB, gfMFAL, gfEFAL, gfEFALx}) {
    const auto w = TGISWriter::GetGISObject(f);
    const TGISWriter& writer = *w;
    EXPECT_EQ(typeid(writer), typeid(TGISWriterMIF)) << static_cast<int>(f);
  }
  TGISWriterDBF dbf;
  EXPECT_FALSE(dbf.FileIsFull());
}

TEST(GISWriter, ProposesFieldTypes) {
  const TGISWriterMIF writer;
  struct TCase {
    std::vector<std::string> values;
    TGISField type;
    std::int32_t width;
  };
  const TCase cases[] = {
      {{"12", "-7", " 345 "}, gfInteger, 5},
      {{"12", "0"}, gfChar, 2},  // a 0 makes text (it could be a code)
      {{"007"}, gfChar, 3},
      {{"2147483648"}, gfChar, 10},
      {{"12", ""}, gfChar, 2},
      {{"Straße"}, gfChar, 6},  // characters, not UTF-8 bytes, in code page 1252
      {{}, gfInteger, 1},
  };
  for (const TCase& c : cases) {
    std::int32_t width = 0;
    EXPECT_EQ(writer.SL2GISField(c.values, width), c.type) << c.values.size();
    EXPECT_EQ(width, c.width);
  }
}

TEST(GISWriter, Helpers) {
  EXPECT_EQ(DateToISO("20240131"), "2024-01-31");
  EXPECT_EQ(DateTimeToISO("20240131123456789"), "2024-01-31T12:34:56.789");
  EXPECT_EQ(TimeToISO("123456789"), "12:34:56.789");
  EXPECT_EQ(DateToISO("2024"), "2024-");  // short text: no read beyond its end
  for (const char* yes : {"T", "true", "y", "Yes", "1"})
    EXPECT_TRUE(IsTrueText(yes)) << yes;
  for (const char* no : {"", "F", "0", "no", " T"})
    EXPECT_FALSE(IsTrueText(no)) << no;
  EXPECT_EQ(QuoteAttribute(R"(a "b")"), R"("a ""b""")");

  struct TBound {
    double value;
    const char* text;
  };
  const TBound bounds[] = {
      {12.5, "12.5000000000000"},     {-77, "-77.000000000000"},
      {0.000001, "1.00000000000E-6"}, {-123456.789012345678, "-123456.78901235"},
      {1e38, "1.00000000000E38"},     {-9.87654321e-300, "-9.87654321E-300"},
  };
  for (const TBound& b : bounds) {
    const std::string text = FormatBound16(b.value);
    EXPECT_EQ(text, b.text) << b.value;
    EXPECT_EQ(text.size(), 16u);
    EXPECT_NEAR(std::stod(text), b.value, std::fabs(b.value) * 1e-7) << text;
  }
}

// Exposes the bounds patching of the base to the test.
class TBoundsWriter : public TGISWriterCSV {
 public:
  void Patch() {
    UpdateBounds(-77.25, 38.5);
    UpdateBounds(0.000001, 39);
    PatchBounds(".csv", "<minx>", "<miny>", "<maxx>", "<maxy>");
  }
};

TEST(GISWriter, PatchesBoundPlaceholders) {
  const test::TTempDir dir;
  TBoundsWriter writer;
  writer.FileName = dir.File("b");
  writer.StartHeader(0, otNone);
  writer.Close();
  const std::string placeholder(16, '#');
  std::string text = "head <minx>" + placeholder + " <miny>" + placeholder + " <maxx>" +
                     placeholder + " <maxy>" + placeholder + " tail";
  test::WriteFileBytes(dir.File("b.csv"), text);
  writer.Patch();
  EXPECT_EQ(test::ReadFileBytes(dir.File("b.csv")),
            "head <minx>-77.250000000000 <miny>38.5000000000000 <maxx>1.00000000000E-6 "
            "<maxy>39.0000000000000 tail");
}

TEST(GISWriter, FlexWriterCollectsOrWrites) {
  TFlexWriter memory("");
  memory.append("{\"a\":");
  memory.append("1}");
  EXPECT_EQ(memory.ToString(), "{\"a\":1}");
  memory.clear();
  EXPECT_EQ(memory.ToString(), "");

  const test::TTempDir dir;
  {
    TFlexWriter file(dir.File("x.json"));
    file.append("\"Straße\"");
    EXPECT_EQ(file.ToString(), "");
    file.Close();
  }
  EXPECT_EQ(test::ReadFileBytes(dir.File("x.json")), "\"Straße\"");  // UTF-8, no mark
}

TEST(GISWriter, ArrayValuesAsText) {
  EXPECT_EQ(GISValueToText(TGISValue{TGISDateTime{45322}}), "2024-01-31");
  EXPECT_EQ(GISValueToText(TGISValue{TGISDateTime{45322.5}}), "2024-01-31 12:00:00.000");
  EXPECT_EQ(GISValueToText(TGISValue{TGISDateTime{0.25}}), "06:00:00.000");
  EXPECT_EQ(GISValueToText(TGISValue{2.5}), "2.5");
  EXPECT_EQ(GISValueToText(TGISValue{true}), "True");
  EXPECT_EQ(GISValueToText(TGISValue{}), "");
  EXPECT_THROW(EncodeGISDate(2023, 2, 29, "20230229"), Exception);
}

}  // namespace
}  // namespace kvnet
