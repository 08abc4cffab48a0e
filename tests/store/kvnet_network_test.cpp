#include "store/kvnet_network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <numbers>
#include <ostream>
#include <string>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_random.h"
#include "store/kvnet_coord3file.h"
#include "store/kvnet_externid.h"
#include "store/kvnet_turn.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ReadFileBytes;
using test::SampleLinks;
using test::TNetworkDir;
using test::TNetworkWriterOptions;
using test::WriteFileBytes;

void OpenNetwork(TNetwork& net, const TNetworkDir& dir, std::int64_t key = 0, bool cache = true) {
  net.SetDirectory(dir.Path());
  net.SetEncryptionKey(key);
  net.Open(true, cache, false, 0);
}

std::vector<std::uint32_t> Words(const std::string& bytes) {
  std::vector<std::uint32_t> words(bytes.size() / 4);
  std::memcpy(words.data(), bytes.data(), words.size() * 4);
  return words;
}

TEST(Network, WorkedNodeFileExampleRoundTrips) {
  // Links 1 (A-B), 2 (B-C), 3 (B-D): B has degree 3 and becomes node 1; A, C, D follow by x.
  const TNetworkDir dir(test::ParseLinks("0 0, 10 0; 10 0, 5 10; 10 0, 20 0"));
  EXPECT_EQ(Words(ReadFileBytes(dir.File("node.bin"))),
            (std::vector<std::uint32_t>{3, 1, 1, 4, 1, 2, 3, 1, 2, 3}));
  TNetwork net;
  OpenNetwork(net, dir);
  EXPECT_EQ(net.NodeCount(), 4);
  EXPECT_EQ(net.MaxDegree(), 3);
  EXPECT_EQ(net.Degree(1), 3);
  for (std::int32_t k = 1; k <= 3; ++k)
    EXPECT_EQ(net.Node2Link(1, k), k);
  EXPECT_EQ(net.Link2FromNode(1), 2);
  EXPECT_EQ(net.Link2ToNode(2), 3);
  EXPECT_EQ(net.Link2ToNode(3), 4);
}

// The sample network opened in each storage variant answers the same topology questions.
struct TVariant {
  TCoordinateUnit unit;
  std::int64_t key;
  bool cache;
};

void PrintTo(const TVariant& v, std::ostream* os) {
  *os << (v.unit == cuDeg ? "degrees" : "metres") << ", key " << v.key
      << (v.cache ? ", cached" : ", uncached");
}

class NetworkVariants : public testing::TestWithParam<TVariant> {};

