#include "spatial/kvnet_spatialsearch.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>

#include "foundation/kvnet_exceptions.h"
#include "store/kvnet_coord3file.h"
#include "store/kvnet_coordunit.h"
#include "store/kvnet_network.h"
#include "store/kvnet_quadtree.h"
#include "store/kvnet_segmentgeometry.h"

namespace kvnet {

namespace {

// The single-precision 1e38 that stands for "nothing found yet".
const double kNoDistance = static_cast<double>(1e38f);

// The vertices of a link (0 = from-node), read in place from the cached shape points, or copied
// into a scratch polyline when the points are not cached.
class TLinkVertices {
 public:
  void Load(const TNetwork& net, std::int32_t link, TFloatPointArrayEx& scratch) {
    std::int32_t n = 0;
    const TFloatPoint* inner = net.Coord3File().CachedPoints(link - 1, n);
    if (inner == nullptr) {
      net.GetGISSection(link, scratch);
      FPoints = scratch.Pnt.data();
      FInner = nullptr;
      FCount = scratch.Count;
      return;
    }
    const auto from = static_cast<std::size_t>(net.FromNodeOf(link));
    const auto to = static_cast<std::size_t>(net.ToNodeOf(link));
    FFrom = {net.XArray()[from], net.YArray()[from]};
    FTo = {net.XArray()[to], net.YArray()[to]};
    FInner = inner;
    FPoints = nullptr;
    FCount = n + 2;
  }
  std::int32_t Count() const { return FCount; }
  const TFloatPoint& operator[](std::int32_t i) const {
    if (FPoints != nullptr) return FPoints[i];
    if (i == 0) return FFrom;
    return i == FCount - 1 ? FTo : FInner[i - 1];
  }

