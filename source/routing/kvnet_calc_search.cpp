// TCalc: the node-mode searches, the route trace and the evaluation of routes.
#include <algorithm>
#include <cmath>
#include <type_traits>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "routing/kvnet_calc.h"
#include "store/kvnet_arealist.h"
#include "store/kvnet_network.h"

namespace kvnet {

namespace {

// Positions in a node list with the cost of their node, ordered by cost only (the quicksort of
// the lists leaves equal costs in its own order).
struct TPositionCost {
  std::int32_t position = 0;
  float cost = 0;
};

class TPositionCostList : public TBaseListSort<TPositionCost> {
 public:
  bool IsEqual(const TPositionCost& a, const TPositionCost& b) const override {
    return a.cost == b.cost;
  }
  bool IsLess(const TPositionCost& a, const TPositionCost& b) const override {
    return a.cost < b.cost;
  }
  bool IsGreater(const TPositionCost& a, const TPositionCost& b) const override {
    return a.cost > b.cost;
  }
};

// Settled nodes between progress reports and cancel checks.
constexpr std::int64_t kProgressInterval = 1 << 16;

}  // namespace

void TCalc::PrepareSearch(std::int32_t startNode) {
  FNW.CheckOpen();
  if (startNode != 0) FNW.CheckNode(startNode);
  if (FNW.LoopLinks()) throw Exception("Loop links are not allowed in the network");
  const auto size = static_cast<std::size_t>(FNW.NodeCount()) + 1;
  if (FLabels.size() != size) {
    FLabels.assign(size, TLabel{InfiniteCost, 0, 0});
    FGeneration = 0;
  }
  if (++FGeneration == 0) {  // after 2^32 searches: forget every old label once
    for (TLabel& label : FLabels)
      label.generation = 0;
    FGeneration = 1;
  }
  // The weights of the common cases come straight from the network's arrays.
  FWeightFT = nullptr;
  FWeightTF = nullptr;
  switch (FRouteCriteria) {
    case rcDist:
      FWeightFT = FWeightTF = FNW.LengthArray();
      break;
    case rcTime:
      if (!FRouteTimeOK) throw Exception("One or more timeslots points to a non-valid Time-Array");
      if (FTimeSingleSlot != -1 && FMaxSpeed == 0 && FRelativeSpeed == 1) {
        FWeightFT = FWeightTF = FNW.TimeArray(FTimeSingleSlot);
      }
      break;
    case rcCost:
      if (!FRouteCostOK) throw Exception("Call SetCostFT and SetCostTF to define Cost-Array");
      FWeightFT = FNW.CostArray(FCostFT);
      FWeightTF = FNW.CostArray(FCostTF);
      break;
  }
  FStartNode = startNode;
  Flinkdyn = 0;
  Fpercentdyn = 0;
  ResetCancelled();
}

template <class TQueue>
void TCalc::ExpandNode(TQueue& queue, std::int32_t u, const TFloatPoint& target,
                       bool ignoreRestrictions, TCulDeSacUse culDeSac, int noDriveThrough) {
  constexpr bool kEstimate = std::is_same_v<TQueue, TEstimateQueue>;
  const auto slots = FNW.SearchAdjacency(u);
  const double cu = FLabels[static_cast<std::size_t>(u)].cost;
  std::int32_t level = 0;
  if (Hierarchy && !ignoreRestrictions) level = HierarchyLevel(Point(u), target);
  // Only negative costs can improve a settled node.
  const bool mayImproveSettled = FNW.AllowNegativeCost() && FRouteCriteria == rcCost;
  const bool checks =
      !ignoreRestrictions && (noDriveThrough != 0 || culDeSac == cdsUnused || Hierarchy ||
                              FSkipLinkList != nullptr || fIncludeNodes != nullptr || Fanylimit);
  if (checks && fIncludeNodes != nullptr && !fIncludeNodes->GetBit(FNW.NetworkNode(u))) return;
  const bool anyDirection = IgnoreOneway || ignoreRestrictions;
  const float* weightFT = FWeightFT;
  const float* weightTF = FWeightTF;
  TLabel* labels = FLabels.data();
  const bool slotLengths = FRouteCriteria == rcDist;
  for (const TAdjacency& slot : slots) {
    std::int32_t link = slot.entry;
    if (link < 0) {
      if (!anyDirection) continue;
      link = -link;
    }
    const std::int32_t signedTarget = slot.target;
    const bool ft = signedTarget > 0;
    if (checks) {
      if (noDriveThrough == 1 && !FNoDriveThroughBits.GetBit(link)) continue;
      if (noDriveThrough == 2 &&
          !(ft ? FExitLinkFTBits.GetBit(link) : FExitLinkTFBits.GetBit(link))) {
        continue;
      }
      if (culDeSac == cdsUnused && FNW.CulDeSacOf(link)) continue;
      if (Hierarchy && FNW.HierarchyOf(link) > level) continue;
      if (FSkipLinkList != nullptr && FSkipLinkList->GetBit(link)) continue;
      if (Fanylimit && !LinkPassesLimits(link)) continue;
    }
    const std::int32_t v = ft ? signedTarget : -signedTarget;
    const TLabel& lv = labels[v];
    const bool settled = lv.generation == FGeneration;
    if (settled && !mayImproveSettled) continue;
    const float w = slotLengths           ? slot.length
                    : weightFT != nullptr ? (ft ? weightFT : weightTF)[link]
                                          : EdgeCost(link, ft, cu);
    const auto nc = static_cast<float>(cu + w);
    if (!(nc < (settled ? lv.cost : InfiniteCost))) continue;
    const std::int32_t signedLink = ft ? link : -link;
    if constexpr (kEstimate) {
      const auto sortvar =
          static_cast<float>(nc + Falpha * FNW.DistanceBetweenPoints(Point(v), target));
      queue.Enq(TEstimateItem{sortvar, nc, v, signedLink});
    } else {
      queue.Enq(TTreeItem{nc, v, signedLink});
    }
  }
}

template void TCalc::ExpandNode(TTreeQueue&, std::int32_t, const TFloatPoint&, bool, TCulDeSacUse,
                                int);
template void TCalc::ExpandNode(TEstimateQueue&, std::int32_t, const TFloatPoint&, bool,
                                TCulDeSacUse, int);

std::int32_t TCalc::Predecessor(std::int32_t u) const {
  const std::int32_t link = FLabels[static_cast<std::size_t>(u)].link;
  if (link == 0) return 0;
  return FNW.SearchNode(link > 0 ? FNW.FromNodeOf(link) : FNW.ToNodeOf(-link));
}

TFloatPoint TCalc::Point(std::int32_t u) const {
  const std::int32_t node = FNW.NetworkNode(u);
  return {FNW.XArray()[node], FNW.YArray()[node]};
}

void TCalc::CalcTree(std::int32_t s, TSearchMode mode, std::int32_t n, const TIntegerList* nl,
                     float bound) {
  PrepareSearch(s);
  const std::int32_t start = FNW.SearchNode(s);
  // Targets, by search number.
  std::int64_t remaining = -1;
  if (mode == smList || mode == smListN || mode == smNearest) {
    FNodeOnOff.SetSize(static_cast<std::int64_t>(FNW.NodeCount()) + 1);
    FNodeOnOff.SetAllFalse();
    for (const std::int32_t node : *nl)
      FNodeOnOff.SetBit2(FNW.SearchNode(node), true);
    remaining = FNodeOnOff.CountTrue();
    if (mode == smListN) remaining = std::min<std::int64_t>(n, remaining);
    if (FNodeOnOff.GetBit(start)) --remaining;
  }
  int noDriveThrough = 0;
  if (NoDriveThrough) {
    PrepareNoDriveThroughExits(NodeArea(s));
    noDriveThrough = 2;
  }
  FNearLink = 0;
  FNearNode = 0;
  Settle(start, 0, 0);
  PQ1.Clear();
  SetProgressMaxValue(FNW.NodeCount());
  std::int64_t settled = 1;
  const TFloatPoint noTarget{};
  std::int32_t u = start;
  TTreeItem item{};
  while (remaining != 0) {
    ExpandNode(PQ1, u, noTarget, mode == smNearestOpen, cdsAlways, noDriveThrough);
    if (!NextUnsettled(PQ1, item)) break;
    if (bound > 0 && item.sortvar > bound) break;
    Settle(item.node, item.sortvar, item.link);
    u = item.node;
    if (mode == smNearest && FNodeOnOff.GetBit(u)) {
      FNearNode = FNW.NetworkNode(u);
      break;
    }
    if ((mode == smList || mode == smListN) && FNodeOnOff.GetBit(u)) {
      --remaining;
      FNodeOnOff.SetBit2(u, false);
    }
    if (mode == smNearestOpen) {
      const std::int32_t link = std::abs(item.link);
      const std::int32_t from = FNW.NetworkNode(Predecessor(u));
      const std::int32_t to = FNW.NetworkNode(u);
      if (LinkIsOpen(link, from)) {
        FNearLink = link;
        FNearNode = from;
        break;
      }
      if (LinkIsOpen(link, to)) {
        FNearLink = link;
        FNearNode = to;
        break;
      }
    }
    if (++settled % kProgressInterval == 0) {
      ProgressExecute(static_cast<double>(settled));
      if (Cancelled()) break;
    }
  }
  ProgressExecuteZero();
}

// ---- searches

void TCalc::IsoCost(std::int32_t node) {
  CalcTree(node, smAll, 0, nullptr, MaxCost);
}

void TCalc::IsoCostList(std::int32_t node, const TIntegerList& nl) {
  FNW.CheckNodeList(nl);
  CalcTree(node, smList, 0, &nl, 0);
}

void TCalc::IsoCostListN(std::int32_t node, const TIntegerList& nl, TIntegerList& il,
                         std::int32_t n) {
  FNW.CheckNodeList(nl);
  if (n < 1 || n > nl.Count()) {
    throw EOutOfRange(Format("N (%d) should be between 1 and %d", n, nl.Count()));
  }
  CalcTree(node, smListN, n, &nl, MaxCost);
  // The reached entries, cheapest first.
  TPositionCostList list;
  for (std::int32_t i = 0; i < nl.Count(); ++i) {
    const float cost = NodeCost(nl[i]);
    if (cost > 1e36f || (MaxCost > 0 && cost > MaxCost)) continue;
    list.Add(TPositionCost{i, cost});
  }
  list.Sort();
  il.Clear();
  for (std::int32_t i = 0; i < list.Count() && i < n; ++i)
    il.Add(list[i].position);
}

std::int32_t TCalc::Nearest(std::int32_t node, const TIntegerList& nl) {
  FNW.CheckNodeList(nl);
  CalcTree(node, smNearest, 0, &nl, 0);
  if (FNearNode == 0) return -1;
  for (std::int32_t i = 0; i < nl.Count(); ++i) {
    if (nl[i] == FNearNode) return i;
  }
  return -1;
}

void TCalc::NearestOpen(std::int32_t node, std::int32_t& nearestNode, std::int32_t& nearestLink,
                        float& cost) {
  CalcTree(node, smNearestOpen, 0, nullptr, 0);
  nearestNode = FNearNode;
  nearestLink = FNearLink;
  cost = FNearNode != 0 ? NodeCost(FNearNode) : 0;
}

// ---- results

float TCalc::NodeCost(std::int32_t node) const {
  FNW.CheckNode(node);
  const auto u = static_cast<std::size_t>(FNW.SearchNode(node));
  if (u >= FLabels.size()) return InfiniteCost;  // a network opened after the last search
  const TLabel& label = FLabels[u];
  return label.generation == FGeneration && FGeneration != 0 ? label.cost : InfiniteCost;
}

float TCalc::LinkCost(std::int32_t link) const {
  FNW.CheckOpen();
  if (link < 1 || link > FNW.LinkCount()) {
    throw EOutOfRange(Format("Link-ID must be between 1 and %d: %d", FNW.LinkCount(), link));
  }
  if (FSkipLinkList != nullptr && FSkipLinkList->GetBit(link)) return InfiniteCost;
  if (FNW.LengthOf(link) == 0) return InfiniteCost;
  const float c1 = NodeCost(FNW.FromNodeOf(link));
  const float c2 = NodeCost(FNW.ToNodeOf(link));
  if (c1 < InfiniteCost && c2 < InfiniteCost) return std::max(c1, c2);
  return std::min(c1, c2);
}

TRoute TCalc::RouteFind(std::int32_t node) const {
  FNW.CheckNode(node);
  TRoute route;
  if (NodeCost(node) >= InfiniteCost) return route;
  route.nodes.push_back(node);
  std::int32_t n = FNW.SearchNode(node);
  for (std::int32_t steps = 0; steps <= FNW.NodeCount(); ++steps) {
    const TLabel& label = FLabels[static_cast<std::size_t>(n)];
    if (label.link == 0) {
      std::reverse(route.nodes.begin(), route.nodes.end());
      std::reverse(route.links.begin(), route.links.end());
      return route;
    }
    const std::int32_t p = Predecessor(n);
    if (!Settled(p)) break;  // cannot happen within one search; never follow a stale label
    // The link that settled n, or the first link in n's order that the search could have used
    // from p at the same cost.
    std::int32_t chosen = label.link;
    const float recordedCost = EdgeCost(std::abs(chosen), chosen > 0, 0);
    for (const TAdjacency& slot : FNW.SearchAdjacency(n)) {
      if (std::abs(slot.target) != p) continue;
      const std::int32_t link = std::abs(slot.entry);
      const bool ft = slot.target < 0;  // n is the to-node: travelled from the from-node p
      const std::uint16_t word = FNW.AttributeOf(link);
      const bool allowed = IgnoreOneway || (ft ? (word & (1U << kBitOnewayTF)) == 0
                                               : (word & (1U << kBitOnewayFT)) == 0);
      if (!allowed || (FSkipLinkList != nullptr && FSkipLinkList->GetBit(link)) ||
          (Fanylimit && !LinkPassesLimits(link)) || EdgeCost(link, ft, 0) != recordedCost) {
        continue;
      }
      chosen = ft ? link : -link;
      break;
    }
    route.links.push_back(chosen);
    route.nodes.push_back(FNW.NetworkNode(p));
    n = p;
  }
  return {};
}

float TCalc::RouteCost(const TRoute& route) const {
  if (route.links.empty()) return 0;
  FNW.CheckOpen();
  if (!FRouteCostOK &&
      !(FCostFT >= 0 && FCostFT < FNW.CostCount() && FCostTF >= 0 && FCostTF < FNW.CostCount())) {
    throw Exception("Call SetCostFT and SetCostTF to define Cost-Array");
  }
  const float* ft = FNW.CostArray(FCostFT);
  const float* tf = FNW.CostArray(FCostTF);
  const auto value = [&](std::int32_t signedLink) {
    const std::int32_t link = std::abs(signedLink);
    if (link < 1 || link > FNW.LinkCount()) {
      throw EOutOfRange(Format("Link-ID must be between 1 and %d: %d", FNW.LinkCount(), link));
    }
    return static_cast<double>(signedLink > 0 ? ft[link] : tf[link]);
  };
  const std::size_t n = route.links.size();
  if (route.nodes.size() == n + 1) {
    float sum = 0;  // accumulated as the search does
    for (const std::int32_t link : route.links)
      sum = static_cast<float>(sum + value(link));
    return sum;
  }
  if (n == 1) {
    const double p1 = route.percent1;
    const double p2 = route.percent2;
    return static_cast<float>(p1 < p2 ? (p2 - p1) * value(std::abs(route.links[0]))
                                      : (p1 - p2) * value(-std::abs(route.links[0])));
  }
  double sum = route.links[0] > 0 ? (1 - route.percent1) * value(route.links[0])
                                  : route.percent1 * value(route.links[0]);
  for (std::size_t i = 1; i + 1 < n; ++i)
    sum += value(route.links[i]);
  sum += route.links[n - 1] > 0 ? route.percent2 * value(route.links[n - 1])
                                : (1 - route.percent2) * value(route.links[n - 1]);
  return static_cast<float>(sum);
}

float TCalc::RouteTime(const TRoute& route) const {
  if (route.links.empty()) return 0;
  FNW.CheckOpen();
  if (!FRouteTimeOK) throw Exception("One or more timeslots points to a non-valid Time-Array");
  // With one time array for the whole week every link takes its GetTime; with time slots each
  // link takes the array of the minute at which it is entered.
  float sum = 0;
  const auto time = [&](std::int32_t signedLink) {
    const std::int32_t link = std::abs(signedLink);
    if (link < 1 || link > FNW.LinkCount()) {
      throw EOutOfRange(Format("Link-ID must be between 1 and %d: %d", FNW.LinkCount(), link));
    }
    if (FTimeSingleSlot != -1) return ModifiedTime(FTimeSingleSlot, link);
    const auto minute = static_cast<std::int64_t>(std::floor(FStarttime + sum)) % kWeekMinutes;
    const auto m = static_cast<std::size_t>(minute < 0 ? minute + kWeekMinutes : minute);
    return FNW.TimeArray(signedLink > 0 ? FTimeFT[m] : FTimeTF[m])[link];
  };
  const std::size_t n = route.links.size();
  if (route.nodes.size() == n + 1) {
    for (const std::int32_t link : route.links)
      sum += time(link);
    return sum;
  }
  if (n == 1)
    return static_cast<float>(std::fabs(route.percent2 - route.percent1) * time(route.links[0]));
  sum += static_cast<float>((route.links[0] > 0 ? 1 - route.percent1 : route.percent1) *
                            time(route.links[0]));
  for (std::size_t i = 1; i + 1 < n; ++i)
    sum += time(route.links[i]);
  sum += static_cast<float>((route.links[n - 1] > 0 ? route.percent2 : 1 - route.percent2) *
                            time(route.links[n - 1]));
  return sum;
}

}  // namespace kvnet
