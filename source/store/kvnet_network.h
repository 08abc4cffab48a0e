// TNetwork: an open network directory in memory, the object every analysis works on.
//
// Topology and per-link data are flat arrays indexed by link or node number (entry 0 unused):
// end nodes, lengths, attribute words, and a CSR adjacency whose slots hold signed link numbers
// (negative: the link may not be entered from that node). Nodes are numbered by non-increasing
// degree. Shape points come from a TCoord3File, cached in memory or read per request.
//
// Thread rules: the network has no lock. Queries never change it, so several threads may query
// one open network at once; operations that change arrays (attributes, limits, costs, times,
// turns) are for one thread at a time, with no search running. Searches keep their own state in
// their calculators and only read the network. A clone shares nothing that a thread could
// disturb (the read-only external-id index and spatial index are shared).
//
// Lengths are kilometres; coordinates are in the network's coordinate unit.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_filebase.h"
#include "foundation/kvnet_gistypes.h"
#include "foundation/kvnet_types.h"
#include "gisout/kvnet_gisarray.h"
#include "store/kvnet_configfile.h"
#include "store/kvnet_coordunit.h"
#include "store/kvnet_locationlist.h"

namespace kvnet {

class TAreaList;
class TCoord3File;
class TExternalID;
class TGISWriter;
class TKVStream;
class TQuadTree;
class TRandom;
class TRoadClassSpeed;
class TRoadNameFile;
class TTurnRestrictions;

class TNetwork;
using TGetConfigEvent = std::function<void(TNetwork& sender, TConfig& config)>;

// Bits of the attribute word.
inline constexpr std::uint16_t kAttrRoadClass = 0x001F;
inline constexpr std::uint16_t kAttrHierarchy = 0x00E0;
inline constexpr int kBitNoDriveThrough = 8;
inline constexpr int kBitOnewayFT = 9;
inline constexpr int kBitOnewayTF = 10;
inline constexpr int kBitRoundAbout = 11;
inline constexpr int kBitNonDrive = 12;
inline constexpr int kBitUturnFrom = 13;
inline constexpr int kBitUturnTo = 14;
inline constexpr int kBitSearchLink = 15;
inline constexpr std::uint16_t kAttrOneway = 0x0600;

inline constexpr int kRoadNameFileSlots = 99;

// One adjacency slot of a node: the link entry (negative when the link may not be entered from
// the node), the search number of the node at the link's other end (positive when the node is
// the link's from-node, negative when it is the to-node) and the link's length. Kept together so
// that a search reads one cache line per node.
struct TAdjacency {
  std::int32_t entry;
  std::int32_t target;
  float length;
};

// The link entries of a node's slots, read from its adjacency records.
class TSlotView {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::int32_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::int32_t*;
    using reference = std::int32_t;

    iterator() = default;
    explicit iterator(const TAdjacency* p) : FP(p) {}
    std::int32_t operator*() const { return FP->entry; }
    iterator& operator++() {
      ++FP;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++FP;
      return old;
    }
    bool operator!=(const iterator& other) const { return FP != other.FP; }
    bool operator==(const iterator& other) const { return FP == other.FP; }

   private:
    const TAdjacency* FP = nullptr;
  };
  TSlotView(const TAdjacency* begin, const TAdjacency* end) : FBegin(begin), FEnd(end) {}
  std::size_t size() const { return static_cast<std::size_t>(FEnd - FBegin); }
  bool empty() const { return FBegin == FEnd; }
  std::int32_t operator[](std::size_t i) const { return FBegin[i].entry; }
  iterator begin() const { return iterator(FBegin); }
  iterator end() const { return iterator(FEnd); }

 private:
  const TAdjacency* FBegin;
  const TAdjacency* FEnd;
};
inline constexpr int kLimitSlots = 9;

class TNetwork : public TFileBase {
 public:
  TNetwork();
  ~TNetwork() override;
  TNetwork(const TNetwork&) = delete;
  TNetwork& operator=(const TNetwork&) = delete;

  // ---- lifecycle

