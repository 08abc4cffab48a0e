// Attribute import onto small networks: attribute words and limits from dBASE, CSV and events,
// read back through TNetwork for plain and enciphered networks; road names from .mid, CSV and
// events; external-id indexes of every kind found again link by link; and the checks that keep
// bad input from reaching the files.
#include "import/kvnet_importattributes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_inifile.h"
#include "store/kvnet_network.h"
#include "support/kvnet_test_dbf.h"
#include "support/kvnet_test_networks.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::TNetworkDir;
using test::TTestDbfField;

constexpr std::int64_t kKey = 7654321;

// A chain of n valid links along the x axis.
std::vector<test::TSupportLink> Chain(std::int32_t n) {
  std::string text;
  for (std::int32_t i = 0; i < n; ++i) {
    if (i > 0) text += ";";
    text += std::to_string(10 * i) + " 0, " + std::to_string(10 * i + 10) + " 0";
  }
  return test::ParseLinks(text);
}

test::TNetworkWriterOptions Options(std::int64_t key, bool attributes = true) {
  test::TNetworkWriterOptions options;
  options.key = key;
  options.writeAttributes = attributes;
  return options;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

bool Exists(const std::string& file) {
  return std::filesystem::exists(file);
}

// The message of the exception fn raises, or "no exception".
std::string Failure(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no exception";
}

class ImportAttributesTest : public ::testing::Test {
 protected:
  // A network of n links with the given key; the importer points at it.
  void Make(std::int32_t n, std::int64_t key = 0, bool attributes = true) {
    network = std::make_unique<TNetworkDir>(Chain(n), Options(key, attributes));
    importer.SetDirectory(network->Path());
    importer.SetEncryptionKey(key);
  }
  void Open(TNetwork& net, std::int32_t externalid = 0) const {
    net.SetDirectory(network->Path());
    net.SetEncryptionKey(importer.EncryptionKey());
    net.Open(true, false, false, externalid);
  }
  std::string Input(const std::string& name) const { return input.File(name); }
  std::string Output(const std::string& name) const { return network->File(name); }

  test::TTempDir input;
  std::unique_ptr<TNetworkDir> network;
  TImportAttributes importer;
};

TEST_F(ImportAttributesTest, FileIndexesAreChecked) {
  for (const std::int32_t bad : {0, 10, -1}) {
    EXPECT_EQ(Failure([&] { importer.SetLimitFileIndex(bad); }), "Limit file index should be 1..9");
  }
  for (const std::int32_t bad : {0, 100}) {
    EXPECT_EQ(Failure([&] { importer.SetRoadNameFileIndex(bad); }),
              "Roadname file index should be 1..99");
  }
  EXPECT_THROW(importer.SetLimitFileIndex(10), EOutOfRange);
  EXPECT_EQ(importer.LimitFileIndex(), 1);
  importer.SetLimitFileIndex(9);
  importer.SetRoadNameFileIndex(99);
  EXPECT_EQ(importer.LimitFileIndex(), 9);
  EXPECT_EQ(importer.RoadNameFileIndex(), 99);
}

// Attribute words and limits from dBASE, with a factor on a decimal field, read back by the
// network with and without a key.
TEST_F(ImportAttributesTest, DbfAttributesAndLimitsReadBackThroughTheNetwork) {
  for (const std::int64_t key : {std::int64_t{0}, kKey}) {
    SCOPED_TRACE(key);
    Make(4, key);
    test::WriteTestDbf(
        Input("a.dbf"), {{"ID", 'N', 5, 0}, {"ATTR", 'N', 6, 0}, {"WEIGHT", 'N', 8, 2}},
        {{"1", "3", "12.34"}, {"2", "65535", "0.09"}, {"3", "0", "25.5"}, {"4", "1029", "25.59"}});
    importer.Clear();
    importer.Add(Input("a.dbf"));
    importer.ExecuteAttribute(0, "attr", fkDBF);
    importer.SetLimitFileIndex(3);
    importer.ExecuteLimit(2, "", fkDBF, 0, 10);  // weight x 10, cut to a whole number
    importer.SetLimitFileIndex(4);
    importer.ExecuteLimit(0, "id", fkDBF, 1, 1);  // id - 1

    TNetwork net;
    Open(net);
    net.OpenLimit(3, 1, false);
    net.OpenLimit(4, 2, false);
    const std::uint16_t words[] = {3, 65535, 0, 1029};
    const std::uint8_t weights[] = {123, 0, 255, 255};
    for (std::int32_t l = 1; l <= 4; ++l) {
      EXPECT_EQ(net.AttributeGet(l), words[l - 1]) << l;
      EXPECT_EQ(net.GetLimit(1, l), weights[l - 1]) << l;
      EXPECT_EQ(net.GetLimit(2, l), l - 1) << l;
    }
  }
}

TEST_F(ImportAttributesTest, CsvAttributesAndLimitsOverSeveralFiles) {
  Make(3, kKey);
  test::WriteFileBytes(Input("a.csv"), Lines({"7,200", "8,0"}));
  test::WriteFileBytes(Input("b.csv"), Lines({"9"}));  // no limit value: 0
  importer.AddFiles({Input("a.csv"), Input("b.csv")});
  importer.ExecuteAttribute(0, "", fkCSV);
  importer.ExecuteLimit(1, "", fkCSV, 0, 1);
  TNetwork net;
  Open(net);
  net.OpenLimit(1, 1, false);
  EXPECT_EQ(net.AttributeGet(1), 7);
  EXPECT_EQ(net.AttributeGet(3), 9);
  EXPECT_EQ(net.GetLimit(1, 1), 200);
  EXPECT_EQ(net.GetLimit(1, 2), 0);
  EXPECT_EQ(net.GetLimit(1, 3), 0);

  // A factor or constant needs numbers of dBASE tables, and is refused before any file exists.
  for (const auto& [constant, factor] : {std::pair{0.0, 10.0}, std::pair{1.0, 1.0}}) {
    importer.SetLimitFileIndex(5);
    EXPECT_EQ(Failure([&] { importer.ExecuteLimit(1, "", fkCSV, constant, factor); }),
              "Factor or constant can not be applied to CSV format");
    EXPECT_FALSE(Exists(Output("limit5.bin")));
  }
}

// Values that do not fit raise at the offending record and leave the earlier file untouched.
TEST_F(ImportAttributesTest, ValuesOutOfRangeRaise) {
  Make(2);
  const std::string before = test::ReadFileBytes(Output("attribute.bin"));
  struct Case {
    const char* name;
    std::vector<std::string> values;  // one CSV line per link
    bool limit;
    double constant;
    double factor;
    const char* message;
  };
  const Case cases[] = {
      {"attribute 70000", {"1", "70000"}, false, 0, 1, "Attribute value out of range"},
      {"attribute -1", {"-1", "1"}, false, 0, 1, "Attribute value out of range"},
      {"limit 256", {"255", "256"}, true, 0, 1, "Limit value out of range"},
      {"limit -1", {"-1", "0"}, true, 0, 1, "Limit value out of range"},
      {"limit 25.6 x 10", {"1", "25.6"}, true, 0, 10, "Limit value out of range"},
      {"blank limit x 2", {"1", ""}, true, 0, 2, "Limit value out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<std::string>> records;
    for (const std::string& v : c.values)
      records.push_back({v});
    test::WriteTestDbf(Input("v.dbf"), {{"V", 'N', 8, 1}}, records);
    importer.Clear();
    importer.Add(Input("v.dbf"));
    try {
      if (c.limit) {
        importer.ExecuteLimit(0, "", fkDBF, c.constant, c.factor);
      } else {
        importer.ExecuteAttribute(0, "", fkDBF);
      }
      ADD_FAILURE() << "no exception";
    } catch (const EOutOfRange& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_EQ(test::ReadFileBytes(Output("attribute.bin")), before);
  EXPECT_FALSE(Exists(Output("limit1.bin")));
}

TEST_F(ImportAttributesTest, FieldSelectionErrors) {
  Make(2);
  test::WriteTestDbf(Input("t.dbf"), {{"A", 'N', 4, 0}, {"B", 'N', 4, 0}},
                     {{"1", "2"}, {"3", "4"}});
  importer.Add(Input("t.dbf"));
  try {
    importer.ExecuteAttribute(0, "Speed", fkDBF);
    ADD_FAILURE() << "no exception";
  } catch (const EFieldNameNotFound& e) {
    EXPECT_STREQ(e.what(), "Field Speed not found");
  }
  for (const std::int32_t index : {2, -1}) {
    try {
      importer.ExecuteAttribute(index, "", fkDBF);
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidFieldIndex& e) {
      EXPECT_EQ(e.what(), "Field " + std::to_string(index) + " not valid - should be 0..1");
    }
  }
  // By name, any case: field B.
  importer.ExecuteAttribute(7, "b", fkDBF);
  TNetwork net;
  Open(net);
  EXPECT_EQ(net.AttributeGet(2), 4);

  TImportAttributes empty;
  empty.SetDirectory(network->Path());
  EXPECT_EQ(Failure([&] { empty.ExecuteAttribute(0, "", fkCSV); }),
            "Cannot find input file to import.");
}

// Input that does not hold one record per link is refused before any output file exists.
TEST_F(ImportAttributesTest, RecordCountMustMatchTheNetwork) {
  Make(3, 0, false);
  const std::string expected3 =
      "The input holds 2 records but the network in " + network->Path() + " has 3 links";
  test::WriteTestDbf(Input("two.dbf"), {{"A", 'N', 4, 0}}, {{"1"}, {"2"}});
  test::WriteFileBytes(Input("four.csv"), Lines({"1", "2", "3", "4"}));
  importer.Add(Input("two.dbf"));
  EXPECT_EQ(Failure([&] { importer.ExecuteAttribute(0, "", fkDBF); }), expected3);
  EXPECT_EQ(Failure([&] { importer.ExecuteExternalIDint(0, "", fkDBF, false); }), expected3);
  EXPECT_EQ(Failure([&] { importer.ExecuteRoadname(0, "", fkDBF); }), expected3);
  importer.Clear();
  importer.Add(Input("four.csv"));
  const std::string expected4 =
      "The input holds 4 records but the network in " + network->Path() + " has 3 links";
  EXPECT_EQ(Failure([&] { importer.ExecuteLimit(0, "", fkCSV, 0, 1); }), expected4);
  EXPECT_EQ(Failure([&] { importer.ExecuteExternalIDstring(0, "", fkCSV); }), expected4);
  EXPECT_EQ(Failure([&] { importer.ExecuteRoadname(0, "", fkCSV); }), expected4);

  // Events: too few links, or a last link that never comes.
  importer.OnReadAttribute = [](TImportAttributes&, std::int32_t link, std::uint16_t& value,
                                bool& lastlink) {
    value = 1;
    lastlink = link == 2;
  };
  EXPECT_EQ(Failure([&] { importer.ExecuteAttributeEvent(); }), expected3);
  std::int32_t asked = 0;
  importer.OnReadLimit = [&](TImportAttributes&, std::int32_t, std::uint8_t&, bool&) { ++asked; };
  EXPECT_EQ(Failure([&] { importer.ExecuteLimitEvent(); }),
            "The event gives more links than the network in " + network->Path() + " has (3)");
  EXPECT_EQ(asked, 3);

  for (const char* file : {"attribute.bin", "limit1.bin", "index1.bin", "index2.bin",
                           "roadname01.bin", "roadnumber01.bin"}) {
    EXPECT_FALSE(Exists(Output(file))) << file;
  }
}

TEST_F(ImportAttributesTest, EventsWriteEncipheredFiles) {
  Make(3, kKey);
  // Nothing happens without an event.
  importer.ExecuteAttributeEvent();
  importer.ExecuteLimitEvent();
  importer.ExecuteRoadnameEvent();
  importer.ExecuteExternalIDintEvent(false);
  importer.ExecuteExternalIDStringEvent(3);
  EXPECT_FALSE(Exists(Output("limit1.bin")));

  importer.OnReadAttribute = [](TImportAttributes&, std::int32_t link, std::uint16_t& value,
                                bool& lastlink) {
    value = static_cast<std::uint16_t>(1000 * link + 1);
    lastlink = link == 3;
  };
  importer.OnReadLimit = [](TImportAttributes&, std::int32_t link, std::uint8_t& value,
                            bool& lastlink) {
    value = static_cast<std::uint8_t>(100 + link);
    lastlink = link == 3;
  };
  importer.ExecuteAttributeEvent();
  importer.SetLimitFileIndex(2);
  importer.ExecuteLimitEvent();
  TNetwork net;
  Open(net);
  net.OpenLimit(2, 1, false);
  for (std::int32_t l = 1; l <= 3; ++l) {
    EXPECT_EQ(net.AttributeGet(l), 1000 * l + 1);
    EXPECT_EQ(net.GetLimit(1, l), 100 + l);
  }
}

TEST_F(ImportAttributesTest, WrongKeysAreRefused) {
  Make(2, kKey);
  importer.OnReadAttribute = [](TImportAttributes&, std::int32_t link, std::uint16_t& value,
                                bool& lastlink) {
    value = 5;
    lastlink = link == 2;
  };
  importer.SetEncryptionKey(0);
  EXPECT_THROW(importer.ExecuteAttributeEvent(), EEncryptedData);
  importer.SetEncryptionKey(-3);
  EXPECT_THROW(importer.ExecuteAttributeEvent(), EInvalidParameter);

  // A plain network ignores a key, as opening it does.
  Make(2);
  importer.SetEncryptionKey(kKey);
  importer.ExecuteAttributeEvent();
  TNetwork net;
  net.SetDirectory(network->Path());
  net.Open(true, false, false, 0);
  EXPECT_EQ(net.AttributeGet(2), 5);
}

// ---- road names

TEST_F(ImportAttributesTest, RoadNamesFromAMidFileTakeColumnAndCharsetFromTheMif) {
  Make(3);
  // "Names" comes first: only the whole name selects a column.
  test::WriteFileBytes(Input("roads.mif"),
                       "Version 300\r\nCharset \"WindowsCyrillic\"\r\nDelimiter \",\"\r\n"
                       "Columns 3\r\n  Names Char(10)\r\n  Kind Integer\r\n  Name Char(20)\r\n"
                       "Data\r\n");
  // Line 2 holds "Мир" in code page 1251.
  test::WriteFileBytes(Input("roads.mid"), Lines({"\"x\",1,\"Elm St\"", "\"y\",2,\"\xCC\xE8\xF0\"",
                                                  "\"z\",3,\"Main St\""}));
  importer.Add(Input("roads.mid"));
  importer.SetRoadNameFileIndex(7);
  importer.ExecuteRoadname(0, "NAME", fkCSV);
  EXPECT_EQ(importer.CodepageCSV(), 1251);

  TNetwork net;
  Open(net);
  net.OpenRoadName(7, true);
  EXPECT_EQ(net.Link2RoadName(7, 1), "Elm St");
  EXPECT_EQ(net.Link2RoadName(7, 2), "Мир");
  EXPECT_EQ(net.Link2RoadName(7, 3), "Main St");

  EXPECT_EQ(Failure([&] { importer.ExecuteRoadname(0, "Street", fkCSV); }),
            "Field Street not found in " + Input("roads.mif"));
  EXPECT_EQ(Failure([&] { importer.ExecuteRoadname(0, "Nam", fkCSV); }),
            "Field Nam not found in " + Input("roads.mif"));
  std::filesystem::remove(Input("roads.mif"));
  EXPECT_EQ(Failure([&] { importer.ExecuteRoadname(2, "", fkCSV); }),
            "Corresponding MIF file is missing for MID file " + Input("roads.mid"));
}

TEST_F(ImportAttributesTest, RoadNamesFromDbfAndEvents) {
  Make(3);
  test::WriteTestDbf(Input("n.dbf"), {{"ID", 'N', 3, 0}, {"STREET", 'C', 12, 0}},
                     {{"1", "Main St"}, {"2", "Elm St"}, {"3", ""}});
  importer.Add(Input("n.dbf"));
  importer.ExecuteRoadname(0, "street", fkDBF);

  const std::vector<std::string> names = {" Oak Ave ", "", "Oak Ave"};
  importer.OnReadRoadName = [&](TImportAttributes&, std::int32_t link, std::string& name,
                                bool& lastlink) {
    name = names[static_cast<std::size_t>(link) - 1];
    lastlink = link == 3;
  };
  importer.SetRoadNameFileIndex(2);
  importer.ExecuteRoadnameEvent();

  TNetwork net;
  Open(net);
  net.OpenRoadName(1, false);
  net.OpenRoadName(2, true);
  EXPECT_EQ(net.Link2RoadName(1, 1), "Main St");
  EXPECT_EQ(net.Link2RoadNameID(1, 3), 1);  // the one-space name sorts first
  // Trimmed names: " Oak Ave " and "Oak Ave" are one name.
  EXPECT_EQ(net.Link2RoadNameID(2, 1), net.Link2RoadNameID(2, 3));
  EXPECT_EQ(net.Link2RoadName(2, 1), "Oak Ave");
  EXPECT_EQ(net.Link2RoadName(2, 2), "");
  EXPECT_EQ(test::ReadFileBytes(Output("roadnumber02.bin")),
            std::string("\2\0\0\0\1\0\0\0\2\0\0\0", 12));
  net.Close();

  // A second round that differs from the first fails and leaves the earlier files.
  const std::string before = test::ReadFileBytes(Output("roadname02.bin"));
  std::int32_t round = 0;
  importer.OnReadRoadName = [&](TImportAttributes&, std::int32_t link, std::string& name,
                                bool& lastlink) {
    if (link == 1) ++round;
    name = round == 1 ? "A" : "B";
    lastlink = link == 3;
  };
  EXPECT_EQ(Failure([&] { importer.ExecuteRoadnameEvent(); }),
            "The event gives link 1 a name it did not give the first time");
  EXPECT_EQ(test::ReadFileBytes(Output("roadname02.bin")), before);
}

// ---- external ids

// Integer ids of both widths from dBASE, CSV and the event, several in one bucket, each found by
// its text and given back for its link.
TEST_F(ImportAttributesTest, IntegerIdsAreFoundForEveryLink) {
  const std::vector<std::int64_t> ids = {256, 512, 0, -256, 1, -2147483647, 2147483647, 7};
  const std::vector<std::int64_t> wide = {5000000000, 5000000256, -5000000000, 256, 1, 0, 2, 3};
  Make(static_cast<std::int32_t>(ids.size()));
  enum Source { kDbf, kCsv, kEvent };
  struct Case {
    const char* name;
    bool int64;
    Source source;
  };
  for (const Case& c : {Case{"int32 dbf", false, kDbf}, Case{"int32 csv", false, kCsv},
                        Case{"int32 event", false, kEvent}, Case{"int64 dbf", true, kDbf},
                        Case{"int64 csv", true, kCsv}, Case{"int64 event", true, kEvent}}) {
    SCOPED_TRACE(c.name);
    const std::vector<std::int64_t>& values = c.int64 ? wide : ids;
    std::vector<std::vector<std::string>> records;
    std::string csv;
    for (const std::int64_t v : values) {
      records.push_back({std::to_string(v)});
      csv += std::to_string(v) + "\r\n";
    }
    importer.Clear();
    if (c.source == kDbf) {
      test::WriteTestDbf(Input("i.dbf"), {{"EXT", 'N', 18, 0}}, records);
      importer.Add(Input("i.dbf"));
      importer.ExecuteExternalIDint(0, "ext", fkDBF, c.int64);
    } else if (c.source == kCsv) {
      test::WriteFileBytes(Input("i.csv"), csv);
      importer.Add(Input("i.csv"));
      importer.ExecuteExternalIDint(0, "", fkCSV, c.int64);
    } else {
      importer.OnReadExternalIDInt = [&](TImportAttributes&, std::int32_t link, std::int64_t& id,
                                         bool& lastlink) {
        id = values[static_cast<std::size_t>(link) - 1];
        lastlink = link == static_cast<std::int32_t>(values.size());
      };
      importer.ExecuteExternalIDintEvent(c.int64);
    }
    const std::string index1 = test::ReadFileBytes(Output("index1.bin"));
    EXPECT_EQ(index1.size(), 4 + values.size() * (c.int64 ? 8 : 4));
    EXPECT_EQ(index1.substr(0, 4),
              c.int64 ? std::string("\xFF\xFF\xFF\xFF") : std::string(4, '\0'));
    TNetwork net;
    Open(net, 3);
    for (std::int32_t l = 1; l <= net.LinkCount(); ++l) {
      const std::string text = std::to_string(values[static_cast<std::size_t>(l) - 1]);
      EXPECT_EQ(net.Link2ExternalID(l), text);
      EXPECT_EQ(net.ExternalID2Link(text), l) << text;
    }
    EXPECT_EQ(net.ExternalID2Link("768"), 0);  // bucket 0, not present
  }
}

// Text ids: stored trimmed and found by their trimmed text, several in one bucket ("A1", "0R",
// "1A" and "20" all hash to 130), with the width the input declares or needs.
TEST_F(ImportAttributesTest, TextIdsAreFoundForEveryLink) {
  Make(6);
  const std::vector<std::string> texts = {"A1",
                                          " 0R",
                                          "1A ",
                                          "20",
                                          "Stra\xC3\x9F"
                                          "e",
                                          "x"};
  const auto check = [&](std::int32_t width) {
    const std::string index1 = test::ReadFileBytes(Output("index1.bin"));
    EXPECT_EQ(index1.substr(0, 4), std::string(1, static_cast<char>(width)) + std::string(3, '\0'));
    EXPECT_EQ(index1.size(), 4 + 6 * 2 * static_cast<std::size_t>(width));
    TNetwork net;
    Open(net, 1);
    for (std::int32_t l = 1; l <= 6; ++l) {
      const std::string trimmed = Trim(texts[static_cast<std::size_t>(l) - 1]);
      EXPECT_EQ(net.Link2ExternalID(l), trimmed);
      EXPECT_EQ(net.ExternalID2Link(trimmed), l) << trimmed;
      EXPECT_EQ(net.ExternalID2Link(" " + trimmed + " "), l) << trimmed;
    }
    EXPECT_EQ(net.ExternalID2Link("A"), 0);
  };

  // dBASE: the widest declaration over the files (1252 text).
  test::WriteTestDbf(Input("a.dbf"), {{"EXT", 'C', 6, 0}}, {{"A1"}, {" 0R"}, {"1A"}});
  test::WriteTestDbf(Input("b.dbf"), {{"EXT", 'C', 9, 0}},
                     {{"20"},
                      {"Stra\xDF"
                       "e"},
                      {"x"}});
  importer.AddFiles({Input("a.dbf"), Input("b.dbf")});
  importer.ExecuteExternalIDstring(0, "EXT", fkDBF);
  check(9);

  // CSV: the longest trimmed id; quotes keep the spaces that the trim then removes.
  test::WriteFileBytes(Input("t.csv"), Lines({"A1", "\" 0R\"", "\"1A \"", "20",
                                              "Stra\xDF"
                                              "e",
                                              "  x  "}));
  importer.Clear();
  importer.Add(Input("t.csv"));
  importer.ExecuteExternalIDstring(0, "", fkCSV);
  check(6);

  // The event: ids padded to the width asked for.
  importer.OnReadExternalIDString = [&](TImportAttributes&, std::int32_t link, std::string& id,
                                        bool& lastlink) {
    id = texts[static_cast<std::size_t>(link) - 1];
    lastlink = link == 6;
  };
  importer.ExecuteExternalIDStringEvent(12);
  check(12);
}

TEST_F(ImportAttributesTest, TextIdWidthLimits) {
  Make(2);
  // Ids cut to the event's width are stored and found as cut: "AB CD" at width 3 is "AB".
  importer.OnReadExternalIDString = [](TImportAttributes&, std::int32_t link, std::string& id,
                                       bool& lastlink) {
    id = link == 1 ? "AB CD"
                   : "\xF0\x9D\x84\x9E"
                     "yz";  // a character of two code units, then yz
    lastlink = link == 2;
  };
  importer.ExecuteExternalIDStringEvent(3);
  {
    TNetwork net;
    Open(net, 1);
    EXPECT_EQ(net.Link2ExternalID(1), "AB");
    EXPECT_EQ(net.ExternalID2Link("AB"), 1);
    EXPECT_EQ(net.Link2ExternalID(2),
              "\xF0\x9D\x84\x9E"
              "y");
  }
  // At width 2 the pair would be split: only the character fits.
  importer.OnReadExternalIDString = [](TImportAttributes&, std::int32_t link, std::string& id,
                                       bool& lastlink) {
    id = link == 1 ? "a"
                   : "\xF0\x9D\x84\x9E"
                     "yz";
    lastlink = link == 2;
  };
  importer.ExecuteExternalIDStringEvent(2);
  {
    TNetwork net;
    Open(net, 1);
    EXPECT_EQ(net.Link2ExternalID(2), "\xF0\x9D\x84\x9E");
  }
  for (const std::int32_t width : {0, 255}) {
    EXPECT_EQ(Failure([&] { importer.ExecuteExternalIDStringEvent(width); }),
              "External ID width should be 1..254, not " + std::to_string(width));
  }

  // A CSV id of 255 characters does not fit the index.
  test::WriteFileBytes(Input("w.csv"), Lines({std::string(255, 'w'), "a"}));
  importer.Add(Input("w.csv"));
  EXPECT_THROW(importer.ExecuteExternalIDstring(0, "", fkCSV), EOutOfRange);

  // No id at all: width 1, the empty id found as such.
  Make(1);
  test::WriteFileBytes(Input("e.csv"), Lines({"x,"}));
  importer.Clear();
  importer.Add(Input("e.csv"));
  importer.ExecuteExternalIDstring(1, "", fkCSV);
  EXPECT_EQ(test::ReadFileBytes(Output("index1.bin")), std::string("\1\0\0\0 \0", 6));
  TNetwork net;
  Open(net, 1);
  EXPECT_EQ(net.ExternalID2Link(""), 1);
}

TEST_F(ImportAttributesTest, DuplicateIdsLeaveNoIndex) {
  Make(3);
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    bool text;
  };
  const Case cases[] = {
      {"integers", {"5", "261", "5"}, false},
      {"texts equal once trimmed", {"A1", "B2", "\" A1 \""}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // An index from an earlier run is there at first.
    test::WriteFileBytes(Input("ok.csv"), Lines({"1", "2", "3"}));
    importer.Clear();
    importer.Add(Input("ok.csv"));
    importer.ExecuteExternalIDint(0, "", fkCSV, false);
    ASSERT_TRUE(Exists(Output("index1.bin")));

    test::WriteFileBytes(Input("dup.csv"), Lines(c.lines));
    importer.Clear();
    importer.Add(Input("dup.csv"));
    EXPECT_EQ(Failure([&] {
                if (c.text) {
                  importer.ExecuteExternalIDstring(0, "", fkCSV);
                } else {
                  importer.ExecuteExternalIDint(0, "", fkCSV, true);
                }
              }),
              "External ID has duplicate values");
    EXPECT_FALSE(Exists(Output("index1.bin")));
    EXPECT_FALSE(Exists(Output("index2.bin")));
  }
}

// Progress reaches the caller; a cancelled run writes nothing and ends with progress 0.
TEST_F(ImportAttributesTest, ProgressAndCancellation) {
  Make(50, 0, false);
  std::string lines;
  for (int i = 1; i <= 50; ++i)
    lines += std::to_string(i) + "\r\n";
  test::WriteFileBytes(Input("p.csv"), lines);
  importer.Add(Input("p.csv"));

  std::vector<int> reports;
  importer.OnProgress = [&](TProgress&, int progress, bool&) { reports.push_back(progress); };
  importer.ExecuteAttribute(0, "", fkCSV);
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports.back(), 0);
  EXPECT_EQ(*std::max_element(reports.begin(), reports.end()), 100);

  for (const bool ids : {false, true}) {
    SCOPED_TRACE(ids);
    reports.clear();
    importer.OnProgress = [&](TProgress&, int progress, bool& cancel) {
      reports.push_back(progress);
      if (progress >= 30) cancel = true;
    };
    std::filesystem::remove(Output("attribute.bin"));
    if (ids) {
      importer.ExecuteExternalIDstring(0, "", fkCSV);
    } else {
      importer.ExecuteAttribute(0, "", fkCSV);
    }
    EXPECT_TRUE(importer.Cancelled());
    EXPECT_EQ(reports.back(), 0);
    for (const char* file : {"attribute.bin", "index1.bin", "index2.bin"})
      EXPECT_FALSE(Exists(Output(file))) << file;
  }

  // The next run starts afresh.
  importer.OnProgress = nullptr;
  importer.ExecuteExternalIDstring(0, "", fkCSV);
  EXPECT_FALSE(importer.Cancelled());
  EXPECT_TRUE(Exists(Output("index2.bin")));
}

}  // namespace
}  // namespace kvnet
