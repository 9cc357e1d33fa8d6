#include "picture/contact_sheet.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#include <cmath>
#include <memory>
#include <vector>

#include "geometry/detailed_rock.h"
#include "geometry/normals.h"

namespace tavimor {
namespace {

// A run's rocks at a detail, and the largest reach among them.
struct Run {
    DetailLevels levels;
    std::vector<std::vector<Position>> rocks, normals;
    double reach = 0;
};

std::unique_ptr<Run> makeRun(int count, int detail, std::uint32_t seed) {
    auto run = std::make_unique<Run>();
    run->levels = buildDetailLevels(detail);
    Lcg generator{seed};
    for (int n = count - 1; n >= 0; --n) {
        run->rocks.push_back(makeDetailedRock(generator, 9, {}, run->levels, {seed, n}));
        run->normals.emplace_back();
        smoothNormals(run->levels.levels.back(), run->rocks.back(), run->normals.back());
        for (const Position& p : run->rocks.back()) run->reach = std::max(run->reach, std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z));
    }
    return run;
}

ContactSheet sheetOf(const Run& run, int tile, bool smooth) {
    ContactSheet sheet(static_cast<int>(run.rocks.size()), tile, run.reach);
    for (std::size_t i = 0; i < run.rocks.size(); ++i) {
        sheet.draw(static_cast<int>(i), run.levels.levels.back(),
                   {run.rocks[i], smooth ? std::span<const Position>(run.normals[i]) : std::span<const Position>()});
    }
    return sheet;
}

// How many pixels of a tile differ from the background, and how many of
// them lie on its border.
struct TileInk {
    int drawn = 0, onBorder = 0;
};

TileInk inkOf(const ContactSheet& sheet, int tile, int index) {
    TileInk ink;
    const auto& p = sheet.pixels();
    for (int y = 0; y < tile; ++y) {
        for (int x = 0; x < tile; ++x) {
            const std::size_t at = (static_cast<std::size_t>(index / kTilesPerRow * tile + y) * sheet.width() +
                                    static_cast<std::size_t>(index % kTilesPerRow * tile + x)) * 3;
            if (p[at] == 236 && p[at + 1] == 236 && p[at + 2] == 232) continue;
            ++ink.drawn;
            ink.onBorder += x == 0 || y == 0 || x == tile - 1 || y == tile - 1;
        }
    }
    return ink;
}

TEST(ContactSheet, TilesInRowsOfTenEachRockWhollyInsideItsOwn) {
    const struct {
        int rocks, detail, tile;
    } cases[] = {{13, 0, 64}, {3, 3, 128}, {10, 1, 96}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rocks) + " rocks of detail " + std::to_string(c.detail));
        const auto run = makeRun(c.rocks, c.detail, 5);
        const ContactSheet sheet = sheetOf(*run, c.tile, false);
        const int columns = std::min(c.rocks, kTilesPerRow), rows = (c.rocks + kTilesPerRow - 1) / kTilesPerRow;
        EXPECT_EQ(sheet.width(), columns * c.tile);
        EXPECT_EQ(sheet.height(), rows * c.tile);
        for (int i = 0; i < columns * rows; ++i) {
            const TileInk ink = inkOf(sheet, c.tile, i);
            if (i < c.rocks) {
                // Drawn, and fitted by the largest rock: nothing touches the edge.
                EXPECT_GT(ink.drawn, c.tile * c.tile / 10) << i;
                EXPECT_EQ(ink.onBorder, 0) << i;
            } else {
                EXPECT_EQ(ink.drawn, 0) << i;
            }
        }
    }
}

TEST(ContactSheet, ThePngHoldsTheSheetAndSmoothShadingShows) {
    const auto run = makeRun(4, 2, 17);
    for (const bool smooth : {false, true}) {
        const ContactSheet sheet = sheetOf(*run, 80, smooth);
        const std::optional<std::string> made = sheet.png();
        ASSERT_TRUE(made);
        const std::string& png = *made;
        ASSERT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n"));
        int width = 0, height = 0, channels = 0;
        std::unique_ptr<stbi_uc, void (*)(void*)> decoded(
            stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()), &width,
                                  &height, &channels, 3),
            stbi_image_free);
        ASSERT_NE(decoded, nullptr) << stbi_failure_reason();
        EXPECT_EQ(width, sheet.width());
        EXPECT_EQ(height, sheet.height());
        EXPECT_TRUE(std::equal(sheet.pixels().begin(), sheet.pixels().end(), decoded.get()));
    }
    EXPECT_NE(sheetOf(*run, 80, true).pixels(), sheetOf(*run, 80, false).pixels());
}

}  // namespace
}  // namespace tavimor
