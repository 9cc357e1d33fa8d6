#pragma once

// Binary glTF 2.0, Y-up. A position with two texture vertices (on the
// texture seam, at the poles) becomes one glTF vertex for each, as glTF
// keeps one texture coordinate per vertex. Each rock is a mesh of its own
// with POSITION, TEXCOORD_0, NORMAL where shading is smooth, and indices,
// under a node of its own; the material's base colour is the rock's colour.
// The JSON is written here, straight, a rock at a time, so that a file of
// many rocks never has to be held whole. Its writer is glbFormat().

#include <cstddef>

#include "formats/format.h"

namespace tavimor {

const Format& glbFormat();

// A number as the JSON spells it: the shortest digits that read back as the
// same double (std::to_chars: the nearest such, ties to even), laid out as
// the files have always had them: a whole number with ".0" ("2.0"), plain
// decimals from 1e-4 up to below 1e15, otherwise an exponent of at least
// two digits with its sign ("1.5e+20", "2e-07"); "0.0" and "-0.0" for
// zeros. Writes at most 32 characters to out and returns how many.
std::size_t spellJsonNumber(double v, char* out);

}  // namespace tavimor
