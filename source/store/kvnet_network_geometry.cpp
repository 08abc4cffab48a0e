// TNetwork: positions on links, sections of polylines, route polylines and lengths, turn angles,
// straight-line matrices and random positions.
//
// Lengths measured here before DistFactor are in coordinate units for planar networks and in
// radians of the great circle for angular ones (x = longitude, y = latitude); DistFactor turns
// either into kilometres. Courses on the sphere are measured counter-clockwise from north; the
// spherical helpers are in kvnet_segmentgeometry.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_random.h"
#include "store/kvnet_network.h"
#include "store/kvnet_segmentgeometry.h"

namespace kvnet {

namespace {

using namespace sphere;  // NOLINT(google-build-using-namespace)

// The scratch polyline of the single-link queries (filled without allocating once it is large
// enough). Only leaf functions that do not call each other use it.
TFloatPointArrayEx& Scratch() {
  thread_local TFloatPointArrayEx scratch;
  return scratch;
}

// Half a turn in coordinate units of an angular unit (180 for degrees).
double HalfTurn(TCoordinateUnit unit) {
  return kPi / RadiansPerUnit(unit);
}

// a + (b - a) * fraction. For angular units the longitude goes the short way round, as the
// segment's length is measured, and the result is brought back into the valid range.
TFloatPoint Interpolate(TCoordinateUnit unit, const TFloatPoint& a, const TFloatPoint& b,
                        double fraction) {
  double dx = b.x - a.x;
  if (!IsAngularUnit(unit)) return {a.x + dx * fraction, a.y + (b.y - a.y) * fraction};
  const double half = HalfTurn(unit);
  if (dx > half) {
    dx -= 2 * half;
  } else if (dx < -half) {
    dx += 2 * half;
  }
  double x = a.x + dx * fraction;
  if (x > half) {
    x -= 2 * half;
  } else if (x < -half) {
    x += 2 * half;
  }
  return {x, a.y + (b.y - a.y) * fraction};
}

// The points of a polyline in use; raises for a count that does not fit the array.
std::size_t UsedPoints(const TFloatPointArrayEx& list) {
  if (list.Count < 0 || static_cast<std::size_t>(list.Count) > list.Pnt.size()) {
    throw EInvalidParameter(Format("Point list count %d does not fit its %d points", list.Count,
                                   static_cast<std::int64_t>(list.Pnt.size())));
  }
  return static_cast<std::size_t>(list.Count);
}

void Append(TFloatPointArrayEx& out, const TFloatPoint& p) {
  out.Pnt.push_back(p);
  out.Count = static_cast<std::int32_t>(out.Pnt.size());
}

// The points first..last-1 of a polyline (none when first >= last).
void AppendRange(TFloatPointArrayEx& out, const TFloatPointArrayEx& list, std::size_t first,
                 std::size_t last) {
  for (std::size_t i = first; i < last; ++i)
    out.Pnt.push_back(list.Pnt[i]);
  out.Count = static_cast<std::int32_t>(out.Pnt.size());
}

bool IsNodeRoute(const TRoute& route) {
  return route.nodes.size() == route.links.size() + 1;
}

// The absolute number of a route entry; INT32_MIN has none and is refused by CheckLink.
std::int32_t AbsLink(std::int32_t link) {
  return link < 0 && link != std::numeric_limits<std::int32_t>::min() ? -link : link;
}

// The straight-line matrix of two point lists; with one list (same) each unordered pair is
// computed once and mirrored. extra adds a last row and column of zeros.
TMatrix PointMatrix(TCoordinateUnit unit, double distFactor, const std::vector<TFloatPoint>& rows,
                    const std::vector<TFloatPoint>& cols, bool same, bool extra) {
  const std::size_t nRows = rows.size() + (extra ? 1 : 0);
  const std::size_t nCols = cols.size() + (extra ? 1 : 0);
  TMatrix m(nRows, std::vector<float>(nCols, 0.0f));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = same ? i + 1 : 0; j < cols.size(); ++j) {
      const auto d = static_cast<float>(UnitDistance(unit, rows[i], cols[j]) * distFactor);
      m[i][j] = d;
      if (same) m[j][i] = d;
    }
  }
  return m;
}

}  // namespace

