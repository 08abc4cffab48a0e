// Cost, time and speed arrays of TNetwork, their dBASE columns, the alphas and the road-class
// speeds. Expected values are worked out here from the link lengths: time = length / speed x 60.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <typeinfo>
#include <vector>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_random.h"
#include "gisin/kvnet_dbffiles.h"
#include "store/kvnet_network.h"
#include "store/kvnet_roadclassspeed.h"
#include "support/kvnet_test_dbf.h"
#include "support/kvnet_test_gdal.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ParseLinks;
using test::ReadFileBytes;
using test::SampleLinks;
using test::TNetworkDir;
using test::TSupportLink;
using test::TTempDir;
using test::TTestDbfField;
using test::WriteFileBytes;
using test::WriteTestDbf;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A network written from polylines (the sample network by default) and opened.
struct TCostNetwork {
  explicit TCostNetwork(const std::vector<TSupportLink>& links = SampleLinks(),
                        bool attributes = true)
      : dir(links) {
    net.SetDirectory(dir.Path());
    net.Open(attributes, true, false, 0);
  }
  double Length(std::int32_t link) const {
    return dir.Written().length[static_cast<std::size_t>(link)];
  }
  double Straight(std::int32_t link) const {
    return net.DistanceBetweenNodes(net.Link2FromNode(link), net.Link2ToNode(link));
  }

  TNetworkDir dir;
  TNetwork net;
};

double TimeAt(double length, double speed) {
  return length / speed * 60.0;
}

TEST(NetworkCosts, CreatedArraysCopyTheLengthsAndKeepExistingOnes) {
  TCostNetwork n;
  TNetwork& net = n.net;
  EXPECT_EQ(net.TimeCount(), 0);
  net.CreateArrayTime(2);
  net.CreateArrayCost(1);
  ASSERT_EQ(net.TimeCount(), 2);
  ASSERT_EQ(net.CostCount(), 1);
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    for (std::int32_t i = 0; i < 2; ++i) {
      EXPECT_EQ(net.GetTime(i, link), static_cast<float>(n.Length(link)));
      // A new time array means 60 km/h; the non-valid link 8 has no speed.
      EXPECT_FLOAT_EQ(net.GetSpeed(i, link), link == 8 ? 0.0f : 60.0f);
    }
    if (link != 8) {
      EXPECT_EQ(net.GetCost(0, link), static_cast<float>(n.Length(link)));
    }
  }
  net.SetTime(1, 3, 5.0f);
  net.CreateArrayTime(1);
  EXPECT_EQ(net.TimeCount(), 2);
  net.CreateArrayTime(3);
  EXPECT_EQ(net.TimeCount(), 3);
  EXPECT_EQ(net.GetTime(1, 3), 5.0f);
  EXPECT_EQ(net.GetTime(2, 3), static_cast<float>(n.Length(3)));
}

TEST(NetworkCosts, SingleValues) {
  TCostNetwork n;
  TNetwork& net = n.net;
  net.CreateArrayTime(1);
  net.CreateArrayCost(1);

  // Time 0 is accepted on the link of length 0 only.
  net.SetTime(0, 8, 0.0f);
  EXPECT_EQ(net.GetTime(0, 8), 0.0f);
  EXPECT_THROW(net.SetTime(0, 1, 0.0f), EOutOfRange);
  net.SetSpeed(0, 8, 50.0f);
  EXPECT_EQ(net.GetTime(0, 8), 0.0f);

  for (const float speed : {0.5f, 7.0f, 60.0f, 83.3f, 130.0f, 1234.5f, 1e6f}) {
    net.SetSpeed(0, 6, speed);
    EXPECT_FLOAT_EQ(net.GetTime(0, 6), static_cast<float>(TimeAt(n.Length(6), speed)));
    EXPECT_FLOAT_EQ(net.GetSpeed(0, 6), speed);
  }

  net.SetCost(0, 8, 0.0f);  // length 0
  EXPECT_THROW(net.SetCost(0, 1, -2.0f), EOutOfRange);
  net.SetAllowNegativeCost(true);
  net.SetCost(0, 1, -2.0f);
  net.SetCost(0, 2, 0.0f);
  EXPECT_EQ(net.GetCost(0, 1), -2.0f);
  EXPECT_EQ(net.GetCost(0, 2), 0.0f);
  // Negative costs allowed or not, a value must be a number.
  EXPECT_THROW(net.SetCost(0, 1, kNaN), EOutOfRange);
  EXPECT_THROW(net.SetCost(0, 1, -kInf), EOutOfRange);
  EXPECT_EQ(net.GetCost(0, 1), -2.0f);
}

