#include "foundation/kvnet_inifile.h"

#include <charconv>
#include <filesystem>
#include <system_error>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_textfile.h"

namespace kvnet {

namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The section name of a "[name]" line, or false for any other line.
bool SectionOf(std::string_view line, std::string& name) {
  const std::string trimmed = Trim(line);
  if (trimmed.size() < 2 || trimmed.front() != '[') return false;
  const auto close = trimmed.find(']');
  if (close == std::string::npos) return false;
  name = Trim(std::string_view(trimmed).substr(1, close - 1));
  return true;
}

}  // namespace

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
    ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
    --end;
  return std::string(text.substr(begin, end - begin));
}

bool TryParseFloat(std::string_view text, double& value) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  if (*begin == '+') ++begin;
  double parsed = 0;
  const auto result = std::from_chars(begin, end, parsed);
  if (result.ec != std::errc() || result.ptr != end) return false;
  value = parsed;
  return true;
}

bool TryParseInt64(std::string_view text, std::int64_t& value) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  if (*begin == '+') ++begin;
  std::int64_t parsed = 0;
  const auto result = std::from_chars(begin, end, parsed);
  if (result.ec != std::errc() || result.ptr != end) return false;
  value = parsed;
  return true;
}

TIniFile::TIniFile(const std::string& fileName, std::uint16_t codePage)
    : FFileName(fileName), FCodePage(codePage) {
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) return;
  TTextFileReader reader(fileName, codePage);
  while (!reader.Eof())
    FLines.push_back(reader.ReadLine());
}

std::int64_t TIniFile::FindKey(const std::string& section, const std::string& key) const {
  bool inSection = false;
  std::string name;
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    if (SectionOf(FLines[i], name)) {
      inSection = EqualsIgnoreCase(name, section);
      continue;
    }
    if (!inSection) continue;
    const auto equals = FLines[i].find('=');
    if (equals == std::string::npos) continue;
    if (EqualsIgnoreCase(Trim(std::string_view(FLines[i]).substr(0, equals)), key)) {
      return static_cast<std::int64_t>(i);
    }
  }
  return -1;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return FindKey(section, key) >= 0;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  const std::int64_t line = FindKey(section, key);
  if (line < 0) return def;
  const std::string& text = FLines[static_cast<std::size_t>(line)];
  return Trim(std::string_view(text).substr(text.find('=') + 1));
}

std::int64_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                   std::int64_t def) const {
  std::int64_t value = def;
  return TryParseInt64(ReadString(section, key, ""), value) ? value : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  std::int64_t value = 0;
  return TryParseInt64(ReadString(section, key, ""), value) ? value != 0 : def;
}

double TIniFile::ReadFloat(const std::string& section, const std::string& key, double def) const {
  double value = def;
  return TryParseFloat(ReadString(section, key, ""), value) ? value : def;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  const std::int64_t line = FindKey(section, key);
  if (line >= 0) {
    FLines[static_cast<std::size_t>(line)] = key + "=" + value;
    return;
  }
  // Append after the last line of the section, or start the section at the end.
  std::string name;
  std::int64_t sectionEnd = -1;
  bool inSection = false;
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    if (SectionOf(FLines[i], name)) {
      if (inSection) break;
      inSection = EqualsIgnoreCase(name, section);
      if (!inSection) continue;
    }
    if (inSection && !Trim(FLines[i]).empty()) sectionEnd = static_cast<std::int64_t>(i);
  }
  if (sectionEnd < 0) {
    FLines.push_back("[" + section + "]");
    FLines.push_back(key + "=" + value);
  } else {
    FLines.insert(FLines.begin() + sectionEnd + 1, key + "=" + value);
  }
}

void TIniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
  WriteString(section, key, FormatGeneral(value));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key,
                            std::int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::UpdateFile() const {
  ReplaceFile(FFileName, [&](const std::string& temporary) {
    TTextFileWriter writer(temporary, FCodePage);
    for (const std::string& line : FLines)
      writer.writeln(line);
    writer.Close();
  });
}

}  // namespace kvnet
