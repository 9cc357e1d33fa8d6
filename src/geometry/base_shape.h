#pragma once

#include <array>

#include "geometry/vec3.h"

namespace tavimor {

// Vertices of every rock: the base shape has this many, the COB file
// announces this many and the faces index 0 to kVertexCount - 1.
inline constexpr int kVertexCount = 75;

// The base shape, Z up: five rings of twelve vertices from the top ring to
// the bottom ring (latitude 60, 30, 0, -30, -60 degrees, longitude 30 * j from
// +X towards +Y), then the fifteen vertices of the two polar caps (64 is the
// top pole, 68 the bottom pole). Every value is a six-decimal literal; vertex
// 58 deliberately has Z = -0.866026, and the caps keep their tiny offsets
// from the axes.
inline constexpr std::array<Position, kVertexCount> kBaseShape = {{
    {0.5, 0, 0.866025},
    {0.433013, 0.25, 0.866025},
    {0.25, 0.433013, 0.866025},
    {0, 0.5, 0.866025},
    {-0.25, 0.433013, 0.866025},
    {-0.433013, 0.25, 0.866025},
    {-0.5, 0, 0.866025},
    {-0.433013, -0.25, 0.866025},
    {-0.25, -0.433013, 0.866025},
    {0, -0.5, 0.866025},
    {0.25, -0.433013, 0.866025},
    {0.433013, -0.25, 0.866025},
    {0.866025, 0, 0.5},
    {0.75, 0.433013, 0.5},
    {0.433013, 0.75, 0.5},
    {0, 0.866025, 0.5},
    {-0.433013, 0.75, 0.5},
    {-0.75, 0.433013, 0.5},
    {-0.866025, 0, 0.5},
    {-0.75, -0.433013, 0.5},
    {-0.433013, -0.75, 0.5},
    {0, -0.866025, 0.5},
    {0.433013, -0.75, 0.5},
    {0.75, -0.433013, 0.5},
    {1, 0, 0},
    {0.866025, 0.5, 0},
    {0.5, 0.866025, 0},
    {0, 1, 0},
    {-0.5, 0.866025, 0},
    {-0.866025, 0.5, 0},
    {-1, 0, 0},
    {-0.866025, -0.5, 0},
    {-0.5, -0.866025, 0},
    {0, -1, 0},
    {0.5, -0.866025, 0},
    {0.866025, -0.5, 0},
    {0.866025, 0, -0.5},
    {0.75, 0.433013, -0.5},
    {0.433013, 0.75, -0.5},
    {0, 0.866025, -0.5},
    {-0.433013, 0.75, -0.5},
    {-0.75, 0.433013, -0.5},
    {-0.866025, 0, -0.5},
    {-0.75, -0.433013, -0.5},
    {-0.433013, -0.75, -0.5},
    {0, -0.866025, -0.5},
    {0.433013, -0.75, -0.5},
    {0.75, -0.433013, -0.5},
    {0.5, 0, -0.866025},
    {0.433013, 0.25, -0.866025},
    {0.25, 0.433013, -0.866025},
    {0, 0.5, -0.866025},
    {-0.25, 0.433013, -0.866025},
    {-0.433013, 0.25, -0.866025},
    {-0.5, 0, -0.866025},
    {-0.433013, -0.25, -0.866025},
    {-0.25, -0.433013, -0.866025},
    {0, -0.5, -0.866025},
    {0.25, -0.433013, -0.866026},
    {0.433013, -0.25, -0.866025},
    {0, 0.25, 0.960043},
    {0, -0.25, 0.960043},
    {0.000002, -0.25, -0.931838},
    {0.000002, 0.25, -0.931838},
    {0, 0, 0.988336},
    {0.229704, 0.000463, 0.964456},
    {-0.229181, -0.000444, 0.96242},
    {-0.227304, -0.001187, -0.947142},
    {-0.000003, 0, -0.973917},
    {0.226936, 0.001146, -0.945489},
    {-0.276923, -0.111538, 0.907972},
    {-0.287878, -0.106061, -0.893946},
    {-0.158218, 0.091346, -0.934495},
    {0.197513, -0.114035, -0.924703},
    {0.269232, 0.115385, -0.8964},
}};

namespace base_shape_checks {

constexpr bool allWithin(double limit) {
    for (const Position& p : kBaseShape) {
        for (const double c : {p.x, p.y, p.z}) {
            if (c > limit || c < -limit) return false;
        }
    }
    return true;
}

constexpr bool allDistinct() {
    for (std::size_t i = 0; i < kBaseShape.size(); ++i) {
        for (std::size_t j = i + 1; j < kBaseShape.size(); ++j) {
            const Position& a = kBaseShape[i];
            const Position& b = kBaseShape[j];
            if (a.x == b.x && a.y == b.y && a.z == b.z) return false;
        }
    }
    return true;
}

// Rings 0 and 1 lie above the equator, ring 2 on it, rings 3 and 4 below,
// and the caps beyond the rings next to them.
constexpr bool ringsInOrder() {
    for (int i = 0; i < 60; ++i) {
        const double z = kBaseShape[static_cast<std::size_t>(i)].z;
        const int ring = i / 12;
        if ((ring < 2 && z <= 0) || (ring == 2 && z != 0) || (ring > 2 && z >= 0)) return false;
    }
    for (int i = 60; i < kVertexCount; ++i) {
        const double z = kBaseShape[static_cast<std::size_t>(i)].z;
        if (z < 0.866025 && z > -0.866026) return false;
    }
    return true;
}

// Counts the coordinates below zero: every rock prints this many minus signs,
// which is what keeps the COB file's length the same for every rock.
constexpr int negativeCoordinates() {
    int count = 0;
    for (const Position& p : kBaseShape) count += (p.x < 0) + (p.y < 0) + (p.z < 0);
    return count;
}

}  // namespace base_shape_checks

static_assert(base_shape_checks::allWithin(1.0), "a coordinate past 1 would print wider once scaled by 2");
static_assert(base_shape_checks::allDistinct(), "seams belong to the texture vertices, not to the positions");
static_assert(base_shape_checks::ringsInOrder());
static_assert(base_shape_checks::negativeCoordinates() == 96);
static_assert(kBaseShape[58].z == -0.866026 && kBaseShape[57].z == -0.866025);

}  // namespace tavimor