TEST(NetworkCosts, CalculateTimeUsesTheRoadClassOfEachLink) {
  TRoadClassSpeed rcs;
  rcs.Put(0, 50.0f);
  rcs.Put(3, 100.0f);
  rcs.Put(5, 30.0f);
  for (const bool attributes : {true, false}) {
    SCOPED_TRACE(attributes ? "with attributes" : "without attributes");
    TCostNetwork n(SampleLinks(), attributes);
    n.net.CreateArrayTime(1);
    n.net.CalculateTime(0, rcs);
    for (std::int32_t link = 1; link <= n.net.LinkCount(); ++link) {
      // Sample links 1 and 2 are of classes 3 and 5; without attributes every class is 0.
      double speed = 50;
      if (attributes && link == 1) speed = 100;
      if (attributes && link == 2) speed = 30;
      EXPECT_FLOAT_EQ(n.net.GetTime(0, link), static_cast<float>(TimeAt(n.Length(link), speed)))
          << "link " << link;
    }
  }
}

TEST(NetworkCosts, CalculateCostBranches) {
  TCostNetwork n;
  TNetwork& net = n.net;
  net.CreateArrayTime(1);
  net.CreateArrayCost(1);
  // Link k drives at 10 k km/h, so a 30 km/h cap slows links 4 and above.
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link)
    net.SetSpeed(0, link, 10.0f * static_cast<float>(link));

  struct TCase {
    float weightlength;
    float weighttime;
    std::int32_t timeindex;
    double maxspeed;
  };
  const std::vector<TCase> cases = {
      {2, 3, 0, 0},     {0, 3, 0, 0},  {-1, 3, 0, 0}, {2, 3, 0, 30},
      {0.5f, 1, 0, 30}, {2, 0, 99, 0},  // weighttime 0: the invalid time index is never looked at
      {2, -1, -5, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "weights " << c.weightlength << ", " << c.weighttime
                                    << ", maxspeed " << c.maxspeed);
    net.CalculateCost(0, c.weightlength, c.weighttime, c.timeindex, c.maxspeed);
    for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
      if (link == 8) continue;
      const double length = n.Length(link);
      double expected = length * c.weightlength;
      if (c.weighttime > 0) {
        double t = TimeAt(length, 10.0 * link);
        if (c.maxspeed != 0) t = std::max(t, TimeAt(length, c.maxspeed));
        expected = t * c.weighttime + (c.weightlength > 0 ? length * c.weightlength : 0);
      }
      EXPECT_FLOAT_EQ(net.GetCost(0, link), static_cast<float>(expected)) << "link " << link;
    }
  }
}

// The alpha flags are private; they show in whether UpdateAlphas recomputes. Link 1 is straight
// and link 2 bends (straight 100 m, along the road 141 m), so each change below moves the alpha
// that a recomputation would give.
TEST(NetworkCosts, AlphaFlagIsRaisedOnlyWhenAValueDecreases) {
  TCostNetwork n(ParseLinks("0 0, 100 0; 200 0, 250 50, 300 0"));
  TNetwork& net = n.net;
  net.CreateArrayTime(1);
  net.CreateArrayCost(1);
  net.UpdateAlphas();
  EXPECT_NEAR(net.TimeAlpha(), 1.0, 1e-6);
  EXPECT_NEAR(net.CostAlpha(), 1.0, 1e-6);

  net.SetTime(0, 1, 0.2f);    // raised: a recomputation would give 1.41
  net.SetSpeed(0, 2, 30.0f);  // raised as well (time 0.14 -> 0.28)
  net.SetCost(0, 1, 0.3f);
  net.UpdateAlphas();
  EXPECT_NEAR(net.TimeAlpha(), 1.0, 1e-6);
  EXPECT_NEAR(net.CostAlpha(), 1.0, 1e-6);

  net.SetSpeed(0, 2, 120.0f);  // time 0.0707: ratio 0.1 / 0.0707
  net.UpdateAlphas();
  EXPECT_NEAR(net.TimeAlpha(), 0.70711, 1e-5);
  EXPECT_NEAR(net.CostAlpha(), 1.0, 1e-6);
  net.SetCost(0, 2, 0.025f);  // ratio 4
  net.UpdateAlphas();
  EXPECT_NEAR(net.CostAlpha(), 0.25, 1e-6);

  // A new array raises the flag; with no arrays at all there is no bound (0, not infinity).
  TCostNetwork empty(ParseLinks("0 0, 100 0"));
  empty.net.CreateArrayTime(0);
  empty.net.UpdateAlphas();
  EXPECT_EQ(empty.net.TimeAlpha(), 0.0f);
}

