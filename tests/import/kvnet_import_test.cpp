// The import pipeline: nodes, numbering, network files, clean-up and the report, on small layers
// written for the test and on the real Baltimore layer in its three formats.
#include "import/kvnet_import.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <numbers>
#include <set>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "gisout/kvnet_giswritershp.h"
#include "routes/kvnet_routecalc.h"
#include "store/kvnet_network.h"
#include "support/kvnet_network_shapefile.h"
#include "support/kvnet_network_writer.h"
#include "support/kvnet_test_gdal.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using Line = std::vector<TFloatPoint>;

// The files both the import and the test network writer produce.
const char* const kNetworkFiles[] = {"coord.bin",        "coord3.bin",      "coord3i.bin",
                                     "length.bin",       "link.bin",        "node.bin",
                                     "spatialindex.bin", "kvnet_config.ini"};

// Writes a polyline shape file; with levels, the attribute table gets the fields FZ and TZ.
std::string WriteLayer(const test::TTempDir& dir, const std::string& name,
                       const std::vector<Line>& lines,
                       const std::vector<std::pair<int, int>>& levels = {},
                       const std::string& prj = "") {
  TGISWriterSHP writer;
  writer.FileName = dir.File(name);
  if (!prj.empty()) writer.PRJ = prj;
  writer.StartHeader(levels.empty() ? 1 : 3, otPline);
  writer.AddField("ID", gfInteger, 0, 0);
  if (!levels.empty()) {
    writer.AddField("FZ", gfInteger, 0, 0);
    writer.AddField("TZ", gfInteger, 0, 0);
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string attrib = std::to_string(i + 1);
    if (!levels.empty()) {
      attrib += "," + std::to_string(levels[i].first) + "," + std::to_string(levels[i].second);
    }
    writer.AddObject(lines[i].empty() ? 0 : 1, false, attrib);
    if (!lines[i].empty()) {
      TFloatPointArrayEx section = test::MakeSection(lines[i]);
      writer.AddSection(0, section);
    }
  }
  writer.Close();
  return dir.File(name + ".shp");
}

const char* kMetrePrj = "PROJCS[\"x\",GEOGCS[\"g\"],UNIT[\"Meter\",1]]";

struct TImported {
  explicit TImported(const std::vector<std::string>& files, std::int64_t key = 0) {
    import.SetDirectory(out.Path().string());
    import.AddFiles(files);
    import.SetEncryptionKey(key);
    import.Execute();
  }
  std::string File(const char* name) const { return out.File(name); }
  test::TTempDir out;
  TImport import;
};

void OpenNetwork(TNetwork& net, const std::string& dir, std::int64_t key = 0) {
  net.SetDirectory(dir);
  net.SetEncryptionKey(key);
  net.Open(false, true, true, 0);  // attributes come with the attribute import
}

TEST(Import, NodesAreNumberedByDegreeThenPosition) {
  const test::TTempDir in;
  // A T-junction at (5, 5) and a separate two-link chain.
  const std::string shp = WriteLayer(in, "t",
                                     {{{5, 5}, {0, 5}},
                                      {{5, 5}, {10, 5}},
                                      {{5, 5}, {5, 0}},
                                      {{20, 0}, {21, 0}, {22, 0}},
                                      {{22, 0}, {23, 1}}},
                                     {}, kMetrePrj);
  TImported net({shp});
  const TImport& import = net.import;
  EXPECT_EQ(import.CoordinateUnit(), cuM);
  EXPECT_EQ(import.LinkCount(), 5);
  EXPECT_EQ(import.NodeCount(), 7);
  EXPECT_EQ(import.MaxDegree(), 3);
  TNetwork network;
  network.SetDirectory(net.out.Path().string());
  network.Open(false, true, true, 0);
  // Node 1 has degree 3; then degree 2; then the dead ends by x, then y.
  const std::vector<TFloatPoint> expected = {{5, 5},  {22, 0}, {0, 5}, {5, 0},
                                             {10, 5}, {20, 0}, {23, 1}};
  for (std::int32_t n = 1; n <= 7; ++n)
    EXPECT_EQ(network.Node2Coordinate(n), expected[static_cast<std::size_t>(n) - 1]) << n;
  EXPECT_FLOAT_EQ(network.LinkLength(4), 0.002f);  // 2 m
  EXPECT_DOUBLE_EQ(import.TotalLength(), 0.005 + 0.005 + 0.005 + 0.002 + std::sqrt(2.0) * 0.001);
  EXPECT_EQ(network.GetGISSection(4).Count, 3);
}

