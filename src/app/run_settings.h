#pragma once

// What a run makes: the one description both modes fill in, the dialogue
// from its three answers and a scripted run from the command line. The
// values here are the defaults, and the help text shows them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/format.h"
#include "geometry/normals.h"
#include "geometry/rock.h"
#include "geometry/rock_recipe.h"
#include "geometry/style.h"

namespace tavimor {

struct RunSettings {
    int count = 1;
    int spike = 5;
    // The family the rocks belong to; classic is the rock as it always was.
    Style style = kClassic;
    // None until the run starts: then the clock's, in seconds.
    std::optional<std::uint32_t> seed = std::nullopt;
    // Rock n is STEM<n>.<ext>, with n padded with zeros to the width of
    // count - 1.
    std::string stem = "ROCK";
    std::vector<const Format*> formats = {&cobFormat()};
    Scale scale = {};
    // Where the files go; empty for the current directory.
    std::string directory = {};
    // Names and the seed are not printed, only errors.
    bool quiet = false;
    // Each level splits every triangle into four.
    int detail = 0;
    // Flat: no normals; smooth: one per position, shared by the faces
    // around it; auto: smooth but split where faces meet at a sharp angle.
    Shading shading = Shading::Flat;
    // Every rock at detail, detail - 1, ..., 0, as STEM<n>_LOD0 (the
    // finest) to STEM<n>_LOD<detail>.
    bool lod = false;
    // Every rock in one file per format, STEM.<ext>, on a grid on the
    // ground.
    bool pack = false;
    // A contact sheet of every rock, written after the rocks; empty: none.
    std::string preview = {};
    int previewSize = 256;
    // Base: each rock's lowest point at height 0 and its box's middle over
    // the origin, at every level of detail (the finest level's).
    Origin origin = Origin::Centre;
    // Each rock with its convex hull, for physics engines.
    bool collision = false;
    // Each rock with maps of this many pixels square baked from its finest
    // surface (a power of two from kFewestTexturePixels to
    // kMostTexturePixels); 0 for none.
    int textures = 0;
};

inline constexpr int kFewestTexturePixels = 128;
inline constexpr int kMostTexturePixels = 4096;

}  // namespace tavimor
