#include "foundation/kvnet_textfile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kvnet_exceptions.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

std::vector<std::string> ReadAll(const std::string& name, std::uint16_t codePage) {
  TTextFileReader reader(name, codePage);
  std::vector<std::string> lines;
  while (!reader.Eof())
    lines.push_back(reader.ReadLine());
  return lines;
}

// UTF-16LE bytes of an ASCII text.
std::string Wide(const std::string& ascii) {
  std::string out;
  for (const char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

using TLines = std::vector<std::string>;

TEST(TextFileReader, LineEnds) {
  struct TCase {
    std::string bytes;
    TLines lines;
  };
  const TCase cases[] = {
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"a\n", {"a"}},
      {"a\n\nb", {"a", "", "b"}},  // an empty line in the middle is a line
      {"a\n\n", {"a"}},            // an empty last line is not
      {"a\r\n\r\n\r\nb\r\n", {"a", "", "", "b"}},
      {"", {}},
      {"\n", {}},
      {"\r\r", {""}},
      {"no line end", {"no line end"}},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    WriteFileBytes(dir.File("t.txt"), c.bytes);
    EXPECT_EQ(ReadAll(dir.File("t.txt"), 1252), c.lines) << testing::PrintToString(c.bytes);
  }
}

TEST(TextFileReader, CrLfSplitAcrossTheReadBuffer) {
  TTempDir dir;
  // The CR is the last byte of the first 4096-byte read, the LF the first of the next.
  const std::string first(4095, 'x');
  WriteFileBytes(dir.File("split.txt"), first + "\r\ny\r\n");
  EXPECT_EQ(ReadAll(dir.File("split.txt"), 1252), (TLines{first, "y"}));
  // The same for UTF-16 units: the CR unit ends the first read.
  const std::string wideFirst(2047, 'w');
  WriteFileBytes(dir.File("split16.txt"), Wide(wideFirst + "\r\nz"));
  EXPECT_EQ(ReadAll(dir.File("split16.txt"), 1200), (TLines{wideFirst, "z"}));
  // A CR unit at the boundary followed by another character.
  WriteFileBytes(dir.File("cr16.txt"), Wide(wideFirst + "\rq\n"));
  EXPECT_EQ(ReadAll(dir.File("cr16.txt"), 1200), (TLines{wideFirst, "q"}));
}

TEST(TextFileReader, CodePagesAndByteOrderMarks) {
  struct TCase {
    std::string bytes;
    std::uint16_t codePage;
    std::string firstLine;
    std::uint16_t detected;
  };
  const TCase cases[] = {
      {"\xE4\xF6\r\n", 1252, "\xC3\xA4\xC3\xB6", 1252},
      {"\xE4\r\n", 0, "\xC3\xA4", 1252},                                // system default
      {"\xEF\xBB\xBF\xC3\xA4\n", 65001, "\xC3\xA4", 65001},             // BOM removed
      {"\xEF\xBB\xBF\xC3\xA4\n", 1200, "\xC3\xA4", 65001},              // the BOM wins
      {std::string("\xFF\xFE\xE4\0\n\0", 6), 65001, "\xC3\xA4", 1200},  // the BOM wins
      {std::string("\xFE\xFF\0\xE4\0\n", 6), 1200, "\xC3\xA4", 1201},   // big-endian BOM
      {"\xEF\xBB\xBF"
       "a\n",
       1252,
       "\xC3\xAF\xC2\xBB\xC2\xBF"
       "a",
       1252},                                                  // no BOM in 1252
      {std::string("\xE4\0\n\0", 4), 1200, "\xC3\xA4", 1200},  // no BOM needed
  };
  TTempDir dir;
  for (const auto& c : cases) {
    WriteFileBytes(dir.File("cp.txt"), c.bytes);
    TTextFileReader reader(dir.File("cp.txt"), c.codePage);
    EXPECT_EQ(reader.CodePage(), c.detected) << testing::PrintToString(c.bytes);
    EXPECT_EQ(reader.ReadLine(), c.firstLine) << testing::PrintToString(c.bytes);
    EXPECT_TRUE(reader.Eof());
  }
}

TEST(TextFileReader, PositionEstimatesCharactersAndSizeIsBytes) {
  TTempDir dir;
  WriteFileBytes(dir.File("p.txt"),
                 "\xC3\xA4"
                 "b\r\nc\r\n");
  TTextFileReader reader(dir.File("p.txt"), 65001);
  EXPECT_EQ(reader.Size(), 8);
  EXPECT_EQ(reader.Position(), 0);
  reader.ReadLine();
  EXPECT_EQ(reader.Position(), 4);  // two characters plus the line end
  reader.ReadLine();
  EXPECT_EQ(reader.Position(), 7);
  EXPECT_TRUE(reader.Eof());
}

TEST(TextFileReader, MissingFileRaises) {
  TTempDir dir;
  EXPECT_THROW(TTextFileReader(dir.File("none.txt"), 1252), EFOpenError);
}

TEST(TextFileWriter, WritesEachCodePageWithCrLf) {
  struct TCase {
    std::uint16_t codePage;
    bool bom;
    std::string bytes;
  };
  const std::string text = "a\xC3\xA4";  // "aä"
  const TCase cases[] = {
      {1252, false, "a\xE4\r\na\xE4"},
      {1252, true, "a\xE4\r\na\xE4"},  // no byte-order mark outside UTF-8 and UTF-16
      {0, false, "a\xE4\r\na\xE4"},
      {65001, false, "a\xC3\xA4\r\na\xC3\xA4"},
      {65001, true,
       "\xEF\xBB\xBF"
       "a\xC3\xA4\r\na\xC3\xA4"},
      {1200, true,
       std::string("\xFF\xFE"
                   "a\0\xE4\0\r\0\n\0a\0\xE4\0",
                   14)},
      {1200, false, std::string("a\0\xE4\0\r\0\n\0a\0\xE4\0", 12)},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    const std::string name = dir.File("w.txt");
    {
      TTextFileWriter writer(name, c.codePage, c.bom);
      writer.writeln(text);
      writer.write("");
      writer.write(text);
      writer.Close();
      EXPECT_FALSE(writer.Replaced());
    }
    EXPECT_EQ(ReadFileBytes(name), c.bytes) << "code page " << c.codePage << " bom " << c.bom;
    // And the reader reads the same two lines back.
    EXPECT_EQ(ReadAll(name, c.codePage == 0 ? 1252 : c.codePage), (TLines{text, text}));
  }
}

TEST(TextFileWriter, ReportsReplacedCharacters) {
  TTempDir dir;
  TTextFileWriter writer(dir.File("r.txt"), 437);
  writer.write("\xE2\x82\xAC");  // the euro sign is not in code page 437
  writer.Close();
  EXPECT_TRUE(writer.Replaced());
  EXPECT_EQ(ReadFileBytes(dir.File("r.txt")), "?");
}

TEST(TextFileWriter, CloseReportsAFailedWriteAndTheDestructorFlushes) {
  {
    TTextFileWriter full("/dev/full", 1252);
    full.writeln("no room");
    EXPECT_THROW(full.Close(), EWriteError);
    EXPECT_THROW(full.write("after close"), EStreamError);
  }
  TTempDir dir;
  {
    TTextFileWriter writer(dir.File("d.txt"), 1252);
    writer.write("kept");
  }
  EXPECT_EQ(ReadFileBytes(dir.File("d.txt")), "kept");
}

}  // namespace
}  // namespace kvnet
