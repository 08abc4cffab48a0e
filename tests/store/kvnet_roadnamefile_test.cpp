#include "store/kvnet_roadnamefile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_unicode.h"
#include "support/kvnet_test_dbf.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;
using test::WriteTestDbf;

std::string Int32s(const std::vector<std::int32_t>& values) {
  std::string out;
  for (const std::int32_t v : values) {
    char bytes[4];
    std::memcpy(bytes, &v, 4);  // the test hosts are little-endian
    out.append(bytes, 4);
  }
  return out;
}

// UTF-16LE records of `units` code units each, padded with zero bytes.
std::string Records(const std::vector<std::u16string>& names, std::size_t units) {
  std::string out;
  for (std::u16string name : names) {
    name.resize(units, u'\0');
    for (const char16_t c : name) {
      out += static_cast<char>(c & 0xFF);
      out += static_cast<char>(c >> 8);
    }
  }
  return out;
}

// Runs f and returns the message of the exception of type E it raises ("" when it raises none).
template <class E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

// Links 1..3 named Main St, Elm St and nothing, as the CSV import and as a DBF import write them.
constexpr const char* kMainElmCsv = "1,Main St\n2,\"Elm St\"\n3,\n";
const std::string kMainElmNames = Records({u" ", u"Elm St", u"Main St"}, 7);
const std::string kMainElmNumbers = Int32s({3, 2, 1});

TEST(RoadNameFile, CsvImportWritesSortedRecordsAndLinkNumbers) {
  TTempDir dir;
  WriteFileBytes(dir.File("names.csv"), kMainElmCsv);
  TRoadNameFile writer;
  writer.Import1({dir.File("names.csv")}, dir.Path().string(), 65001, 1, 1);
  EXPECT_EQ(ReadFileBytes(dir.File("roadname01.bin")), kMainElmNames);
  EXPECT_EQ(ReadFileBytes(dir.File("roadnumber01.bin")), kMainElmNumbers);

  for (const bool cache : {true, false}) {
    SCOPED_TRACE(cache ? "cached" : "uncached");
    TRoadNameFile reader;
    reader.Load(dir.Path().string(), cache, 0, 1, 3);
    EXPECT_EQ(reader.MaxRoadNameID(), 3);
    EXPECT_EQ(reader.MaxRoadNameLength(), 14);
    EXPECT_EQ(reader.MaxRoadNameLengthUTF8(), 7);
    EXPECT_EQ(reader.RoadName1(1), "Main St");
    EXPECT_EQ(reader.RoadName1(2), "Elm St");
    EXPECT_EQ(reader.RoadName1(3), "");
    EXPECT_EQ(reader.RoadNameID1(1), 3);
    EXPECT_EQ(reader.RoadName2(2), "Elm St");

    // The name to find is taken the way names are stored: trimmed, nothing as one space.
    const struct {
      const char* name;
      bool ignoreCase;
      std::int32_t id;
    } lookups[] = {{"elm st", true, 2},  {"elm st", false, -1},    {"Elm St", false, 2},
                   {"MAIN ST", true, 3}, {"  Main St ", false, 3}, {"", false, 1},
                   {" ", true, 1},       {"Aardvark", false, -1},  {"Zebra Rd", true, -1},
                   {"Elm", true, -1}};
    for (const auto& lookup : lookups) {
      EXPECT_EQ(reader.RoadNameID2(lookup.name, lookup.ignoreCase), lookup.id)
          << "'" << lookup.name << "' ignorecase " << lookup.ignoreCase;
    }
  }

  TRoadNameFile reader;
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { reader.Load(dir.Path().string(), true, 0, 1, 2); }),
            "LinkCount parameter value and links in the roadname file is different");
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { reader.Load(dir.Path().string(), true, 0, 1, 4); }),
            "LinkCount parameter value and links in the roadname file is different");
  EXPECT_FALSE(reader.IsOpen());
}

