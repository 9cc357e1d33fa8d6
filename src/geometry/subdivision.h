#pragma once

// Detail levels: every level splits each triangle of the one below into
// four, with one new vertex on each edge. The levels nest: a level keeps
// every position (and texture vertex) of the level below, in the same
// places, and only adds new ones after them.

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/topology.h"

namespace tavimor {

inline constexpr int kMostDetail = 6;

// The mesh every rock shares at one detail level.
struct LevelMesh {
    int positionCount = 0;
    // Corners as in kFaces: clockwise seen from outside.
    std::vector<std::array<int, 3>> faces;
    // The texture vertex of each corner of each face.
    std::vector<std::array<int, 3>> faceTextures;
    std::vector<TextureVertex> textureVertices;
    // The position each texture vertex belongs to; -1 for one no face uses.
    std::vector<int> textureOwners;
};

// Every level from 0 up to a detail: the same for every rock, so a run
// builds it once and a rock costs only its positions.
struct DetailLevels {
    std::vector<LevelMesh> levels;
    // The edge each position from kVertexCount on is the midpoint of, in
    // position order: the ends are positions made before it.
    std::vector<std::array<int, 2>> edgeOfPosition;
};

// 146 * 4^detail faces over 73 * 4^detail + 2 positions. Levels finer
// than `textured` have no texture vertices: the levels that maps are baked
// from and no file holds need none, and a level 6 of them costs as much
// again as its faces.
DetailLevels buildDetailLevels(int detail, int textured);
inline DetailLevels buildDetailLevels(int detail) { return buildDetailLevels(detail, detail); }

// How big a level is, known without building it: every level adds one
// position per edge and one texture vertex per edge of the texture mesh.
struct LevelCounts {
    std::uint64_t positions, faces, textureVertices, usedTextureVertices;
};
LevelCounts levelCounts(int detail);

// How a level's faces meet, the same for every rock: half-edge 3 f + i
// runs from corner i of face f to the next corner, and twin[h] is the
// half-edge running the other way along the same edge.
struct LevelEdges {
    std::vector<int> twin;
    // A corner (3 f + i) at each position.
    std::vector<int> cornerAt;
};
LevelEdges edgesOf(const LevelMesh& level);

}  // namespace tavimor
