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
    // The share of its area on planar patches of at least 2 % of it (faces
    // within 4 degrees and 0.4 % of a of one plane), how many such patches
    // there are, and the largest's share.
    double planarShare = 0;
    int patches = 0;
    double largestPatch = 0;
    // Whether its two largest patches face nearly opposite ways (within 25
    // degrees).
    bool twoOpposite = false;
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
