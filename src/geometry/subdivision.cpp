#include "geometry/subdivision.h"

#include "geometry/hash.h"

namespace tavimor {
namespace {

// The finer levels add a vertex on every edge: the counts the issue of
// detail promises.
static_assert(kVertexCount - 2 == 73 && kFaceCount == 2 * 73);

std::uint64_t pairKey(int a, int b) {
    const auto low = static_cast<std::uint64_t>(a < b ? a : b);
    const auto high = static_cast<std::uint64_t>(a < b ? b : a);
    return (high << 32) | low;
}

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

// Edges to the vertices made on them, while a level is built: open
// addressing over a power-of-two table, several times faster than a node
// per entry, which matters at the finest levels (half a million edges).
class EdgeTable {
public:
    explicit EdgeTable(std::size_t edges) {
        std::size_t size = 16;
        while (size < 2 * edges) size *= 2;
        keys_.assign(size, kEmpty);
        values_.resize(size);
    }
    // The value for the edge, made by make() the first time it is asked.
    template <typename Make>
    int find(std::uint64_t key, Make make) {
        const std::size_t mask = keys_.size() - 1;
        for (std::size_t at = static_cast<std::size_t>((key * kGolden) >> 20) & mask;; at = (at + 1) & mask) {
            if (keys_[at] == key) return values_[at];
            if (keys_[at] == kEmpty) {
                keys_[at] = key;
                return values_[at] = make();
            }
        }
    }

private:
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    std::vector<std::uint64_t> keys_;
    std::vector<int> values_;
};

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

// The level above `below`: every face split into four, the corners in the
// same turning order as their parent's.
LevelMesh splitLevel(const LevelMesh& below, std::vector<std::array<int, 2>>& edgeOfPosition) {
    LevelMesh level;
    level.positionCount = below.positionCount;
    level.textureVertices = below.textureVertices;
    level.textureOwners = below.textureOwners;
    level.faces.reserve(below.faces.size() * 4);
    level.faceTextures.reserve(below.faces.size() * 4);
    // Every edge is in two faces; a texture edge on a seam in one.
    EdgeTable positionOfEdge(below.faces.size() * 3 / 2), textureOfEdge(below.faces.size() * 3);
    const auto midPosition = [&](int a, int b) {
        return positionOfEdge.find(pairKey(a, b), [&] {
            edgeOfPosition.push_back({a, b});
            return level.positionCount++;
        });
    };
    // A new corner takes the midpoint of its edge's two corners on that
    // face: the texture seams stay seams.
    const auto midTexture = [&](int ta, int tb, int position) {
        return textureOfEdge.find(pairKey(ta, tb), [&] {
            const TextureVertex& a = level.textureVertices[static_cast<std::size_t>(ta)];
            const TextureVertex& b = level.textureVertices[static_cast<std::size_t>(tb)];
            level.textureVertices.push_back({(a.u + b.u) / 2, (a.v + b.v) / 2});
            level.textureOwners.push_back(position);
            return static_cast<int>(level.textureVertices.size() - 1);
        });
    };
    for (std::size_t f = 0; f < below.faces.size(); ++f) {
        const auto [a, b, c] = below.faces[f];
        const auto [ta, tb, tc] = below.faceTextures[f];
        const int ab = midPosition(a, b), bc = midPosition(b, c), ca = midPosition(c, a);
        const int tab = midTexture(ta, tb, ab), tbc = midTexture(tb, tc, bc), tca = midTexture(tc, ta, ca);
        level.faces.insert(level.faces.end(), {{a, ab, ca}, {ab, b, bc}, {ca, bc, c}, {ab, bc, ca}});
        level.faceTextures.insert(level.faceTextures.end(), {{ta, tab, tca}, {tab, tb, tbc}, {tca, tbc, tc}, {tab, tbc, tca}});
    }
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

DetailLevels buildDetailLevels(int detail) {
    DetailLevels levels;
    levels.levels.push_back(levelZero());
    for (int k = 1; k <= detail; ++k) levels.levels.push_back(splitLevel(levels.levels.back(), levels.edgeOfPosition));
    return levels;
}

}  // namespace tavimor
