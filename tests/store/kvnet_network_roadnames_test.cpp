// The network's road-name slots and queries, selection with road names, the external-id queries,
// and z-levels from external node ids (TFromToNodeTree and ExternalNodeId2ZLevels).
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "gisin/kvnet_dbffiles.h"
#include "import/kvnet_importattributes.h"
#include "store/kvnet_fromtonode.h"
#include "store/kvnet_network.h"
#include "store/kvnet_roadnamefile.h"
#include "support/kvnet_test_networks.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::TNetworkDir;

// The message of the exception fn raises, or "no exception".
std::string Failure(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no exception";
}

// The sample network with more attribute bits: link 4 road class 2 with bit 15, link 12
// hierarchy 2 with bit 8 (besides link 1 class 3, link 2 class 5 / hierarchy 7, links 10 and 11
// one-way FT and TF, link 8 non-valid).
std::vector<test::TSupportLink> Links() {
  auto links = test::SampleLinks();
  links[3].attribute = 0x8002;
  links[11].attribute = 0x0140;
  return links;
}

// Names of road-name set 1, one per link of Links().
const std::vector<std::string> kNames = {"Main St",
                                         "Elm St",
                                         "Stra\xC3\x9F"
                                         "enbahnweg",
                                         "Main St",
                                         "",
                                         "",
                                         "",
                                         "Main St",
                                         "",
                                         "",
                                         "",
                                         "Elm St"};

class NetworkRoadNames : public ::testing::Test {
 protected:
  NetworkRoadNames() : dir(Links()) {
    std::string csv;
    for (const std::string& name : kNames)
      csv += "\"" + name + "\"\r\n";
    test::WriteFileBytes(input.File("names.csv"), csv);
    TRoadNameFile writer;
    writer.Import1({input.File("names.csv")}, dir.Path(), 65001, 1, 0);
    net.SetDirectory(dir.Path());
    net.Open(true, false, false, 0);
  }

  test::TTempDir input;
  TNetworkDir dir;
  TNetwork net;
};

TEST_F(NetworkRoadNames, QueriesAnswerForEveryLink) {
  for (const bool cache : {true, false}) {
    SCOPED_TRACE(cache);
    net.OpenRoadName(1, cache);
    for (std::int32_t l = 1; l <= 12; ++l) {
      EXPECT_EQ(net.Link2RoadName(1, l), kNames[static_cast<std::size_t>(l) - 1]) << l;
      EXPECT_EQ(net.RoadNameID2RoadName(1, net.Link2RoadNameID(1, l)),
                kNames[static_cast<std::size_t>(l) - 1]);
    }
    // Names: the one-space name, Elm St, Main St, Straßenbahnweg.
    EXPECT_EQ(net.RoadName2RoadNameID(1, "Elm St", false), 2);
    EXPECT_EQ(net.RoadName2RoadNameID(1, "elm st", true), 2);
    EXPECT_EQ(net.RoadName2RoadNameID(1, "elm st", false), -1);
    // Straßenbahnweg: 14 characters, 15 bytes of UTF-8.
    EXPECT_EQ(net.RoadNameMaxWidth(1, 1252), 14);
    EXPECT_EQ(net.RoadNameMaxWidth(1, 65001), 15);
  }
}

TEST_F(NetworkRoadNames, SlotsAndArgumentsAreChecked) {
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { net.OpenRoadName(0, true); }, "RoadFileID should be from 1 to 99, not 0"},
      {[&] { net.OpenRoadName(100, true); }, "RoadFileID should be from 1 to 99, not 100"},
      {[&] { net.CloseRoadNameFile(100); }, "RoadFileID should be from 1 to 99, not 100"},
      {[&] { net.Link2RoadName(1, 1); }, "Roadnamefile 1 is not open"},
      {[&] { net.RoadNameMaxWidth(2, 1252); }, "Roadnamefile 2 is not open"},
      {[&] { net.OpenRoadName(2, true); }, dir.File("roadnumber02.bin") + " does not exist"},
  };
  for (const auto& [fn, message] : cases)
    EXPECT_EQ(Failure(fn), message);

  net.OpenRoadName(1, true);
  EXPECT_EQ(Failure([&] { net.Link2RoadName(1, 13); }), "Link-ID must be <=12: 13");
  EXPECT_EQ(Failure([&] { net.Link2RoadNameID(1, 0); }), "Link-ID must be >=1: 0");
  for (const std::int32_t id : {0, 5}) {
    try {
      net.RoadNameID2RoadName(1, id);
      ADD_FAILURE() << "no exception";
    } catch (const EOutOfRange& e) {
      EXPECT_EQ(e.what(), "RoadNameID should be from 1 to 4, not " + std::to_string(id));
    }
  }
  // A failed open leaves the slot as it was.
  std::filesystem::remove(dir.File("roadnumber01.bin"));
  EXPECT_THROW(net.OpenRoadName(1, true), EFileMissing);
  EXPECT_EQ(net.Link2RoadName(1, 2), "Elm St");
}

