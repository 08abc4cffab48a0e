#!/usr/bin/env python3
"""Writes tests/fixtures/geodesic/great_circle.txt: great-circle reference values for the
network geometry tests on networks in degrees, computed with GeographicLib on a sphere of radius
6378.13 km (flattening 0), so that the C++ tests compare against an independent computation.

Needs Debian's python3-geographiclib (only to regenerate the file; the tests read the committed
output). Run from the repository root: /usr/bin/python3 tools/geodesic_reference.py

Sections of the output (longitude before latitude, degrees; distances in kilometres; courses in
degrees counter-clockwise from north, the convention of the library):
  [distance] lon1 lat1 lon2 lat2 | distance course1
      course1 is the initial course at point 1.
  [segment] lonA latA lonB latB lonP latP | distance along length lonN latN side
      N is the nearest point of the great-circle segment A-B to P, distance = |PN|, along = |AN|
      measured along the segment, length = |AB|, side = +1 when P lies right of the direction
      A->B (or on it), -1 when left.
  [offset] lonA latA lonB latB offset | lon0 lat0 lon1 lat1
      The points reached from A (0) and from B (1) by going offset km along the course that lies
      90 degrees counter-clockwise (to the left) of the initial course of A->B at A.
  [turn] lonA latA lonB latB lonC latC | direction
      round-half-even(course(B->C) - course(A->B)) brought into 0..359, both courses initial.
"""
import math
import os

from geographiclib.geodesic import Geodesic

RADIUS_M = 6378130.0
SPHERE = Geodesic(RADIUS_M, 0)
OUT = os.path.join("tests", "fixtures", "geodesic", "great_circle.txt")

# (lon1, lat1, lon2, lat2), written as text so that both sides parse the same decimal numbers.
DISTANCE_PAIRS = [
    ("2.35", "48.85", "13.4", "52.52"),          # northern hemisphere, medium
    ("151.2", "-33.87", "174.76", "-36.85"),     # southern hemisphere
    ("-74.0", "40.7", "139.7", "35.7"),          # long, crossing the north
    ("179.8", "10.0", "-179.7", "10.3"),         # across the antimeridian, short
    ("170.0", "-15.0", "-170.0", "-20.0"),       # across the antimeridian, southern
    ("0.0", "89.9", "120.0", "89.95"),           # near the north pole
    ("-45.0", "-89.5", "135.0", "-89.6"),        # over the south pole
    ("10.0", "50.0", "10.00001", "50.000005"),   # about 1 m
    ("-3.7", "40.4", "-3.7003", "40.4002"),      # about 33 m
    ("0.0", "0.0", "179.9", "0.05"),             # nearly antipodal on the equator
    ("20.0", "30.0", "-160.1", "-29.95"),        # nearly antipodal
    ("-75.0", "40.0", "-75.0", "-40.0"),         # along a meridian
    ("0.0", "0.0", "90.0", "0.0"),               # quarter of the equator
]

# (lonA, latA, lonB, latB, lonP, latP)
SEGMENT_CASES = [
    ("2.0", "48.0", "3.0", "49.0", "2.8", "48.3"),           # right of the segment, interior
    ("2.0", "48.0", "3.0", "49.0", "2.2", "48.9"),           # left, interior
    ("2.0", "48.0", "3.0", "49.0", "1.5", "47.6"),           # behind A
    ("2.0", "48.0", "3.0", "49.0", "3.4", "49.5"),           # beyond B
    ("150.0", "-30.0", "155.0", "-35.0", "153.0", "-31.0"),  # southern hemisphere
    ("150.0", "-30.0", "155.0", "-35.0", "151.0", "-34.0"),
    ("179.5", "10.0", "-179.5", "11.0", "179.9", "10.9"),    # across the antimeridian
    ("179.5", "10.0", "-179.5", "11.0", "-179.9", "10.2"),
    ("0.0", "89.0", "150.0", "89.5", "80.0", "89.9"),        # passing near the north pole
    ("0.0", "89.0", "150.0", "89.5", "-100.0", "89.7"),
    ("0.0", "89.0", "170.0", "89.2", "150.0", "89.6"),       # nearest point > 90 deg east of A
    ("-60.0", "-88.0", "100.0", "-87.5", "20.0", "-89.5"),   # passing near the south pole
    ("-60.0", "-88.0", "100.0", "-87.5", "90.0", "-88.5"),
    ("-10.0", "0.0", "30.0", "0.0", "5.0", "20.0"),          # long equatorial segment
    ("-10.0", "0.0", "30.0", "0.0", "25.0", "-40.0"),
    ("10.0", "50.0", "10.001", "50.0005", "10.0004", "50.0003"),  # a segment of about 93 m
    ("10.0", "50.0", "10.001", "50.0005", "10.0007", "50.0002"),
    ("-75.0", "40.0", "-70.0", "45.0", "-72.5", "42.5"),     # close to the segment
]

