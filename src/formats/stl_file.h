#pragma once

// Binary STL, Z-up as slicers expect: an 80-byte header of title and the
// number of facets, then every facet, counter-clockwise seen from outside,
// with its unit normal. STL has facet normals only: smooth shading does not
// change it. Its writer is stlFormat().

#include "formats/format.h"

namespace tavimor {

const Format& stlFormat();

}  // namespace tavimor
