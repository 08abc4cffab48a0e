#include "gisin/kvnet_csvfiles.h"

#include <algorithm>
#include <limits>

#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_textfile.h"

namespace kvnet {

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses text (blanks around it allowed) as an integer within min..max; false when it is not
// one or does not fit.
bool ParseInteger(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t& value) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin]))
    ++begin;
  while (end > begin && IsBlank(text[end - 1]))
    --end;
  bool negative = false;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) {
    negative = text[begin] == '-';
    ++begin;
  }
  int base = 10;
  if (begin < end && text[begin] == '$') {
    base = 16;
    ++begin;
  }
  if (begin == end) return false;
  // The magnitude may reach |min| for a negative value.
  const std::uint64_t limit =
      negative ? static_cast<std::uint64_t>(-(min + 1)) + 1 : static_cast<std::uint64_t>(max);
  std::uint64_t magnitude = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const int digit =
        base == 16 ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return false;
    const auto d = static_cast<std::uint64_t>(digit);
    if (magnitude > (limit - d) / static_cast<std::uint64_t>(base)) return false;
    magnitude = magnitude * static_cast<std::uint64_t>(base) + d;
  }
  if (negative) {
    value = magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
    return value >= min;
  }
  value = static_cast<std::int64_t>(magnitude);
  return value <= max;
}

[[noreturn]] void RaiseNotInteger(std::string_view text) {
  throw Exception(Format("'%s' is not a valid integer value", text));
}

std::int32_t StrToInt32(std::string_view text) {
  std::int64_t value = 0;
  if (!ParseInteger(text, std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max(), value)) {
    RaiseNotInteger(text);
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::int64_t CSVStrToInt64(std::string_view text) {
  std::int64_t value = 0;
  if (!ParseInteger(text, std::numeric_limits<std::int64_t>::min(),
                    std::numeric_limits<std::int64_t>::max(), value)) {
    RaiseNotInteger(text);
  }
  return value;
}

void SplitCSVLine(std::string_view line, std::vector<std::string>& values) {
  values.clear();
  const std::size_t n = line.size();
  std::size_t i = 0;
  while (i < n && IsBlank(line[i]))
    ++i;
  if (i == n) return;
  for (;;) {
    std::string value;
    if (line[i] == '"') {
      ++i;
      while (i < n) {
        if (line[i] == '"') {
          if (i + 1 < n && line[i + 1] == '"') {
            value += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += line[i++];
      }
      // Anything between the closing quote and the next comma still belongs to this value, so
      // that stray text never shifts the values after it.
      const std::size_t start = i;
      while (i < n && line[i] != ',')
        ++i;
      value += Trim(line.substr(start, i - start));
    } else {
      const std::size_t start = i;
      while (i < n && line[i] != ',')
        ++i;
      value = Trim(line.substr(start, i - start));
    }
    values.push_back(std::move(value));
    if (i >= n) break;
    ++i;  // the comma; a comma at the end still starts one (empty) value
    while (i < n && IsBlank(line[i]))
      ++i;
    if (i == n) {
      values.emplace_back();
      break;
    }
  }
}

TCSVFiles::TCSVFiles(std::uint16_t codePage)
    : FCodePage(codePage == 0 ? SystemCodePage() : codePage) {}

TCSVFiles::~TCSVFiles() = default;

void TCSVFiles::Add(const std::string& filename) {
  fFiles.push_back(filename);
}

void TCSVFiles::Add(const std::vector<std::string>& files) {
  fFiles.insert(fFiles.end(), files.begin(), files.end());
}

void TCSVFiles::Open() {
  fFile.reset();
  std::int64_t total = 0;
  for (const std::string& name : fFiles)
    total += TTextFileReader(name, FCodePage).Size();
  fTotalSize = total;
  fFilesPosition = 0;
  fFileIndex = -1;
  fEof = false;
  Advance();
}

void TCSVFiles::Advance() {
  while (!fEof && (!fFile || fFile->Eof())) {
    if (fFile) {
      fFilesPosition += fFile->Size();
      fFile.reset();
    }
    if (fFileIndex + 1 >= static_cast<std::int32_t>(fFiles.size())) {
      fFileIndex = static_cast<std::int32_t>(fFiles.size());
      fEof = true;
      break;
    }
    ++fFileIndex;
    fFile =
        std::make_unique<TTextFileReader>(fFiles[static_cast<std::size_t>(fFileIndex)], FCodePage);
  }
}

bool TCSVFiles::Eof() {
  Advance();
  return fEof;
}

std::int64_t TCSVFiles::Position() const {
  if (!fFile) return fFilesPosition;
  // The reader counts characters, which may run ahead of the bytes of a file with LF line ends.
  return fFilesPosition + std::min(fFile->Position(), fFile->Size());
}

std::string TCSVFiles::ReadLine() {
  Advance();
  if (fEof) return {};
  return fFile->ReadLine();
}

void TCSVFiles::ReadLine(std::vector<std::string>& sl) {
  SplitCSVLine(ReadLine(), sl);
}

bool TCSVFiles::ReadField(std::int32_t fieldindex, std::string& value) {
  ReadLine(fValues);
  if (fieldindex < 0 || fieldindex >= static_cast<std::int32_t>(fValues.size())) return false;
  value = std::move(fValues[static_cast<std::size_t>(fieldindex)]);
  return true;
}

void TCSVFiles::Read(std::int32_t fieldindex, std::uint16_t& value) {
  std::string text;
  value = 0;
  if (!ReadField(fieldindex, text)) return;
  const std::int32_t v = StrToInt32(text);
  if (v < 0 || v > 0xFFFF) {
    throw EOutOfRange(Format("Value %d is out of range for a word (0..65535)", v));
  }
  value = static_cast<std::uint16_t>(v);
}

void TCSVFiles::Read(std::int32_t fieldindex, std::uint8_t& value) {
  std::string text;
  value = 0;
  if (!ReadField(fieldindex, text)) return;
  const std::int32_t v = StrToInt32(text);
  if (v < 0 || v > 0xFF) {
    throw EOutOfRange(Format("Value %d is out of range for a byte (0..255)", v));
  }
  value = static_cast<std::uint8_t>(v);
}

void TCSVFiles::Read(std::int32_t fieldindex, std::string& value) {
  value.clear();
  ReadField(fieldindex, value);
}

void TCSVFiles::Read(std::int32_t fieldindex, std::int64_t& value) {
  std::string text;
  value = 0;
  if (!ReadField(fieldindex, text)) return;
  value = CSVStrToInt64(text);
}

void TCSVFiles::Read_Z(std::int32_t fieldindex1, std::int32_t fieldindex2, std::int32_t& z1,
                       std::int32_t& z2) {
  ReadLine(fValues);
  const auto count = static_cast<std::int32_t>(fValues.size());
  if (fieldindex1 < 0 || fieldindex1 >= count || fieldindex2 < 0 || fieldindex2 >= count) {
    throw Exception("Invalid fields for Z-levels defined");
  }
  const std::int32_t v1 = StrToInt32(fValues[static_cast<std::size_t>(fieldindex1)]);
  const std::int32_t v2 = StrToInt32(fValues[static_cast<std::size_t>(fieldindex2)]);
  if (v1 < -9 || v1 > 9 || v2 < -9 || v2 > 9) {
    throw EOutOfRange("Z-levels of out range (-9..9)");
  }
  z1 = v1;
  z2 = v2;
}

}  // namespace kvnet
