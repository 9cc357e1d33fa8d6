#pragma once

// Smooth shading: a normal per position, shared by the faces around it.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/subdivision.h"

namespace tavimor {

// How a rock is shaded: by its faces (no normals), smooth (a normal per
// position), or smooth with the normals split along sharp edges.
enum class Shading { Flat, Smooth, Auto };

// One unit normal per position of the level: the average of the normals of
// the faces around it, each weighted by the face's angle at that corner,
// pointing outward. Computed with + - * / and sqrt only, so that every
// platform gets the same bits: in single precision, or, for a rock more than
// 64 times longer along one axis than along another, in double precision
// with every angle to the last bit; each normal is exact as a float.
void smoothNormals(const LevelMesh& level, std::span<const Position> positions, std::vector<Position>& normals);

// How a level's faces meet, the same for every rock: half-edge 3 f + i
// runs from corner i of face f to the next corner, and twin[h] is the
// half-edge running the other way along the same edge.
struct LevelEdges {
    std::vector<int> twin;
    // A corner (3 f + i) at each position.
    std::vector<int> cornerAt;
};
LevelEdges edgesOf(const LevelMesh& level);

// Auto shading: smooth, except that where two faces meet at more than 30
// degrees (between their normals) each side keeps a normal of its own.
struct SplitNormals {
    // One per position: its smooth normal, or where its corners split,
    // the normal of its first group of them; then the normal of every
    // further group.
    std::vector<Position> normals;
    // The position each further group belongs to: normals[count + k]
    // belongs to owners[k].
    std::vector<int> owners;
    // The normal of each corner of each face, faces and corners as the
    // level's.
    std::vector<std::array<int, 3>> corners;
    // The corners (3 f + i) at positions whose corners split, in order.
    std::vector<int> splitCorners;
    // The vertices a format that keeps a normal and a texture vertex
    // together needs beyond one per texture vertex: a texture vertex whose
    // corners use several normals takes one for each.
    std::uint64_t texturedExtras = 0;
};

// Splits smooth (the level's smooth normals) where faces meet sharply.
void splitNormals(const LevelMesh& level, const LevelEdges& edges, std::span<const Position> positions,
                  std::span<const Position> smooth, SplitNormals& split);

}  // namespace tavimor