  // Opens the network directory (closing an open network first). externalid: 0 leaves the
  // external-id index closed, 1 opens it, 2 caches its second file, 3 caches both. Every file is
  // checked against the others before use; a failed Open leaves the network closed.
  void Open(bool attributes, bool coord3Cache, bool spatialindex, std::int32_t externalid);
  // Loads attribute words, derives the adjacency signs, no-drive-through areas and duplicates.
  void OpenAttributes();
  void Close();
  // Makes v an independent copy of this network (v is closed first).
  void Clone(TNetwork& v) const;

  // ---- properties

  bool AllowNegativeCost() const { return FAllowNegativeCost; }
  void SetAllowNegativeCost(bool value) { FAllowNegativeCost = value; }
  const std::string& Coordsys() const { return Fcoordsys; }
  void SetCoordsys(const std::string& value) { Fcoordsys = value; }
  std::int32_t EPSG() const { return Fepsg; }
  void SetEPSG(std::int32_t value) { Fepsg = value; }
  const std::string& PRJ() const { return Fprj; }
  void SetPRJ(const std::string& value) { Fprj = value; }
  std::uint16_t Codepage() const { return FCodepage; }
  void SetCodepage(std::uint16_t value) { FCodepage = value; }
  bool CompactMIF() const { return FcompactMIF; }
  void SetCompactMIF(bool value) { FcompactMIF = value; }
  // The rows of the last array output, and the text of the last GeoJSON output without a file.
  TGISArray& GISarray() { return FGISarray; }
  const TGISArray& GISarray() const { return FGISarray; }
  const std::string& GeoJSON() const { return FGeoJSON; }
  TCoordinateUnit CoordinateUnit() const { return FCoordinateUnit; }
  double DistFactor() const { return FDistfactor; }
  std::int32_t LinkCount() const { return FLinkCount; }
  std::int32_t NodeCount() const { return FNodeCount; }
  std::int32_t MaxDegree() const { return Fmaxdegree; }
  const TFloatRect& MBR() const { return Fmbr; }
  // The rectangle within which coordinates are accepted (MBR widened by CoordinateWindow %).
  const TFloatRect& SearchArea() const { return FmbrX; }
  double CoordinateWindow() const { return FCoordinateWindow; }
  // Stores the margin in percent; a negative value switches the search-area test off.
  void SetCoordinateWindow(double x);

  // A writer for filename in format GF. Except for gfArray it takes the network's CompactMIF,
  // CoordSys, EPSG and PRJ, and (except for the formats fixed to UTF-8) its code page. Callers
  // point its GISarray at the array of their own object.
  std::unique_ptr<TGISWriter> GISoutputInit(const std::string& filename, TGISFormat GF) const;
  float LengthAlpha() const { return FLengthAlpha; }
  void* Tag() const { return fTag; }
  void SetTag(void* value) { fTag = value; }

  TGetConfigEvent OnConfig;

  // Optional caller-owned sources that replace the files of the same content; each is read from
  // its current position.
  TKVStream* SpatialIndexStream = nullptr;
  TKVStream* ExternalIdIndex1Stream = nullptr;
  TKVStream* ExternalIdIndex2Stream = nullptr;
  TKVStream* LengthStream = nullptr;
  TKVStream* LinkStream = nullptr;
  TKVStream* CoordStream = nullptr;
  TKVStream* NodeStream = nullptr;
  TKVStream* AttributeStream = nullptr;
  TKVStream* Coord3Stream = nullptr;
  TKVStream* Coord3iStream = nullptr;

  // ---- topology (checked)

  std::int32_t Link2FromNode(std::int32_t link) const;
  std::int32_t Link2ToNode(std::int32_t link) const;
  std::int32_t Degree(std::int32_t node) const;
  // The absolute link number in slot linkindex (1..Degree) of the node.
  std::int32_t Node2Link(std::int32_t node, std::int32_t linkindex) const;
  // True when a link of node1 joins node1 and node2 (no argument checks).
  bool NodesConnected(std::int32_t node1, std::int32_t node2) const;
  bool LoopLink(std::int32_t link) const;
  bool LoopLinks() const { return fLoopLinks; }

  // ---- topology (unchecked, for inner loops; the caller keeps ids in range)

