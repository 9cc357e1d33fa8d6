#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>

#include "geometry/rock.h"
#include "geometry/topology.h"

namespace tavimor {

// What the formats other than COB share: the COB file stores
// faces clockwise seen from outside; OBJ, glTF, STL and PLY want them
// counter-clockwise, so the last two corners swap places.
constexpr std::array<Corner, 3> outwardCorners(const Face& face) { return {face[0], face[2], face[1]}; }

// The rock is made Z-up. glTF is Y-up by definition, and OBJ readers
// (Blender, Maya, Unity) take it as Y-up: (x, y, z) becomes (x, z, -y), a
// rotation about X, which keeps every face's winding. Adding zero turns a
// negative zero into a positive one.
constexpr Position yUp(const Position& p) { return {p.x, p.z, -p.y + 0.0}; }

// Little-endian binary values, the same bytes on every machine.
inline void appendU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

inline void appendU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline void appendFloat(std::string& out, double v) { appendU32(out, std::bit_cast<std::uint32_t>(static_cast<float>(v))); }

}  // namespace tavimor
