#pragma once

// Rock geometry: the seeded generator, the base shape, the shared mesh and
// the rocks made from them. It knows no file format.

#include <array>

#include "geometry/base_shape.h"
#include "geometry/generator.h"

namespace tavimor {

// One rock: the base shape with every vertex pushed outwards by a random
// factor of its own. Z is up. The faces and texture vertices are the shared
// topology; only the positions are the rock's own.
struct Rock {
    std::array<Position, kVertexCount> positions;
};

// Factors applied to X, Y and Z after the rock is made. At 1 they change no
// bit of any position.
struct Scale {
    double x = 1.0;
    double y = 1.0;
    double z = 1.0;
};

// A base vertex pushed outwards by its factor, then scaled.
Position scaledPosition(const Position& base, double factor, const Scale& scale);

// Makes one rock from exactly kVertexCount draws, one per vertex in index
// order, with factors from 1 to 1 + spike / 9.
Rock makeRock(Lcg& generator, int spike, const Scale& scale = {});

}  // namespace tavimor