TEST(NetworkCosts, UpdateAlphasGivesALowerBoundOfEveryLink) {
  TCostNetwork n;  // with a loop (straight distance 0), bends and a non-valid link
  TNetwork& net = n.net;
  net.CreateArrayTime(2);
  net.CreateArrayCost(2);
  TRandom random;
  random.SetSeed(42);
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    net.SetSpeed(0, link, static_cast<float>(20 + random.NextInt(100)));
    net.SetSpeed(1, link, static_cast<float>(5 + random.NextInt(200)));
    if (link != 8) net.SetCost(1, link, 0.01f + static_cast<float>(random.NextDouble()));
  }
  net.CalculateCost(0, 1, 2, 1, 50);
  net.UpdateAlphas();
  ASSERT_GT(net.TimeAlpha(), 0.0f);
  ASSERT_GT(net.CostAlpha(), 0.0f);
  double tightestTime = 0;
  double tightestCost = 0;
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    if (link == 8) continue;
    const double d = n.Straight(link);
    for (std::int32_t i = 0; i < 2; ++i) {
      EXPECT_LE(d * net.TimeAlpha(), net.GetTime(i, link)) << "time " << i << " link " << link;
      EXPECT_LE(d * net.CostAlpha(), net.GetCost(i, link)) << "cost " << i << " link " << link;
      tightestTime = std::max(tightestTime, d * net.TimeAlpha() / net.GetTime(i, link));
      tightestCost = std::max(tightestCost, d * net.CostAlpha() / net.GetCost(i, link));
    }
  }
  // The bound is the best one: some link meets it.
  EXPECT_GT(tightestTime, 0.999999);
  EXPECT_GT(tightestCost, 0.999999);

  // A cost that is not positive admits no bound.
  const float timeAlpha = net.TimeAlpha();
  net.SetAllowNegativeCost(true);
  net.SetCost(1, 3, -2.0f);
  net.UpdateAlphas();
  EXPECT_EQ(net.CostAlpha(), 0.0f);
  EXPECT_EQ(net.TimeAlpha(), timeAlpha);
}

