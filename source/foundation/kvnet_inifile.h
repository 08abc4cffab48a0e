// Profile ("ini") files: [section] headers and key=value lines. Section and key names compare
// without regard to ASCII case and the first match wins; values have no length limit. The file
// is single-byte text in a code page (1252 unless told otherwise) with CR LF line ends; a file
// that does not exist reads as empty. Changes are kept in memory until UpdateFile writes the
// whole text (to a temporary file that is then renamed into place).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvnet {

class TIniFile {
 public:
  // Reads the file when it exists; raises the text reader's errors when it cannot be read.
  explicit TIniFile(const std::string& fileName, std::uint16_t codePage = 1252);

  const std::string& FileName() const { return FFileName; }

  virtual ~TIniFile() = default;

  // The value of key in section, with the spaces around it removed; def when there is none.
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const;
  // The value as a decimal integer; def when absent or not an integer.
  std::int64_t ReadInteger(const std::string& section, const std::string& key,
                           std::int64_t def) const;
  // An integer value other than 0 is true; def when absent or not an integer.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  // A number with '.' as decimal separator; def when absent or not a number.
  double ReadFloat(const std::string& section, const std::string& key, double def) const;
  bool ValueExists(const std::string& section, const std::string& key) const;

  // Replaces the first line of key in section, or appends key=value at the end of the section
  // (creating the section at the end of the file when needed).
  virtual void WriteString(const std::string& section, const std::string& key,
                           const std::string& value);
  // Numbers in the general number format; integers as decimal text.
  void WriteFloat(const std::string& section, const std::string& key, double value);
  void WriteInteger(const std::string& section, const std::string& key, std::int64_t value);

  // The text lines as they stand (section headers included, no line ends).
  const std::vector<std::string>& Lines() const { return FLines; }

  // Writes all lines; raises EWriteError or EFCreateError on failure, leaving any old file intact.
  void UpdateFile() const;

 private:
  // Index of the value line of key in section, or -1.
  std::int64_t FindKey(const std::string& section, const std::string& key) const;

  std::string FFileName;
  std::uint16_t FCodePage;
  std::vector<std::string> FLines;
};

// Parses a whole text (spaces around it allowed) as a number with '.' as decimal separator;
// false when it is not one. Used wherever text files carry numbers.
bool TryParseFloat(std::string_view text, double& value);
// Parses a whole text (spaces around it allowed) as a decimal integer; false when it is not one.
bool TryParseInt64(std::string_view text, std::int64_t& value);

// The text with leading and trailing characters up to ' ' (control characters and spaces)
// removed.
std::string Trim(std::string_view text);

}  // namespace kvnet
