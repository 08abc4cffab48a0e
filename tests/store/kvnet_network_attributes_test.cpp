#include <gtest/gtest.h>

#include <functional>

#include "foundation/kvnet_exceptions.h"
#include "store/kvnet_arealist.h"
#include "store/kvnet_network.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ParseLinks;
using test::SampleLinks;
using test::TNetworkDir;
using test::TNetworkWriterOptions;

void OpenNetwork(TNetwork& net, const TNetworkDir& dir, std::int64_t key = 0) {
  net.SetDirectory(dir.Path());
  net.SetEncryptionKey(key);
  net.Open(true, true, false, 0);
}

// The signed slot of a link at a node.
std::int32_t SlotOf(const TNetwork& net, std::int32_t node, std::int32_t link) {
  for (const std::int32_t s : net.NodeSlots(node)) {
    if (std::abs(s) == link) return s;
  }
  return 0;
}

TEST(NetworkAttributes, OneWayBitsDriveTheAdjacencySigns) {
  const TNetworkDir dir(SampleLinks());
  TNetwork net;
  OpenNetwork(net, dir);
  // Link 1 runs from A (3) to B (4).
  net.OneWaySet(1, 0x0200);
  EXPECT_EQ(SlotOf(net, 4, 1), -1);
  EXPECT_EQ(SlotOf(net, 3, 1), 1);
  net.AttributeSetBit(1, kBitOnewayTF, true);  // closed both ways
  EXPECT_EQ(SlotOf(net, 3, 1), -1);
  EXPECT_EQ(net.OneWayGet(1), 0x0600);
  net.AttributeSet(1, 3);
  EXPECT_EQ(SlotOf(net, 3, 1), 1);
  EXPECT_EQ(SlotOf(net, 4, 1), 1);
  // A loop link never carries one-way bits through these setters.
  net.OneWaySet(9, 0x0200);
  EXPECT_EQ(net.OneWayGet(9), 0);
  net.AttributeSet(9, 0x0601);
  EXPECT_EQ(net.AttributeGet(9), 0x0001);
  EXPECT_EQ(SlotOf(net, 2, 9), 9);
  // Swapping twice restores every word; FT and TF trade places once.
  net.OneWaySet(2, 0x0600);
  std::vector<std::uint16_t> before;
  for (std::int32_t l = 1; l <= 12; ++l)
    before.push_back(l == 8 ? 0 : net.AttributeGet(l));
  net.SwapOneWay();
  EXPECT_EQ(net.OneWayGet(10), 0x0400);
  EXPECT_EQ(net.OneWayGet(11), 0x0200);
  EXPECT_EQ(net.OneWayGet(2), 0x0600);
  EXPECT_EQ(SlotOf(net, 6, 10), 10);
  EXPECT_EQ(SlotOf(net, 3, 10), -10);
  net.SwapOneWay();
  for (std::int32_t l = 1; l <= 12; ++l) {
    if (l != 8) {
      EXPECT_EQ(net.AttributeGet(l), before[static_cast<std::size_t>(l - 1)]);
    }
  }
}

TEST(NetworkAttributes, RoadClassHierarchyAndSkipBits) {
  const TNetworkDir dir(SampleLinks());
  TNetwork net;
  OpenNetwork(net, dir);
  EXPECT_EQ(net.GetRoadClass(1), 3);
  EXPECT_EQ(net.GetRoadClass(2), 5);
  EXPECT_EQ(net.GetHierarchy(2), 7);
  net.SetRoadClass(2, 31);
  net.SetHierarchy(2, 2);
  EXPECT_EQ(net.AttributeGet(2), 31 | (2 << 5));
  EXPECT_THROW(net.SetRoadClass(2, 32), EOutOfRange);
  EXPECT_THROW(net.SetHierarchy(2, 8), EOutOfRange);
  EXPECT_EQ(net.AttributeGet(2), 31 | (2 << 5));  // nothing overwritten
  EXPECT_THROW(net.AttributeGetBit(2, 16), EOutOfRange);
  EXPECT_THROW(net.GetRoadClass(13), EOutOfRange);

  net.OneWaySet(3, 0x0600);
  net.AttributeSetSkipInSearchBit();
  TBitArray skip;
  net.SkipLinks2BitArray(skip);
  EXPECT_EQ(skip.Size(), 13);
  EXPECT_EQ(skip.CountTrue(), 1);
  EXPECT_TRUE(skip.GetBit(3));

  TBitArray ba(13);
  ba.SetBit(5, true);
  net.AttributeSetBits(kBitOnewayFT, ba);
  EXPECT_EQ(net.OneWayGet(5), 0x0200);
  EXPECT_EQ(net.OneWayGet(10), 0);  // cleared where the array is clear
  EXPECT_THROW(net.AttributeSetBits(kBitOnewayFT, TBitArray(5)), EBitArrayError);
}

