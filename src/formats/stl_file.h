#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/formats.h"

namespace tavimor {

// Binary STL, Z-up as slicers expect: an 80-byte header of title and the
// number of facets.
std::string stlHead(std::string_view title, std::uint32_t facets);

// The rock's facets, moved by its offset, counter-clockwise seen from
// outside, each with its unit normal. STL has facet normals only: smooth
// shading does not change it.
void appendStlFacets(std::string& out, const RockMesh& rock);

// A file of one rock.
std::string stlFile(const RockMesh& rock, int rockNumber);

}  // namespace tavimor
