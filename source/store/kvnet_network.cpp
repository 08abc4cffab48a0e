// TNetwork: lifecycle, topology, checks and distances. Reading the network files is in
// kvnet_network_open.cpp, attributes and limits in kvnet_network_attributes.cpp, positions and
// sections in kvnet_network_geometry.cpp.
#include "store/kvnet_network.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_random.h"
#include "store/kvnet_arealist.h"
#include "store/kvnet_coord3file.h"
#include "store/kvnet_externid.h"
#include "store/kvnet_quadtree.h"
#include "store/kvnet_roadnamefile.h"
#include "store/kvnet_turn.h"

namespace kvnet {

TNetwork::TNetwork() : FCodepage(SystemCodePage()), FAreaList(std::make_unique<TAreaList>()) {}

TNetwork::~TNetwork() = default;

// ---- lifecycle

void TNetwork::Close() {
  // Releases everything Open built, also after a failed Open. Attribute words and limit slots
  // stay until the next Open.
  FLength = {};
  FEnds = {};
  FEndSlots = {};
  FX = {};
  FY = {};
  FOffsets = {};
  FAdjacency = {};
  FPerm = {};
  FInv = {};
  a = {};
  FCDS = TBitArray();
  FTime = {};
  FCost = {};
  FTurnList.clear();
  FAreaList = std::make_unique<TAreaList>();
  FDuplicates.clear();
  FCoord3file.reset();
  FQuadtree.reset();
  FexternalID.reset();
  for (auto& file : FRoadNameFiles)
    file.reset();
  fIsOpen = false;
}

void TNetwork::Clone(TNetwork& v) const {
  if (&v == this) return;
  v.Close();
  v.fEncryptionKey = fEncryptionKey;
  v.fDirectory = fDirectory;
  v.FCoordinateUnit = FCoordinateUnit;
  v.Fepsg = Fepsg;
  v.Fprj = Fprj;
  v.Fcoordsys = Fcoordsys;
  v.FCodepage = FCodepage;
  v.Fmaxdegree = Fmaxdegree;
  v.FCoordinateWindow = FCoordinateWindow;
  v.Fmbr = Fmbr;
  v.FmbrX = FmbrX;
  v.FcompactMIF = FcompactMIF;
  v.fLoopLinks = fLoopLinks;
  v.FDistfactor = FDistfactor;
  v.FLinkCount = FLinkCount;
  v.FNodeCount = FNodeCount;
  v.FX = FX;
  v.FY = FY;
  v.FEnds = FEnds;
  v.FEndSlots = FEndSlots;
  v.FOffsets = FOffsets;
  v.FAdjacency = FAdjacency;
  v.FPerm = FPerm;
  v.FInv = FInv;
  v.a = a;
  *v.FAreaList = *FAreaList;
  v.FCDS = FCDS;
  v.FLength = FLength;
  v.Fattribute = Fattribute;
  v.FQuadtree = FQuadtree;  // read-only once loaded: shared
  if (FCoord3file) {
    v.FCoord3file = std::make_unique<TCoord3File>();
    FCoord3file->Clone(*v.FCoord3file);
  }
  v.FTime = FTime;
  v.FCost = FCost;
  for (const auto& set : FTurnList) {
    auto copy = std::make_unique<TTurnRestrictions>(set->Size());
    set->Clone(*copy);
    v.FTurnList.push_back(std::move(copy));
  }
  v.FLimit = FLimit;
  v.FLimitBP = FLimitBP;
  v.QTVindex = QTVindex;
  v.FlimitX = FlimitX;
  v.FLengthAlpha = FLengthAlpha;
  v.FTimeAlpha = FTimeAlpha;
  v.FCostAlpha = FCostAlpha;
  v.FTimeAlphaUpdateNeeded = FTimeAlphaUpdateNeeded;
  v.FCostAlphaUpdateNeeded = FCostAlphaUpdateNeeded;
  v.fTag = fTag;
  v.FexternalID = FexternalID;  // the same index object, kept alive by either network
  // Road-name readers hold a stream position: each clone gets readers of its own.
  for (std::size_t slot = 1; slot < FRoadNameFiles.size(); ++slot) {
    if (!FRoadNameFiles[slot]) continue;
    auto copy = std::make_shared<TRoadNameFile>();
    FRoadNameFiles[slot]->Clone(*copy);
    v.FRoadNameFiles[slot] = std::move(copy);
  }
  v.FDuplicates = FDuplicates;  // its own table, so that a rebuild here cannot disturb it
  v.fIsOpen = fIsOpen;
}

// ---- validation

void TNetwork::CheckOpen() const {
  if (!fIsOpen) throw ENetworkIsClosed("Network is not open");
}

void TNetwork::CheckLinkRange(std::int32_t link) const {
  CheckOpen();
  if (link < 1) throw EOutOfRange(Format("Link-ID must be >=1: %d", link));
  if (link > FLinkCount) throw EOutOfRange(Format("Link-ID must be <=%d: %d", FLinkCount, link));
}

void TNetwork::CheckLink(std::int32_t link) const {
  CheckLinkRange(link);
  if (FLength[static_cast<std::size_t>(link)] == 0) {
    throw Exception(Format("Link %d is a non-valid link", link));
  }
}

void TNetwork::CheckNode(std::int32_t node) const {
  CheckOpen();
  if (node < 1) throw EOutOfRange(Format("Node-ID must be >=1: %d", node));
  if (node > FNodeCount) throw EOutOfRange(Format("Node-ID must be =<%d: %d", FNodeCount, node));
}

void TNetwork::CheckNodeList(const TIntegerList& nl) const {
  CheckOpen();
  if (nl.IsEmpty()) throw Exception("Nodelist is empty");
  for (std::int32_t i = 0; i < nl.Count(); ++i) {
    if (nl[i] < 1 || nl[i] > FNodeCount) {
      throw EOutOfRange(
          Format("Node at index %d in list, %d, must be between 1 and %d", i, nl[i], FNodeCount));
    }
  }
}

void TNetwork::CheckPercent(double percent) {
  if (!(percent >= 0 && percent <= 1)) throw EWrongPercent("Percent need to be from 0 to 1");
}

void TNetwork::CheckLocation(const TLocation& loc) const {
  CheckLinkRange(loc.link);
  if (!(loc.percent >= 0 && loc.percent <= 1)) {
    throw EOutOfRange(Format("Percentage must be 0<=percent<=1: %n", loc.percent));
  }
  if (FLength[static_cast<std::size_t>(loc.link)] == 0) {
    throw Exception(Format("Location (link %d), is a non-valid link", loc.link));
  }
}

void TNetwork::CheckLocationList(const TLocationList& ll) const {
  CheckOpen();
  if (ll.IsEmpty()) throw Exception("Locationlist is empty");
  for (std::int32_t i = 0; i < ll.Count(); ++i) {
    const TLocation& loc = ll[i].loc;
    if (loc.link < 1 || loc.link > FLinkCount) {
      throw EOutOfRange(Format("Location (link) at index %d in list, %d, must be between 1 and %d",
                               i, loc.link, FLinkCount));
    }
    if (!(loc.percent >= 0 && loc.percent <= 1)) {
      throw EOutOfRange(
          Format("Location (percentage) at index %d in list, %n, must be between 0 and 1", i,
                 loc.percent));
    }
    if (FLength[static_cast<std::size_t>(loc.link)] == 0) {
      throw Exception(
          Format("Location (link) at index %d in list, %d, is a non-valid link", i, loc.link));
    }
  }
}

void TNetwork::CheckLocationListP(const TLocationList& ll) const {
  CheckOpen();
  if (ll.IsEmpty()) throw Exception("Locationlist is empty");
  for (const TLocationListItem& item : ll)
    CheckCoordinate(item.P);
}

void TNetwork::CheckCoordinate(const TFloatPoint& p) const {
  CheckOpen();
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
    throw ECoordinateCheck(Format("(%g , %g) are not valid coordinates", p.x, p.y));
  }
  const auto outside = [&](double xLimit, double yLimit) {
    return p.x < -xLimit || p.x > xLimit || p.y < -yLimit || p.y > yLimit;
  };
  switch (FCoordinateUnit) {
    case cuRad:
      if (outside(std::numbers::pi, std::numbers::pi / 2)) {
        throw ECoordinateCheck(Format("(%g , %g) are not valid radian coordinates", p.x, p.y));
      }
      break;
    case cuDeg:
      if (outside(180, 90)) {
        throw ECoordinateCheck(Format("(%g , %g) are not valid degree coordinates", p.x, p.y));
      }
      break;
    case cuGrad:
      if (outside(200, 100)) {
        throw ECoordinateCheck(Format("(%g , %g) are not valid grad coordinates", p.x, p.y));
      }
      break;
    default:
      break;
  }
  if (FCoordinateWindow >= 0 &&
      (p.x < FmbrX.xmin || p.x > FmbrX.xmax || p.y < FmbrX.ymin || p.y > FmbrX.ymax)) {
    throw ECoordinateCheck(Format("Coordinates (%g , %g) are beyond search area", p.x, p.y));
  }
}

