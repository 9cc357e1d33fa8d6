#pragma once

// File formats: a rock in, the bytes of its files out. Nothing here opens,
// writes or names a file on disk.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/detail.h"
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

// A piece of glTF JSON kept from one rock to the next: text as it stands,
// or the place of one of the rock's own values (kGlbName, or one of the six
// bounds, low x y z then high x y z, as 0 to 5).
struct GlbJsonPiece {
    static constexpr int kText = -1;
    static constexpr int kGlbName = 6;
    std::string text;
    int value = kText;
};

// A detail level as the formats write it: what every rock of the level
// shares, worked out once per run, so that a rock costs only its own bytes.
struct FormatLevel {
    const LevelMesh* mesh = nullptr;
    // glTF keeps one texture coordinate per vertex: a vertex for each
    // texture vertex in use, and the position it belongs to.
    std::vector<int> glbOwners = {};
    // glTF's texture coordinates and indices, as they are written.
    std::string glbTexcoords = {};
    std::string glbIndices = {};
    // The JSON of a file of one rock, flat and smooth, in pieces around the
    // places where each rock's own values go.
    std::vector<GlbJsonPiece> glbFlatJson = {};
    std::vector<GlbJsonPiece> glbSmoothJson = {};
};
FormatLevel prepareLevel(const LevelMesh& mesh);

// One rock as a format writes it: a detail level, the rock's positions
// (Z-up, the level's count of them at least), and one normal per position
// for smooth shading (none: flat).
struct RockMesh {
    const FormatLevel* level = nullptr;
    std::span<const Position> positions = {};
    std::span<const Position> normals = {};
    // The object's name in the file.
    std::string name = {};
    // Where the rock stands in a file of many (Z-up); zero in a file of its own.
    Position offset = {0, 0, 0};
    // The extent of the level's positions, where it is known already.
    const Extent* extent = nullptr;
};

// One file of a rock: how its name ends (the extension, with its point) and
// its bytes.
struct FormatFile {
    std::string_view extension;
    std::string bytes;
};

// Appends the files of rock rockNumber in one format: one file, or two for
// OBJ (the mesh, then its material library). baseName is the file name
// without its extension, by which the OBJ file finds its library. COB takes
// detail 0 only, flat.
void appendRockFiles(std::vector<FormatFile>& files, Format format, const RockMesh& rock, int rockNumber,
                     std::string_view baseName);

// The extensions of a format's files, in the order appendRockFiles makes them.
std::vector<std::string_view> extensionsOf(Format format);

}  // namespace tavimor
