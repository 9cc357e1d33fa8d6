#pragma once

// File formats: a rock in, the bytes of its files out. Nothing here opens,
// writes or names a file on disk.

#include <string>
#include <string_view>
#include <vector>

#include "geometry/rock.h"

namespace tavimor {

enum class Format { Cob, Obj, Glb, Stl, Ply };

struct FormatName {
    std::string_view name;
    Format format;
};
// The formats by the names the command line gives them, in the order the
// help lists them.
inline constexpr FormatName kFormatNames[] = {
    {"cob", Format::Cob}, {"obj", Format::Obj}, {"glb", Format::Glb}, {"stl", Format::Stl}, {"ply", Format::Ply}};

// One file of a rock: how its name ends (the extension, with its point) and
// its bytes.
struct FormatFile {
    std::string_view extension;
    std::string bytes;
};

// Appends the files of rock rockNumber in one format: one file, or two for
// OBJ (the mesh, then its material library). baseName is the file name
// without its extension, by which the OBJ file finds its library.
void appendRockFiles(std::vector<FormatFile>& files, Format format, const Rock& rock, int rockNumber,
                     std::string_view baseName);

}  // namespace tavimor
