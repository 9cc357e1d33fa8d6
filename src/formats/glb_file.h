#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "formats/formats.h"

namespace tavimor {

// Binary glTF 2.0, Y-up. A position with two texture vertices (on the
// texture seam, at the poles) becomes one glTF vertex for each, as glTF
// keeps one texture coordinate per vertex. Each rock is a mesh of its own
// with POSITION, TEXCOORD_0, NORMAL where shading is smooth, and indices,
// under a node of its own; the material's base colour is the rock's colour.

// What the head says of one rock: its name, the bounds of its positions as
// stored (glTF wants them exactly, in single precision), and where its
// node stands (Y-up).
struct GlbRock {
    std::string name;
    std::array<float, 3> low{}, high{};
    Position translation = {0, 0, 0};
};

// The rock's entry in the head; its offset becomes its node's translation.
GlbRock glbRockOf(const RockMesh& rock);

// The bytes of one rock's block in the binary chunk.
std::uint64_t glbBlockSize(const LevelCounts& counts, bool normals);

// The file's header, its JSON chunk and the head of its binary chunk, for
// rocks whose blocks follow one after the other. Empty if the library fails
// to write the JSON, or if the file would pass glTF's 4 GiB.
std::string glbHead(const FormatLevel& level, bool normals, std::span<const GlbRock> rocks);

// What every rock's block at the level shares (FormatLevel's glTF part).
void prepareGlbLevel(FormatLevel& level);

// One rock's block: positions, normals where smooth, texture coordinates
// and indices, ending on a 4-byte boundary.
void appendGlbBlock(std::string& out, const RockMesh& rock);

// A file of one rock. Empty if the library fails to write it.
std::string glbFile(const RockMesh& rock);

}  // namespace tavimor
