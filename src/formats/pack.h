#pragma once

// A file of many rocks, built a rock at a time: a head, then, part by part,
// each rock's piece of that part. Only the head holds anything of all the
// rocks at once.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "formats/formats.h"
#include "formats/glb_file.h"

namespace tavimor {

struct PackLayout {
    Format format = Format::Glb;
    const FormatLevel* level = nullptr;
    bool normals = false;
    std::uint64_t rocks = 0;
    // What the file calls itself: the stem.
    std::string title;
};

// How many parts a packed file of the format has: PLY lists every vertex
// before any face, so it takes two passes over the rocks; the others one.
int packParts(Format format);

// Whether a part's pieces need the rocks' positions (PLY's faces do not).
bool packPartNeedsRocks(Format format, int part);

// The head: for glTF the rocks' entries (bounds, names, where they stand),
// for OBJ the material library's file name. Empty if the file cannot be
// made (the library fails, or glTF's 4 GiB would be passed).
std::string packHead(const PackLayout& layout, std::span<const GlbRock> glbRocks, std::string_view materialFile);

// Rock number index's piece of a part: its object in OBJ, its facets in
// STL, its vertices (part 0) or faces (part 1) in PLY, its block in glTF.
void appendPackPiece(std::string& out, const PackLayout& layout, int part, const RockMesh& rock, std::uint64_t index);

}  // namespace tavimor
