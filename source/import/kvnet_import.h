// Import: polyline layers (shape files, MapInfo interchange files or native tables) become a
// network directory. The readers walk the objects of every input file in order; each object
// becomes one link (2 to 65,535 vertices) or one recorded error, and keeps its running number as
// link number either way, so attribute tables match links by record number. The pipeline then
// finds the nodes by exact coordinate matching, numbers them by degree, writes the network files
// and the configuration, builds the spatial index and enciphers what the key asks for.
//
// A failed, cancelled or empty import leaves no directory that opens as a network: the files it
// writes are removed and the error is raised (or, when cancelled, Execute returns with Cancelled
// set). One import object is used by one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kvnet_filebase.h"
#include "foundation/kvnet_types.h"
#include "store/kvnet_coordunit.h"

namespace kvnet {

class TKVBufferedStream;
class T32EncryptionArray;

enum TErrorCode : std::uint8_t {
  ecDeleted = 0,
  ecNotGeoCoded,
  ecNotPolyLine,        // value: the object type found
  ecMultiSection,       // value: number of sections
  ecZeroOrOneVertices,  // value: vertex count
  ecLoopLink,
  ecTooManyVertices,  // value: vertex count
  ecInvalidGeography,
  ecSinglePoint
};

enum TImportSource : std::uint8_t {
  isFiles = 0,
  isMSsql,
  isMSsqlZ,
  isOracle,
  isOracleZ,
  isPostGIS,
  isPostGISZ,
  isGeoPackage,
  isGeoPackageZ,
  isCustom,
  isCustomZ,
  isGISArray
};

struct TImportError {
  std::int32_t fileindex = 0;  // 0-based input file
  std::int32_t linklocal = 0;  // object number within the file
  std::int32_t link = 0;       // link number
  TErrorCode errorcode = ecDeleted;
  std::int32_t value = 0;
};

// Largest vertex count of a link (vertex indices are 16-bit in the spatial index).
inline constexpr std::int32_t kMaxLinkVertices = 65535;

class TBaseImport : public TFileBase {
 public:
  using TClock = std::chrono::system_clock;

  TBaseImport();
  ~TBaseImport() override;
  TBaseImport(const TBaseImport&) = delete;
  TBaseImport& operator=(const TBaseImport&) = delete;

  // ---- configuration
  void Add(const std::string& filename) { fFiles.push_back(filename); }
  void AddFiles(const std::vector<std::string>& files);
  void Clear() { fFiles.clear(); }
  const std::vector<std::string>& Files() const { return fFiles; }

  bool AllowLoops() const { return fAllowLoops; }
  void SetAllowLoops(bool value) { fAllowLoops = value; }
  bool FailOnDifferentCoordSys() const { return fFailOnDifferentCoordSys; }
  void SetFailOnDifferentCoordSys(bool value) { fFailOnDifferentCoordSys = value; }
  // cuUnknown (the default) lets the input decide.
  TCoordinateUnit CoordinateUnit() const { return fCoordinateUnit; }
  void SetCoordinateUnit(TCoordinateUnit value) { fCoordinateUnit = value; }
  const std::string& CoordSys() const { return fCoordSys; }
  void SetCoordSys(const std::string& value) { fCoordSys = value; }
  std::int32_t EPSG() const { return fEPSG; }
  void SetEPSG(std::int32_t value) { fEPSG = value; }
  const std::string& Prj() const { return fPrj; }
  void SetPrj(const std::string& value) { fPrj = value; }
  // Attribute fields (0-based) holding the z-levels of the two ends; -1 for none.
  std::int32_t ZFromField() const { return fZfromField; }
  void SetZFromField(std::int32_t value) { fZfromField = value; }
  std::int32_t ZToField() const { return fZtoField; }
  void SetZToField(std::int32_t value) { fZtoField = value; }
  bool SkipSpatialIndex() const { return fSkipSpatialIndex; }
  void SetSkipSpatialIndex(bool value) { fSkipSpatialIndex = value; }
  std::int32_t MaxNodesPerCell() const { return fMaxNodesPerCell; }
  // Values of 10 or less are ignored.
  void SetMaxNodesPerCell(std::int32_t value) {
    if (value > 10) fMaxNodesPerCell = value;
  }
  TImportSource ImportSource() const { return fImportSource; }

