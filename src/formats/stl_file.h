#pragma once

#include <string>

#include "geometry/rock.h"

namespace tavimor {

// A binary STL file of one rock, Z-up as slicers expect: 146 facets,
// counter-clockwise seen from outside, each with its unit normal.
std::string stlFile(const Rock& rock, int rockNumber);

}  // namespace tavimor