TEST(RoadNameFile, QueriesCheckTheirRanges) {
  TTempDir dir;
  WriteFileBytes(dir.File("roadname07.bin"), kMainElmNames);
  WriteFileBytes(dir.File("roadnumber07.bin"), kMainElmNumbers);
  TRoadNameFile reader;
  EXPECT_EQ(MessageOf<ERoadNameFileNotOpen>([&] { reader.RoadName1(1); }),
            "Roadnamefile 0 is not open");
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { reader.Load(dir.Path().string(), true, 0, 100, 3); }),
            "Road-name file number should be from 1 to 99, not 100");
  reader.Load(dir.Path().string(), false, 0, 7, 3);

  const struct {
    std::function<void()> query;
    const char* message;
  } cases[] = {
      {[&] { reader.RoadName1(0); }, "LinkID should be from 1 to 3, not 0"},
      {[&] { reader.RoadName1(4); }, "LinkID should be from 1 to 3, not 4"},
      {[&] { reader.RoadNameID1(-1); }, "LinkID should be from 1 to 3, not -1"},
      {[&] { reader.RoadName2(0); }, "RoadNameID should be from 1 to 3, not 0"},
      {[&] { reader.RoadName2(4); }, "RoadNameID should be from 1 to 3, not 4"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MessageOf<EOutOfRange>(c.query), c.message);

  reader.Close();
  EXPECT_EQ(MessageOf<ERoadNameFileNotOpen>([&] { reader.RoadNameID2("Elm St", false); }),
            "Roadnamefile 7 is not open");
}

// Every pair is equal without case and differs with case; the last ones have no simple folding.
TEST(RoadNameOrder, FoldsTheScriptsOfRoadNames) {
  const struct {
    const char16_t* a;
    const char16_t* b;
    bool equalWithoutCase;
  } pairs[] = {
      {u"Main St", u"MAIN ST", true},
      {u"\u00C4\u00D6\u00DC\u00C9\u00D8\u00DE", u"\u00E4\u00F6\u00FC\u00E9\u00F8\u00FE", true},
      {u"\u0178", u"\u00FF", true},                                      // Y with diaeresis
      {u"\u0141\u00D3D\u0179", u"\u0142\u00F3d\u017A", true},            // Lodz
      {u"\u0150\u0170\u0132\u0152", u"\u0151\u0171\u0133\u0153", true},  // O, U double acute
      {u"\u0218TEFAN \u021A", u"\u0219tefan \u021B", true},              // comma below
      {u"\u01C4\u01C5", u"\u01C6\u01C6", true},                          // dz digraphs
      {u"\u0110\u01AF\u1EDCNG", u"\u0111\u01B0\u1EDDng", true},          // Vietnamese
      {u"\u1E9E", u"\u00DF", true},                                      // capital sharp s
      {u"\u017F", u"s", true},                                           // long s
      {u"\u0391\u0398\u0389\u039D\u0391", u"\u03B1\u03B8\u03AE\u03BD\u03B1", true},  // Athens
      {u"\u039F\u0394\u039F\u03A3", u"\u03BF\u03B4\u03BF\u03C2", true},              // final sigma
      {u"\u00B5", u"\u03BC", true},  // micro sign, mu
      {u"\u041C\u041E\u0421\u041A\u0412\u0410", u"\u043C\u043E\u0441\u043A\u0432\u0430", true},
      {u"\u0401\u0416\u0406\u0407\u040E", u"\u0451\u0436\u0456\u0457\u045E", true},
      {u"\u0490\u04E8\u04AE\u0512", u"\u0491\u04E9\u04AF\u0513", true},
      {u"\u00DF", u"ss", false},
      {u"\u0130", u"i", false},
      {u"\u0131", u"i", false},
      {u"\u00C6", u"AE", false},
  };
  for (const auto& p : pairs) {
    const std::u16string a = p.a;
    const std::u16string b = p.b;
    SCOPED_TRACE(Utf16ToUtf8(a) + " / " + Utf16ToUtf8(b));
    EXPECT_EQ(CompareRoadNames(a, b, true) == 0, p.equalWithoutCase);
    EXPECT_NE(CompareRoadNames(a, b, false), 0);
    EXPECT_EQ(CompareRoadNames(a, b, false), -CompareRoadNames(b, a, false));
  }
}