  // The signed adjacency slots of a node.
  TSlotView NodeSlots(std::int32_t node) const {
    const auto i = static_cast<std::size_t>(FPerm[static_cast<std::size_t>(node)]);
    return {FAdjacency.data() + FOffsets[i], FAdjacency.data() + FOffsets[i + 1]};
  }

  // The search layout: nodes renumbered in breadth-first order (search numbers 1..NodeCount),
  // with the adjacency stored in that order. Searches work on search numbers for locality.
  std::int32_t SearchNode(std::int32_t node) const { return FPerm[static_cast<std::size_t>(node)]; }
  std::int32_t NetworkNode(std::int32_t searchNode) const {
    return FInv[static_cast<std::size_t>(searchNode)];
  }
  // The adjacency records of a node given by its search number; targets are search numbers.
  std::span<const TAdjacency> SearchAdjacency(std::int32_t searchNode) const {
    const auto i = static_cast<std::size_t>(searchNode);
    return {FAdjacency.data() + FOffsets[i], FAdjacency.data() + FOffsets[i + 1]};
  }
  std::int32_t FromNodeOf(std::int32_t link) const {
    return FEnds[2 * static_cast<std::size_t>(link)];
  }
  std::int32_t ToNodeOf(std::int32_t link) const {
    return FEnds[2 * static_cast<std::size_t>(link) + 1];
  }
  float LengthOf(std::int32_t link) const { return FLength[static_cast<std::size_t>(link)]; }
  std::uint16_t AttributeOf(std::int32_t link) const {
    return Fattribute[static_cast<std::size_t>(link)];
  }
  bool CulDeSacOf(std::int32_t link) const { return FCDS.GetBit(link); }
  std::uint8_t HierarchyOf(std::int32_t link) const {
    return static_cast<std::uint8_t>((AttributeOf(link) & kAttrHierarchy) >> 5);
  }
  // Raw arrays, entry k for link k (the caller keeps indexes valid).
  const float* TimeArray(std::int32_t index) const {
    return FTime[static_cast<std::size_t>(index)].data();
  }
  const float* CostArray(std::int32_t index) const {
    return FCost[static_cast<std::size_t>(index)].data();
  }
  const float* LengthArray() const { return FLength.data(); }
  const std::uint8_t* LimitArray(std::int32_t slot) const {
    return FLimit[static_cast<std::size_t>(slot)].data();
  }
  bool LimitBitPatternOf(std::int32_t slot) const {
    return FLimitBP[static_cast<std::size_t>(slot)];
  }
  const double* XArray() const { return FX.data(); }
  const double* YArray() const { return FY.data(); }
  // Degree counts: entry d = number of nodes of degree >= d, entry MaxDegree + 1 = 0.
  std::span<const std::int32_t> DegreeCounts() const { return a; }

  // ---- geometry

  // The stored length (range check only: a non-valid link gives 0).
  float LinkLength(std::int32_t link) const;
  // Sum of all link lengths.
  float Length() const;
  TFloatPoint Node2Coordinate(std::int32_t node) const;
  // The link's polyline in digitised direction: from-node, shape points, to-node.
  TFloatPointArrayEx GetGISSection(std::int32_t link) const;
  void GetGISSection(std::int32_t link, TFloatPointArrayEx& list) const;
  static void SwapList(TFloatPointArrayEx& list);

  double DistanceBetweenPoints(const TFloatPoint& p1, const TFloatPoint& p2) const;
  double DistanceBetweenNodes(std::int32_t node1, std::int32_t node2) const;
  double DistanceToNode(const TFloatPoint& p, std::int32_t node) const;

  std::int32_t RandomNode(TRandom& r) const;

  // ---- positions, sections and routes

