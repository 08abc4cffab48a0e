#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iomanip>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "import/kvnet_importreaders.h"
#include "import/kvnet_mapinfoheader.h"
#include "support/kvnet_test_gdal.h"
#include "support/kvnet_test_import.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::TRecordingImport;
using test::TTempDir;
using test::WriteFileBytes;

constexpr std::int64_t kBlock = 512;

template <class T>
void PutLE(std::vector<std::uint8_t>& bytes, std::int64_t pos, T value) {
  const auto at = static_cast<std::size_t>(pos);
  if (bytes.size() < at + sizeof(T)) bytes.resize(at + sizeof(T), 0);
  using U = std::conditional_t<
      sizeof(T) == 1, std::uint8_t,
      std::conditional_t<sizeof(T) == 2, std::uint16_t,
                         std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
  auto v = std::bit_cast<U>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i, v = static_cast<U>(v >> 8)) {
    bytes[at + i] = static_cast<std::uint8_t>(v & 0xFF);
  }
}

// ---- .map header fields

struct THeader {
  std::uint8_t originFlag = 0;
  std::uint8_t quadrant = 1;
  std::int16_t datum = 104;
  std::uint8_t projection = 1;
  std::uint8_t ellipsoid = 28;
  std::uint8_t unit = 13;  // degrees
  double xScale = 1e6;
  double yScale = 1e6;
  double xDispl = 0;
  double yDispl = 0;
  std::vector<double> parameters;  // 1..7
  TDatumValues datumValues{};
};

void PutHeader(std::vector<std::uint8_t>& bytes, const THeader& h) {
  if (bytes.size() < kMapHeaderSize) bytes.resize(kMapHeaderSize, 0);
  PutLE<std::uint8_t>(bytes, 352, h.originFlag);
  PutLE<std::uint8_t>(bytes, 353, h.quadrant);
  PutLE<std::int16_t>(bytes, 362, h.datum);
  PutLE<std::uint8_t>(bytes, 365, h.projection);
  PutLE<std::uint8_t>(bytes, 366, h.ellipsoid);
  PutLE<std::uint8_t>(bytes, 367, h.unit);
  PutLE<double>(bytes, 368, h.xScale);
  PutLE<double>(bytes, 376, h.yScale);
  PutLE<double>(bytes, 384, h.xDispl);
  PutLE<double>(bytes, 392, h.yDispl);
  for (std::size_t k = 0; k < h.parameters.size(); ++k)
    PutLE<double>(bytes, k < 6 ? 400 + 8 * static_cast<std::int64_t>(k) : 616, h.parameters[k]);
  for (std::size_t k = 0; k < 8; ++k)
    PutLE<double>(bytes, 448 + 8 * static_cast<std::int64_t>(k), h.datumValues[k]);
}

TMapCoordSys FromHeader(const THeader& h) {
  std::vector<std::uint8_t> bytes;
  PutHeader(bytes, h);
  return MapHeaderToCoordSys(bytes);
}

// ---- a small .map builder: a header of two blocks, then object and coordinate blocks

class TMapBuilder {
 public:
  explicit TMapBuilder(bool extendedLayout) : extended(extendedLayout), bytes(2 * kBlock, 0) {
    PutLE<std::int32_t>(bytes, 256, 42424242);
    PutLE<std::uint16_t>(bytes, 260, extended ? 1500 : 500);
    PutLE<std::uint16_t>(bytes, 262, static_cast<std::uint16_t>(kBlock));
    // WGS 84 degrees; x = (ix - 50) / 10, y = (iy + 20) / 100.
    THeader header;
    header.xScale = 10;
    header.yScale = 100;
    header.xDispl = 50;
    header.yDispl = -20;
    PutHeader(bytes, header);
  }

  template <class T>
  void Put(std::int64_t pos, T value) {
    PutLE(bytes, pos, value);
  }
  std::int64_t Size() const { return static_cast<std::int64_t>(bytes.size()); }
  std::int64_t NewBlock() {
    const std::int64_t start = Size();
    bytes.resize(bytes.size() + kBlock, 0);
    return start;
  }
  std::int64_t ObjectBlock(std::int32_t centreX, std::int32_t centreY) {
    const std::int64_t block = NewBlock();
    Put<std::int16_t>(block, 2);
    Put<std::int32_t>(block + 4, centreX);
    Put<std::int32_t>(block + 8, centreY);
    return block;
  }
  // Object slot k of an object block (64 bytes each after the block header).
  static std::int64_t Slot(std::int64_t block, int k) { return block + 20 + 64 * k; }