TEST_P(NetworkVariants, OpensWithTheTopologyItWasWrittenWith) {
  const TVariant v = GetParam();
  auto links = SampleLinks();
  if (v.unit == cuDeg) {  // the same shape, scaled into degrees near 51 N
    for (auto& link : links) {
      for (auto& p : link.points)
        p = {7 + p.x / 1000, 51 + p.y / 1000};
    }
  }
  TNetworkWriterOptions options;
  options.unit = v.unit;
  options.key = v.key;
  const TNetworkDir dir(links, options);
  TNetwork net;
  OpenNetwork(net, dir, v.key, v.cache);
  const auto& written = dir.Written();
  ASSERT_EQ(net.LinkCount(), 12);
  ASSERT_EQ(net.NodeCount(), 8);
  EXPECT_EQ(net.MaxDegree(), 4);
  for (std::int32_t link = 1; link <= 12; ++link) {
    EXPECT_EQ(net.LinkLength(link), written.length[static_cast<std::size_t>(link)]) << link;
    if (link == 8) continue;
    EXPECT_EQ(net.Link2FromNode(link), written.fromNode[static_cast<std::size_t>(link)]);
    EXPECT_EQ(net.Link2ToNode(link), written.toNode[static_cast<std::size_t>(link)]);
    const TFloatPointArrayEx line = net.GetGISSection(link);
    ASSERT_EQ(line.Count,
              static_cast<std::int32_t>(links[static_cast<std::size_t>(link - 1)].points.size()));
    for (std::int32_t k = 0; k < line.Count; ++k) {
      EXPECT_EQ(line.Pnt[static_cast<std::size_t>(k)],
                links[static_cast<std::size_t>(link - 1)].points[static_cast<std::size_t>(k)]);
    }
  }
  for (std::int32_t node = 1; node <= 8; ++node) {
    EXPECT_EQ(net.Node2Coordinate(node), written.nodes[static_cast<std::size_t>(node)]);
  }
  // Degrees by node number: C G | A B D | H E | F.
  const std::int32_t degrees[] = {4, 4, 3, 3, 3, 2, 2, 1};
  for (std::int32_t node = 1; node <= 8; ++node)
    EXPECT_EQ(net.Degree(node), degrees[node - 1]);
  EXPECT_EQ(net.Link2FromNode(1), 3);  // A
  EXPECT_EQ(net.Link2ToNode(1), 4);    // B
  EXPECT_TRUE(net.LoopLink(9));
  EXPECT_FALSE(net.LoopLink(8));
  EXPECT_TRUE(net.LoopLinks());
  EXPECT_EQ(net.Node2Link(2, 3), 9);  // the loop fills two slots of G
  EXPECT_EQ(net.Node2Link(2, 4), 9);
  EXPECT_TRUE(net.NodesConnected(3, 4));
  EXPECT_FALSE(net.NodesConnected(3, 1));
  EXPECT_EQ(net.GetDuplicateLink(10), 11);
  EXPECT_EQ(net.GetDuplicateLink(11), 10);
  EXPECT_EQ(net.GetDuplicateLink(6), 0);  // parallel, but not one-way twins
  // One-way signs: 10 may not be entered at H (its to-node), 11 not at A (its from-node).
  const auto slotOf = [&](std::int32_t node, std::int32_t link) {
    for (const std::int32_t s : net.NodeSlots(node)) {
      if (std::abs(s) == link) return s;
    }
    return 0;
  };
  EXPECT_EQ(slotOf(6, 10), -10);
  EXPECT_EQ(slotOf(3, 10), 10);
  EXPECT_EQ(slotOf(3, 11), -11);
  EXPECT_EQ(slotOf(6, 11), 11);
  // The dead-end chain F-E-D is cul-de-sac up to the junction D.
  for (std::int32_t link = 1; link <= 12; ++link) {
    EXPECT_EQ(net.GetCulDeSac(link), link == 4 || link == 5) << link;
  }
}

INSTANTIATE_TEST_SUITE_P(Storage, NetworkVariants,
                         testing::Values(TVariant{cuM, 0, true}, TVariant{cuM, 0, false},
                                         TVariant{cuM, 987654321, true}, TVariant{cuM, 5, false},
                                         TVariant{cuDeg, 0, true},
                                         TVariant{cuDeg, 123456789012LL, false}),
                         [](const testing::TestParamInfo<TVariant>& param) {
                           const TVariant& v = param.param;
                           return std::string(v.unit == cuDeg ? "Degrees" : "Metres") +
                                  (v.key == 0 ? "Plain" : "Key" + std::to_string(v.key)) +
                                  (v.cache ? "Cached" : "Uncached");
                         });

TEST(Network, DistancesUseTheCoordinateUnit) {
  const TNetworkDir metres(SampleLinks());
  TNetwork net;
  OpenNetwork(net, metres);
  EXPECT_DOUBLE_EQ(net.DistanceBetweenNodes(3, 8), std::hypot(100, 300) / 1000);
  EXPECT_FLOAT_EQ(net.LinkLength(6), static_cast<float>(2 * std::hypot(50, 50) / 1000));
  EXPECT_FLOAT_EQ(net.Length(), static_cast<float>([&] {
                    double sum = 0;
                    for (std::int32_t l = 1; l <= 12; ++l)
                      sum += net.LinkLength(l);
                    return sum;
                  }()));
  // LengthAlpha: link 1 is straight, so the largest ratio is 1.
  EXPECT_EQ(net.LengthAlpha(), 1.0f);

  TNetworkWriterOptions degrees;
  degrees.unit = cuDeg;
  const TNetworkDir geo(test::ParseLinks("0 0, 0 1; 0 1, 1 1"), degrees);
  TNetwork g;
  OpenNetwork(g, geo);
  // One degree of latitude on a sphere of 6378.13 km.
  EXPECT_NEAR(g.DistanceBetweenPoints({0, 0}, {0, 1}), 6378.13 * std::numbers::pi / 180, 1e-9);
  EXPECT_NEAR(g.LinkLength(1), 6378.13 * std::numbers::pi / 180, 1e-3);
}

