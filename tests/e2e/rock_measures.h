#pragma once

// What a rock looks like, in numbers, measured from its closed surface as a
// file holds it: its proportions, how solid it is, how much of it is flat,
// how rough.

#include <array>
#include <string>
#include <vector>

namespace tavimor::e2e {

using Point = std::array<double, 3>;

// A closed surface: its triangles counter-clockwise seen from outside.
struct Surface {
    std::vector<Point> positions;
    std::vector<std::array<std::size_t, 3>> triangles;
};
// The surface a binary PLY file holds.
Surface surfaceOfPly(const std::string& bytes);

struct RockMeasures {
    // The surface's extents along its principal axes, a >= b >= c.
    double a = 0, b = 0, c = 0;
    // Its volume over its convex hull's.
    double solidity = 0;
    // Its fracture faces: regions bounded by sharp edges (where triangles'
    // normals are more than 30 degrees apart), each at least 2 % of the
    // area and within 5 % of a of its best-fitting plane (the rest of the
    // surface, the body, is not): how many, their share of the area, and
    // how far each strays from its plane (root mean square, a fraction of
    // a), the median of them.
    int faces = 0;
    double faceShare = 0;
    double faceDeviation = 0;
    // Whether its two largest faces face nearly opposite ways (within 25
    // degrees).
    bool twoOpposite = false;
    // Along its sharp edges, the median turn from one edge to the next
    // where a crease runs on through a position, in degrees (0 where there
    // is none): a crease that zigzags over triangles turns by tens.
    double creaseTurn = 0;
    // How far the surface outside its faces strays from its best-fitting
    // ellipsoid along rays from its centre, root mean square, a fraction
    // of its mean radius.
    double ellipsoidDeviation = 0;
    // The mean angle between neighbouring faces' normals, in degrees.
    double roughness = 0;
};
RockMeasures measure(const Surface& surface);

// The median and the quartiles of values.
struct Spread {
    double low, median, high;
};
Spread spreadOf(std::vector<double> values);

}  // namespace tavimor::e2e
