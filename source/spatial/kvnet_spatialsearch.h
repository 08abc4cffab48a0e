// Coordinate questions on an open network, answered through its quad-tree index: the nearest
// node, the nearest position on a link, candidate links for a travel bearing, the nearest link
// vertex, and the nodes or links within a radius or inside a rectangle.
//
// Distances handed in and out are kilometres (the network's DistFactor applied); inside, planar
// networks measure in coordinate units and angular ones (radians, degrees, grads; x = longitude,
// y = latitude) in radians of the great circle. Between candidates at equal distance the first
// one examined wins: the leaf holding the query point first, then leaves north-east, north-west,
// south-west, south-east, and within a leaf in list order.
//
// A search object is used by one thread at a time; several may share one network.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_progress.h"
#include "foundation/kvnet_types.h"
#include "gisout/kvnet_gisarray.h"
#include "store/kvnet_locationlist.h"

namespace kvnet {

class TNetwork;
class TQuadTree;
class TQuadTreeCell;

// A candidate position for a point with a travel bearing.
struct TGPSMatch {
  TLocation Loc;
  double Distance = 0;    // kilometres from the query point
  double DifBearing = 0;  // degrees 0..180 between the bearing and the direction of travel
  bool Reverse = false;   // travel against the digitised direction
  bool OneWayMisMatch = false;
};

// Ordered by OneWayMisMatch (false first), then by Distance * 1000 + DifBearing.
class TGPSMatchList : public TBaseListSort<TGPSMatch> {
 public:
  bool IsEqual(const TGPSMatch& a, const TGPSMatch& b) const override;
  bool IsLess(const TGPSMatch& a, const TGPSMatch& b) const override;
  bool IsGreater(const TGPSMatch& a, const TGPSMatch& b) const override { return IsLess(b, a); }
};

class TSpatialSearch : public TProgressCancel {
 public:
  explicit TSpatialSearch(TNetwork& NW);
  ~TSpatialSearch() override;
  TSpatialSearch(const TSpatialSearch&) = delete;
  TSpatialSearch& operator=(const TSpatialSearch&) = delete;

  // With MBRselect, radius selections test the search rectangle instead of the true distance.
  bool MBRselect() const { return fMBRselect; }
  void SetMBRselect(bool value) { fMBRselect = value; }
  // Links (nodes) whose bit is set are never candidates; not owned.
  const TBitArray* SkipLinks() const { return FSkipLinks; }
  void SetSkipLinks(const TBitArray* value) { FSkipLinks = value; }
  const TBitArray* SkipNodes() const { return FSkipNodes; }
  void SetSkipNodes(const TBitArray* value) { FSkipNodes = value; }
  TGISArray& GISarray() { return FGISarray; }
  const std::string& GeoJSON() const { return FGeoJSON; }

  // The nearest node and its distance; node 0 and distance 1e38 when no node can be found (every
  // node skipped, or none in the network).
  void NearestNode(const TFloatPoint& P, std::int32_t& node, double& distance);
  std::int32_t NearestNodeSimple(const TFloatPoint& P);
  // The nearest position on any link, the side of P (-1 left of the digitised direction, 1
  // right), its distance and the point on the link. Without any candidate link: link 0,
  // side 1, distance 1e38 and Pnew = P.
  void NearestLocation(const TFloatPoint& P, TLocation& Loc, std::int32_t& side, double& distance,
                       TFloatPoint& Pnew);
  TLocation NearestLocationSimple(const TFloatPoint& P);
  // Sets loc of every item to the nearest location of its point.
  void NearestLocationSimpleList(TLocationList& LL);
  // Every link within SearchRadius (km) that can be travelled, once per direction, with the
  // difference between Bearing (degrees clockwise from north) and the direction of travel.
  TGPSMatchList NearestLink(const TFloatPoint& P, double Bearing, double SearchRadius);
  // The nearest vertex of any link's polyline (0 = from-node), and its distance.
  void NearestVertex(const TFloatPoint& P, std::int32_t& link, std::int32_t& index,
                     double& distance);

  // Nodes within Radius (km) of P, into List (sorted) and/or BA (resized to NodeCount + 1);
  // either may be nullptr.
  void SelectNodes(const TFloatPoint& P, double Radius, TIntegerList* List, TBitArray* BA);
  void SelectNodesList(const TFloatPoint& P, double Radius, TIntegerList& List);
  void SelectNodesArray(const TFloatPoint& P, double Radius, TBitArray& BA);
  // Links within Radius (km) of P; BA (resized to LinkCount + 1) marks the links taken.
  void SelectLinks(const TFloatPoint& P, double Radius, TIntegerList* List, TBitArray& BA);
  void SelectLinksList(const TFloatPoint& P, double Radius, TIntegerList& List);
  void SelectLinksArray(const TFloatPoint& P, double Radius, TBitArray& BA);
  // Links with a vertex inside R (sorted), and nodes inside R (in walk order; SkipNodes does
  // not apply).
  void SelectLinksInRect(const TFloatRect& R, TIntegerList& list);
  void SelectNodesInRect(const TFloatRect& R, TIntegerList& list);

  // The search rectangle of P and a radius in index units (exposed for the tests).
  TFloatRect SearchRect(const TFloatPoint& P, double r) const;

 protected:
  // When set, only links whose bit is set are candidates of the nearest-location search.
  const TBitArray* FBA = nullptr;

 private:
  using TLeafAction = std::function<void(const TQuadTreeCell& leaf, TFloatRect& rect)>;

  const TQuadTree& CheckSpatialIndex() const;
  bool Skipped(const TBitArray* ba, std::int32_t id) const;
  // The nearest search shared by NearestNode and NearestLocation: the action examines a leaf and
  // lowers best; returns false when nothing was found.
  bool NearestSearch(const TFloatPoint& P, double& best, const TLeafAction& action);
  double PointDistance(const TFloatPoint& a, const TFloatPoint& b) const;
  void SelectLinksCore(const TFloatPoint& P, double radius, TIntegerList* List, TBitArray& BA);

  TNetwork& FNW;
  bool fMBRselect = false;
  const TBitArray* FSkipLinks = nullptr;
  const TBitArray* FSkipNodes = nullptr;
  TFloatPointArrayEx list1;
  TFloatPointArrayEx list2;
  TGISArray FGISarray;
  std::string FGeoJSON;
  TBitArray FVisited;
};

}  // namespace kvnet
