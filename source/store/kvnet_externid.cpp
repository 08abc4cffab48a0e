#include "store/kvnet_externid.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_inifile.h"
#include "foundation/kvnet_io.h"
#include "foundation/kvnet_unicode.h"

namespace kvnet {

namespace {

constexpr char kIndex1File[] = "index1.bin";
constexpr char kIndex2File[] = "index2.bin";
// The writer always uses 256 buckets, and the hash of text ids is defined modulo 256, so no other
// bucket count can describe a usable index.
constexpr std::int32_t kBucketCount = 256;
// Files at least this large are read from disk even when caching is asked for.
constexpr std::int64_t kCacheLimit = 2147483637;
constexpr std::int32_t kHeaderInt64 = -1;

[[noreturn]] void RaiseCorrupt(const std::string& file, const std::string& detail) {
  throw Exception(Format("External id index %s is corrupt: %s", file, detail));
}

std::uint32_t GetUInt32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int32_t GetInt32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(GetUInt32(p));
}

// UTF-16 code unit k of a little-endian text.
char16_t GetUnit(const std::uint8_t* text, std::size_t k) {
  return static_cast<char16_t>(text[2 * k] | text[2 * k + 1] << 8);
}

std::int64_t GetInt64(const std::uint8_t* p) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(GetUInt32(p)) |
                                   static_cast<std::uint64_t>(GetUInt32(p + 4)) << 32);
}

}  // namespace

// One of the two files: held in memory, read by pread from a file of our own, or read from a
// caller's stream under the owner's mutex. Positions are relative to the start of the index data.
class TExternalID::TIndexFile {
 public:
  static std::unique_ptr<TIndexFile> OpenPath(const std::string& path, bool cache) {
    auto f = std::make_unique<TIndexFile>();
    f->FName = path;
    f->FFile = std::make_unique<TKVFileStream>(path, fmOpenRead | fmShareDenyWrite);
    f->FSize = f->FFile->Size();
    if (cache && f->FSize < kCacheLimit) {
      f->Load(*f->FFile);
      f->FFile.reset();
    }
    return f;
  }

  // The data starts at position base of the stream.
  static std::unique_ptr<TIndexFile> OpenStream(TKVStream& stream, std::int64_t base,
                                                const char* defaultName, bool cache,
                                                std::mutex& crit) {
    auto f = std::make_unique<TIndexFile>();
    const auto* file = dynamic_cast<const TKVFileStream*>(&stream);
    f->FName = file != nullptr ? file->FileName() : Format("%s (stream)", defaultName);
    f->FBase = base;
    const std::int64_t size = stream.Size();
    if (base < 0 || size < base) RaiseCorrupt(f->FName, "the stream position is invalid");
    f->FSize = size - base;
    if (cache && f->FSize < kCacheLimit) {
      if (stream.Seek(base, soBeginning) != base) throw EReadError("Stream read error");
      f->Load(stream);
    } else {
      f->FStream = &stream;
      f->FCrit = &crit;
    }
    return f;
  }

  const std::string& Name() const { return FName; }
  std::int64_t Size() const { return FSize; }

  // Reads exactly count bytes at pos; a range outside the file raises the corrupt-index error.
  void ReadAt(std::int64_t pos, void* buffer, std::int32_t count) const {
    CheckRange(pos, count);
    if (FCached) {
      std::memcpy(buffer, FCache.data() + pos, static_cast<std::size_t>(count));
    } else if (FFile) {
      ReadFile(pos, static_cast<std::uint8_t*>(buffer), count);
    } else {
      const std::lock_guard<std::mutex> lock(*FCrit);
      if (FStream->Seek(FBase + pos, soBeginning) != FBase + pos) {
        throw EReadError("Stream read error");
      }
      FStream->ReadBuffer(buffer, count);
    }
  }

  // The count bytes at pos: in place when the file is cached, else read into buffer.
  const std::uint8_t* BytesAt(std::int64_t pos, std::uint8_t* buffer, std::int32_t count) const {
    if (FCached) {
      CheckRange(pos, count);
      return FCache.data() + pos;
    }
    ReadAt(pos, buffer, count);
    return buffer;
  }