void TNetwork::CheckRoadNameFile(std::int32_t roadFileID) const {
  CheckOpen();
  if (roadFileID < 1 || roadFileID > kRoadNameFileSlots) {
    throw EOutOfRange(
        Format("RoadFileID should be from 1 to %d, not %d", kRoadNameFileSlots, roadFileID));
  }
  if (!FRoadNameFiles[static_cast<std::size_t>(roadFileID)]) {
    throw ERoadNameFileNotOpen(Format("Roadnamefile %d is not open", roadFileID));
  }
}

void TNetwork::CheckExternalOpen() const {
  CheckOpen();
  if (!FexternalID || !FexternalID->IsOpen()) throw Exception("External ID is not open");
}

void TNetwork::CheckTurnIndex(std::int32_t index) const {
  CheckOpen();
  if (index < 0 || index >= TurnListCount()) {
    throw EOutOfRange(Format("Turn index must be between 0 and %d", TurnListCount() - 1));
  }
}

// ---- topology

std::int32_t TNetwork::Link2FromNode(std::int32_t link) const {
  CheckLink(link);
  return FromNodeOf(link);
}

std::int32_t TNetwork::Link2ToNode(std::int32_t link) const {
  CheckLink(link);
  return ToNodeOf(link);
}

std::int32_t TNetwork::Degree(std::int32_t node) const {
  CheckNode(node);
  return static_cast<std::int32_t>(NodeSlots(node).size());
}