TEST(NetworkAttributes, SaveWritesTheWordsBackEnciphered) {
  TNetworkWriterOptions options;
  options.key = 31337;
  const TNetworkDir dir(SampleLinks(), options);
  {
    TNetwork net;
    OpenNetwork(net, dir, 31337);
    net.SetRoadClass(4, 17);
    net.AttributeSave();
  }
  TNetwork net;
  OpenNetwork(net, dir, 31337);
  EXPECT_EQ(net.GetRoadClass(4), 17);
  EXPECT_EQ(net.OneWayGet(10), 0x0200);
}

TEST(NetworkAttributes, CulDeSacBranches) {
  struct TCase {
    const char* what;
    const char* links;
    std::vector<bool> expected;
  };
  const TCase cases[] = {
      // Chains of degree-2 nodes off a junction are dead ends; the ring they hang off is not.
      {"chain",
       "0 0, 10 0; 10 0, 20 0; 20 0, 30 0; 20 0, 20 10; 20 10, 20 20; 20 0, 20 -10;"
       "30 0, 30 -10, 20 -10; 30 0, 40 0",
       {true, true, false, true, true, false, false, true}},
      {"single path", "0 0, 1 0; 1 0, 2 0; 2 0, 3 0", {true, true, true}},
      {"ring", "0 0, 1 0; 1 0, 1 1; 1 1, 0 0", {false, false, false}},
      // A tree hanging off a ring: every branch is walked up to the ring.
      {"tree",
       "0 0, 1 0; 1 0, 1 1; 1 1, 0 0; 1 0, 2 0; 2 0, 3 0; 2 0, 2 1",
       {false, false, false, true, true, true}},
  };
  for (const TCase& c : cases) {
    const TNetworkDir dir(ParseLinks(c.links));
    TNetwork net;
    OpenNetwork(net, dir);
    for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
      EXPECT_EQ(net.GetCulDeSac(link), c.expected[static_cast<std::size_t>(link - 1)])
          << c.what << " link " << link;
    }
  }
  const TNetworkDir dir(SampleLinks());
  TNetwork net;
  OpenNetwork(net, dir);
  TIntegerList nodes;
  net.NonCulDeSacNodes(nodes);
  // Every node but E (7) and F (8), the inner and outer end of the dead-end chain.
  EXPECT_EQ(std::vector<std::int32_t>(nodes.begin(), nodes.end()),
            (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
}

TEST(NetworkAttributes, NoDriveThroughAreasAbsorbDeadEndsAndMarkExits) {
  // A square of area links 1-4 (bit 8) with a dead end 5 hanging off its corner (10,0), inside a
  // ring of ordinary links 6, 8, 9 that passes a second area, link 7.
  auto links = ParseLinks(
      "0 0, 10 0; 10 0, 10 10; 10 10, 0 10; 0 10, 0 0;"  // 1-4 area 1
      "10 0, 15 -5;"                                     // 5 dead end at an area-only node
      "-10 0, 0 0;"                                      // 6
      "20 10, 30 0;"                                     // 7 area 2
      "10 10, 20 10; 30 0, -10 0");                      // 8, 9
  for (const int k : {0, 1, 2, 3, 6})
    links[static_cast<std::size_t>(k)].attribute = 0x0100;
  const TNetworkDir dir(links);
  TNetwork net;
  OpenNetwork(net, dir);
  const TAreaList& areas = net.AreaList();
  EXPECT_TRUE(net.NoDriveThroughSet());
  EXPECT_EQ(areas.MaxArea(), 2);
  for (const std::int32_t link : {1, 2, 3, 4, 5})
    EXPECT_EQ(areas.GetArea(link), 1) << link;
  EXPECT_EQ(areas.GetArea(7), 2);
  EXPECT_EQ(areas.GetArea(6), 0);
  EXPECT_TRUE(net.AttributeGetBit(5, kBitNoDriveThrough));  // absorbed into the area
  TIntegerList area1;
  areas.GetLinkList(1, area1);
  EXPECT_EQ(std::vector<std::int32_t>(area1.begin(), area1.end()),
            (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
  // Exits of area 1 are at (0,0) (links 1 and 4) and (10,10) (links 2 and 3).
  TBitArray ft(10);
  TBitArray tf(10);
  areas.UpdateExitBits(ft, tf, 2);
  EXPECT_FALSE(ft.GetBit(4));  // ends at (0,0)
  EXPECT_FALSE(tf.GetBit(1));  // starts at (0,0)
  EXPECT_FALSE(ft.GetBit(2));  // ends at (10,10)
  EXPECT_FALSE(tf.GetBit(3));  // starts at (10,10)
  EXPECT_TRUE(ft.GetBit(1));   // (10,0) has only area links now
  EXPECT_TRUE(ft.GetBit(7));   // area 2 is the one asked for
  EXPECT_TRUE(tf.GetBit(7));
  TBitArray bits(10);
  areas.Update(bits, 0, 2);
  EXPECT_FALSE(bits.GetBit(1));
  EXPECT_FALSE(bits.GetBit(5));
  EXPECT_TRUE(bits.GetBit(7));
  EXPECT_TRUE(bits.GetBit(6));

  TRoute through;
  through.links = {6, 1, 2, 8, 7};  // crosses area 1 on the way into area 2
  EXPECT_TRUE(net.NoDriveThroughCheck(through));
  TRoute into;
  into.links = {6, -4, 3};  // ends inside area 1
  EXPECT_FALSE(net.NoDriveThroughCheck(into));
  TRoute shortRoute;
  shortRoute.links = {1, 2};
  EXPECT_FALSE(net.NoDriveThroughCheck(shortRoute));
}

TEST(NetworkAttributes, RoundAboutExits) {
  // A roundabout 1-2-3 with one road at each corner: 4 two-way, 5 one-way into the roundabout.
  auto links = ParseLinks(
      "0 0, 10 0; 10 0, 5 8; 5 8, 0 0;"
      "0 0, -10 0; 20 0, 10 0; 5 8, 5 20");
  for (const int k : {0, 1, 2})
    links[static_cast<std::size_t>(k)].attribute = 0x0800;
  links[4].attribute = 0x0200;  // 20,0 -> 10,0 only
  const TNetworkDir dir(links);
  TNetwork net;
  OpenNetwork(net, dir);
  const auto node = [&](double x, double y) { return test::NodeAt(net, x, y); };
  EXPECT_TRUE(net.RoundAboutExit(node(0, 0), false));
  EXPECT_FALSE(net.RoundAboutExit(node(10, 0), false));  // the only other road comes in
  EXPECT_TRUE(net.RoundAboutExit(node(10, 0), true));
  EXPECT_FALSE(net.RoundAboutExit(node(-10, 0), true));  // degree 1
}

TEST(NetworkAttributes, LimitSlots) {
  TNetworkWriterOptions options;
  options.key = 99;
  options.limits[1] = {0, 3, 0, 7, 1, 0, 0, 9, 0, 0, 0, 255};
  options.limits[3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  options.limits[4] = {1, 2};  // wrong size
  const TNetworkDir dir(SampleLinks(), options);
  test::WriteFileBytes(dir.File("limit4.bin"), "ab");
  TNetwork net;
  OpenNetwork(net, dir, 99);
  net.OpenLimit(1, 1, false);
  net.OpenLimit(3, 3, true);
  EXPECT_EQ(net.LimitSlotsInUse(), 1);  // slot 2 is empty, so slot 3 is not usable yet
  struct TCase {
    const char* what;
    std::function<void()> call;
    const char* message;
  };
  TBitArray ba;
  const TCase cases[] = {
      {"slot 3 before 2", [&] { net.GetLimit(3, 1); }, "Invalid limitID"},
      {"slot 0", [&] { net.SetLimit(0, 1, 1); }, "Invalid limitID"},
      {"open slot 10", [&] { net.OpenLimit(1, 10, false); },
       "LimitID should be from 1 to 9, not 10"},
      {"save slot 0", [&] { net.SaveLimit(1, 0); }, "LimitID should be from 1 to 9, not 0"},
      {"min max", [&] { net.SelectLimit(ba, 1, 5, 4); }, "Min need to be smaller than Max"},
      {"wrong size", [&] { net.OpenLimit(4, 2, false); }, "Wrong size of limitfile 2, expected 12"},
  };
  for (const TCase& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.message) << c.what;
    }
  }
  EXPECT_THROW(net.OpenLimit(2, 2, false), EFOpenError);  // no limit2.bin
  net.OpenLimit(3, 2, false);
  EXPECT_EQ(net.LimitSlotsInUse(), 3);
  EXPECT_EQ(net.GetLimit(1, 4), 7);
  EXPECT_EQ(net.GetLimit(3, 12), 12);
  EXPECT_TRUE(net.LimitIsBitPattern(3));
  EXPECT_TRUE(net.GetLimitBit(1, 12, 7));
  EXPECT_FALSE(net.GetLimitBit(1, 12, 8));  // bits above 7 address nothing
  net.SetLimitBit(1, 2, 2, true);
  net.SetLimitBit(1, 2, 9, true);
  EXPECT_EQ(net.GetLimit(1, 2), 7);
  // Equal bounds select exactly that value; non-valid links are never selected.
  net.SelectLimit(ba, 1, 7, 7);
  EXPECT_EQ(ba.Size(), 13);
  EXPECT_EQ(ba.CountTrue(), 2);
  EXPECT_TRUE(ba.GetBit(2));
  EXPECT_TRUE(ba.GetBit(4));
  TBitArray any;
  net.SelectLinksWithLimits(any, false);
  EXPECT_EQ(any.CountTrue(), 11);  // slots 2 and 3 are non-zero everywhere; link 8 is non-valid
  // Save a changed slot enciphered and read it back.
  net.SetLimit(1, 5, 200);
  net.SaveLimit(5, 1);
  net.OpenLimit(5, 4, false);
  EXPECT_EQ(net.GetLimit(4, 5), 200);
  EXPECT_EQ(net.GetLimit(4, 4), 7);
}

}  // namespace
}  // namespace kvnet
