#pragma once

// Texture coordinates over a rock's faces, and the vertices of a format
// that keeps one texture coordinate and one normal per vertex (glTF).

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/split_normals.h"
#include "geometry/subdivision.h"

namespace tavimor {

// One set of texture coordinates over a level's faces.
struct TextureCoordinates {
    // (u, v), v counted up from the bottom.
    std::span<const TextureVertex> vertices = {};
    // The texture vertex of each corner of each face, faces and corners as
    // the level's.
    std::span<const std::array<int, 3>> corners = {};
    // The position each texture vertex belongs to; -1 for one no face uses.
    std::span<const int> owners = {};

    bool sameAs(const TextureCoordinates& other) const {
        return vertices.data() == other.vertices.data() && vertices.size() == other.vertices.size() &&
               corners.data() == other.corners.data() && owners.data() == other.owners.data();
    }
};

// The level's own texture coordinates, which every rock of it shares.
TextureCoordinates levelTextures(const LevelMesh& level);

// A vertex for each texture vertex in use, in order: what a set of texture
// coordinates makes, the same for every rock that has it.
struct BaseVertices {
    // The vertex of each texture vertex (0 for one not in use), and the
    // texture vertex of each vertex.
    std::vector<std::uint32_t> vertexOf;
    std::vector<int> textureOf;
};
void baseVerticesOf(const TextureCoordinates& textures, BaseVertices& base);

// With split normals, the vertices beyond the base ones: a texture vertex
// whose corners use several normals takes one more for each further
// normal. Only the corners at positions whose normals split are looked at.
struct SplitVertices {
    // Of each vertex beyond the base ones, in order of texture vertex and
    // normal: its texture vertex and normal.
    std::vector<std::array<int, 2>> extras;
    // The normal each texture vertex at a split position takes; -1 for the
    // others (the normal of their position).
    std::vector<int> firstNormal;
    // The corners (3 f + k) whose vertex is not their texture vertex's, and
    // their vertex, counted from the first extra.
    std::vector<std::array<std::uint32_t, 2>> patched;
    // Room the working out uses, kept from rock to rock: texture vertex,
    // normal and corner of each corner beyond its texture vertex's first
    // normal.
    std::vector<std::array<int, 3>> others;
};
// The one rule for which vertices a rock has: what counts a packed file's
// vertices ahead and what writes them both take it from here.
void splitVerticesOf(const TextureCoordinates& textures, const SplitNormals& split, SplitVertices& vertices);

}  // namespace tavimor