  std::int64_t ObjectData(std::int64_t object, std::uint8_t type) {
    Put<std::uint8_t>(object, type);
    return object + (extended ? 9 : 5);
  }
  void CompressedLine(std::int64_t object, std::int16_t x1, std::int16_t y1, std::int16_t x2,
                      std::int16_t y2) {
    const std::int64_t data = ObjectData(object, 4);
    for (int k = 0; const std::int16_t v : {x1, y1, x2, y2})
      Put<std::int16_t>(data + 2 * k++, v);
  }
  void Line(std::int64_t object, std::int32_t x1, std::int32_t y1, std::int32_t x2,
            std::int32_t y2) {
    const std::int64_t data = ObjectData(object, 5);
    for (int k = 0; const std::int32_t v : {x1, y1, x2, y2})
      Put<std::int32_t>(data + 4 * k++, v);
  }
  // Position of the coordinate size of a polyline object.
  std::int64_t SizePos(std::int64_t object) const {
    return object + (extended ? 9 : 5) + (extended ? 8 : 4);
  }
  std::int64_t PointerPos(std::int64_t object) const { return object + (extended ? 9 : 5); }
  void SetPointer(std::int64_t object, std::int64_t pointer) {
    if (extended) {
      Put<std::int64_t>(PointerPos(object), pointer);
    } else {
      Put<std::int32_t>(PointerPos(object), static_cast<std::int32_t>(pointer));
    }
  }
  void Polyline(std::int64_t object, bool compressed, std::int64_t pointer, std::uint32_t size,
                std::int32_t originX = 0, std::int32_t originY = 0) {
    ObjectData(object, compressed ? 7 : 8);
    SetPointer(object, pointer);
    Put<std::uint32_t>(SizePos(object), size);
    if (compressed) {
      const std::int64_t origin = object + (extended ? 25 : 17);
      Put<std::int32_t>(origin, originX);
      Put<std::int32_t>(origin + 4, originY);
    }
  }
  void SetNext(std::int64_t block, std::int64_t next) {
    if (extended) {
      Put<std::int64_t>(block + 8, next);
    } else {
      Put<std::int32_t>(block + 4, static_cast<std::int32_t>(next));
    }
  }
  // Writes values (int16 when compressed, else int32) into a chain of coordinate blocks,
  // starting at offset `start` of the first block; an unrelated block lies between two blocks of
  // the chain. Returns the pointer to the first value; chain receives the blocks used.
  std::int64_t Coordinates(const std::vector<std::int32_t>& values, bool compressed,
                           std::int64_t start, std::vector<std::int64_t>* chain = nullptr) {
    const std::int64_t header = extended ? 16 : 8;
    std::int64_t block = CoordinateBlock();
    if (chain) chain->push_back(block);
    std::int64_t pos = block + std::max(start, header);
    const std::int64_t first = pos;
    for (const std::int32_t v : values) {
      if (pos % kBlock == 0) {
        NewBlock();  // not part of the chain
        const std::int64_t next = CoordinateBlock();
        SetNext(block, next);
        block = next;
        if (chain) chain->push_back(block);
        pos = block + header;
      }
      if (compressed) {
        Put<std::int16_t>(pos, static_cast<std::int16_t>(v));
        pos += 2;
      } else {
        Put<std::int32_t>(pos, v);
        pos += 4;
      }
    }
    return first;
  }

  bool extended;
  std::vector<std::uint8_t> bytes;

 private:
  std::int64_t CoordinateBlock() {
    const std::int64_t block = NewBlock();
    Put<std::int16_t>(block, 3);
    return block;
  }
};

const char* const kTabHeader =
    "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n"
    "  Type NATIVE Charset \"WindowsLatin1\"\r\n";

// Writes base.tab (and its .map and .id) into dir; the .map and .id extensions as given.
std::string WriteTable(const TTempDir& dir, const std::string& base, const TMapBuilder& map,
                       const std::vector<std::int64_t>& ids, const std::string& mapExt = ".map",
                       const std::string& idExt = ".id", const std::string& fields = "") {
  const std::string tab = dir.File(base + ".tab");
  WriteFileBytes(tab, std::string(kTabHeader) +
                          (fields.empty() ? "  Fields 1\r\n    id Integer ;\r\n" : fields));
  WriteFileBytes(dir.File(base + mapExt), std::string(map.bytes.begin(), map.bytes.end()));
  std::vector<std::uint8_t> id;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (map.extended) {
      PutLE<std::int64_t>(id, 8 * static_cast<std::int64_t>(i), ids[i]);
    } else {
      PutLE<std::uint32_t>(id, 4 * static_cast<std::int64_t>(i),
                           static_cast<std::uint32_t>(ids[i]));
    }
  }
  WriteFileBytes(dir.File(base + idExt), std::string(id.begin(), id.end()));
  return tab;
}

void ExpectVertices(const test::TRecordedLink& link, const std::vector<TFloatPoint>& expected,
                    const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_FALSE(link.error);
  ASSERT_EQ(link.vertices.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_DOUBLE_EQ(link.vertices[i].x, expected[i].x) << "vertex " << i;
    EXPECT_DOUBLE_EQ(link.vertices[i].y, expected[i].y) << "vertex " << i;
  }
}