  // ---- results
  const std::vector<TImportError>& ImportErrorList() const { return fImportErrorList; }
  std::int32_t LinkCount() const { return fLinkCount; }
  std::int32_t MaxDegree() const { return fMaxdegree; }
  const TFloatRect& MBR() const { return fMBR; }
  std::int32_t NodeCount() const { return fNodeCount; }
  double TotalLength() const { return fTotalLength; }
  TClock::time_point StartTime() const { return fStartTime; }
  TClock::time_point StopTime() const { return fStopTime; }

  virtual void Execute() = 0;
  // Writes network_report.txt into the directory.
  void CreateReport() const;

  // ---- for the geometry readers
  //
  // For every object a reader calls, in this order: NextObject, SetZLevels (with z-levels on),
  // MarkLinkStart, ProgressExecute, then either fills Vertices()/SetNumPoints and calls
  // StoreLink, or calls AddImportError. After the last object of all files it calls
  // MarkLinkStart once more. It checks Cancelled() after every object. Readers raise on bad
  // files; Execute cleans up.

  bool ZLevels() const { return fZfromField >= 0 && fZtoField >= 0; }
  // Sets the unit the input says and the z-level shift that goes with it (10 cm).
  void SetInputUnit(TCoordinateUnit unit);
  // Starts a new input file (its object count restarts at 0).
  void StartFile() { fLinkCountFile = 0; }
  // Counts the next object: LinkCount and the object number in the file grow by one.
  void NextObject() {
    ++fLinkCount;
    ++fLinkCountFile;
  }
  std::int32_t LinkCountFile() const { return fLinkCountFile; }
  // Raises EOutOfRange "Z-levels of out range (-9..9)" for a level outside -9..9.
  void SetZLevels(std::int64_t from, std::int64_t to);
  // The three steps below are virtual so that a reader can be watched on its own (tests).
  virtual void MarkLinkStart();
  std::vector<TFloatPoint>& Vertices() { return fVertices; }
  std::int32_t NumPoints() const { return fNumPoints; }
  void SetNumPoints(std::int32_t count) { fNumPoints = count; }
  // Stores the first NumPoints vertices as the current link.
  virtual void StoreLink(std::int32_t fileIndex);
  // Records the current object as an error link.
  virtual void AddImportError(std::int32_t fileIndex, std::int32_t linklocal, std::int32_t value,
                              TErrorCode errorcode, std::int32_t link);

 protected:
  void OpenOutput();
  // Builds the network from the coordinate files; progress from start to 100.
  void BuildNetwork(int start);
  // Removes every file the import writes; coordinate files only, when onlyCoordinates.
  void RemoveOutput(bool onlyCoordinates) const;
  std::string OutFile(const char* name) const { return fDirectory + name; }

  bool fAllowLoops = false;
  std::int32_t fEPSG = 0;
  std::unique_ptr<T32EncryptionArray> fEncoder2;
  std::int32_t fMaxNodesPerCell = 50;
  std::vector<TImportError> fImportErrorList;
  std::int32_t fNodeCount = 0;
  TFloatRect fMBR;
  std::int32_t fMaxdegree = 0;
  double fTotalLength = 0;
  TClock::time_point fStartTime;
  TClock::time_point fStopTime;
  std::string fCoordSys;
  bool fFailOnDifferentCoordSys = true;
  std::string fPrj;
  TCoordinateUnit fCoordinateUnit = cuUnknown;
  std::vector<TFloatPoint> fVertices;
  bool fZLevelsUsed = false;
  bool fObjects_found = false;
  bool fSkipSpatialIndex = false;
  double fZRadius = 0;
  std::int32_t fLinkCount = 0;
  std::int32_t fLinkCountFile = 0;
  std::int32_t fNumSections = 0;
  std::int32_t fZfromField = -1;
  std::int32_t fZtoField = -1;
  std::int32_t fZFrom = 0;
  std::int32_t fZTo = 0;
  std::unique_ptr<TKVBufferedStream> fg1;   // coordfrom.bin
  std::unique_ptr<TKVBufferedStream> fg2;   // coordto.bin
  std::unique_ptr<TKVBufferedStream> fg3;   // coord3.bin
  std::unique_ptr<TKVBufferedStream> fg3i;  // coord3i.bin
  std::int64_t fCoord3Count = 0;            // intermediate vertices written
  std::int32_t fNumPoints = 0;
  std::vector<std::string> fFiles;
  TImportSource fImportSource = isFiles;

  void CloseOutput();

 private:
  void WriteVertex(const TFloatPoint& vertex, int kind);
};

class TImport : public TBaseImport {
 public:
  void Execute() override;
};

}  // namespace kvnet