 private:
  void CheckRange(std::int64_t pos, std::int32_t count) const {
    if (pos < 0 || count < 0 || pos > FSize - count) {
      RaiseCorrupt(FName,
                   Format("a read of %d bytes at %d passes the end of the file", count, pos));
    }
  }

  void Load(TKVStream& stream) {
    FCache.resize(static_cast<std::size_t>(FSize));
    stream.ReadBuffer(FCache.data(), FSize);
    FCached = true;
  }

  // Positional reads share no file offset, so concurrent lookups need no lock.
  void ReadFile(std::int64_t pos, std::uint8_t* buffer, std::int32_t count) const {
    while (count > 0) {
      const ssize_t got = ::pread(FFile->Handle(), buffer, static_cast<std::size_t>(count), pos);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw EReadError("Stream read error");
      if (got == 0) RaiseCorrupt(FName, "the file became shorter after it was opened");
      buffer += got;
      pos += got;
      count -= static_cast<std::int32_t>(got);
    }
  }

  std::string FName;
  std::int64_t FSize = 0;
  bool FCached = false;
  std::vector<std::uint8_t> FCache;
  std::unique_ptr<TKVFileStream> FFile;
  TKVStream* FStream = nullptr;
  std::int64_t FBase = 0;  // stream position where the file's data starts
  std::mutex* FCrit = nullptr;
};

TExternalID::TExternalID() = default;

TExternalID::TExternalID(TKVStream* stream1, TKVStream* stream2)
    : FCallerStream1(stream1), FCallerStream2(stream2) {
  if (stream1 == nullptr || stream2 == nullptr) {
    throw EInvalidParameter("Both external id streams must be given");
  }
  FCallerBase1 = stream1->Position();
  FCallerBase2 = stream2->Position();
}

TExternalID::~TExternalID() = default;