std::int32_t TNetwork::Node2Link(std::int32_t node, std::int32_t linkindex) const {
  const std::int32_t degree = Degree(node);
  if (linkindex < 1 || linkindex > degree) {
    throw EOutOfRange(
        Format("Link index of node %d must be between 1 and %d: %d", node, degree, linkindex));
  }
  return std::abs(NodeSlots(node)[static_cast<std::size_t>(linkindex - 1)]);
}

bool TNetwork::NodesConnected(std::int32_t node1, std::int32_t node2) const {
  if (!fIsOpen || node1 < 1 || node1 > FNodeCount) return false;
  const std::int64_t sum = static_cast<std::int64_t>(node1) + node2;
  for (const std::int32_t slot : NodeSlots(node1)) {
    const std::int32_t link = std::abs(slot);
    if (static_cast<std::int64_t>(FromNodeOf(link)) + ToNodeOf(link) == sum) return true;
  }
  return false;
}

bool TNetwork::LoopLink(std::int32_t link) const {
  CheckLinkRange(link);
  const auto k = static_cast<std::size_t>(link);
  return FLength[k] != 0 && FromNodeOf(link) == ToNodeOf(link);
}

// ---- geometry

float TNetwork::LinkLength(std::int32_t link) const {
  CheckLinkRange(link);
  return FLength[static_cast<std::size_t>(link)];
}

float TNetwork::Length() const {
  CheckOpen();
  double sum = 0;
  for (std::size_t k = 1; k < FLength.size(); ++k)
    sum += FLength[k];
  return static_cast<float>(sum);
}

TFloatPoint TNetwork::Node2Coordinate(std::int32_t node) const {
  CheckNode(node);
  return {FX[static_cast<std::size_t>(node)], FY[static_cast<std::size_t>(node)]};
}

void TNetwork::GetGISSection(std::int32_t link, TFloatPointArrayEx& list) const {
  CheckLink(link);
  FCoord3file->ReadSection(link - 1, list);
  const auto from = static_cast<std::size_t>(FromNodeOf(link));
  const auto to = static_cast<std::size_t>(ToNodeOf(link));
  list.Pnt[0] = {FX[from], FY[from]};
  list.Pnt[static_cast<std::size_t>(list.Count - 1)] = {FX[to], FY[to]};
}

TFloatPointArrayEx TNetwork::GetGISSection(std::int32_t link) const {
  TFloatPointArrayEx list;
  GetGISSection(link, list);
  return list;
}

void TNetwork::SwapList(TFloatPointArrayEx& list) {
  const auto count = static_cast<std::size_t>(
      std::clamp<std::int32_t>(list.Count, 0, static_cast<std::int32_t>(list.Pnt.size())));
  std::reverse(list.Pnt.begin(), list.Pnt.begin() + static_cast<std::ptrdiff_t>(count));
}

