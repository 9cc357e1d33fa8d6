#pragma once

#include "cobwriter/object_stream.h"

namespace tavimor {

// Bytes in every rock file: 483 lines whatever the rock's shape, because
// every coordinate prints with the same number of characters.
inline constexpr std::size_t kRockFileSize = 12252;

// Header line, PolH chunk head, object name "Rock<n>", axes, transformation
// and the "World Vertices" line.
void writeHead(ObjectStream& out, int rockNumber, int vertexCount);

// Texture vertices, faces, and the Unit, Mat1 and END chunks.
void writeTail(ObjectStream& out);

}  // namespace tavimor
