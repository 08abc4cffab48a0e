#include "store/kvnet_roadnamefile.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <functional>
#include <system_error>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_unicode.h"
#include "gisin/kvnet_csvfiles.h"
#include "gisin/kvnet_dbffiles.h"

namespace kvnet {

namespace {

// ---- Case folding

// Simple case folding (one code unit to one code unit), for the blocks road names are written in:
// ASCII, Latin-1 Supplement, Latin Extended-A and -B, Greek and Coptic, Cyrillic with the Cyrillic
// Supplement (U+0400..U+052F) and Latin Extended Additional, which holds the Vietnamese letters.
// Upper- and title-case letters fold to lower case; a few lower-case variants fold as well (long
// s to s, final sigma to sigma, the Greek symbol forms, the micro sign to mu). Letters whose
// folding takes several characters (sharp s, dotted capital I, n preceded by apostrophe) stay as
// they are. Code units outside these blocks are not folded; the table is fixed because the order
// of the names is part of the file format.
//
// A run maps first, first + step, ... up to last to target, target + step, ...
struct TFoldRun {
  char16_t first;
  char16_t last;
  std::uint8_t step;
  char16_t target;
};

constexpr TFoldRun kFoldRuns[] = {
    // ASCII
    {0x0041, 0x005A, 1, 0x0061},
    // Latin-1 Supplement (with the micro sign)
    {0x00B5, 0x00B5, 1, 0x03BC},
    {0x00C0, 0x00D6, 1, 0x00E0},
    {0x00D8, 0x00DE, 1, 0x00F8},
    // Latin Extended-A
    {0x0100, 0x012E, 2, 0x0101},
    {0x0132, 0x0136, 2, 0x0133},
    {0x0139, 0x0147, 2, 0x013A},
    {0x014A, 0x0176, 2, 0x014B},
    {0x0178, 0x0178, 1, 0x00FF},
    {0x0179, 0x017D, 2, 0x017A},
    {0x017F, 0x017F, 1, 0x0073},
    // Latin Extended-B
    {0x0181, 0x0181, 1, 0x0253},
    {0x0182, 0x0184, 2, 0x0183},
    {0x0186, 0x0186, 1, 0x0254},
    {0x0187, 0x0187, 1, 0x0188},
    {0x0189, 0x018A, 1, 0x0256},
    {0x018B, 0x018B, 1, 0x018C},
    {0x018E, 0x018E, 1, 0x01DD},
    {0x018F, 0x018F, 1, 0x0259},
    {0x0190, 0x0190, 1, 0x025B},
    {0x0191, 0x0191, 1, 0x0192},
    {0x0193, 0x0193, 1, 0x0260},
    {0x0194, 0x0194, 1, 0x0263},
    {0x0196, 0x0196, 1, 0x0269},
    {0x0197, 0x0197, 1, 0x0268},
    {0x0198, 0x0198, 1, 0x0199},
    {0x019C, 0x019C, 1, 0x026F},
    {0x019D, 0x019D, 1, 0x0272},
    {0x019F, 0x019F, 1, 0x0275},
    {0x01A0, 0x01A4, 2, 0x01A1},
    {0x01A6, 0x01A6, 1, 0x0280},
    {0x01A7, 0x01A7, 1, 0x01A8},
    {0x01A9, 0x01A9, 1, 0x0283},
    {0x01AC, 0x01AC, 1, 0x01AD},
    {0x01AE, 0x01AE, 1, 0x0288},
    {0x01AF, 0x01AF, 1, 0x01B0},
    {0x01B1, 0x01B2, 1, 0x028A},
    {0x01B3, 0x01B5, 2, 0x01B4},
    {0x01B7, 0x01B7, 1, 0x0292},
    {0x01B8, 0x01B8, 1, 0x01B9},
    {0x01BC, 0x01BC, 1, 0x01BD},
    {0x01C4, 0x01C4, 1, 0x01C6},
    {0x01C5, 0x01C5, 1, 0x01C6},
    {0x01C7, 0x01C7, 1, 0x01C9},
    {0x01C8, 0x01C8, 1, 0x01C9},
    {0x01CA, 0x01CA, 1, 0x01CC},
    {0x01CB, 0x01DB, 2, 0x01CC},
    {0x01DE, 0x01EE, 2, 0x01DF},
    {0x01F1, 0x01F1, 1, 0x01F3},
    {0x01F2, 0x01F4, 2, 0x01F3},
    {0x01F6, 0x01F6, 1, 0x0195},
    {0x01F7, 0x01F7, 1, 0x01BF},
    {0x01F8, 0x021E, 2, 0x01F9},
    {0x0220, 0x0220, 1, 0x019E},
    {0x0222, 0x0232, 2, 0x0223},
    {0x023A, 0x023A, 1, 0x2C65},
    {0x023B, 0x023B, 1, 0x023C},
    {0x023D, 0x023D, 1, 0x019A},
    {0x023E, 0x023E, 1, 0x2C66},
    {0x0241, 0x0241, 1, 0x0242},
    {0x0243, 0x0243, 1, 0x0180},
    {0x0244, 0x0244, 1, 0x0289},
    {0x0245, 0x0245, 1, 0x028C},
    {0x0246, 0x024E, 2, 0x0247},
    // Greek and Coptic
    {0x0370, 0x0372, 2, 0x0371},
    {0x0376, 0x0376, 1, 0x0377},
    {0x037F, 0x037F, 1, 0x03F3},
    {0x0386, 0x0386, 1, 0x03AC},
    {0x0388, 0x038A, 1, 0x03AD},
    {0x038C, 0x038C, 1, 0x03CC},
    {0x038E, 0x038F, 1, 0x03CD},
    {0x0391, 0x03A1, 1, 0x03B1},
    {0x03A3, 0x03AB, 1, 0x03C3},
    {0x03C2, 0x03C2, 1, 0x03C3},
    {0x03CF, 0x03CF, 1, 0x03D7},
    {0x03D0, 0x03D0, 1, 0x03B2},
    {0x03D1, 0x03D1, 1, 0x03B8},
    {0x03D5, 0x03D5, 1, 0x03C6},
    {0x03D6, 0x03D6, 1, 0x03C0},
    {0x03D8, 0x03EE, 2, 0x03D9},
    {0x03F0, 0x03F0, 1, 0x03BA},
    {0x03F1, 0x03F1, 1, 0x03C1},
    {0x03F4, 0x03F4, 1, 0x03B8},
    {0x03F5, 0x03F5, 1, 0x03B5},
    {0x03F7, 0x03F7, 1, 0x03F8},
    {0x03F9, 0x03F9, 1, 0x03F2},
    {0x03FA, 0x03FA, 1, 0x03FB},
    {0x03FD, 0x03FF, 1, 0x037B},
    // Cyrillic and Cyrillic Supplement
    {0x0400, 0x040F, 1, 0x0450},
    {0x0410, 0x042F, 1, 0x0430},
    {0x0460, 0x0480, 2, 0x0461},
    {0x048A, 0x04BE, 2, 0x048B},
    {0x04C0, 0x04C0, 1, 0x04CF},
    {0x04C1, 0x04CD, 2, 0x04C2},
    {0x04D0, 0x052E, 2, 0x04D1},
    // Latin Extended Additional (with the capital sharp s)
    {0x1E00, 0x1E94, 2, 0x1E01},
    {0x1E9B, 0x1E9B, 1, 0x1E61},
    {0x1E9E, 0x1E9E, 1, 0x00DF},
    {0x1EA0, 0x1EFE, 2, 0x1EA1},
};

// Every code unit below this has its folded form in the lookup table.
constexpr char16_t kFoldTableEnd = 0x1F00;

constexpr std::array<char16_t, kFoldTableEnd> MakeFoldTable() {
  std::array<char16_t, kFoldTableEnd> table{};
  for (std::size_t c = 0; c < table.size(); ++c)
    table[c] = static_cast<char16_t>(c);
  for (const TFoldRun& run : kFoldRuns) {
    for (unsigned c = run.first, t = run.target; c <= run.last; c += run.step, t += run.step)
      table[c] = static_cast<char16_t>(t);
  }
  return table;
}

constexpr std::array<char16_t, kFoldTableEnd> kFoldTable = MakeFoldTable();

constexpr char16_t FoldCase(char16_t c) {
  return c < kFoldTableEnd ? kFoldTable[c] : c;
}

static_assert(FoldCase(u'Q') == u'q' && FoldCase(u'\u00C4') == u'\u00E4' &&
              FoldCase(u'\u0416') == u'\u0436' && FoldCase(u'\u03C2') == u'\u03C3');

// ---- File helpers

constexpr std::int32_t kMaxFileNumber = 99;
constexpr std::int64_t kScanChunk = 1 << 20;  // bytes per read when scanning an uncached file

[[noreturn]] void RaiseCorrupt(const std::string& file, const std::string& detail) {
  throw Exception(Format("Road-name file %s is corrupt: %s", file, detail));
}

void CheckFileNumber(std::int32_t fileNumber) {
  if (fileNumber < 1 || fileNumber > kMaxFileNumber) {
    throw EOutOfRange(
        Format("Road-name file number should be from 1 to %d, not %d", kMaxFileNumber, fileNumber));
  }
}

std::string FilePath(const std::string& directory, const std::string& name) {
  return (std::filesystem::path(directory) / name).string();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

void RemoveFiles(const std::string& a, const std::string& b) {
  std::error_code ec;
  std::filesystem::remove(a, ec);
  std::filesystem::remove(b, ec);
}

void CheckInputFiles(const std::vector<std::string>& files) {
  if (files.empty() || !std::all_of(files.begin(), files.end(), FileExists)) {
    throw EFileMissing("Cannot find input file to import.");
  }
}

// Reads exactly count bytes at pos. Positional reads share no file offset, so readers on several
// threads need no lock.
void ReadAt(const TKVFileStream& file, std::int64_t pos, std::uint8_t* buffer, std::int64_t count) {
  while (count > 0) {
    const ssize_t got = ::pread(file.Handle(), buffer, static_cast<std::size_t>(count), pos);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw EReadError("Stream read error");
    if (got == 0) RaiseCorrupt(file.FileName(), "the file became shorter after it was opened");
    buffer += got;
    pos += got;
    count -= got;
  }
}

// A record of recordSize bytes as UTF-16LE, without the zero code units that pad it.
std::u16string DecodeRecord(const std::uint8_t* bytes, std::int32_t recordSize) {
  std::u16string name(static_cast<std::size_t>(recordSize / 2), u'\0');
  for (std::size_t k = 0; k < name.size(); ++k)
    name[k] = static_cast<char16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
  name.erase(name.find_last_not_of(u'\0') + 1);
  return name;
}

std::int32_t Utf8NameLength(const std::u16string& record) {
  return static_cast<std::int32_t>(Trim(Utf16ToUtf8(record)).size());
}

}  // namespace

// ---- Name order

int CompareRoadNames(const std::u16string& a, const std::u16string& b, bool ignoreCase) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t caseDiff = n;  // first position where only the case differs
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const char16_t fa = FoldCase(a[i]);
    const char16_t fb = FoldCase(b[i]);
    if (fa != fb) return fa < fb ? -1 : 1;
    if (caseDiff == n) caseDiff = i;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (ignoreCase || caseDiff == n) return 0;
  // Equal without case: at the first difference a code unit in its folded (lower-case) form goes
  // first; two that both fold to a third go by code unit.
  const char16_t ca = a[caseDiff];
  const char16_t cb = b[caseDiff];
  const bool lowerA = FoldCase(ca) == ca;
  const bool lowerB = FoldCase(cb) == cb;
  if (lowerA != lowerB) return lowerA ? -1 : 1;
  return ca < cb ? -1 : 1;
}

std::u16string RoadNameKey(std::string_view name) {
  const std::string trimmed = Trim(name);
  return trimmed.empty() ? std::u16string(u" ") : Utf8ToUtf16(trimmed);
}

std::string RoadNameFileName(std::int32_t fileNumber) {
  CheckFileNumber(fileNumber);
  return Format("roadname%.2d.bin", fileNumber);
}

std::string RoadNumberFileName(std::int32_t fileNumber) {
  CheckFileNumber(fileNumber);
  return Format("roadnumber%.2d.bin", fileNumber);
}

// ---- TStringTree

void TStringTree::Add(const std::u16string& aItem) {
  // A record of 2 * fMaxLength bytes must stay addressable by an int32.
  if (aItem.size() > INT32_MAX / 2) {
    throw EOutOfRange(Format("A road name of %d characters is too long", aItem.size()));
  }
  TBalancedTree<std::u16string>::Add(aItem);
  fMaxLength = std::max(fMaxLength, static_cast<std::int32_t>(aItem.size()));
  fNumbered = false;
}

void TStringTree::CreateID() {
  TBalancedTree<std::u16string>::CreateID();
  fNumbered = true;
}

void TStringTree::Write(TKVStream& outdata) const {
  std::vector<std::uint8_t> record(2 * static_cast<std::size_t>(fMaxLength));
  std::vector<std::int32_t> path;  // ancestors whose key comes after their left subtree
  std::int32_t p = Root();
  while (p != 0 || !path.empty()) {
    for (; p != 0; p = Node(p).left)
      path.push_back(p);
    p = path.back();
    path.pop_back();
    const std::u16string& key = Node(p).key;
    std::fill(record.begin(), record.end(), std::uint8_t{0});
    for (std::size_t k = 0; k < key.size(); ++k) {
      record[2 * k] = static_cast<std::uint8_t>(key[k] & 0xFF);
      record[2 * k + 1] = static_cast<std::uint8_t>(key[k] >> 8);
    }
    outdata.WriteBuffer(record.data(), static_cast<std::int64_t>(record.size()));
    p = Node(p).right;
  }
}

void TStringTree::WriteKeyID(TKVStream& AOutData, const std::u16string& AKey) const {
  if (!fNumbered) throw Exception("TStringTree: the keys were not numbered by CreateID");
  const std::int32_t p = IndexOf(AKey);
  if (p < 0) {
    throw EInvalidParameter(Format("Road name '%s' is not in the tree", Utf16ToUtf8(AKey)));
  }
  const auto number = static_cast<std::uint32_t>(Node(p).id + 1);
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
      static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
  AOutData.WriteBuffer(bytes, 4);
}

// ---- Writing a name set

// The names of the input, one per record, in record order; each pass starts over.
struct TRoadNameFile::TNameSource {
  // Starts a pass at the first record; returns the progress maximum.
  std::function<double()> Start;
  // The next record's name; false after the last record.
  std::function<bool(std::string& name)> Next;
  // The progress so far, in the unit of Start's maximum.
  std::function<double()> Done;
};

TRoadNameFile::TRoadNameFile() = default;

TRoadNameFile::~TRoadNameFile() = default;

void TRoadNameFile::Import1(const std::vector<std::string>& Files, const std::string& Directory,
                            std::uint16_t CodePage, std::int32_t FileNumber,
                            std::int32_t FieldIndex) {
  CheckFileNumber(FileNumber);
  CheckInputFiles(Files);
  if (FieldIndex < 0) throw EInvalidFieldIndex("FieldIndex out of bound");
  std::unique_ptr<TCSVFiles> csv;
  const TNameSource source{[&] {
                             csv = std::make_unique<TCSVFiles>(CodePage);
                             csv->Add(Files);
                             csv->Open();
                             return static_cast<double>(csv->Size());
                           },
                           [&](std::string& name) {
                             if (csv->Eof()) return false;
                             csv->Read(FieldIndex, name);
                             return true;
                           },
                           [&] { return static_cast<double>(csv->Position()); }};
  WriteSet(source, Directory, FileNumber);
}

void TRoadNameFile::Import2(const std::vector<std::string>& Files, const std::string& Directory,
                            std::uint16_t CodePage, std::int32_t FileNumber,
                            std::int32_t FieldIndex, const std::string& FieldName) {
  CheckFileNumber(FileNumber);
  CheckInputFiles(Files);
  TDbfFiles dbf(CodePage);
  dbf.Add(Files);
  dbf.Open();
  if (FieldIndex < -1 || FieldIndex >= dbf.FieldCount()) {
    throw EInvalidFieldIndex("FieldIndex out of bound");
  }
  std::int32_t field = FieldIndex;
  if (!FieldName.empty()) {
    field = dbf.FindField(FieldName);
    if (field < 0) throw EFieldNameNotFound("Field Name not found");
  }
  // -1 stands for "no index" next to a field name; without a name it selects nothing.
  if (field < 0) throw EInvalidFieldIndex("FieldIndex out of bound");
  if (dbf.FieldInfo(field).FieldType != gfChar) throw EInvalidFieldType("Invalid field type");

  const std::int32_t count = dbf.RecordCount();
  std::int32_t record = 0;
  const TNameSource source{[&] {
                             record = 0;
                             return static_cast<double>(count);
                           },
                           [&](std::string& name) {
                             if (record >= count) return false;
                             name = dbf.ReadString(field, ++record);
                             return true;
                           },
                           [&] { return static_cast<double>(record); }};
  WriteSet(source, Directory, FileNumber);
}

void TRoadNameFile::WriteSet(const TNameSource& source, const std::string& Directory,
                             std::int32_t FileNumber) {
  const std::string namePath = FilePath(Directory, RoadNameFileName(FileNumber));
  const std::string numberPath = FilePath(Directory, RoadNumberFileName(FileNumber));
  ResetCancelled();

  // Pass 1: the distinct names. Nothing is written yet, so a cancel here leaves no trace.
  TStringTree tree;
  std::string name;
  std::int64_t records = 0;
  SetProgressStart(0);
  SetProgressStop(40);
  SetProgressMaxValue(source.Start());
  while (source.Next(name)) {
    tree.Add(RoadNameKey(name));
    ++records;
    ProgressExecute(source.Done());
    if (Cancelled()) return;
  }
  tree.CreateID();

  // Pass 2: the names in order, then every record's name number.
  bool complete = false;
  try {
    {
      TKVBufferedStream names(std::make_unique<TKVFileStream>(namePath, fmCreate));
      tree.Write(names);
      names.Flush();
    }
    TKVBufferedStream numbers(std::make_unique<TKVFileStream>(numberPath, fmCreate));
    SetProgressStart(41);
    SetProgressStop(100);
    SetProgressMaxValue(source.Start());
    std::int64_t again = 0;
    while (!Cancelled() && source.Next(name)) {
      tree.WriteKeyID(numbers, RoadNameKey(name));
      ++again;
      ProgressExecute(source.Done());
    }
    if (!Cancelled()) {
      if (again != records) {
        throw Exception(Format("The input changed during the road-name import: %d records, then %d",
                               records, again));
      }
      numbers.Flush();
      complete = true;
    }
  } catch (...) {
    RemoveFiles(namePath, numberPath);
    throw;
  }
  if (!complete) RemoveFiles(namePath, numberPath);
}

// ---- Reading a name set

void TRoadNameFile::Load(const std::string& Directory, bool Cache, std::int64_t StartKey,
                         std::int32_t FileNumber, std::int32_t LinkCount) {
  static_cast<void>(StartKey);  // road-name files are never enciphered
  const std::string numberPath = FilePath(Directory, RoadNumberFileName(FileNumber));
  const std::string namePath = FilePath(Directory, RoadNameFileName(FileNumber));
  for (const std::string* path : {&numberPath, &namePath}) {
    if (!FileExists(*path)) throw EFileMissing(*path + " does not exist");
  }

  // roadnumberNN.bin: one name number per link, each at least 1; the largest is the name count.
  std::vector<std::int32_t> numbers;
  std::int32_t maxID = 0;
  {
    TKVFileStream in(numberPath, fmOpenRead | fmShareDenyWrite);
    const std::int64_t size = in.Size();
    if (size % 4 != 0) {
      RaiseCorrupt(numberPath, Format("its size %d is not a whole number of int32 values", size));
    }
    if (size / 4 != LinkCount) {
      throw EInvalidParameter(
          "LinkCount parameter value and links in the roadname file is different");
    }
    if (LinkCount == 0) RaiseCorrupt(numberPath, "it holds no links");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.ReadBuffer(bytes.data(), size);
    numbers.resize(static_cast<std::size_t>(LinkCount));
    for (std::size_t k = 0; k < numbers.size(); ++k) {
      const std::uint8_t* p = bytes.data() + 4 * k;
      numbers[k] = static_cast<std::int32_t>(
          static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
          static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
      maxID = std::max(maxID, numbers[k]);
    }
    for (std::size_t k = 0; k < numbers.size(); ++k) {
      if (numbers[k] < 1) {
        RaiseCorrupt(numberPath,
                     Format("link %d has name number %d, outside 1..%d", k + 1, numbers[k], maxID));
      }
    }
  }

  // roadnameNN.bin: maxID records of one even size.
  auto file = std::make_unique<TKVFileStream>(namePath, fmOpenRead | fmShareDenyWrite);
  const std::int64_t nameSize = file->Size();
  if (nameSize == 0) RaiseCorrupt(namePath, "it is empty");
  const std::int64_t recordSize = nameSize / maxID;
  if (nameSize % maxID != 0 || recordSize % 2 != 0 || recordSize > INT32_MAX - 1) {
    RaiseCorrupt(namePath, Format("its size %d is not %d records of an even number of bytes",
                                  nameSize, maxID));
  }
  const auto recordBytes = static_cast<std::int32_t>(recordSize);

  // The longest name in UTF-8, reading every record once (from memory when cached).
  std::shared_ptr<std::vector<std::uint8_t>> cache;
  std::int32_t maxUtf8 = 0;
  if (Cache) {
    cache = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(nameSize));
    file->ReadBuffer(cache->data(), nameSize);
    for (std::int64_t pos = 0; pos < nameSize; pos += recordSize) {
      maxUtf8 = std::max(maxUtf8, Utf8NameLength(DecodeRecord(cache->data() + pos, recordBytes)));
    }
    file.reset();
  } else {
    const std::int64_t chunk = std::max<std::int64_t>(1, kScanChunk / recordSize) * recordSize;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(chunk, nameSize)));
    for (std::int64_t start = 0; start < nameSize; start += chunk) {
      const std::int64_t count = std::min(chunk, nameSize - start);
      ReadAt(*file, start, buffer.data(), count);
      for (std::int64_t pos = 0; pos < count; pos += recordSize) {
        maxUtf8 = std::max(maxUtf8, Utf8NameLength(DecodeRecord(buffer.data() + pos, recordBytes)));
      }
    }
  }

  FRoadNumberArray = std::move(numbers);
  FMaxRoadNameID = maxID;
  FMaxRoadNameLength = recordBytes;
  FMaxRoadNameLengthUTF8 = maxUtf8;
  FFileName = namePath;
  FCache = std::move(cache);
  FRoadNameFile = std::move(file);
  FFileNumber = FileNumber;
  FOpen = true;
}