// One table of every failing call with its exception class and message. After each failure the
// arrays and the table file must be as before.
TEST(NetworkCosts, FailuresRaiseTheirMessagesAndChangeNothing) {
  TCostNetwork n;
  TNetwork& net = n.net;
  net.CreateArrayTime(2);
  net.CreateArrayCost(2);
  net.SetTime(1, 5, 3e38f);  // cost = 10 x this time is beyond the single range
  const TTempDir files;
  const std::string table = files.File("links.dbf");
  const std::string shortTable = files.File("short.dbf");
  const std::string missing = files.File("missing.dbf");
  const std::vector<TTestDbfField> fields = {
      {"SPEED", 'N', 6, 1}, {"NAME", 'C', 10, 0}, {"FLAG", 'L', 1, 0}};
  std::vector<std::vector<std::string>> records(12, {"50.0", "road", "T"});
  WriteTestDbf(table, fields, records);
  records.resize(3);
  WriteTestDbf(shortTable, fields, records);
  TRoadClassSpeed rcs;
  TRoadClassTurnCost turnCost;
  TNetwork closed;

  enum TKind { kOutOfRange, kClosed, kGeneral };
  struct TCase {
    std::string what;
    std::function<void()> call;
    TKind kind;
    std::string message;
  };
  std::vector<TCase> cases = {
      {"SetCost index", [&] { net.SetCost(2, 1, 1); }, kOutOfRange, "Index must be 0 to 1 (is 2)"},
      {"GetCost index", [&] { net.GetCost(-1, 1); }, kOutOfRange, "Index must be 0 to 1 (is -1)"},
      {"SetTime index", [&] { net.SetTime(2, 1, 1); }, kOutOfRange, "index must be 0 to 1 (is 2)"},
      {"SetSpeed index", [&] { net.SetSpeed(-1, 1, 50); }, kOutOfRange,
       "index must be 0 to 1 (is -1)"},
      {"GetTime index", [&] { net.GetTime(2, 1); }, kOutOfRange, "index must be 0 to 1 (is 2)"},
      {"GetSpeed index", [&] { net.GetSpeed(7, 1); }, kOutOfRange, "index must be 0 to 1 (is 7)"},
      {"CalculateTime index", [&] { net.CalculateTime(2, rcs); }, kOutOfRange,
       "index must be 0 to 1 (is 2)"},
      {"CalculateCost costindex", [&] { net.CalculateCost(2, 1, 0, 0, 0); }, kOutOfRange,
       "costindex must be 0 to 1 (is 2)"},
      {"CalculateCost timeindex", [&] { net.CalculateCost(0, 1, 1, 2, 0); }, kOutOfRange,
       "timeindex must be 0 to 1 (is 2)"},
      {"SetTime link 0", [&] { net.SetTime(0, 0, 1); }, kOutOfRange, "Link-ID must be >=1: 0"},
      {"GetTime link 13", [&] { net.GetTime(0, 13); }, kOutOfRange, "Link-ID must be <=12: 13"},
      {"GetSpeed link -4", [&] { net.GetSpeed(0, -4); }, kOutOfRange, "Link-ID must be >=1: -4"},
      {"GetCost non-valid link", [&] { net.GetCost(0, 8); }, kGeneral,
       "Link 8 is a non-valid link"},
      {"SetCost 0", [&] { net.SetCost(0, 1, 0); }, kOutOfRange, "Cost should be >0 (is 0.00)"},
      {"SetCost negative", [&] { net.SetCost(0, 1, -1234.5f); }, kOutOfRange,
       "Cost should be >0 (is -1,234.50)"},
      {"SetCost NaN", [&] { net.SetCost(0, 1, kNaN); }, kOutOfRange, "Cost should be >0 (is NAN)"},
      {"SetTime 0", [&] { net.SetTime(0, 1, 0); }, kOutOfRange, "Time should be >0 (is 0.00)"},
      {"SetTime infinite on length 0", [&] { net.SetTime(0, 8, kInf); }, kOutOfRange,
       "Time should be >0 (is INF)"},
      {"SetTime NaN", [&] { net.SetTime(0, 1, kNaN); }, kOutOfRange, "Time should be >0 (is NAN)"},
      {"SetSpeed 0 on length 0", [&] { net.SetSpeed(0, 8, 0); }, kOutOfRange,
       "Speed should be >0 (is 0.00)"},
      {"SetSpeed NaN", [&] { net.SetSpeed(0, 1, kNaN); }, kOutOfRange,
       "Speed should be >0 (is NAN)"},
      {"SetSpeed infinite", [&] { net.SetSpeed(0, 1, kInf); }, kOutOfRange,
       "Speed should be >0 (is INF)"},
      {"SetSpeed with a time beyond singles", [&] { net.SetSpeed(0, 1, 1e-40f); }, kOutOfRange,
       "Speed 1E-40 gives no valid time on link 1"},
      {"CalculateCost overflow at link 5", [&] { net.CalculateCost(0, 0, 10, 1, 0); }, kOutOfRange,
       "Cost should be >0 (is INF)"},
      {"CalculateCost negative", [&] { net.CalculateCost(0, -1, 0, 0, 0); }, kOutOfRange,
       "Cost should be >0 (is -0.10)"},
      {"CalculateCost NaN weight", [&] { net.CalculateCost(0, kNaN, 1, 0, 0); }, kOutOfRange,
       "weightlength must be a finite number (is NAN)"},
      {"CalculateCost maxspeed", [&] { net.CalculateCost(0, 1, 1, 0, -5); }, kOutOfRange,
       "maxspeed must be 0 or a positive number (is -5)"},
      {"Read3 name",
       [&] {
         TBitArray bits;
         net.Read3(table, 0, "nope", bits);
       },
       kGeneral, "Field nope not found in " + table},
      {"Write1 index", [&] { net.Write1(table, 9, "", TIntegerArray(13)); }, kGeneral,
       "Invalid field index: 9"},
      {"Write4 index", [&] { net.Write4(table, -1, "", TIntegerList(), true); }, kGeneral,
       "Invalid field index: -1"},
      {"Write2 type", [&] { net.Write2(table, 0, "name", std::vector<float>(13)); }, kGeneral,
       "Field 1 is the wrong type"},
      {"Write1 size", [&] { net.Write1(table, 0, "", TIntegerArray(12)); }, kGeneral,
       "Size of array do not match file size"},
      {"Write2 size", [&] { net.Write2(table, 0, "", std::vector<float>(14)); }, kGeneral,
       "Size of array do not match file size"},
      {"Write3 size", [&] { net.Write3(table, 2, "", TBitArray(12)); }, kGeneral,
       "Size of array do not match file size"},
      {"RoadClassSpeed Put index", [&] { rcs.Put(32, 50); }, kOutOfRange,
       "Index for RoadClass should be 0 to 31 (is 32)"},
      {"RoadClassSpeed Get index", [&] { rcs.Get(-1); }, kOutOfRange,
       "Index for RoadClass should be 0 to 31 (is -1)"},
      {"RoadClassSpeed Put 0", [&] { rcs.Put(3, 0); }, kOutOfRange,
       "Speed for RoadClass should be >0 (is 0.00)"},
      {"RoadClassSpeed Put infinite", [&] { rcs.Put(3, kInf); }, kOutOfRange,
       "Speed for RoadClass should be >0 (is INF)"},
      {"RoadClassTurnCost Put -1", [&] { turnCost.Put(1, -1); }, kOutOfRange,
       "Cost for RoadClass should be >=0 (is -1.00)"},
      {"RoadClassTurnCost Get index", [&] { turnCost.Get(40); }, kOutOfRange,
       "Index for RoadClass should be 0 to 31 (is 40)"},
      {"closed CreateArrayTime", [&] { closed.CreateArrayTime(1); }, kClosed,
       "Network is not open"},
      {"closed GetTime", [&] { closed.GetTime(0, 1); }, kClosed, "Network is not open"},
  };
  // The four link-column operations share their checks; each has its own prefix.
  using TColumnCall =
      std::function<void(std::int32_t, const std::string&, std::int32_t, const std::string&)>;
  const std::vector<std::pair<std::string, TColumnCall>> columnOps = {
      {"ReadCost", [&](auto i, auto& f, auto fi, auto& fn) { net.ReadCost(i, f, fi, fn); }},
      {"ReadTime", [&](auto i, auto& f, auto fi, auto& fn) { net.ReadTime(i, f, fi, fn); }},
      {"ReadSpeed",
       [&](auto i, auto& f, auto fi, auto& fn) { net.ReadSpeed(i, f, fi, fn, false); }},
      {"SaveSpeed", [&](auto i, auto& f, auto fi, auto& fn) { net.SaveSpeed(i, f, fi, fn); }},
  };
  for (const auto& [op, call] : columnOps) {
    cases.push_back({op + " index", [&, call] { call(2, table, 0, ""); }, kOutOfRange,
                     op + ": index must be 0 to 1 (is 2)"});
    cases.push_back({op + " file", [&, call] { call(0, missing, 0, ""); }, kGeneral,
                     op + ": File does not exist"});
    cases.push_back({op + " records", [&, call] { call(0, shortTable, 0, ""); }, kGeneral,
                     op + ": Wrong record count"});
    cases.push_back({op + " name", [&, call] { call(0, table, 0, "nope"); }, kGeneral,
                     op + ": Invalid fieldname"});
    cases.push_back({op + " field index", [&, call] { call(0, table, 3, ""); }, kGeneral,
                     op + ": Invalid field index"});
    cases.push_back({op + " text field", [&, call] { call(0, table, 0, "NAME"); }, kGeneral,
                     "Field 1 is the wrong type"});
    cases.push_back({op + " logical field", [&, call] { call(0, table, 2, ""); }, kGeneral,
                     "Field 2 is the wrong type"});
  }

  // Everything a failed call could have touched.
  const auto snapshot = [&] {
    std::vector<float> values;
    for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
      for (std::int32_t i = 0; i < 2; ++i) {
        values.push_back(net.GetTime(i, link));
        if (link != 8) values.push_back(net.GetCost(i, link));
      }
    }
    for (std::int32_t c = 0; c < kRoadClassCount; ++c) {
      values.push_back(rcs.Get(c));
      values.push_back(turnCost.Get(c));
    }
    return std::make_pair(values, ReadFileBytes(table));
  };
  const auto before = snapshot();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (const EOutOfRange& e) {
      EXPECT_EQ(c.kind, kOutOfRange);
      EXPECT_EQ(std::string(e.what()), c.message);
    } catch (const ENetworkIsClosed& e) {
      EXPECT_EQ(c.kind, kClosed);
      EXPECT_EQ(std::string(e.what()), c.message);
    } catch (const Exception& e) {
      EXPECT_EQ(c.kind, kGeneral);
      EXPECT_EQ(typeid(e), typeid(Exception));
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_TRUE(snapshot() == before) << "state changed";
  }
}

