#include "gisin/kvnet_charset.h"

#include <algorithm>
#include <cctype>

namespace kvnet {

namespace {

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

TCharSetList BuildCharSetList() {
  struct TRow {
    std::uint16_t codepage;
    std::uint8_t id;
    const char* name;
  };
  static constexpr TRow kRows[] = {
      {1252, 10, "WindowsLatin1"},     {1250, 11, "WindowsLatin2"},
      {1256, 12, "WindowsArabic"},     {1251, 13, "WindowsCyrillic"},
      {1253, 14, "WindowsGreek"},      {1255, 15, "WindowsHebrew"},
      {1254, 16, "WindowsTurkish"},    {950, 17, "WindowsTradChinese"},
      {936, 18, "WindowsSimpChinese"}, {932, 19, "WindowsJapanese"},
      {949, 20, "WindowsKorean"},      {874, 54, "WindowsThai"},
      {1257, 55, "WindowsBalticRim"},  {1258, 56, "WindowsVietnamese"},
      {437, 34, "CodePage437"},        {850, 35, "CodePage850"},
      {852, 36, "CodePage852"},        {857, 37, "CodePage857"},
      {860, 38, "CodePage860"},        {861, 39, "CodePage861"},
      {863, 40, "CodePage863"},        {865, 41, "CodePage865"},
      {855, 42, "CodePage855"},        {864, 43, "CodePage864"},
      {869, 44, "CodePage869"},
  };
  TCharSetList list;
  for (const TRow& row : kRows)
    list.Add(TCharSet{row.codepage, row.id, row.name, false});
  for (std::uint8_t n = 1; n <= 9; ++n) {
    list.Add(
        TCharSet{static_cast<std::uint16_t>(28590 + n), n, "ISO8859_" + std::to_string(n), false});
  }
  list.Add(TCharSet{65001, 57, "UTF-8", true});
  list.Add(TCharSet{1200, 58, "UTF-16", true});
  return list;
}

TCodePageDBFList BuildCodePageDBFList() {
  static constexpr std::uint16_t kCodePages[] = {
      1252, 1250, 1256, 1251, 1253, 1255, 1254, 950, 936, 932,   949,   874,   437,  850,
      852,  857,  860,  861,  863,  865,  737,  862, 866, 10000, 10006, 10007, 10029};
  TCodePageDBFList list;
  for (const std::uint16_t codepage : kCodePages)
    list.Add(codepage);
  return list;
}

}  // namespace

std::string TCharSetList::CodePage2Charset(std::uint16_t codepage) const {
  const auto row =
      std::find_if(begin(), end(), [&](const TCharSet& r) { return r.codepage == codepage; });
  return row == end() ? std::string() : row->charset;
}

std::uint8_t TCharSetList::CodePage2ID(std::uint16_t codepage) const {
  const auto row =
      std::find_if(begin(), end(), [&](const TCharSet& r) { return r.codepage == codepage; });
  return row == end() ? 0 : row->ID;
}

std::uint16_t TCharSetList::Charset2CodePage(std::string_view charset) const {
  const std::string wanted = UpperAscii(charset);
  const auto row = std::find_if(begin(), end(),
                                [&](const TCharSet& r) { return UpperAscii(r.charset) == wanted; });
  return row == end() ? 0 : row->codepage;
}

const TCharSetList& CharSetList() {
  static const TCharSetList list = BuildCharSetList();
  return list;
}

const TCodePageDBFList& CodePageDBFList() {
  static const TCodePageDBFList list = BuildCodePageDBFList();
  return list;
}

}  // namespace kvnet