void ExpectError(const test::TRecordedLink& link, TErrorCode code, std::int32_t value,
                 std::int32_t fileIndex, std::int32_t linklocal, std::int32_t number) {
  SCOPED_TRACE("link " + std::to_string(number));
  ASSERT_TRUE(link.error);
  EXPECT_EQ(link.importError.errorcode, code);
  EXPECT_EQ(link.importError.value, value);
  EXPECT_EQ(link.importError.fileindex, fileIndex);
  EXPECT_EQ(link.importError.linklocal, linklocal);
  EXPECT_EQ(link.importError.link, number);
}

// ---- the coordinate system of the header

TEST(MapInfoHeaderTest, CoordSysTextAndUnit) {
  struct TCase {
    const char* what;
    THeader header;
    const char* coordSys;
    TCoordinateUnit unit;
  };
  THeader nonEarth;
  nonEarth.projection = 0;
  nonEarth.unit = 7;
  nonEarth.xScale = 1000;
  nonEarth.yScale = 1000;
  THeader latLongBounds;
  latLongBounds.originFlag = 8;
  THeader wgs84Values;
  wgs84Values.datum = 0;
  THeader adindan;
  adindan.datum = 0;
  adindan.ellipsoid = 6;
  adindan.datumValues = {-162, -12, 206, 0, 0, 0, 0, 0};
  THeader nearlyWgs84 = wgs84Values;
  nearlyWgs84.datumValues[0] = 5e-11;
  THeader offWgs84 = wgs84Values;
  offWgs84.datumValues[0] = 2e-10;
  THeader shiftOnly = adindan;
  shiftOnly.datumValues[2] = 206.5;
  THeader sevenParameters = adindan;
  sevenParameters.ellipsoid = 10;
  sevenParameters.datumValues = {582, 105, 414, -1.04, -0.35, 3.08, 8.3, 0};
  THeader primeMeridian = shiftOnly;
  primeMeridian.datumValues = {-168, -60, 320, 0, 0, 0, 0, 2.337229167};
  primeMeridian.ellipsoid = 30;
  THeader grs80 = wgs84Values;
  grs80.ellipsoid = 0;
  THeader lambert;
  lambert.projection = 3;
  lambert.datum = 74;
  lambert.unit = 7;
  lambert.quadrant = 3;
  lambert.xScale = 100;
  lambert.yScale = 100;
  lambert.xDispl = 1e8;
  lambert.yDispl = 2e8;
  lambert.parameters = {-96, 23, 20, 60, 0, 0};
  THeader transverse;
  transverse.projection = 8;
  transverse.datum = 74;
  transverse.unit = 8;
  transverse.xScale = 1000;
  transverse.yScale = 1000;
  transverse.parameters = {-123, 0, 0.9996, 500000, 0};
  THeader sevenProjectionParameters = transverse;
  sevenProjectionParameters.projection = 35;
  sevenProjectionParameters.unit = 1;
  sevenProjectionParameters.parameters = {1, 2, 3, 4, 5, 6, 7.5};
  THeader oneParameter = transverse;
  oneParameter.projection = 10;
  oneParameter.unit = 32;
  oneParameter.parameters = {-100};
  THeader tinyBounds = nonEarth;
  tinyBounds.unit = 5;
  tinyBounds.xScale = 1e17;
  tinyBounds.yScale = 1e17;

  const TCase cases[] = {
      {"non-earth in metres", nonEarth,
       "CoordSys NonEarth Units \"m\" Bounds (-1000000, -1000000) (1000000, 1000000)", cuM},
      {"longitude/latitude on WGS 84", THeader{}, "CoordSys Earth Projection 1, 104", cuDeg},
      {"longitude/latitude with origin flag 8", latLongBounds,
       "CoordSys Earth Projection 1, 104 Bounds (-1000, -1000) (1000, 1000)", cuDeg},
      {"datum 0 found on WGS 84", wgs84Values, "CoordSys Earth Projection 1, 104", cuDeg},
      {"datum 0 found on Clarke 1880", adindan, "CoordSys Earth Projection 1, 1", cuDeg},
      {"datum 0 within 1e-10", nearlyWgs84, "CoordSys Earth Projection 1, 104", cuDeg},
      {"datum 0 beyond 1e-10", offWgs84, "CoordSys Earth Projection 1, 999, 28, 2E-10, 0, 0",
       cuDeg},
      {"datum 0 with shifts not in the table", shiftOnly,
       "CoordSys Earth Projection 1, 999, 6, -162, -12, 206.5", cuDeg},
      {"datum 0 with rotations and scale", sevenParameters,
       "CoordSys Earth Projection 1, 9999, 10, 582, 105, 414, -1.04, -0.35, 3.08, 8.3, 0", cuDeg},
      {"datum 0 with a prime meridian", primeMeridian,
       "CoordSys Earth Projection 1, 9999, 30, -168, -60, 320, 0, 0, 0, 0, 2.337229167", cuDeg},
      {"datum 0: the first row of the ellipsoid wins", grs80, "CoordSys Earth Projection 1, 33",
       cuDeg},
      {"Lambert conformal conic, third quadrant", lambert,
       "CoordSys Earth Projection 3, 74, \"m\", -96, 23, 20, 60, 0, 0 "
       "Bounds (9000000, 8000000) (-11000000, -12000000)",
       cuM},
      {"transverse Mercator in survey feet", transverse,
       "CoordSys Earth Projection 8, 74, \"survey ft\", -123, 0, 0.9996, 500000, 0 "
       "Bounds (-1000000, -1000000) (1000000, 1000000)",
       cuSurveyft},
      {"seven projection parameters", sevenProjectionParameters,
       "CoordSys Earth Projection 35, 74, \"km\", 1, 2, 3, 4, 5, 6, 7.5 "
       "Bounds (-1000000, -1000000) (1000000, 1000000)",
       cuKm},
      {"one projection parameter", oneParameter,
       "CoordSys Earth Projection 10, 74, \"rod\", -100 "
       "Bounds (-1000000, -1000000) (1000000, 1000000)",
       cuRod},
      {"bounds below 1e-7 are 0", tinyBounds, "CoordSys NonEarth Units \"mm\" Bounds (0, 0) (0, 0)",
       cuMm},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TMapCoordSys cs = FromHeader(c.header);
    EXPECT_EQ(cs.CoordSys, c.coordSys);
    EXPECT_EQ(cs.Unit, c.unit);
  }
}