TEST(NetworkCosts, LinkColumnsFromDBaseFiles) {
  TCostNetwork n;
  TNetwork& net = n.net;
  net.CreateArrayTime(3);
  net.CreateArrayCost(1);
  const TTempDir files;
  const std::string table = files.File("columns.dbf");
  // Record k belongs to link k; link 8 has length 0 and is never read or written.
  const std::vector<std::string> speed = {"50.0", "",   "0",    "-5.0", "120.5", "1E300",
                                          "33.3", "70", "10.0", "90",   "90",    "90"};
  const std::vector<std::string> minutes = {"0.5000", "",    "-1",  "2.5", "2.5", "2.5",
                                            "2.5",    "2.5", "2.5", "2.5", "2.5", "2.5"};
  const std::vector<std::string> cost = {"7.25", "0", "3", "3", "3", "3",
                                         "3",    "3", "3", "3", "3", "3"};
  std::vector<std::vector<std::string>> records;
  for (std::size_t k = 0; k < 12; ++k)
    records.push_back({speed[k], "50", minutes[k], cost[k], "", "x"});
  WriteTestDbf(table,
               {{"SPEED", 'N', 6, 1},
                {"MPH", 'N', 4, 0},
                {"MINUTES", 'N', 9, 4},
                {"COST", 'N', 8, 2},
                {"SAVED", 'N', 8, 2},
                {"NAME", 'C', 6, 0}},
               records);

  net.ReadSpeed(0, table, 99, "speed", false);  // the name wins over the index
  net.ReadSpeed(1, table, 1, "", true);
  net.ReadTime(2, table, 2, "");
  net.ReadCost(0, table, 0, "Cost");
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    SCOPED_TRACE(testing::Message() << "link " << link);
    const auto k = static_cast<std::size_t>(link - 1);
    const double length = n.Length(link);
    if (link == 8) {
      for (std::int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(net.GetTime(i, link), 0.0f);
      continue;
    }
    // Blank, 0, negative and a speed whose time is below the single range keep 60 km/h.
    const double kmh = std::strtod(speed[k].c_str(), nullptr);
    const bool used = kmh > 0 && kmh < 1e6;
    EXPECT_FLOAT_EQ(net.GetSpeed(0, link), used ? static_cast<float>(kmh) : 60.0f);
    EXPECT_NEAR(net.GetSpeed(1, link), 80.4672, 80.4672 * 1e-6);
    const double m = std::strtod(minutes[k].c_str(), nullptr);
    EXPECT_FLOAT_EQ(net.GetTime(2, link), m > 0 ? static_cast<float>(m) : length);
    const double c = std::strtod(cost[k].c_str(), nullptr);
    EXPECT_FLOAT_EQ(net.GetCost(0, link), c > 0 ? static_cast<float>(c) : length);
  }

  net.SaveSpeed(0, table, 0, "SAVED");
  TDbfFile saved(table, 0);
  saved.Open(false);
  ASSERT_EQ(saved.RecordCount(), 12);
  for (std::int32_t link = 1; link <= 12; ++link) {
    if (link == 8) {
      EXPECT_EQ(saved.ReadString(4, link), "");
    } else {
      EXPECT_NEAR(saved.ReadFloat(4, link), net.GetSpeed(0, link), 0.005) << "link " << link;
    }
    EXPECT_EQ(saved.ReadString(0, link), speed[static_cast<std::size_t>(link - 1)]);
  }
}