double TNetwork::DistanceBetweenPoints(const TFloatPoint& p1, const TFloatPoint& p2) const {
  CheckOpen();
  return UnitDistance(FCoordinateUnit, p1, p2) * FDistfactor;
}

double TNetwork::DistanceBetweenNodes(std::int32_t node1, std::int32_t node2) const {
  return DistanceBetweenPoints(Node2Coordinate(node1), Node2Coordinate(node2));
}

double TNetwork::DistanceToNode(const TFloatPoint& p, std::int32_t node) const {
  return DistanceBetweenPoints(p, Node2Coordinate(node));
}

std::int32_t TNetwork::RandomNode(TRandom& r) const {
  CheckOpen();
  if (FNodeCount < 1) throw Exception("The network has no nodes");
  return r.NextInt(FNodeCount) + 1;
}

// ---- search area and derived values

void TNetwork::SetCoordinateWindow(double x) {
  if (std::isnan(x)) throw EInvalidParameter("CoordinateWindow must be a number");
  FCoordinateWindow = x;
  if (x >= 0) ComputeSearchArea();
}

void TNetwork::ComputeSearchArea() {
  const double dx = (Fmbr.xmax - Fmbr.xmin) * FCoordinateWindow / 100;
  const double dy = (Fmbr.ymax - Fmbr.ymin) * FCoordinateWindow / 100;
  FmbrX = {Fmbr.xmin - dx, Fmbr.ymin - dy, Fmbr.xmax + dx, Fmbr.ymax + dy};
}

void TNetwork::ComputeLengthAlpha() {
  double best = 0;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    const float length = LengthOf(link);
    if (length == 0) continue;
    const auto from = static_cast<std::size_t>(FromNodeOf(link));
    const auto to = static_cast<std::size_t>(ToNodeOf(link));
    const double straight =
        UnitDistance(FCoordinateUnit, {FX[from], FY[from]}, {FX[to], FY[to]}) * FDistfactor;
    best = std::max(best, straight / length);
    if (best > 0.999) break;
  }
  FLengthAlpha = static_cast<float>(best > 0.999 ? 1.0 : best);
}

void TNetwork::ComputeCulDeSac() {
  // Walk from every dead end into the network, marking links, while the way on is unambiguous:
  // through nodes of degree 2, and through junctions where exactly one unmarked slot remains.
  FCDS = TBitArray(static_cast<std::int64_t>(FLinkCount) + 1);
  if (Fmaxdegree < 1) return;
  const std::int32_t firstDeadEnd = (Fmaxdegree >= 2 ? a[2] : 0) + 1;
  // Every step marks a link or re-walks marked ones; no walk can need more steps than this.
  const std::int64_t stepLimit = 2 * static_cast<std::int64_t>(FLinkCount) + 2;
  for (std::int32_t start = firstDeadEnd; start <= FNodeCount; ++start) {
    std::int32_t node = start;
    std::int32_t link = std::abs(NodeSlots(node)[0]);
    for (std::int64_t step = 0; step < stepLimit; ++step) {
      FCDS.SetBit2(link, true);
      node = FromNodeOf(link) == node ? ToNodeOf(link) : FromNodeOf(link);
      const auto slots = NodeSlots(node);
      std::int32_t next = 0;
      if (slots.size() == 2) {
        // The other slot; for a loop link both slots hold it and the walk stops below.
        next = std::abs(slots[0]) == link ? std::abs(slots[1]) : std::abs(slots[0]);
        if (next == link) break;
      } else {
        std::int32_t unmarked = 0;
        for (const std::int32_t slot : slots) {
          if (!FCDS.GetBit(std::abs(slot))) {
            ++unmarked;
            next = std::abs(slot);
          }
        }
        if (unmarked != 1) break;
      }
      link = next;
    }
  }
}

// ---- search layout