TEST(Import, ObjectsThatCannotBeLinksKeepTheirNumbers) {
  const test::TTempDir in;
  const std::string shp = WriteLayer(in, "e",
                                     {{{0, 0}, {1, 0}},
                                      {},                         // null shape
                                      {{2, 2}, {2, 2}, {2, 2}},   // one vertex after cleaning
                                      {{0, 0}, {0, 1}, {0, 0}},   // loop
                                      {{1, 0}, {1, 0}, {2, 0}}},  // repeated vertex removed
                                     {}, kMetrePrj);
  TImported net({shp});
  const auto& errors = net.import.ImportErrorList();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].link, 2);
  EXPECT_EQ(errors[0].errorcode, ecNotGeoCoded);
  EXPECT_EQ(errors[1].link, 3);
  EXPECT_EQ(errors[1].errorcode, ecZeroOrOneVertices);
  EXPECT_EQ(errors[1].value, 1);
  EXPECT_EQ(errors[2].link, 4);
  EXPECT_EQ(errors[2].errorcode, ecLoopLink);
  TNetwork network;
  OpenNetwork(network, net.out.Path().string());
  EXPECT_EQ(network.LinkCount(), 5);
  EXPECT_EQ(network.LinkLength(2), 0);
  EXPECT_EQ(network.Link2FromNode(5), network.Link2ToNode(1));
  EXPECT_EQ(network.GetGISSection(5).Count, 2);

  // With loops allowed the closed line is a link whose ends share one node.
  test::TTempDir out;
  TImport loops;
  loops.SetDirectory(out.Path().string());
  loops.Add(shp);
  loops.SetAllowLoops(true);
  loops.Execute();
  EXPECT_EQ(loops.ImportErrorList().size(), 2u);
}

TEST(Import, ZLevelsSeparateEndsAtOnePlace) {
  const test::TTempDir in;
  // Links 1 and 2 meet at (10, 0) on levels 1 and 0; links 3 and 4 meet at (10, 10) both on 1.
  const std::string shp = WriteLayer(in, "z",
                                     {{{0, 0}, {10, 0}},
                                      {{10, 0}, {20, 0}},
                                      {{0, 10}, {10, 10}},
                                      {{10, 10}, {20, 10}},
                                      {{0, 20}, {5, 25}, {0, 20}}},
                                     {{0, 1}, {0, 0}, {0, 1}, {1, 0}, {0, 1}}, kMetrePrj);
  TImport import;
  const test::TTempDir out;
  import.SetDirectory(out.Path().string());
  import.Add(shp);
  import.SetZFromField(1);
  import.SetZToField(2);
  import.Execute();
  EXPECT_TRUE(import.ImportErrorList().empty());  // the closed line has two levels: a link
  TNetwork net;
  OpenNetwork(net, out.Path().string());
  EXPECT_NE(net.Link2ToNode(1), net.Link2FromNode(2));
  EXPECT_EQ(net.Link2ToNode(3), net.Link2FromNode(4));
  // The shifted end lies 10 cm away in the direction of level 1 (20 degrees east of north).
  const TFloatPoint end = net.Node2Coordinate(net.Link2ToNode(1));
  EXPECT_NEAR(end.x, 10 + 0.1 * std::sin(std::numbers::pi / 9), 1e-12);
  EXPECT_NEAR(end.y, 0.1 * std::cos(std::numbers::pi / 9), 1e-12);

  // A level of 10 stops the import and leaves nothing.
  const std::string bad = WriteLayer(in, "zbad", {{{0, 0}, {1, 0}}}, {{0, 10}}, kMetrePrj);
  TImport failing;
  const test::TTempDir failOut;
  failing.SetDirectory(failOut.Path().string());
  failing.Add(bad);
  failing.SetZFromField(1);
  failing.SetZToField(2);
  try {
    failing.Execute();
    ADD_FAILURE();
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Z-levels of out range (-9..9)");
  }
  EXPECT_TRUE(std::filesystem::is_empty(failOut.Path()));
}