TEST(RoadNameOrder, PutsLowerCaseFirstAmongNamesEqualWithoutCase) {
  // The expected order: by folded code units (so " " < "_" < letters, "z" < "\u00E9"), then the
  // first case difference decides with lower case first.
  const std::vector<std::u16string> ordered = {
      u" ",       u"1st Ave", u"A",       u"ab",         u"aB",         u"Ab",      u"AB",
      u"ab st",   u"main st", u"main St", u"Main st",    u"Main St",    u"MAIN ST", u"Main St.",
      u"Main_St", u"Mainz",   u"Z",       u"\u00E9cole", u"\u00C9cole", u"\u00E9z", u"\u03C3",
      u"\u03A3",  u"\u03C2",  u"\u0436",  u"\u0416",
  };
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    EXPECT_EQ(CompareRoadNames(ordered[i], ordered[i]), 0);
    for (std::size_t j = i + 1; j < ordered.size(); ++j) {
      EXPECT_LT(CompareRoadNames(ordered[i], ordered[j]), 0)
          << Utf16ToUtf8(ordered[i]) << " < " << Utf16ToUtf8(ordered[j]);
      EXPECT_GT(CompareRoadNames(ordered[j], ordered[i]), 0);
    }
  }

  // The tree numbers the names in that order whatever order they come in.
  std::vector<std::u16string> shuffled = ordered;
  std::mt19937 random(7);
  std::shuffle(shuffled.begin(), shuffled.end(), random);
  TStringTree tree;
  for (const std::u16string& name : shuffled) {
    tree.Add(name);
    tree.Add(name);  // counted, not added twice
  }
  tree.CreateID();
  TKVMemoryStream names;
  tree.Write(names);
  EXPECT_EQ(tree.MaxLength(), 8);
  ASSERT_EQ(names.Size(), static_cast<std::int64_t>(ordered.size() * 16));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(names.Memory()), names.Size()),
            Records(ordered, 8));
  TKVMemoryStream numbers;
  for (const std::u16string& name : ordered)
    tree.WriteKeyID(numbers, name);
  std::vector<std::int32_t> expected(ordered.size());
  for (std::size_t k = 0; k < expected.size(); ++k)
    expected[k] = static_cast<std::int32_t>(k + 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(numbers.Memory()), numbers.Size()),
            Int32s(expected));
}

TEST(StringTree, WriteKeyIDNeedsNumberedKnownKeys) {
  TStringTree tree;
  TKVMemoryStream out;
  tree.Add(u"Elm St");
  EXPECT_THROW(tree.WriteKeyID(out, u"Elm St"), Exception);  // not numbered yet
  tree.CreateID();
  tree.WriteKeyID(out, u"Elm St");
  EXPECT_THROW(tree.WriteKeyID(out, u"elm st"), EInvalidParameter);
  tree.Add(u"Ash St");
  EXPECT_THROW(tree.WriteKeyID(out, u"Elm St"), Exception);  // the numbers changed
  EXPECT_EQ(out.Size(), 4);
}

TEST(RoadNameFile, ImportsMixedCaseNamesAndFindsTheFirstWithoutCase) {
  TTempDir dir;
  WriteFileBytes(dir.File("a.csv"), "MAIN ST\nElm St\nmain st\n");
  WriteFileBytes(dir.File("b.csv"), "Main St\n  elm st  \nMain Street\n");
  TRoadNameFile writer;
  writer.Import1({dir.File("a.csv"), dir.File("b.csv")}, dir.Path().string(), 0, 2, 0);
  EXPECT_EQ(
      ReadFileBytes(dir.File("roadname02.bin")),
      Records({u"elm st", u"Elm St", u"main st", u"Main St", u"MAIN ST", u"Main Street"}, 11));
  EXPECT_EQ(ReadFileBytes(dir.File("roadnumber02.bin")), Int32s({5, 2, 3, 4, 1, 6}));

  for (const bool cache : {true, false}) {
    TRoadNameFile reader;
    reader.Load(dir.Path().string(), cache, 0, 2, 6);
    EXPECT_EQ(reader.RoadNameID2("Main St", false), 4);
    EXPECT_EQ(reader.RoadNameID2("mAIN sT", false), -1);
    EXPECT_EQ(reader.RoadNameID2("mAIN sT", true), 3);
    EXPECT_EQ(reader.RoadNameID2("ELM ST", true), 1);
    EXPECT_EQ(reader.RoadNameID2("main street", true), 6);
  }
}