void TRoadNameFile::Close() {
  FOpen = false;
  FRoadNumberArray.clear();
  FRoadNumberArray.shrink_to_fit();
  FMaxRoadNameID = 0;
  FMaxRoadNameLength = 0;
  FMaxRoadNameLengthUTF8 = 0;
  FFileName.clear();
  FCache.reset();
  FRoadNameFile.reset();
}

void TRoadNameFile::Clone(TRoadNameFile& v) const {
  if (&v == this) return;
  v.Close();
  if (!FOpen) return;
  std::unique_ptr<TKVFileStream> file;
  if (!FCache) {
    file = std::make_unique<TKVFileStream>(FFileName, fmOpenRead | fmShareDenyWrite);
    const std::int64_t expected = std::int64_t{FMaxRoadNameID} * FMaxRoadNameLength;
    if (file->Size() != expected) {
      RaiseCorrupt(FFileName, Format("its size changed from %d to %d bytes after it was loaded",
                                     expected, file->Size()));
    }
  }
  v.FRoadNumberArray = FRoadNumberArray;
  v.FMaxRoadNameID = FMaxRoadNameID;
  v.FMaxRoadNameLength = FMaxRoadNameLength;
  v.FMaxRoadNameLengthUTF8 = FMaxRoadNameLengthUTF8;
  v.FFileName = FFileName;
  v.FCache = FCache;
  v.FRoadNameFile = std::move(file);
  v.FFileNumber = FFileNumber;
  v.FOpen = true;
}