TEST(Import, NodeDegreeLimit) {
  const test::TTempDir in;
  for (const int count : {255, 256}) {
    std::vector<Line> star;
    for (int i = 0; i < count; ++i) {
      const double a = 2 * std::numbers::pi * i / count;
      star.push_back({{0, 0}, {100 * std::cos(a), 100 * std::sin(a)}});
    }
    const std::string shp = WriteLayer(in, "star" + std::to_string(count), star, {}, kMetrePrj);
    TImport import;
    const test::TTempDir out;
    import.SetDirectory(out.Path().string());
    import.Add(shp);
    if (count == 255) {
      import.Execute();
      EXPECT_EQ(import.MaxDegree(), 255);
    } else {
      EXPECT_THROW(import.Execute(), ETooManyLinksAtNode);
      EXPECT_TRUE(std::filesystem::is_empty(out.Path()));
    }
  }
}

TEST(Import, FailuresLeaveNoNetwork) {
  const test::TTempDir in;
  const std::string good = WriteLayer(in, "good", {{{0, 0}, {1, 1}}}, {}, kMetrePrj);
  const std::string nothing = WriteLayer(in, "nothing", {{}, {{3, 3}, {3, 3}}}, {}, kMetrePrj);
  // A damaged copy: the second record cut off.
  const std::string twoLinks =
      WriteLayer(in, "two", {{{0, 0}, {1, 1}}, {{1, 1}, {2, 0}, {3, 0}}}, {}, kMetrePrj);
  std::string cut = test::ReadFileBytes(twoLinks);
  cut.resize(cut.size() - 20);
  std::filesystem::copy_file(in.File("two.shx"), in.File("cut.shx"));
  std::filesystem::copy_file(in.File("two.prj"), in.File("cut.prj"));
  test::WriteFileBytes(in.File("cut.shp"), cut);
  test::WriteFileBytes(in.File("bad.mif"),
                       "Version 300\r\nCoordSys Earth Projection 1, 104\r\nColumns 1\r\n  A "
                       "Integer\r\nData\r\nPline 3\r\n1 2\r\nx y\r\n3 4\r\n");
  test::WriteFileBytes(in.File("bad.mid"), "1\r\n");
  struct TCase {
    const char* what;
    std::vector<std::string> files;
    bool refusedBeforeWriting;  // the older network stays untouched
  };
  const TCase cases[] = {
      {"every object refused", {nothing}, false},
      {"cut short", {in.File("cut.shp")}, false},
      {"bad coordinate line", {in.File("bad.mif")}, false},
      {"mixed kinds", {good, in.File("bad.mif")}, true},
      {"unknown kind", {in.File("x.txt")}, true},
  };
  for (const TCase& c : cases) {
    const test::TTempDir out;
    // An older network in the folder must not survive an import that started writing.
    {
      TImport old;
      old.SetDirectory(out.Path().string());
      old.Add(good);
      old.Execute();
    }
    TImport import;
    import.SetDirectory(out.Path().string());
    import.AddFiles(c.files);
    EXPECT_THROW(import.Execute(), Exception) << c.what;
    for (const char* name : kNetworkFiles) {
      EXPECT_EQ(std::filesystem::exists(out.File(name)), c.refusedBeforeWriting)
          << c.what << " " << name;
    }
  }
}

