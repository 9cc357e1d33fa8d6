#pragma once

// Rock styles: families of rocks, each its own look. Classic is the rock as
// it always was. The others give each rock a surface of its own, a radius
// for every direction from its centre: a body (an ellipsoid along axes of
// the rock's own, its proportions drawn per rock), cut by flat fracture
// planes where the style has them, roughened by noise at several scales, a
// finer scale at each finer detail level.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "geometry/detailed_rock.h"
#include "geometry/rock.h"

namespace tavimor {

enum class Style { Classic, Boulder, Pebble, Slab, Shard };

struct StyleName {
    std::string_view name;
    Style style;
};
// The styles as the command line names them, in the order the help lists
// them.
inline constexpr StyleName kStyleNames[] = {{"classic", Style::Classic},
                                             {"boulder", Style::Boulder},
                                             {"pebble", Style::Pebble},
                                             {"slab", Style::Slab},
                                             {"shard", Style::Shard}};

// A style's name on the command line.
constexpr std::string_view styleName(Style style) {
    for (const StyleName& entry : kStyleNames) {
        if (entry.style == style) return entry.name;
    }
    return {};
}

// The colour of a style's rocks: classic keeps its sandstone; the others
// are stone greys and sandstones, whole 255ths, so that a vertex colour
// says the same.
constexpr Colour colourOf(Style style) {
    switch (style) {
        case Style::Classic: return kRockColour;
        case Style::Boulder: return {146 / 255.0, 142 / 255.0, 136 / 255.0};  // granite grey
        case Style::Pebble: return {166 / 255.0, 158 / 255.0, 146 / 255.0};   // river-worn grey
        case Style::Slab: return {181 / 255.0, 150 / 255.0, 112 / 255.0};     // sandstone
        case Style::Shard: return {112 / 255.0, 114 / 255.0, 120 / 255.0};    // slate
    }
    return kRockColour;
}

// A rock of a style other than classic at the finest of levels, as
// makeDetailedRock makes a classic one: it moves generator on by a rock's
// draws, takes its shape from the run's seed and the rock's number, and
// puts every position on its surface: level 0 on the base shape's
// directions, each finer position on the ray through its edge's midpoint.
// lumps is room for the noise at each position, used again.
void makeStyledRock(Lcg& generator, Style style, int spike, const Scale& scale, const DetailLevels& levels,
                    const RockIdentity& rock, std::vector<Position>& positions, std::vector<double>& lumps);

}  // namespace tavimor
