// TImportAttributes: adds per-link data to a network directory that TImport has built. The values
// come column by column from the attribute tables of the geometry (one record per link, in link
// order; several files are read as one table in the order added) or from the caller through
// events (asked for link 1, 2, ... until the event sets lastlink):
//
//   attribute.bin           the 16-bit attribute word of every link (enciphered with the key)
//   limit1.bin..limit9.bin  one limit byte per link, file number LimitFileIndex (enciphered)
//   roadnameNN.bin          a road-name set, NN = RoadNameFileIndex (see TRoadNameFile)
//     + roadnumberNN.bin
//   index1.bin + index2.bin the external id of every link and its lookup index (see TExternalID)
//
// Every run checks the input against the network before it writes: the input must hold exactly
// as many records (or the events as many links) as kvnet_config.ini gives the network, every
// value must fit its file, and the key must suit the network (a plain network ignores the key,
// an enciphered one needs it). Files are written through temporary files: a run that fails or
// is cancelled leaves the directory's earlier files as they were, with two exceptions: duplicate
// external ids remove the external-id index (the ids it held are not those of the input), and a
// road-name set from files that fails or is cancelled while TRoadNameFile writes it is removed.
//
// Text ids are stored trimmed (characters up to ' ' removed at both ends), padded with spaces to
// the index width, and hashed as stored, so that each one is found by the trimmed text
// TExternalID looks up. The width is 1..254 characters: for dBASE input the widest declaration
// of the field over the files, for CSV input the longest id.
//
// One object is used by one thread at a time; events and progress run on that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/kvnet_filebase.h"

namespace kvnet {

class TImportAttributes;

// fkCSV: comma-separated text lines (also MapInfo .mid files); fkDBF: dBASE tables or MapInfo
// native tables (.dat).
enum TFileKind : std::uint8_t { fkCSV = 0, fkDBF };

// Each receives the importer, the link number (from 1) and the value to fill, and sets lastlink
// to true with the last link.
using TAttributeReadEvent = std::function<void(TImportAttributes& sender, std::int32_t link,
                                               std::uint16_t& attribute, bool& lastlink)>;
using TLimitReadEvent = std::function<void(TImportAttributes& sender, std::int32_t link,
                                           std::uint8_t& Limit, bool& lastlink)>;
using TExternalIDReadStringEvent = std::function<void(TImportAttributes& sender, std::int32_t link,
                                                      std::string& externalID, bool& lastlink)>;
using TExternalIDReadIntEvent = std::function<void(TImportAttributes& sender, std::int32_t link,
                                                   std::int64_t& externalID, bool& lastlink)>;
using TRoadNameReadEvent = std::function<void(TImportAttributes& sender, std::int32_t link,
                                              std::string& name, bool& lastlink)>;

class TImportAttributes : public TFileBase {
 public:
  TImportAttributes();
  ~TImportAttributes() override;
  TImportAttributes(const TImportAttributes&) = delete;
  TImportAttributes& operator=(const TImportAttributes&) = delete;

  // ---- input files
  void Add(const std::string& filename) { ffiles.push_back(filename); }
  void AddFiles(const std::vector<std::string>& files);
  void Clear() { ffiles.clear(); }
  const std::vector<std::string>& Files() const { return ffiles; }

  // ---- settings
  // Code page of CSV input (default: the system's ANSI code page). A .mid read for road names
  // sets it from the CHARSET of its .mif.
  std::uint16_t CodepageCSV() const { return FCodePageCSV; }
  void SetCodepageCSV(std::uint16_t value) { FCodePageCSV = value; }
  // Code page of dBASE input; 0 (the default) lets each table say.
  std::uint16_t CodepageDbf() const { return FCodePageDbf; }
  void SetCodepageDbf(std::uint16_t value) { FCodePageDbf = value; }
  // Number N of the limitN.bin that ExecuteLimit writes; EOutOfRange outside 1..9.
  std::int32_t LimitFileIndex() const { return FLimitFileIndex; }
  void SetLimitFileIndex(std::int32_t value);
  // Number NN of the road-name set that ExecuteRoadname writes; EOutOfRange outside 1..99.
  std::int32_t RoadNameFileIndex() const { return FRoadNameFileIndex; }
  void SetRoadNameFileIndex(std::int32_t value);

  TAttributeReadEvent OnReadAttribute;
  TLimitReadEvent OnReadLimit;
  TRoadNameReadEvent OnReadRoadName;
  TExternalIDReadIntEvent OnReadExternalIDInt;
  TExternalIDReadStringEvent OnReadExternalIDString;

