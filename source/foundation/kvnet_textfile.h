// Line-oriented text files in a chosen code page.
//
// TTextFileReader returns lines as UTF-8 text. Lines end at CR, LF or CR LF. Code page 1200 reads
// UTF-16 little-endian; another non-zero code page reads that code page; 0 reads the system's
// default ANSI code page. A byte-order mark is honoured (and then wins) only when the code page is
// 1200 or 65001. The reader reads one line ahead: Eof is true when that line is empty and the
// file has ended, so an empty last line is never returned while an empty line in the middle is.
//
// TTextFileWriter writes UTF-8 text converted to its code page; writeln ends lines with CR LF.
// Code page 1200 writes UTF-16 little-endian (line ends as UTF-16 units too).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_io.h"

namespace kvnet {

class TTextFileReader {
 public:
  // Raises EFOpenError when the file cannot be opened, EEncodingError for an unknown code page.
  TTextFileReader(const std::string& fileName, std::uint16_t codePage);

  std::string ReadLine();
  // (Named Eof: EOF is a macro of the C library.)
  bool Eof() const { return FString.empty() && FAtEnd; }

  // Running estimate in characters (each line's length plus two for its end), to compare with
  // Size for progress.
  std::int64_t Position() const { return FPos; }
  // File size in bytes.
  std::int64_t Size() const { return FSize; }
  // The code page in effect after byte-order-mark detection.
  std::uint16_t CodePage() const { return FEncoder.CodePage(); }
  // True when some byte sequence read so far was not valid in the code page.
  bool Replaced() const { return FReplaced; }

 private:
  static constexpr std::int32_t kReadBufferSize = 4096;

  void ReadAhead();
  bool ReadRawLine(std::string& bytes);  // false at the end of the file
  int NextByte();                        // -1 at the end of the file
  int PeekByte();
  bool FillRaw();
  static TEncoder DetectCodePage(TKVFileStream& file, std::uint16_t codePage, int& bomLength);

  TKVFileStream FFile;
  int FBomLength = 0;
  TEncoder FEncoder;
  std::vector<char> FRaw;
  std::int32_t FRawPos = 0;
  std::int32_t FRawCount = 0;
  bool FRawEnd = false;
  std::string FString;  // the line read ahead
  bool FAtEnd = false;
  std::int64_t FSize = 0;
  std::int64_t FPos = 0;
  bool FReplaced = false;
};

class TTextFileWriter {
 public:
  // Creates (or truncates) the file. With bom true, code page 65001 starts with EF BB BF and code
  // page 1200 with FF FE. Raises EFCreateError when the file cannot be created.
  TTextFileWriter(const std::string& fileName, std::uint16_t codePage, bool bom = false);
  // Flushes and closes the file; errors cannot be reported here, so call Close to see them.
  ~TTextFileWriter();
  TTextFileWriter(const TTextFileWriter&) = delete;
  TTextFileWriter& operator=(const TTextFileWriter&) = delete;

  void write(std::string_view s);
  void writeln(std::string_view s);

  // Flushes and closes the file; raises EWriteError when the data could not be written.
  // Further calls do nothing.
  void Close();

  std::uint16_t CodePage() const { return FCodepage; }
  const std::string& FileName() const { return FFileName; }
  // True when some character could not be represented in the code page and was replaced.
  bool Replaced() const { return FReplaced; }

 private:
  std::string FFileName;
  std::unique_ptr<TKVBufferedStream> f;
  std::uint16_t FCodepage;
  TEncoder FEncoder;
  std::string FScratch;
  bool FReplaced = false;
};

}  // namespace kvnet