TEST(RoadNameFile, DbfImportDecodesTheTablesCodePage) {
  // Link names in UTF-8; a 1252 table cannot hold the Greek and Cyrillic ones.
  const std::vector<std::string> latin = {"Stra\u00DFe", "Caf\u00E9 Rouge", "", "\u00C6r\u00F8vej",
                                          "stra\u00DFe"};
  const std::vector<std::string> mixed = {"Stra\u00DFe", "\u0391\u03B8\u03AE\u03BD\u03B1",
                                          "\u041C\u043E\u0441\u043A\u0432\u0430", "  ",
                                          "\u03B1\u03B8\u03AE\u03BD\u03B1"};
  const struct {
    std::vector<std::string> names;
    std::uint16_t tableCodePage;
    std::uint16_t importCodePage;  // 0: the language driver of the table decides
    std::uint8_t languageDriver;
  } tables[] = {{latin, 1252, 0, 0x57}, {mixed, 65001, 65001, 0}};

  for (const auto& table : tables) {
    SCOPED_TRACE(table.tableCodePage);
    TTempDir dir;
    std::vector<std::vector<std::string>> records;
    for (std::size_t k = 0; k < table.names.size(); ++k) {
      records.push_back(
          {std::to_string(k + 1), Utf8ToCodePage(table.names[k], table.tableCodePage)});
    }
    WriteTestDbf(dir.File("links.dbf"), {{"ID", 'N', 6, 0}, {"STREET", 'C', 30, 0}}, records,
                 table.languageDriver);
    TRoadNameFile writer;
    writer.Import2({dir.File("links.dbf")}, dir.Path().string(), table.importCodePage, 1, 0,
                   "street");

    std::vector<std::u16string> keys;
    for (const std::string& name : table.names)
      keys.push_back(RoadNameKey(name));
    std::sort(keys.begin(), keys.end(),
              [](const auto& a, const auto& b) { return CompareRoadNames(a, b) < 0; });
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::size_t longest = 0;
    std::size_t longestUtf8 = 0;
    for (const std::u16string& key : keys) {
      longest = std::max(longest, key.size());
      longestUtf8 = std::max(longestUtf8, Trim(Utf16ToUtf8(key)).size());
    }
    EXPECT_EQ(ReadFileBytes(dir.File("roadname01.bin")), Records(keys, longest));

    for (const bool cache : {true, false}) {
      TRoadNameFile reader;
      reader.Load(dir.Path().string(), cache, 0, 1, static_cast<std::int32_t>(records.size()));
      EXPECT_EQ(reader.MaxRoadNameLength(), static_cast<std::int32_t>(2 * longest));
      EXPECT_EQ(reader.MaxRoadNameLengthUTF8(), static_cast<std::int32_t>(longestUtf8));
      for (std::size_t k = 0; k < table.names.size(); ++k) {
        const auto link = static_cast<std::int32_t>(k + 1);
        EXPECT_EQ(reader.RoadName1(link), Trim(table.names[k]));
        EXPECT_EQ(reader.RoadNameID2(table.names[k], false), reader.RoadNameID1(link));
      }
    }
  }

  // Names equal without case across the scripts: the first of them in name order is found.
  TTempDir dir;
  std::vector<std::vector<std::string>> records;
  for (const std::string& name : mixed)
    records.push_back({"1", name});
  WriteTestDbf(dir.File("links.dbf"), {{"ID", 'N', 6, 0}, {"STREET", 'C', 30, 0}}, records, 0);
  TRoadNameFile writer;
  writer.Import2({dir.File("links.dbf")}, dir.Path().string(), 65001, 3, 1, "");
  TRoadNameFile reader;
  reader.Load(dir.Path().string(), false, 0, 3, 5);
  EXPECT_EQ(reader.RoadNameID2("\u0391\u0398\u0389\u039D\u0391", true), reader.RoadNameID1(5));
  EXPECT_EQ(reader.RoadNameID2("\u043C\u043E\u0441\u043A\u0432\u0430", true),
            reader.RoadNameID1(3));
  EXPECT_EQ(reader.RoadNameID2("STRASSE", true), -1);
}