void TExternalID::Open(bool cache1, bool cache2) {
  Close();
  std::unique_ptr<TIndexFile> file1;
  std::unique_ptr<TIndexFile> file2;
  if (FCallerStream1 != nullptr) {
    file1 = TIndexFile::OpenStream(*FCallerStream1, FCallerBase1, kIndex1File, cache1, Crit);
    file2 = TIndexFile::OpenStream(*FCallerStream2, FCallerBase2, kIndex2File, cache2, Crit);
  } else {
    const std::string path1 = Directory() + kIndex1File;
    const std::string path2 = Directory() + kIndex2File;
    for (const std::string* path : {&path1, &path2}) {
      std::error_code ec;
      if (!std::filesystem::exists(*path, ec)) {
        throw EFileMissing(Format("File is missing: %s", *path));
      }
    }
    file1 = TIndexFile::OpenPath(path1, cache1);
    file2 = TIndexFile::OpenPath(path2, cache2);
  }

  // index1.bin: the header tells the kind of ids and, for text ids, the offset width.
  if (file1->Size() < 4) RaiseCorrupt(file1->Name(), "the header is cut short");
  std::uint8_t header[4];
  file1->ReadAt(0, header, 4);
  std::int32_t stringlength = 0;
  std::int64_t idWidth = 4;
  std::int64_t offsetWidth = 4;
  const std::int32_t headerValue = GetInt32(header);
  if (headerValue == kHeaderInt64) {
    stringlength = 255;
    idWidth = 8;
  } else if (headerValue != 0) {
    if (header[0] < 1 || header[0] > 254 || header[1] > 1 || header[2] != 0 || header[3] != 0) {
      RaiseCorrupt(file1->Name(), Format("the header %x names no kind of id", headerValue));
    }
    stringlength = header[0];
    idWidth = 2 * static_cast<std::int64_t>(stringlength);
    offsetWidth = header[1] == 1 ? 8 : 4;
  }
  if ((file1->Size() - 4) % idWidth != 0) {
    RaiseCorrupt(file1->Name(), Format("its size does not hold whole ids of %d bytes", idWidth));
  }
  const std::int64_t idCount = (file1->Size() - 4) / idWidth;

  // index2.bin: bucket count, then offsets that start after the table, never fall, stay inside
  // the file and cut it into whole link numbers.
  if (file2->Size() < 4) RaiseCorrupt(file2->Name(), "the bucket count is cut short");
  std::uint8_t countBytes[4];
  file2->ReadAt(0, countBytes, 4);
  const std::int32_t bucketCount = GetInt32(countBytes);
  if (bucketCount != kBucketCount) {
    RaiseCorrupt(file2->Name(),
                 Format("it has %d buckets, expected %d", bucketCount, kBucketCount));
  }
  const std::int64_t tableEnd = 4 + bucketCount * offsetWidth;
  const std::int64_t size2 = file2->Size();
  if (size2 < tableEnd) RaiseCorrupt(file2->Name(), "the offset table is cut short");
  std::vector<std::uint8_t> table(static_cast<std::size_t>(tableEnd - 4));
  file2->ReadAt(4, table.data(), static_cast<std::int32_t>(table.size()));
  std::vector<std::int64_t> positions(static_cast<std::size_t>(bucketCount) + 1);
  std::int64_t previous = tableEnd;
  for (std::int32_t b = 0; b < bucketCount; ++b) {
    const std::uint8_t* p = table.data() + b * offsetWidth;
    const std::int64_t offset = offsetWidth == 8 ? GetInt64(p) : GetInt32(p);
    if (b == 0 && offset != tableEnd) {
      RaiseCorrupt(file2->Name(), Format("bucket 0 starts at %d, not after the offset table (%d)",
                                         offset, tableEnd));
    }
    if (offset < previous) {
      RaiseCorrupt(file2->Name(), Format("bucket %d starts at %d, before bucket %d (%d)", b, offset,
                                         b - 1, previous));
    }
    if (offset > size2) {
      RaiseCorrupt(file2->Name(), Format("bucket %d starts at %d, beyond the end of the file (%d)",
                                         b, offset, size2));
    }
    if ((offset - tableEnd) % 4 != 0) {
      RaiseCorrupt(file2->Name(), Format("bucket %d starts inside a link number", b));
    }
    positions[static_cast<std::size_t>(b)] = offset / 4;
    previous = offset;
  }
  if ((size2 - tableEnd) % 4 != 0) {
    RaiseCorrupt(file2->Name(), "the last bucket does not end on a whole link number");
  }
  positions[static_cast<std::size_t>(bucketCount)] = size2 / 4;
  const std::int64_t linkCount = (size2 - tableEnd) / 4;
  if (linkCount != idCount) {
    RaiseCorrupt(file2->Name(), Format("it holds %d link numbers but %s holds %d ids", linkCount,
                                       file1->Name(), idCount));
  }
  if (linkCount > INT32_MAX) {
    RaiseCorrupt(file2->Name(), Format("%d links are more than a network can hold", linkCount));
  }

  fStream1 = std::move(file1);
  fStream2 = std::move(file2);
  fPositions = std::move(positions);
  fNumRecords = bucketCount;
  fMaxIndex = static_cast<std::int32_t>(linkCount);
  fStringlength = stringlength;
  fIsOpen = true;
}

void TExternalID::Close() {
  fStream1.reset();
  fStream2.reset();
  fPositions.clear();
  fNumRecords = 0;
  fMaxIndex = 0;
  fStringlength = 0;
  fIsOpen = false;
}

void TExternalID::CheckIsOpen() const {
  if (!fIsOpen) throw Exception("External ID is not open");
}

std::int32_t TExternalID::LinkAt(std::int64_t word, std::int32_t bucket) const {
  std::uint8_t bytes[4];
  fStream2->ReadAt(word * 4, bytes, 4);
  const std::int32_t link = GetInt32(bytes);
  if (link < 1 || link > fMaxIndex) {
    RaiseCorrupt(fStream2->Name(),
                 Format("bucket %d holds link number %d, outside 1..%d", bucket, link, fMaxIndex));
  }
  return link;
}

std::int64_t TExternalID::IntegerID(std::int32_t link) const {
  std::uint8_t bytes[8];
  if (fStringlength == 0) {
    fStream1->ReadAt(4 + 4 * static_cast<std::int64_t>(link - 1), bytes, 4);
    return GetInt32(bytes);
  }
  fStream1->ReadAt(4 + 8 * static_cast<std::int64_t>(link - 1), bytes, 8);
  return GetInt64(bytes);
}

