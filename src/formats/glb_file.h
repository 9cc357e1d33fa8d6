#pragma once

// Binary glTF 2.0, Y-up. A position with two texture vertices (on the
// texture seam, at the poles) becomes one glTF vertex for each, as glTF
// keeps one texture coordinate per vertex. Each rock is a mesh of its own
// with POSITION, TEXCOORD_0, NORMAL where shading is smooth, and indices,
// under a node of its own; the material's base colour is the rock's colour.
// The JSON is written here, straight, a rock at a time, so that a file of
// many rocks never has to be held whole. Its writer is glbFormat().

#include <optional>
#include <string>

#include "formats/format.h"

namespace tavimor {

const Format& glbFormat();

// A file of one rock at a level; none past glTF's 4 GiB.
std::optional<std::string> glbFile(const LevelMesh& level, const RockMesh& rock);

}  // namespace tavimor