TEST(Network, RandomNodeFollowsTheSeededGenerator) {
  const TNetworkDir dir(SampleLinks());
  TNetwork net;
  OpenNetwork(net, dir);
  TRandom r;
  TRandom reference;
  r.SetSeed(987654321);
  reference.SetSeed(987654321);
  for (int i = 0; i < 100; ++i) {
    const std::int32_t node = net.RandomNode(r);
    EXPECT_EQ(node, reference.NextInt(8) + 1);
    EXPECT_GE(node, 1);
    EXPECT_LE(node, 8);
  }
}

// Every argument check, with its class and exact message.
TEST(Network, ArgumentChecksRaiseTheirMessages) {
  const TNetworkDir dir(SampleLinks());
  TNetwork net;
  TNetwork closed;
  OpenNetwork(net, dir);
  TIntegerList emptyNodes;
  TIntegerList badNodes;
  badNodes.Add(1);
  badNodes.Add(9);
  TLocationList emptyLocations;
  TLocationList badLink;
  badLink.Add2(13, 0.5);
  TLocationList badPercent;
  badPercent.Add2(1, 0.5);
  badPercent.Add2(2, 1.5);
  TLocationList nonValid;
  nonValid.Add2(8, 0.5);
  TLocationList badPoint;
  badPoint.Add(TLocationListItem{{1, 0}, {1e9, 0}});
  const double nan = std::numeric_limits<double>::quiet_NaN();

  struct TCase {
    const char* what;
    std::function<void()> call;
    const char* message;
  };
  const TCase cases[] = {
      {"closed", [&] { closed.CheckLink(1); }, "Network is not open"},
      {"link 0", [&] { net.CheckLink(0); }, "Link-ID must be >=1: 0"},
      {"link 13", [&] { net.CheckLink(13); }, "Link-ID must be <=12: 13"},
      {"non-valid", [&] { net.CheckLink(8); }, "Link 8 is a non-valid link"},
      {"section", [&] { net.GetGISSection(8); }, "Link 8 is a non-valid link"},
      {"node 0", [&] { net.CheckNode(0); }, "Node-ID must be >=1: 0"},
      {"node 9", [&] { net.Degree(9); }, "Node-ID must be =<8: 9"},
      {"slot", [&] { net.Node2Link(8, 2); }, "Link index of node 8 must be between 1 and 1: 2"},
      {"empty nodes", [&] { net.CheckNodeList(emptyNodes); }, "Nodelist is empty"},
      {"bad nodes", [&] { net.CheckNodeList(badNodes); },
       "Node at index 1 in list, 9, must be between 1 and 8"},
      {"percent", [] { TNetwork::CheckPercent(1.5); }, "Percent need to be from 0 to 1"},
      {"percent nan", [&] { TNetwork::CheckPercent(nan); }, "Percent need to be from 0 to 1"},
      {"location link",
       [&] {
         net.CheckLocation({0, 0.5});
       },
       "Link-ID must be >=1: 0"},
      {"location percent",
       [&] {
         net.CheckLocation({1, -0.25});
       },
       "Percentage must be 0<=percent<=1: -0.25"},
      {"location nan",
       [&] {
         net.CheckLocation({1, nan});
       },
       "Percentage must be 0<=percent<=1: NAN"},
      {"location non-valid",
       [&] {
         net.CheckLocation({8, 0.5});
       },
       "Location (link 8), is a non-valid link"},
      {"empty locations", [&] { net.CheckLocationList(emptyLocations); }, "Locationlist is empty"},
      {"empty points", [&] { net.CheckLocationListP(emptyLocations); }, "Locationlist is empty"},
      {"list link", [&] { net.CheckLocationList(badLink); },
       "Location (link) at index 0 in list, 13, must be between 1 and 12"},
      {"list percent", [&] { net.CheckLocationList(badPercent); },
       "Location (percentage) at index 1 in list, 1.50, must be between 0 and 1"},
      {"list non-valid", [&] { net.CheckLocationList(nonValid); },
       "Location (link) at index 0 in list, 8, is a non-valid link"},
      {"list point", [&] { net.CheckLocationListP(badPoint); },
       "Coordinates (1000000000 , 0) are beyond search area"},
      {"beyond",
       [&] {
         net.CheckCoordinate({-71, 0});
       },
       "Coordinates (-71 , 0) are beyond search area"},
      {"nan point",
       [&] {
         net.CheckCoordinate({nan, 0});
       },
       "(NAN , 0) are not valid coordinates"},
      {"road file 0", [&] { net.CheckRoadNameFile(0); },
       "RoadFileID should be from 1 to 99, not 0"},
      {"road file 100", [&] { net.CheckRoadNameFile(100); },
       "RoadFileID should be from 1 to 99, not 100"},
      {"road file closed", [&] { net.CheckRoadNameFile(1); }, "Roadnamefile 1 is not open"},
      {"external", [&] { net.CheckExternalOpen(); }, "External ID is not open"},
      {"turn index", [&] { net.CheckTurnIndex(1); }, "Turn index must be between 0 and 0"},
      {"turn index -1", [&] { net.TurnList(-1); }, "Turn index must be between 0 and 0"},
  };
  for (const TCase& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.message) << c.what;
    }
  }
  // The search area is the MBR widened by 20 % (the MBR itself is the data widened by 0.05 %).
  EXPECT_NO_THROW(net.CheckCoordinate({-70, 0}));
  net.SetCoordinateWindow(-1);
  EXPECT_NO_THROW(net.CheckCoordinate({-1e9, 1e9}));
  EXPECT_EQ(net.LinkLength(8), 0);  // a range check only
  EXPECT_THROW(net.LoopLink(0), EOutOfRange);
}

