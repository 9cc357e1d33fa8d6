#pragma once

// Reads back what the program writes, as plainly as the formats allow: a
// check of its own beside the readers the tests also run (assimp, the
// Khronos validator).

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tavimor::e2e {

std::uint32_t u32At(const std::string& bytes, std::size_t at);

// A binary glTF file's JSON and binary chunks.
struct GlbChunks {
    std::string json, binary;
};
GlbChunks chunksOf(const std::string& glb);

// A binary PLY file's vertex positions, normals where it has them, and
// faces, whatever else its vertices hold.
struct PlyMesh {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 3>> normals;
    std::vector<std::array<std::uint32_t, 3>> faces;
};
PlyMesh readPly(const std::string& ply);

// The positions of each object ("o NAME") of an OBJ file, and the names in
// the order they come.
std::map<std::string, std::vector<std::array<double, 3>>> objectsOf(const std::string& obj);
std::vector<std::string> objectNamesOf(const std::string& obj);

// A binary STL file's facets' corners, three a facet.
std::vector<std::array<float, 3>> stlCorners(const std::string& stl);

// A COB file's vertices.
std::vector<std::array<double, 3>> cobVertices(const std::string& cob);

}  // namespace tavimor::e2e
