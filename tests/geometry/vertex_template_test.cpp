#include "geometry/vertex_template.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

namespace tavimor {
namespace {

TEST(VertexTemplate, AllocatesASpareEntryAndFillLeavesItAlone) {
    VertexTemplate t = allocateVertexTemplate();
    ASSERT_EQ(t.X.size(), static_cast<std::size_t>(kVertexCount + 1));
    ASSERT_EQ(t.Y.size(), t.X.size());
    ASSERT_EQ(t.Z.size(), t.X.size());
    t.X[kVertexCount] = t.Y[kVertexCount] = t.Z[kVertexCount] = 42.0;
    fillVertexTemplate(t.X.data(), t.Y.data(), t.Z.data());
    EXPECT_EQ(t.X[kVertexCount], 42.0);
    EXPECT_EQ(t.Y[kVertexCount], 42.0);
    EXPECT_EQ(t.Z[kVertexCount], 42.0);
}

TEST(VertexTemplate, ShapeIsASphereOfDistinctPositionsWithoutNegativeZero) {
    VertexTemplate t = allocateVertexTemplate();
    fillVertexTemplate(t.X.data(), t.Y.data(), t.Z.data());
    std::set<std::tuple<double, double, double>> seen;
    for (int i = 0; i < kVertexCount; ++i) {
        const double r = std::sqrt(t.X[i] * t.X[i] + t.Y[i] * t.Y[i] + t.Z[i] * t.Z[i]);
        EXPECT_GE(r, 0.943) << i;
        EXPECT_LE(r, 1.000001) << i;
        for (const double c : {t.X[i], t.Y[i], t.Z[i]}) {
            EXPECT_FALSE(c == 0.0 && std::signbit(c)) << "negative zero at vertex " << i;
            EXPECT_LE(std::fabs(c), 1.0) << i;
        }
        EXPECT_TRUE(seen.insert({t.X[i], t.Y[i], t.Z[i]}).second) << "duplicate vertex " << i;
    }
}

TEST(VertexTemplate, RingsFollowLatitudeAndLongitudeWithTheOneException) {
    VertexTemplate t = allocateVertexTemplate();
    fillVertexTemplate(t.X.data(), t.Y.data(), t.Z.data());
    const double pi = std::acos(-1.0);
    for (int ring = 0; ring < 5; ++ring) {
        const double latitude = (60 - 30 * ring) * pi / 180;
        for (int j = 0; j < 12; ++j) {
            const int i = 12 * ring + j;
            const double longitude = 30 * j * pi / 180;
            EXPECT_NEAR(t.X[i], std::cos(latitude) * std::cos(longitude), 5e-7) << i;
            EXPECT_NEAR(t.Y[i], std::cos(latitude) * std::sin(longitude), 5e-7) << i;
            EXPECT_EQ(t.Z[i], i == 58 ? -0.866026 : std::round(std::sin(latitude) * 1e6) / 1e6) << i;
        }
    }
}

TEST(VertexTemplate, CapVerticesKeepTheirSmallOffsets) {
    VertexTemplate t = allocateVertexTemplate();
    fillVertexTemplate(t.X.data(), t.Y.data(), t.Z.data());
    EXPECT_EQ(t.X[62], 0.000002);
    EXPECT_EQ(t.X[63], 0.000002);
    EXPECT_EQ(t.X[68], -0.000003);
    EXPECT_EQ(t.X[64], 0.0);
    EXPECT_EQ(t.Y[64], 0.0);
    EXPECT_EQ(t.Z[64], 0.988336);
    for (int i = 60; i < kVertexCount; ++i) {
        const bool top = i == 60 || i == 61 || i == 64 || i == 65 || i == 66 || i == 70;
        if (top) {
            EXPECT_GT(t.Z[i], 0.866025) << i;
        } else {
            EXPECT_LT(t.Z[i], -0.866026) << i;
        }
    }
}

}  // namespace
}  // namespace tavimor