# (lonA, latA, lonB, latB, offset km)
OFFSET_CASES = [
    ("2.0", "48.0", "3.0", "49.0", "0.5"),
    ("2.0", "48.0", "3.0", "49.0", "-2.0"),
    ("150.0", "-30.0", "155.0", "-35.0", "1.0"),
    ("179.5", "10.0", "-179.5", "11.0", "0.01"),
    ("-75.0", "40.0", "-75.0", "41.0", "3.0"),   # northward: left is west
    ("10.0", "0.0", "11.0", "0.0", "-1.5"),      # eastward, negative: right is south
]

# (lonA, latA, lonB, latB, lonC, latC): drive A -> B -> C, turn at B.
TURN_CASES = [
    ("2.0", "48.0", "2.0", "48.1", "2.0", "48.2"),      # straight on along a meridian
    ("2.0", "48.0", "2.0", "48.1", "1.9", "48.1"),      # left onto the parallel
    ("2.0", "48.0", "2.0", "48.1", "2.1", "48.1"),      # right
    ("2.0", "48.0", "2.0", "48.1", "2.0", "48.05"),     # U-turn
    ("150.0", "-30.0", "151.0", "-31.0", "150.2", "-32.5"),
    ("179.5", "10.0", "-179.8", "10.5", "-179.0", "10.1"),
    ("-3.7", "40.4", "-3.6", "40.45", "-3.55", "40.6"),
]


def course_ccw(azi):
    """Library course (counter-clockwise from north, 0 <= c < 360) from a clockwise azimuth."""
    c = math.fmod(-azi, 360.0)
    return c + 360.0 if c < 0 else c


def fmt(v):
    return repr(float(v))


def nearest_on_segment(a_lat, a_lon, b_lat, b_lon, p_lat, p_lon):
    """Nearest point of the great-circle segment A-B to P.

    On the segment the distance to P has a single minimum; there the line's forward azimuth and
    the azimuth towards P are perpendicular. g(s) = cos(azimuth to P - line azimuth) falls from
    positive (P ahead) to negative (P behind) through the foot of the perpendicular, so the foot
    is found by bisection on the sign of g; when g does not change sign the nearest point is an
    end of the segment. Returns (along, lat, lon, distance) in metres and degrees.
    """
    line = SPHERE.InverseLine(a_lat, a_lon, b_lat, b_lon)
    length = line.s13

    def probe(s):
        pos = line.Position(s)
        inv = SPHERE.Inverse(pos["lat2"], pos["lon2"], p_lat, p_lon)
        if inv["s12"] == 0:
            return 0.0, pos, inv
        return math.cos(math.radians(inv["azi1"] - pos["azi2"])), pos, inv

    g0, pos0, inv0 = probe(0.0)
    if g0 <= 0:
        return 0.0, pos0["lat2"], pos0["lon2"], inv0["s12"]
    g1, pos1, inv1 = probe(length)
    if g1 >= 0:
        return length, pos1["lat2"], pos1["lon2"], inv1["s12"]
    lo, hi = 0.0, length
    while True:
        mid = 0.5 * (lo + hi)
        if mid <= lo or mid >= hi:
            break
        g, _, _ = probe(mid)
        if g > 0:
            lo = mid
        elif g < 0:
            hi = mid
        else:
            lo = hi = mid
            break
    s = 0.5 * (lo + hi)
    _, pos, inv = probe(s)
    # Independent sanity check: no point of a fine scan along the segment lies closer.
    for k in range(2001):
        d = SPHERE.Inverse(*line_point(line, length * k / 2000), p_lat, p_lon)["s12"]
        assert d >= inv["s12"] - 1e-6, (k, d, inv["s12"])
    return s, pos["lat2"], pos["lon2"], inv["s12"]


