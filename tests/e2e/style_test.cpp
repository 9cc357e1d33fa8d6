// Styles: each a family of rocks of its own, told apart by numbers measured
// from the files the program writes, 200 rocks a style at detail 3 and 4.
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "rock_measures.h"

namespace tavimor::e2e {
namespace {

const std::vector<std::string> kStyles = {"classic", "boulder", "pebble", "slab", "shard", "rubble"};

// The rocks of a run of a style, measured: written as PLY.
std::vector<RockMeasures> measuredRun(const std::string& style, int spike, int detail, int count) {
    TempDir dir;
    const CommandResult run = runTavimor({"--style", style, "--spike", std::to_string(spike), "--count",
                                          std::to_string(count), "--seed", "2026", "--detail", std::to_string(detail),
                                          "--format", "ply", "--name", "R", "-o", dir.path(), "--quiet"},
                                         dir.path());
    EXPECT_EQ(run.status, 0) << run.errors;
    std::vector<RockMeasures> rocks;
    const int width = static_cast<int>(std::to_string(count - 1).size());
    for (int n = 0; n < count; ++n) {
        std::string number = std::to_string(n);
        number.insert(0, static_cast<std::size_t>(width) - number.size(), '0');
        rocks.push_back(measure(surfaceOfPly(readFile(dir.file("R" + number + ".ply")))));
    }
    return rocks;
}

// Each run measured once for all the checks of a test.
const std::vector<RockMeasures>& runOf(const std::string& style, int spike, int detail) {
    static std::map<std::string, std::vector<RockMeasures>> runs;
    const std::string key = style + "/" + std::to_string(spike) + "/" + std::to_string(detail);
    auto found = runs.find(key);
    if (found == runs.end()) found = runs.emplace(key, measuredRun(style, spike, detail, 200)).first;
    return found->second;
}

Spread spread(const std::vector<RockMeasures>& rocks, const std::function<double(const RockMeasures&)>& of) {
    std::vector<double> values;
    for (const RockMeasures& rock : rocks) values.push_back(of(rock));
    return spreadOf(values);
}

double shareOf(const std::vector<RockMeasures>& rocks, const std::function<bool(const RockMeasures&)>& is) {
    double n = 0;
    for (const RockMeasures& rock : rocks) n += is(rock) ? 1 : 0;
    return n / static_cast<double>(rocks.size());
}

// The medians a style is told by.
struct Medians {
    double ca, ba, solidity, faces, faceShare, faceDeviation, turn, ellipsoid, roughness, opposite, size;
};

Medians mediansOf(const std::vector<RockMeasures>& rocks) {
    const auto median = [&](const std::function<double(const RockMeasures&)>& of) { return spread(rocks, of).median; };
    return {median([](const RockMeasures& m) { return m.c / m.a; }),
            median([](const RockMeasures& m) { return m.b / m.a; }),
            median([](const RockMeasures& m) { return m.solidity; }),
            median([](const RockMeasures& m) { return m.faces; }),
            median([](const RockMeasures& m) { return m.faceShare; }),
            median([](const RockMeasures& m) { return m.faceDeviation; }),
            median([](const RockMeasures& m) { return m.creaseTurn; }),
            median([](const RockMeasures& m) { return m.ellipsoidDeviation; }),
            median([](const RockMeasures& m) { return m.roughness; }),
            median([](const RockMeasures& m) { return m.twoOpposite ? 1.0 : 0.0; }),
            median([](const RockMeasures& m) { return m.a; })};
}

// The spread of a measure over a style's rocks: its interquartile range.
double iqrOf(const std::vector<RockMeasures>& rocks, const std::function<double(const RockMeasures&)>& of) {
    const Spread s = spread(rocks, of);
    return s.high - s.low;
}

class StylesAtDetail : public testing::TestWithParam<int> {};

// At spike 5, each style measures as its family: the proportions, faces
// and solidity of its kind of stone; stone broken (faces that undulate,
// creases that run straight on, a body that is no ellipsoid); and rocks
// of a style as unlike each other as stones of one kind are.
TEST_P(StylesAtDetail, MeasureAsTheirFamilies) {
    const int detail = GetParam();
    struct Case {
        std::string style;
        std::function<void(const Medians&, const std::vector<RockMeasures>&)> check;
    };
    const Case cases[] = {
        {"classic",
         [](const Medians& m, const auto&) {
             EXPECT_NEAR(m.ca, 0.88, 0.05);
             EXPECT_NEAR(m.solidity, 0.87, 0.04);
             EXPECT_LT(m.faceShare, 0.1);
         }},
        {"boulder",
         [](const Medians& m, const auto&) {
             EXPECT_GE(m.ca, 0.55);
             EXPECT_LE(m.ca, 0.9);
             EXPECT_GE(m.ba, 0.7);
             EXPECT_GE(m.solidity, 0.9);
             EXPECT_GE(m.faces, 2);
             EXPECT_GE(m.faceShare, 0.3);
         }},
        {"pebble",
         [](const Medians& m, const auto& rocks) {
             EXPECT_LE(m.ca, 0.6);
             EXPECT_EQ(m.faces, 0);
             EXPECT_GE(m.solidity, 0.95);
             EXPECT_GE(shareOf(rocks, [](const RockMeasures& r) { return r.solidity >= 0.95; }), 0.9);
             EXPECT_LE(m.roughness, 6);
         }},
        {"slab",
         [detail](const Medians& m, const auto&) {
             EXPECT_LE(m.ca, 0.4);
             EXPECT_GE(m.ba, 0.6);
             EXPECT_GE(m.faces, 3);
             // At detail 4 the worn rims are rounded over several
             // triangles, so a bed's region runs on past its rim into the
             // edges and the two beds are no longer regions of their own.
             if (detail == 3) {
                 EXPECT_EQ(m.opposite, 1);
             }
         }},
        {"shard",
         [](const Medians& m, const auto&) {
             EXPECT_LE(m.ba, 0.55);
             EXPECT_GE(m.faces, 3);
         }},
        {"rubble",
         [](const Medians& m, const auto& rocks) {
             // Mostly equant, broken on every side, and solid.
             EXPECT_GT(shareOf(rocks, [](const RockMeasures& r) { return r.b / r.a > 2.0 / 3 && r.c / r.b > 2.0 / 3; }),
                       0.5);
             EXPECT_GE(m.faces, 5);
             EXPECT_LE(m.faces, 12);
             EXPECT_GE(m.faceShare, 0.6);
             EXPECT_GE(m.solidity, 0.85);
         }},
    };
    std::printf("detail %d\n| style | c/a | b/a | solidity | faces | face share | face deviation | crease turn | "
                "off the ellipsoid | roughness |\n",
                detail);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        const std::vector<RockMeasures>& rocks = runOf(c.style, 5, detail);
        const Medians m = mediansOf(rocks);
        std::printf("| %s | %.2f | %.2f | %.3f | %.0f | %.2f | %.2f %% | %.1f° | %.1f %% | %.1f° |\n", c.style.c_str(),
                    m.ca, m.ba, m.solidity, m.faces, m.faceShare, 100 * m.faceDeviation, m.turn, 100 * m.ellipsoid,
                    m.roughness);
        c.check(m, rocks);
        if (c.style == "classic") continue;
        // Broken stone: creases that run on as lines, not stairs over the
        // triangles; faces that undulate, neither flat nor rounded; a body
        // that is no ellipsoid.
        EXPECT_LE(m.turn, 20);
        if (m.faces > 0) {
            EXPECT_GE(m.faceDeviation, 0.003);
            EXPECT_LE(m.faceDeviation, 0.03);
        }
        EXPECT_GE(m.ellipsoid, 0.03);
        // As unlike each other as stones of one kind.
        EXPECT_GE(iqrOf(rocks, [](const RockMeasures& r) { return r.b / r.a; }), 0.06);
        EXPECT_GE(iqrOf(rocks, [](const RockMeasures& r) { return r.c / r.a; }), 0.06);
        if (c.style != "pebble") {
            EXPECT_GE(iqrOf(rocks, [](const RockMeasures& r) { return r.solidity; }), 0.03);
        }
        EXPECT_GE(iqrOf(rocks, [](const RockMeasures& r) { return r.a; }), 0.1 * m.size);
    }
    // Any two styles differ clearly in one measure at least.
    const auto apart = [](const Medians& x, const Medians& y) {
        return std::abs(x.ca - y.ca) >= 0.15 || std::abs(x.ba - y.ba) >= 0.15 ||
               std::abs(x.solidity - y.solidity) >= 0.05 || std::abs(x.faces - y.faces) >= 2 ||
               std::abs(x.faceShare - y.faceShare) >= 0.15 || std::abs(x.roughness - y.roughness) >= 3;
    };
    for (std::size_t i = 0; i < kStyles.size(); ++i) {
        for (std::size_t j = i + 1; j < kStyles.size(); ++j) {
            EXPECT_TRUE(apart(mediansOf(runOf(kStyles[i], 5, detail)), mediansOf(runOf(kStyles[j], 5, detail))))
                << kStyles[i] << " and " << kStyles[j];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Styles, StylesAtDetail, testing::Values(3, 4));

// Spike takes each style from its most worn form (0) to its freshest (9):
// rougher at the middle scale, and other in its broad form too (more
// hollowed and broken, or further from an ellipsoid) but for pebbles,
// which are worn whatever the spike. Classic rocks are as they always
// were: spike makes them rougher.
TEST(Styles, SpikeSetsTheRoughnessAndTheForm) {
    std::printf("| style | roughness, spike 0 -> 9 | 1 - solidity | off the ellipsoid |\n");
    for (const std::string& style : kStyles) {
        SCOPED_TRACE(style);
        const Medians clean = mediansOf(runOf(style, 0, 3)), fresh = mediansOf(runOf(style, 9, 3));
        std::printf("| %s | %.1f° -> %.1f° | %.3f -> %.3f | %.1f %% -> %.1f %% |\n", style.c_str(), clean.roughness,
                    fresh.roughness, 1 - clean.solidity, 1 - fresh.solidity, 100 * clean.ellipsoid,
                    100 * fresh.ellipsoid);
        if (style == "pebble") {
            EXPECT_GE(fresh.roughness, 1.1 * clean.roughness);
            continue;
        }
        EXPECT_GE(fresh.roughness, 1.25 * clean.roughness);
        if (style == "classic") continue;
        const auto moved = [](double from, double to) { return std::abs(to - from) / from; };
        EXPECT_TRUE(moved(1 - clean.solidity, 1 - fresh.solidity) >= 0.15 ||
                    moved(clean.ellipsoid, fresh.ellipsoid) >= 0.15)
            << "the broad form does not change with spike";
    }
}

}  // namespace
}  // namespace tavimor::e2e
