#include "geometry/detail.h"

#include <algorithm>
#include <cmath>

namespace tavimor {
namespace {

// How rough the first finer level is at spike 9: a new vertex is pushed out
// past its edge's midpoint by up to 7 % of its distance from the centre.
// Each further level halves it, so the surface gets ever finer bumps of ever
// smaller size, as weathered stone does, and the pushes add up to under
// 14 %: facets and silhouette stay, and a coarser level looks like the
// finer one from afar. Chosen by looking at the rocks: at 0.22 every facet
// swelled into a pillow and the finest levels crumbled into gravel; at 0.03
// the finer levels hardly showed.
constexpr double kFirstLevelRoughness = 0.07;

// The finer levels add a vertex on every edge: the counts the issue of
// detail promises.
static_assert(kVertexCount - 2 == 73 && kFaceCount == 2 * 73);

std::uint64_t pairKey(int a, int b) {
    const auto low = static_cast<std::uint64_t>(a < b ? a : b);
    const auto high = static_cast<std::uint64_t>(a < b ? b : a);
    return (high << 32) | low;
}

// splitmix64's finaliser: every input bit reaches every output bit.
constexpr std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15u;

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

// atan(r) for r in [0, 1], within 1.7e-6: a weight needs no more, and a
// short polynomial keeps the normals fast.
[[gnu::always_inline]] inline float atanOfRatio(float r) {
    const float s = r * r;
    return r * (0.99997726f + s * (-0.33262347f + s * (0.19354346f + s * (-0.11643287f + s * (0.05265332f +
                                                                                              s * -0.01172120f)))));
}

constexpr float kPiF = 3.14159265f;

// atan2(cross, dot) for cross > 0, without a branch, so that the compiler
// can work on several faces at once.
[[gnu::always_inline]] inline float angleOf(float cross, float dot) {
    const float along = dot < 0 ? -dot : dot;
    const float low = cross < along ? cross : along;
    const float high = cross < along ? along : cross;
    // Never 0 / 0: a face without area has its weights set to 0 apart.
    float angle = atanOfRatio(low / (high > 0 ? high : 1.0f));
    angle = cross > along ? kPiF / 2 - angle : angle;
    return dot < 0 ? kPiF - angle : angle;
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

namespace {

// The rock's own key: its seed and number, mixed once.
std::uint64_t keyOf(const RockIdentity& rock) {
    return mix((static_cast<std::uint64_t>(rock.seed) << 32 | static_cast<std::uint32_t>(rock.number)) + kGolden);
}

// The top 53 bits of a mix of the key and the position, as a double in
// [0, 1): exact on every platform.
double drawOf(std::uint64_t key, int position) {
    return static_cast<double>(mix(key + static_cast<std::uint64_t>(position) * kGolden) >> 11) * 0x1.0p-53;
}

}  // namespace

double positionDraw(const RockIdentity& rock, int position) { return drawOf(keyOf(rock), position); }

double levelRoughness(int level, int spike) {
    double roughness = kFirstLevelRoughness * spike / 9.0;
    for (int k = 1; k < level; ++k) roughness /= 2;
    return roughness;
}

Extent extentOf(std::span<const Position> positions) {
    // Two of everything, for even and odd positions: twice as many
    // comparisons under way at once.
    struct Running {
        double lx, ly, lz, hx, hy, hz, far;
        void take(const Position& p) {
            lx = p.x < lx ? p.x : lx;
            ly = p.y < ly ? p.y : ly;
            lz = p.z < lz ? p.z : lz;
            hx = p.x > hx ? p.x : hx;
            hy = p.y > hy ? p.y : hy;
            hz = p.z > hz ? p.z : hz;
            const double d = p.x * p.x + p.y * p.y + p.z * p.z;
            far = d > far ? d : far;
        }
    };
    const Position& first = positions[0];
    Running even{first.x, first.y, first.z, first.x, first.y, first.z, 0}, odd = even;
    std::size_t i = 0;
    for (; i + 1 < positions.size(); i += 2) {
        even.take(positions[i]);
        odd.take(positions[i + 1]);
    }
    if (i < positions.size()) even.take(positions[i]);
    return {{std::min(even.lx, odd.lx), std::min(even.ly, odd.ly), std::min(even.lz, odd.lz)},
            {std::max(even.hx, odd.hx), std::max(even.hy, odd.hy), std::max(even.hz, odd.hz)},
            std::sqrt(std::max(even.far, odd.far))};
}

std::vector<Position> makeDetailedRock(Lcg& generator, int spike, const Scale& scale, const DetailLevels& levels,
                                       const RockIdentity& rock) {
    std::vector<Position> positions;
    makeDetailedRock(generator, spike, scale, levels, rock, positions);
    return positions;
}

void makeDetailedRock(Lcg& generator, int spike, const Scale& scale, const DetailLevels& levels,
                      const RockIdentity& rock, std::vector<Position>& positions) {
    // The base rock unscaled: a factor of 1 changes no bit, and scaling it
    // at the end multiplies in the same order makeRock does.
    const Rock base = makeRock(generator, spike);
    const std::uint64_t key = keyOf(rock);
    positions.reserve(static_cast<std::size_t>(levels.levels.back().positionCount));
    positions.assign(base.positions.begin(), base.positions.end());
    for (std::size_t level = 1; level < levels.levels.size(); ++level) {
        const double roughness = levelRoughness(static_cast<int>(level), spike);
        const auto end = static_cast<std::size_t>(levels.levels[level].positionCount);
        for (std::size_t i = positions.size(); i < end; ++i) {
            const auto [a, b] = levels.edgeOfPosition[i - kVertexCount];
            const Position& p = positions[static_cast<std::size_t>(a)];
            const Position& q = positions[static_cast<std::size_t>(b)];
            // Out along the ray through the midpoint: the point stays in the
            // cone its edge spans from the centre, so no face turns its back
            // to the centre and no two faces cross.
            const double factor = 0.5 * (1.0 + roughness * drawOf(key, static_cast<int>(i)));
            positions.push_back({(p.x + q.x) * factor, (p.y + q.y) * factor, (p.z + q.z) * factor});
        }
    }
    if (scale.x != 1.0 || scale.y != 1.0 || scale.z != 1.0) {
        for (Position& p : positions) p = {p.x * scale.x, p.y * scale.y, p.z * scale.z};
    }
}

namespace {

// Vectors in single precision: a unit normal written as a float needs no
// more, and four of them fit one vector register.
struct Vec {
    float x, y, z;
};

Vec operator-(const Vec& a, const Vec& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(const Vec& a, const Vec& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(const Vec& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec toVec(const Position& p) { return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)}; }

// A face's part in its corners' normals: its outward unit normal times its
// angle at each corner. Everything is worked out for every face and chosen
// after: an operation under a condition would keep the compiler from
// working on several faces at once.
struct Shares {
    Vec atA, atB, atC;
};

// Inlined always, so that the loop around it can be vectorised.
[[gnu::always_inline]] inline Shares sharesOf(const Vec& a, const Vec& b, const Vec& c) {
    const Vec u = b - a, v = c - a;
    // The corners run clockwise seen from outside: v x u points out.
    const Vec n = {v.y * u.z - v.z * u.y, v.z * u.x - v.x * u.z, v.x * u.y - v.y * u.x};
    const float twiceArea = std::sqrt(dot(n, n));
    // |u x v| is the same at every corner; only the dot products differ: at
    // a, u . v; at b, (a - b) . (c - b) = u . u - u . v.
    const float uv = dot(u, v);
    const float angleA = angleOf(twiceArea, uv);
    const float angleB = angleOf(twiceArea, dot(u, u) - uv);
    const bool hasArea = twiceArea > 0;
    const float perLength = 1.0f / (hasArea ? twiceArea : 1.0f);
    const Vec unit = n * (hasArea ? perLength : 0.0f);
    return {unit * angleA, unit * angleB, unit * (kPiF - angleA - angleB)};
}

void addTo(std::vector<float>& sums, int vertex, const Vec& share) {
    float* sum = &sums[static_cast<std::size_t>(vertex) * 3];
    sum[0] += share.x;
    sum[1] += share.y;
    sum[2] += share.z;
}

// Level 0: face by face.
void addFaceShares(const LevelMesh& level, std::span<const Position> positions, std::vector<float>& sums) {
    for (const auto& [a, b, c] : level.faces) {
        const Shares s = sharesOf(toVec(positions[static_cast<std::size_t>(a)]),
                                  toVec(positions[static_cast<std::size_t>(b)]),
                                  toVec(positions[static_cast<std::size_t>(c)]));
        addTo(sums, a, s.atA);
        addTo(sums, b, s.atB);
        addTo(sums, c, s.atC);
    }
}

// The finer levels: the four faces a face of the level below was split
// into share its six vertices (its corners a, b, c and the midpoints ab,
// bc, ca), so they are fetched and summed four faces at a time, each vertex
// once. In blocks, each in three passes: fetch, work out (several parents at
// once, in vector instructions), add.
#if defined(__linux__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
void addParentShares(const LevelMesh& level, std::span<const float> points, std::vector<float>& sums) {
    constexpr std::size_t kBlock = 128;
    // Six vertices in, six sums out, each as x, y, z, a block of parents long.
    std::array<std::array<float, kBlock>, 18> in, out;
    std::array<std::array<int, 6>, kBlock> ids;
    const std::size_t parents = level.faces.size() / 4;
    for (std::size_t first = 0; first < parents; first += kBlock) {
        const std::size_t count = std::min(kBlock, parents - first);
        for (std::size_t i = 0; i < count; ++i) {
            // Children: (a, ab, ca), (ab, b, bc), (ca, bc, c), (ab, bc, ca).
            const auto* child = &level.faces[4 * (first + i)];
            ids[i] = {child[0][0], child[1][1], child[2][2], child[0][1], child[1][2], child[0][2]};
            for (std::size_t k = 0; k < 6; ++k) {
                const float* p = &points[3 * static_cast<std::size_t>(ids[i][k])];
                in[3 * k][i] = p[0];
                in[3 * k + 1][i] = p[1];
                in[3 * k + 2][i] = p[2];
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            const auto at = [&](std::size_t k) { return Vec{in[3 * k][i], in[3 * k + 1][i], in[3 * k + 2][i]}; };
            const Vec a = at(0), b = at(1), c = at(2), ab = at(3), bc = at(4), ca = at(5);
            const Shares s0 = sharesOf(a, ab, ca), s1 = sharesOf(ab, b, bc), s2 = sharesOf(ca, bc, c),
                         s3 = sharesOf(ab, bc, ca);
            const Vec sums6[6] = {s0.atA, s1.atB, s2.atC, s0.atB + s1.atA + s3.atA, s1.atC + s2.atB + s3.atB,
                                  s0.atC + s2.atA + s3.atC};
            for (std::size_t k = 0; k < 6; ++k) {
                out[3 * k][i] = sums6[k].x;
                out[3 * k + 1][i] = sums6[k].y;
                out[3 * k + 2][i] = sums6[k].z;
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t k = 0; k < 6; ++k) addTo(sums, ids[i][k], {out[3 * k][i], out[3 * k + 1][i], out[3 * k + 2][i]});
        }
    }
}

// Each sum divided by its length, a block of vertices at a time, so that
// the division and the root run in vector instructions.
#if defined(__linux__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
void normalise(const std::vector<float>& sums, std::vector<Position>& normals) {
    constexpr std::size_t kBlock = 64;
    std::array<std::array<float, kBlock>, 3> in, out;
    for (std::size_t first = 0; first < normals.size(); first += kBlock) {
        const std::size_t count = std::min(kBlock, normals.size() - first);
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t k = 0; k < 3; ++k) in[k][i] = sums[3 * (first + i) + k];
        }
        for (std::size_t i = 0; i < count; ++i) {
            const Vec sum = {in[0][i], in[1][i], in[2][i]};
            const float length = std::sqrt(dot(sum, sum));
            const float perLength = 1.0f / (length > 0 ? length : 1.0f);
            const Vec n = sum * (length > 0 ? perLength : 0.0f);
            out[0][i] = n.x;
            out[1][i] = n.y;
            out[2][i] = n.z;
        }
        for (std::size_t i = 0; i < count; ++i) normals[first + i] = {out[0][i], out[1][i], out[2][i]};
    }
}

}  // namespace

void smoothNormals(const LevelMesh& level, std::span<const Position> positions, std::vector<Position>& normals) {
    // Every step is one IEEE operation in single precision, in a fixed
    // order: every platform, and every vector width, gets the same bits.
    std::vector<float> sums(static_cast<std::size_t>(level.positionCount) * 3, 0.0f);
    if (level.positionCount == kVertexCount) {
        addFaceShares(level, positions, sums);
    } else {
        // Each position rounded to single precision once, not once a face.
        std::vector<float> points(sums.size());
        for (std::size_t v = 0; v < sums.size() / 3; ++v) {
            const Vec p = toVec(positions[v]);
            points[3 * v] = p.x;
            points[3 * v + 1] = p.y;
            points[3 * v + 2] = p.z;
        }
        addParentShares(level, points, sums);
    }
    normals.resize(static_cast<std::size_t>(level.positionCount));
    normalise(sums, normals);
}

}  // namespace tavimor
