#include "import/kvnet_importattributes.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <span>

#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_textfile.h"
#include "foundation/kvnet_unicode.h"
#include "gisin/kvnet_charset.h"
#include "gisin/kvnet_csvfiles.h"
#include "gisin/kvnet_dbffiles.h"
#include "import/kvnet_importreaders.h"
#include "store/kvnet_configfile.h"
#include "store/kvnet_encryption.h"
#include "store/kvnet_externid.h"
#include "store/kvnet_roadnamefile.h"

namespace kvnet {

namespace {

constexpr char kIndex1File[] = "index1.bin";
constexpr char kIndex2File[] = "index2.bin";
constexpr std::int32_t kBucketCount = 256;
constexpr std::int32_t kMaxTextIdWidth = 254;
constexpr std::int64_t kInt32IdLimit = 2147483647;

// Thrown inside a file writer when the run is cancelled, so that the temporary file goes away.
struct TCancelledRun {};

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string Extension(const std::string& file) {
  return UpperAscii(std::filesystem::path(file).extension().string());
}

// A file written whole through a buffered stream on a temporary file that replaces fileName
// once fill has returned.
void WriteFile(const std::string& fileName, const std::function<void(TKVStream&)>& fill) {
  ReplaceFile(fileName, [&](const std::string& temporary) {
    TKVBufferedStream out(std::make_unique<TKVFileStream>(temporary, fmCreate));
    fill(out);
    out.Flush();
  });
}

void RemoveFile(const std::string& fileName) {
  std::error_code ec;
  std::filesystem::remove(fileName, ec);
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

// The id as stored: cut to width (never between the two halves of a surrogate pair), without
// trailing characters up to ' '.
void CutTextId(std::u16string& id, std::int32_t width) {
  auto size = static_cast<std::size_t>(width);
  if (id.size() > size) {
    if (IsHighSurrogate(id[size - 1])) --size;
    id.resize(size);
  }
  while (!id.empty() && id.back() <= u' ')
    id.pop_back();
}

}  // namespace

// ---- the column of the added files, record by record

class TImportAttributes::TFieldSource {
 public:
  TFieldSource(const std::vector<std::string>& files, TFileKind kind, std::uint16_t codePageCSV,
               std::uint16_t codePageDbf, std::int32_t fieldindex, const std::string& fieldname)
      : fFiles(files), fCodePageDbf(codePageDbf), fField(fieldindex) {
    if (kind == fkDBF) {
      fDbf = std::make_unique<TDbfFiles>(codePageDbf);
      fDbf->Add(files);
      fDbf->Open();
      if (!fieldname.empty()) {
        fField = fDbf->FindField(fieldname);
        if (fField < 0) throw EFieldNameNotFound(Format("Field %s not found", fieldname));
      }
      if (fField < 0 || fField >= fDbf->FieldCount()) {
        throw EInvalidFieldIndex(
            Format("Field %d not valid - should be 0..%d", fField, fDbf->FieldCount() - 1));
      }
    } else {
      if (fField < 0) {
        throw EInvalidFieldIndex(Format("Field %d not valid - should be 0 or more", fField));
      }
      fCsv = std::make_unique<TCSVFiles>(codePageCSV);
      fCsv->Add(files);
      fCsv->Open();
    }
  }

  // The number of records when known before reading (dBASE), else -1.
  std::int64_t KnownRecordCount() const { return fDbf ? fDbf->RecordCount() : -1; }

  // Moves to the next record; false after the last one.
  bool Next() {
    if (fDbf) {
      if (fRecord >= fDbf->RecordCount()) return false;
    } else {
      if (fCsv->Eof()) return false;
      fCsv->ReadLine(fValues);
    }
    ++fRecord;
    return true;
  }
  std::int32_t Record() const { return fRecord; }

  std::int64_t Integer() {
    if (fDbf) return fDbf->ReadInteger(fField, fRecord);
    const std::string* value = CsvValue();
    return value != nullptr ? CSVStrToInt64(*value) : 0;
  }
  double Float() {
    return fDbf ? fDbf->ReadFloat(fField, fRecord) : static_cast<double>(Integer());
  }
  std::string Text() {
    if (fDbf) return fDbf->ReadString(fField, fRecord);
    const std::string* value = CsvValue();
    return value != nullptr ? *value : std::string();
  }

