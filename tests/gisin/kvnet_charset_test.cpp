#include "gisin/kvnet_charset.h"

#include <gtest/gtest.h>

#include <set>

#include "foundation/kvnet_codepage.h"

namespace kvnet {
namespace {

TEST(CharSetList, LooksUpNamesIdsAndCodePages) {
  const TCharSetList& list = CharSetList();
  EXPECT_EQ(list.Count(), 36);
  EXPECT_EQ(list.CodePage2Charset(1252), "WindowsLatin1");
  EXPECT_EQ(list.CodePage2Charset(28595), "ISO8859_5");
  EXPECT_EQ(list.CodePage2Charset(737), "");  // a MIF header cannot name 737
  EXPECT_EQ(list.CodePage2Charset(65001), "UTF-8");
  EXPECT_EQ(list.CodePage2ID(65001), 57);
  EXPECT_EQ(list.CodePage2ID(28599), 9);
  EXPECT_EQ(list.CodePage2ID(864), 43);
  EXPECT_EQ(list.CodePage2ID(737), 0);
  EXPECT_EQ(list.Charset2CodePage("windowslatin2"), 1250);
  EXPECT_EQ(list.Charset2CodePage("ISO8859_1"), 28591);
  EXPECT_EQ(list.Charset2CodePage("utf-16"), 1200);
  EXPECT_EQ(list.Charset2CodePage("Neutral"), 0);
  EXPECT_EQ(list.Charset2CodePage(""), 0);
  EXPECT_TRUE(list[list.Count() - 1].EFALonly);
  EXPECT_FALSE(list[0].EFALonly);
}

TEST(CharSetList, EveryCodePageAppearsOnceAndCanBeConverted) {
  std::set<std::uint16_t> seen;
  for (const TCharSet& row : CharSetList()) {
    EXPECT_TRUE(seen.insert(row.codepage).second) << row.codepage << " listed twice";
    EXPECT_TRUE(CodePageSupported(row.codepage)) << row.codepage;
  }
}

TEST(CodePageDBFList, ListsTheDBaseCodePagesInOrder) {
  const TCodePageDBFList& list = CodePageDBFList();
  ASSERT_EQ(list.Count(), 27);
  EXPECT_EQ(list.First(), 1252);
  EXPECT_EQ(list[20], 737);  // a dBASE table can be written in 737
  EXPECT_EQ(list.Last(), 10029);
  for (const std::uint16_t codepage : list)
    EXPECT_TRUE(CodePageSupported(codepage)) << codepage;
}

}  // namespace
}  // namespace kvnet
