#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/formats.h"

namespace tavimor {

// Binary little-endian PLY, Z-up: the vertices, then the faces. Each vertex
// starts with the rock's colour, red, green, blue, before its position, so
// the data always begins with the red byte (210), never with a byte that a
// reader could take for the end of the header's last line: assimp 5.2
// swallows a leading 0x0A, the low byte of the first x in one rock of 256,
// and it refuses faces before vertices or any element before them. Readers
// find properties by name, and show the colour.
std::string plyHead(std::string_view objectInfo, std::uint64_t vertices, std::uint64_t faces, bool normals);

// The level's faces, counter-clockwise seen from outside, their corners
// numbered from firstVertex.
void appendPlyFaces(std::string& out, const LevelMesh& level, std::uint32_t firstVertex);

// The rock's vertices: colour, position moved by its offset, and the
// normal where shading is smooth.
void appendPlyVertices(std::string& out, const RockMesh& rock);

// A file of one rock.
std::string plyFile(const RockMesh& rock, int rockNumber);

}  // namespace tavimor
