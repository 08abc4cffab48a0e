#include "support/kvnet_test_dbf.h"

#include <stdexcept>

#include "support/kvnet_test_support.h"

namespace kvnet::test {

namespace {

void PutLE(std::string& bytes, std::size_t offset, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i)
    bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

void WriteTestDbf(const std::string& fileName, const std::vector<TTestDbfField>& fields,
                  const std::vector<std::vector<std::string>>& records,
                  std::uint8_t languageDriver) {
  const auto headerLength = static_cast<std::uint32_t>(32 + 32 * fields.size() + 1);
  std::uint32_t recordLength = 1;
  for (const TTestDbfField& field : fields) {
    if (field.name.size() > 10 || field.width < 1 || field.width > 254) {
      throw std::invalid_argument("WriteTestDbf: bad field " + field.name);
    }
    recordLength += static_cast<std::uint32_t>(field.width);
  }
  std::string bytes(headerLength, '\0');
  bytes[0] = 0x03;
  bytes[1] = 124;  // last update: 2024-01-01
  bytes[2] = 1;
  bytes[3] = 1;
  PutLE(bytes, 4, static_cast<std::uint32_t>(records.size()), 4);
  PutLE(bytes, 8, headerLength, 2);
  PutLE(bytes, 10, recordLength, 2);
  bytes[29] = static_cast<char>(languageDriver);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t at = 32 + 32 * i;
    bytes.replace(at, fields[i].name.size(), fields[i].name);
    bytes[at + 11] = fields[i].type;
    bytes[at + 16] = static_cast<char>(fields[i].width);
    bytes[at + 17] = static_cast<char>(fields[i].decimals);
  }
  bytes[headerLength - 1] = 0x0D;
  for (const std::vector<std::string>& record : records) {
    if (record.size() != fields.size()) {
      throw std::invalid_argument("WriteTestDbf: record with a wrong number of values");
    }
    bytes += ' ';
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const auto width = static_cast<std::size_t>(fields[i].width);
      const std::string& text = record[i];
      if (text.size() > width) throw std::invalid_argument("WriteTestDbf: value too wide: " + text);
      const std::string pad(width - text.size(), ' ');
      bytes += fields[i].type == 'N' ? pad + text : text + pad;
    }
  }
  bytes += '\x1A';
  WriteFileBytes(fileName, bytes);
}

}  // namespace kvnet::test
