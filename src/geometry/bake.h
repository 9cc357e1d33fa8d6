#pragma once

// Maps baked from a rock's finest surface onto a coarser level through
// its atlas: its normals in the level's tangent space, its ambient
// occlusion, its stone's colour and roughness. The levels nest, so each
// face of the level covers its own faces of the finest level, and each of
// those its own place in the atlas: the bake draws the finest faces into
// the maps, no search.

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/atlas.h"
#include "geometry/material.h"
#include "geometry/tangents.h"
#include "geometry/two_parts.h"

namespace tavimor {

// How a style's stone looks over its surface: mottling at low frequency,
// speckle from grain to grain, bands along the bedding, lighter worn edges;
// its roughness and how much it varies. Every share is of the colour.
struct StoneLook {
    double mottle = 0.15;
    double speckle = 0.08;
    double bands = 0;
    double wear = 0.12;
    double roughness = 0.85;
    double roughnessSpread = 0.1;
};

// The linear value of an sRGB fraction, and the sRGB byte of a linear
// value: from + - * / and sqrt, the same on every platform.
double linearOf(double srgb);
std::uint8_t srgbByte(double linear);

// The finest surface as a bake reads it: the finest level's positions and
// smooth normals (levels reaching it), and the stone.
struct BakeSource {
    const DetailLevels& levels;
    std::span<const Position> positions;
    std::span<const Position> normals;
    Colour colour;
    StoneLook look;
    // Keys the stone's noise: the rock's own.
    std::uint32_t key = 0;
};

// The look of each position of the finest level: linear colour, ambient
// occlusion (1 open, 0 shut) and roughness.
struct PointLook {
    float red, green, blue, occlusion, roughness;
};
void lookOfSurface(const BakeSource& source, std::vector<PointLook>& looks, const BothParts& both = inTurn);

// The level baked onto: its faces' texture coordinates, each corner's
// normal (normalOf into normals) and tangent, as the files have them.
struct BakeTarget {
    int level = 0;
    const RockAtlas* atlas = nullptr;
    TextureCoordinates uv;
    std::span<const Position> normals;
    std::span<const std::array<int, 3>> normalOf;
    std::span<const Tangent> tangents;
    int pixels = 1024;
};

// Three square RGB images, rows from the top: base colour (sRGB), normal
// (tangent space, X right, Y up, Z out) and occlusion, roughness and
// metalness (linear).
struct BakedMaps {
    int pixels = 0;
    std::vector<std::uint8_t> baseColour, normal, orm;
};
void bakeMaps(const BakeSource& source, std::span<const PointLook> looks, const BakeTarget& target, BakedMaps& maps,
              const BothParts& both = inTurn);

}  // namespace tavimor
