#pragma once

// How much room a set of positions takes.

#include <span>

#include "geometry/vec3.h"

namespace tavimor {

// The box the positions fill, and how far the farthest lies from the
// origin.
struct Extent {
    Position low, high;
    double reach;
};

// The extent of at least one position.
Extent extentOf(std::span<const Position> positions);

}  // namespace tavimor
