// TCSVFiles: one or more comma-separated text files (plain CSV or MapInfo .mid) read as one
// sequence of lines, in the order the files were added; files without lines are skipped.
//
// Values are taken by 0-based position in a line. Commas separate values; a value that starts
// with a double quote runs to the closing quote, may hold commas, and a doubled quote inside it
// stands for one quote. An unquoted value runs to the next comma, with the characters of codes up
// to 32 around it removed, so a space inside a value never moves the values after it.
//
// Integers are an optional sign followed by decimal digits, or by '$' and hexadecimal digits;
// any other text raises Exception "'<text>' is not a valid integer value". One object is used by
// one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kvnet {

class TTextFileReader;

class TCSVFiles {
 public:
  // codePage 0 reads the system's default ANSI code page.
  explicit TCSVFiles(std::uint16_t codePage);
  ~TCSVFiles();
  TCSVFiles(const TCSVFiles&) = delete;
  TCSVFiles& operator=(const TCSVFiles&) = delete;

  void Add(const std::string& filename);
  void Add(const std::vector<std::string>& files);

  // Measures all files and opens the first one that has lines. Raises the text reader's errors
  // for a file that cannot be opened.
  void Open();

  // True when every file is consumed (also before Open). Moves on to the next file when the
  // current one is at its end.
  bool Eof();
  // Bytes read over all files, for progress against Size.
  std::int64_t Position() const;
  std::int64_t Size() const { return fTotalSize; }
  std::uint16_t CodePage() const { return FCodePage; }

  // The next line; empty when all files are consumed.
  std::string ReadLine();
  // The next line split into its values (none when all files are consumed).
  void ReadLine(std::vector<std::string>& sl);

  // Each Read consumes one line and takes the value at fieldindex; a field index outside the
  // line's values (or a read after the last line) gives 0 or an empty text. Word and Byte values
  // are converted as 32-bit integers and raise EOutOfRange when they do not fit.
  void Read(std::int32_t fieldindex, std::uint16_t& value);
  void Read(std::int32_t fieldindex, std::uint8_t& value);
  void Read(std::int32_t fieldindex, std::string& value);
  void Read(std::int32_t fieldindex, std::int64_t& value);

  // Consumes one line and returns the z-levels (-9..9) at the two field indexes. Raises Exception
  // "Invalid fields for Z-levels defined" when a field index is outside the line's values and
  // EOutOfRange "Z-levels of out range (-9..9)" for a value outside -9..9.
  void Read_Z(std::int32_t fieldindex1, std::int32_t fieldindex2, std::int32_t& z1,
              std::int32_t& z2);

 private:
  // Closes finished files and opens the next one with lines; sets fEof after the last.
  void Advance();
  // The value at fieldindex of the next line; false when there is none.
  bool ReadField(std::int32_t fieldindex, std::string& value);

  std::vector<std::string> fFiles;
  std::uint16_t FCodePage;
  std::int32_t fFileIndex = -1;
  std::unique_ptr<TTextFileReader> fFile;
  bool fEof = true;
  std::int64_t fFilesPosition = 0;
  std::int64_t fTotalSize = 0;
  std::vector<std::string> fValues;  // scratch for splitting
};

// Splits one line by the rule above (an empty line gives no values; "a,,b" gives three).
void SplitCSVLine(std::string_view line, std::vector<std::string>& values);

// The integer conversion of CSV values; raises Exception "'%s' is not a valid integer value" for
// a text that is not an integer or does not fit into 64 bits.
std::int64_t CSVStrToInt64(std::string_view text);

}  // namespace kvnet
