#pragma once

// Detail levels: every level splits each triangle of the one below into
// four, with one new vertex on each edge. The levels nest: a level keeps
// every position (and texture vertex) of the level below, in the same
// places, and only adds new ones after them.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/rock.h"
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

// 146 * 4^detail faces over 73 * 4^detail + 2 positions.
DetailLevels buildDetailLevels(int detail);

// How big a level is, known without building it: every level adds one
// position per edge and one texture vertex per edge of the texture mesh.
struct LevelCounts {
    std::uint64_t positions, faces, textureVertices, usedTextureVertices;
};
LevelCounts levelCounts(int detail);

// Where a rock's own randomness for its finer levels comes from: the run's
// seed and the rock's number. It never draws from the run's generator, so
// the detail never changes which rocks a seed makes.
struct RockIdentity {
    std::uint32_t seed = 0;
    int number = 0;
};

// A uniform number in [0, 1) for one position of one rock: a counter-based
// hash of the seed, the rock's number and the position's index.
double positionDraw(const RockIdentity& rock, int position);

// The rock at the finest of levels: the 75 positions of makeRock (taking
// its kVertexCount draws from generator, as a rock of detail 0 does), then
// every finer position. A new position starts at its edge's midpoint and is
// pushed outward from the centre by a factor from 1 to 1 + the level's
// roughness, its own draw choosing where. Scale is applied last, to every
// position, so that detail 0 stays bit for bit what makeRock makes.
std::vector<Position> makeDetailedRock(Lcg& generator, int spike, const Scale& scale, const DetailLevels& levels,
                                       const RockIdentity& rock);
// The same, into positions, whose memory is used again.
void makeDetailedRock(Lcg& generator, int spike, const Scale& scale, const DetailLevels& levels,
                      const RockIdentity& rock, std::vector<Position>& positions);

// How far a new position of level (1 and up) may be pushed out beyond its
// edge's midpoint, as a fraction of its distance from the centre.
double levelRoughness(int level, int spike);

// The box a rock's positions fill, and how far the farthest lies from the
// centre.
struct Extent {
    Position low, high;
    double reach;
};
Extent extentOf(std::span<const Position> positions);

// One unit normal per position of the level: the average of the normals of
// the faces around it, each weighted by the face's angle at that corner,
// pointing outward. Computed in single precision with + - * / and sqrt
// only, so that every platform gets the same bits; each normal is exact as
// a float.
void smoothNormals(const LevelMesh& level, std::span<const Position> positions, std::vector<Position>& normals);

}  // namespace tavimor