TEST(NetworkCosts, RecordColumnsFromAndToDBaseFiles) {
  TCostNetwork n;
  TNetwork& net = n.net;
  const TTempDir files;
  const std::string table = files.File("records.dbf");
  WriteTestDbf(table, {{"NUM", 'N', 6, 2}, {"FLAG", 'L', 1, 0}, {"INT", 'N', 5, 0}},
               {{"1.50", "T", "1"}, {"", "F", "2"}, {"0.00", "?", "3"}, {"-2", "T", "4"}});
  const auto bitsOf = [](const TBitArray& bits) {
    std::string text;
    for (std::int64_t i = 0; i < bits.Size(); ++i)
      text += bits.GetBit(i) ? '1' : '0';
    return text;
  };
  TBitArray bits;
  net.Read3(table, 0, "num", bits);
  EXPECT_EQ(bitsOf(bits), "01001");  // a blank value is not a value other than 0
  net.Read3(table, 1, "", bits);
  EXPECT_EQ(bitsOf(bits), "01001");

  net.Write1(table, 2, "", TIntegerArray{0, 10, -20, 30, 40});
  net.Write2(table, 0, "", std::vector<float>{0, 1.25f, 2.5f, -3.75f, 0});
  TBitArray pattern(5);
  pattern.SetBit2(1, true);
  pattern.SetBit2(3, true);
  net.Write3(table, 1, "", pattern);
  net.Read3(table, 1, "", bits);
  EXPECT_EQ(bitsOf(bits), "01010");
  {
    TDbfFile dbf(table, 0);
    dbf.Open(false);
    EXPECT_EQ(dbf.ReadInteger(2, 2), -20);
    EXPECT_EQ(dbf.ReadInteger(2, 4), 40);
    EXPECT_DOUBLE_EQ(dbf.ReadFloat(0, 1), 1.25);
    EXPECT_DOUBLE_EQ(dbf.ReadFloat(0, 3), -3.75);
  }

  TIntegerList list;
  for (const std::int32_t r : {2, 99, 0, -1})
    list.Add(r);
  net.Write4(table, 0, "FLAG", list, true);
  net.Read3(table, 1, "", bits);
  EXPECT_EQ(bitsOf(bits), "00100");
  list.Clear();
  list.Add(4);
  net.Write4(table, 0, "FLAG", list, false);
  net.Read3(table, 1, "", bits);
  EXPECT_EQ(bitsOf(bits), "00101");
}

// The open scenario of the demo, steps 4 to 8: time arrays from road-class speeds, from seeded
// random speeds and from a speed column, and cost array 0 equal to time array 0.
struct TOpenArrays {
  std::vector<std::vector<float>> time;
  std::vector<float> cost;
};

TOpenArrays RunOpenSteps(const TNetworkDir& dir, const std::string& speedTable) {
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(true, true, false, 0);
  net.CreateArrayTime(3);
  net.CreateArrayCost(1);
  TRoadClassSpeed rcs;
  const float classSpeeds[] = {110, 80, 65, 55, 45, 25};
  for (std::int32_t c = 1; c <= 6; ++c)
    rcs.Put(c, classSpeeds[c - 1]);
  net.CalculateTime(0, rcs);
  TRandom random;
  random.SetSeed(987654321);
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link)
    net.SetSpeed(1, link, static_cast<float>(random.NextInt(40) + 60));
  net.ReadSpeed(2, speedTable, 0, "speed", false);
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link)
    net.SetCost(0, link, net.GetTime(0, link));

  TOpenArrays result;
  result.time.resize(3);
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    for (std::int32_t i = 0; i < 3; ++i)
      result.time[static_cast<std::size_t>(i)].push_back(net.GetTime(i, link));
    result.cost.push_back(net.LengthOf(link) == 0 ? 0.0f : net.GetCost(0, link));
  }
  return result;
}

