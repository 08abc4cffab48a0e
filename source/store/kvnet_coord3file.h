// TCoord3File reads the shape points (interior vertices) of every link from coord3.bin and its
// index coord3i.bin. The index (4 bytes per link) is always held in memory and checked when the
// file opens; the points are either decoded into memory once (cached) or read per request with
// exact positional reads. Uncached reads from files are safe from several threads; reads from
// caller-owned streams are serialised by a lock that clones share.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/kvnet_filebase.h"
#include "foundation/kvnet_types.h"
#include "store/kvnet_encryption.h"

namespace kvnet {

class TKVStream;
class TKVFileStream;

inline constexpr std::int32_t kMaxShapePoints = 65533;

class TCoord3File : public TFileBase {
 public:
  TCoord3File();
  // Opens on two caller-owned streams holding coord3.bin and coord3i.bin from position 0; both
  // must be given, else the object stays closed.
  TCoord3File(bool cache, std::int64_t encKey, TKVStream* coord3stream, TKVStream* coord3istream);
  ~TCoord3File() override;
  TCoord3File(const TCoord3File&) = delete;
  TCoord3File& operator=(const TCoord3File&) = delete;

  // Opens coord3.bin and coord3i.bin of Directory() with EncryptionKey(); nothing happens when
  // already open. Raises EFileMissing "<path> is missing" for a missing file and Exception for
  // an index that does not fit the point file.
  void Open(bool cache);
  void Close();
  void Clone(TCoord3File& v) const;

  // Record recID (link number - 1): sets list.Count to n + 2 and fills positions 1..n with the
  // shape points; positions 0 and n + 1 are left for the end nodes.
  void ReadSection(std::int32_t recID, TFloatPointArrayEx& list) const;
  // The shape points of a record in the cache (n of them), or nullptr when not cached.
  const TFloatPoint* CachedPoints(std::int32_t recID, std::int32_t& n) const {
    CheckRecord(recID);
    const std::uint32_t first = FIndex[static_cast<std::size_t>(recID)];
    n = static_cast<std::int32_t>(FIndex[static_cast<std::size_t>(recID) + 1] - first);
    return FCached ? FPoints.data() + first : nullptr;
  }
  // n + 2 for a record with n shape points.
  std::int32_t GetCount(std::int32_t recID) const;
  // Shape point index (0-based) of a record.
  void GetCoord(std::int32_t recID, std::uint16_t index, double& x, double& y) const;

  void LoadIntoCache();
  bool Cached() const { return FCached; }
  std::int32_t Count() const { return FCount; }
  // Bytes held in memory (index and cached points).
  std::int64_t MemoryUsage() const {
    return static_cast<std::int64_t>(FIndex.capacity() * sizeof(std::uint32_t) +
                                     FPoints.capacity() * sizeof(TFloatPoint));
  }

 private:
  void CheckRecord(std::int32_t recID) const;
  void ReadIndex();
  // Reads and deciphers the points first..first+count-1 into out.
  void ReadPoints(std::int64_t first, std::int64_t count, TFloatPoint* out) const;
  void ReleaseStreams();

  std::int32_t FCount = 0;
  bool FCached = false;
  std::vector<std::uint32_t> FIndex;  // Count + 1 entries
  std::vector<TFloatPoint> FPoints;   // all points, when cached
  std::unique_ptr<TKVFileStream> FFile3;
  std::unique_ptr<TKVFileStream> FFile3i;
  TKVStream* FStream3 = nullptr;  // caller-owned alternatives
  TKVStream* FStream3i = nullptr;
  std::shared_ptr<std::mutex> FStreamLock;
  std::unique_ptr<T32EncryptionArray> FCipher;
};

}  // namespace kvnet