// ---- nearest point of a link

void TNetwork::DistanceToLink(const TFloatPoint& p, std::int32_t link, double& percent,
                              std::int32_t& side, double& distance, TFloatPoint& pnew) const {
  CheckOpen();
  CheckLink(link);
  CheckCoordinate(p);
  TFloatPointArrayEx& section = Scratch();
  GetGISSection(link, section);
  const bool angular = IsAngularUnit(FCoordinateUnit);
  const double f = RadiansPerUnit(FCoordinateUnit);
  TSegmentHit best;
  double before = 0;  // length of the segments before the best one
  double total = 0;
  for (std::int32_t i = 1; i < section.Count; ++i) {
    const TFloatPoint& a = section.Pnt[static_cast<std::size_t>(i) - 1];
    const TFloatPoint& b = section.Pnt[static_cast<std::size_t>(i)];
    const TSegmentHit hit = angular ? AngularSegmentHit(a, b, p, f) : PlanarSegmentHit(a, b, p);
    // Strictly smaller only: on equal distances the earlier segment stays.
    if (i == 1 || hit.w < best.w) {
      best = hit;
      before = total;
    }
    total += hit.L;
  }
  percent = total > 0 ? (before + best.t) / total : 0;
  side = best.side;
  distance = best.w * FDistfactor;
  pnew = best.n;
}

double TNetwork::DistanceToLinkSimple(const TFloatPoint& p, std::int32_t link) const {
  double percent = 0;
  std::int32_t side = 0;
  double distance = 0;
  TFloatPoint pnew;
  DistanceToLink(p, link, percent, side, distance, pnew);
  return distance;
}

// ---- points at locations

namespace {

// The point at a fraction of a link's polyline (length = the link's stored length before
// DistFactor), moved sideways by offset (before DistFactor; positive: right for planar units,
// left for angular ones).
TFloatPoint PointOnSection(TCoordinateUnit unit, const TFloatPointArrayEx& section, double percent,
                           double length, double offset) {
  const auto last = static_cast<std::size_t>(section.Count) - 1;
  std::size_t index = 0;  // the point lies on the segment ending at this point index
  TFloatPoint p;
  if (percent == 0) {
    p = section.Pnt[0];
  } else if (percent == 1) {
    index = last;
    p = section.Pnt[last];
  } else {
    const double target = percent * length;
    double before = 0;
    double after = 0;
    for (index = 1; index <= last; ++index) {
      before = after;
      after += UnitDistance(unit, section.Pnt[index - 1], section.Pnt[index]);
      if (after >= target || index == last) break;
    }
    // The stored length is a single-precision value, so the target may overshoot the polyline
    // by a rounding step: the fraction is kept within the segment.
    const double fraction =
        after > before ? std::clamp((target - before) / (after - before), 0.0, 1.0) : 1.0;
    p = Interpolate(unit, section.Pnt[index - 1], section.Pnt[index], fraction);
  }
  if (offset == 0) return p;
  const std::size_t segmentEnd = index == 0 ? 1 : index;
  const TFloatPoint& a = section.Pnt[segmentEnd - 1];
  const TFloatPoint& b = section.Pnt[segmentEnd];
  if (!IsAngularUnit(unit)) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double len = std::hypot(dx, dy);
    if (len == 0) return p;  // no direction to be perpendicular to
    return {p.x + dy * offset / len, p.y - dx * offset / len};
  }
  const double f = RadiansPerUnit(unit);
  const double theta = Course(a.x * f, a.y * f, b.x * f, b.y * f);
  const TFloatPoint q = Destination(p.x * f, p.y * f, theta + kPi / 2, offset);
  return {q.x / f, q.y / f};
}

