#include "store/kvnet_coord3file.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"

namespace kvnet {

namespace {

constexpr const char* kPointFile = "coord3.bin";
constexpr const char* kIndexFile = "coord3i.bin";

// Exact read at an absolute offset; EReadError when the file ends first.
void PRead(int fd, void* buffer, std::int64_t count, std::int64_t offset) {
  auto* bytes = static_cast<char*>(buffer);
  while (count > 0) {
    const ssize_t got = ::pread(fd, bytes, static_cast<std::size_t>(count), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw EReadError("Stream read error");
    bytes += got;
    count -= got;
    offset += got;
  }
}

}  // namespace

TCoord3File::TCoord3File() = default;

TCoord3File::TCoord3File(bool cache, std::int64_t encKey, TKVStream* coord3stream,
                         TKVStream* coord3istream) {
  if (coord3stream == nullptr || coord3istream == nullptr) return;
  SetEncryptionKey(encKey);
  FStream3 = coord3stream;
  FStream3i = coord3istream;
  FStreamLock = std::make_shared<std::mutex>();
  FCipher = std::make_unique<T32EncryptionArray>(encKey);
  ReadIndex();
  FCached = cache;
  fIsOpen = true;
  if (cache) LoadIntoCache();
}

TCoord3File::~TCoord3File() = default;

void TCoord3File::Open(bool cache) {
  if (fIsOpen) return;
  const std::string pointFile = fDirectory + kPointFile;
  const std::string indexFile = fDirectory + kIndexFile;
  std::error_code ec;
  if (!std::filesystem::exists(pointFile, ec)) throw EFileMissing(pointFile + " is missing");
  if (!std::filesystem::exists(indexFile, ec)) throw EFileMissing(indexFile + " is missing");
  try {
    FCipher = std::make_unique<T32EncryptionArray>(fEncryptionKey);
    FFile3 = std::make_unique<TKVFileStream>(pointFile, fmOpenRead | fmShareDenyWrite);
    FFile3i = std::make_unique<TKVFileStream>(indexFile, fmOpenRead | fmShareDenyWrite);
    ReadIndex();
    FCached = cache;
    fIsOpen = true;
    if (cache) LoadIntoCache();
  } catch (...) {
    Close();
    throw;
  }
}

void TCoord3File::ReadIndex() {
  // The whole index in one read, checked against the size of the point file.
  const std::string indexName = FStream3i ? std::string("coord3i stream") : fDirectory + kIndexFile;
  const std::int64_t indexBytes = FStream3i ? FStream3i->Size() : FFile3i->Size();
  const std::int64_t pointBytes = FStream3 ? FStream3->Size() : FFile3->Size();
  const auto corrupt = [&](const std::string& detail) {
    return Exception(Format("Network file %s is corrupt: %s", indexName, detail));
  };
  if (indexBytes < 4 || indexBytes % 4 != 0 || indexBytes / 4 - 1 > INT32_MAX) {
    throw corrupt(Format("size %d is not 4 bytes per link plus 4", indexBytes));
  }
  if (pointBytes % 16 != 0)
    throw corrupt(Format("point file size %d is not 16 bytes per point", pointBytes));
  FCount = static_cast<std::int32_t>(indexBytes / 4 - 1);
  FIndex.assign(static_cast<std::size_t>(FCount) + 1, 0);
  if (FStream3i) {
    std::lock_guard<std::mutex> lock(*FStreamLock);
    FStream3i->SetPosition(0);
    FStream3i->ReadBuffer(FIndex.data(), indexBytes);
  } else {
    PRead(FFile3i->Handle(), FIndex.data(), indexBytes, 0);
  }
  if (FIndex[0] != 0) throw corrupt("the first entry is not 0");
  for (std::size_t r = 0; r < static_cast<std::size_t>(FCount); ++r) {
    if (FIndex[r + 1] < FIndex[r] || FIndex[r + 1] - FIndex[r] > kMaxShapePoints) {
      throw corrupt(Format("link %d has an invalid number of shape points", r + 1));
    }
  }
  if (static_cast<std::int64_t>(FIndex.back()) * 16 != pointBytes) {
    throw corrupt(
        Format("it counts %d points, the point file holds %d", FIndex.back(), pointBytes / 16));
  }
}

void TCoord3File::ReadPoints(std::int64_t first, std::int64_t count, TFloatPoint* out) const {
  if (count <= 0) return;
  static_assert(sizeof(TFloatPoint) == 16);
  if (FStream3) {
    std::lock_guard<std::mutex> lock(*FStreamLock);
    FStream3->SetPosition(first * 16);
    FStream3->ReadBuffer(out, count * 16);
  } else {
    PRead(FFile3->Handle(), out, count * 16, first * 16);
  }
  for (std::int64_t k = 0; k < count; ++k) {
    TFloatPoint& p = out[k];
    if (FCipher->Key() != 0) {
      std::int64_t bits;
      std::memcpy(&bits, &p.x, 8);
      p.x = FCipher->Decode(bits, 2 * (first + k));
      std::memcpy(&bits, &p.y, 8);
      p.y = FCipher->Decode(bits, 2 * (first + k) + 1);
    }
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
      throw Exception(Format("Network file %s is corrupt: shape point %d is not a number%s",
                             fDirectory + kPointFile, first + k,
                             FCipher->Key() != 0 ? " (wrong encryption key?)" : ""));
    }
  }
}

void TCoord3File::LoadIntoCache() {
  const std::int64_t total = FIndex.empty() ? 0 : FIndex.back();
  FPoints.resize(static_cast<std::size_t>(total));
  SetProgressMaxValue(FCount);
  // Decode in chunks of links so that progress can be reported.
  constexpr std::int32_t kChunk = 1 << 16;
  for (std::int32_t r = 0; r < FCount; r += kChunk) {
    const std::int32_t last = std::min(FCount, r + kChunk);
    const std::int64_t first = FIndex[static_cast<std::size_t>(r)];
    ReadPoints(first, FIndex[static_cast<std::size_t>(last)] - first, FPoints.data() + first);
    ProgressExecute(last);
  }
  FCached = true;
  ReleaseStreams();
}

void TCoord3File::ReleaseStreams() {
  FFile3.reset();
  FFile3i.reset();
  FStream3 = nullptr;
  FStream3i = nullptr;
}

void TCoord3File::Close() {
  ReleaseStreams();
  FCipher.reset();
  FIndex.clear();
  FIndex.shrink_to_fit();
  FPoints.clear();
  FPoints.shrink_to_fit();
  FCount = 0;
  FCached = false;
  fIsOpen = false;
}

void TCoord3File::Clone(TCoord3File& v) const {
  v.Close();
  v.fDirectory = fDirectory;
  v.fEncryptionKey = fEncryptionKey;
  if (!fIsOpen) return;
  v.FCount = FCount;
  v.FCached = FCached;
  v.FIndex = FIndex;
  v.FCipher = std::make_unique<T32EncryptionArray>(fEncryptionKey);
  if (FCached) {
    v.FPoints = FPoints;
  } else if (FStream3) {
    v.FStream3 = FStream3;
    v.FStream3i = FStream3i;
    v.FStreamLock = FStreamLock;  // one stream, one lock
  } else {
    v.FFile3 =
        std::make_unique<TKVFileStream>(fDirectory + kPointFile, fmOpenRead | fmShareDenyWrite);
    v.FFile3i =
        std::make_unique<TKVFileStream>(fDirectory + kIndexFile, fmOpenRead | fmShareDenyWrite);
  }
  v.fIsOpen = true;
}

void TCoord3File::CheckRecord(std::int32_t recID) const {
  if (!fIsOpen) throw Exception("Coord3file is not open");
  if (recID < 0 || recID >= FCount) {
    throw EOutOfRange(Format("Coord3file record %d must be between 0 and %d", recID, FCount - 1));
  }
}

void TCoord3File::ReadSection(std::int32_t recID, TFloatPointArrayEx& list) const {
  CheckRecord(recID);
  const std::int64_t first = FIndex[static_cast<std::size_t>(recID)];
  const std::int64_t n = FIndex[static_cast<std::size_t>(recID) + 1] - first;
  list.Count = static_cast<std::int32_t>(n + 2);
  if (static_cast<std::int64_t>(list.Pnt.size()) < n + 2)
    list.Pnt.resize(static_cast<std::size_t>(n + 2));
  if (FCached) {
    std::copy(FPoints.begin() + first, FPoints.begin() + first + n, list.Pnt.begin() + 1);
  } else {
    ReadPoints(first, n, list.Pnt.data() + 1);
  }
}

std::int32_t TCoord3File::GetCount(std::int32_t recID) const {
  CheckRecord(recID);
  return static_cast<std::int32_t>(FIndex[static_cast<std::size_t>(recID) + 1] -
                                   FIndex[static_cast<std::size_t>(recID)] + 2);
}

void TCoord3File::GetCoord(std::int32_t recID, std::uint16_t index, double& x, double& y) const {
  CheckRecord(recID);
  const std::int64_t first = FIndex[static_cast<std::size_t>(recID)];
  const std::int64_t n = FIndex[static_cast<std::size_t>(recID) + 1] - first;
  if (index > n - 1) {
    throw EOutOfRange(Format("Coord3file.GetCoord index argument %d > %d", index, n - 1));
  }
  TFloatPoint p;
  if (FCached) {
    p = FPoints[static_cast<std::size_t>(first + index)];
  } else {
    ReadPoints(first + index, 1, &p);
  }
  x = p.x;
  y = p.y;
}

}  // namespace kvnet
