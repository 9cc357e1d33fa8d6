#include "geometry/normals.h"

#include <algorithm>
#include <cmath>

// The build says whether to make a copy of the busiest loops for wider
// vector registers, chosen when the program starts (TAVIMOR_AVX2_CLONES).
#if TAVIMOR_AVX2_CLONES
#define TAVIMOR_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TAVIMOR_VECTOR_CLONES
#endif

namespace tavimor {
namespace {

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

// Vectors in single precision: a unit normal written as a float needs no
// more, and eight of them fit one vector register.
using Vec = Vector3<float>;

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
    const Vec n = cross(v, u);
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
TAVIMOR_VECTOR_CLONES
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
TAVIMOR_VECTOR_CLONES
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
