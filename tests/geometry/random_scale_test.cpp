#include "geometry/random_scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "crlf_lines.h"
#include "geometry/vertex_template.h"

namespace tavimor {
namespace {

std::vector<int> draws(std::uint32_t seed, int count) {
    seedRandom(seed);
    std::vector<int> out;
    for (int i = 0; i < count; ++i) out.push_back(nextRandom());
    return out;
}

TEST(RandomSource, KnownSequencesAfterSeeding) {
    EXPECT_EQ(draws(1, 6), (std::vector<int>{41, 18467, 6334, 26500, 19169, 15724}));
    EXPECT_EQ(draws(0, 6), (std::vector<int>{38, 7719, 21238, 2437, 8855, 11797}));
}

TEST(RandomSource, DrawsStayInRangeAndIgnoreBit31) {
    seedRandom(0xFFFFFFFFu);
    for (int i = 0; i < 100000; ++i) {
        const int r = nextRandom();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

TEST(RandomSource, SeedIsLowThirtyTwoBitsOfCalendarTime) {
    struct Case {
        std::time_t seconds;
        std::uint32_t seed;
    };
    const Case cases[] = {
        {0, 0u},
        {1, 1u},
        {2147483647, 2147483647u},                    // last second before 2038
        {std::time_t{2147483648}, 2147483648u},       // 2038-01-19 03:14:08
        {std::time_t{4294967295}, 4294967295u},       // last second before 2106
        {std::time_t{4294967296}, 0u},                // 2106-02-07 06:28:16
        {std::time_t{4294967296} + 12345, 12345u},
        {std::time_t{4400000000}, 105032704u},        // 2109
        {-1, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) EXPECT_EQ(seedFromCalendarTime(c.seconds), c.seed) << c.seconds;
}

// Seeds the generator so that the draw with the given 1-based number is
// value: returns the seed it found.
std::uint32_t seedForDraw(int drawNumber, int value) {
    for (std::uint32_t seed = 0;; ++seed) {
        seedRandom(seed);
        int r = -1;
        for (int i = 0; i < drawNumber; ++i) r = nextRandom();
        if (r == value) return seed;
    }
}

TEST(RandomScale, FactorEndsForEverySpike) {
    const std::uint32_t lowest = seedForDraw(1, 0);
    const std::uint32_t highest = seedForDraw(1, 32767);
    for (int spike = 0; spike <= 9; ++spike) {
        seedRandom(lowest);
        EXPECT_EQ(randomScale(spike), 1.0) << spike;
        seedRandom(highest);
        EXPECT_EQ(randomScale(spike), 1.0 + spike / 9.0) << spike;
    }
    seedRandom(highest);
    EXPECT_EQ(randomScale(9), 2.0);
}

TEST(RandomScale, TakesExactlyOneDrawAndStaysInRange) {
    for (int spike = 0; spike <= 9; ++spike) {
        const std::vector<int> expected = draws(77, 2000);
        seedRandom(77);
        for (int i = 0; i < 1000; ++i) {
            const double f = randomScale(spike);
            ASSERT_GE(f, 1.0);
            ASSERT_LE(f, 1.0 + spike / 9.0);
        }
        EXPECT_EQ(nextRandom(), expected[1000]);
    }
}

std::vector<std::string> vertexLines(std::uint32_t seed, int spike) {
    VertexTemplate t = allocateVertexTemplate();
    fillVertexTemplate(t.X.data(), t.Y.data(), t.Z.data());
    ObjectStream out;
    seedRandom(seed);
    writeVertices(out, t.X.data(), t.Y.data(), t.Z.data(), kVertexCount, spike);
    std::vector<std::string> lines;
    for (const CrLfLine& line : splitCrLfLines(out.bytes)) lines.push_back(line.text);
    return lines;
}

TEST(WriteVertices, WorkedValuesForSeedOneSpikeNine) {
    const auto lines = vertexLines(1, 9);
    ASSERT_EQ(lines.size(), 75u);
    EXPECT_EQ(lines[0], "0.500626 0.000000 0.867109");
    EXPECT_EQ(lines[1], "0.677053 0.390896 1.354104");
    EXPECT_EQ(lines[2], "0.298326 0.516716 1.033431");
    // Z takes the double-precision factor: with the single-precision one
    // these would end in ...768 and ...940.
    EXPECT_EQ(lines[13], "1.135151 0.655380 0.756767");
    EXPECT_EQ(lines[66], "-0.292409 -0.000566 1.227939");
}

TEST(WriteVertices, SpikeZeroPrintsTheBaseShapeAndStillDraws) {
    const auto lines = vertexLines(5, 0);
    ASSERT_EQ(lines.size(), 75u);
    EXPECT_EQ(lines[0], "0.500000 0.000000 0.866025");
    EXPECT_EQ(lines[58], "0.250000 -0.433013 -0.866026");
    EXPECT_EQ(lines[62], "0.000002 -0.250000 -0.931838");
    EXPECT_EQ(lines[68], "-0.000003 0.000000 -0.973917");
    const int next = nextRandom();
    EXPECT_EQ(next, draws(5, 76)[75]);
}

TEST(WriteVertices, LargestFactorDoublesUnitCoordinates) {
    // Vertices 24 and 30 are (1, 0, 0) and (-1, 0, 0): draws 25 and 31.
    EXPECT_EQ(vertexLines(seedForDraw(25, 32767), 9)[24], "2.000000 0.000000 0.000000");
    EXPECT_EQ(vertexLines(seedForDraw(31, 32767), 9)[30], "-2.000000 0.000000 0.000000");
}

}  // namespace
}  // namespace tavimor
