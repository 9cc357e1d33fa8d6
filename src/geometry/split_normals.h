#pragma once

// Auto shading: smooth normals split where faces meet sharply.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/subdivision.h"

namespace tavimor {

// Faces whose normals are further apart than this meet at a sharp edge.
inline constexpr int kSharpDegrees = 30;

// Auto shading: smooth, except that where two faces meet at more than 30
// degrees (between their normals) each side keeps a normal of its own.
struct SplitNormals {
    // One per position: its smooth normal, or where its corners split,
    // the normal of its first group of them; then the normal of every
    // further group.
    std::vector<Position> normals;
    // The position each further group belongs to: normals[count + k]
    // belongs to owners[k].
    std::vector<int> owners;
    // The normal of each corner of each face, faces and corners as the
    // level's.
    std::vector<std::array<int, 3>> corners;
    // The corners (3 f + i) at positions whose corners split, in order.
    std::vector<int> splitCorners;
};

// Splits smooth (the level's smooth normals) where faces meet sharply.
void splitNormals(const LevelMesh& level, const LevelEdges& edges, std::span<const Position> positions,
                  std::span<const Position> smooth, SplitNormals& split);

}  // namespace tavimor
