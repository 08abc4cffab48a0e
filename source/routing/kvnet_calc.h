// TCalc, the routing engine: shortest, fastest or cheapest trees and routes on an open network,
// with one-way rules, vehicle limits, skip lists, hierarchy levels, no-drive-through areas and
// time slots.
//
// A TCalc keeps the labels of its last search (cost and predecessor per node) and answers
// NodeCost, LinkCost and RouteFind from them. The network is only read: several calculators, each
// used by one thread, may search one network at the same time as long as nothing changes the
// network meanwhile. Labels, queues and target bits are allocated once per calculator and reused;
// a generation counter resets all labels in constant time, so a search never pays for the parts
// of the network it does not reach and allocates nothing once its queue has grown.
//
// Costs are 32-bit floats accumulated in double precision; InfiniteCost (1e38f) marks a node the
// last search did not reach.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/kvnet_bitarray.h"
#include "foundation/kvnet_progress.h"
#include "foundation/kvnet_types.h"
#include "routing/kvnet_pq.h"

namespace kvnet {

class TIntegerList;
class TNetwork;

enum TRouteCriteria : std::uint8_t { rcDist = 0, rcTime = 1, rcCost = 2 };
enum TDistanceUnit : std::uint8_t { duKm = 0, duMiles = 1 };
enum TApproach : std::uint8_t { apIgnore = 0, apForward = 1, apReverse = 2 };
enum TSearchMode : std::uint8_t { smAll = 0, smList, smListN, smNearest, smNearestOpen };

inline constexpr float InfiniteCost = 1e38f;
inline constexpr std::int32_t NotVisited = 2147483647;
inline constexpr std::int32_t kWeekMinutes = 7 * 24 * 60;

class TCalc : public TProgressCancel {
 public:
  // Node mode only: the turn-mode search arrives with turn restrictions (aTurnmode true raises
  // EInvalidParameter until then).
  TCalc(TNetwork& nw, bool aTurnmode = false);
  ~TCalc() override;
  TCalc(const TCalc&) = delete;
  TCalc& operator=(const TCalc&) = delete;

  TNetwork& Network() const { return FNW; }
  bool Turnmode() const { return FTurnMode; }

  // ---- criterion and arrays

  // The network cost array used in both directions; EOutOfRange when it does not exist.
  void SetCost(std::int32_t index);
  void SetCostFT(std::int32_t index);
  void SetCostTF(std::int32_t index);
  // The network time array used in every minute of the week, both directions.
  void SetTime(std::int32_t index);
  // One time array for a span of minutes of the week [from, to) in both directions.
  void SetTimePeriod(std::int32_t index, std::int32_t fromMinute, std::int32_t toMinute);
  void SetTurn(std::int32_t index);
  void SetShortest(bool turncosts);
  void SetFastest(bool turncosts);
  void SetCheapest(bool turncosts);
  TRouteCriteria RouteCriteria() const { return FRouteCriteria; }
  bool TurnCosts() const { return FTurnCosts; }

  // ---- search settings

  // LimitID 1..9 sets the vehicle's value for that limit layer; other ids are ignored.
  void SetLimit(std::int32_t limitID, std::uint8_t value);
  std::uint8_t Limit(std::int32_t limitID) const;
  // nullptr switches the skip list off; the list is referenced, not copied (size LinkCount + 1).
  void SetSkipLinkList(const TBitArray* list);
  const TBitArray* SkipLinkList() const { return FSkipLinkList; }
  // Accepted when x >= 0 (0 = no cap); else ignored.
  void SetMaxSpeed(float x);
  float MaxSpeed() const { return FMaxSpeed; }
  // Accepted when 0.01 <= x <= 1; else ignored.
  void SetRelativeSpeed(double x);
  double RelativeSpeed() const { return FRelativeSpeed; }
  void SetThreads(std::int32_t n);
  std::int32_t Threads() const { return FThreads; }
  // On only when the network has its spatial index loaded.
  void SetSmartInit(bool value);
  bool SmartInit() const { return FSmartInit; }
  // Minutes from the start of the week; wrapped into the week. Non-finite values raise.
  void SetStarttime(float value);
  float Starttime() const { return FStarttime; }