TEST(MapInfoHeaderTest, UnitCodes) {
  const std::pair<std::uint8_t, TCoordinateUnit> units[] = {
      {0, cuMiles}, {1, cuKm},     {2, cuInch}, {3, cuFt},       {4, cuYard},
      {5, cuMm},    {6, cuCm},     {7, cuM},    {8, cuSurveyft}, {9, cuNmi},
      {30, cuLink}, {31, cuChain}, {32, cuRod}, {10, cuDeg},     {13, cuDeg}};
  for (const auto& [code, unit] : units) {
    THeader h;
    h.unit = code;
    EXPECT_EQ(FromHeader(h).Unit, unit) << "code " << int{code};
  }
}

TEST(MapInfoHeaderTest, QuadrantSetsSignsOfTheTransform) {
  // quadrant -> signs of x and y
  const struct {
    std::uint8_t quadrant;
    double x;
    double y;
  } cases[] = {{0, 1, 1}, {1, 1, 1}, {2, -1, 1}, {3, -1, -1}, {4, 1, -1}};
  for (const auto& c : cases) {
    THeader h;
    h.quadrant = c.quadrant;
    h.xScale = 10;
    h.yScale = 20;
    h.xDispl = 30;
    h.yDispl = 40;
    const TMapCoordSys cs = FromHeader(h);
    SCOPED_TRACE(int{c.quadrant});
    EXPECT_EQ(cs.XScale, 10 * c.x);
    EXPECT_EQ(cs.XDispl, 30 * c.x);
    EXPECT_EQ(cs.YScale, 20 * c.y);
    EXPECT_EQ(cs.YDispl, 40 * c.y);
  }
}

TEST(MapInfoHeaderTest, DatumTableLookup) {
  EXPECT_EQ(MapInfoDatumNumber(28, {0, 0, 0, 0, 0, 0, 0, 0}), 104);
  EXPECT_EQ(MapInfoDatumNumber(7, {-8, 160, 176, 0, 0, 0, 0, 0}), 62);
  EXPECT_EQ(MapInfoDatumNumber(9, {375, -111, 431, 0, 0, 0, 0, 0}), 79);
  // Every one of the eight values counts, and the ellipsoid must be the row's.
  EXPECT_EQ(MapInfoDatumNumber(28, {0, 0, 0, 0, 0, 0, 0, 1e-9}), -1);
  EXPECT_EQ(MapInfoDatumNumber(4, {-162, -12, 206, 0, 0, 0, 0, 0}), -1);
}

TEST(MapInfoHeaderTest, BadHeadersRaise) {
  std::vector<std::uint8_t> bytes;
  PutHeader(bytes, THeader{});
  EXPECT_THROW(MapHeaderToCoordSys(std::span(bytes).first(kMapHeaderSize - 1)), Exception);
  for (const double scale : {0.0, std::nan(""), static_cast<double>(INFINITY)}) {
    THeader h;
    h.yScale = scale;
    EXPECT_THROW(FromHeader(h), Exception) << scale;
  }
  THeader h;
  h.xDispl = std::nan("");
  EXPECT_THROW(FromHeader(h), Exception);
}