  // The widest declaration of the field over the dBASE files (tables of one structure may still
  // differ in widths).
  std::int32_t DeclaredWidth() const {
    std::int32_t width = 0;
    for (const std::string& file : fFiles) {
      TDbfFile table(file, fCodePageDbf);
      table.Open(false);
      width = std::max(width, table.FieldInfo(fField).Width);
    }
    return width;
  }

  double ProgressMax() const {
    return fDbf ? static_cast<double>(fDbf->RecordCount()) : static_cast<double>(fCsv->Size());
  }
  double ProgressValue() const {
    return fDbf ? static_cast<double>(fRecord) : static_cast<double>(fCsv->Position());
  }

 private:
  const std::string* CsvValue() const {
    return static_cast<std::size_t>(fField) < fValues.size()
               ? &fValues[static_cast<std::size_t>(fField)]
               : nullptr;
  }

  const std::vector<std::string>& fFiles;
  std::uint16_t fCodePageDbf;
  std::int32_t fField;
  std::unique_ptr<TDbfFiles> fDbf;
  std::unique_ptr<TCSVFiles> fCsv;
  std::vector<std::string> fValues;
  std::int32_t fRecord = 0;
};

// ---- settings

TImportAttributes::TImportAttributes() : FCodePageCSV(SystemCodePage()) {}

TImportAttributes::~TImportAttributes() = default;

void TImportAttributes::AddFiles(const std::vector<std::string>& files) {
  ffiles.insert(ffiles.end(), files.begin(), files.end());
}

void TImportAttributes::SetLimitFileIndex(std::int32_t value) {
  if (value < 1 || value > 9) throw EOutOfRange("Limit file index should be 1..9");
  FLimitFileIndex = value;
}

void TImportAttributes::SetRoadNameFileIndex(std::int32_t value) {
  if (value < 1 || value > 99) throw EOutOfRange("Roadname file index should be 1..99");
  FRoadNameFileIndex = value;
}

// ---- common steps

TImportAttributes::TNetworkInfo TImportAttributes::StartRun() {
  ResetCancelled();
  CheckDirectory();
  TConfig config;
  ReadConfig(fDirectory, config);
  if (config.LinkCount < 0) {
    throw Exception(Format("Network file %s is corrupt: the link count is not valid",
                           fDirectory + kConfigFileName));
  }
  TNetworkInfo info;
  info.linkCount = config.LinkCount;
  if (config.Encrypted) {
    if (fEncryptionKey == 0) throw EEncryptedData("Network is encrypted, supply a key");
    if (fEncryptionKey < 0) {
      throw EInvalidParameter(Format("Encryption key must not be negative: %d", fEncryptionKey));
    }
    info.key = fEncryptionKey;
  }
  return info;
}

void TImportAttributes::CheckFilesAdded() const {
  if (ffiles.empty()) throw EFileMissing("Cannot find input file to import.");
}

void TImportAttributes::CheckRecordCount(std::int64_t records, std::int32_t linkCount) const {
  if (records != linkCount) {
    throw Exception(Format("The input holds %d records but the network in %s has %d links", records,
                           fDirectory, linkCount));
  }
}

template <class T, class Event>
std::vector<T> TImportAttributes::AskEvent(const Event& event, std::int32_t linkCount) {
  std::vector<T> values;
  values.reserve(static_cast<std::size_t>(linkCount));
  bool lastlink = false;
  for (std::int32_t link = 1; !lastlink; ++link) {
    if (link > linkCount) {
      throw Exception(Format("The event gives more links than the network in %s has (%d)",
                             fDirectory, linkCount));
    }
    T value{};
    event(*this, link, value, lastlink);
    values.push_back(std::move(value));
  }
  CheckRecordCount(static_cast<std::int64_t>(values.size()), linkCount);
  return values;
}

void TImportAttributes::WriteAttributeFile(const std::vector<std::uint16_t>& values,
                                           std::int64_t key) const {
  std::vector<std::uint16_t> words = values;
  T32Encryption cipher(key);
  cipher.Apply(std::span<std::uint16_t>(words));
  WriteFile(fDirectory + "attribute.bin", [&](TKVStream& out) {
    for (const std::uint16_t word : words)
      out.WriteUInt16(word);
  });
}

void TImportAttributes::WriteLimitFile(const std::vector<std::uint8_t>& values,
                                       std::int64_t key) const {
  std::vector<std::uint8_t> bytes = values;
  T32Encryption cipher(key);
  cipher.Apply(std::span<std::uint8_t>(bytes));
  WriteFile(fDirectory + Format("limit%d.bin", FLimitFileIndex), [&](TKVStream& out) {
    out.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  });
}

// ---- attribute words and limits

template <class T, class ValueOf>
bool TImportAttributes::ReadColumn(TFieldSource& source, std::int32_t linkCount, int progressStop,
                                   std::vector<T>& values, ValueOf valueOf) {
  if (source.KnownRecordCount() >= 0) CheckRecordCount(source.KnownRecordCount(), linkCount);
  SetProgressStart(0);
  SetProgressStop(progressStop);
  SetProgressMaxValue(source.ProgressMax());
  values.clear();
  values.reserve(static_cast<std::size_t>(linkCount));
  while (source.Next()) {
    T value = valueOf();
    if (source.Record() <= linkCount) values.push_back(std::move(value));
    ProgressExecute(source.ProgressValue());
    if (Cancelled()) {
      ProgressExecuteZero();
      return false;
    }
  }
  CheckRecordCount(source.Record(), linkCount);
  return true;
}

void TImportAttributes::ExecuteAttribute(std::int32_t fieldindex, const std::string& fieldname,
                                         TFileKind fk) {
  const TNetworkInfo info = StartRun();
  CheckFilesAdded();
  TFieldSource source(ffiles, fk, FCodePageCSV, FCodePageDbf, fieldindex, fieldname);
  std::vector<std::uint16_t> values;
  const bool complete = ReadColumn(source, info.linkCount, 100, values, [&] {
    const std::int64_t value = source.Integer();
    if (value < 0 || value > 65535) throw EOutOfRange("Attribute value out of range");
    return static_cast<std::uint16_t>(value);
  });
  if (!complete) return;
  WriteAttributeFile(values, info.key);
  ProgressExecuteZero();
}

void TImportAttributes::ExecuteLimit(std::int32_t fieldindex, const std::string& fieldname,
                                     TFileKind fk, double Lconstant, double Lfactor) {
  const bool neutral = Lfactor == 1 && Lconstant == 0;
  if (!neutral && fk == fkCSV) {
    throw Exception("Factor or constant can not be applied to CSV format");
  }
  const TNetworkInfo info = StartRun();
  CheckFilesAdded();
  TFieldSource source(ffiles, fk, FCodePageCSV, FCodePageDbf, fieldindex, fieldname);
  std::vector<std::uint8_t> values;
  const bool complete = ReadColumn(source, info.linkCount, 100, values, [&] {
    const double value = neutral ? static_cast<double>(source.Integer())
                                 : std::trunc((source.Float() - Lconstant) * Lfactor);
    // NaN (a blank number) fails both tests.
    if (!(value >= 0 && value <= 255)) throw EOutOfRange("Limit value out of range");
    return static_cast<std::uint8_t>(value);
  });
  if (!complete) return;
  WriteLimitFile(values, info.key);
  ProgressExecuteZero();
}

void TImportAttributes::ExecuteAttributeEvent() {
  if (!OnReadAttribute) return;
  const TNetworkInfo info = StartRun();
  WriteAttributeFile(AskEvent<std::uint16_t>(OnReadAttribute, info.linkCount), info.key);
}

void TImportAttributes::ExecuteLimitEvent() {
  if (!OnReadLimit) return;
  const TNetworkInfo info = StartRun();
  WriteLimitFile(AskEvent<std::uint8_t>(OnReadLimit, info.linkCount), info.key);
}

// ---- road names

std::int32_t TImportAttributes::MidColumn(const std::string& midFile, std::int32_t fieldindex,
                                          const std::string& fieldname) {
  const std::string base = midFile.substr(0, midFile.size() - 4);
  const std::string mifFile = CompanionFile(base, ".mif");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(mifFile, ec)) {
    throw Exception("Corresponding MIF file is missing for MID file " + midFile);
  }