void TNetwork::BuildSearchLayout(const std::int32_t* slots) {
  // Breadth-first order over the adjacency, one component after the other: nodes that are near
  // each other in the network get near numbers, so a search touches few cache lines. The order
  // changes only where data lie in memory, never the order in which a search does its work.
  const auto nodes = static_cast<std::size_t>(FNodeCount);
  // The far end of every slot, found in one pass in slot order (the walks below then read it in
  // runs instead of looking up each link's ends at random).
  const std::uint32_t slotCount = FOffsets[nodes + 1];
  std::vector<std::int32_t> far(slotCount);
  for (std::size_t u = 1; u <= nodes; ++u) {
    for (std::uint32_t s = FOffsets[u]; s < FOffsets[u + 1]; ++s) {
      const auto k = 2 * static_cast<std::size_t>(slots[s]);
      far[s] = FEnds[k] == static_cast<std::int32_t>(u) ? FEnds[k + 1] : FEnds[k];
    }
  }
  FPerm.assign(nodes + 1, 0);
  FInv.assign(nodes + 1, 0);
  std::int32_t next = 0;
  for (std::int32_t start = 1; start <= FNodeCount; ++start) {
    if (FPerm[static_cast<std::size_t>(start)] != 0) continue;
    FPerm[static_cast<std::size_t>(start)] = ++next;
    FInv[static_cast<std::size_t>(next)] = start;
    for (std::int32_t head = next; head <= next; ++head) {
      const std::int32_t u = FInv[static_cast<std::size_t>(head)];
      for (std::uint32_t s = FOffsets[static_cast<std::size_t>(u)];
           s < FOffsets[static_cast<std::size_t>(u) + 1]; ++s) {
        const std::int32_t w = far[s];
        if (FPerm[static_cast<std::size_t>(w)] != 0) continue;
        FPerm[static_cast<std::size_t>(w)] = ++next;
        FInv[static_cast<std::size_t>(next)] = w;
      }
    }
  }
  // The adjacency in that order: each slot with its link entry, the far end (by search order,
  // negative when the node is the link's to-node) and the link's length.
  std::vector<std::uint32_t> offsets(nodes + 2, 0);
  std::uint32_t position = 0;
  for (std::size_t i = 1; i <= nodes; ++i) {
    offsets[i] = position;
    const auto u = static_cast<std::size_t>(FInv[i]);
    position += FOffsets[u + 1] - FOffsets[u];
  }
  // Filled in the old order, which reads the old arrays in sequence.
  std::vector<TAdjacency> adjacency(slotCount);
  std::vector<std::uint32_t> endSlots(FEndSlots);  // non-valid links keep "no slot"
  for (std::size_t u = 1; u <= nodes; ++u) {
    const std::uint32_t base = offsets[static_cast<std::size_t>(FPerm[u])];
    for (std::uint32_t s = FOffsets[u]; s < FOffsets[u + 1]; ++s) {
      const std::int32_t link = slots[s];
      const auto k = 2 * static_cast<std::size_t>(link);
      const bool fromEnd = FEndSlots[k] == s;
      const std::int32_t target = FPerm[static_cast<std::size_t>(far[s])];
      const std::uint32_t at = base + (s - FOffsets[u]);
      adjacency[at] = {link, fromEnd ? target : -target, FLength[static_cast<std::size_t>(link)]};
      endSlots[fromEnd ? k : k + 1] = at;  // old positions stay readable in FEndSlots
    }
  }
  offsets[nodes + 1] = position;
  FOffsets = std::move(offsets);
  FAdjacency = std::move(adjacency);
  FEndSlots = std::move(endSlots);
}

// ---- optional parts

std::int64_t TNetwork::MemoryUsage() const {
  const auto bytes = [](const auto& v) {
    return static_cast<std::int64_t>(v.capacity() *
                                     sizeof(typename std::decay_t<decltype(v)>::value_type));
  };
  std::int64_t total = bytes(FLength) + bytes(FEnds) + bytes(Fattribute) + bytes(FEndSlots) +
                       bytes(FX) + bytes(FY) + bytes(FOffsets) + bytes(FAdjacency) + bytes(FPerm) +
                       bytes(FInv) + bytes(a) + FCDS.Size() / 8;
  for (const auto& slot : FLimit)
    total += bytes(slot);
  for (const auto& array : FTime)
    total += bytes(array);
  for (const auto& array : FCost)
    total += bytes(array);
  if (FCoord3file) total += FCoord3file->MemoryUsage();
  return total;
}

TTurnRestrictions& TNetwork::TurnList(std::int32_t index) {
  CheckTurnIndex(index);
  return *FTurnList[static_cast<std::size_t>(index)];
}

const TTurnRestrictions& TNetwork::TurnList(std::int32_t index) const {
  CheckTurnIndex(index);
  return *FTurnList[static_cast<std::size_t>(index)];
}

}  // namespace kvnet
