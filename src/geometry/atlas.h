#pragma once

// A rock's own texture atlas: the coarsest level written cut into charts
// along its edges, each chart seen flat along its mean direction and
// packed into the unit square. Every finer level splits those faces'
// places as it splits the faces, so a level's texture vertices are the
// finer level's, in the same places, and the levels share one texture set.

#include <array>
#include <span>
#include <vector>

#include "geometry/subdivision.h"
#include "geometry/textured_vertices.h"

namespace tavimor {

// How far apart charts lie, and how far from the square's edge: 4 texels
// of a 1024-texel map, the same share of any other size.
inline constexpr double kChartGap = 4.0 / 1024.0;

struct RockAtlas {
    // Charts are made of this level's faces.
    int level = 0;
    int charts = 0;
    // The chart of each face of the level.
    std::vector<int> chartOf;
    // Where each corner of each face of the level lies in the square (u,
    // v; v up), corners as the level's.
    std::vector<std::array<TextureVertex, 3>> corners;
};

// The atlas of a rock whose coarsest level written is level, from its
// positions there: charts of that level's faces, each seen flat along its
// mean direction. Every finer level's faces split those faces' places.
RockAtlas rockAtlas(const DetailLevels& levels, int level, std::span<const Position> positions);

// One level's texture coordinates from an atlas: a texture vertex for each
// position and chart its faces belong to, in order of position, then
// chart, so that a coarser level's are the first of a finer level's, in
// the same places. level is the atlas's or finer.
struct TextureMesh {
    std::vector<TextureVertex> vertices;
    std::vector<std::array<int, 3>> corners;
    std::vector<int> owners;
    TextureCoordinates view() const { return {vertices, corners, owners}; }
};
void atlasTextures(const RockAtlas& atlas, const DetailLevels& levels, int level, TextureMesh& mesh);

// Where the corners of the faces of a level lie in their face of level 0,
// as weights of its three corners: [depth][i][corner] for face i among
// the 4^depth that a face of level 0 splits into at depth levels finer, in
// the order the levels number them. The same for every face and rock.
using CornerWeights = std::array<std::array<double, 3>, 3>;
const std::vector<CornerWeights>& cornerWeights(int depth);

}  // namespace tavimor
