// Every writer against an independent reader: one layer per geometry kind, with every field type
// and awkward values, is written by each writer and read back by GDAL's ogrinfo (Debian's
// gdal-bin); the array writer's rows are compared with the same expectations.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <variant>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "gisout/kvnet_gisarray.h"
#include "gisout/kvnet_giswriter.h"
#include "gisout/kvnet_giswriterarray.h"
#include "support/kvnet_test_gdal.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using Points = std::vector<TFloatPoint>;

struct TFieldDef {
  const char* name;
  TGISField type;
  std::uint8_t width;
  std::uint8_t decimals;
};

const TFieldDef kFields[] = {
    {"Name", gfChar, 20, 0},     {"Count", gfInteger, 0, 0}, {"Small", gfSmallInt, 0, 0},
    {"Ratio", gfDecimal, 12, 3}, {"Value", gfFloat, 0, 0},   {"Day", gfDate, 0, 0},
    {"Flag", gfLogical, 0, 0},   {"Clock", gfTime, 0, 0},    {"Stamp", gfDateTime, 0, 0},
    {"Big", gfInt64, 0, 0},
};
constexpr std::size_t kFieldCount = std::size(kFields);
constexpr std::size_t kBig = 9;  // Debian 12's GDAL cannot read MIF LargeInt columns

// The attribute texts of the four records, built as producing code builds them.
std::vector<std::string> Records() {
  const auto join = [](const std::vector<std::string>& values) {
    std::string text;
    for (const std::string& v : values)
      text += (text.empty() ? "" : ",") + v;
    return text;
  };
  return {
      join({QuoteAttribute("a \"q\", b"), "5", "-3", FormatGeneral(1.5), FormatGeneral(1e-7),
            "20240131", "T", "123456789", "20240131123456789", "-1234567890123"}),
      join({QuoteAttribute("Straße Café"), "", "", "", "", "", "F", "", "", ""}),
      join({QuoteAttribute(""), "-2147483648", "32767", FormatGeneral(-0.0), FormatGeneral(5e35),
            "19991231", "1", "000000000", "19000101000000000", "0"}),
      join({QuoteAttribute("  spaces  "), "0", "0", FormatGeneral(-2.25), FormatGeneral(-2.5),
            "20000229", "N", "235959999", "20991231235959000", "9007199254740992"}),
  };
}

// What GDAL reports for each record and field; "(null)" for a null field.
using TExpectedValues = std::array<std::array<const char*, kFieldCount>, 4>;

const TExpectedValues kMifValues = {{
    {"a \"q\", b", "5", "-3", "1.500", "1e-07", "2024/01/31", "T", "12:34:56.789",
     "2024/01/31 12:34:56.789", ""},
    {"Straße Café", "0", "0", "0.000", "0", "(null)", "F", "(null)", "(null)", ""},
    {"", "-2147483648", "32767", "0.000", "5e+35", "1999/12/31", "1", "00:00:00",
     "1900/01/01 00:00:00", ""},
    {"  spaces  ", "0", "0", "-2.250", "-2.5", "2000/02/29", "N", "23:59:59.999",
     "2099/12/31 23:59:59", ""},
}};

// dBASE: nulls for empty numbers and dates, '*' overflow read as null, text trimmed by GDAL.
const TExpectedValues kDbfValues = {{
    {"a \"q\", b", "5", "-3", "1.500", "0.00000010", "2024/01/31", "T", "123456789",
     "20240131123456789", "-1234567890123"},
    {"Straße Café", "(null)", "(null)", "(null)", "(null)", "(null)", "F", "(null)", "(null)",
     "(null)"},
    {"(null)", "-2147483648", "32767", "0.000", "(null)", "1999/12/31", "T", "000000000",
     "19000101000000000", "0"},
    {"spaces", "0", "0", "-2.250", "-2.50000000", "2000/02/29", "F", "235959999",
     "20991231235959000", "9007199254740992"},
}};

// CSV: the texts as written (GDAL types every CSV column as text).
const TExpectedValues kCsvValues = {{
    {"a \"q\", b", "5", "-3", "1.5", "1E-7", "20240131", "T", "123456789", "20240131123456789",
     "-1234567890123"},
    {"", "", "", "", "", "", "F", "", "", ""},  // the name is checked as bytes (code page 1252)
    {"", "-2147483648", "32767", "0", "5E35", "19991231", "1", "000000000", "19000101000000000",
     "0"},
    {"  spaces  ", "0", "0", "-2.25", "-2.5", "20000229", "N", "235959999", "20991231235959000",
     "9007199254740992"},
}};

