#pragma once

#include <string>

#include "geometry/rock.h"

namespace tavimor {

// A binary little-endian PLY file of one rock, Z-up: 75 vertices and 146
// triangles, counter-clockwise seen from outside.
std::string plyFile(const Rock& rock, int rockNumber);

}  // namespace tavimor