void CheckOffset(double offset) {
  if (!std::isfinite(offset)) {
    throw EInvalidParameter(Format("Offset must be a finite number: %g", offset));
  }
}

}  // namespace

TFloatPoint TNetwork::Location2Coordinate(const TLocation& loc, double offset) const {
  CheckOpen();
  CheckLocation(loc);
  CheckOffset(offset);
  TFloatPointArrayEx& section = Scratch();
  GetGISSection(loc.link, section);
  return PointOnSection(FCoordinateUnit, section, loc.percent, LengthOf(loc.link) / FDistfactor,
                        offset / FDistfactor);
}

void TNetwork::Location2CoordinateList(TLocationList& ll, double offset) const {
  CheckLocationList(ll);
  CheckOffset(offset);
  TFloatPointArrayEx section;
  std::int32_t sectionLink = 0;
  for (std::int32_t i = 0; i < ll.Count(); ++i) {
    TLocationListItem& item = ll.ItemRef(i);
    if (item.loc.link != sectionLink) {  // lists are mostly ordered by link: read each once
      GetGISSection(item.loc.link, section);
      sectionLink = item.loc.link;
    }
    item.P = PointOnSection(FCoordinateUnit, section, item.loc.percent,
                            LengthOf(item.loc.link) / FDistfactor, offset / FDistfactor);
  }
}

double TNetwork::DistanceBetweenLocations(const TLocation& loc1, const TLocation& loc2) const {
  return DistanceBetweenPoints(Location2Coordinate(loc1, 0), Location2Coordinate(loc2, 0));
}

void TNetwork::Split(float distance, bool evenout, TLocationList& ll) const {
  CheckOpen();
  if (!(distance > 0) || !std::isfinite(distance)) {
    throw EInvalidParameter(Format("Split distance must be greater than 0: %g", distance));
  }
  const auto pieces = [&](std::int32_t link) {
    return std::trunc(static_cast<double>(LengthOf(link)) / distance + 1);
  };
  // Count first, so that a distance too small for the list fails before the list is touched.
  double total = 0;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    if (LengthOf(link) > distance) total += pieces(link) - 1;
  }
  if (total > std::numeric_limits<std::int32_t>::max() - 1) {
    throw EInvalidParameter(Format("Split distance %g gives too many locations", distance));
  }
  ll.Clear();
  TFloatPointArrayEx section;
  for (std::int32_t link = 1; link <= FLinkCount; ++link) {
    const double length = LengthOf(link);
    if (!(length > distance)) continue;
    const auto n = static_cast<std::int32_t>(pieces(link));
    const double step = evenout ? length / n : static_cast<double>(distance);
    GetGISSection(link, section);
    for (std::int32_t q = 1; q < n; ++q) {
      // A length that is an exact multiple of distance puts the last position on the to-node;
      // rounding must not carry it past.
      const TLocation loc{link, std::min(1.0, q * step / length)};
      ll.Add(TLocationListItem{
          loc, PointOnSection(FCoordinateUnit, section, loc.percent, length / FDistfactor, 0)});
    }
  }
}

// ---- sections

TFloatPointArrayEx TNetwork::ExtractSection(const TFloatPointArrayEx& list, double start,
                                            double stop) const {
  CheckOpen();
  CheckPercent(start);
  CheckPercent(stop);
  if (start == stop) throw EWrongPercent("Start and Stop percent need to be different");
  return ExtractSection_raw1(list, start, stop);
}

