#pragma once

// Rock styles: families of rocks, each its own look, as one table. Classic
// is the rock as it always was. The others give each rock a surface of its
// own, a radius for every direction from its centre: a body (an ellipsoid
// along axes of the rock's own, its proportions drawn per rock), cut by
// flat fracture planes where the style has them, roughened by noise at
// several scales, a finer scale at each finer detail level. A new style is
// an entry at the end of kStyles and its shape function in style.cpp.

#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "geometry/bake.h"
#include "geometry/detailed_rock.h"
#include "geometry/material.h"
#include "geometry/rock.h"
#include "geometry/subdivision.h"

namespace tavimor {

// A styled rock's shape and the numbers it is drawn from (style.cpp).
struct StyledShape;
class ShapeDraws;

// Draws one rock's body and cuts: its proportions, frame and fracture
// planes.
using ShapeFunction = void (*)(StyledShape& shape, ShapeDraws& draws);

// How far the noise moves a styled rock's surface at one detail level, as
// a fraction of its radius: clean at spike 0, clean + spiky at spike 9.
struct LevelRoughness {
    double clean, spiky;
};

struct StyleKind {
    // As the command line names it.
    std::string_view name;
    // What the help says it is.
    std::string_view help;
    Material material;
    // None for classic, whose rocks are made as they always were.
    ShapeFunction shape;
    // Level 0 is the broad lumps; each finer level has its own scale.
    std::array<LevelRoughness, kMostDetail + 1> roughness;
    // How its stone looks in baked maps.
    StoneLook look = {};
};

void shapeBoulder(StyledShape& shape, ShapeDraws& draws);
void shapePebble(StyledShape& shape, ShapeDraws& draws);
void shapeSlab(StyledShape& shape, ShapeDraws& draws);
void shapeShard(StyledShape& shape, ShapeDraws& draws);
void shapeRubble(StyledShape& shape, ShapeDraws& draws);

// A colour of whole 255ths, so that a vertex colour says the same.
constexpr Colour bytesColour(int red, int green, int blue) { return {red / 255.0, green / 255.0, blue / 255.0}; }

// Every style, in the order the help lists them. A style's place also
// keys the shapes of its rocks: new styles go at the end.
inline constexpr StyleKind kStyles[] = {
    {"classic", "as always", {kRockColour}, nullptr, {}, {.mottle = 0.18, .speckle = 0.1}},
    {"boulder", "massive, a few broad broken faces", {bytesColour(146, 142, 136)},  // granite grey
     shapeBoulder,
     {{{0.02, 0.02}, {0.012, 0.025}, {0.008, 0.02}, {0.005, 0.014}, {0.003, 0.008}, {0.002, 0.005}, {0.001, 0.003}}},
     // Granite: salt-and-pepper speckle over a little mottling.
     {.mottle = 0.12, .speckle = 0.3, .wear = 0.15, .roughness = 0.8}},
    // Worn smooth: broad swellings, hardly any grain.
    {"pebble", "smooth, river-worn", {bytesColour(166, 158, 146)},  // river-worn grey
     shapePebble,
     {{{0.05, 0.03}, {0.012, 0.012}, {0.004, 0.006}, {0.0015, 0.003}, {0.0008, 0.0015}, {0.0004, 0.0008},
       {0.0002, 0.0004}}},
     // Water-worn: broad mottling, fine grain, smoother than the rest.
     {.mottle = 0.22, .speckle = 0.06, .wear = 0.05, .roughness = 0.6, .roughnessSpread = 0.08}},
    {"slab", "a flat plate with broken edges", {bytesColour(181, 150, 112)},  // sandstone
     shapeSlab,
     {{{0.02, 0.02}, {0.01, 0.03}, {0.006, 0.026}, {0.003, 0.018}, {0.002, 0.009}, {0.0012, 0.005}, {0.0008, 0.0025}}},
     // Sandstone: bands along its beds.
     {.mottle = 0.1, .speckle = 0.08, .bands = 0.22, .wear = 0.12, .roughness = 0.9}},
    {"shard", "long, with crisp ridges and dished facets", {bytesColour(112, 114, 120)},  // slate
     shapeShard,
     {{{0.015, 0.02}, {0.007, 0.025}, {0.005, 0.022}, {0.003, 0.016}, {0.002, 0.008}, {0.0012, 0.004},
       {0.0008, 0.002}}},
     // Slate: even, dark, its fresh breaks a little smoother.
     {.mottle = 0.12, .speckle = 0.1, .wear = 0.2, .roughness = 0.75}},
    {"rubble", "angular, blocky, broken on every side", {bytesColour(128, 121, 112)},  // fresh-broken grey-brown
     shapeRubble,
     {{{0.015, 0.015}, {0.007, 0.025}, {0.005, 0.022}, {0.003, 0.016}, {0.002, 0.008}, {0.0012, 0.004},
       {0.0008, 0.002}}},
     {.mottle = 0.16, .speckle = 0.18, .wear = 0.18, .roughness = 0.88}},
};
inline constexpr std::size_t kStyleCount = std::size(kStyles);

// The table's rules: classic first (the dialogue's and the default), names
// one of a kind, and every other style rough at every level a rock can
// have, ever finer. (Whether a style has a shape function is known only
// when the program is linked.)
constexpr bool stylesAreWhole() {
    if (kStyles[0].name != "classic") return false;
    for (std::size_t s = 0; s < kStyleCount; ++s) {
        for (std::size_t t = 0; t < s; ++t) {
            if (kStyles[s].name == kStyles[t].name) return false;
        }
        if (s == 0) continue;
        for (std::size_t level = 0; level <= kMostDetail; ++level) {
            const LevelRoughness& r = kStyles[s].roughness[level];
            if (!(r.clean > 0 && r.spiky > 0)) return false;
            if (level > 0 && !(r.clean <= kStyles[s].roughness[level - 1].clean)) return false;
        }
    }
    return true;
}
static_assert(stylesAreWhole());
static_assert(std::tuple_size_v<decltype(StyleKind::roughness)> == kMostDetail + 1);

// A style: its place in kStyles.
class Style {
public:
    constexpr Style() = default;
    constexpr explicit Style(std::size_t index) : index_(index) {}
    constexpr const StyleKind& kind() const { return kStyles[index_]; }
    constexpr std::size_t index() const { return index_; }
    constexpr std::string_view name() const { return kind().name; }
    bool isClassic() const { return kind().shape == nullptr; }
    constexpr bool operator==(const Style&) const = default;

private:
    std::size_t index_ = 0;
};

inline constexpr Style kClassic{0};

// The style of that name, or none.
constexpr std::optional<Style> styleNamed(std::string_view name) {
    for (std::size_t s = 0; s < kStyleCount; ++s) {
        if (kStyles[s].name == name) return Style(s);
    }
    return std::nullopt;
}

// What a styled rock's making keeps of each position, for the positions
// on its edges at the next level: its noise (and the finer part of it),
// the body's smooth shape there and how rough its grain is, the surface it
// lies on (-1 the body, else a cut), the two surfaces whose crease it lies
// on, and how much farther than its own surface the next one is; and its
// own surface's radius there (where a crease is worn round, a little more
// than the point's).
struct StyledPoint {
    double lump, fine, smooth, grain, margin, own;
    std::int32_t side;
    std::array<std::int32_t, 2> crease;
};

// Room a styled rock's making uses, used again from rock to rock.
struct StyledRoom {
    std::vector<StyledPoint> points;
};

// A rock of a style other than classic at the finest of levels, as
// makeDetailedRock makes a classic one: it moves generator on by a rock's
// draws, takes its shape from the run's seed and the rock's number, and
// puts every position on its surface: level 0 on the base shape's
// directions, each finer position on the ray through a point of its edge
// (the middle, or where the edge crosses a crease).
void makeStyledRock(Lcg& generator, Style style, int spike, const Scale& scale, const DetailLevels& levels,
                    const RockIdentity& rock, std::vector<Position>& positions, StyledRoom& room);

}  // namespace tavimor
