#include "routes/kvnet_routecalc.h"

#include <cmath>

#include "foundation/kvnet_exceptions.h"
#include "store/kvnet_network.h"

namespace kvnet {

TRouteCalc::TRouteCalc(TNetwork& nw, bool aTurnmode) : TCalc(nw, aTurnmode) {}

void TRouteCalc::SetAlpha(float value) {
  if (std::isfinite(value) && value >= 0) FXAlpha = value;
}

void TRouteCalc::SetHierarchyLevel(double h2, double h3, double h4, double h5) {
  if (h2 >= h3 && h3 >= h4 && h4 >= h5 && h5 > 0) FLevelLimit = {h2, h3, h4, h5};
}

void TRouteCalc::SetSkipNodeList(const TBitArray* list) {
  FNW.CheckOpen();
  if (list != nullptr && list->Size() != static_cast<std::int64_t>(FNW.NodeCount()) + 1) {
    throw Exception("SkipNodeList has wrong size");
  }
  FSkipNodeList = list;
}

float TRouteCalc::EstimateFactor() {
  FNW.UpdateAlphas();  // nothing to do unless a time or cost went down since the last time
  switch (FRouteCriteria) {
    case rcDist:
      return FXAlpha * FNW.LengthAlpha();
    case rcTime:
      return FXAlpha * FNW.TimeAlpha();
    default:
      return FXAlpha * FNW.CostAlpha();
  }
}

bool TRouteCalc::AllCulDeSac(std::int32_t node) const {
  for (const std::int32_t entry : FNW.NodeSlots(node)) {
    if (!FNW.CulDeSacOf(std::abs(entry))) return false;
  }
  return true;
}

float TRouteCalc::Route(std::int32_t node1, std::int32_t node2) {
  FNW.CheckNode(node1);
  FNW.CheckNode(node2);
  PrepareSearch(node1);
  const std::int32_t start = FNW.SearchNode(node1);
  const std::int32_t goal = FNW.SearchNode(node2);
  Settle(start, 0, 0);
  const auto skipped = [this](std::int32_t node) {
    return FSkipNodeList != nullptr && FSkipNodeList->GetBit(node);
  };
  if (skipped(node1) || skipped(node2)) return -1;
  if (node1 == node2) return 0;
  // Lmax follows the search; the caller's value comes back however the search ends.
  struct TRestoreLmax {
    std::int32_t& value;
    std::int32_t saved;
    ~TRestoreLmax() { value = saved; }
  } restore{Lmax, Lmax};
  Lmax = 5;
  Falpha = EstimateFactor();
  const TFloatPoint target = FNW.Node2Coordinate(node2);
  int noDriveThrough = 0;
  if (NoDriveThrough) {
    PrepareNoDriveThroughAreas(NodeArea(node1), NodeArea(node2));
    noDriveThrough = 1;
  }
  TCulDeSacUse culDeSac = cdsUnused;
  if (SkipCulDeSacOptimization || AllCulDeSac(node2)) {
    culDeSac = cdsAlways;
  } else if (AllCulDeSac(node1)) {
    culDeSac = cdsLeaveOrigin;
  }
  PQ2.Clear();
  float result = -1;
  std::int32_t u = start;
  TEstimateItem item{};
  for (;;) {
    if (u == start || !skipped(FNW.NetworkNode(u))) {
      ExpandNode(PQ2, u, target, false, culDeSac, noDriveThrough);
    }
    if (!NextUnsettled(PQ2, item)) break;
    const std::int32_t link = std::abs(item.link);
    if (culDeSac == cdsLeaveOrigin && !FNW.CulDeSacOf(link)) culDeSac = cdsUnused;
    if (Hierarchy) Lmax = FNW.HierarchyOf(link);
    Settle(item.node, item.cost, item.link);
    u = item.node;
    if (u == goal) {
      result = item.cost;
      break;
    }
  }
  return result;
}

}  // namespace kvnet
