#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/cob_file.h"
#include "formats/fixed_format.h"
#include "crlf_lines.h"
#include "geometry/topology.h"

namespace tavimor {
namespace {

std::string rock(std::uint32_t seed, int number, int spike) {
    Lcg generator{seed};
    return cobFile(makeRock(generator, spike), number);
}

TEST(CobFile, SizeAndLinePositionsHoldForEverySpike) {
    struct Position {
        std::size_t line;  // counting from 1
        std::size_t offset;
        const char* text;  // nullptr where the text varies
    };
    const Position positions[] = {
        {1, 0, "Caligari V00.01ALH             "},
        {2, 33, "PolH V0.02 Id 1940332 Parent 0 Size 00011541"},
        {3, 79, nullptr},
        {13, 194, "World Vertices 75"},
        {14, 213, nullptr},
        {89, 2409, "Texture Vertices 93"},
        {90, 2430, "0.000000 0.831061"},
        {182, 4187, "0.333333 0.000001"},
        {183, 4206, "Faces 146"},
        {185, 4245, "<13,13> <0,0> <1,1> "},
        {475, 11965, "<69,69> <48,48> <74,74> "},
        {476, 11991, "Unit V0.01 Id 1940333 Parent 1940332 Size 00000009"},
        {478, 12052, "Mat1 V0.05 Id 2142740 Parent 1940332 Size 00000197"},
        {481, 12142, "rgb 0.8235294,0.6431373,0.5215687"},
        {482, 12177, "alpha 1  ka 0  ks 0  exp 0  ior 1"},
        {483, 12212, "END  V1.00 Id 0 Parent 0 Size        0"},
    };
    for (int spike = 0; spike <= 9; ++spike) {
        for (const std::uint32_t seed : {0u, 1u, 0xFFFFFFFFu, 1765000000u}) {
            const std::string bytes = rock(seed, spike, spike);
            ASSERT_EQ(bytes.size(), kCobFileSize) << "seed " << seed << " spike " << spike;
            EXPECT_EQ(bytes.find('\r', 0), 31u);
            const auto lines = splitCrLfLines(bytes);
            ASSERT_EQ(lines.size(), 483u);
            for (const CrLfLine& l : lines) {
                ASSERT_EQ(l.text.find_first_of("\r\n"), std::string::npos);
            }
            for (const Position& p : positions) {
                EXPECT_EQ(lines[p.line - 1].offset, p.offset) << "line " << p.line;
                if (p.text != nullptr) {
                    EXPECT_EQ(lines[p.line - 1].text, p.text) << "line " << p.line;
                }
            }
            EXPECT_EQ(lines[2].text, "Name Rock" + std::to_string(spike));
        }
    }
}

TEST(CobFile, SpikeZeroRocksDifferOnlyInTheirName) {
    const std::string nine = rock(3, 9, 0);
    const std::string zero = rock(4, 0, 0);
    ASSERT_EQ(nine.size(), zero.size());
    std::vector<std::size_t> differences;
    for (std::size_t i = 0; i < nine.size(); ++i) {
        if (nine[i] != zero[i]) differences.push_back(i);
    }
    EXPECT_EQ(differences, std::vector<std::size_t>{88});  // the digit of "Name Rock"
    EXPECT_EQ(splitCrLfLines(zero)[13].text, "0.500000 0.000000 0.866025");
    EXPECT_EQ(splitCrLfLines(zero)[15].text, "0.250000 0.433013 0.866025");
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CobFile, MatchesTheGoldenRocksOfSeedOneSpikeNine) {
    // Two rocks of one run: the second continues the random sequence.
    Lcg generator{1};
    for (const int n : {1, 0}) {
        const auto written = splitCrLfLines(cobFile(makeRock(generator, 9), n));
        const auto golden = splitCrLfLines(readFile(std::string(TAVIMOR_TEST_DATA) + "/SEED1S9R" + std::to_string(n) + ".COB"));
        ASSERT_EQ(written.size(), golden.size()) << "rock " << n;
        for (std::size_t i = 0; i < golden.size(); ++i) {
            ASSERT_EQ(written[i].text, golden[i].text) << "rock " << n << ", line " << i + 1;
        }
    }
}

TEST(CobFile, WorkedVertexValuesAndTheTextureTable) {
    const auto lines = splitCrLfLines(rock(1, 0, 9));
    // Vertex lines start at line 14.
    EXPECT_EQ(lines[13].text, "0.500626 0.000000 0.867109");
    EXPECT_EQ(lines[14].text, "0.677053 0.390896 1.354104");
    EXPECT_EQ(lines[15].text, "0.298326 0.516716 1.033431");
    EXPECT_EQ(lines[13 + 13].text, "1.135151 0.655380 0.756767");
    EXPECT_EQ(lines[13 + 66].text, "-0.292409 -0.000566 1.227939");
    // The texture lines are the table's numbers as the general formatter
    // prints them, odd entries (64, 68, the negative seam copies) included.
    for (int t = 0; t < kTextureVertexCount; ++t) {
        char u[kMaxFixedLength], v[kMaxFixedLength];
        const std::string expected = std::string(u, formatFixed6(kTextureVertices[t].u, u)) + " " +
                                     std::string(v, formatFixed6(kTextureVertices[t].v, v));
        EXPECT_EQ(lines[89 + t].text, expected) << t;
    }
}

TEST(CobFile, LongRockNumbersAndLargeScalesOnlyWidenTheirLines) {
    Lcg generator{3};
    const std::string bytes = cobFile(makeRock(generator, 9, Scale{1000.0, 1.0, 0.001}), 123456);
    const auto lines = splitCrLfLines(bytes);
    ASSERT_EQ(lines.size(), 483u);
    EXPECT_EQ(lines[2].text, "Name Rock123456");
    EXPECT_EQ(lines[482].text, "END  V1.00 Id 0 Parent 0 Size        0");
    // Vertex 24 is (1, 0, 0) scaled by its factor and then by 1000.
    EXPECT_EQ(lines[13 + 24].text.find("0.000000 0.000000"), lines[13 + 24].text.size() - 17);
    EXPECT_EQ(lines[13 + 24].text.find(' '), 11u);
}

}  // namespace
}  // namespace tavimor
