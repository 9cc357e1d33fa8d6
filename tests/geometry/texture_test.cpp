// The pieces of a bake that must be exact on every platform: the arc
// cosine and the sRGB curve from + - * / and sqrt, and MikkTSpace's frame.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "geometry/bake.h"
#include "geometry/rock_recipe.h"
#include "geometry/tangents.h"

namespace tavimor {
namespace {

TEST(Bake, ArcCosineAndTheSrgbCurveKeepToTheLibrarysWithinWhatTheFilesHold) {
    double worst = 0;
    for (int i = -1000; i <= 1000; ++i) {
        const double x = i / 1000.0;
        worst = std::max(worst, std::abs(arcCosine(x) - std::acos(x)));
    }
    EXPECT_LT(worst, 3e-8);
    // Every byte's linear value comes back as that byte; halfway between
    // two bytes' values in sRGB terms is where the byte changes.
    for (int b = 0; b < 256; ++b) {
        const double srgb = b / 255.0;
        const double linear = srgb <= 0.04045 ? srgb / 12.92 : std::pow((srgb + 0.055) / 1.055, 2.4);
        EXPECT_NEAR(linearOf(srgb), linear, 1e-12) << b;
        EXPECT_EQ(srgbByte(linear), b) << b;
    }
    EXPECT_EQ(srgbByte(-0.5), 0);
    EXPECT_EQ(srgbByte(1.5), 255);
}

TEST(Tangents, RunAlongUAndTheirSideFollowsTheMapsTurn) {
    // A unit square in z = 0 seen from +z, its two faces clockwise as the
    // levels hold them, its normals +z.
    const std::vector<Position> positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const std::vector<std::array<int, 3>> faces = {{0, 3, 2}, {0, 2, 1}};
    const std::vector<Position> normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    const struct {
        std::vector<TextureVertex> uv;
        Position direction;
        double side;
    } cases[] = {
        {{{0, 0}, {1, 0}, {1, 1}, {0, 1}}, {1, 0, 0}, 1},
        // Turned a quarter: u runs along y.
        {{{0, 1}, {0, 0}, {1, 0}, {1, 1}}, {0, 1, 0}, 1},
        // Mirrored: u runs against x, the bitangent flips.
        {{{1, 0}, {0, 0}, {0, 1}, {1, 1}}, {-1, 0, 0}, -1},
    };
    for (const auto& c : cases) {
        const std::vector<std::array<int, 3>> corners = faces;
        const std::vector<int> owners = {0, 1, 2, 3};
        std::vector<Tangent> tangents;
        mikkTangents(faces, positions, {c.uv, corners, owners}, normals, faces, tangents);
        ASSERT_EQ(tangents.size(), 6u);
        for (const Tangent& t : tangents) {
            EXPECT_NEAR(t.direction.x, c.direction.x, 1e-12);
            EXPECT_NEAR(t.direction.y, c.direction.y, 1e-12);
            EXPECT_NEAR(t.direction.z, c.direction.z, 1e-12);
            EXPECT_EQ(t.w, c.side);
        }
    }
}

}  // namespace
}  // namespace tavimor

namespace {

// The two parts on two threads, the second started first and the first
// held back a little, so that they overlap and finish out of order.
void onTwoThreads(const tavimor::Part& first, const tavimor::Part& second) {
    std::thread beside(second);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    first();
    beside.join();
}

}  // namespace

TEST(Bake, TheSameRockWhetherItsPartsRunAtOnceOrInTurn) {
    const tavimor::DetailLevels levels = tavimor::buildDetailLevels(tavimor::kMostDetail, 2);
    for (const char* style : {"classic", "slab"}) {
        SCOPED_TRACE(style);
        tavimor::RockRecipe recipe;
        recipe.seed = 9;
        recipe.style = *tavimor::styleNamed(style);
        recipe.detail = 2;
        recipe.shading = tavimor::Shading::Smooth;
        recipe.textures = 256;
        const tavimor::RockMaker maker(recipe, levels);
        tavimor::RockGeometry inTurn, atOnce;
        maker.make(0, inTurn, tavimor::inTurn);
        maker.make(0, atOnce, onTwoThreads);
        const tavimor::RockTextures &a = inTurn.textures, &b = atOnce.textures;
        ASSERT_EQ(a.looks.size(), b.looks.size());
        EXPECT_EQ(0, std::memcmp(a.looks.data(), b.looks.data(), a.looks.size() * sizeof(tavimor::PointLook)));
        EXPECT_EQ(a.maps.baseColour, b.maps.baseColour);
        EXPECT_EQ(a.maps.normal, b.maps.normal);
        EXPECT_EQ(a.maps.orm, b.maps.orm);
    }
}