  TFloatPointArrayEx GetGISSectionRoute(const TRoute& route) const;
  // The part of a polyline between two fractions of its length (reversed when start > stop).
  TFloatPointArrayEx ExtractSection(const TFloatPointArrayEx& list, double start,
                                    double stop) const;
  TFloatPointArrayEx ExtractSection_raw1(const TFloatPointArrayEx& list, double start,
                                         double stop) const;
  // The point at a location, moved sideways by offset kilometres.
  TFloatPoint Location2Coordinate(const TLocation& loc, double offset) const;
  void Location2CoordinateList(TLocationList& ll, double offset) const;
  void Split(float distance, bool evenout, TLocationList& ll) const;
  double RouteLength(const TRoute& route) const;
  double DistanceBetweenLocations(const TLocation& loc1, const TLocation& loc2) const;
  // Nearest point of a link: fraction along it, side (-1 left, +1 right of the digitised
  // direction), distance in kilometres and the point.
  void DistanceToLink(const TFloatPoint& p, std::int32_t link, double& percent, std::int32_t& side,
                      double& distance, TFloatPoint& pnew) const;
  double DistanceToLinkSimple(const TFloatPoint& p, std::int32_t link) const;
  TMatrix Matrix(const TIntegerList& nl, bool extra) const;
  TMatrix MatrixDyn(const TLocationList& ll, bool extra) const;
  TMatrix MatrixDyn2(const TLocationList& ll1, const TLocationList& ll2) const;
  TLocation RandomLocation(TRandom& r) const;
  TFloatPoint RandomPoint(TRandom& r) const;
  // Turn angle 0..359 at node from link1 onto link2 (0 straight on, 90 left, 270 right).
  std::int32_t Direction(std::int32_t link1, std::int32_t node, std::int32_t link2) const;

  // ---- attributes

  std::uint16_t AttributeGet(std::int32_t link) const;
  void AttributeSet(std::int32_t link, std::uint16_t value);
  bool AttributeGetBit(std::int32_t link, int bit) const;
  void AttributeSetBit(std::int32_t link, int bit, bool value);
  void AttributeSetBits(int bit, const TBitArray& ba);
  void AttributeSave();
  std::uint16_t OneWayGet(std::int32_t link) const;
  void OneWaySet(std::int32_t link, std::uint16_t value);
  void SwapOneWay();
  std::uint8_t GetRoadClass(std::int32_t link) const;
  void SetRoadClass(std::int32_t link, std::uint8_t value);
  std::uint8_t GetHierarchy(std::int32_t link) const;
  void SetHierarchy(std::int32_t link, std::uint8_t value);
  void AttributeSetSkipInSearchBit();
  void SkipLinks2BitArray(TBitArray& ba) const;
  bool GetCulDeSac(std::int32_t link) const;
  void NonCulDeSacNodes(TIntegerList& nonCDSnodes) const;
  void NoDriveThroughInit();
  bool NoDriveThroughSet() const;
  bool NoDriveThroughCheck(const TRoute& route) const;
  const TAreaList& AreaList() const { return *FAreaList; }
  // Whether a node is a roundabout exit: degree 3 or more, exactly two roundabout links and
  // (unless countAll) at least one other link that may be entered from the node.
  bool RoundAboutExit(std::int32_t node, bool countAll) const;

  // ---- limits

  void OpenLimit(std::int32_t fileNumber, std::int32_t limitID, bool bitpattern);
  void SaveLimit(std::int32_t fileNumber, std::int32_t limitID) const;
  std::uint8_t GetLimit(std::int32_t limitID, std::int32_t link) const;
  bool GetLimitBit(std::int32_t limitID, std::int32_t link, int bit) const;
  void SetLimit(std::int32_t limitID, std::int32_t link, std::uint8_t value);
  void SetLimitBit(std::int32_t limitID, std::int32_t link, int bit, bool value);
  bool LimitIsBitPattern(std::int32_t limitID) const;
  std::int32_t LimitSlotsInUse() const { return FlimitX; }
  void SelectLimit(TBitArray& ba, std::int32_t limitID, std::uint8_t limitMin,
                   std::uint8_t limitMax) const;
  void SelectLinksWithLimits(TBitArray& ba, bool includeoneway) const;

  // ---- costs, times and speeds
  //
  // Time arrays hold minutes per link, cost arrays any weight per link (both directions alike);
  // entry k of an array belongs to link k. Speeds are km/h, derived from length and time. Every
  // stored value is finite; on a link of non-zero length a time is > 0, and so is a cost unless
  // AllowNegativeCost. Arguments are checked before anything changes.