// ---- objects of a table

// A table with one object of every kind the reader tells apart, and the .id entries of its ten
// objects.
struct TSampleTable {
  TMapBuilder map;
  std::vector<std::int64_t> ids;
};

TSampleTable SampleTable(bool extended) {
  TSampleTable t{TMapBuilder(extended), {}};
  TMapBuilder& m = t.map;
  const std::int64_t b1 = m.ObjectBlock(1000, 2000);
  const std::int64_t b2 = m.ObjectBlock(-1000, 500);
  std::vector<std::int64_t>& ids = t.ids;
  // 1: compressed line around the centre of b1
  m.CompressedLine(m.Slot(b1, 0), -10, 20, 30, -40);
  ids.push_back(m.Slot(b1, 0));
  // 2: compressed line around the centre of b2
  m.CompressedLine(m.Slot(b2, 0), 50, 80, -50, -20);
  ids.push_back(m.Slot(b2, 0));
  // 3: again in b1
  m.CompressedLine(m.Slot(b1, 1), 0, 0, 10, 100);
  ids.push_back(m.Slot(b1, 1));
  // 4: line
  m.Line(m.Slot(b1, 2), 150, 80, 250, 180);
  ids.push_back(m.Slot(b1, 2));
  // 5: deleted
  ids.push_back(0);
  // 6: compressed polyline of 5 vertices; two fit in its first coordinate block
  const std::vector<std::int32_t> deltas = {0, 0, 10, 100, 20, 200, -30, 300, 40, -400};
  m.Polyline(m.Slot(b1, 3), true, m.Coordinates(deltas, true, kBlock - 8), 5 * 4, 500, -20);
  ids.push_back(m.Slot(b1, 3));
  // 7: polyline of 3 vertices; one fits in its first coordinate block
  const std::vector<std::int32_t> xy = {150, 80, -450, 9980, 1050, -1020};
  m.Polyline(m.Slot(b2, 1), false, m.Coordinates(xy, false, kBlock - 8), 3 * 8);
  ids.push_back(m.Slot(b2, 1));
  // 8: a point
  m.ObjectData(m.Slot(b2, 2), 1);
  ids.push_back(m.Slot(b2, 2));
  // 9: polyline of one vertex
  m.Polyline(m.Slot(b2, 3), false, m.Coordinates({150, 80}, false, 0), 8);
  ids.push_back(m.Slot(b2, 3));
  // 10: compressed polyline of 65,536 vertices (the file is large enough to hold them)
  m.Polyline(m.Slot(b2, 4), true, m.Coordinates({0, 0, 1, 1}, true, 0), 65536 * 4);
  ids.push_back(m.Slot(b2, 4));
  while (m.Size() < 65536 * 4)
    m.NewBlock();
  return t;
}

void ExpectSampleLinks(const TRecordingImport& import, std::int32_t first, std::int32_t fileIndex) {
  const auto& links = import.links;
  const auto link = [&](std::int32_t k) -> const test::TRecordedLink& {
    return links.at(first + k - 1);
  };
  ExpectVertices(link(1), {{94, 20.4}, {98, 19.8}}, "compressed line, block 1");
  ExpectVertices(link(2), {{-100, 6}, {-110, 5}}, "compressed line, block 2");
  ExpectVertices(link(3), {{95, 20.2}, {96, 21.2}}, "compressed line, block 1 again");
  ExpectVertices(link(4), {{10, 1}, {20, 2}}, "line");
  ExpectError(link(5), ecDeleted, 0, fileIndex, 5, first + 4);
  ExpectVertices(link(6), {{45, 0}, {46, 1}, {47, 2}, {42, 3}, {49, -4}}, "compressed polyline");
  ExpectVertices(link(7), {{10, 1}, {-50, 100}, {100, -10}}, "polyline");
  ExpectError(link(8), ecNotPolyLine, 1, fileIndex, 8, first + 7);
  ExpectError(link(9), ecZeroOrOneVertices, 1, fileIndex, 9, first + 8);
  ExpectError(link(10), ecTooManyVertices, 65536, fileIndex, 10, first + 9);
  for (std::int32_t k : {1, 2, 3, 4, 6, 7})
    EXPECT_EQ(link(k).fileIndex, fileIndex) << k;
}

class TabObjectsTest : public testing::TestWithParam<bool> {};