def line_point(line, s):
    pos = line.Position(s)
    return pos["lat2"], pos["lon2"]


def main():
    lines = [
        "# Great-circle reference values, sphere radius 6378.13 km, from GeographicLib "
        "(tools/geodesic_reference.py).",
        "# Longitude before latitude in degrees; kilometres; courses counter-clockwise from north.",
    ]

    lines.append("[distance] lon1 lat1 lon2 lat2 | distance course1")
    for lon1, lat1, lon2, lat2 in DISTANCE_PAIRS:
        inv = SPHERE.Inverse(float(lat1), float(lon1), float(lat2), float(lon2))
        lines.append(" ".join([lon1, lat1, lon2, lat2, "|", fmt(inv["s12"] / 1000),
                               fmt(course_ccw(inv["azi1"]))]))

    lines.append("[segment] lonA latA lonB latB lonP latP | distance along length lonN latN side")
    for lon_a, lat_a, lon_b, lat_b, lon_p, lat_p in SEGMENT_CASES:
        a = (float(lat_a), float(lon_a))
        b = (float(lat_b), float(lon_b))
        p = (float(lat_p), float(lon_p))
        along, n_lat, n_lon, dist = nearest_on_segment(*a, *b, *p)
        ab = SPHERE.Inverse(*a, *b)
        ap = SPHERE.Inverse(*a, *p)
        side = -1 if math.fmod(ap["azi1"] - ab["azi1"] + 720.0, 360.0) >= 180.0 else 1
        lines.append(" ".join([lon_a, lat_a, lon_b, lat_b, lon_p, lat_p, "|", fmt(dist / 1000),
                               fmt(along / 1000), fmt(ab["s12"] / 1000), fmt(n_lon), fmt(n_lat),
                               str(side)]))

    lines.append("[offset] lonA latA lonB latB offset | lon0 lat0 lon1 lat1")
    for lon_a, lat_a, lon_b, lat_b, offset in OFFSET_CASES:
        a = (float(lat_a), float(lon_a))
        b = (float(lat_b), float(lon_b))
        azi = SPHERE.Inverse(*a, *b)["azi1"] - 90.0  # left of the course at A
        d = float(offset) * 1000
        p0 = SPHERE.Direct(*a, azi, d)
        p1 = SPHERE.Direct(*b, azi, d)
        lines.append(" ".join([lon_a, lat_a, lon_b, lat_b, offset, "|", fmt(p0["lon2"]),
                               fmt(p0["lat2"]), fmt(p1["lon2"]), fmt(p1["lat2"])]))

    lines.append("[turn] lonA latA lonB latB lonC latC | direction")
    for lon_a, lat_a, lon_b, lat_b, lon_c, lat_c in TURN_CASES:
        c1 = course_ccw(SPHERE.Inverse(float(lat_a), float(lon_a), float(lat_b),
                                       float(lon_b))["azi1"])
        c2 = course_ccw(SPHERE.Inverse(float(lat_b), float(lon_b), float(lat_c),
                                       float(lon_c))["azi1"])
        diff = c2 - c1
        # A case close to a half degree would test rounding noise, not the course.
        assert abs(abs(diff - math.floor(diff)) - 0.5) > 0.01, diff
        lines.append(" ".join([lon_a, lat_a, lon_b, lat_b, lon_c, lat_c, "|",
                               str(round(diff) % 360)]))

    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
