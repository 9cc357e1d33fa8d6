#include "geometry/detailed_rock.h"
#include "geometry/normals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

namespace tavimor {
namespace {

const DetailLevels& levelsUpTo4() {
    static const DetailLevels levels = buildDetailLevels(4);
    return levels;
}

double det(const Position& a, const Position& b, const Position& c) {
    return a.x * (b.y * c.z - b.z * c.y) - a.y * (b.x * c.z - b.z * c.x) + a.z * (b.x * c.y - b.y * c.x);
}

bool sameBits(const Position& a, const Position& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(DetailLevels, CountsOfEveryLevel) {
    for (int detail = 0; detail <= 4; ++detail) {
        SCOPED_TRACE("detail " + std::to_string(detail));
        const LevelMesh& level = levelsUpTo4().levels[static_cast<std::size_t>(detail)];
        const auto power = static_cast<std::uint64_t>(1) << (2 * detail);
        const LevelCounts counts = levelCounts(detail);
        EXPECT_EQ(level.faces.size(), 146 * power);
        EXPECT_EQ(static_cast<std::uint64_t>(level.positionCount), 73 * power + 2);
        EXPECT_EQ(counts.positions, 73 * power + 2);
        EXPECT_EQ(counts.faces, level.faces.size());
        EXPECT_EQ(counts.textureVertices, level.textureVertices.size());
        std::uint64_t used = 0;
        for (const int owner : level.textureOwners) used += owner >= 0;
        EXPECT_EQ(counts.usedTextureVertices, used);
    }
    EXPECT_EQ(levelCounts(6).faces, 146u * 4096u);
}

TEST(DetailLevels, EveryLevelIsClosedAndItsSeamsStaySeams) {
    for (const LevelMesh& level : levelsUpTo4().levels) {
        SCOPED_TRACE("positions " + std::to_string(level.positionCount));
        // Each directed edge once, and its reverse once.
        std::map<std::pair<int, int>, int> directed;
        for (const auto& f : level.faces) {
            for (int k = 0; k < 3; ++k) ++directed[{f[k], f[(k + 1) % 3]}];
        }
        for (const auto& [edge, count] : directed) {
            ASSERT_EQ(count, 1);
            ASSERT_EQ(directed.count({edge.second, edge.first}), 1u);
        }
        // A texture vertex belongs to one position, and each corner's
        // texture vertex to the corner's position.
        for (std::size_t f = 0; f < level.faces.size(); ++f) {
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(level.textureOwners[static_cast<std::size_t>(level.faceTextures[f][k])], level.faces[f][k]);
            }
        }
    }
}

// The total solid angle the faces span from the centre: 4 pi when they wrap
// it exactly once, more if any two overlap.
double solidAngle(const LevelMesh& level, const std::vector<Position>& p) {
    double total = 0;
    for (const auto& [ia, ib, ic] : level.faces) {
        const Position &a = p[ia], &b = p[ic], &c = p[ib];  // counter-clockwise from outside
        const double la = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
        const double lb = std::sqrt(b.x * b.x + b.y * b.y + b.z * b.z);
        const double lc = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
        const double ab = a.x * b.x + a.y * b.y + a.z * b.z, bc = b.x * c.x + b.y * c.y + b.z * c.z;
        const double ca = c.x * a.x + c.y * a.y + c.z * a.z;
        total += 2 * std::atan2(det(a, b, c), la * lb * lc + ab * lc + bc * la + ca * lb);
    }
    return total;
}

TEST(DetailedRocks, WholeNestedAndSeededAsTheRockOfDetailZero) {
    const double pi = std::acos(-1.0);
    const struct {
        std::uint32_t seed;
        int spike;
        Scale scale;
    } cases[] = {{1, 9, {}}, {4294967295u, 0, {}}, {77, 5, {0.5, 2, 1000}}, {12345, 9, {0.001, 0.001, 0.001}}};
    for (const auto& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed) + " spike " + std::to_string(c.spike));
        Lcg plain{c.seed}, detailed{c.seed};
        const Rock rock = makeRock(plain, c.spike, c.scale);
        const std::vector<Position> fine = makeDetailedRock(detailed, c.spike, c.scale, levelsUpTo4(), {c.seed, 3});
        // The generator gave exactly the 75 draws of a rock of detail 0.
        EXPECT_EQ(nextRandom(plain), nextRandom(detailed));
        ASSERT_EQ(fine.size(), static_cast<std::size_t>(levelsUpTo4().levels.back().positionCount));
        for (int i = 0; i < kVertexCount; ++i) ASSERT_TRUE(sameBits(fine[i], rock.positions[i])) << i;
        for (int detail = 0; detail <= 4; ++detail) {
            const LevelMesh& level = levelsUpTo4().levels[static_cast<std::size_t>(detail)];
            // A coarser level's rock is the start of the finer one, bit for bit.
            Lcg again{c.seed};
            const DetailLevels coarse = buildDetailLevels(detail);
            const std::vector<Position> own = makeDetailedRock(again, c.spike, c.scale, coarse, {c.seed, 3});
            for (std::size_t i = 0; i < own.size(); ++i) ASSERT_TRUE(sameBits(own[i], fine[i])) << i;
            // No face turns its back to the centre (corners run clockwise
            // seen from outside), and together they wrap it exactly once.
            for (const auto& [a, b, d] : level.faces) ASSERT_LT(det(fine[a], fine[b], fine[d]), 0.0);
            EXPECT_NEAR(solidAngle(level, fine), 4 * pi, 1e-6);
        }
    }
}