TEST(NetworkCosts, OpenScenarioArraysAreReproducible) {
  constexpr std::int32_t kLinks = 20;
  constexpr std::int32_t kNonValid = 11;
  std::vector<TSupportLink> links;
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> speedText;
  for (std::int32_t k = 1; k <= kLinks; ++k) {
    const double x = 1000.0 * k;
    TSupportLink link;
    link.points = {{x, 0}};
    if (k != kNonValid) link.points.push_back({x + 37.0 * k, 20.0 * k});
    link.attribute = static_cast<std::uint16_t>(k % 8);  // road classes 0..7
    links.push_back(link);
    std::string speed = std::to_string(20 + 3 * k) + ".5";
    if (k == 3) speed = "";       // blank
    if (k == 5) speed = "0";      // not a speed
    if (k == 7) speed = "-20";    // not a speed
    if (k == 9) speed = "1E300";  // a time below the single range
    speedText.push_back(speed);
    records.push_back({"road" + std::to_string(k), speed});
  }
  const TNetworkDir dir(links);
  const std::string table = dir.File("link.dbf");
  WriteTestDbf(table, {{"NAME", 'C', 8, 0}, {"SPEED", 'N', 5, 1}}, records);

  const TOpenArrays first = RunOpenSteps(dir, table);
  const TOpenArrays second = RunOpenSteps(dir, table);
  EXPECT_EQ(first.time, second.time);
  EXPECT_EQ(first.cost, second.cost);

  // The expected values, from the lengths and the speeds. The random speeds follow the
  // generator's rule state := state x 134775813 + 1 (mod 2^32), NextInt(n) = state / 2^32 x n.
  const double classSpeed[8] = {60, 110, 80, 65, 55, 45, 25, 60};
  std::uint32_t state = 987654321;
  for (std::int32_t k = 1; k <= kLinks; ++k) {
    SCOPED_TRACE(testing::Message() << "link " << k);
    state = state * 134775813U + 1U;
    const double randomSpeed = std::trunc(state / 4294967296.0 * 40) + 60;
    const auto i = static_cast<std::size_t>(k - 1);
    const double length = dir.Written().length[static_cast<std::size_t>(k)];
    ASSERT_EQ(length == 0, k == kNonValid);
    if (k == kNonValid) {
      EXPECT_EQ(first.time[0][i], 0.0f);
      EXPECT_EQ(first.time[1][i], 0.0f);
      EXPECT_EQ(first.time[2][i], 0.0f);
      continue;
    }
    EXPECT_FLOAT_EQ(first.time[0][i], static_cast<float>(TimeAt(length, classSpeed[k % 8])));
    EXPECT_FLOAT_EQ(first.time[1][i], static_cast<float>(TimeAt(length, randomSpeed)));
    const double dataSpeed = std::strtod(speedText[i].c_str(), nullptr);
    const bool used = dataSpeed > 0 && dataSpeed < 1e6;
    EXPECT_FLOAT_EQ(first.time[2][i],
                    static_cast<float>(used ? TimeAt(length, dataSpeed) : TimeAt(length, 60)));
    EXPECT_EQ(first.cost[i], first.time[0][i]);
  }
}

// The "speed" column of the real Baltimore table, read independently of the dBASE reader.
std::vector<double> SpeedColumn(const std::string& bytes) {
  const auto u16 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
  };
  std::uint32_t records = 0;
  std::memcpy(&records, bytes.data() + 4, 4);
  const std::uint32_t headerLength = u16(8);
  const std::uint32_t recordLength = u16(10);
  std::size_t offset = 1;
  std::size_t width = 0;
  for (std::size_t at = 32; bytes[at] != '\r'; at += 32) {
    const std::string name(bytes.c_str() + at);
    width = static_cast<unsigned char>(bytes[at + 16]);
    if (name == "speed") break;
    offset += width;
  }
  std::vector<double> speeds;
  for (std::uint32_t r = 0; r < records; ++r) {
    const char* text = bytes.data() + headerLength + r * recordLength + offset;
    while (*text == ' ')
      ++text;
    double value = 0;
    std::from_chars(text, bytes.data() + headerLength + r * recordLength + offset + width, value);
    speeds.push_back(value);
  }
  return speeds;
}

TEST(NetworkCosts, ReadSpeedMatchesTheBaltimoreSpeedColumn) {
  KVNET_REQUIRE_DATA_SET(folder, "baltimore");
  const std::string table = folder + "/link.dbf";
  const std::vector<double> speeds = SpeedColumn(ReadFileBytes(table));
  ASSERT_EQ(speeds.size(), 9777U);
  // A chain of straight 100 m links, one per record.
  std::vector<TSupportLink> links(speeds.size());
  for (std::size_t k = 0; k < links.size(); ++k)
    links[k].points = {{100.0 * static_cast<double>(k), 0},
                       {100.0 * static_cast<double>(k + 1), 0}};
  TCostNetwork n(links, false);
  TNetwork& net = n.net;
  ASSERT_EQ(net.LinkCount(), 9777);
  net.CreateArrayTime(1);
  net.ReadSpeed(0, table, 0, "speed", false);
  for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
    const double speed = speeds[static_cast<std::size_t>(link - 1)];
    ASSERT_GT(speed, 0) << "record " << link;
    ASSERT_FLOAT_EQ(net.GetTime(0, link), static_cast<float>(TimeAt(0.1, speed)))
        << "link " << link;
    ASSERT_FLOAT_EQ(net.GetSpeed(0, link), static_cast<float>(speed)) << "link " << link;
  }
}