TFloatPointArrayEx TNetwork::ExtractSection_raw1(const TFloatPointArrayEx& list, double start,
                                                 double stop) const {
  const std::size_t count = UsedPoints(list);
  TFloatPointArrayEx out;
  const bool reversed = start > stop;
  const double lo = reversed ? stop : start;
  const double hi = reversed ? start : stop;
  if (count < 2 || (lo == 0 && hi == 1)) {
    // Nothing to cut (fewer than two points) or the whole line.
    AppendRange(out, list, 0, count);
  } else {
    const std::size_t last = count - 1;
    std::vector<double> c(count, 0.0);
    for (std::size_t i = 1; i < count; ++i) {
      c[i] = c[i - 1] + UnitDistance(FCoordinateUnit, list.Pnt[i - 1], list.Pnt[i]);
    }
    const double total = c[last];
    // The first segment whose end lies beyond the cut; the scan stops at the last segment.
    // On a polyline of length 0 every interior cut therefore falls on the last segment, whose
    // end point it takes: the result is still a valid polyline of coinciding points.
    const auto cutAt = [&](double fraction, std::size_t& segment) {
      const double target = fraction * total;
      segment = 1;
      while (segment < last && !(c[segment] > target))
        ++segment;
      const double span = c[segment] - c[segment - 1];
      const double t = span > 0 ? std::clamp((target - c[segment - 1]) / span, 0.0, 1.0) : 1.0;
      return Interpolate(FCoordinateUnit, list.Pnt[segment - 1], list.Pnt[segment], t);
    };
    std::size_t k = 0;
    std::size_t j = 0;
    if (lo == 0) {
      const TFloatPoint endCut = cutAt(hi, k);
      AppendRange(out, list, 0, k);
      Append(out, endCut);
    } else if (hi == 1) {
      Append(out, cutAt(lo, j));
      AppendRange(out, list, j, count);
    } else {
      Append(out, cutAt(lo, j));
      const TFloatPoint endCut = cutAt(hi, k);
      AppendRange(out, list, j, k);
      Append(out, endCut);
    }
  }
  if (reversed) std::reverse(out.Pnt.begin(), out.Pnt.end());
  return out;
}

// ---- routes

namespace {

// Raises for a route whose lists do not describe a route between nodes (one node more than
// links) or between locations (at least one link, one node fewer than links), or that holds a
// link, node or fraction the network cannot have.
void CheckRoute(const TNetwork& net, const TRoute& route) {
  if (route.links.empty() && route.nodes.empty()) throw Exception("Route is empty");
  if (!IsNodeRoute(route)) {
    if (route.links.empty() || route.nodes.size() + 1 != route.links.size()) {
      throw Exception(Format("Route with %d links cannot have %d nodes",
                             static_cast<std::int64_t>(route.links.size()),
                             static_cast<std::int64_t>(route.nodes.size())));
    }
    TNetwork::CheckPercent(route.percent1);
    TNetwork::CheckPercent(route.percent2);
  }
  for (const std::int32_t link : route.links)
    net.CheckLink(AbsLink(link));
  for (const std::int32_t node : route.nodes)
    net.CheckNode(node);
}

}  // namespace

TFloatPointArrayEx TNetwork::GetGISSectionRoute(const TRoute& route) const {
  CheckOpen();
  CheckRoute(*this, route);
  TFloatPointArrayEx out;
  TFloatPointArrayEx section;
  if (IsNodeRoute(route)) {
    for (std::size_t i = 0; i < route.links.size(); ++i) {
      const std::int32_t link = route.links[i];
      const auto node = static_cast<std::size_t>(route.nodes[i]);
      Append(out, {FX[node], FY[node]});
      GetGISSection(AbsLink(link), section);
      if (link < 0) SwapList(section);
      AppendRange(out, section, 1, static_cast<std::size_t>(section.Count) - 1);
    }
    const auto lastNode = static_cast<std::size_t>(route.nodes.back());
    Append(out, {FX[lastNode], FY[lastNode]});
    return out;
  }
  const std::size_t n = route.links.size();
  if (n == 1) {
    if (route.percent1 == route.percent2) return out;
    GetGISSection(AbsLink(route.links[0]), section);
    return ExtractSection_raw1(section, route.percent1, route.percent2);
  }
  // First link: from percent1 to its end in travel direction.
  const std::int32_t first = route.links[0];
  GetGISSection(AbsLink(first), section);
  const double firstEnd = first > 0 ? 1 : 0;
  if (route.percent1 == firstEnd) {
    Append(out, section.Pnt[first > 0 ? static_cast<std::size_t>(section.Count) - 1 : 0]);
  } else {
    out = ExtractSection_raw1(section, route.percent1, firstEnd);
  }
  // Middle links: all their points in travel direction but the shared first one.
  for (std::size_t i = 1; i + 1 < n; ++i) {
    GetGISSection(AbsLink(route.links[i]), section);
    if (route.links[i] < 0) SwapList(section);
    AppendRange(out, section, 1, static_cast<std::size_t>(section.Count));
  }
  // Last link: from its start in travel direction to percent2, its first point shared.
  const std::int32_t lastLink = route.links[n - 1];
  const double lastStart = lastLink > 0 ? 0 : 1;
  if (route.percent2 != lastStart) {
    GetGISSection(AbsLink(lastLink), section);
    const TFloatPointArrayEx part = ExtractSection_raw1(section, lastStart, route.percent2);
    AppendRange(out, part, 1, static_cast<std::size_t>(part.Count));
  }
  return out;
}

