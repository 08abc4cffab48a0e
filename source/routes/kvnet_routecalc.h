// TRouteCalc: goal-directed searches between one origin and one destination, on top of the
// routing engine. A search stops as soon as the destination is settled, is steered by a
// straight-line estimate (Alpha x the network's lower-bound factor x distance to the target),
// keeps away from dead ends that cannot lie on the route, can keep far-away expansion to higher
// road classes (Hierarchy with SetHierarchyLevel) and can block nodes (SetSkipNodeList).
// Results are costs under the current criterion, -1 when there is no route; RouteFind traces
// the route of the last call.
#pragma once

#include <cstdint>

#include "routing/kvnet_calc.h"

namespace kvnet {

class TRouteCalc : public TCalc {
 public:
  TRouteCalc(TNetwork& nw, bool aTurnmode = false);

  // Weight of the straight-line estimate (1 keeps routes optimal; larger values search less and
  // may miss the cheapest route).
  float Alpha() const { return FXAlpha; }
  void SetAlpha(float value);
  bool DuplicateLinks() const { return FDuplicateLinks; }
  void SetDuplicateLinks(bool value) { FDuplicateLinks = value; }

  // Distance thresholds (km) of the hierarchy levels; accepted only when h2 >= h3 >= h4 >= h5 > 0.
  void SetHierarchyLevel(double h2, double h3, double h4, double h5);
  // Nodes a route may not pass (size NodeCount + 1, referenced); nullptr removes the list.
  void SetSkipNodeList(const TBitArray* list);

  // Cost from node1 to node2 (0 when equal), -1 when unreachable or when either node is in the
  // skip node list.
  float Route(std::int32_t node1, std::int32_t node2);

 private:
  // The estimate factor of the current criterion: Alpha x the network's lower-bound factor.
  float EstimateFactor();
  bool AllCulDeSac(std::int32_t node) const;

  float FXAlpha = 1.0f;
  const TBitArray* FSkipNodeList = nullptr;
  bool FDuplicateLinks = true;
};

}  // namespace kvnet