 private:
  TFloatPoint FFrom;
  TFloatPoint FTo;
  const TFloatPoint* FInner = nullptr;
  const TFloatPoint* FPoints = nullptr;
  std::int32_t FCount = 0;
};

// Squared planar distance from p to the segment a-b: a cheap first test before the exact one.
double SegmentDistance2(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& p) {
  const double abx = b.x - a.x;
  const double aby = b.y - a.y;
  const double apx = p.x - a.x;
  const double apy = p.y - a.y;
  const double len2 = abx * abx + aby * aby;
  double t = len2 > 0 ? (apx * abx + apy * aby) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  const double dx = apx - t * abx;
  const double dy = apy - t * aby;
  return dx * dx + dy * dy;
}

// Margin of the squared first tests: far above the rounding of either formula.
constexpr double kPrefilterMargin = 1 + 1e-9;

bool Inside(const TFloatRect& r, const TFloatPoint& p) {
  return r.xmin <= p.x && p.x <= r.xmax && r.ymin <= p.y && p.y <= r.ymax;
}

bool Covers(const TFloatRect& outer, const TFloatRect& inner) {
  return outer.xmin <= inner.xmin && outer.xmax >= inner.xmax && outer.ymin <= inner.ymin &&
         outer.ymax >= inner.ymax;
}

// Direction of travel from A to B in degrees, counter-clockwise from north, in [0, 360).
double TravelDirection(TCoordinateUnit unit, const TFloatPoint& a, const TFloatPoint& b) {
  if (IsAngularUnit(unit)) {
    const double f = RadiansPerUnit(unit);
    return sphere::Course(a.x * f, a.y * f, b.x * f, b.y * f) * sphere::kDegrees;
  }
  if (a.x == b.x) return a.y <= b.y ? 0 : 180;
  double d = std::atan2(b.y - a.y, b.x - a.x) * sphere::kDegrees + 270;
  if (d >= 360) d -= 360;
  return d;
}

double BearingGap(double d, double q) {
  double diff = std::fabs(d - q);
  if (diff > 180) diff = 360 - diff;
  return diff;
}

}  // namespace

bool TGPSMatchList::IsEqual(const TGPSMatch& a, const TGPSMatch& b) const {
  return a.Distance == b.Distance && a.DifBearing == b.DifBearing &&
         a.OneWayMisMatch == b.OneWayMisMatch;
}

bool TGPSMatchList::IsLess(const TGPSMatch& a, const TGPSMatch& b) const {
  if (a.OneWayMisMatch != b.OneWayMisMatch) return !a.OneWayMisMatch;
  return a.Distance * 1000 + a.DifBearing < b.Distance * 1000 + b.DifBearing;
}

TSpatialSearch::TSpatialSearch(TNetwork& NW) : FNW(NW) {
  list1.Pnt.resize(1000);
  list2.Pnt.resize(1000);
}

TSpatialSearch::~TSpatialSearch() = default;

const TQuadTree& TSpatialSearch::CheckSpatialIndex() const {
  FNW.CheckOpen();
  const TQuadTree* tree = FNW.Quadtree();
  if (tree == nullptr || tree->MainCell() == nullptr) {
    throw Exception("Spatial index need to be open");
  }
  return *tree;
}

bool TSpatialSearch::Skipped(const TBitArray* ba, std::int32_t id) const {
  return ba != nullptr && id < ba->Size() && ba->GetBit(id);
}

double TSpatialSearch::PointDistance(const TFloatPoint& a, const TFloatPoint& b) const {
  return UnitDistance(FNW.CoordinateUnit(), a, b);
}

TFloatRect TSpatialSearch::SearchRect(const TFloatPoint& P, double r) const {
  const TCoordinateUnit unit = FNW.CoordinateUnit();
  if (!IsAngularUnit(unit)) return {P.x - r, P.y - r, P.x + r, P.y + r};
  const double f = RadiansPerUnit(unit);
  const double ry = r / f;  // the radius in coordinate units
  TFloatRect rect{P.x, P.y - ry, P.x, P.y + ry};
  // East-west the radius covers more longitude the farther from the equator; the rectangle's
  // edge farthest from it decides (in either hemisphere). Reaching a pole, every longitude does.
  const double farthest = std::max(std::fabs(rect.ymin), std::fabs(rect.ymax)) * f;
  const double cosine = std::cos(farthest);
  if (farthest >= std::numbers::pi / 2 || cosine <= 1e-12) {
    rect.xmin = -DBL_MAX;
    rect.xmax = DBL_MAX;
  } else {
    rect.xmin = P.x - ry / cosine;
    rect.xmax = P.x + ry / cosine;
  }
  return rect;
}

bool TSpatialSearch::NearestSearch(const TFloatPoint& P, double& best, const TLeafAction& action) {
  const TQuadTree& tree = CheckSpatialIndex();
  FNW.CheckCoordinate(P);
  FVisited.SetSize(static_cast<std::int64_t>(tree.CellCount()) + 1);
  FVisited.SetAllFalse();
  best = kNoDistance;
  TFloatRect rect = SearchRect(P, 0);
  const auto visit = [&](const TQuadTreeCell& leaf) {
    action(leaf, rect);
    FVisited.SetBit(leaf.ID, true);
  };
  const TQuadTreeCell* home = tree.FindLeaf(P);
  if (home != nullptr) visit(*home);
  if (best == kNoDistance) {
    // Grow a rectangle from the home leaf's smaller side until something turns up, or until it
    // covers the whole index.
    const TFloatRect& cell = home != nullptr ? home->Rect : tree.MainCell()->Rect;
    const TFloatRect& root = tree.MainCell()->Rect;
    const double f = IsAngularUnit(FNW.CoordinateUnit()) ? RadiansPerUnit(FNW.CoordinateUnit()) : 1;
    double r = std::min(cell.xmax - cell.xmin, cell.ymax - cell.ymin) * f;
    if (!(r > 0)) r = std::max(root.xmax - root.xmin, root.ymax - root.ymin) * f;
    if (!(r > 0)) r = 1e-9;
    while (best == kNoDistance) {
      rect = SearchRect(P, r);
      tree.VisitLeaves(rect, &FVisited, visit);
      if (best != kNoDistance || Covers(SearchRect(P, r), root)) break;
      r *= 1.5;
    }
    if (best == kNoDistance) return false;
  }
  rect = SearchRect(P, best);
  tree.VisitLeaves(rect, &FVisited, visit);
  return true;
}

void TSpatialSearch::NearestNode(const TFloatPoint& P, std::int32_t& node, double& distance) {
  double best = kNoDistance;
  std::int32_t found = 0;
  const bool planar = !IsAngularUnit(FNW.CoordinateUnit());
  const double* xs = FNW.XArray();
  const double* ys = FNW.YArray();
  const bool any = NearestSearch(P, best, [&](const TQuadTreeCell& leaf, TFloatRect& rect) {
    bool improved = false;
    const double limit2 = best * best * kPrefilterMargin;
    const bool packed = leaf.nodeXY.size() == static_cast<std::size_t>(leaf.nodes.Count());
    for (std::int32_t i = 0; i < leaf.nodes.Count(); ++i) {
      const std::int32_t n = leaf.nodes[i];
      if (Skipped(FSkipNodes, n)) continue;
      const TFloatPoint q =
          packed ? leaf.nodeXY[static_cast<std::size_t>(i)] : TFloatPoint{xs[n], ys[n]};
      if (planar && best < kNoDistance &&
          (q.x - P.x) * (q.x - P.x) + (q.y - P.y) * (q.y - P.y) > limit2) {
        continue;
      }
      const double d = PointDistance(P, q);
      if (d < best) {
        best = d;
        found = n;
        improved = true;
      }
    }
    if (improved) rect = SearchRect(P, best);
  });
  node = any ? found : 0;
  distance = any ? best * FNW.DistFactor() : kNoDistance;
}

std::int32_t TSpatialSearch::NearestNodeSimple(const TFloatPoint& P) {
  std::int32_t node = 0;
  double distance = 0;
  NearestNode(P, node, distance);
  return node;
}

void TSpatialSearch::NearestLocation(const TFloatPoint& P, TLocation& Loc, std::int32_t& side,
                                     double& distance, TFloatPoint& Pnew) {
  const TCoordinateUnit unit = FNW.CoordinateUnit();
  double best = kNoDistance;
  std::int32_t bestLink = 0;
  std::int32_t bestEnd = 0;  // the end vertex of the nearest segment
  const bool planar = !IsAngularUnit(unit);
  TLinkVertices vertices;
  const bool any = NearestSearch(P, best, [&](const TQuadTreeCell& leaf, TFloatRect& rect) {
    bool improved = false;
    std::int32_t fetched = 0;
    const bool boxed = planar && leaf.runBox.size() == static_cast<std::size_t>(leaf.SLL.Count());
    for (std::int32_t r = 0; r < leaf.SLL.Count(); ++r) {
      const TSubLink& run = leaf.SLL[r];
      if (Skipped(FSkipLinks, run.Link) ||
          (FBA != nullptr && !(run.Link < FBA->Size() && FBA->GetBit(run.Link)))) {
        continue;
      }
      if (boxed && best < kNoDistance) {
        // A run whose box lies farther away than the best cannot hold anything nearer.
        const TRunBox& box = leaf.runBox[static_cast<std::size_t>(r)];
        const double dx = std::max(
            {static_cast<double>(box.xmin) - P.x, 0.0, P.x - static_cast<double>(box.xmax)});
        const double dy = std::max(
            {static_cast<double>(box.ymin) - P.y, 0.0, P.y - static_cast<double>(box.ymax)});
        if (dx * dx + dy * dy > best * best * kPrefilterMargin) continue;
      }
      if (fetched != run.Link) {
        vertices.Load(FNW, run.Link, list1);
        fetched = run.Link;
      }
      const std::int32_t last = std::min<std::int32_t>(run.sub2, vertices.Count() - 1);
      for (std::int32_t i = run.sub1; i < last; ++i) {
        const TFloatPoint& a = vertices[i];
        const TFloatPoint& b = vertices[i + 1];
        if (planar && best < kNoDistance &&
            SegmentDistance2(a, b, P) > best * best * kPrefilterMargin) {
          continue;
        }
        const TSegmentHit hit = SegmentHit(unit, a, b, P);
        if (hit.w < best) {
          best = hit.w;
          bestLink = run.Link;
          bestEnd = i + 1;
          improved = true;
        }
      }
    }
    if (improved) rect = SearchRect(P, best);
  });
  if (!any) {
    Loc = TLocation{0, 0};
    side = 1;
    distance = kNoDistance;
    Pnew = P;
    return;
  }
  // Along the whole polyline to the nearest segment.
  FNW.GetGISSection(bestLink, list1);
  double total = 0;
  double along = 0;
  for (std::int32_t i = 1; i < list1.Count; ++i) {
    const TSegmentHit hit = SegmentHit(unit, list1.Pnt[static_cast<std::size_t>(i) - 1],
                                       list1.Pnt[static_cast<std::size_t>(i)], P);
    if (i == bestEnd) {
      along = total + hit.t;
      side = hit.side;
      Pnew = hit.n;
    }
    total += hit.L;
  }
  double percent = 0;
  if (total > along) {
    percent = along / total;
  } else if (total > 0) {
    percent = 1;
  }
  Loc = TLocation{bestLink, percent};
  distance = best * FNW.DistFactor();
}

TLocation TSpatialSearch::NearestLocationSimple(const TFloatPoint& P) {
  TLocation loc;
  std::int32_t side = 0;
  double distance = 0;
  TFloatPoint pnew;
  NearestLocation(P, loc, side, distance, pnew);
  return loc;
}

void TSpatialSearch::NearestLocationSimpleList(TLocationList& LL) {
  for (std::int32_t i = 0; i < LL.Count(); ++i) {
    TLocationListItem item = LL[i];
    item.loc = NearestLocationSimple(item.P);
    LL.SetItem(i, item);
  }
}

TGPSMatchList TSpatialSearch::NearestLink(const TFloatPoint& P, double Bearing,
                                          double SearchRadius) {
  TIntegerList candidates;
  SelectLinksList(P, SearchRadius, candidates);
  const TCoordinateUnit unit = FNW.CoordinateUnit();
  const double factor = FNW.DistFactor();
  const double q = 360 - Bearing;
  TGPSMatchList result;
  for (const std::int32_t link : candidates) {
    const std::uint16_t code = FNW.OneWayGet(link) >> 9;
    if (code == 3) continue;
    FNW.GetGISSection(link, list2);
    double bestFT = kNoDistance;
    double bestTF = kNoDistance;
    double distFT = 0;
    double distTF = 0;
    double alongFT = 0;
    double alongTF = 0;
    double m = 0;
    for (std::int32_t i = 1; i < list2.Count; ++i) {
      const TFloatPoint& a = list2.Pnt[static_cast<std::size_t>(i) - 1];
      const TFloatPoint& b = list2.Pnt[static_cast<std::size_t>(i)];
      const TSegmentHit hit = SegmentHit(unit, a, b, P);
      const double distance = hit.w * factor;
      if (SearchRadius > distance) {
        const double d = TravelDirection(unit, a, b);
        const double diff = BearingGap(d, q);
        if (diff < bestFT) {
          bestFT = diff;
          distFT = distance;
          alongFT = m + hit.t;
        }
        double d2 = d + 180;
        if (d2 > 360) d2 -= 360;
        const double diff2 = BearingGap(d2, q);
        if (diff2 < bestTF) {
          bestTF = diff2;
          distTF = distance;
          alongTF = m + hit.t;
        }
      }
      m += hit.L;
    }
    if (bestFT != kNoDistance) {
      result.Add(TGPSMatch{{link, m == 0 ? 0 : alongFT / m}, distFT, bestFT, false, code == 2});
    }
    if (bestTF != kNoDistance) {
      result.Add(TGPSMatch{{link, m == 0 ? 0 : alongTF / m}, distTF, bestTF, true, code == 1});
    }
  }
  result.Sort();
  return result;
}

void TSpatialSearch::NearestVertex(const TFloatPoint& P, std::int32_t& link, std::int32_t& index,
                                   double& distance) {
  const TLocation nearest = NearestLocationSimple(P);
  link = 0;
  index = 0;
  distance = kNoDistance;
  if (nearest.link == 0) return;
  const double factor = FNW.DistFactor();
  const auto examine = [&](std::int32_t candidate) {
    FNW.GetGISSection(candidate, list2);
    for (std::int32_t i = 0; i < list2.Count; ++i) {
      const double d = PointDistance(P, list2.Pnt[static_cast<std::size_t>(i)]) * factor;
      if (d < distance) {
        distance = d;
        link = candidate;
        index = i;
      }
    }
  };
  examine(nearest.link);
  TIntegerList others;
  SelectLinksList(P, distance, others);
  for (const std::int32_t candidate : others) {
    if (candidate != nearest.link) examine(candidate);
  }
}

void TSpatialSearch::SelectNodes(const TFloatPoint& P, double Radius, TIntegerList* List,
                                 TBitArray* BA) {
  const TQuadTree& tree = CheckSpatialIndex();
  FNW.CheckCoordinate(P);
  if (List != nullptr) List->Clear();
  if (BA != nullptr) {
    BA->SetSize(static_cast<std::int64_t>(FNW.NodeCount()) + 1);
    BA->SetAllFalse();
  }
  const double radius = Radius / FNW.DistFactor();
  TFloatRect rect = SearchRect(P, radius);
  const TFloatRect window = rect;
  tree.VisitLeaves(rect, nullptr, [&](const TQuadTreeCell& leaf) {
    for (const std::int32_t n : leaf.nodes) {
      if (Skipped(FSkipNodes, n)) continue;
      const TFloatPoint p = FNW.Node2Coordinate(n);
      const bool take = fMBRselect ? Inside(window, p) : radius > PointDistance(P, p);
      if (!take) continue;
      if (BA != nullptr) BA->SetBit(n, true);
      if (List != nullptr) List->Add(n);
    }
  });
  if (List != nullptr) List->Sort();
}

void TSpatialSearch::SelectNodesList(const TFloatPoint& P, double Radius, TIntegerList& List) {
  SelectNodes(P, Radius, &List, nullptr);
}

void TSpatialSearch::SelectNodesArray(const TFloatPoint& P, double Radius, TBitArray& BA) {
  SelectNodes(P, Radius, nullptr, &BA);
}

void TSpatialSearch::SelectLinksCore(const TFloatPoint& P, double radius, TIntegerList* List,
                                     TBitArray& BA) {
  const TQuadTree& tree = CheckSpatialIndex();
  const TCoordinateUnit unit = FNW.CoordinateUnit();
  TFloatRect rect = SearchRect(P, radius);
  const TFloatRect window = rect;
  TLinkVertices vertices;
  tree.VisitLeaves(rect, nullptr, [&](const TQuadTreeCell& leaf) {
    std::int32_t fetched = 0;
    for (const TSubLink& run : leaf.SLL) {
      if (Skipped(FSkipLinks, run.Link) || BA.GetBit(run.Link)) continue;
      if (fetched != run.Link) {
        vertices.Load(FNW, run.Link, list1);
        fetched = run.Link;
      }
      const std::int32_t last = std::min<std::int32_t>(run.sub2, vertices.Count() - 1);
      bool take = false;
      if (fMBRselect) {
        for (std::int32_t i = run.sub1; i <= last && !take; ++i)
          take = Inside(window, vertices[i]);
      } else {
        for (std::int32_t i = run.sub1; i < last && !take; ++i) {
          take = radius > SegmentHit(unit, vertices[i], vertices[i + 1], P).w;
        }
      }
      if (!take) continue;
      BA.SetBit(run.Link, true);
      if (List != nullptr) List->Add(run.Link);
    }
  });
  if (List != nullptr) List->Sort();
}

void TSpatialSearch::SelectLinks(const TFloatPoint& P, double Radius, TIntegerList* List,
                                 TBitArray& BA) {
  CheckSpatialIndex();
  FNW.CheckCoordinate(P);
  if (List != nullptr) List->Clear();
  BA.SetSize(static_cast<std::int64_t>(FNW.LinkCount()) + 1);
  BA.SetAllFalse();
  SelectLinksCore(P, Radius / FNW.DistFactor(), List, BA);
}

void TSpatialSearch::SelectLinksList(const TFloatPoint& P, double Radius, TIntegerList& List) {
  TBitArray ba;
  SelectLinks(P, Radius, &List, ba);
}

void TSpatialSearch::SelectLinksArray(const TFloatPoint& P, double Radius, TBitArray& BA) {
  SelectLinks(P, Radius, nullptr, BA);
}

void TSpatialSearch::SelectLinksInRect(const TFloatRect& R, TIntegerList& list) {
  const TQuadTree& tree = CheckSpatialIndex();
  list.Clear();
  TBitArray taken(static_cast<std::int64_t>(FNW.LinkCount()) + 1);
  TFloatRect rect = R;
  TLinkVertices vertices;
  tree.VisitLeaves(rect, nullptr, [&](const TQuadTreeCell& leaf) {
    std::int32_t fetched = 0;
    for (const TSubLink& run : leaf.SLL) {
      if (Skipped(FSkipLinks, run.Link) || taken.GetBit(run.Link)) continue;
      if (fetched != run.Link) {
        vertices.Load(FNW, run.Link, list1);
        fetched = run.Link;
      }
      const std::int32_t last = std::min<std::int32_t>(run.sub2, vertices.Count() - 1);
      for (std::int32_t i = run.sub1; i <= last; ++i) {
        if (Inside(R, vertices[i])) {
          taken.SetBit(run.Link, true);
          list.Add(run.Link);
          break;
        }
      }
    }
  });
  list.Sort();
}

void TSpatialSearch::SelectNodesInRect(const TFloatRect& R, TIntegerList& list) {
  const TQuadTree& tree = CheckSpatialIndex();
  list.Clear();
  TFloatRect rect = R;
  tree.VisitLeaves(rect, nullptr, [&](const TQuadTreeCell& leaf) {
    for (const std::int32_t n : leaf.nodes) {
      if (Inside(R, FNW.Node2Coordinate(n))) list.Add(n);
    }
  });
}

}  // namespace kvnet
