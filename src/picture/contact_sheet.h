#pragma once

// A contact sheet of a run's rocks: one square tile per rock, in writing
// order, left to right and top to bottom, ten to a row at most. Every rock
// is seen the same way, from a little above, its up axis (Z) up on the
// sheet, at one scale for the whole run so that sizes compare. The drawing
// uses + - * / and sqrt only, so that every platform makes the same bytes.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "geometry/material.h"
#include "geometry/normals.h"
#include "geometry/rock.h"
#include "geometry/split_normals.h"
#include "geometry/textured_vertices.h"
#include "geometry/subdivision.h"

namespace tavimor {

inline constexpr int kSmallestTile = 64;
inline constexpr int kLargestTile = 1024;
inline constexpr int kTilesPerRow = 10;
// A sheet holds at most this many pixels, 192 MB of colour: 64 megapixels.
inline constexpr std::uint64_t kMostSheetPixels = 64000000;

// The most rocks a sheet of tiles of tileSize pixels holds: full rows of
// ten (a row of fewer rocks is as wide as the rocks in it) while the whole
// sheet, its last row's empty tiles too, stays within kMostSheetPixels.
std::uint64_t mostRocksOnASheet(int tileSize);

// A rock as the sheet draws it: its positions, a normal per position for
// smooth shading, or split normals for auto shading (normals then all of
// theirs), and its colour.
struct SheetRock {
    std::span<const Position> positions;
    std::span<const Position> normals = {};
    const SplitNormals* split = nullptr;
    Colour colour = kRockColour;
    // With baked maps: its texture coordinates and its colour map (sRGB,
    // RGB, rows from the top, mapSize square), which colours it instead.
    TextureCoordinates uv = {};
    std::span<const std::uint8_t> colourMap = {};
    int mapSize = 0;
};

class ContactSheet {
public:
    // A sheet of rocks tiles of tileSize pixels; reach is the largest
    // distance of any rock's position from its centre, which fits a tile.
    ContactSheet(int rocks, int tileSize, double reach);

    // Draws a rock of the level into tile index: its triangles filled with
    // a depth buffer, lit by diffuse light from one fixed direction on the
    // rock's colour, shaded smooth where the rock has normals.
    void draw(int index, const LevelMesh& level, const SheetRock& rock);

    // The sheet as a PNG file; none if it cannot be encoded.
    std::optional<std::string> png() const;

    int width() const { return width_; }
    int height() const { return height_; }
    // The sheet's colours, RGB, row by row.
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }

private:
    int tileSize_;
    int width_, height_;
    double scale_;
    std::vector<std::uint8_t> pixels_;  // RGB, row by row
    std::vector<float> depth_;          // one tile's
    // Where the rock being drawn has each position: x, y, depth and light.
    struct Seen {
        double x, y, depth, light;
    };
    std::vector<Seen> projected_;
    // How lit each split normal is.
    std::vector<double> cornerLight_;
};

}  // namespace tavimor