TEST(Import, CancelledImportLeavesNoNetwork) {
  const test::TTempDir in;
  std::vector<Line> lines;
  for (int i = 0; i < 200; ++i)
    lines.push_back({{i * 1.0, 0}, {i + 1.0, 0}});
  const std::string shp = WriteLayer(in, "c", lines, {}, kMetrePrj);
  for (const int at : {10, 50, 90}) {
    const test::TTempDir out;
    TImport import;
    import.SetDirectory(out.Path().string());
    import.Add(shp);
    import.OnProgress = [at](TProgress&, int p, bool& cancel) { if (p >= at) cancel = true;
  };
  import.Execute();
  EXPECT_TRUE(import.Cancelled()) << at;
  for (const char* name : kNetworkFiles)
    EXPECT_FALSE(std::filesystem::exists(out.File(name))) << at << " " << name;
}
}  // namespace

TEST(Import, EncipheredNetworkOpensWithItsKey) {
  const test::TTempDir in;
  const std::string shp = WriteLayer(
      in, "k", {{{0, 0}, {5, 1}, {10, 0}}, {{10, 0}, {10, 10}}, {{10, 10}, {0, 0}}}, {}, kMetrePrj);
  TImported plain({shp});
  TImported secret({shp}, 424242);
  EXPECT_NE(test::ReadFileBytes(plain.File("link.bin")),
            test::ReadFileBytes(secret.File("link.bin")));
  EXPECT_EQ(test::ReadFileBytes(plain.File("spatialindex.bin")),
            test::ReadFileBytes(secret.File("spatialindex.bin")));
  TNetwork a;
  TNetwork b;
  OpenNetwork(a, plain.out.Path().string());
  OpenNetwork(b, secret.out.Path().string(), 424242);
  for (std::int32_t l = 1; l <= 3; ++l) {
    EXPECT_EQ(a.LinkLength(l), b.LinkLength(l));
    EXPECT_EQ(a.Link2FromNode(l), b.Link2FromNode(l));
    EXPECT_EQ(a.GetGISSection(l).Count, b.GetGISSection(l).Count);
    EXPECT_EQ(a.GetGISSection(l).Pnt[1], b.GetGISSection(l).Pnt[1]);
  }
}

TEST(Import, ReportListsInputsErrorsAndFigures) {
  const test::TTempDir in;
  const std::string shp =
      WriteLayer(in, "r", {{{0, 0}, {1000, 0}}, {}, {{1000, 0}, {1000, 2500}}}, {}, kMetrePrj);
  TImported net({shp});
  net.import.CreateReport();
  std::string text = test::ReadFileBytes(net.File("network_report.txt"));
  // Times and the build line vary; the rest is fixed.
  const auto mask = [&text](const std::string& prefix, const std::string& replacement) {
    const auto at = text.find(prefix);
    ASSERT_NE(at, std::string::npos) << prefix;
    const auto end = text.find('\r', at);
    text.replace(at + prefix.size(), end - at - prefix.size(), replacement);
  };
  mask("Library version: ", "<build>");
  mask("Start: ", "<time>");
  mask("End: ", "<time>");
  const std::string stars(45, '*');
  const std::string expected =
      stars +
      "\r\n\r\nReport for creation of network with KV Net 4.44\r\n"
      "Library version: <build>\r\nInternal version date: 2023-08-28\r\n\r\nStart: <time>\r\n\r\n" +
      stars + "\r\n\r\nCoordinate unit: Meter (7)\r\n\r\nInput files:\r\n" + shp +
      "\r\n\r\nNo Z-level modification\r\n\r\nLoop links were not allowed\r\n\r\n"
      "Coordinate system(s):\r\nCoordSys NonEarth Units \"m\" Bounds (0, 0) (1000, 2500)\r\n"
      "PRJ: " +
      kMetrePrj +
      "\r\n\r\n+++ Error-report +++\r\n(1) Object 2 is not geocoded\r\n"
      "+++ Error-report +++\r\n\r\nMaximum degree: 2\r\n\r\n"
      "Total length of streets: 3.500 km\r\nAverage per link:        1.167 km\r\n\r\n"
      "Links in database: 3\r\nNodes created: 3\r\n\r\nEnd: <time>\r\n";
  EXPECT_EQ(text, expected);
}

