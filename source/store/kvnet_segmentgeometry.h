// Geometry of points and segments in a network's coordinate unit: the nearest point of a
// segment to a point (planar, or on the sphere for angular units with x = longitude and
// y = latitude), and the spherical helpers behind it. Courses on the sphere are measured
// counter-clockwise from north.
//
// The spherical formulas are written in forms that keep their digits for short distances (a
// course difference instead of the law of cosines for the angle at a segment end, atan2 instead
// of asin for a longitude difference), so that results agree with an exact great-circle
// computation to a few nanometres, also for segments of a few metres and near the poles.
#pragma once

#include <cstdint>
#include <numbers>

#include "foundation/kvnet_types.h"
#include "store/kvnet_coordunit.h"

namespace kvnet {

namespace sphere {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kTwoPi = 2 * std::numbers::pi;
inline constexpr double kDegrees = 180 / std::numbers::pi;

// x brought into [0, 2*pi).
double Wrap2Pi(double x);
// A longitude in radians brought into [-pi, pi).
double WrapLongitude(double x);
// Limits an asin/acos argument to [-1, 1]; NaN passes through.
double Clamp1(double v);
// The smaller angle between two courses, 0..pi.
double CourseGap(double c1, double c2);
// Course from A to X (radians, all arguments in radians), counter-clockwise from north, in
// [0, 2*pi).
double Course(double xA, double yA, double xX, double yX);
// The point reached from (x, y) by the angular distance m along the counter-clockwise course
// theta (all radians); the longitude is brought into [-pi, pi).
TFloatPoint Destination(double x, double y, double theta, double m);

}  // namespace sphere

// The nearest point of one segment A-B to a point P.
struct TSegmentHit {
  double w = 0;           // distance, before DistFactor
  double t = 0;           // along the segment from A to the nearest point
  double L = 0;           // segment length
  TFloatPoint n;          // the nearest point, in coordinate units
  std::int32_t side = 1;  // -1 when P lies left of the direction A to B
};

TSegmentHit PlanarSegmentHit(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& p);
// a, b, p in coordinate units; f = radians per unit.
TSegmentHit AngularSegmentHit(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& p,
                              double f);
// The one that suits the unit.
inline TSegmentHit SegmentHit(TCoordinateUnit unit, const TFloatPoint& a, const TFloatPoint& b,
                              const TFloatPoint& p) {
  return IsAngularUnit(unit) ? AngularSegmentHit(a, b, p, RadiansPerUnit(unit))
                             : PlanarSegmentHit(a, b, p);
}

}  // namespace kvnet
