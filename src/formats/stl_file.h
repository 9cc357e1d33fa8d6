#pragma once

// Binary STL, Z-up as slicers expect: an 80-byte header of title and the
// number of facets, then every facet, counter-clockwise seen from outside,
// with its unit normal. STL has facet normals only: smooth shading does not
// change it. Its writer is stlFormat().

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/format.h"

namespace tavimor {

const Format& stlFormat();

// A file of one rock at a level.
std::string stlFile(const LevelMesh& level, const RockMesh& rock);

}  // namespace tavimor
