// Styles: each a family of rocks of its own, told apart by numbers measured
// from the files the program writes, 200 rocks a style at detail 3.
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

const std::vector<std::string> kStyles = {"classic", "pebble", "boulder", "slab", "shard"};

// The rocks of a run of a style, measured: written as PLY at detail 3.
std::vector<RockMeasures> measuredRun(const std::string& style, int spike, int count) {
    TempDir dir;
    const CommandResult run = runTavimor({"--style", style, "--spike", std::to_string(spike), "--count",
                                          std::to_string(count), "--seed", "2026", "--detail", "3", "--format", "ply",
                                          "--name", "R", "-o", dir.path(), "--quiet"},
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

// Each run measured once for all the tests.
const std::vector<RockMeasures>& runOf(const std::string& style, int spike = 5, int count = 200) {
    static std::map<std::string, std::vector<RockMeasures>> runs;
    const std::string key = style + "/" + std::to_string(spike) + "/" + std::to_string(count);
    auto found = runs.find(key);
    if (found == runs.end()) found = runs.emplace(key, measuredRun(style, spike, count)).first;
    return found->second;
}

Spread spread(const std::vector<RockMeasures>& rocks, const std::function<double(const RockMeasures&)>& of) {
    std::vector<double> values;
    for (const RockMeasures& rock : rocks) values.push_back(of(rock));
    return spreadOf(values);
}

// The medians a style is told by.
struct Medians {
    double ca, ba, solidity, planar, largest, patches, opposite, roughness;
};

Medians mediansOf(const std::vector<RockMeasures>& rocks) {
    return {spread(rocks, [](const RockMeasures& m) { return m.c / m.a; }).median,
            spread(rocks, [](const RockMeasures& m) { return m.b / m.a; }).median,
            spread(rocks, [](const RockMeasures& m) { return m.solidity; }).median,
            spread(rocks, [](const RockMeasures& m) { return m.planarShare; }).median,
            spread(rocks, [](const RockMeasures& m) { return m.largestPatch; }).median,
            spread(rocks, [](const RockMeasures& m) { return m.patches; }).median,
            spread(rocks, [](const RockMeasures& m) { return m.twoOpposite ? 1.0 : 0.0; }).median,
            spread(rocks, [](const RockMeasures& m) { return m.roughness; }).median};
}

TEST(Styles, EachMeasuresAsItsFamily) {
    struct Case {
        std::string style;
        std::function<void(const Medians&, const std::vector<RockMeasures>&)> check;
    };
    const auto share = [](const std::vector<RockMeasures>& rocks, const std::function<bool(const RockMeasures&)>& is) {
        double n = 0;
        for (const RockMeasures& rock : rocks) n += is(rock) ? 1 : 0;
        return n / static_cast<double>(rocks.size());
    };
    const Case cases[] = {
        {"classic",
         [](const Medians& m, const auto&) {
             EXPECT_NEAR(m.ca, 0.89, 0.05);
             EXPECT_NEAR(m.solidity, 0.84, 0.04);
             EXPECT_LT(m.planar, 0.02);
             EXPECT_NEAR(m.roughness, 10, 2);
         }},
        {"pebble",
         [&](const Medians& m, const auto& rocks) {
             EXPECT_LE(m.ca, 0.6);
             EXPECT_GE(share(rocks, [](const RockMeasures& r) { return r.solidity >= 0.95; }), 0.95);
             EXPECT_LE(m.planar, 0.1);
             EXPECT_LE(m.roughness, 6);
         }},
        {"boulder",
         [](const Medians& m, const auto&) {
             EXPECT_GE(m.ca, 0.55);
             EXPECT_LE(m.ca, 0.9);
             EXPECT_GE(m.ba, 0.7);
             EXPECT_GE(m.solidity, 0.9);
             EXPECT_GE(m.planar, 0.25);
             EXPECT_GE(m.largest, 0.06);
         }},
        {"slab",
         [](const Medians& m, const auto&) {
             EXPECT_LE(m.ca, 0.4);
             EXPECT_GE(m.ba, 0.6);
             EXPECT_GE(m.planar, 0.4);
             EXPECT_EQ(m.opposite, 1);
         }},
        {"shard",
         [](const Medians& m, const auto&) {
             EXPECT_LE(m.ba, 0.55);
             EXPECT_GE(m.planar, 0.5);
             EXPECT_GE(m.patches, 5);
         }},
    };
    std::printf("| style | c/a | b/a | solidity | planar share | largest patch | patches | roughness |\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        const std::vector<RockMeasures>& rocks = runOf(c.style);
        const Medians m = mediansOf(rocks);
        std::printf("| %s | %.2f | %.2f | %.2f | %.2f | %.3f | %.0f | %.1f |\n", c.style.c_str(), m.ca, m.ba, m.solidity,
                    m.planar, m.largest, m.patches, m.roughness);
        c.check(m, rocks);
    }
}

// Rocks of a style differ in proportion (classic rocks, kept as they were,
// are all near round), and spike roughens them.
TEST(Styles, VaryInProportionAndRoughenWithSpike) {
    for (const std::string& style : kStyles) {
        SCOPED_TRACE(style);
        const Spread ca = spread(runOf(style), [](const RockMeasures& m) { return m.c / m.a; });
        if (style != "classic") {
            EXPECT_GE(ca.high - ca.low, 0.08);
        }
        const double clean = mediansOf(runOf(style, 0, 50)).roughness;
        const double rough = mediansOf(runOf(style, 9, 50)).roughness;
        EXPECT_GE(rough, 1.1 * clean) << clean << " degrees at spike 0, " << rough << " at spike 9";
        std::printf("%s: c/a quartiles %.2f-%.2f, roughness %.1f degrees at spike 0, %.1f at spike 9\n", style.c_str(),
                    ca.low, ca.high, clean, rough);
    }
}

// Any two styles differ clearly in one measure at least.
TEST(Styles, EveryPairDiffersClearly) {
    const auto apart = [](const Medians& x, const Medians& y) {
        return std::abs(x.ca - y.ca) >= 0.15 || std::abs(x.ba - y.ba) >= 0.15 ||
               std::abs(x.solidity - y.solidity) >= 0.05 || std::abs(x.planar - y.planar) >= 0.15 ||
               std::abs(x.roughness - y.roughness) >= 3;
    };
    for (std::size_t i = 0; i < kStyles.size(); ++i) {
        for (std::size_t j = i + 1; j < kStyles.size(); ++j) {
            EXPECT_TRUE(apart(mediansOf(runOf(kStyles[i])), mediansOf(runOf(kStyles[j]))))
                << kStyles[i] << " and " << kStyles[j];
        }
    }
}

}  // namespace
}  // namespace tavimor::e2e