  // The keywords are ASCII: the header is read in 1252 to find the character set, then (for a
  // column name) once more in that character set.
  {
    TTextFileReader mif(mifFile, 1252);
    while (!mif.Eof()) {
      const std::string line = UpperAscii(Trim(mif.ReadLine()));
      if (StartsWith(line, "COLUMNS")) break;
      if (StartsWith(line, "CHARSET")) {
        const auto open = line.find('"');
        const auto close = open == std::string::npos ? open : line.find('"', open + 1);
        const std::string name = open == std::string::npos
                                     ? Trim(std::string_view(line).substr(7))
                                     : line.substr(open + 1, close - open - 1);
        FCodePageCSV = CharSetList().Charset2CodePage(name);
      }
    }
  }
  if (fieldname.empty()) return fieldindex;

  const std::string wanted = UpperAscii(Trim(fieldname));
  TTextFileReader mif(mifFile, FCodePageCSV);
  while (!mif.Eof()) {
    const std::string line = UpperAscii(Trim(mif.ReadLine()));
    if (StartsWith(line, "DATA")) break;
    if (!StartsWith(line, "COLUMNS")) continue;
    // "Columns n", then one line per column with the column's name as its first word (a name
    // may be any word, keywords included).
    std::int64_t columns = 0;
    if (!TryParseInt64(std::string_view(line).substr(7), columns)) break;
    for (std::int32_t column = 0; column < columns && !mif.Eof(); ++column) {
      const std::string declaration = UpperAscii(Trim(mif.ReadLine()));
      if (declaration.substr(0, declaration.find_first_of(" \t")) == wanted) return column;
    }
    break;
  }
  throw Exception("Field " + fieldname + " not found in " + mifFile);
}

void TImportAttributes::ExecuteRoadname(std::int32_t fieldindex, const std::string& fieldname,
                                        TFileKind fk) {
  const TNetworkInfo info = StartRun();
  CheckFilesAdded();
  std::int32_t column = fieldindex;
  std::int64_t records = 0;
  if (fk == fkDBF) {
    TDbfFiles tables(FCodePageDbf);
    tables.Add(ffiles);
    tables.Open();
    records = tables.RecordCount();
  } else {
    if (Extension(ffiles.front()) == ".MID")
      column = MidColumn(ffiles.front(), fieldindex, fieldname);
    TCSVFiles lines(FCodePageCSV);
    lines.Add(ffiles);
    lines.Open();
    while (!lines.Eof()) {
      lines.ReadLine();
      ++records;
    }
  }
  CheckRecordCount(records, info.linkCount);

  TRoadNameFile names;
  names.OnProgress = [this](TProgress&, int progress, bool& cancel) {
    if (OnProgress) OnProgress(*this, progress, cancel);
  };
  if (fk == fkDBF) {
    names.Import2(ffiles, fDirectory, FCodePageDbf, FRoadNameFileIndex, fieldindex, fieldname);
  } else {
    names.Import1(ffiles, fDirectory, FCodePageCSV, FRoadNameFileIndex, column);
  }
  FCancelled = names.Cancelled();
  ProgressExecuteZero();
}

void TImportAttributes::ExecuteRoadnameEvent() {
  if (!OnReadRoadName) return;
  const TNetworkInfo info = StartRun();
  // A name as the set stores it: trimmed, and one space for no name.
  const auto ask = [&](std::int32_t link, bool& lastlink) {
    std::string name;
    OnReadRoadName(*this, link, name, lastlink);
    std::u16string text = Utf8ToUtf16(Trim(name));
    if (text.empty()) text.push_back(u' ');
    return text;
  };
  const auto tooMany = [&] {
    return Exception(Format("The event gives more links than the network in %s has (%d)",
                            fDirectory, info.linkCount));
  };

  TStringTree tree;
  std::int32_t links = 0;
  for (bool lastlink = false; !lastlink;) {
    if (links == info.linkCount) throw tooMany();
    tree.Add(ask(++links, lastlink));
  }
  CheckRecordCount(links, info.linkCount);
  tree.CreateID();

  WriteFile(fDirectory + RoadNameFileName(FRoadNameFileIndex), [&](TKVStream& nameFile) {
    tree.Write(nameFile);
    WriteFile(fDirectory + RoadNumberFileName(FRoadNameFileIndex), [&](TKVStream& numberFile) {
      std::int32_t link = 0;
      for (bool lastlink = false; !lastlink;) {
        if (link == info.linkCount) throw tooMany();
        const std::u16string name = ask(++link, lastlink);
        if (tree.IndexOf(name) < 0) {
          throw Exception(
              Format("The event gives link %d a name it did not give the first time", link));
        }
        tree.WriteKeyID(numberFile, name);
      }
      if (link != links) {
        throw Exception(
            Format("The event gives %d links the second time, %d the first time", link, links));
      }
    });
  });
}

// ---- external ids

void TImportAttributes::RaiseDuplicates() const {
  RemoveFile(fDirectory + kIndex1File);
  RemoveFile(fDirectory + kIndex2File);
  throw Exception("External ID has duplicate values");
}

template <class IdOf>
void TImportAttributes::SortBuckets(std::vector<std::vector<std::int32_t>>& buckets,
                                    const IdOf& id) const {
  for (auto& bucket : buckets) {
    std::sort(bucket.begin(), bucket.end(),
              [&](std::int32_t a, std::int32_t b) { return id(a) < id(b); });
    for (std::size_t k = 1; k < bucket.size(); ++k) {
      if (id(bucket[k - 1]) == id(bucket[k])) RaiseDuplicates();
    }
  }
}

void TImportAttributes::WriteIndex2(const std::vector<std::vector<std::int32_t>>& buckets,
                                    bool offsets64, int from) {
  SetProgressStart(from);
  SetProgressStop(100);
  SetProgressMaxValue(kBucketCount);
  WriteFile(fDirectory + kIndex2File, [&](TKVStream& out) {
    out.WriteInt32(kBucketCount);
    std::int64_t offset = 4 + std::int64_t{kBucketCount} * (offsets64 ? 8 : 4);
    for (const auto& bucket : buckets) {
      if (offsets64) {
        out.WriteInt64(offset);
      } else {
        out.WriteInt32(static_cast<std::int32_t>(offset));
      }
      offset += 4 * static_cast<std::int64_t>(bucket.size());
    }
    for (std::int32_t b = 0; b < kBucketCount; ++b) {
      for (const std::int32_t link : buckets[static_cast<std::size_t>(b)])
        out.WriteInt32(link);
      ProgressExecute(b + 1);
      if (Cancelled()) throw TCancelledRun{};
    }
  });
}

void TImportAttributes::WriteIntegerIndex(const std::vector<std::int64_t>& ids, bool useint64,
                                          int from) {
  std::vector<std::vector<std::int32_t>> buckets(kBucketCount);
  for (std::size_t k = 0; k < ids.size(); ++k) {
    const auto bucket = static_cast<std::size_t>(static_cast<std::uint64_t>(ids[k]) & 255U);
    buckets[bucket].push_back(static_cast<std::int32_t>(k) + 1);
  }
  SortBuckets(buckets, [&](std::int32_t link) { return ids[static_cast<std::size_t>(link) - 1]; });
  try {
    WriteFile(fDirectory + kIndex1File, [&](TKVStream& out) {
      out.WriteInt32(useint64 ? -1 : 0);
      for (const std::int64_t value : ids) {
        if (useint64) {
          out.WriteInt64(value);
        } else {
          out.WriteInt32(static_cast<std::int32_t>(value));
        }
      }
      WriteIndex2(buckets, false, from);
    });
  } catch (const TCancelledRun&) {
  }
  ProgressExecuteZero();
}

void TImportAttributes::WriteTextIndex(const std::vector<std::u16string>& ids, std::int32_t width,
                                       int from) {
  const auto count = static_cast<std::int64_t>(ids.size());
  const bool offsets64 = 2 * std::int64_t{width} * count + 4 > kInt32IdLimit;
  std::vector<std::vector<std::int32_t>> buckets(kBucketCount);
  std::vector<std::u16string> padded(ids.size());
  for (std::size_t k = 0; k < ids.size(); ++k) {
    buckets[TExternalID::TextBucket(ids[k])].push_back(static_cast<std::int32_t>(k) + 1);
    padded[k] = ids[k];
    padded[k].resize(static_cast<std::size_t>(width), u' ');
  }
  // Buckets are searched by comparing padded ids code unit by code unit.
  SortBuckets(buckets, [&](std::int32_t link) -> const std::u16string& {
    return padded[static_cast<std::size_t>(link) - 1];
  });
  try {
    WriteFile(fDirectory + kIndex1File, [&](TKVStream& out) {
      out.WriteInt32(width + (offsets64 ? 256 : 0));
      std::vector<std::uint8_t> bytes(2 * static_cast<std::size_t>(width));
      for (const std::u16string& text : padded) {
        for (std::size_t c = 0; c < text.size(); ++c) {
          bytes[2 * c] = static_cast<std::uint8_t>(text[c] & 0xFF);
          bytes[2 * c + 1] = static_cast<std::uint8_t>(text[c] >> 8);
        }
        out.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      }
      WriteIndex2(buckets, offsets64, from);
    });
  } catch (const TCancelledRun&) {
  }
  ProgressExecuteZero();
}

void TImportAttributes::ExecuteExternalIDint(std::int32_t fieldindex, const std::string& fieldname,
                                             TFileKind fk, bool useint64) {
  const TNetworkInfo info = StartRun();
  CheckFilesAdded();
  TFieldSource source(ffiles, fk, FCodePageCSV, FCodePageDbf, fieldindex, fieldname);
  std::vector<std::int64_t> ids;
  const bool complete = ReadColumn(source, info.linkCount, 80, ids, [&] {
    const std::int64_t value = source.Integer();
    return useint64 ? value : std::clamp(value, -kInt32IdLimit, kInt32IdLimit);
  });
  if (complete) WriteIntegerIndex(ids, useint64, 80);
}

void TImportAttributes::ExecuteExternalIDintEvent(bool useint64) {
  if (!OnReadExternalIDInt) return;
  const TNetworkInfo info = StartRun();
  std::vector<std::int64_t> ids = AskEvent<std::int64_t>(OnReadExternalIDInt, info.linkCount);
  if (!useint64) {
    for (std::int64_t& value : ids)
      value = std::clamp(value, -kInt32IdLimit, kInt32IdLimit);
  }
  WriteIntegerIndex(ids, useint64, 0);
}

void TImportAttributes::ExecuteExternalIDstring(std::int32_t fieldindex,
                                                const std::string& fieldname, TFileKind fk) {
  const TNetworkInfo info = StartRun();
  CheckFilesAdded();
  TFieldSource source(ffiles, fk, FCodePageCSV, FCodePageDbf, fieldindex, fieldname);
  std::vector<std::u16string> ids;
  std::size_t longest = 0;
  const bool complete = ReadColumn(source, info.linkCount, 80, ids, [&] {
    std::u16string id = Utf8ToUtf16(Trim(source.Text()));
    longest = std::max(longest, id.size());
    return id;
  });
  if (!complete) return;
  const std::int64_t width = std::max<std::int64_t>(
      1, fk == fkDBF ? source.DeclaredWidth() : static_cast<std::int64_t>(longest));
  if (width > kMaxTextIdWidth) {
    throw EOutOfRange(Format("External IDs of %d characters are wider than the index allows (%d)",
                             width, kMaxTextIdWidth));
  }
  for (std::u16string& id : ids)
    CutTextId(id, static_cast<std::int32_t>(width));
  WriteTextIndex(ids, static_cast<std::int32_t>(width), 80);
}

void TImportAttributes::ExecuteExternalIDStringEvent(std::int32_t width) {
  if (!OnReadExternalIDString) return;
  if (width < 1 || width > kMaxTextIdWidth) {
    throw EOutOfRange(Format("External ID width should be 1..%d, not %d", kMaxTextIdWidth, width));
  }
  const TNetworkInfo info = StartRun();
  const std::vector<std::string> texts =
      AskEvent<std::string>(OnReadExternalIDString, info.linkCount);
  std::vector<std::u16string> ids;
  ids.reserve(texts.size());
  for (const std::string& text : texts) {
    ids.push_back(Utf8ToUtf16(Trim(text)));
    CutTextId(ids.back(), width);
  }
  WriteTextIndex(ids, width, 0);
}

}  // namespace kvnet