TEST_F(NetworkRoadNames, CloseAndCloneHandleTheSlots) {
  net.OpenRoadName(1, false);
  net.CloseRoadNameFile(3);  // an empty slot is left alone
  TNetwork copy;
  net.Clone(copy);
  net.CloseRoadNameFile(1);
  EXPECT_THROW(net.Link2RoadName(1, 1), ERoadNameFileNotOpen);
  EXPECT_EQ(copy.Link2RoadName(1, 3),
            "Stra\xC3\x9F"
            "enbahnweg");  // the clone reads on its own

  net.OpenRoadName(1, true);
  net.Close();
  net.Open(true, false, false, 0);
  EXPECT_THROW(net.Link2RoadName(1, 1), ERoadNameFileNotOpen);
  net.Close();
  EXPECT_THROW(net.OpenRoadName(1, true), ENetworkIsClosed);
}

// Selection by class, hierarchy, bits 8..15 and road name, against hand-listed results.
TEST_F(NetworkRoadNames, SelectFiltersLinks) {
  net.OpenRoadName(1, true);
  const std::int32_t mainSt = net.RoadName2RoadNameID(1, "Main St", false);
  using TBits = std::array<std::uint8_t, 8>;  // filters of bit 8 .. bit 15
  const TBits any = {2, 2, 2, 2, 2, 2, 2, 2};
  const auto with = [&](int bit, std::uint8_t value) {
    TBits bits = any;
    bits[static_cast<std::size_t>(bit - 8)] = value;
    return bits;
  };
  struct Case {
    const char* name;
    std::uint8_t rcMin, rcMax, hMin, hMax;
    std::int32_t file, nameID;
    TBits bits;
    std::vector<std::int32_t> links;
  };
  const Case cases[] = {
      {"everything", 0, 31, 0, 7, 0, 0, any, {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12}},
      {"class 3..5", 3, 5, 0, 7, 0, 0, any, {1, 2}},
      {"hierarchy 2..7", 0, 31, 2, 7, 0, 0, any, {2, 12}},
      {"one-way FT", 0, 31, 0, 7, 0, 0, with(9, 1), {10}},
      {"not FT", 0, 31, 0, 7, 0, 0, with(9, 0), {1, 2, 3, 4, 5, 6, 7, 9, 11, 12}},
      {"bit 15", 0, 31, 0, 7, 0, 0, with(15, 1), {4}},
      {"bit 8", 0, 31, 0, 7, 0, 0, with(8, 1), {12}},
      {"Main St", 0, 31, 0, 7, 1, mainSt, any, {1, 4}},
      {"Main St of class 0..2", 0, 2, 0, 7, 1, mainSt, any, {4}},
      {"file without name id", 0, 31, 0, 0, 1, 0, with(10, 1), {11}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitArray ba(9);
    ba.SetBit2(8, true);  // link 8 (non-valid) is never selected, and its bit stays
    const TBits& b = c.bits;
    net.Select(ba, c.rcMin, c.rcMax, c.hMin, c.hMax, c.file, c.nameID, b[0], b[1], b[2], b[3], b[4],
               b[5], b[6], b[7]);
    ASSERT_EQ(ba.Size(), 13);
    std::vector<std::int32_t> selected;
    for (std::int32_t l = 1; l <= 12; ++l) {
      if (ba.GetBit(l) && l != 8) selected.push_back(l);
    }
    EXPECT_EQ(selected, c.links);
    EXPECT_TRUE(ba.GetBit(8));
  }
  TBitArray ba;
  EXPECT_EQ(Failure([&] { net.Select(ba, 0, 31, 0, 7, 2, 1, 2, 2, 2, 2, 2, 2, 2, 2); }),
            "Roadnamefile 2 is not open");
}

TEST(NetworkExternalID, QueriesAndClose) {
  const TNetworkDir dir(test::SampleLinks());
  TImportAttributes importer;
  importer.SetDirectory(dir.Path());
  importer.OnReadExternalIDString = [](TImportAttributes&, std::int32_t link, std::string& id,
                                       bool& lastlink) {
    id = "L" + std::to_string(100 + link);
    lastlink = link == 12;
  };
  importer.ExecuteExternalIDStringEvent(4);

  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(true, false, false, 0);
  EXPECT_EQ(Failure([&] { net.ExternalID2Link("L101"); }), "External ID is not open");
  EXPECT_EQ(Failure([&] { net.Link2ExternalID(1); }), "External ID is not open");

  net.Open(true, false, false, 1);
  EXPECT_EQ(net.ExternalID2Link("L108"), 8);  // a non-valid link keeps its id
  EXPECT_EQ(net.Link2ExternalID(8), "L108");
  EXPECT_EQ(net.ExternalID2Link("L113"), 0);
  EXPECT_EQ(Failure([&] { net.Link2ExternalID(13); }), "Link-ID must be <=12: 13");

  TNetwork copy;
  net.Clone(copy);
  net.CloseExternalID();
  EXPECT_EQ(Failure([&] { net.ExternalID2Link("L101"); }), "External ID is not open");
  EXPECT_EQ(copy.ExternalID2Link("L112"), 12);  // the clone keeps its use of the index
}

// ---- z-levels

TEST(FromToNodeTree, IdsSharingANodeAreNumberedInOneRun) {
  TFromToNodeTree tree;
  tree.Add(5, 101);
  tree.Add(9, 8);
  tree.Add(2, 50);
  tree.Add(5, 100);
  tree.Add(9, 7);
  tree.Add(3, 60);
  tree.Add(4, 100);  // known already (at node 5): ignored
  tree.Add(12, 3);
  tree.Add(12, 1);
  tree.Add(12, 2);
  tree.CreateZ();
  tree.CreateZ();  // a second run gives the same levels
  // In order: (2,50) (3,60) (4 not there) (5,100) (5,101) (9,7) (9,8) (12,1) (12,2) (12,3).
  const std::pair<std::int64_t, int> expected[] = {{50, 0}, {60, 0}, {100, 1}, {101, 2}, {7, 3},
                                                   {8, 4},  {1, 5},  {2, 6},   {3, 7},   {999, 0}};
  for (const auto& [ext, z] : expected)
    EXPECT_EQ(tree.GetZ(ext), z) << ext;
  EXPECT_EQ(tree.Count(), 9);
}

TEST(FromToNodeTree, TheCounterWrapsAsASignedByte) {
  TFromToNodeTree tree;
  for (std::int64_t ext = 130; ext >= 1; --ext)
    tree.Add(1, ext);
  tree.CreateZ();
  EXPECT_EQ(tree.GetZ(1), 1);
  EXPECT_EQ(tree.GetZ(127), 127);
  EXPECT_EQ(tree.GetZ(128), -128);
  EXPECT_EQ(tree.GetZ(130), -126);
}

class ZLevels : public ::testing::Test {
 protected:
  // B(10,0) has degree 3 and becomes node 1, C(20,0) node 2. Link 5 is a single point.
  ZLevels() : dir(test::ParseLinks("0 0, 10 0; 10 0, 20 0; 10 0, 10 10; 20 0, 30 0; 50 50")) {
    net.SetDirectory(dir.Path());
    net.Open(true, false, false, 0);
  }
  // Node ids per link: at B the ids 2 and 3 meet, at C the ids 4 and 7; link 5 joins no node.
  void WriteInput(const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines)
      text += line + "\r\n";
    test::WriteFileBytes(input.File("nodes.csv"), text);
  }

  test::TTempDir input;
  TNetworkDir dir;
  TNetwork net;
};