const std::uint8_t* TExternalID::TextIDBytes(std::int32_t link, std::uint8_t* buffer) const {
  const std::int64_t width = fStringlength;
  return fStream1->BytesAt(4 + 2 * width * (link - 1), buffer,
                           static_cast<std::int32_t>(2 * width));
}

std::u16string TExternalID::TextID(std::int32_t link) const {
  std::uint8_t buffer[2 * 254];
  const std::uint8_t* bytes = TextIDBytes(link, buffer);
  std::u16string id(static_cast<std::size_t>(fStringlength), u' ');
  for (std::size_t k = 0; k < id.size(); ++k)
    id[k] = GetUnit(bytes, k);
  return id;
}

int TExternalID::CompareTextID(std::int32_t link, const std::u16string& padded) const {
  std::uint8_t buffer[2 * 254];
  const std::uint8_t* bytes = TextIDBytes(link, buffer);
  for (std::size_t k = 0; k < padded.size(); ++k) {
    const char16_t unit = GetUnit(bytes, k);
    if (unit != padded[k]) return unit < padded[k] ? -1 : 1;
  }
  return 0;
}

std::uint32_t TExternalID::TextBucket(std::u16string_view id) {
  std::uint32_t h = 0;
  for (const char16_t c : id)
    h = (c + 17 * h) & 255U;
  return h;
}

bool TExternalID::FindIndex(const std::string& externalid, std::int32_t& iindex) const {
  CheckIsOpen();
  iindex = 0;
  // Binary search in one bucket; compare(link) orders the stored id of link against the query.
  const auto search = [&](std::int32_t bucket, const auto& compare) {
    std::int64_t lo = fPositions[static_cast<std::size_t>(bucket)];
    std::int64_t hi = fPositions[static_cast<std::size_t>(bucket) + 1] - 1;
    while (lo <= hi) {
      const std::int64_t mid = lo + (hi - lo) / 2;
      const std::int32_t link = LinkAt(mid, bucket);
      const int order = compare(link);
      if (order == 0) {
        iindex = link;
        return true;
      }
      if (order < 0) {
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
    return false;
  };

  if (fStringlength == 0 || fStringlength == 255) {
    std::int64_t value = 0;
    if (!TryParseInt64(externalid, value) ||
        (fStringlength == 0 && (value < INT32_MIN || value > INT32_MAX))) {
      throw Exception(Format("'%s' is not a valid integer value", externalid));
    }
    const auto bucket = static_cast<std::int32_t>(static_cast<std::uint64_t>(value) &
                                                  static_cast<std::uint64_t>(fNumRecords - 1));
    return search(bucket, [&](std::int32_t link) {
      const std::int64_t stored = IntegerID(link);
      return stored < value ? -1 : (stored > value ? 1 : 0);
    });
  }

  // Text ids: hash over the trimmed query, then compare padded ids code unit by code unit.
  std::u16string query = Utf8ToUtf16(Trim(externalid));
  if (query.size() > static_cast<std::size_t>(fStringlength)) return false;  // no stored id fits
  const std::uint32_t h = TextBucket(query);
  query.resize(static_cast<std::size_t>(fStringlength), u' ');
  const auto bucket = static_cast<std::int32_t>(h & static_cast<std::uint32_t>(fNumRecords - 1));
  return search(bucket, [&](std::int32_t link) { return CompareTextID(link, query); });
}

std::string TExternalID::FindExternalid(std::int32_t iindex) const {
  CheckIsOpen();
  if (iindex < 1 || iindex > fMaxIndex) {
    throw EOutOfRange(Format("Index should be from 1 to %d (is %d)", fMaxIndex, iindex));
  }
  if (fStringlength == 0 || fStringlength == 255) return Format("%d", IntegerID(iindex));
  return Trim(Utf16ToUtf8(TextID(iindex)));
}

void TExternalID::CheckAgainst(std::int32_t linkCount) const {
  CheckIsOpen();
  if (fMaxIndex != linkCount) {
    RaiseCorrupt(fStream1->Name(),
                 Format("it holds ids of %d links, the network has %d", fMaxIndex, linkCount));
  }
}

}  // namespace kvnet
