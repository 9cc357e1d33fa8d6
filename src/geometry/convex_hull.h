#pragma once

// Convex hulls of point sets, and the small hulls physics engines take as
// collision shapes.

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "geometry/vec3.h"

namespace tavimor {

// Near enough to a hull's face, as a fraction of the points' box, to count
// as on it: above the rounding of positions read back from a file in
// single precision (points on a flat face are then scattered by some
// tenths of a millionth, and a finer tolerance makes faces of that
// scatter), and far below anything a rock can show.
inline constexpr double kHullTolerance = 1e-6;

// The convex hull of points, by quickhull: its triangles as indices into
// points, counter-clockwise seen from outside. Points within tolerance (of
// the points' box) of the hull count as on it and may be left out;
// duplicates and points inside are. Empty when the points span no volume
// (fewer than four, or all on a plane). None when rounding broke it: a
// point counted on one face and off its neighbour leaves faces that no
// longer join up. Only + - * / and a square root: the same triangles on
// every platform.
std::optional<std::vector<std::array<int, 3>>> convexHull(std::span<const Position> points, double tolerance);
// The same at kHullTolerance, or where that breaks, at ten and a hundred
// times it.
std::optional<std::vector<std::array<int, 3>>> convexHull(std::span<const Position> points);

// The volume a closed surface of outward triangles encloses.
double enclosedVolume(std::span<const Position> vertices, std::span<const std::array<int, 3>> triangles);

// A convex collision shape: its vertices and its triangles over them,
// counter-clockwise seen from outside.
struct CollisionHull {
    std::vector<Position> vertices;
    std::vector<std::array<int, 3>> triangles;
};

// What engines take: Unity caps a convex collider at 255 triangles; this
// stays well within, at a volume close to the exact hull's.
inline constexpr int kMostHullVertices = 64;
inline constexpr int kMostHullTriangles = 124;
// A closed convex surface of triangles has 2 V - 4 of them.
static_assert(kMostHullTriangles == 2 * kMostHullVertices - 4);

// A convex hull that contains every point of all, with at most
// kMostHullVertices vertices and kMostHullTriangles triangles: the exact
// hull where it is that small; otherwise the planes of a coarser point set's
// hull (shape: a subset of all, or points near them), gathered into a few
// dozen directions, each pushed out to the last point of all, intersected.
// None where one of the hulls it is made of could not be made.
std::optional<CollisionHull> collisionHull(std::span<const Position> all, std::span<const Position> shape);

}  // namespace tavimor
