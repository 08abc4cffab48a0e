#include "store/kvnet_segmentgeometry.h"

#include <cmath>

namespace kvnet {

namespace sphere {

// x brought into [0, 2*pi).
double Wrap2Pi(double x) {
  x = std::fmod(x, kTwoPi);
  if (x < 0) x += kTwoPi;
  return x >= kTwoPi ? 0 : x;
}

// A longitude in radians brought into [-pi, pi).
double WrapLongitude(double x) {
  return Wrap2Pi(x + kPi) - kPi;
}

// Limits an asin/acos argument to [-1, 1]; NaN passes through.
double Clamp1(double v) {
  return v < -1 ? -1 : (v > 1 ? 1 : v);
}

// The smaller angle between two courses, 0..pi.
double CourseGap(double c1, double c2) {
  const double d = Wrap2Pi(c1 - c2);
  return d > kPi ? kTwoPi - d : d;
}

// Course from A to X (radians), counter-clockwise from north, in [0, 2*pi):
// atan2(cos yX sin(xA - xX), cos yA sin yX - sin yA cos yX cos(xA - xX)), the second argument
// rewritten as sin(yX - yA) + 2 sin yA cos yX sin^2((xA - xX)/2), which keeps its digits for
// short courses where the original form cancels.
double Course(double xA, double yA, double xX, double yX) {
  const double dx = xA - xX;
  const double h = std::sin(dx / 2);
  return Wrap2Pi(std::atan2(std::cos(yX) * std::sin(dx),
                            std::sin(yX - yA) + 2 * std::sin(yA) * std::cos(yX) * h * h));
}

// The point reached from (x, y) by the angular distance m along the counter-clockwise course
// theta (all radians); the longitude is brought into [-pi, pi). The usual
// y' = asin(sin y cos m + cos y sin m cos theta), x' = x - asin(sin theta sin m / cos y') are
// evaluated through the three components of the target's direction: atan2 keeps the latitude
// exact near the poles and the longitude right when it changes by more than a quarter turn
// (courses past a pole), where the asin forms fail.
TFloatPoint Destination(double x, double y, double theta, double m) {
  const double east = std::sin(theta) * std::sin(m);  // cos y' sin(x - x')
  const double north = std::cos(y) * std::cos(m) - std::sin(y) * std::sin(m) * std::cos(theta);
  const double up = std::sin(y) * std::cos(m) + std::cos(y) * std::sin(m) * std::cos(theta);
  return {WrapLongitude(x - std::atan2(east, north)), std::atan2(up, std::hypot(east, north))};
}

}  // namespace sphere

using namespace sphere;  // NOLINT(google-build-using-namespace)

TSegmentHit PlanarSegmentHit(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& p) {
  TSegmentHit hit;
  const double abx = b.x - a.x;
  const double aby = b.y - a.y;
  const double apx = p.x - a.x;
  const double apy = p.y - a.y;
  const double dAB2 = abx * abx + aby * aby;
  const double dAP2 = apx * apx + apy * apy;
  const double dBP2 = (p.x - b.x) * (p.x - b.x) + (p.y - b.y) * (p.y - b.y);
  // (B - A) x (P - A): positive when P lies left of the digitised direction.
  const double cross = abx * apy - aby * apx;
  hit.side = cross > 0 ? -1 : 1;
  hit.L = std::sqrt(dAB2);
  // A point of the segment or behind A (an obtuse angle at A) takes A; the test of the angle at
  // A never holds when P is B.
  if (dAB2 == 0 || dAP2 == 0 || dBP2 > dAB2 + dAP2) {
    hit.n = a;
    hit.w = std::sqrt(dAP2);
  } else if (dBP2 == 0) {
    hit.n = b;
    hit.t = hit.L;
  } else if (dAP2 > dAB2 + dBP2) {
    hit.n = b;
    hit.w = std::sqrt(dBP2);
    hit.t = hit.L;
  } else {
    const double u = (apx * abx + apy * aby) / dAB2;
    hit.n = {a.x + u * abx, a.y + u * aby};
    hit.w = std::fabs(cross) / hit.L;
    hit.t = u * hit.L;
  }
  return hit;
}

// a, b, p in coordinate units; f = radians per unit.
TSegmentHit AngularSegmentHit(const TFloatPoint& a, const TFloatPoint& b, const TFloatPoint& p,
                              double f) {
  TSegmentHit hit;
  const double xA = a.x * f, yA = a.y * f;
  const double xB = b.x * f, yB = b.y * f;
  const double xP = p.x * f, yP = p.y * f;
  const double dAB = HaversineAngle(xA, yA, xB, yB);
  const double dAP = HaversineAngle(xA, yA, xP, yP);
  const double dBP = HaversineAngle(xB, yB, xP, yP);
  const double courseAB = Course(xA, yA, xB, yB);
  const double courseAP = Course(xA, yA, xP, yP);
  hit.side = Wrap2Pi(courseAB - courseAP) >= kPi ? -1 : 1;
  hit.L = dAB;
  if (dAB == 0 || dAP == 0) {
    hit.n = a;
    hit.w = dAP;
    return hit;
  }
  if (dBP == 0) {
    hit.n = b;
    hit.t = dAB;
    return hit;
  }
  // The angles of the triangle at A and at B, from the courses (the same angles the spherical
  // law of cosines gives, without its cancellation for short sides).
  const double alpha = CourseGap(courseAB, courseAP);
  if (alpha >= kPi / 2) {
    hit.n = a;
    hit.w = dAP;
    return hit;
  }
  const double beta = CourseGap(Course(xB, yB, xA, yA), Course(xB, yB, xP, yP));
  if (beta >= kPi / 2) {
    hit.n = b;
    hit.w = dBP;
    hit.t = dAB;
    return hit;
  }
  // Cross-track distance, then the along-track distance by Napier's analogy in the right
  // triangle A, P, foot of the perpendicular.
  hit.w = std::asin(Clamp1(std::sin(alpha) * std::sin(dAP)));
  hit.t = Wrap2Pi(2 * std::atan2(std::sin((hit.w + dAP) / 2) * std::cos((alpha + kPi / 2) / 2),
                                 std::cos((hit.w + dAP) / 2) * std::cos((alpha - kPi / 2) / 2)));
  const TFloatPoint n = Destination(xA, yA, courseAB, hit.t);
  hit.n = {n.x / f, n.y / f};
  return hit;
}

}  // namespace kvnet