const std::array<const char*, kFieldCount> kMifTypes = {
    "String (20.0)", "Integer (0.0)", "Integer (0.0)", "Real (12.3)",     "Real (0.0)",
    "Date (10.0)",   "String (1.0)",  "Time (9.0)",    "DateTime (19.0)", ""};
const std::array<const char*, kFieldCount> kDbfTypes = {
    "String (20.0)", "Integer64 (11.0)", "Integer (6.0)", "Real (12.3)",   "Real (20.8)",
    "Date (10.0)",   "String (1.0)",     "String (9.0)",  "String (17.0)", "Real (20.0)"};

struct TObject {
  std::vector<Points> sections;
  std::vector<std::int32_t> indexes;  // section indexes for regions (holes > 0)
  std::vector<Points> merged;         // the parts after merging, when they differ
};

struct TLayer {
  const char* name;
  TObjectTypes kind;
  bool merge;
  bool multiPolygon;
  std::vector<TObject> objects;
  std::vector<const char*> wkt;  // per object; empty without geometry
};

const Points kSquare = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};  // clockwise: outer
const Points kHole = {{2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}};        // anticlockwise: hole
const Points kHole2 = {{6, 6}, {8, 6}, {8, 8}, {6, 6}};
const Points kSquare2 = {{20, 0}, {20, 10}, {30, 10}, {30, 0}, {20, 0}};
const Points kHole3 = {{22, 2}, {24, 2}, {24, 4}, {22, 2}};

std::vector<TObject> LineObjects() {
  return {
      {{{{0, 0}, {1.5, -2}}}, {}, {}},
      {{{{0, 0}, {1, 1}, {2, 0}}, {{5, 5}, {6, 6}}}, {}, {}},
      {{}, {}, {}},
      {{{{0, 0}, {1, 0}}, {{1, 0}, {2, 1}}, {{5, 5}, {-77.6123456789, 38.9}}},
       {},
       {{{0, 0}, {1, 0}, {2, 1}}, {{5, 5}, {-77.6123456789, 38.9}}}},
  };
}

std::vector<TLayer> Layers() {
  return {
      {"points",
       otPoint,
       false,
       false,
       {{{{{0.5, -0.25}}}, {}, {}},
        {{{{1e-7, 123456.789012345}}}, {}, {}},
        {{{{-77.6123456789, 38.9}}}, {}, {}},
        {{{{0, 0}}}, {}, {}}},
       {"POINT (0.5 -0.25)", "POINT (0.0000001 123456.789012345)", "POINT (-77.6123456789 38.9)",
        "POINT (0 0)"}},
      {"lines",
       otPline,
       false,
       false,
       LineObjects(),
       {"LINESTRING (0 0,1.5 -2)", "MULTILINESTRING ((0 0,1 1,2 0),(5 5,6 6))", "",
        "MULTILINESTRING ((0 0,1 0),(1 0,2 1),(5 5,-77.6123456789 38.9))"}},
      {"merged",
       otPline,
       true,
       false,
       LineObjects(),
       {"LINESTRING (0 0,1.5 -2)", "MULTILINESTRING ((0 0,1 1,2 0),(5 5,6 6))", "",
        "MULTILINESTRING ((0 0,1 0,2 1),(5 5,-77.6123456789 38.9))"}},
      {"polygons",
       otRegion,
       false,
       false,
       {{{kSquare, kHole}, {0, 1}, {}},
        {{kSquare2}, {0}, {}},
        {{}, {}, {}},
        {{kSquare, kHole, kHole2}, {0, 1, 2}, {}}},
       {"POLYGON ((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2))",
        "POLYGON ((20 0,20 10,30 10,30 0,20 0))", "",
        "POLYGON ((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2),(6 6,8 6,8 8,6 6))"}},
      {"multipolygons",
       otRegion,
       false,
       true,
       {{{kSquare, kSquare2, kHole3}, {0, -1, 2}, {}},
        {{kSquare, kHole, kSquare2}, {0, 1, -2}, {}},
        {{kSquare2}, {0}, {}},
        {{}, {}, {}}},
       {"MULTIPOLYGON (((0 0,0 10,10 10,10 0,0 0)),((20 0,20 10,30 10,30 0,20 0),(22 2,24 2,24 "
        "4,22 2)))",
        "MULTIPOLYGON (((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2)),((20 0,20 10,30 10,30 "
        "0,20 0)))",
        "POLYGON ((20 0,20 10,30 10,30 0,20 0))", ""}},
      {"table", otNone, false, false, {{}, {}, {}, {}}, {"", "", "", ""}},
  };
}

