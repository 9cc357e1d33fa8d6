#include "geometry/style.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "geometry/normals.h"
#include "geometry/split_normals.h"
#include "geometry/textured_vertices.h"

namespace tavimor {
namespace {

const DetailLevels& levelsUpTo3() {
    static const DetailLevels levels = buildDetailLevels(3);
    return levels;
}

bool sameBits(const Position& a, const Position& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The rules of the classic rock hold for every style at both ends of the
// spike: nested levels, every face turned away from the centre (so that a
// ray from it crosses the surface once), a size like the classic rock's,
// and the run's generator moved on by one rock.
TEST(StyledRocks, KeepTheRulesOfTheClassicRock) {
    const DetailLevels coarser = buildDetailLevels(2);
    StyledRoom room;
    for (std::size_t index = 1; index < kStyleCount; ++index) {
        const Style style(index);
        for (const int spike : {0, 9}) {
            for (int number = 0; number < 6; ++number) {
                SCOPED_TRACE(std::string(style.name()) + " spike " + std::to_string(spike) + " rock " + std::to_string(number));
                const RockIdentity rock{2026, number};
                Lcg generator{77}, classic{77};
                std::vector<Position> fine, coarse;
                makeStyledRock(generator, style, spike, {}, levelsUpTo3(), rock, fine, room);
                makeRock(classic, spike);
                EXPECT_EQ(generator.state, classic.state);
                Lcg again{77};
                makeStyledRock(again, style, spike, {}, coarser, rock, coarse, room);
                ASSERT_EQ(coarse.size(), static_cast<std::size_t>(coarser.levels.back().positionCount));
                for (std::size_t i = 0; i < coarse.size(); ++i) ASSERT_TRUE(sameBits(coarse[i], fine[i])) << i;

                const LevelMesh& level = levelsUpTo3().levels.back();
                ASSERT_EQ(fine.size(), static_cast<std::size_t>(level.positionCount));
                for (const auto& [a, b, c] : level.faces) {
                    const Position &pa = fine[static_cast<std::size_t>(a)], &pb = fine[static_cast<std::size_t>(b)],
                                   &pc = fine[static_cast<std::size_t>(c)];
                    // Clockwise seen from outside: (c - a) x (b - a) points out.
                    ASSERT_GT(dot(cross(pc - pa, pb - pa), pa), 0);
                }
                double reach = 0;
                for (const Position& p : fine) reach = std::max(reach, std::sqrt(dot(p, p)));
                EXPECT_GE(reach, 0.8);
                EXPECT_LE(reach, 2.5);
            }
        }
    }
}

// What a rock's making keeps between levels is its own: a rock made in
// room another rock (of more detail) used comes out the same to the bit,
// and its levels are those of the rock of more detail, the finest of them
// too.
TEST(StyledRocks, MakeTheSameLevelsWhateverCameBefore) {
    const DetailLevels four = buildDetailLevels(4), five = buildDetailLevels(5);
    for (std::size_t index = 1; index < kStyleCount; ++index) {
        SCOPED_TRACE(std::string(Style(index).name()));
        const RockIdentity rock{7, 3};
        Lcg generator{1};
        StyledRoom fresh, used;
        std::vector<Position> alone, finer, after;
        makeStyledRock(generator, Style(index), 9, {}, four, rock, alone, fresh);
        makeStyledRock(generator, Style(index), 9, {}, five, {7, 4}, finer, used);
        makeStyledRock(generator, Style(index), 9, {}, five, rock, finer, used);
        makeStyledRock(generator, Style(index), 9, {}, four, rock, after, used);
        ASSERT_EQ(alone.size(), after.size());
        for (std::size_t i = 0; i < alone.size(); ++i) {
            ASSERT_TRUE(sameBits(alone[i], after[i])) << i;
            ASSERT_TRUE(sameBits(alone[i], finer[i])) << i;
        }
    }
}

// A cube of corners, each side two triangles, clockwise seen from outside,
// a texture vertex for each position.
LevelMesh cube(const std::vector<Position>& corners) {
    LevelMesh level;
    level.positionCount = 8;
    const std::array<int, 4> sides[] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& s : sides) {
        for (std::array<int, 3> face : {std::array<int, 3>{s[0], s[1], s[2]}, std::array<int, 3>{s[0], s[2], s[3]}}) {
            const Position& a = corners[static_cast<std::size_t>(face[0])];
            if (dot(cross(corners[static_cast<std::size_t>(face[2])] - a, corners[static_cast<std::size_t>(face[1])] - a), a) < 0) {
                std::swap(face[1], face[2]);
            }
            level.faces.push_back(face);
        }
    }
    level.faceTextures = level.faces;
    for (int v = 0; v < 8; ++v) {
        level.textureVertices.push_back({0, 0});
        level.textureOwners.push_back(v);
    }
    return level;
}

TEST(SplitNormals, EachSideOfASharpEdgeKeepsItsOwnAndSmoothSurfacesStaySmooth) {
    // The cube: every corner takes its side's normal, three at each
    // position.
    std::vector<Position> corners;
    for (int v = 0; v < 8; ++v) corners.push_back({v & 1 ? 1.0 : -1.0, v & 2 ? 1.0 : -1.0, v & 4 ? 1.0 : -1.0});
    const LevelMesh box = cube(corners);
    std::vector<Position> smooth;
    smoothNormals(box, corners, smooth);
    SplitNormals split;
    splitNormals(box, edgesOf(box), corners, smooth, split);
    EXPECT_EQ(split.normals.size(), 24u);
    EXPECT_EQ(split.owners.size(), 16u);
    SplitVertices vertices;
    splitVerticesOf(levelTextures(box), split, vertices);
    EXPECT_EQ(vertices.extras.size(), 16u);
    for (std::size_t f = 0; f < box.faces.size(); ++f) {
        const auto& [a, b, c] = box.faces[f];
        const Position out = cross(corners[static_cast<std::size_t>(c)] - corners[static_cast<std::size_t>(a)],
                                   corners[static_cast<std::size_t>(b)] - corners[static_cast<std::size_t>(a)]);
        for (std::size_t k = 0; k < 3; ++k) {
            const int n = split.corners[f][k];
            const int position = n < 8 ? n : split.owners[static_cast<std::size_t>(n - 8)];
            EXPECT_EQ(position, box.faces[f][k]);
            const Position& normal = split.normals[static_cast<std::size_t>(n)];
            EXPECT_NEAR(dot(normal, out * (1 / std::sqrt(dot(out, out)))), 1.0, 1e-6) << "face " << f;
        }
    }

    // A pebble at spike 0: no edge is sharp, and auto is smooth to the bit.
    const LevelMesh& level = levelsUpTo3().levels.back();
    Lcg generator{1};
    std::vector<Position> pebble;
    StyledRoom room;
    makeStyledRock(generator, *styleNamed("pebble"), 0, {}, levelsUpTo3(), {1, 0}, pebble, room);
    smoothNormals(level, pebble, smooth);
    splitNormals(level, edgesOf(level), pebble, smooth, split);
    EXPECT_TRUE(split.owners.empty());
    splitVerticesOf(levelTextures(level), split, vertices);
    EXPECT_TRUE(vertices.extras.empty());
    ASSERT_EQ(split.normals.size(), smooth.size());
    for (std::size_t i = 0; i < smooth.size(); ++i) EXPECT_TRUE(sameBits(split.normals[i], smooth[i]));
    EXPECT_EQ(split.corners, level.faces);
}

}  // namespace
}  // namespace tavimor
