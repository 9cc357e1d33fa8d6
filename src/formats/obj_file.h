#pragma once

// Wavefront OBJ with its MTL material library beside it, Y-up: an object
// per rock, "o NAME", its positions (moved by its offset), texture vertices
// and, smooth, normals, then its faces counter-clockwise seen from outside,
// "f v/vt" or, smooth, "f v/vt/vn" in a smoothing group, all with the
// material "rock". Auto shading lists each split normal once and its
// corners name theirs. Its writer is objFormat().

#include "formats/format.h"

namespace tavimor {

const Format& objFormat();

}  // namespace tavimor
