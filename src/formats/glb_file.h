#pragma once

#include <string>

#include "geometry/rock.h"

namespace tavimor {

// A binary glTF 2.0 file of one rock, Y-up: one mesh with POSITION,
// TEXCOORD_0 and indices, and a material whose base colour is the rock's
// colour. A position with two texture vertices (on the texture seam, at the
// poles) becomes one glTF vertex for each, as glTF keeps one texture
// coordinate per vertex. Empty if the library fails to write it.
std::string glbFile(const Rock& rock, int rockNumber);

}  // namespace tavimor