  std::int32_t TimeCount() const { return static_cast<std::int32_t>(FTime.size()); }
  std::int32_t CostCount() const { return static_cast<std::int32_t>(FCost.size()); }
  // Lower-bound factors: straight-line distance (km) x alpha never exceeds the time or cost of a
  // link, once UpdateAlphas has run after the last change. 0 when no bound is known.
  float TimeAlpha() const { return FTimeAlpha; }
  float CostAlpha() const { return FCostAlpha; }

  // Adds arrays until n exist, each a copy of the link lengths (60 km/h, cost = length).
  void CreateArrayCost(std::int32_t n);
  void CreateArrayTime(std::int32_t n);
  void SetCost(std::int32_t index, std::int32_t link, float cost);
  void SetTime(std::int32_t index, std::int32_t link, float time);
  // Stores time = length / speed x 60.
  void SetSpeed(std::int32_t index, std::int32_t link, float speed);
  float GetCost(std::int32_t index, std::int32_t link) const;
  float GetTime(std::int32_t index, std::int32_t link) const;
  // length / time x 60; 0 for a link of length 0.
  float GetSpeed(std::int32_t index, std::int32_t link) const;
  // time = length / speed of the link's road class x 60, for every link.
  void CalculateTime(std::int32_t index, const TRoadClassSpeed& rcs);
  // cost = t x weighttime + length x weightlength (terms with a weight <= 0 left out; with
  // weighttime <= 0 cost = length x weightlength), where t is the time, raised to
  // length / maxspeed x 60 when maxspeed is not 0.
  void CalculateCost(std::int32_t costindex, float weightlength, float weighttime,
                     std::int32_t timeindex, double maxspeed);

  // Column operations on an existing dBASE file whose record k belongs to link k (Read*, Save*)
  // or to element k of the array (Read3, Write*). A non-empty fieldname overrides fieldindex.
  void ReadCost(std::int32_t index, const std::string& filename, std::int32_t fieldindex,
                const std::string& fieldname);
  void ReadTime(std::int32_t index, const std::string& filename, std::int32_t fieldindex,
                const std::string& fieldname);
  // Speeds in km/h, or miles per hour when mph.
  void ReadSpeed(std::int32_t index, const std::string& filename, std::int32_t fieldindex,
                 const std::string& fieldname, bool mph);
  // Writes the speed of every valid link; the other records are left as they are.
  void SaveSpeed(std::int32_t index, const std::string& filename, std::int32_t fieldindex,
                 const std::string& fieldname) const;
  // value gets RecordCount + 1 bits; bit r is set when record r holds a value other than 0.
  void Read3(const std::string& filename, std::int32_t fieldindex, const std::string& fieldname,
             TBitArray& value) const;
  // Element r goes to record r; the arrays have RecordCount + 1 entries.
  void Write1(const std::string& filename, std::int32_t fieldindex, const std::string& fieldname,
              const TIntegerArray& value) const;
  void Write2(const std::string& filename, std::int32_t fieldindex, const std::string& fieldname,
              const std::vector<float>& value) const;
  void Write3(const std::string& filename, std::int32_t fieldindex, const std::string& fieldname,
              const TBitArray& value) const;
  // Writes true into the listed records (numbers outside 1..RecordCount are ignored); with reset
  // every other record becomes false.
  void Write4(const std::string& filename, std::int32_t fieldindex, const std::string& fieldname,
              const TIntegerList& value, bool reset) const;

  // Recomputes the time and cost alphas when a value may have decreased since the last run.
  void UpdateAlphas();

  // ---- duplicates (one-way twins)

  // Rebuilds the table of one-way twin links; returns the number of entries (two per pair).
  std::int32_t FindDuplicateLinks();
  // The twin of a link, or 0.
  std::int32_t GetDuplicateLink(std::int32_t index) const;

  // ---- selection

