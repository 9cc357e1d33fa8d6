#pragma once

// Smooth shading: a normal per position, shared by the faces around it.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/subdivision.h"

namespace tavimor {

// How a rock is shaded: by its faces (no normals), smooth (a normal per
// position), or smooth with the normals split along sharp edges.
enum class Shading { Flat, Smooth, Auto };

// One unit normal per position of the level: the average of the normals of
// the faces around it, each weighted by the face's angle at that corner,
// pointing outward. Computed with + - * / and sqrt only, so that every
// platform gets the same bits: in single precision, or, for a rock more than
// 64 times longer along one axis than along another, in double precision
// with every angle to the last bit; each normal is exact as a float.
void smoothNormals(const LevelMesh& level, std::span<const Position> positions, std::vector<Position>& normals);

}  // namespace tavimor
