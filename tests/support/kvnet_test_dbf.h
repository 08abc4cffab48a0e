// Writes small dBASE (.dbf) tables for tests: character (C), numeric (N) and logical (L) fields,
// one text per value, laid out the way dBASE stores them (numbers right-aligned, texts padded
// with spaces, logical values as one character).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvnet::test {

struct TTestDbfField {
  std::string name;  // at most 10 characters
  char type = 'N';   // 'C', 'N' or 'L'
  std::int32_t width = 10;
  std::int32_t decimals = 0;
};

// Writes the table; every record holds one text per field (an empty text is a blank value; a
// logical value is "T", "F" or "?"). languageDriver goes to header byte 29.
void WriteTestDbf(const std::string& fileName, const std::vector<TTestDbfField>& fields,
                  const std::vector<std::vector<std::string>>& records,
                  std::uint8_t languageDriver = 0x57);

}  // namespace kvnet::test