TEST(DetailedRocks, RoughnessStartsFromTheSpikeAndHalvesWithEachLevel) {
    for (const int spike : {0, 4, 9}) {
        EXPECT_EQ(levelRoughness(1, spike), 2 * levelRoughness(2, spike));
        EXPECT_EQ(levelRoughness(2, spike), 2 * levelRoughness(3, spike));
        EXPECT_EQ(levelRoughness(1, 9) * spike / 9, levelRoughness(1, spike));
    }
    // Another rock, or another position, draws another number.
    EXPECT_NE(positionDraw({1, 0}, 100), positionDraw({1, 1}, 100));
    EXPECT_NE(positionDraw({1, 0}, 100), positionDraw({2, 0}, 100));
    EXPECT_NE(positionDraw({1, 0}, 100), positionDraw({1, 0}, 101));
}

// Angle-weighted normals worked out plainly, in double precision with the
// library's atan2.
std::vector<Position> plainNormals(const LevelMesh& level, const std::vector<Position>& p) {
    std::vector<Position> sums(static_cast<std::size_t>(level.positionCount), Position{0, 0, 0});
    for (const auto& face : level.faces) {
        for (int k = 0; k < 3; ++k) {
            const Position& o = p[face[k]];
            const Position u = p[face[(k + 1) % 3]] - o, v = p[face[(k + 2) % 3]] - o;
            // Clockwise from outside: v x u points out.
            const Position n = cross(v, u);
            const double length = std::sqrt(dot(n, n));
            Position& s = sums[static_cast<std::size_t>(face[k])];
            s = s + n * (std::atan2(length, dot(u, v)) / length);
        }
    }
    for (Position& s : sums) s = s * (1 / std::sqrt(dot(s, s)));
    return sums;
}

// The angle between two unit vectors, in degrees.
double degreesBetween(const Position& a, const Position& b) {
    const Position c = cross(a, b);
    return std::atan2(std::sqrt(dot(c, c)), dot(a, b)) * 180 / std::acos(-1.0);
}

TEST(SmoothNormals, UnitOutwardAndAngleWeightedAtEveryScale) {
    const struct {
        std::uint32_t seed;
        int spike;
        Scale scale;
    } cases[] = {
        {1, 9, {1, 2, 0.5}}, {99, 0, {1, 2, 0.5}}, {4242, 5, {1, 2, 0.5}},
        // Needles and plates a thousand times and a million times longer
        // than they are thin: the shares of the faces around a vertex all
        // but cancel.
        {12345, 9, {1000, 0.001, 0.001}}, {12345, 9, {1000, 1, 0.001}}, {7, 9, {0.001, 1000, 1}},
        {3, 5, {1000, 1000, 0.001}}, {8, 9, {1, 1, 0.001}}, {5, 2, {0.001, 0.001, 0.001}},
    };
    for (const auto& c : cases) {
        Lcg generator{c.seed};
        const std::vector<Position> fine = makeDetailedRock(generator, c.spike, c.scale, levelsUpTo4(), {c.seed, 0});
        for (const LevelMesh& level : levelsUpTo4().levels) {
            SCOPED_TRACE("seed " + std::to_string(c.seed) + ", scale " + std::to_string(c.scale.x) + "," +
                         std::to_string(c.scale.y) + "," + std::to_string(c.scale.z) + ", positions " +
                         std::to_string(level.positionCount));
            std::vector<Position> normals;
            smoothNormals(level, fine, normals);
            ASSERT_EQ(normals.size(), static_cast<std::size_t>(level.positionCount));
            const std::vector<Position> plain = plainNormals(level, fine);
            double worst = 0;
            for (std::size_t v = 0; v < normals.size(); ++v) {
                const Position& n = normals[v];
                ASSERT_NEAR(dot(n, n), 1.0, 1e-6) << v;
                // Outward: every face around the vertex faces away from the
                // centre, so their average does too.
                ASSERT_GT(dot(n, fine[v]), 0.0) << v;
                worst = std::max(worst, degreesBetween(n, plain[v]));
            }
            // The promise is a degree; both ways keep within a tenth of one.
            EXPECT_LT(worst, 0.1);
        }
    }
}

}  // namespace
}  // namespace tavimor
