#pragma once

#include <string>
#include <string_view>

#include "geometry/rock.h"

namespace tavimor {

// A Wavefront OBJ file of one rock, Y-up: its 75 positions, the 93 texture
// vertices and 146 faces "f v/vt" counter-clockwise seen from outside, using
// the material "rock" from materialFile.
std::string objFile(const Rock& rock, int rockNumber, std::string_view materialFile);

// The material library beside it: the rock's colour as the diffuse colour.
std::string mtlFile();

}  // namespace tavimor