void TRoadNameFile::CheckOpen() const {
  if (!FOpen) throw ERoadNameFileNotOpen(Format("Roadnamefile %d is not open", FFileNumber));
}

void TRoadNameFile::CheckLink(std::int32_t LinkID) const {
  CheckOpen();
  const auto linkCount = static_cast<std::int32_t>(FRoadNumberArray.size());
  if (LinkID < 1 || LinkID > linkCount) {
    throw EOutOfRange(Format("LinkID should be from 1 to %d, not %d", linkCount, LinkID));
  }
}

std::u16string TRoadNameFile::ReadRecord(std::int32_t k) const {
  const std::int64_t pos = std::int64_t{k - 1} * FMaxRoadNameLength;
  if (FCache) return DecodeRecord(FCache->data() + pos, FMaxRoadNameLength);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(FMaxRoadNameLength));
  ReadAt(*FRoadNameFile, pos, bytes.data(), FMaxRoadNameLength);
  return DecodeRecord(bytes.data(), FMaxRoadNameLength);
}

std::string TRoadNameFile::RoadName1(std::int32_t LinkID) const {
  return RoadName2(RoadNameID1(LinkID));
}

std::string TRoadNameFile::RoadName2(std::int32_t ARoadNameID) const {
  CheckOpen();
  if (ARoadNameID < 1 || ARoadNameID > FMaxRoadNameID) {
    throw EOutOfRange(
        Format("RoadNameID should be from 1 to %d, not %d", FMaxRoadNameID, ARoadNameID));
  }
  return Trim(Utf16ToUtf8(ReadRecord(ARoadNameID)));
}

std::int32_t TRoadNameFile::RoadNameID1(std::int32_t LinkID) const {
  CheckLink(LinkID);
  return FRoadNumberArray[static_cast<std::size_t>(LinkID - 1)];
}

std::int32_t TRoadNameFile::RoadNameID2(const std::string& roadname, bool ignorecase) const {
  CheckOpen();
  const std::u16string key = RoadNameKey(roadname);
  // The records are in name order, which without case is the order of the folded names; the
  // search goes on to the left after a match so that it ends at the first equal name.
  std::int32_t lo = 1;
  std::int32_t hi = FMaxRoadNameID;
  std::int32_t found = -1;
  while (lo <= hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    const int order = CompareRoadNames(ReadRecord(mid), key, ignorecase);
    if (order < 0) {
      lo = mid + 1;
    } else {
      if (order == 0) {
        found = mid;
        if (!ignorecase) break;
      }
      hi = mid - 1;
    }
  }
  return found;
}

}  // namespace kvnet