double TNetwork::RouteLength(const TRoute& route) const {
  CheckOpen();
  CheckRoute(*this, route);
  const auto length = [&](std::size_t i) {
    return static_cast<double>(LengthOf(AbsLink(route.links[i])));
  };
  const std::size_t n = route.links.size();
  double sum = 0;
  if (IsNodeRoute(route)) {
    for (std::size_t i = 0; i < n; ++i)
      sum += length(i);
    return sum;
  }
  if (n == 1) return std::fabs(route.percent1 - route.percent2) * length(0);
  sum += (route.links[0] > 0 ? 1 - route.percent1 : route.percent1) * length(0);
  for (std::size_t i = 1; i + 1 < n; ++i)
    sum += length(i);
  sum += (route.links[n - 1] > 0 ? route.percent2 : 1 - route.percent2) * length(n - 1);
  return sum;
}

// ---- matrices

TMatrix TNetwork::Matrix(const TIntegerList& nl, bool extra) const {
  CheckNodeList(nl);
  std::vector<TFloatPoint> points;
  points.reserve(static_cast<std::size_t>(nl.Count()));
  for (const std::int32_t node : nl) {
    points.push_back({FX[static_cast<std::size_t>(node)], FY[static_cast<std::size_t>(node)]});
  }
  return PointMatrix(FCoordinateUnit, FDistfactor, points, points, true, extra);
}

namespace {

// The point of each item: its coordinate when it has one, else the point of its location.
std::vector<TFloatPoint> ItemPoints(const TNetwork& net, const TLocationList& ll) {
  net.CheckOpen();
  if (ll.IsEmpty()) throw Exception("Locationlist is empty");
  std::vector<TFloatPoint> points;
  points.reserve(static_cast<std::size_t>(ll.Count()));
  for (const TLocationListItem& item : ll) {
    if (item.P.x != 0 || item.P.y != 0) {
      net.CheckCoordinate(item.P);
      points.push_back(item.P);
    } else {
      points.push_back(net.Location2Coordinate(item.loc, 0));
    }
  }
  return points;
}

}  // namespace

TMatrix TNetwork::MatrixDyn(const TLocationList& ll, bool extra) const {
  const std::vector<TFloatPoint> points = ItemPoints(*this, ll);
  return PointMatrix(FCoordinateUnit, FDistfactor, points, points, true, extra);
}

TMatrix TNetwork::MatrixDyn2(const TLocationList& ll1, const TLocationList& ll2) const {
  const std::vector<TFloatPoint> rows = ItemPoints(*this, ll1);
  const std::vector<TFloatPoint> cols = ItemPoints(*this, ll2);
  return PointMatrix(FCoordinateUnit, FDistfactor, rows, cols, false, false);
}

// ---- random positions