  // Sizes ba to LinkCount + 1 bits and sets the bit of every link of non-zero length whose road
  // class and hierarchy lie in the inclusive ranges and whose attribute bits 8..15 match bit8 ..
  // bit15 (0 = clear, 1 = set, 2 or more = either). With roadFileID and roadNameID both non-zero
  // the link's name in that road-name file must also have the number roadNameID. Bits of other
  // links are left as they are.
  void Select(TBitArray& ba, std::uint8_t roadclassMin, std::uint8_t roadclassMax,
              std::uint8_t hierarchyMin, std::uint8_t hierarchyMax, std::int32_t roadFileID,
              std::int32_t roadNameID, std::uint8_t bit8, std::uint8_t bit9, std::uint8_t bit10,
              std::uint8_t bit11, std::uint8_t bit12, std::uint8_t bit13, std::uint8_t bit14,
              std::uint8_t bit15) const;

  // ---- road names (files roadnameNN.bin / roadnumberNN.bin, NN = roadFileID 1..99)
  //
  // Name queries accept every link number of the network, valid links or not: the files hold a
  // name for every link.

  // Loads road-name file roadFileID into its slot (replacing what the slot held once the new
  // file has loaded); cache holds the names in memory.
  void OpenRoadName(std::int32_t roadFileID, bool cache);
  // Releases the slot; an empty slot is left alone. Raises EOutOfRange outside 1..99.
  void CloseRoadNameFile(std::int32_t roadFileID);
  std::string Link2RoadName(std::int32_t roadFileID, std::int32_t link) const;
  std::int32_t Link2RoadNameID(std::int32_t roadFileID, std::int32_t link) const;
  // Raises EOutOfRange outside 1..MaxRoadNameID of the file.
  std::string RoadNameID2RoadName(std::int32_t roadFileID, std::int32_t roadNameID) const;
  // The number of a name; -1 when the file does not hold it.
  std::int32_t RoadName2RoadNameID(std::int32_t roadFileID, const std::string& roadname,
                                   bool ignorecase) const;
  // Width of a text field that holds every name of the file: UTF-8 bytes for code page 65001,
  // else characters.
  std::int32_t RoadNameMaxWidth(std::int32_t roadFileID, std::uint16_t aCodepage) const;

  // ---- external ids (index1.bin / index2.bin, opened by Open)

  // The link of an id; 0 when the index does not hold it.
  std::int32_t ExternalID2Link(const std::string& id) const;
  // The id of any link number of the network (valid link or not).
  std::string Link2ExternalID(std::int32_t link) const;
  // Releases this network's use of the index (a clone keeps its own use).
  void CloseExternalID();

  // ---- z-levels from external node ids

  // inputFile: a CSV file (code page 1252) with one line per link in link order, the source's
  // from-node id in column 0 and to-node id in column 1. Writes a table without geometry in
  // format GF with the fields ZFrom and ZTo and one record per link: the z-levels TFromToNodeTree
  // gives the two ids (0 for an id that shares its network node with no other id, and for the
  // ends of non-valid links, which join no node). gfArray fills GISarray(); gfGeoJSON without a
  // file name fills GeoJSON().
  void ExternalNodeId2ZLevels(const std::string& inputFile, const std::string& outputFile,
                              TGISFormat GF);

  // ---- optional parts

  std::int32_t TurnListCount() const { return static_cast<std::int32_t>(FTurnList.size()); }
  TTurnRestrictions& TurnList(std::int32_t index);
  const TTurnRestrictions& TurnList(std::int32_t index) const;
  // The loaded spatial index, or nullptr when the network was opened without it.
  const TQuadTree* Quadtree() const { return FQuadtree.get(); }
  // The external-id index, or nullptr when it was not opened.
  TExternalID* ExternalID() const { return FexternalID.get(); }
  const TCoord3File& Coord3File() const { return *FCoord3file; }
  // Bytes of memory held by the network's arrays and shape points (not the shared indexes).
  std::int64_t MemoryUsage() const;

  // ---- validation (raise on failure)

  void CheckOpen() const;
  void CheckLink(std::int32_t link) const;
  void CheckNode(std::int32_t node) const;
  void CheckNodeList(const TIntegerList& nl) const;
  static void CheckPercent(double percent);
  void CheckLocation(const TLocation& loc) const;
  void CheckLocationList(const TLocationList& ll) const;
  void CheckLocationListP(const TLocationList& ll) const;
  void CheckCoordinate(const TFloatPoint& p) const;
  void CheckRoadNameFile(std::int32_t roadFileID) const;
  void CheckExternalOpen() const;
  void CheckTurnIndex(std::int32_t index) const;