TEST(NetworkCosts, SavedSpeedsAreWhatGdalReads) {
  KVNET_REQUIRE_DATA_SET(folder, "baltimore");
  KVNET_REQUIRE_OGRINFO();
  TTempDir copy;
  std::filesystem::copy_file(folder + "/link.dbf", copy.File("link.dbf"));
  std::filesystem::copy_file(folder + "/link.cpg", copy.File("link.cpg"));
  // 9777 links of 120 m; link 5 is a single point (no speed is written for it).
  std::vector<TSupportLink> links(9777);
  for (std::size_t k = 0; k < links.size(); ++k) {
    const double x = 120.0 * static_cast<double>(k);
    links[k].points = {{x, 0}, {x + (k == 4 ? 0 : 120.0), 0}};
  }
  TCostNetwork n(links, false);
  n.net.CreateArrayTime(1);
  for (std::int32_t link = 1; link <= n.net.LinkCount(); ++link) {
    if (link != 5) n.net.SetSpeed(0, link, static_cast<float>(20 + link % 97));
  }
  n.net.SaveSpeed(0, copy.File("link.dbf"), 0, "speed");
  const auto before = test::OgrFeatures(folder + "/link.dbf");
  const auto after = test::OgrFeatures(copy.File("link.dbf"));
  ASSERT_EQ(after.size(), 9777U);
  for (std::size_t r = 1; r <= after.size(); ++r) {
    const std::string expected =
        r == 5 ? before[4].values.at("speed") : std::to_string(20 + r % 97);
    ASSERT_EQ(after[r - 1].values.at("speed"), expected) << "record " << r;
    ASSERT_EQ(after[r - 1].values.at("ext_id"), before[r - 1].values.at("ext_id"));
  }
}

TEST(RoadClassSpeed, DefaultsAndLoadingFromAnIniFile) {
  TRoadClassSpeed fresh;
  TRoadClassTurnCost turnCost;
  for (std::int32_t c = 0; c < kRoadClassCount; ++c) {
    EXPECT_EQ(fresh.Get(c), 60.0f);
    EXPECT_EQ(turnCost.Get(c), 0.0f);
  }
  turnCost.Put(4, 2.5f);
  turnCost.Put(5, 0.0f);
  EXPECT_EQ(turnCost.Get(4), 2.5f);

  const TTempDir dir;
  const std::string file = dir.File("speeds.ini");
  WriteFileBytes(file,
                 "[Setup]\r\nSpeedUnits=Mi\r\n"
                 "[Roads]\r\nSpeed0=50\r\nSpeed1=fast\r\nSpeed2=-5\r\nSpeed3=0\r\n"
                 "Speed4= 72.5 \r\nSpeed5=1e300\r\nSpeed6=nan\r\nSpeed31=100\r\n");
  // Classes 1, 2, 3, 5 and 6 hold values that are skipped, so they keep what they had.
  const auto preset = [] {
    TRoadClassSpeed rcs;
    for (std::int32_t c = 0; c < kRoadClassCount; ++c)
      rcs.Put(c, 10.0f + static_cast<float>(c));
    return rcs;
  };
  const auto expectSpeeds = [](const TRoadClassSpeed& rcs, double factor) {
    for (std::int32_t c = 0; c < kRoadClassCount; ++c) {
      double expected = 60 * factor;  // a missing key reads as 60
      if (c == 0) expected = 50 * factor;
      if (c == 1 || c == 2 || c == 3 || c == 5 || c == 6) expected = 10 + c;
      if (c == 4) expected = 72.5 * factor;
      if (c == 31) expected = 100 * factor;
      EXPECT_FLOAT_EQ(rcs.Get(c), static_cast<float>(expected)) << "class " << c;
    }
  };
  TRoadClassSpeed byUnit = preset();
  byUnit.LoadFromINI(file, "Roads");  // SpeedUnits=Mi
  expectSpeeds(byUnit, 1.609);
  EXPECT_FLOAT_EQ(byUnit.Get(0), 80.45f);
  EXPECT_FLOAT_EQ(byUnit.Get(7), 96.54f);
  TRoadClassSpeed km = preset();
  km.LoadFromINI(file, "Roads", false);
  expectSpeeds(km, 1.0);
  const TIniFile ini(file);
  TRoadClassSpeed fromIni = preset();
  fromIni.LoadFromINI(ini, "Roads", true);
  expectSpeeds(fromIni, 1.609);

  // Without a SpeedUnits key the values are km/h; a missing file reads as empty.
  const std::string plain = dir.File("plain.ini");
  WriteFileBytes(plain, "[Roads]\r\nSpeed0=50\r\n");
  TRoadClassSpeed plainSpeeds;
  plainSpeeds.LoadFromINI(plain, "Roads");
  EXPECT_EQ(plainSpeeds.Get(0), 50.0f);
  TRoadClassSpeed none = preset();
  none.LoadFromINI(dir.File("absent.ini"), "Roads", true);
  EXPECT_FLOAT_EQ(none.Get(9), 96.54f);
}

}  // namespace
}  // namespace kvnet
