#include "geometry/topology.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace tavimor {
namespace {

// Closedness, index ranges and texture ownership are checked where the tables
// are defined; these are the properties that need real arithmetic.

TEST(Topology, EdgeCountsPerVertex) {
    std::map<int, std::set<int>> neighbours;
    for (const Face& face : kFaces) {
        for (int k = 0; k < 3; ++k) neighbours[face[k].vertex].insert(face[(k + 1) % 3].vertex);
    }
    std::map<std::size_t, int> histogram;
    for (const auto& [vertex, adjacent] : neighbours) ++histogram[adjacent.size()];
    EXPECT_EQ(histogram, (std::map<std::size_t, int>{{4, 7}, {5, 20}, {6, 33}, {7, 11}, {8, 1}, {9, 3}}));
}

TEST(Topology, FacesRunClockwiseFromOutsideOnTheBaseShape) {
    for (std::size_t f = 0; f < kFaces.size(); ++f) {
        const Position& a = kBaseShape[kFaces[f][0].vertex];
        const Position& b = kBaseShape[kFaces[f][1].vertex];
        const Position& c = kBaseShape[kFaces[f][2].vertex];
        const double det = a.x * (b.y * c.z - b.z * c.y) - a.y * (b.x * c.z - b.z * c.x) + a.z * (b.x * c.y - b.y * c.x);
        EXPECT_LT(det, 0.0) << "face " << f;
    }
}

TEST(Topology, TextureCornersRunClockwiseAndStayCloseInU) {
    for (std::size_t f = 0; f < kFaces.size(); ++f) {
        double u[3], v[3];
        for (int k = 0; k < 3; ++k) {
            u[k] = kTextureVertices[kFaces[f][k].textureVertex].u;
            v[k] = kTextureVertices[kFaces[f][k].textureVertex].v;
        }
        const double area = (u[1] - u[0]) * (v[2] - v[0]) - (u[2] - u[0]) * (v[1] - v[0]);
        EXPECT_LT(area, 0.0) << "face " << f;
        EXPECT_LE(*std::max_element(u, u + 3) - *std::min_element(u, u + 3), 0.250321 + 1e-9) << "face " << f;
    }
}

}  // namespace
}  // namespace tavimor