TEST_P(TabObjectsTest, EveryObjectKindInTwoFiles) {
  const bool extended = GetParam();
  TTempDir dir;
  const TSampleTable table = SampleTable(extended);
  TRecordingImport import;
  import.Add(WriteTable(dir, "a", table.map, table.ids));
  // The second table's companion files have upper-case extensions.
  import.Add(WriteTable(dir, "b", table.map, table.ids, ".MAP", ".ID"));
  import.Run([extended](TBaseImport& i) { ReadTAB(i, extended);
});

EXPECT_EQ(import.CoordSys(), "CoordSys Earth Projection 1, 104");
EXPECT_EQ(import.CoordinateUnit(), cuDeg);
EXPECT_EQ(import.LinkCount(), 20);
EXPECT_EQ(import.marks, 21);
ASSERT_EQ(import.links.size(), 20U);
ExpectSampleLinks(import, 1, 0);
ExpectSampleLinks(import, 11, 1);
}  // namespace

TEST_P(TabObjectsTest, DamagedTablesRaise) {
  const bool extended = GetParam();
  struct TDamage {
    const char* what;
    std::function<void(TMapBuilder& map, std::vector<std::int64_t>& ids,
                       const std::vector<std::int64_t>& chain, std::int64_t polyline)>
        damage;
    const char* message;  // part of the message
  };
  const TDamage damages[] = {
      {"map shorter than its header",
       [](TMapBuilder& m, auto&, auto&, auto) { m.bytes.resize(600); }, "cannot hold"},
      {"map cut inside an object",
       [](TMapBuilder& m, auto&, auto&, auto p) {
         m.bytes.resize(static_cast<std::size_t>(p) + 3);
       },
       "beyond the end of the file"},
      {"object offset beyond the map",
       [](TMapBuilder& m, auto& ids, auto&, auto) { ids[0] = m.Size() + 100; }, "starts at offset"},
      {"object offset far beyond the map",
       [](TMapBuilder&, auto& ids, auto&, auto) { ids[0] = 0xFFFFFFF0; }, "starts at offset"},
      {"vertex count larger than the file",
       [](TMapBuilder& m, auto&, auto&, auto p) { m.Put<std::uint32_t>(m.SizePos(p), 0xFFFFFFF0); },
       "more than the file"},
      {"coordinates outside the file",
       [](TMapBuilder& m, auto&, auto&, auto p) { m.SetPointer(p, m.Size() + 8); },
       "outside the file"},
      {"negative coordinate pointer",
       [](TMapBuilder& m, auto&, auto&, auto p) { m.SetPointer(p, -504); }, "outside the file"},
      {"coordinates inside a block header",
       [](TMapBuilder& m, auto&, auto& chain, auto p) { m.SetPointer(p, chain[1] + 2); },
       "inside a block header"},
      {"next block outside the file",
       [](TMapBuilder& m, auto&, auto& chain, auto) { m.SetNext(chain[0], m.Size() + kBlock); },
       "outside the file"},
      {"next block not at a block start",
       [](TMapBuilder& m, auto&, auto& chain, auto) { m.SetNext(chain[0], chain[1] + 8); },
       "not at a block start"},
      {"chain ends early", [](TMapBuilder& m, auto&, auto& chain, auto) { m.SetNext(chain[1], 0); },
       "end after"},
      {"chain loops back",
       [](TMapBuilder& m, auto&, auto& chain, auto) { m.SetNext(chain[1], chain[0]); }, "cycle"},
      {"chain loops on itself",
       [](TMapBuilder& m, auto&, auto& chain, auto) { m.SetNext(chain[0], chain[0]); }, "cycle"},
      {"block size 0", [](TMapBuilder& m, auto&, auto&, auto) { m.Put<std::uint16_t>(262, 0); },
       "block size"},
      {"block size not a power of two",
       [](TMapBuilder& m, auto&, auto&, auto) { m.Put<std::uint16_t>(262, 1000); }, "block size"},
      {"zero scale", [](TMapBuilder& m, auto&, auto&, auto) { m.Put<double>(368, 0); },
       "coordinate transform"},
      {"other layout than the list",
       [extended](TMapBuilder& m, auto&, auto&, auto) {
         m.Put<std::uint16_t>(260, extended ? 500 : 1500);
       },
       "version"},
  };
  for (const TDamage& d : damages) {
    SCOPED_TRACE(d.what);
    TTempDir dir;
    TMapBuilder map(extended);
    const std::int64_t block = map.ObjectBlock(0, 0);
    map.Line(map.Slot(block, 0), 150, 80, 250, 180);
    // 130 vertices over three coordinate blocks: 2 + 126 (or 124) + the rest.
    std::vector<std::int32_t> values(260, 7);
    std::vector<std::int64_t> chain;
    const std::int64_t polyline = map.Slot(block, 1);
    map.Polyline(polyline, true, map.Coordinates(values, true, kBlock - 8, &chain), 130 * 4);
    ASSERT_EQ(chain.size(), 3U);
    std::vector<std::int64_t> ids = {map.Slot(block, 0), polyline};
    d.damage(map, ids, chain, polyline);
    const std::string tab = WriteTable(dir, "t", map, ids);
    TRecordingImport import;
    import.Add(tab);
    try {
      import.Run([extended](TBaseImport& i) { ReadTAB(i, extended);
    });
    ADD_FAILURE() << "no exception";
  }
  catch (const Exception& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find(dir.File("t.map")), std::string::npos) << message;
    EXPECT_NE(message.find(d.message), std::string::npos) << message;
  }
}
}  // namespace kvnet

