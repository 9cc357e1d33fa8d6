#pragma once

// How much room a set of positions takes, and the stretch that makes its
// box a unit cube.

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

// A box stretched to the unit cube, and back. Convex hulls are worked out
// in it: a stretch keeps which points make a hull, what contains what and
// the ratio of volumes, and a needle or a plate then has faces as well
// shaped as a round rock's.
struct Stretch {
    Position low, size;
    Position in(const Position& p) const {
        const Position d = p - low;
        return {d.x / size.x, d.y / size.y, d.z / size.z};
    }
    Position out(const Position& p) const { return low + Position{p.x * size.x, p.y * size.y, p.z * size.z}; }
    // Whether the box has room in every direction: a flat box has no
    // stretch to the cube.
    bool spansVolume() const { return size.x > 0 && size.y > 0 && size.z > 0; }
};

constexpr Stretch stretchOf(const Extent& extent) { return {extent.low, extent.high - extent.low}; }

}  // namespace tavimor