// ---- the Baltimore layer

// Node count, degrees and lengths computed from the shape file's own vertices.
struct TIndependentNetwork {
  explicit TIndependentNetwork(const std::string& shp) {
    for (const Line& raw : test::ReadShapefileLines(shp)) {
      Line line;
      for (const TFloatPoint& p : raw) {
        if (line.empty() || !(line.back() == p)) line.push_back(p);
      }
      double angle = 0;
      for (std::size_t i = 1; i < line.size(); ++i) {
        const double f = std::numbers::pi / 180;
        const double a = std::sin((line[i].y - line[i - 1].y) * f / 2);
        const double b = std::sin((line[i].x - line[i - 1].x) * f / 2);
        angle +=
            2 * std::asin(std::min(1.0, std::sqrt(a * a + std::cos(line[i - 1].y * f) *
                                                              std::cos(line[i].y * f) * b * b)));
      }
      // Closed lines are refused as loop links: no length, no nodes.
      const bool link = line.size() >= 2 && !(line.front() == line.back());
      lengths.push_back(link ? angle * 6378.13 : 0);
      if (!link) continue;
      ++degree[{line.front().x, line.front().y}];
      ++degree[{line.back().x, line.back().y}];
    }
  }
  std::vector<double> lengths;
  std::map<std::pair<double, double>, int> degree;
};

TEST(ImportBaltimore, EveryFormatGivesTheSameNetwork) {
  KVNET_REQUIRE_DATA_SET(data, "baltimore");
  TImported shp({data + "/link.shp"});
  TImported halves({data + "/link_1.shp", data + "/link_2.shp"});
  TImported mif({data + "/mif/link.mif"});
  TImported tab({data + "/tab/link.tab"});
  EXPECT_EQ(shp.import.LinkCount(), 9777);
  for (const char* name : kNetworkFiles) {
    const std::string expected = test::ReadFileBytes(shp.File(name));
    EXPECT_TRUE(test::ReadFileBytes(halves.File(name)) == expected) << name;
    if (std::string(name) == "kvnet_config.ini" || std::string(name) == "spatialindex.bin") {
      continue;  // the coordinate-system texts of the three formats differ
    }
    EXPECT_TRUE(test::ReadFileBytes(mif.File(name)) == expected) << "MIF " << name;
  }
  // The native table keeps coordinates as integers on a grid of 1e-6 degrees, so its network
  // equals the others up to half a grid step in every coordinate.
  {
    TNetwork a;
    TNetwork b;
    OpenNetwork(a, shp.out.Path().string());
    OpenNetwork(b, tab.out.Path().string());
    ASSERT_EQ(b.LinkCount(), a.LinkCount());
    EXPECT_EQ(b.NodeCount(), a.NodeCount());
    const auto near = [](const TFloatPoint& p, const TFloatPoint& q) {
      return std::fabs(p.x - q.x) <= 5e-7 + 1e-12 && std::fabs(p.y - q.y) <= 5e-7 + 1e-12;
    };
    for (std::int32_t l = 1; l <= a.LinkCount(); ++l) {
      if (a.LinkLength(l) == 0) {
        EXPECT_EQ(b.LinkLength(l), 0) << l;
        continue;
      }
      const TFloatPointArrayEx la = a.GetGISSection(l);
      const TFloatPointArrayEx lb = b.GetGISSection(l);
      ASSERT_EQ(la.Count, lb.Count) << l;
      for (std::int32_t i = 0; i < la.Count; ++i) {
        EXPECT_TRUE(near(la.Pnt[static_cast<std::size_t>(i)], lb.Pnt[static_cast<std::size_t>(i)]))
            << l << " " << i;
      }
      EXPECT_NEAR(b.LinkLength(l), a.LinkLength(l), 2e-4) << l;  // km: 0.2 m
      EXPECT_EQ(b.Degree(b.Link2FromNode(l)), a.Degree(a.Link2FromNode(l))) << l;
    }
  }

  // Against a computation of its own from the shape file.
  const TIndependentNetwork independent(data + "/link.shp");
  TNetwork net;
  OpenNetwork(net, shp.out.Path().string());
  ASSERT_EQ(net.NodeCount(), static_cast<std::int32_t>(independent.degree.size()));
  std::map<int, int> histogram;
  for (const auto& [point, d] : independent.degree)
    ++histogram[d];
  std::map<int, int> networkHistogram;
  for (std::int32_t n = 1; n <= net.NodeCount(); ++n) {
    const TFloatPoint p = net.Node2Coordinate(n);
    const auto it = independent.degree.find({p.x, p.y});
    ASSERT_NE(it, independent.degree.end()) << n;
    EXPECT_EQ(net.Degree(n), it->second) << n;
    ++networkHistogram[net.Degree(n)];
  }
  EXPECT_EQ(networkHistogram, histogram);
  for (std::int32_t l = 1; l <= net.LinkCount(); ++l) {
    const double expected = independent.lengths[static_cast<std::size_t>(l) - 1];
    EXPECT_NEAR(net.LinkLength(l), expected, 1e-6 * expected + 1e-9) << l;
  }
}

