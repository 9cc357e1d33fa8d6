#include "geometry/subdivision.h"

#include <algorithm>
#include <span>

namespace tavimor {
namespace {

// The finer levels add a vertex on every edge: the counts the issue of
// detail promises.
static_assert(kVertexCount - 2 == 73 && kFaceCount == 2 * 73);

// The edges of the texture mesh at level 0: each pair of texture vertices
// that two corners of a face join, counted once.
constexpr std::uint64_t textureEdgesOfLevelZero() {
    std::array<std::array<int, 2>, 3 * kFaceCount> edges{};
    std::size_t count = 0;
    for (const Face& face : kFaces) {
        for (std::size_t k = 0; k < 3; ++k) {
            const int a = face[k].textureVertex, b = face[(k + 1) % 3].textureVertex;
            const std::array<int, 2> edge = {a < b ? a : b, a < b ? b : a};
            bool seen = false;
            for (std::size_t e = 0; e < count && !seen; ++e) seen = edges[e] == edge;
            if (!seen) edges[count++] = edge;
        }
    }
    return count;
}

// A half-edge: edge e of face f, from its corner e to corner e + 1, is
// 3 f + e. Every edge of the closed mesh is two half-edges, one each way;
// each half-edge's twin is the other. Knowing the twins, a level finds the
// vertex made on an edge by an array look-up, and hands the next level its
// twins without searching.
using Twins = std::vector<int>;

LevelMesh levelZero() {
    LevelMesh level;
    level.positionCount = kVertexCount;
    for (const Face& face : kFaces) {
        level.faces.push_back({face[0].vertex, face[1].vertex, face[2].vertex});
        level.faceTextures.push_back({face[0].textureVertex, face[1].textureVertex, face[2].textureVertex});
    }
    level.textureVertices.assign(kTextureVertices.begin(), kTextureVertices.end());
    level.textureOwners.assign(kTextureVertices.size(), -1);
    for (const Face& face : kFaces) {
        for (const Corner& c : face) level.textureOwners[static_cast<std::size_t>(c.textureVertex)] = c.vertex;
    }
    return level;
}

Twins twinsOfLevelZero() {
    Twins twins(3 * kFaces.size(), -1);
    for (std::size_t h = 0; h < twins.size(); ++h) {
        const int a = kFaces[h / 3][h % 3].vertex, b = kFaces[h / 3][(h + 1) % 3].vertex;
        for (std::size_t t = 0; t < twins.size() && twins[h] < 0; ++t) {
            if (kFaces[t / 3][t % 3].vertex == b && kFaces[t / 3][(t + 1) % 3].vertex == a) twins[h] = static_cast<int>(t);
        }
    }
    return twins;
}

// The children of face f are faces 4 f to 4 f + 3: (a, ab, ca), (ab, b, bc),
// (ca, bc, c) and (ab, bc, ca). Edge e of the parent becomes the first
// half, from its start to its midpoint, and the second half, in these
// children's edges:
constexpr int kFirstHalf[3] = {0 * 3 + 0, 1 * 3 + 1, 2 * 3 + 2};
constexpr int kSecondHalf[3] = {1 * 3 + 0, 2 * 3 + 1, 0 * 3 + 2};
// and the inner edges pair off within the four: child 0's edge 1 with child
// 3's edge 2, child 1's edge 2 with child 3's edge 0, child 2's edge 0 with
// child 3's edge 1.
constexpr std::array<std::array<int, 2>, 3> kInnerPairs = {{{0 * 3 + 1, 3 * 3 + 2}, {1 * 3 + 2, 3 * 3 + 0}, {2 * 3 + 0, 3 * 3 + 1}}};

// The level above `below`: every face split into four, the corners in the
// same turning order as their parent's. New positions and texture vertices
// are numbered as the faces meet their edges, in face order.
// The twins of the new level are worked out only where a level follows,
// and its texture vertices only where `textured`.
LevelMesh splitLevel(const LevelMesh& below, Twins& twins, std::vector<std::array<int, 2>>& edgeOfPosition,
                     bool last, bool textured) {
    LevelMesh level;
    level.positionCount = below.positionCount;
    const std::size_t parents = below.faces.size();
    level.faces.resize(parents * 4);
    if (textured) {
        level.textureVertices.reserve(below.textureVertices.size() + 3 * parents);
        level.textureOwners.reserve(level.textureVertices.capacity());
        level.textureVertices = below.textureVertices;
        level.textureOwners = below.textureOwners;
        level.faceTextures.resize(parents * 4);
    }
    // What each half-edge of the level below got on its midpoint.
    std::vector<int> midPosition(3 * parents, -1), midTexture(textured ? 3 * parents : 0, -1);
    Twins next(last ? 0 : 12 * parents);
    for (std::size_t f = 0; f < parents; ++f) {
        const auto& corners = below.faces[f];
        const auto& textures = textured ? below.faceTextures[f] : corners;
        std::array<int, 3> mid{}, midT{};
        for (std::size_t e = 0; e < 3; ++e) {
            const std::size_t h = 3 * f + e, twin = static_cast<std::size_t>(twins[h]);
            const int a = corners[e], b = corners[(e + 1) % 3];
            // The twin's face met this edge first if it came before.
            if (midPosition[twin] >= 0) {
                mid[e] = midPosition[twin];
            } else {
                edgeOfPosition.push_back({a, b});
                mid[e] = level.positionCount++;
            }
            midPosition[h] = mid[e];
            if (textured) {
                // A texture vertex is shared with the twin only where the twin's
                // corners have the same ones: the texture seams stay seams.
                const int ta = textures[e], tb = textures[(e + 1) % 3];
                const auto& twinTextures = below.faceTextures[twin / 3];
                const bool sameTexture = twinTextures[twin % 3] == tb && twinTextures[(twin % 3 + 1) % 3] == ta;
                if (sameTexture && midTexture[twin] >= 0) {
                    midT[e] = midTexture[twin];
                } else {
                    const TextureVertex& u = level.textureVertices[static_cast<std::size_t>(ta)];
                    const TextureVertex& v = level.textureVertices[static_cast<std::size_t>(tb)];
                    level.textureVertices.push_back({(u.u + v.u) / 2, (u.v + v.v) / 2});
                    level.textureOwners.push_back(mid[e]);
                    midT[e] = static_cast<int>(level.textureVertices.size() - 1);
                }
                midTexture[h] = midT[e];
            }
            if (last) continue;
            // The halves' twins are the twin's halves, the other way round.
            const std::size_t g = twin / 3, eTwin = twin % 3;
            next[12 * f + static_cast<std::size_t>(kFirstHalf[e])] =
                static_cast<int>(12 * g + static_cast<std::size_t>(kSecondHalf[eTwin]));
            next[12 * f + static_cast<std::size_t>(kSecondHalf[e])] =
                static_cast<int>(12 * g + static_cast<std::size_t>(kFirstHalf[eTwin]));
        }
        for (const auto& [x, y] : last ? std::span<const std::array<int, 2>>() : std::span(kInnerPairs)) {
            next[12 * f + static_cast<std::size_t>(x)] = static_cast<int>(12 * f + static_cast<std::size_t>(y));
            next[12 * f + static_cast<std::size_t>(y)] = static_cast<int>(12 * f + static_cast<std::size_t>(x));
        }
        const auto [a, b, c] = corners;
        const auto [ab, bc, ca] = mid;
        std::array<int, 3>* child = &level.faces[4 * f];
        child[0] = {a, ab, ca};
        child[1] = {ab, b, bc};
        child[2] = {ca, bc, c};
        child[3] = {ab, bc, ca};
        if (!textured) continue;
        const auto [ta, tb, tc] = textures;
        const auto [tab, tbc, tca] = midT;
        std::array<int, 3>* childTextures = &level.faceTextures[4 * f];
        childTextures[0] = {ta, tab, tca};
        childTextures[1] = {tab, tb, tbc};
        childTextures[2] = {tca, tbc, tc};
        childTextures[3] = {tab, tbc, tca};
    }
    twins = std::move(next);
    return level;
}

}  // namespace

LevelCounts levelCounts(int detail) {
    static constexpr std::uint64_t kTextureEdges = textureEdgesOfLevelZero();
    LevelCounts counts = {kVertexCount, kFaceCount, kTextureVertexCount, kTextureVertexCount - 2};
    std::uint64_t positionEdges = 3 * kFaceCount / 2;
    std::uint64_t textureEdges = kTextureEdges;
    for (int k = 1; k <= detail; ++k) {
        counts.positions += positionEdges;
        counts.textureVertices += textureEdges;
        counts.usedTextureVertices += textureEdges;
        // Each edge becomes two, and each face gets three edges inside it.
        positionEdges = 2 * positionEdges + 3 * counts.faces;
        textureEdges = 2 * textureEdges + 3 * counts.faces;
        counts.faces *= 4;
    }
    return counts;
}

DetailLevels buildDetailLevels(int detail, int textured) {
    DetailLevels levels;
    levels.levels.reserve(static_cast<std::size_t>(detail) + 1);
    levels.levels.push_back(levelZero());
    levels.edgeOfPosition.reserve(levelCounts(detail).positions - kVertexCount);
    Twins twins = twinsOfLevelZero();
    for (int k = 1; k <= detail; ++k) {
        levels.levels.push_back(splitLevel(levels.levels.back(), twins, levels.edgeOfPosition, k == detail, k <= textured));
    }
    return levels;
}

LevelEdges edgesOf(const LevelMesh& level) {
    LevelEdges edges;
    const std::size_t halfEdges = level.faces.size() * 3;
    edges.twin.assign(halfEdges, -1);
    edges.cornerAt.assign(static_cast<std::size_t>(level.positionCount), -1);
    // Every half-edge by its ends, the smaller first: a sort puts each
    // next to its twin.
    struct End {
        int low, high, halfEdge;
    };
    std::vector<End> ends(halfEdges);
    for (std::size_t f = 0; f < level.faces.size(); ++f) {
        for (std::size_t i = 0; i < 3; ++i) {
            const int from = level.faces[f][i], to = level.faces[f][(i + 1) % 3];
            ends[3 * f + i] = {std::min(from, to), std::max(from, to), static_cast<int>(3 * f + i)};
            if (edges.cornerAt[static_cast<std::size_t>(from)] < 0) {
                edges.cornerAt[static_cast<std::size_t>(from)] = static_cast<int>(3 * f + i);
            }
        }
    }
    std::sort(ends.begin(), ends.end(), [](const End& a, const End& b) {
        return a.low != b.low ? a.low < b.low : (a.high != b.high ? a.high < b.high : a.halfEdge < b.halfEdge);
    });
    // A closed mesh: every edge has exactly two half-edges.
    for (std::size_t k = 0; k + 1 < ends.size(); k += 2) {
        edges.twin[static_cast<std::size_t>(ends[k].halfEdge)] = ends[k + 1].halfEdge;
        edges.twin[static_cast<std::size_t>(ends[k + 1].halfEdge)] = ends[k].halfEdge;
    }
    return edges;
}

}  // namespace tavimor
