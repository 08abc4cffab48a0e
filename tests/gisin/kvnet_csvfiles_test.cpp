#include "gisin/kvnet_csvfiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::TTempDir;
using test::WriteFileBytes;

TEST(CSVFiles, FilesReadAsOneSequenceSkippingEmptyOnes) {
  const TTempDir dir;
  const std::string a = dir.File("a.csv");
  const std::string none1 = dir.File("none1.csv");
  const std::string none2 = dir.File("none2.csv");
  const std::string c = dir.File("c.mid");
  const std::string aText = "1,one\r\n2,two\r\n3,three\r\n";
  const std::string cText = "4,four\n5,five";  // LF line ends, no end after the last line
  WriteFileBytes(a, aText);
  WriteFileBytes(none1, "");
  WriteFileBytes(none2, "");
  WriteFileBytes(c, cText);

  TCSVFiles csv(0);
  EXPECT_TRUE(csv.Eof());  // nothing to read before Open
  csv.Add(none1);          // an empty file first must not end the sequence
  csv.Add(std::vector<std::string>{a, none2, c});
  csv.Open();
  const auto total = static_cast<std::int64_t>(aText.size() + cText.size());
  EXPECT_EQ(csv.Size(), total);
  EXPECT_EQ(csv.Position(), 0);

  std::vector<std::string> lines;
  std::int64_t lastPosition = 0;
  while (!csv.Eof()) {
    lines.push_back(csv.ReadLine());
    EXPECT_GE(csv.Position(), lastPosition);
    EXPECT_LE(csv.Position(), total);
    lastPosition = csv.Position();
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"1,one", "2,two", "3,three", "4,four", "5,five"}));
  EXPECT_EQ(csv.Position(), total);
  EXPECT_EQ(csv.ReadLine(), "");
  std::vector<std::string> values{"stale"};
  csv.ReadLine(values);
  EXPECT_TRUE(values.empty());

  TCSVFiles missing(0);
  missing.Add(dir.File("absent.csv"));
  EXPECT_THROW(missing.Open(), EFOpenError);
}