// Writes a layer; withBig false leaves out the LargeInt column.
void WriteLayer(TGISWriter& w, const TLayer& layer, bool withBig) {
  const std::vector<std::string> records = Records();
  const std::size_t fields = withBig ? kFieldCount : kFieldCount - 1;
  w.StartHeader(static_cast<std::int32_t>(fields), layer.kind);
  for (std::size_t i = 0; i < fields; ++i)
    w.AddField(kFields[i].name, kFields[i].type, kFields[i].width, kFields[i].decimals);
  w.SetOptimizePLinesSections(layer.merge);
  for (std::size_t r = 0; r < layer.objects.size(); ++r) {
    std::string attrib = records[r];
    if (!withBig) attrib.erase(attrib.rfind(','));
    const TObject& object = layer.objects[r];
    if (layer.kind == otPoint) {
      w.AddPoint2(object.sections[0][0], attrib);
      continue;
    }
    w.AddObject(static_cast<std::int32_t>(object.sections.size()), layer.multiPolygon, attrib);
    for (std::size_t s = 0; s < object.sections.size(); ++s) {
      TFloatPointArrayEx section;
      section.Pnt = object.sections[s];
      section.Count = static_cast<std::int32_t>(section.Pnt.size());
      w.AddSection(object.indexes.empty() ? 0 : object.indexes[s], section);
    }
  }
  w.Close();
}

struct TFormatCase {
  const char* name;
  TGISFormat format;
  const char* extension;
  const TExpectedValues* values;
  const std::array<const char*, kFieldCount>* types;  // nullptr: every column is text
  bool geometry;
};

TEST(GISWriterGdal, EveryWriterIsReadBackByGdal) {
  KVNET_REQUIRE_OGRINFO();
  const TFormatCase formats[] = {
      {"MIF", gfMIF, ".mif", &kMifValues, &kMifTypes, true},
      {"MIF8", gfMIF8, ".mif", &kMifValues, &kMifTypes, true},
      {"SHP", gfSHP, ".shp", &kDbfValues, &kDbfTypes, true},
      {"DBF", gfDBF, ".dbf", &kDbfValues, &kDbfTypes, false},
      {"CSV", gfCSV, ".csv", &kCsvValues, nullptr, false},
  };
  const test::TTempDir dir;
  for (const TFormatCase& format : formats) {
    const bool mif = format.format == gfMIF || format.format == gfMIF8;
    const std::size_t fields = mif ? kFieldCount - 1 : kFieldCount;
    for (const TLayer& layer : Layers()) {
      SCOPED_TRACE(std::string(format.name) + " " + layer.name);
      const std::string base = dir.File(std::string(format.name) + "_" + layer.name);
      {
        auto writer = TGISWriter::GetGISObject(format.format);
        writer->FileName = base;
        WriteLayer(*writer, layer, !mif);
        EXPECT_EQ(writer->WrittenRecords(), static_cast<std::int32_t>(layer.objects.size()));
      }
      // A shape-file set without geometry is its .dbf alone.
      const std::string file =
          base + (format.format == gfSHP && layer.kind == otNone ? ".dbf" : format.extension);
      const test::TOgrLayer read = test::OgrLayer(file);
      ASSERT_TRUE(read.opened) << read.messages;
      ASSERT_EQ(read.fields.size(), fields);
      for (std::size_t f = 0; f < fields; ++f) {
        EXPECT_EQ(read.fields[f].first, kFields[f].name);
        EXPECT_EQ(read.fields[f].second, format.types ? (*format.types)[f] : "String (0.0)")
            << kFields[f].name;
      }
      ASSERT_EQ(read.features.size(), layer.objects.size());
      for (std::size_t r = 0; r < read.features.size(); ++r) {
        const auto& values = read.features[r].values;
        for (std::size_t f = 0; f < fields; ++f) {
          if (format.format == gfCSV && r == 1 && f == 0) continue;
          const auto it = values.find(kFields[f].name);
          EXPECT_EQ(it == values.end() ? "(null)" : it->second, (*format.values)[r][f])
              << "record " << r << " field " << kFields[f].name;
        }
        EXPECT_EQ(read.features[r].geometry, format.geometry ? layer.wkt[r] : "") << "record " << r;
      }
    }
  }
  // Text in the code page: GDAL takes CSV for UTF-8, so the bytes are checked directly.
  EXPECT_NE(test::ReadFileBytes(dir.File("CSV_lines.csv"))
                .find("\"Stra\xDF"
                      "e Caf\xE9\""),
            std::string::npos);
  EXPECT_NE(test::ReadFileBytes(dir.File("MIF_lines.mid"))
                .find("\"Stra\xDF"
                      "e Caf\xE9\""),
            std::string::npos);
  EXPECT_NE(test::ReadFileBytes(dir.File("MIF8_lines.mid")).find("\"Straße Café\""),
            std::string::npos);
}