TLocation TNetwork::RandomLocation(TRandom& r) const {
  CheckOpen();
  if (FLinkCount < 1) throw Exception("The network has no links");
  std::int32_t link = 0;
  for (std::int64_t misses = 0;; ++misses) {
    link = r.NextInt(FLinkCount) + 1;
    if (LengthOf(link) != 0) break;
    // Many misses in a row: make sure a valid link exists at all before drawing on.
    if (misses == 1000) {
      bool any = false;
      for (std::int32_t k = 1; k <= FLinkCount && !any; ++k)
        any = LengthOf(k) != 0;
      if (!any) throw Exception("The network has no valid link");
    }
  }
  return {link, r.NextDouble()};
}

TFloatPoint TNetwork::RandomPoint(TRandom& r) const {
  const double x = r.NextDouble();
  const TLocation loc = RandomLocation(r);
  return Location2Coordinate(loc, x * 0.01);
}

// ---- turn angles

namespace {

// Planar direction of a vector in degrees counter-clockwise from the x-axis, 0 <= angle < 360.
double PlanarAngle(double dx, double dy) {
  const double a = std::atan2(dy, dx) * kDegrees;
  return a < 0 ? a + 360 : a;
}

// Course from A to B (radians in, degrees out) counter-clockwise from north; none when the
// arithmetic fails (coinciding points).
std::optional<double> CourseDegrees(double xA, double yA, double xB, double yB) {
  if (std::cos(yA) < 1e-30) return yA > 0 ? 270.0 : 90.0;
  const double d = HaversineAngle(xA, yA, xB, yB);
  const double arg = (std::sin(yB) - std::sin(yA) * std::cos(d)) / (std::sin(d) * std::cos(yA));
  if (!std::isfinite(arg)) return std::nullopt;
  // A due north or south course gives an argument a rounding step beyond 1: limited, not failed.
  const double q = std::acos(Clamp1(arg)) * kDegrees;
  return std::sin(xB - xA) < 0 ? q : 360 - q;
}

}  // namespace

std::int32_t TNetwork::Direction(std::int32_t link1, std::int32_t node, std::int32_t link2) const {
  CheckOpen();
  CheckLink(link1);
  CheckNode(node);
  CheckLink(link2);
  const auto notConnected = [&](std::int32_t link) {
    return Exception(Format("Link %d and node %d are not connected", link, node));
  };
  // The same loop link twice has no defined way in and out.
  if (link1 == link2 && FromNodeOf(link1) == ToNodeOf(link1)) throw notConnected(link1);
  // The polyline point of a link next to the node.
  const auto neighbour = [&](std::int32_t link) {
    TFloatPointArrayEx& section = Scratch();
    GetGISSection(link, section);
    if (node == FromNodeOf(link)) return section.Pnt[1];
    if (node == ToNodeOf(link)) return section.Pnt[static_cast<std::size_t>(section.Count) - 2];
    throw notConnected(link);
  };
  const TFloatPoint p1 = neighbour(link1);
  const TFloatPoint p2 = neighbour(link2);
  const TFloatPoint c = {FX[static_cast<std::size_t>(node)], FY[static_cast<std::size_t>(node)]};
  double turn = 0;
  if (IsAngularUnit(FCoordinateUnit)) {
    const double f = RadiansPerUnit(FCoordinateUnit);
    const std::optional<double> in = CourseDegrees(p1.x * f, p1.y * f, c.x * f, c.y * f);
    const std::optional<double> out = CourseDegrees(c.x * f, c.y * f, p2.x * f, p2.y * f);
    if (!in || !out) return 0;
    turn = *out - *in;
    if (!std::isfinite(turn)) return 0;
  } else {
    turn = PlanarAngle(p2.x - c.x, p2.y - c.y) - PlanarAngle(c.x - p1.x, c.y - p1.y);
  }
  // Halves to even; the difference lies within (-360, 360), so the result fits 0..359.
  auto result = static_cast<std::int32_t>(std::nearbyint(turn));
  result %= 360;
  return result < 0 ? result + 360 : result;
}

}  // namespace kvnet
