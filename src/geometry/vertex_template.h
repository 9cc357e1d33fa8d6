#pragma once

#include <vector>

namespace tavimor {

// Vertices of every rock: the base shape has this many, the file announces
// this many and the faces index 0 to kVertexCount - 1.
inline constexpr int kVertexCount = 75;

// One rock's vertex positions as three parallel coordinate arrays. Each array
// has one spare entry past the last vertex, which is never written or read.
struct VertexTemplate {
    std::vector<double> X;
    std::vector<double> Y;
    std::vector<double> Z;
};

// Allocates a fresh template (X, then Y, then Z). Throws std::bad_alloc when
// memory cannot be had.
VertexTemplate allocateVertexTemplate();

// Writes the base shape into entries 0 to kVertexCount - 1 of each array.
void fillVertexTemplate(double* X, double* Y, double* Z);

}  // namespace tavimor