TEST_F(ZLevels, OneRecordPerLinkInArrayAndDbf) {
  ASSERT_EQ(test::NodeAt(net, 10, 0), 1);
  WriteInput({"1,2", "3,4", "2,5", "7,6", "8,9"});
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {
      {0, 1}, {2, 3}, {1, 0}, {4, 0}, {0, 0}};

  net.ExternalNodeId2ZLevels(input.File("nodes.csv"), "", gfArray);
  const TGISArray& array = net.GISarray();
  ASSERT_EQ(array.RecCount, 5);
  ASSERT_EQ(array.Field.size(), 2u);
  EXPECT_EQ(array.Field[0].Name, "ZFrom");
  EXPECT_EQ(array.Field[1].Name, "ZTo");
  for (std::size_t r = 0; r < 5; ++r) {
    EXPECT_EQ(GISValueToText(array.Rec[r].Attr[0]), std::to_string(expected[r].first)) << r;
    EXPECT_EQ(GISValueToText(array.Rec[r].Attr[1]), std::to_string(expected[r].second)) << r;
  }

  net.ExternalNodeId2ZLevels(input.File("nodes.csv"), input.File("z"), gfDBF);
  TDbfFile table(input.File("z.dbf"), 0);
  table.Open(false);
  ASSERT_EQ(table.RecordCount(), 5);
  for (std::int32_t r = 1; r <= 5; ++r) {
    EXPECT_EQ(table.ReadInteger(0, r), expected[static_cast<std::size_t>(r) - 1].first);
    EXPECT_EQ(table.ReadInteger(1, r), expected[static_cast<std::size_t>(r) - 1].second);
  }
}

TEST_F(ZLevels, InputErrors) {
  EXPECT_EQ(Failure([&] { net.ExternalNodeId2ZLevels(input.File("none.csv"), "", gfArray); }),
            "Input file is missing");
  for (const auto& lines : {std::vector<std::string>{"1,2", "3,4", "2,5", "7,6"},
                            std::vector<std::string>{"1,2", "3,4", "2,5", "7,6", "8,9", "1,1"}}) {
    WriteInput(lines);
    EXPECT_EQ(Failure([&] { net.ExternalNodeId2ZLevels(input.File("nodes.csv"), "", gfArray); }),
              "Invalid number of links in input file");
  }
  WriteInput({"1,2", "3,4", "2", "7,6", "8,9"});
  EXPECT_EQ(Failure([&] { net.ExternalNodeId2ZLevels(input.File("nodes.csv"), "", gfArray); }),
            "Line 3 of " + input.File("nodes.csv") + " does not hold two node ids");
}

}  // namespace
}  // namespace kvnet
