#include "geometry/normals.h"

#include <algorithm>
#include <cmath>

#include "geometry/extent.h"
#include "geometry/vector_clones.h"

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

// The slow and sure way, for rocks many times longer than they are wide
// or thick: in double precision, every corner's angle from its own two
// edges, and atan to the last bit. There a vertex's normal can be what is
// left when large shares of opposite faces all but cancel, and every
// rounding of the fast way shows in it.

// atan(r) for r in [0, 1] to double precision: above tan(pi / 12), atan(r)
// is pi / 6 plus the atan of (sqrt(3) r - 1) / (sqrt(3) + r), below it;
// there the series converges by more than a digit a term.
double preciseAtanOfRatio(double r) {
    constexpr double kSqrt3 = 1.7320508075688772;
    constexpr double kTanPiOver12 = 0.2679491924311227;
    constexpr double kPiOver6 = 0.5235987755982989;
    const bool reduced = r > kTanPiOver12;
    const double t = reduced ? (kSqrt3 * r - 1) / (kSqrt3 + r) : r;
    const double square = t * t;
    double sum = 0;
    for (int k = 29; k >= 1; k -= 2) sum = 1.0 / k - square * sum;
    return (reduced ? kPiOver6 : 0.0) + t * sum;
}

double preciseAngle(double cross, double dot) {
    constexpr double kPi = 3.141592653589793;
    const double along = dot < 0 ? -dot : dot;
    if (cross <= 0 && along <= 0) return 0;
    double angle = cross <= along ? preciseAtanOfRatio(cross / along) : kPi / 2 - preciseAtanOfRatio(along / cross);
    return dot < 0 ? kPi - angle : angle;
}

void addPreciseShares(const LevelMesh& level, std::span<const Position> p, std::vector<Position>& sums) {
    for (const auto& [ia, ib, ic] : level.faces) {
        const Position &a = p[static_cast<std::size_t>(ia)], &b = p[static_cast<std::size_t>(ib)],
                       &c = p[static_cast<std::size_t>(ic)];
        const Position u = b - a, v = c - a, w = c - b;
        // Clockwise seen from outside: v x u points out.
        const Position n = cross(v, u);
        const double twiceArea = std::sqrt(dot(n, n));
        if (!(twiceArea > 0)) continue;
        const Position unit = n * (1.0 / twiceArea);
        sums[static_cast<std::size_t>(ia)] = sums[static_cast<std::size_t>(ia)] + unit * preciseAngle(twiceArea, dot(u, v));
        sums[static_cast<std::size_t>(ib)] = sums[static_cast<std::size_t>(ib)] + unit * preciseAngle(twiceArea, -dot(u, w));
        sums[static_cast<std::size_t>(ic)] = sums[static_cast<std::size_t>(ic)] + unit * preciseAngle(twiceArea, dot(v, w));
    }
}

// How many times the rock's box is longer along one axis than along
// another: up to kFastAspect, single precision keeps every normal within a
// tenth of a degree or so, and a rock of any shape a style makes stays well
// inside it unless it is scaled so.
constexpr double kFastAspect = 64;

double aspectOf(std::span<const Position> positions) {
    const Extent box = extentOf(positions);
    const Position size = box.high - box.low;
    const double longest = std::max({size.x, size.y, size.z}), shortest = std::min({size.x, size.y, size.z});
    return shortest > 0 ? longest / shortest : HUGE_VAL;
}

void fastNormals(const LevelMesh& level, std::span<const Position> positions, std::vector<Position>& normals) {
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

void preciseNormals(const LevelMesh& level, std::span<const Position> positions, std::vector<Position>& normals) {
    std::vector<Position> sums(static_cast<std::size_t>(level.positionCount), Position{0, 0, 0});
    addPreciseShares(level, positions, sums);
    normals.resize(sums.size());
    for (std::size_t v = 0; v < sums.size(); ++v) {
        const double length = std::sqrt(dot(sums[v], sums[v]));
        const Position n = length > 0 ? sums[v] * (1.0 / length) : Position{0, 0, 0};
        normals[v] = {static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z)};
    }
}

}  // namespace

void smoothNormals(const LevelMesh& level, std::span<const Position> positions, std::vector<Position>& normals) {
    const std::span<const Position> own = positions.first(static_cast<std::size_t>(level.positionCount));
    if (aspectOf(own) <= kFastAspect) {
        fastNormals(level, own, normals);
    } else {
        preciseNormals(level, own, normals);
    }
}

}  // namespace tavimor