TEST(Network, AngularCoordinatesAreCheckedAgainstTheirUnit) {
  struct TCase {
    TCoordinateUnit unit;
    TFloatPoint bad;
    const char* message;
  };
  const TCase cases[] = {
      {cuDeg, {181, 0}, "(181 , 0) are not valid degree coordinates"},
      {cuDeg, {0, -90.5}, "(0 , -90.5) are not valid degree coordinates"},
      {cuRad, {3.2, 0}, "(3.2 , 0) are not valid radian coordinates"},
      {cuGrad, {0, 101}, "(0 , 101) are not valid grad coordinates"},
  };
  for (const TCase& c : cases) {
    TNetworkWriterOptions options;
    options.unit = c.unit;
    const TNetworkDir dir(test::ParseLinks("0 0, 0.1 0.1"), options);
    TNetwork net;
    OpenNetwork(net, dir);
    net.SetCoordinateWindow(-1);
    try {
      net.CheckCoordinate(c.bad);
      ADD_FAILURE() << c.message;
    } catch (const ECoordinateCheck& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_NO_THROW(net.CheckCoordinate({0.05, 0.05}));
  }
}

TEST(Network, OpenFailuresAreSpecific) {
  TNetworkWriterOptions enciphered;
  enciphered.key = 77;
  const TNetworkDir secret(SampleLinks(), enciphered);
  const TNetworkDir plain(SampleLinks());
  TNetwork net;

  net.SetDirectory(secret.Path());
  EXPECT_THROW(net.Open(true, true, false, 0), EEncryptedData);
  EXPECT_FALSE(net.IsOpen());

  net.SetDirectory(plain.Path());
  net.SetEncryptionKey(99);  // a plain network ignores the key
  net.Open(true, true, false, 0);
  EXPECT_EQ(net.EncryptionKey(), 0);
  // Opening again while open closes first and succeeds.
  net.Open(true, false, false, 0);
  EXPECT_TRUE(net.IsOpen());
  net.Close();

  // Missing optional parts only matter when asked for.
  try {
    net.Open(false, true, true, 0);
    FAIL();
  } catch (const EFileMissing& e) {
    EXPECT_EQ(std::string(e.what()), "File is missing: " + plain.Path() + "spatialindex.bin");
  }
  EXPECT_FALSE(net.IsOpen());
  EXPECT_THROW(net.Open(false, true, false, 1), EFileMissing);
  net.Open(false, true, false, 0);
  EXPECT_EQ(net.AttributeGet(10), 0);  // attributes not loaded yet
  net.OpenAttributes();
  EXPECT_EQ(net.AttributeGet(10), 0x0200);
}

TEST(Network, OnConfigReplacesTheConfigurationFile) {
  const TNetworkDir dir(SampleLinks());
  std::filesystem::remove(dir.File("kvnet_config.ini"));
  TNetwork net;
  net.SetDirectory(dir.Path());
  EXPECT_THROW(net.Open(true, true, false, 0), EFileMissing);
  net.OnConfig = [](TNetwork&, TConfig& config) {
    config.VersionCode = 400;
    config.Cu = cuM;
    config.LinkCount = 12;
    config.Mbr = {0, -50, 350, 300};
  };
  net.Open(true, true, false, 0);
  EXPECT_EQ(net.LinkCount(), 12);
  net.OnConfig = [](TNetwork&, TConfig& config) { config.VersionCode = 399; };
  EXPECT_THROW(net.Open(true, true, false, 0), EWrongVersion);
  net.OnConfig = [](TNetwork&, TConfig& config) { config.VersionCode = 400; };
  try {
    net.Open(true, true, false, 0);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Undefined coordinate in DistFactor");
  }
}

TEST(Network, StreamsReplaceTheFiles) {
  const TNetworkDir dir(SampleLinks());
  const char* names[] = {"length.bin",    "link.bin",   "coord.bin",  "node.bin",
                         "attribute.bin", "coord3.bin", "coord3i.bin"};
  std::vector<std::unique_ptr<TKVMemoryStream>> streams;
  for (const char* name : names) {
    auto stream = std::make_unique<TKVMemoryStream>();
    stream->LoadFromFile(dir.File(name));
    std::filesystem::remove(dir.File(name));
    streams.push_back(std::move(stream));
  }
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.LengthStream = streams[0].get();
  net.LinkStream = streams[1].get();
  net.CoordStream = streams[2].get();
  net.NodeStream = streams[3].get();
  net.AttributeStream = streams[4].get();
  net.Coord3Stream = streams[5].get();
  net.Coord3iStream = streams[6].get();
  net.Open(true, false, false, 0);
  EXPECT_EQ(net.Link2ToNode(12), 1);
  EXPECT_EQ(net.GetGISSection(9).Count, 4);
  EXPECT_EQ(net.OneWayGet(10), 0x0200);
}

TEST(Network, CloneIsIndependent) {
  const TNetworkDir dir(SampleLinks());
  TNetwork net;
  OpenNetwork(net, dir, 0, false);
  TNetwork copy;
  net.Clone(copy);
  EXPECT_TRUE(copy.IsOpen());
  copy.AttributeSet(1, 0x0200);
  copy.FindDuplicateLinks();
  EXPECT_EQ(net.AttributeGet(1), 3);
  EXPECT_EQ(copy.AttributeGet(1), 0x0200);
  net.Close();  // the clone keeps its own shape-point reader and tables
  EXPECT_EQ(copy.GetGISSection(6).Count, 3);
  EXPECT_EQ(copy.GetDuplicateLink(10), 11);
  EXPECT_EQ(copy.TurnListCount(), 1);
  EXPECT_THROW(net.Degree(1), ENetworkIsClosed);
}

TEST(Network, CoordinateUnitNamesAndFactors) {
  EXPECT_EQ(CoordinateUnitFromName("METER"), cuM);
  EXPECT_EQ(CoordinateUnitFromName("survey feet"), cuSurveyft);
  EXPECT_EQ(CoordinateUnitFromName("parsec"), cuUnknown);
  EXPECT_EQ(CoordinateUnitName(cuNmi), "Nautical Miles");
  EXPECT_EQ(DistFactor(cuNmi), 1.853184);
  EXPECT_EQ(DistFactor(cuDeg), 6378.13);
  EXPECT_THROW(DistFactor(cuUnknown), Exception);
  for (int u = 1; u <= cuNmi; ++u) {
    const auto unit = static_cast<TCoordinateUnit>(u);
    EXPECT_EQ(CoordinateUnitFromName(CoordinateUnitName(unit)), unit);
  }
}

}  // namespace
}  // namespace kvnet