INSTANTIATE_TEST_SUITE_P(Layouts, TabObjectsTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& layout) {
                           return layout.param ? "Extended" : "Classic";
                         });

TEST(TabReaderTest, CoordSysOfLaterTables) {
  TTempDir dir;
  TMapBuilder first(false);
  const std::int64_t b = first.ObjectBlock(0, 0);
  first.Line(first.Slot(b, 0), 150, 80, 250, 180);
  TMapBuilder second = first;
  THeader other;  // NAD 83, x = ix / 1000, y = iy / 1000
  other.datum = 74;
  other.xScale = 1000;
  other.yScale = 1000;
  PutHeader(second.bytes, other);
  TRecordingImport import;
  import.Add(WriteTable(dir, "a", first, {first.Slot(b, 0)}));
  import.Add(WriteTable(dir, "b", second, {second.Slot(b, 0)}));
  const auto read = [](TBaseImport& i) { ReadTAB(i, false); };
  try {
    import.Run(read);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Different Coordsys in input tables");
  }
  // Allowed, each table keeps its own transform; the first table names the system.
  import.SetFailOnDifferentCoordSys(false);
  import.Run(read);
  EXPECT_EQ(import.CoordSys(), "CoordSys Earth Projection 1, 104");
  ExpectVertices(import.links.at(1), {{10, 1}, {20, 2}}, "first table");
  ExpectVertices(import.links.at(2), {{0.15, 0.08}, {0.25, 0.18}}, "second table");
}

// A .dat of two small-integer fields, one record per pair.
std::string DatBytes(const std::vector<std::pair<std::int16_t, std::int16_t>>& records) {
  std::vector<std::uint8_t> b(32 + 2 * 32 + 1, 0);
  b[0] = 3;
  PutLE<std::int32_t>(b, 4, static_cast<std::int32_t>(records.size()));
  PutLE<std::uint16_t>(b, 8, static_cast<std::uint16_t>(b.size()));
  PutLE<std::uint16_t>(b, 10, 5);
  for (int f = 0; f < 2; ++f) {
    const std::int64_t d = 32 + 32 * f;
    b[static_cast<std::size_t>(d)] = static_cast<std::uint8_t>(f == 0 ? 'F' : 'T');
    b[static_cast<std::size_t>(d + 11)] = 'C';
    b[static_cast<std::size_t>(d + 16)] = 2;
  }
  b.back() = 0x0D;
  for (const auto& [from, to] : records) {
    b.push_back(' ');
    PutLE<std::int16_t>(b, static_cast<std::int64_t>(b.size()), from);
    PutLE<std::int16_t>(b, static_cast<std::int64_t>(b.size()), to);
  }
  return std::string(b.begin(), b.end());
}

TEST(TabReaderTest, ZLevelsFromTheDatFilesAsOneTable) {
  TTempDir dir;
  TMapBuilder map(false);
  const std::int64_t b = map.ObjectBlock(0, 0);
  map.Line(map.Slot(b, 0), 150, 80, 250, 180);
  map.Line(map.Slot(b, 1), 250, 180, 350, 280);
  const std::string fields = "  Fields 2\r\n    f Smallint ;\r\n    t Smallint ;\r\n";
  const std::vector<std::int64_t> ids = {map.Slot(b, 0), map.Slot(b, 1)};
  TRecordingImport import;
  import.Add(WriteTable(dir, "a", map, ids, ".map", ".id", fields));
  import.Add(WriteTable(dir, "b", map, ids, ".map", ".id", fields));
  WriteFileBytes(dir.File("a.dat"), DatBytes({{1, -2}, {0, 9}}));
  WriteFileBytes(dir.File("b.DAT"), DatBytes({{-9, 3}, {2, 2}}));
  import.SetZFromField(0);
  import.SetZToField(1);
  import.Run([](TBaseImport& i) { ReadTAB(i, false);
});
const std::pair<int, int> expected[] = {{1, -2}, {0, 9}, {-9, 3}, {2, 2}};
ASSERT_EQ(import.links.size(), 4U);
for (int k = 0; k < 4; ++k) {
  EXPECT_EQ(import.links.at(k + 1).zFrom, expected[k].first) << "link " << k + 1;
  EXPECT_EQ(import.links.at(k + 1).zTo, expected[k].second) << "link " << k + 1;
}

import.SetZToField(2);
try {
    import.Run([](TBaseImport& i) { ReadTAB(i, false);
});
ADD_FAILURE() << "no exception";
}
catch (const Exception& e) {
  EXPECT_STREQ(e.what(), "Invalid fields for Z-levels defined");
}
}

