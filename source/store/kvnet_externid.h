// TExternalID: reader of the external-id index of a network, the pair index1.bin (the id of
// every link, in link order) and index2.bin (256 buckets of link numbers, each sorted by id).
// It finds the link of an id and the id of a link. The files come from Directory() or from two
// caller-owned streams, whose data starts at the positions they have when the index is created;
// each file is either cached in memory or read per lookup.
//
// Thread rules: Open and Close are for one thread. Once open, FindIndex and FindExternalid may be
// called from any number of threads: cached files are only read in memory, uncached files by
// positional reads (pread) that share no file position, and caller streams under the object's
// mutex around each seek and read.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kvnet_filebase.h"

namespace kvnet {

class TKVStream;

class TExternalID : public TFileBase {
 public:
  // Reads index1.bin and index2.bin from Directory().
  TExternalID();
  // Reads the two files from the given streams, starting at their current positions (also for
  // every later Open). The streams stay owned by the caller and must outlive the open index.
  // Raises EInvalidParameter when either is nullptr.
  TExternalID(TKVStream* stream1, TKVStream* stream2);
  ~TExternalID() override;
  TExternalID(const TExternalID&) = delete;
  TExternalID& operator=(const TExternalID&) = delete;

  // Closes first when open. A file is held in memory when its cache flag is set and it is smaller
  // than 2,147,483,637 bytes. Raises EFileMissing "File is missing: %s" for a missing file and
  // Exception "External id index <file> is corrupt: ..." for files that do not form an index;
  // the index stays closed then.
  void Open(bool cache1, bool cache2);
  void Close();

  // The link whose id equals externalid (trimmed; parsed as an integer for integer ids); false
  // and iindex 0 when there is none. For integer ids a text that is no integer of the id's width
  // raises Exception "'%s' is not a valid integer value".
  bool FindIndex(const std::string& externalid, std::int32_t& iindex) const;
  // The id of link iindex as text (decimal for integer ids, trimmed for text ids). Raises
  // EOutOfRange "Index should be from 1 to %d (is %d)" outside 1..MaxIndex.
  std::string FindExternalid(std::int32_t iindex) const;

  // The bucket of a text id: a hash over its stored (trimmed) characters, 0..255.
  static std::uint32_t TextBucket(std::u16string_view id);

  // 0 for int32 ids, 255 for int64 ids, else the width of text ids in UTF-16 code units.
  std::int32_t Stringlength() const { return fStringlength; }
  // Number of links in the index.
  std::int32_t MaxIndex() const { return fMaxIndex; }

  // Raises the corrupt-index Exception when the index does not hold exactly linkCount links.
  void CheckAgainst(std::int32_t linkCount) const;

 private:
  class TIndexFile;

  void CheckIsOpen() const;
  // Link number stored at word position `word` of index2.bin, checked to lie in 1..MaxIndex.
  std::int32_t LinkAt(std::int64_t word, std::int32_t bucket) const;
  std::int64_t IntegerID(std::int32_t link) const;
  std::u16string TextID(std::int32_t link) const;
  // The 2 x Stringlength() bytes of link's text id, in place or read into buffer.
  const std::uint8_t* TextIDBytes(std::int32_t link, std::uint8_t* buffer) const;
  // Orders link's stored id against a query padded to the id width, unit by unit.
  int CompareTextID(std::int32_t link, const std::u16string& padded) const;

  TKVStream* FCallerStream1 = nullptr;
  TKVStream* FCallerStream2 = nullptr;
  std::int64_t FCallerBase1 = 0;
  std::int64_t FCallerBase2 = 0;
  std::unique_ptr<TIndexFile> fStream1;  // index1.bin
  std::unique_ptr<TIndexFile> fStream2;  // index2.bin
  // Word (4-byte) position in index2.bin where each bucket starts, plus the end of the file.
  std::vector<std::int64_t> fPositions;
  std::int32_t fNumRecords = 0;  // number of buckets
  std::int32_t fMaxIndex = 0;
  std::int32_t fStringlength = 0;
  mutable std::mutex Crit;  // serialises seek-and-read on caller streams
};

}  // namespace kvnet
