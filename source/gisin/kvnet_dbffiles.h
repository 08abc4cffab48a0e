// Attribute tables read field by field: dBASE files (.dbf) and MapInfo native tables (.dat beside
// a .tab, classic or extended "NativeX" layout). TDbfFile opens one file, describes its fields,
// reads values by field number and 1-based record number, and writes values into existing
// records. TDbfFiles presents several files of one structure as one table.
//
// Headers are checked against each other and the file size when a file opens; a corrupt or
// truncated file raises Exception "Table <file> is corrupt: ...". Out-of-range field or record
// numbers read as empty or 0 and are not written, as callers of this table interface expect.
// One object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_gistypes.h"
#include "foundation/kvnet_types.h"

namespace kvnet {

class TBitArray;
class TKVBufferedStream;

struct Tdbffield {
  std::string Name;  // upper case
  TGISField FieldType = gfChar;
  std::int32_t Width = 0;
  std::int32_t decimals = 0;
  double Max = 0;  // value range of a gfDecimal field
  double Min = 0;
  std::uint32_t Pos = 0;  // offset of the field inside the record
};

enum TDBFtype : std::uint8_t { dbf, dat, datx };

// The code page of a dBASE language-driver byte (0 when unknown), and the first byte that names a
// code page (0 when none does).
std::uint16_t LanguageDriverCodePage(std::uint8_t languageDriver);
std::uint8_t CodePageLanguageDriver(std::uint16_t codePage);

class TDbfFile {
 public:
  // Nothing is opened; codePage 0 means that the file says which one it uses.
  TDbfFile(const std::string& fileName, std::uint16_t codePage);
  ~TDbfFile();
  TDbfFile(const TDbfFile&) = delete;
  TDbfFile& operator=(const TDbfFile&) = delete;

  // Opens the file (shared for reading). An extension other than .dbf or .dat leaves the file
  // closed. Raises the file-open error of the streams, "Corresponding TAB file is missing for DAT
  // file <name>", or Exception "Table <file> is corrupt: ..." for inconsistent headers.
  void Open(bool readWrite);
  // Writes pending changes and closes; raises EWriteError when they cannot be written.
  void Close();

  bool IsOpen() const { return fOpen; }
  std::int32_t FieldCount() const { return fFieldCount; }
  std::int64_t RecordCount() const { return fRecordCount; }
  TDBFtype DBFtype() const { return fDBFtype; }
  // The code page in effect (0 until the file is open).
  std::uint16_t CodePage() const { return fCodePage; }
  const std::string& FileName() const { return fFilename; }

  // Field index by name (case-insensitive); -1 when absent or not open.
  std::int32_t FindField(const std::string& fieldname) const;
  // The field description, or an empty one when not open or out of range.
  Tdbffield FieldInfo(std::int32_t fieldNum) const;
  bool IsDeleted(std::int64_t recNum);

  std::string ReadString(std::int32_t fieldNum, std::int64_t recNum);
  std::int64_t ReadInteger(std::int32_t fieldNum, std::int64_t recNum);
  // A decimal field whose text is not a number (a blank, null value) reads as NaN.
  double ReadFloat(std::int32_t fieldNum, std::int64_t recNum);
  // Logical fields: the stored flag; numeric fields: value not 0.
  bool ReadBoolean(std::int32_t fieldNum, std::int64_t recNum);

  void WriteInteger(std::int32_t fieldNum, std::int64_t recNum, std::int64_t value);
  void WriteFloat(std::int32_t fieldNum, std::int64_t recNum, double value);
  void WriteBoolean(std::int32_t fieldNum, std::int64_t recNum, bool value);
  void WriteString(std::int32_t fieldNum, std::int64_t recNum, const std::string& value);
  // Element i goes to record i, for i = 1 .. size - 1.
  void WriteIntegerArray(std::int32_t fieldnum, const TIntegerArray& value);
  void WriteCostArray(std::int32_t fieldnum, const std::vector<float>& value);
  void WriteBitArray(std::int32_t fieldnum, const TBitArray& value);

 private:
  void ReadTabDescription(std::vector<TGISField>& types);
  void ReadHeader(const std::vector<TGISField>& tabTypes);
  // The first line of a .cpg file: a code page number, or UTF-8; 0 for anything else.
  static std::uint16_t CodePageFromCpg(const std::string& cpg);
  bool ValidField(std::int32_t fieldNum) const;
  // A valid field that holds numbers or logicals (the column writers skip others).
  bool NumericField(std::int32_t fieldNum) const;
  bool ValidRecord(std::int64_t recNum) const;
  // Reads the field's bytes of a record into fBuffer.
  const std::uint8_t* FieldBytes(std::int32_t fieldNum, std::int64_t recNum);
  void PutFieldBytes(std::int32_t fieldNum, std::int64_t recNum, const void* bytes,
                     std::size_t count);
  std::string DecimalText(const Tdbffield& field, double value) const;
  void WriteLogical(std::int32_t fieldNum, std::int64_t recNum, bool value);
  const TEncoder& Encoder();

  bool fOpen = false;
  bool fWritable = false;
  TDBFtype fDBFtype = dbf;
  std::unique_ptr<TKVBufferedStream> fBinFile;
  std::string fFilename;
  std::int64_t fStartOfData = 0;
  std::int64_t fRecordLength = 0;
  std::int32_t fFieldCount = 0;
  std::int64_t fRecordCount = 0;
  std::vector<std::uint8_t> fBuffer;
  std::uint16_t fCodePage = 0;
  std::optional<TEncoder> fEncoder;
  std::vector<Tdbffield> fFields;
};

class TDbfFiles {
 public:
  explicit TDbfFiles(std::uint16_t codePage);
  ~TDbfFiles();

  void Add(const std::string& fileName);
  void Add(const std::vector<std::string>& files);
  // Opens every file read-only, in order, and checks each against the first; raises
  // EDifferentDBFFilesStructure when their fields differ.
  void Open();

  std::int32_t FieldCount() const { return fFieldCount; }
  std::int32_t RecordCount() const { return fRecordCount; }
  std::int32_t FindField(const std::string& fieldname) const;
  Tdbffield FieldInfo(std::int32_t fieldNum) const;
  const std::vector<std::string>& Files() const { return fFiles; }

  // RecNum counts over the files in order; beyond the total reads empty or 0.
  std::string ReadString(std::int32_t fieldNum, std::int32_t recNum);
  std::int64_t ReadInteger(std::int32_t fieldNum, std::int32_t recNum);
  double ReadFloat(std::int32_t fieldNum, std::int32_t recNum);

 private:
  // The file holding recNum and the record inside it; nullptr beyond the total.
  TDbfFile* Locate(std::int32_t recNum, std::int64_t& local);

  std::vector<std::unique_ptr<TDbfFile>> fDbf;
  std::vector<std::string> fFiles;
  std::uint16_t fCodePage;
  std::int32_t fFieldCount = -1;
  std::int32_t fRecordCount = -1;
};

}  // namespace kvnet
