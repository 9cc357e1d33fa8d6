#include "cobwriter/mesh_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "geometry/vertex_template.h"

namespace tavimor {
namespace {

using Edge = std::pair<int, int>;

std::map<Edge, int> directedEdges() {
    std::map<Edge, int> count;
    for (const Face& face : kFaces) {
        for (int k = 0; k < 3; ++k) ++count[{face[k].vertex, face[(k + 1) % 3].vertex}];
    }
    return count;
}

TEST(MeshTables, FacesAreProperTrianglesWithoutRepeats) {
    std::set<std::set<int>> seen;
    for (std::size_t f = 0; f < kFaces.size(); ++f) {
        std::set<int> vertices;
        for (const Corner& c : kFaces[f]) {
            EXPECT_GE(c.vertex, 0);
            EXPECT_LT(c.vertex, kVertexCount);
            EXPECT_GE(c.textureVertex, 0);
            EXPECT_LT(c.textureVertex, kTextureVertexCount);
            vertices.insert(c.vertex);
        }
        EXPECT_EQ(vertices.size(), 3u) << "face " << f;
        EXPECT_TRUE(seen.insert(vertices).second) << "face " << f << " repeats another";
    }
}

TEST(MeshTables, EveryVertexUsedAndEveryTextureVertexBelongsToOneVertex) {
    std::set<int> vertices;
    std::map<int, std::set<int>> ownerOfTexture;
    for (const Face& face : kFaces) {
        for (const Corner& c : face) {
            vertices.insert(c.vertex);
            ownerOfTexture[c.textureVertex].insert(c.vertex);
        }
    }
    EXPECT_EQ(vertices.size(), static_cast<std::size_t>(kVertexCount));
    for (int t = 0; t < kTextureVertexCount; ++t) {
        if (t == 64 || t == 68) {
            EXPECT_EQ(ownerOfTexture.count(t), 0u) << t;
        } else {
            ASSERT_EQ(ownerOfTexture.count(t), 1u) << "texture vertex " << t << " unused";
            EXPECT_EQ(ownerOfTexture[t].size(), 1u) << "texture vertex " << t << " shared";
        }
    }
}

TEST(MeshTables, MeshIsClosedAndConsistentlyOriented) {
    const auto directed = directedEdges();
    std::set<Edge> undirected;
    for (const auto& [edge, count] : directed) {
        EXPECT_EQ(count, 1) << edge.first << "->" << edge.second << " runs the same way twice";
        const auto reverse = directed.find({edge.second, edge.first});
        EXPECT_TRUE(reverse != directed.end() && reverse->second == 1)
            << edge.first << "->" << edge.second << " has no opposite";
        undirected.insert(std::minmax(edge.first, edge.second));
    }
    EXPECT_EQ(undirected.size(), 219u);
    EXPECT_EQ(kVertexCount - static_cast<int>(undirected.size()) + kFaceCount, 2);
}

TEST(MeshTables, EdgeCountsPerVertex) {
    std::map<int, std::set<int>> neighbours;
    for (const auto& [edge, count] : directedEdges()) neighbours[edge.first].insert(edge.second);
    std::map<std::size_t, int> histogram;
    for (const auto& [vertex, adjacent] : neighbours) ++histogram[adjacent.size()];
    EXPECT_EQ(histogram, (std::map<std::size_t, int>{{4, 7}, {5, 20}, {6, 33}, {7, 11}, {8, 1}, {9, 3}}));
}

TEST(MeshTables, FacesRunClockwiseFromOutsideOnTheBaseShape) {
    VertexTemplate t = allocateVertexTemplate();
    fillVertexTemplate(t.X.data(), t.Y.data(), t.Z.data());
    for (std::size_t f = 0; f < kFaces.size(); ++f) {
        const int a = kFaces[f][0].vertex, b = kFaces[f][1].vertex, c = kFaces[f][2].vertex;
        const double det = t.X[a] * (t.Y[b] * t.Z[c] - t.Z[b] * t.Y[c]) -
                           t.Y[a] * (t.X[b] * t.Z[c] - t.Z[b] * t.X[c]) +
                           t.Z[a] * (t.X[b] * t.Y[c] - t.Y[b] * t.X[c]);
        EXPECT_LT(det, 0.0) << "face " << f;
    }
}

TEST(MeshTables, TextureCornersRunClockwiseAndStayCloseInU) {
    for (std::size_t f = 0; f < kFaces.size(); ++f) {
        double u[3], v[3];
        for (int k = 0; k < 3; ++k) {
            const std::string text(kTextureVertices[kFaces[f][k].textureVertex]);
            char* end = nullptr;
            u[k] = std::strtod(text.c_str(), &end);
            v[k] = std::strtod(end, nullptr);
        }
        const double area = (u[1] - u[0]) * (v[2] - v[0]) - (u[2] - u[0]) * (v[1] - v[0]);
        EXPECT_LT(area, 0.0) << "face " << f;
        EXPECT_LE(*std::max_element(u, u + 3) - *std::min_element(u, u + 3), 0.250321 + 1e-9) << "face " << f;
    }
}

TEST(MeshTables, TextureLinesAreSixDecimalPairs) {
    for (std::size_t i = 0; i < kTextureVertices.size(); ++i) {
        const std::string_view line = kTextureVertices[i];
        const auto blank = line.find(' ');
        ASSERT_NE(blank, std::string_view::npos) << i;
        for (const std::string_view number : {line.substr(0, blank), line.substr(blank + 1)}) {
            const auto point = number.find('.');
            ASSERT_NE(point, std::string_view::npos) << i;
            EXPECT_EQ(number.size() - point - 1, 6u) << i;
            EXPECT_EQ(number.find_first_not_of("-.0123456789"), std::string_view::npos) << i;
        }
    }
}

}  // namespace
}  // namespace tavimor
