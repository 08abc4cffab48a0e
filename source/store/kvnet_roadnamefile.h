// Road-name files: a network can carry up to 99 independent name sets (street names, route
// numbers, ...). Set NN is the pair roadnameNN.bin (the distinct names, sorted, one fixed-size
// UTF-16LE record each) and roadnumberNN.bin (one int32 name number per link, 1-based).
//
// Name order is part of the file format and never depends on the machine: names compare by
// their case-folded UTF-16 code units; names equal in that order put, at the first position
// where they differ, a lower-case letter before an upper-case one; anything still equal compares
// by code units. TStringTree keeps that order; RoadNameID2 searches it with or without case.
//
// Thread rules: Import, Load, Close and cloning into a reader are for one thread. Once loaded, a
// reader's queries may run on any number of threads at once: a cached set is only read in memory,
// an uncached one by positional reads (pread) that share no file position, so no lock is needed.
// Clone gives a thread a reader of its own all the same.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kvnet_basetree.h"
#include "foundation/kvnet_progress.h"

namespace kvnet {

class TKVStream;
class TKVFileStream;

// The order of road names: negative, 0 or positive like strcmp. With ignoreCase only the
// case-folded comparison counts.
int CompareRoadNames(const std::u16string& a, const std::u16string& b, bool ignoreCase = false);

// The key a name is stored and looked up under: the name trimmed (characters up to ' ' removed
// at both ends), an empty name as one space, in UTF-16.
std::u16string RoadNameKey(std::string_view name);

// The distinct names of a set in road-name order, with their longest length.
class TStringTree : public TBalancedTree<std::u16string> {
 public:
  int CompareKeys(const std::u16string& a, const std::u16string& b) const override {
    return CompareRoadNames(a, b);
  }
  void Add(const std::u16string& aItem) override;
  void CreateID() override;
  // Longest key added, in UTF-16 code units.
  std::int32_t MaxLength() const { return fMaxLength; }
  // Every key in order as UTF-16LE, padded with zero bytes to 2 * MaxLength bytes.
  void Write(TKVStream& outdata) const;
  // The int32 name number (1-based) of a key that was added. Raises when CreateID has not numbered
  // the keys since the last Add, or when the key was never added.
  void WriteKeyID(TKVStream& AOutData, const std::u16string& AKey) const;

 private:
  std::int32_t fMaxLength = 0;
  bool fNumbered = false;  // CreateID ran after the last Add
};

class TRoadNameFile : public TProgressCancel {
 public:
  TRoadNameFile();
  ~TRoadNameFile() override;
  TRoadNameFile(const TRoadNameFile&) = delete;
  TRoadNameFile& operator=(const TRoadNameFile&) = delete;

  // Import1 and Import2 read the input twice (first the names, then each record's number) with
  // progress 0..40 and 41..100. Names are trimmed; an empty name is stored as one space. A
  // cancelled or failed import removes the two files once it has started writing them.
  //
  // Writes set FileNumber (1..99) into Directory from the value at FieldIndex of every CSV line.
  void Import1(const std::vector<std::string>& Files, const std::string& Directory,
               std::uint16_t CodePage, std::int32_t FileNumber, std::int32_t FieldIndex);
  // The same from dBASE or MapInfo tables: the field FieldName when not empty, else FieldIndex;
  // the field must be a character field.
  void Import2(const std::vector<std::string>& Files, const std::string& Directory,
               std::uint16_t CodePage, std::int32_t FileNumber, std::int32_t FieldIndex,
               const std::string& FieldName);

  // Opens set FileNumber of Directory for reading (in place of any set open); Cache holds
  // roadnameNN.bin in memory. StartKey is the network's encryption key (the files are not
  // enciphered). Raises for missing files, a link count that differs, and files whose numbers or
  // sizes do not fit each other; a reader that was open then stays as it was.
  void Load(const std::string& Directory, bool Cache, std::int64_t StartKey,
            std::int32_t FileNumber, std::int32_t LinkCount);
  void Close();
  bool IsOpen() const { return FOpen; }
  // Makes v an independent reader of the same set (closed when this one is): a cached image is
  // shared read-only, an uncached file opened again.
  void Clone(TRoadNameFile& v) const;

  // The name of a link (UTF-8, trimmed); the name with a number; the link's name number; the
  // number of a name (-1 when absent). The name to find is taken as RoadNameKey takes it; with
  // ignorecase the lowest number of the names equal without case is returned. Link numbers
  // outside 1..link count and name numbers outside 1..MaxRoadNameID raise EOutOfRange; queries
  // on a closed reader raise ERoadNameFileNotOpen.
  std::string RoadName1(std::int32_t LinkID) const;
  std::string RoadName2(std::int32_t ARoadNameID) const;
  std::int32_t RoadNameID1(std::int32_t LinkID) const;
  std::int32_t RoadNameID2(const std::string& roadname, bool ignorecase) const;

  std::int32_t MaxRoadNameID() const { return FMaxRoadNameID; }
  // Record size in bytes (2 x the longest name in UTF-16 code units).
  std::int32_t MaxRoadNameLength() const { return FMaxRoadNameLength; }
  // Longest trimmed name in UTF-8 bytes.
  std::int32_t MaxRoadNameLengthUTF8() const { return FMaxRoadNameLengthUTF8; }

 private:
  struct TNameSource;

  // Both passes over the input and the two files.
  void WriteSet(const TNameSource& source, const std::string& Directory, std::int32_t FileNumber);
  void CheckOpen() const;
  void CheckLink(std::int32_t LinkID) const;
  // Name number k (1..FMaxRoadNameID) as stored, without its zero padding.
  std::u16string ReadRecord(std::int32_t k) const;

  bool FOpen = false;
  std::int32_t FFileNumber = 0;
  std::vector<std::int32_t> FRoadNumberArray;  // per link, index 0 = link 1
  std::int32_t FMaxRoadNameID = 0;
  std::int32_t FMaxRoadNameLength = 0;
  std::int32_t FMaxRoadNameLengthUTF8 = 0;
  std::string FFileName;                                    // roadnameNN.bin
  std::shared_ptr<const std::vector<std::uint8_t>> FCache;  // the whole file when cached
  std::unique_ptr<TKVFileStream> FRoadNameFile;             // else the file, read by pread
};

// roadnameNN.bin / roadnumberNN.bin for a set number 1..99.
std::string RoadNameFileName(std::int32_t fileNumber);
std::string RoadNumberFileName(std::int32_t fileNumber);

}  // namespace kvnet