TEST(CSVFiles, SplittingKeepsEveryValueInItsColumn) {
  struct TCase {
    std::string line;
    std::vector<std::string> values;
  };
  const std::vector<TCase> cases = {
      {"a,\"b,c\",d", {"a", "b,c", "d"}},
      {"\"say \"\"hi\"\"\",x", {"say \"hi\"", "x"}},
      // A space inside an unquoted value must not split it and shift the later columns.
      {"12,Main Street,7", {"12", "Main Street", "7"}},
      {"  a ,\tb , c  ", {"a", "b", "c"}},
      {"\" padded \",x", {" padded ", "x"}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {",", {"", ""}},
      {"", {}},
      {"   ", {}},
      // Text after a closing quote stays with that value.
      {"\"x\" y,z", {"xy", "z"}},
      {"\"open,end", {"open,end"}},
      {"5\"6,7", {"5\"6", "7"}},
  };
  std::vector<std::string> values;
  for (const TCase& c : cases) {
    SplitCSVLine(c.line, values);
    EXPECT_EQ(values, c.values) << "line: " << c.line;
  }
}

TEST(CSVFiles, ReadVariantsTakeOneLineEach) {
  const TTempDir dir;
  const std::string file = dir.File("values.csv");
  WriteFileBytes(file,
                 "7,\"Elm, North\",65535,$ff\r\n"
                 "7,\"Elm, North\",65535,$ff\r\n"
                 "7,\"Elm, North\",65535,$ff\r\n"
                 "-$10,9223372036854775807,-9223372036854775808\r\n"
                 "-$10,9223372036854775807,-9223372036854775808\r\n"
                 "-$10,9223372036854775807,-9223372036854775808\r\n"
                 "a,b,c\r\n"
                 "a,b,c\r\n"
                 "Caf\xE9,+12\r\n"
                 "Caf\xE9,+12\r\n");
  TCSVFiles csv(0);  // the system code page (1252)
  csv.Add(file);
  csv.Open();
  std::uint16_t word = 1;
  std::uint8_t byte = 1;
  std::int64_t big = 1;
  std::string text = "x";
  csv.Read(2, word);
  EXPECT_EQ(word, 65535);
  csv.Read(1, text);
  EXPECT_EQ(text, "Elm, North");
  csv.Read(3, byte);
  EXPECT_EQ(byte, 255);
  csv.Read(0, big);
  EXPECT_EQ(big, -16);
  csv.Read(1, big);
  EXPECT_EQ(big, std::numeric_limits<std::int64_t>::max());
  csv.Read(2, big);
  EXPECT_EQ(big, std::numeric_limits<std::int64_t>::min());
  csv.Read(5, word);  // a line of three values
  EXPECT_EQ(word, 0);
  csv.Read(-1, text);
  EXPECT_EQ(text, "");
  csv.Read(0, text);
  EXPECT_EQ(text, "Caf\xC3\xA9");
  csv.Read(1, byte);
  EXPECT_EQ(byte, 12);
  EXPECT_TRUE(csv.Eof());
  big = 5;
  csv.Read(0, big);  // past the last line
  EXPECT_EQ(big, 0);
}

TEST(CSVFiles, IntegersThatDoNotFitOrParseRaise) {
  enum TKind { kWord, kByte, kInt64 };
  struct TCase {
    std::string value;
    TKind kind;
    bool outOfRange;  // EOutOfRange, else the conversion error
  };
  const std::vector<TCase> cases = {
      {"65536", kWord, true},
      {"-1", kWord, true},
      {"256", kByte, true},
      {"$100", kByte, true},
      {"2147483648", kWord, false},  // Word and Byte convert as 32-bit integers
      {"9223372036854775808", kInt64, false},
      {"-9223372036854775809", kInt64, false},
      {"12a", kInt64, false},
      {"1.5", kInt64, false},
      {"0x10", kInt64, false},
      {"$", kInt64, false},
      {"$G1", kInt64, false},
      {"--3", kInt64, false},
      {"", kInt64, false},
  };
  const TTempDir dir;
  const std::string file = dir.File("bad.csv");
  std::string text;
  for (const TCase& c : cases)
    text += "x," + c.value + ",y\r\n";
  WriteFileBytes(file, text);
  TCSVFiles csv(1252);
  csv.Add(file);
  csv.Open();
  for (const TCase& c : cases) {
    SCOPED_TRACE("value '" + c.value + "'");
    std::uint16_t word = 0;
    std::uint8_t byte = 0;
    std::int64_t big = 0;
    try {
      if (c.kind == kWord) csv.Read(1, word);
      if (c.kind == kByte) csv.Read(1, byte);
      if (c.kind == kInt64) csv.Read(1, big);
      ADD_FAILURE() << "no exception";
    } catch (const EOutOfRange&) {
      EXPECT_TRUE(c.outOfRange);
    } catch (const Exception& e) {
      EXPECT_FALSE(c.outOfRange);
      EXPECT_EQ(std::string(e.what()), "'" + c.value + "' is not a valid integer value");
    }
  }
  EXPECT_TRUE(csv.Eof());  // every failed read consumed its line
}

TEST(CSVFiles, ZLevels) {
  const TTempDir dir;
  const std::string file = dir.File("z.mid");
  WriteFileBytes(file, "\"road\",-9,9\r\n\"road\",3,-10\r\n\"road\",1\r\n\"road\",1,x\r\n");
  TCSVFiles csv(0);
  csv.Add(file);
  csv.Open();
  std::int32_t z1 = 5;
  std::int32_t z2 = 5;
  csv.Read_Z(1, 2, z1, z2);
  EXPECT_EQ(z1, -9);
  EXPECT_EQ(z2, 9);
  try {
    csv.Read_Z(1, 2, z1, z2);
    ADD_FAILURE() << "no exception for -10";
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Z-levels of out range (-9..9)");
  }
  try {
    csv.Read_Z(1, 2, z1, z2);
    ADD_FAILURE() << "no exception for a missing field";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid fields for Z-levels defined");
  }
  try {
    csv.Read_Z(1, 2, z1, z2);
    ADD_FAILURE() << "no exception for a text";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
  }
  EXPECT_EQ(z1, -9);  // failed reads leave the results alone
  EXPECT_EQ(z2, 9);
}

}  // namespace
}  // namespace kvnet