TEST(RoadNameFile, ImportRejectsMissingInputAndUnusableFields) {
  TTempDir dir;
  WriteTestDbf(dir.File("links.dbf"), {{"ID", 'N', 6, 0}, {"STREET", 'C', 30, 0}},
               {{"1", "Elm St"}});
  const std::string out = dir.Path().string();
  const std::string dbf = dir.File("links.dbf");
  TRoadNameFile writer;
  const std::string missing = "Cannot find input file to import.";
  EXPECT_EQ(MessageOf<EFileMissing>([&] { writer.Import2({}, out, 0, 1, 1, ""); }), missing);
  EXPECT_EQ(MessageOf<EFileMissing>([&] {
              writer.Import2({dbf, dir.File("nothere.dbf")}, out, 0, 1, 1, "");
            }),
            missing);
  EXPECT_EQ(MessageOf<EFileMissing>([&] { writer.Import1({dir.File("no.csv")}, out, 0, 1, 0); }),
            missing);

  const struct {
    std::int32_t fieldIndex;
    const char* fieldName;
    const std::type_info& kind;
    const char* message;
  } fields[] = {
      {-2, "street", typeid(EInvalidFieldIndex), "FieldIndex out of bound"},
      {2, "", typeid(EInvalidFieldIndex), "FieldIndex out of bound"},
      {-1, "", typeid(EInvalidFieldIndex), "FieldIndex out of bound"},
      {1, "road", typeid(EFieldNameNotFound), "Field Name not found"},
      {0, "", typeid(EInvalidFieldType), "Invalid field type"},
      {1, "Id", typeid(EInvalidFieldType), "Invalid field type"},
  };
  for (const auto& f : fields) {
    SCOPED_TRACE(f.fieldIndex);
    try {
      writer.Import2({dbf}, out, 0, 1, f.fieldIndex, f.fieldName);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), f.message);
      EXPECT_TRUE(typeid(e) == f.kind) << typeid(e).name();
    }
  }
  EXPECT_FALSE(Exists(dir.File("roadname01.bin")));
  EXPECT_FALSE(Exists(dir.File("roadnumber01.bin")));
}

TEST(RoadNameFile, CancelRemovesTheFilesBeingWritten) {
  TTempDir dir;
  std::string csv;
  for (int k = 0; k < 2000; ++k)
    csv += "Road " + std::to_string(k % 300) + "\n";
  WriteFileBytes(dir.File("names.csv"), csv);
  const std::string out = dir.Path().string();

  std::vector<int> seen;
  TRoadNameFile writer;
  writer.OnProgress = [&](TProgress&, int progress, bool&) { seen.push_back(progress); };
  writer.Import1({dir.File("names.csv")}, out, 0, 5, 0);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::find(seen.begin(), seen.end(), 40) != seen.end());
  EXPECT_TRUE(std::find(seen.begin(), seen.end(), 41) != seen.end());

  // Cancelled in the second pass: both files go.
  for (const int cancelAt : {60, 20}) {
    SCOPED_TRACE(cancelAt);
    TRoadNameFile cancelled;
    cancelled.OnProgress = [&](TProgress&, int progress, bool& cancel) {
      cancel = progress >= cancelAt;
    };
    cancelled.Import1({dir.File("names.csv")}, out, 0, 6, 0);
    EXPECT_TRUE(cancelled.Cancelled());
    EXPECT_FALSE(Exists(dir.File("roadname06.bin")));
    EXPECT_FALSE(Exists(dir.File("roadnumber06.bin")));
  }
}