  // ---- from the added files
  //
  // For fkDBF a non-empty fieldname (any case) selects the field, else fieldindex does (from 0):
  // EFieldNameNotFound "Field %s not found", EInvalidFieldIndex "Field %d not valid - should be
  // 0..%d". For fkCSV fieldindex is the position of the value in a line, and a line with fewer
  // values gives 0 or an empty text. Each run clears Cancelled, reports progress (records for
  // dBASE, bytes for CSV) and ends with progress 0; a cancelled run writes nothing.

  // attribute.bin; a value outside 0..65535 raises EOutOfRange "Attribute value out of range".
  void ExecuteAttribute(std::int32_t fieldindex, const std::string& fieldname, TFileKind fk);
  // limitN.bin. With Lconstant 0 and Lfactor 1 the value is the field as an integer, else
  // Trunc((value - Lconstant) * Lfactor) of the field as a number (dBASE only: CSV input raises
  // "Factor or constant can not be applied to CSV format"). A result outside 0..255 raises
  // EOutOfRange "Limit value out of range".
  void ExecuteLimit(std::int32_t fieldindex, const std::string& fieldname, TFileKind fk,
                    double Lconstant, double Lfactor);
  // Road-name set RoadNameFileIndex. A .mid input (first file) takes its code page from the
  // CHARSET of its .mif and, given a fieldname, the column whose name equals it (any case).
  void ExecuteRoadname(std::int32_t fieldindex, const std::string& fieldname, TFileKind fk);
  // Integer ids, as int64 or (useint64 false) as int32 after clamping to -2147483647..2147483647.
  void ExecuteExternalIDint(std::int32_t fieldindex, const std::string& fieldname, TFileKind fk,
                            bool useint64);
  // Text ids; a width above 254 raises EOutOfRange.
  void ExecuteExternalIDstring(std::int32_t fieldindex, const std::string& fieldname, TFileKind fk);

  // ---- from the events (each does nothing when its event is not assigned)

  void ExecuteAttributeEvent();
  void ExecuteLimitEvent();
  // Asks for every name twice: once to collect and number the names, once to write the numbers.
  // The second round must give the same links and names.
  void ExecuteRoadnameEvent();
  void ExecuteExternalIDintEvent(bool useint64);
  // Ids cut (never inside a character) or padded to width, 1..254 (else EOutOfRange).
  void ExecuteExternalIDStringEvent(std::int32_t width);

 private:
  struct TNetworkInfo {
    std::int32_t linkCount = 0;
    std::int64_t key = 0;  // the key the network's files use (0 for a plain network)
  };
  class TFieldSource;

  // Clears Cancelled, checks the directory and reads the network's link count and key.
  TNetworkInfo StartRun();
  void CheckFilesAdded() const;
  void CheckRecordCount(std::int64_t records, std::int32_t linkCount) const;
  // Reads one value per record of source (valueOf converts and checks it) into values, with
  // progress up to progressStop; false when cancelled. Raises when the record count differs
  // from linkCount.
  template <class T, class ValueOf>
  bool ReadColumn(TFieldSource& source, std::int32_t linkCount, int progressStop,
                  std::vector<T>& values, ValueOf valueOf);
  // Asks an event for link 1, 2, ... until lastlink; more links than linkCount raise.
  template <class T, class Event>
  std::vector<T> AskEvent(const Event& event, std::int32_t linkCount);
  // The MID path of ExecuteRoadname: code page and column from the .mif.
  std::int32_t MidColumn(const std::string& midFile, std::int32_t fieldindex,
                         const std::string& fieldname);
  void WriteLimitFile(const std::vector<std::uint8_t>& values, std::int64_t key) const;
  void WriteAttributeFile(const std::vector<std::uint16_t>& values, std::int64_t key) const;
  // Sorts each bucket of link numbers by id(link); equal ids raise the duplicate error.
  template <class IdOf>
  void SortBuckets(std::vector<std::vector<std::int32_t>>& buckets, const IdOf& id) const;
  // Builds and writes index1.bin and index2.bin; progress from `from` to 100.
  void WriteIntegerIndex(const std::vector<std::int64_t>& ids, bool useint64, int from);
  void WriteTextIndex(const std::vector<std::u16string>& ids, std::int32_t width, int from);
  void WriteIndex2(const std::vector<std::vector<std::int32_t>>& buckets, bool offsets64, int from);
  [[noreturn]] void RaiseDuplicates() const;

  std::vector<std::string> ffiles;
  std::int32_t FLimitFileIndex = 1;
  std::int32_t FRoadNameFileIndex = 1;
  std::uint16_t FCodePageCSV;
  std::uint16_t FCodePageDbf = 0;
};

}  // namespace kvnet