 private:
  // Link number in 1..LinkCount (the first two messages of CheckLink), valid or not.
  void CheckLinkRange(std::int32_t link) const;
  void CheckLimitID(std::int32_t limitID) const;
  // Sets the signs of a link's two adjacency entries from its one-way bits.
  void UpdateSigns(std::int32_t link);
  void ComputeSearchArea();
  void ComputeLengthAlpha();
  void ComputeCulDeSac();
  void ReadNetworkFiles(bool spatialindex, bool coord3Cache, std::int32_t externalid);
  // Orders nodes for searches and builds the adjacency in that order from the slots of node.bin
  // (FOffsets by node number on entry, by search number on return; FEndSlots follow).
  void BuildSearchLayout(const std::int32_t* slots);
  std::string FilePath(const char* name) const { return fDirectory + name; }

  TCoordinateUnit FCoordinateUnit = cuUnknown;
  std::int32_t Fepsg = 0;
  std::string Fprj;
  std::string Fcoordsys;
  std::uint16_t FCodepage;
  bool FAllowNegativeCost = false;
  bool FTimeAlphaUpdateNeeded = false;
  bool FCostAlphaUpdateNeeded = false;
  std::int32_t Fmaxdegree = 0;
  double FCoordinateWindow = 20.0;
  TFloatRect Fmbr;
  TFloatRect FmbrX;
  bool FcompactMIF = false;
  TGISArray FGISarray;
  std::string FGeoJSON;
  bool fLoopLinks = false;
  double FDistfactor = 0;
  float FLengthAlpha = 0;
  float FTimeAlpha = 0;
  float FCostAlpha = 0;
  void* fTag = nullptr;
  std::int32_t FLinkCount = 0;
  std::int32_t FNodeCount = 0;

  // Per link, index 0..LinkCount.
  std::vector<float> FLength;
  // End nodes, interleaved so that both ends share a cache line: from-node of link k at 2k,
  // to-node at 2k + 1 (0 for a non-valid link).
  std::vector<std::int32_t> FEnds;
  std::vector<std::uint16_t> Fattribute;
  // Positions in FAdjacency of the link's entry at its from-node (2k) and at its to-node (2k + 1).
  std::vector<std::uint32_t> FEndSlots;
  TBitArray FCDS;

  // Per node, index 0..NodeCount.
  std::vector<double> FX;
  std::vector<double> FY;
  // CSR adjacency in search order: the slots of node n are FAdjacency[FOffsets[i] ..
  // FOffsets[i + 1]) with i = FPerm[n]; FInv maps search numbers back to nodes.
  std::vector<std::uint32_t> FOffsets;
  std::vector<TAdjacency> FAdjacency;
  std::vector<std::int32_t> FPerm;
  std::vector<std::int32_t> FInv;
  std::vector<std::int32_t> a;

  std::array<std::vector<std::uint8_t>, kLimitSlots + 1> FLimit;
  std::array<bool, kLimitSlots + 1> FLimitBP{};
  std::array<std::uint8_t, kLimitSlots + 1> QTVindex{};
  std::uint8_t FlimitX = 0;

  std::vector<std::vector<float>> FTime;
  std::vector<std::vector<float>> FCost;
  std::vector<std::unique_ptr<TTurnRestrictions>> FTurnList;
  std::unique_ptr<TAreaList> FAreaList;
  std::unordered_map<std::int32_t, std::int32_t> FDuplicates;
  std::unique_ptr<TCoord3File> FCoord3file;
  std::shared_ptr<const TQuadTree> FQuadtree;
  std::shared_ptr<TExternalID> FexternalID;
  std::array<std::shared_ptr<TRoadNameFile>, kRoadNameFileSlots + 1> FRoadNameFiles;

 public:
  // Turn auto-processing factors.
  double cTJunction = 1.0;
  double cTJunctionCrossing = 1.5;
  double cNormal = 1.0;
  double cNormalCrossingTurn = 1.5;
  double cNormalCrossingStraight = 1.5;
  double cFast = 1.0;
  double cStraight = 2.0;
  double cSlow = 4.5;
};

}  // namespace kvnet