TEST(GISWriterGdal, ArrayWriterHoldsTheSameRows) {
  using V = TGISValue;
  const auto day = [](double days, double ms) { return V{TGISDateTime{days + ms / 86400000.0}}; };
  const double clock = ((12 * 60 + 34) * 60 + 56) * 1000.0 + 789;
  const std::array<std::array<V, kFieldCount>, 4> expected = {{
      {V{std::string("a \"q\", b")}, V{5}, V{-3}, V{1.5}, V{1e-7}, day(45322, 0), V{true},
       day(0, clock), day(45322, clock), V{std::int64_t{-1234567890123}}},
      {V{std::string("Straße Café")}, V{}, V{}, V{}, V{}, V{1}, V{false}, V{1}, V{1}, V{}},
      {V{std::string()}, V{std::numeric_limits<std::int32_t>::min()}, V{32767}, V{0.0}, V{5e35},
       day(36525, 0), V{true}, day(0, 0), day(2, 0), V{std::int64_t{0}}},
      {V{std::string("  spaces  ")}, V{0}, V{0}, V{-2.25}, V{-2.5}, day(36585, 0), V{false},
       day(0, 86399999), day(73050, 86399000), V{std::int64_t{9007199254740992}}},
  }};
  TGISArray owned;  // the caller's array outlives the writer
  for (const TLayer& layer : Layers()) {
    SCOPED_TRACE(layer.name);
    {
      TGISWriterArray writer;
      writer.GISarray = &owned;
      WriteLayer(writer, layer, true);
    }
    ASSERT_EQ(owned.RecCount, 4);
    EXPECT_EQ(owned.Rec.size(), 49u);
    EXPECT_EQ(owned.OT, layer.kind);
    ASSERT_EQ(owned.Field.size(), kFieldCount);
    EXPECT_EQ(owned.Field[3], (TFieldInfo{gfDecimal, 12, 3, "Ratio"}));
    TFloatRect mbr{1e38, 1e38, -1e38, -1e38};
    for (std::size_t r = 0; r < 4; ++r) {
      const TRec& rec = owned.Rec[r];
      for (std::size_t f = 0; f < kFieldCount; ++f) {
        const V& got = rec.Attr[f];
        const V& want = expected[r][f];
        if (std::holds_alternative<TGISDateTime>(want) &&
            std::holds_alternative<TGISDateTime>(got)) {
          EXPECT_NEAR(std::get<TGISDateTime>(got).days, std::get<TGISDateTime>(want).days, 1e-10)
              << r << " " << f;
        } else {
          EXPECT_EQ(got, want) << "record " << r << " field " << kFields[f].name << ": "
                               << GISValueToText(got);
        }
      }
      const TObject& object = layer.objects[r];
      const auto& parts = layer.merge && !object.merged.empty() ? object.merged : object.sections;
      EXPECT_EQ(rec.Coord, parts) << "record " << r;
      for (const Points& part : parts) {
        for (const TFloatPoint& p : part) {
          mbr = {std::min(mbr.xmin, p.x), std::min(mbr.ymin, p.y), std::max(mbr.xmax, p.x),
                 std::max(mbr.ymax, p.y)};
        }
      }
    }
    if (layer.kind != otNone) {
      EXPECT_EQ(owned.MBR.xmin, mbr.xmin);
      EXPECT_EQ(owned.MBR.ymin, mbr.ymin);
      EXPECT_EQ(owned.MBR.xmax, mbr.xmax);
      EXPECT_EQ(owned.MBR.ymax, mbr.ymax);
    }
  }
}

TEST(GISWriterGdal, ArrayGrowsInSteps) {
  TGISWriterArray writer;
  writer.StartHeader(1, otNone);
  writer.AddField("N", gfInteger, 0, 0);
  const TGISArray& array = *writer.GISarray;
  writer.AddObject(0, false, "1");
  EXPECT_EQ(array.Rec.size(), 49u);
  for (int i = 2; i <= 47; ++i)
    writer.AddObject(0, false, std::to_string(i));
  EXPECT_EQ(array.Rec.size(), 49u);
  writer.AddObject(0, false, "48");
  EXPECT_EQ(array.Rec.size(), 98u);
  EXPECT_THROW(writer.AddObject(0, false, "4.5"), Exception);  // no integer
  EXPECT_THROW(writer.AddObject(0, false, "2147483648"), Exception);
  EXPECT_EQ(array.RecCount, 48);
  writer.Drop();
  EXPECT_EQ(array.RecCount, 0);
}

}  // namespace
}  // namespace kvnet