TEST(RoadNameFile, LoadRejectsDamagedFiles) {
  const std::string goodNames = kMainElmNames;  // 3 records of 14 bytes
  const struct {
    const char* what;
    std::string names;
    std::string numbers;
    std::int32_t linkCount;
    const char* file;
    const char* detail;
  } cases[] = {
      {"empty name file", "", kMainElmNumbers, 3, "roadname01.bin", "it is empty"},
      {"numbers cut inside a value", goodNames, kMainElmNumbers.substr(0, 11), 3,
       "roadnumber01.bin", "its size 11 is not a whole number of int32 values"},
      {"number 0", goodNames, Int32s({3, 0, 1}), 3, "roadnumber01.bin",
       "link 2 has name number 0, outside 1..3"},
      {"negative number", goodNames, Int32s({3, 2, -4}), 3, "roadnumber01.bin",
       "link 3 has name number -4, outside 1..3"},
      {"number beyond the records", goodNames, Int32s({4, 2, 1}), 3, "roadname01.bin",
       "its size 42 is not 4 records of an even number of bytes"},
      {"records of an odd size", goodNames, Int32s({6, 2, 1}), 3, "roadname01.bin",
       "its size 42 is not 6 records of an even number of bytes"},
      {"name file not whole records", goodNames + "x", kMainElmNumbers, 3, "roadname01.bin",
       "its size 43 is not 3 records of an even number of bytes"},
      {"no links", goodNames, "", 0, "roadnumber01.bin", "it holds no links"},
  };
  for (const bool cache : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (cache ? " cached" : " uncached"));
      TTempDir dir;
      WriteFileBytes(dir.File("roadname01.bin"), c.names);
      WriteFileBytes(dir.File("roadnumber01.bin"), c.numbers);
      TRoadNameFile reader;
      const std::string message =
          MessageOf<Exception>([&] { reader.Load(dir.Path().string(), cache, 0, 1, c.linkCount); });
      EXPECT_EQ(message,
                "Road-name file " + dir.File(c.file) + " is corrupt: " + std::string(c.detail));
      EXPECT_FALSE(reader.IsOpen());
    }
  }

  // Missing files; a reader that was open keeps its set.
  TTempDir dir;
  WriteFileBytes(dir.File("roadname01.bin"), goodNames);
  WriteFileBytes(dir.File("roadnumber01.bin"), kMainElmNumbers);
  WriteFileBytes(dir.File("roadname02.bin"), goodNames);
  WriteFileBytes(dir.File("roadnumber03.bin"), kMainElmNumbers);
  TRoadNameFile reader;
  reader.Load(dir.Path().string(), false, 0, 1, 3);
  EXPECT_EQ(MessageOf<EFileMissing>([&] { reader.Load(dir.Path().string(), true, 0, 2, 3); }),
            dir.File("roadnumber02.bin") + " does not exist");
  EXPECT_EQ(MessageOf<EFileMissing>([&] { reader.Load(dir.Path().string(), true, 0, 3, 3); }),
            dir.File("roadname03.bin") + " does not exist");
  EXPECT_EQ(reader.RoadName1(1), "Main St");
}

// Links with names drawn from a pool of mixed-case and non-ASCII names, some blank.
struct TGeneratedSet {
  std::vector<std::string> linkNames;
  std::vector<std::u16string> keys;  // the distinct stored names in name order
};

TGeneratedSet GenerateSet(std::int32_t linkCount) {
  const std::vector<std::string> stems = {"Main",
                                          "main",
                                          "MAIN",
                                          "Elm",
                                          "elm",
                                          "Oak",
                                          "Stra\u00DFe",
                                          "stra\u00DFe",
                                          "\u00C9glise",
                                          "\u00E9glise",
                                          "\u0391\u03B8\u03AE\u03BD\u03B1",
                                          "\u03B1\u03B8\u03AE\u03BD\u03B1",
                                          "\u041C\u043E\u0441\u043A\u0432\u0430",
                                          "\u043C\u043E\u0441\u043A\u0432\u0430",
                                          "A",
                                          "a"};
  const std::vector<std::string> suffixes = {"", " St", " st", " Road", " Way", " Allee"};
  std::mt19937 random(20240611);
  TGeneratedSet set;
  for (std::int32_t k = 0; k < linkCount; ++k) {
    if (random() % 17 == 0) {
      set.linkNames.emplace_back(random() % 2 == 0 ? "" : "   ");
      continue;
    }
    std::string name = stems[random() % stems.size()] + suffixes[random() % suffixes.size()];
    if (random() % 3 == 0) name += " " + std::to_string(random() % 40);
    if (random() % 5 == 0) name = " " + name + "  ";
    set.linkNames.push_back(name);
  }
  for (const std::string& name : set.linkNames)
    set.keys.push_back(RoadNameKey(name));
  std::sort(set.keys.begin(), set.keys.end(),
            [](const auto& a, const auto& b) { return CompareRoadNames(a, b) < 0; });
  set.keys.erase(std::unique(set.keys.begin(), set.keys.end()), set.keys.end());
  return set;
}