TEST(TabReaderTest, CancelStopsAfterTheObject) {
  TTempDir dir;
  const TSampleTable table = SampleTable(false);
  TRecordingImport import;
  import.Add(WriteTable(dir, "a", table.map, table.ids));
  import.OnProgress = [](TProgress&, int, bool& cancel) { cancel = true;
};
  import.Run([](TBaseImport& i) { ReadTAB(i, false);
  });
  EXPECT_TRUE(import.Cancelled());
  EXPECT_EQ(import.links.size(), 1U);
  EXPECT_EQ(import.marks, 1);
  }

  // ---- the real table

  std::vector<TFloatPoint> ParseLineString(const std::string& wkt) {
    std::vector<TFloatPoint> points;
    const auto open = wkt.find('(');
    const auto close = wkt.rfind(')');
    if (wkt.rfind("LINESTRING", 0) != 0 || open == std::string::npos ||
        close == std::string::npos) {
      return points;
    }
    std::stringstream text(wkt.substr(open + 1, close - open - 1));
    std::string pair;
    while (std::getline(text, pair, ',')) {
      std::stringstream xy(pair);
      TFloatPoint p;
      xy >> p.x >> p.y;
      points.push_back(p);
    }
    return points;
  }

  // Largest coordinate difference between the recorded links and a layer read by ogrinfo.
  double LargestDifference(const TRecordingImport& import, const std::string& file) {
    const test::TOgrLayer layer = test::OgrLayer(file);
    EXPECT_TRUE(layer.opened) << layer.messages;
    EXPECT_EQ(layer.features.size(), import.links.size());
    double largest = 0;
    for (std::size_t i = 0; i < layer.features.size() && i < import.links.size(); ++i) {
      const std::vector<TFloatPoint> expected = ParseLineString(layer.features[i].geometry);
      const test::TRecordedLink& link = import.links.at(static_cast<std::int32_t>(i) + 1);
      if (link.vertices.size() != expected.size() || expected.empty()) {
        ADD_FAILURE() << "link " << i + 1 << " has " << link.vertices.size() << " vertices; "
                      << file << " has " << layer.features[i].geometry;
        return INFINITY;
      }
      for (std::size_t k = 0; k < expected.size(); ++k) {
        largest = std::max({largest, std::fabs(link.vertices[k].x - expected[k].x),
                            std::fabs(link.vertices[k].y - expected[k].y)});
      }
    }
    return largest;
  }

  TEST(TabReaderTest, BaltimoreAgreesWithTheShapeFileAndTheTable) {
    KVNET_REQUIRE_DATA_SET(data, "baltimore");
    KVNET_REQUIRE_OGRINFO();
    TRecordingImport import;
    import.Add(data + "/tab/link.tab");
  import.Run([](TBaseImport& i) { ReadTAB(i, false);
  });
  EXPECT_EQ(import.CoordSys(), "CoordSys Earth Projection 1, 104");
  EXPECT_EQ(import.CoordinateUnit(), cuDeg);
  EXPECT_EQ(import.LinkCount(), 9777);
  EXPECT_EQ(import.marks, 9778);
  EXPECT_TRUE(import.ImportErrorList().empty());

  // The table stores micro-degrees (scale 1e6): the shape file's coordinates agree within one
  // step of 1e-6; the table read by ogrinfo agrees up to rounding of the division.
  const double shapeDifference = LargestDifference(import, data + "/link.shp");
  EXPECT_LE(shapeDifference, 1e-6);
  const double tableDifference = LargestDifference(import, data + "/tab/link.tab");
  EXPECT_LE(tableDifference, 1e-9);
  std::ostringstream differences;
  differences << std::setprecision(3) << shapeDifference << " " << tableDifference;
  RecordProperty("largest_differences_to_shp_and_tab", differences.str());
  }

  TEST(TabReaderTest, BaltimoreThroughTheBufferedStream) {
    KVNET_REQUIRE_DATA_SET(data, "baltimore");
    TRecordingImport inMemory;
    inMemory.Add(data + "/tab/link.tab");
    inMemory.Run([](TBaseImport& i) { ReadTAB(i, false); });
    TRecordingImport buffered;
    buffered.Add(data + "/tab/link.tab");
    buffered.Run([](TBaseImport& i) { ReadTABWithMemoryLimit(i, false, 0); });
    ASSERT_EQ(buffered.links.size(), inMemory.links.size());
    for (const auto& [number, link] : inMemory.links) {
      ASSERT_EQ(buffered.links.at(number).vertices, link.vertices) << "link " << number;
    }
  }

  }  // namespace
  }  // namespace kvnet