TEST(ImportBaltimore, TheTestWriterWritesWhatTheImportWrites) {
  KVNET_REQUIRE_DATA_SET(data, "baltimore");
  TImported imported({data + "/link.shp"});
  std::vector<test::TSupportLink> links;
  for (const Line& line : test::ReadShapefileLines(data + "/link.shp"))
    links.push_back({line, 0});
  const test::TTempDir written;
  test::TNetworkWriterOptions options;
  options.unit = cuDeg;
  options.allowLoops = false;
  options.writeAttributes = false;
  options.spatialIndex = true;
  options.prj = test::ReadFileBytes(data + "/link.prj");  // the import keeps the layer's text
  test::WriteNetwork(written.Path().string(), links, options);
  for (const char* name : kNetworkFiles) {
    EXPECT_TRUE(test::ReadFileBytes(written.File(name)) == test::ReadFileBytes(imported.File(name)))
        << name;
  }
}

TEST(ImportBaltimore, ImportOpenRouteAndWrite) {
  KVNET_REQUIRE_DATA_SET(data, "baltimore");
  KVNET_REQUIRE_OGRINFO();
  TImported imported({data + "/link.shp"});
  TNetwork net;
  OpenNetwork(net, imported.out.Path().string());
  TRouteCalc calc(net);
  const std::int32_t from = 1;
  std::int32_t to = 0;
  float km = -1;
  for (std::int32_t candidate = net.NodeCount(); candidate > 1 && km <= 1; --candidate) {
    km = calc.Route(from, candidate);
    to = candidate;
  }
  ASSERT_GT(km, 1);
  const TRoute route = calc.RouteFind(to);
  TFloatPointArrayEx line = net.GetGISSectionRoute(route);
  ASSERT_GE(line.Count, 2);
  {
    TGISWriterSHP writer;
    writer.FileName = imported.File("route");
    writer.StartHeader(1, otPline);
    writer.AddField("km", gfFloat, 0, 0);
    writer.AddObject(1, false, FormatGeneral(km));
    writer.AddSection(0, line);
    writer.Close();
  }
  const test::TOgrLayer read = test::OgrLayer(imported.File("route.shp"));
  ASSERT_EQ(read.features.size(), 1u);
  EXPECT_EQ(read.features[0].geometry.rfind("LINESTRING (", 0), 0u);
  EXPECT_NEAR(std::stod(read.features[0].values.at("km")), km, 1e-4);
}

}  // namespace kvnet
}  // namespace kvnet