// Checks every link of the set through one reader; returns the number of wrong answers.
int CountWrongAnswers(const TRoadNameFile& reader, const TGeneratedSet& set) {
  int wrong = 0;
  const auto order = [](const auto& a, const auto& b) { return CompareRoadNames(a, b) < 0; };
  const auto orderWithoutCase = [](const auto& a, const auto& b) {
    return CompareRoadNames(a, b, true) < 0;
  };
  for (std::size_t k = 0; k < set.linkNames.size(); ++k) {
    const auto link = static_cast<std::int32_t>(k + 1);
    const std::u16string key = RoadNameKey(set.linkNames[k]);
    const auto id = static_cast<std::int32_t>(
        std::lower_bound(set.keys.begin(), set.keys.end(), key, order) - set.keys.begin() + 1);
    const auto firstWithoutCase = static_cast<std::int32_t>(
        std::lower_bound(set.keys.begin(), set.keys.end(), key, orderWithoutCase) -
        set.keys.begin() + 1);
    std::string upper = Utf16ToUtf8(key);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    wrong += reader.RoadNameID1(link) != id;
    wrong += reader.RoadName1(link) != Trim(set.linkNames[k]);
    wrong += reader.RoadName2(id) != Trim(set.linkNames[k]);
    wrong += reader.RoadNameID2(set.linkNames[k], false) != id;
    wrong += reader.RoadNameID2(upper, true) != firstWithoutCase;
  }
  wrong += reader.RoadNameID2("Mainz", false) != -1;
  wrong += reader.RoadNameID2("\u044F", true) != -1;
  return wrong;
}

TEST(RoadNameFile, CachedUncachedAndClonedReadersAgreeOnALargerSet) {
  constexpr std::int32_t kLinks = 3000;
  const TGeneratedSet set = GenerateSet(kLinks);
  ASSERT_GT(set.keys.size(), 300U);
  TTempDir dir;
  std::string csv;
  for (std::size_t k = 0; k < set.linkNames.size(); ++k)
    csv += std::to_string(k + 1) + ",\"" + set.linkNames[k] + "\"\n";
  WriteFileBytes(dir.File("links.csv"), csv);
  TRoadNameFile writer;
  writer.Import1({dir.File("links.csv")}, dir.Path().string(), 65001, 9, 1);

  TRoadNameFile cached;
  TRoadNameFile uncached;
  cached.Load(dir.Path().string(), true, 0, 9, kLinks);
  uncached.Load(dir.Path().string(), false, 0, 9, kLinks);
  EXPECT_EQ(cached.MaxRoadNameID(), static_cast<std::int32_t>(set.keys.size()));
  EXPECT_EQ(uncached.MaxRoadNameLength(), cached.MaxRoadNameLength());
  EXPECT_EQ(uncached.MaxRoadNameLengthUTF8(), cached.MaxRoadNameLengthUTF8());
  EXPECT_EQ(CountWrongAnswers(cached, set), 0);
  EXPECT_EQ(CountWrongAnswers(uncached, set), 0);

  // Clones of both kinds on threads of their own, and the uncached reader shared by two more.
  TRoadNameFile cachedClone;
  TRoadNameFile uncachedClone;
  cached.Clone(cachedClone);
  uncached.Clone(uncachedClone);
  cached.Close();  // the clone keeps the shared image
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (const TRoadNameFile* reader : {&cachedClone, &uncachedClone, &uncached, &uncached}) {
    threads.emplace_back([&, reader] { wrong += CountWrongAnswers(*reader, set); });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(wrong.load(), 0);

  TRoadNameFile closedClone;
  cached.Clone(closedClone);
  EXPECT_FALSE(closedClone.IsOpen());
}

}  // namespace
}  // namespace kvnet