  float MaxCost = 0;  // bound of tree searches; 0 = none
  float MaxCostExt = 0;
  bool IgnoreOneway = false;
  bool NoDriveThrough = false;
  bool Hierarchy = false;
  std::int32_t Lmax = 5;
  bool UTurnAllowed = false;
  bool SkipCulDeSacOptimization = false;
  TDistanceUnit DistanceUnit = duKm;
  std::int16_t DecimalsDist = -1;
  std::int16_t DecimalsTime = -1;
  bool TimeFormatAsString = false;
  bool IsopolyRandomnization = false;
  double MatrixBuffer = 0;

  // ---- searches (node mode)

  // Full tree from node, bounded by MaxCost.
  void IsoCost(std::int32_t node);
  // Tree until every node of nl is settled.
  void IsoCostList(std::int32_t node, const TIntegerList& nl);
  // Tree until n nodes of nl are settled (bounded by MaxCost); il receives the positions in nl
  // of the reached entries, cheapest first, at most n.
  void IsoCostListN(std::int32_t node, const TIntegerList& nl, TIntegerList& il, std::int32_t n);
  // Position in nl of the first node settled (not the start itself), or -1.
  std::int32_t Nearest(std::int32_t node, const TIntegerList& nl);
  // The nearest place from which an open link leaves; zeros when there is none.
  void NearestOpen(std::int32_t node, std::int32_t& nearestNode, std::int32_t& nearestLink,
                   float& cost);

  // ---- results of the last search

  float NodeCost(std::int32_t node) const;
  float LinkCost(std::int32_t link) const;
  TRoute RouteFind(std::int32_t node) const;
  float RouteCost(const TRoute& route) const;
  float RouteTime(const TRoute& route) const;
  // The node the last search started from (0 after a location search).
  std::int32_t StartNode() const { return FStartNode; }

  void SelectClosedLinks(TBitArray& ba, bool includeoneway) const;
  // Travel time of a link in time array index with MaxSpeed and RelativeSpeed applied.
  float GetTime(std::int32_t index, std::int32_t link) const;

  // A new calculator on the same network with the same criterion and search settings.
  std::unique_ptr<TCalc> CloneCalc() const;

 protected:
  // The label of a node in the current search: its cost and the link that settled it, signed
  // by the direction of travel (0 for the start); the predecessor is that link's other end.
  struct TLabel {
    float cost;
    std::int32_t link;
    std::uint32_t generation;
  };

  // Queue items of the searches: the tree search orders by cost, the goal-directed search by
  // cost plus estimate. Both keep the heap rules of TPQ; the node an item comes from is the other
  // end of its signed link.
  struct TTreeItem {
    float sortvar;  // = cost
    std::int32_t node;
    std::int32_t link;
    float Cost() const { return sortvar; }
  };
  struct TEstimateItem {
    float sortvar;
    float cost;
    std::int32_t node;
    std::int32_t link;
    float Cost() const { return cost; }
  };
  using TTreeQueue = TPQbase<TTreeItem, TPQNoEmpty>;
  using TEstimateQueue = TPQbase<TEstimateItem, TPQNoEmpty>;

  // How ExpandNode treats dead-end links.
  enum TCulDeSacUse : std::uint8_t { cdsUnused = 0, cdsLeaveOrigin = 1, cdsAlways = 2 };

