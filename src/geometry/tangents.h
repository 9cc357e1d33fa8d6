#pragma once

// Tangents for a normal map, as MikkTSpace makes them: the frame in which
// Blender, Godot, Unity, Unreal and glTF's own readers decode a map in
// tangent space, worked out from the mesh as written.

#include <array>
#include <span>
#include <vector>

#include "geometry/textured_vertices.h"
#include "geometry/vec3.h"

namespace tavimor {

// A unit tangent along u, and w the side of the bitangent: sign w times
// normal x tangent runs along v.
struct Tangent {
    Position direction;
    double w;
};

// The arc cosine of x in [-1, 1] from + - * / and sqrt alone, within 3e-8
// (Abramowitz and Stegun 4.4.46): the same bits on every platform.
double arcCosine(double x);

// The tangent of each corner of each face (faces and corners as the
// level's, clockwise seen from outside): corners of one vertex (one
// texture vertex and one normal of normalOf) share one, the sum of their
// faces' tangent directions flattened onto the normal, each weighted by its
// corner's angle there, as MikkTSpace sums them.
void mikkTangents(std::span<const std::array<int, 3>> faces, std::span<const Position> positions,
                  const TextureCoordinates& uv, std::span<const Position> normals,
                  std::span<const std::array<int, 3>> normalOf, std::vector<Tangent>& tangents);

}  // namespace tavimor