  // Checks, loop-link refusal, label sizing and a new generation.
  void PrepareSearch(std::int32_t startNode);
  void CalcTree(std::int32_t s, TSearchMode mode, std::int32_t n, const TIntegerList* nl,
                float bound);
  // Relaxes every usable link at u into queue (TTreeQueue or TEstimateQueue; the estimate is
  // used with the latter).
  template <class TQueue>
  void ExpandNode(TQueue& queue, std::int32_t u, const TFloatPoint& target, bool ignoreRestrictions,
                  TCulDeSacUse culDeSac, int noDriveThrough);
  bool Settled(std::int32_t node) const {
    return FLabels[static_cast<std::size_t>(node)].generation == FGeneration;
  }
  void Settle(std::int32_t node, float cost, std::int32_t link) {
    FLabels[static_cast<std::size_t>(node)] = {cost, link, FGeneration};
  }
  // Predecessor of a settled node (0 for the start). Inside the searches nodes are search
  // numbers (TNetwork::SearchNode); labels, queue items and targets use them.
  std::int32_t Predecessor(std::int32_t u) const;
  TFloatPoint Point(std::int32_t u) const;
  // Takes the next item of an unsettled node from the queue; false when the queue runs dry.
  template <class TQueue, class TItem>
  bool NextUnsettled(TQueue& queue, TItem& item) const {
    while (!queue.Empty()) {
      item = queue.DeqNonEmpty();
      if (!Settled(item.node)) return true;
    }
    return false;
  }
  bool LinkPassesLimits(std::int32_t link) const;
  bool LinkIsOpen(std::int32_t link, std::int32_t node) const;
  // Cost of traversing link from its from-node (ft) or to-node, starting at accumulated cost x.
  float EdgeCost(std::int32_t link, bool ft, double x) const;
  // GetTime without its checks.
  float ModifiedTime(std::int32_t index, std::int32_t link) const;
  // Weight arrays for the common static cases (set by PrepareSearch), or nullptr when every
  // cost goes through EdgeCost (time slots, speed modifiers).
  const float* FWeightFT = nullptr;
  const float* FWeightTF = nullptr;
  std::int32_t HierarchyLevel(const TFloatPoint& from, const TFloatPoint& target) const;
  // Rebuilds the exit bits for a search that starts in area startArea.
  void PrepareNoDriveThroughExits(std::int32_t startArea);
  // Rebuilds the no-through-traffic bits so that areas area1 and area2 may be entered.
  void PrepareNoDriveThroughAreas(std::int32_t area1, std::int32_t area2);
  // The area a node lies in when all its links lie in one area, else 0.
  std::int32_t NodeArea(std::int32_t node) const;
  void CheckSlots();
  // The index of the array of a criterion kind, with its own message.
  void CheckArrayIndex(std::int32_t index, bool time) const;
  void SetIncludeNodes(const TBitArray* nodes) { fIncludeNodes = nodes; }

  TNetwork& FNW;
  bool FTurnMode;
  TRouteCriteria FRouteCriteria = rcDist;
  bool FTurnCosts = false;
  std::int32_t FCostFT = 0;
  std::int32_t FCostTF = 0;
  std::vector<std::int32_t> FTimeFT;
  std::vector<std::int32_t> FTimeTF;
  std::vector<std::int32_t> FTurn;
  std::int32_t FTimeSingleSlot = 0;
  std::int32_t FTurnSingleSlot = 0;
  bool FRouteTimeOK = false;
  bool FRouteCostOK = false;
  bool FTurnsOK = false;
  float FStarttime = 0;
  float FMaxSpeed = 0;
  double FRelativeSpeed = 1;
  float FMaxICost = 0;
  const TBitArray* FSkipLinkList = nullptr;
  std::array<std::uint8_t, 10> FLimits{};  // index 1..9
  bool Fanylimit = false;
  TBitArray FNoDriveThroughBits;
  TBitArray FExitLinkFTBits;
  TBitArray FExitLinkTFBits;
  const TBitArray* fIncludeNodes = nullptr;
  std::array<double, 4> FLevelLimit{InfiniteCost, InfiniteCost, InfiniteCost, InfiniteCost};
  float Falpha = 0;
  bool FSmartInit = false;
  std::int32_t FThreads = 1;

  std::vector<TLabel> FLabels;  // index = node id
  std::uint32_t FGeneration = 0;
  std::int32_t FStartNode = 0;
  std::int32_t Flinkdyn = 0;
  double Fpercentdyn = 0;
  TTreeQueue PQ1;
  TEstimateQueue PQ2;
  TBitArray FNodeOnOff;
  std::int32_t FNearLink = 0;
  std::int32_t FNearNode = 0;
};

}  // namespace kvnet
