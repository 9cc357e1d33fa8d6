#pragma once

#include <string>
#include <string_view>

#include "formats/formats.h"

namespace tavimor {

// Where an object's positions, texture vertices and normals start in the
// file's own numbering (OBJ counts from 1 across the whole file).
struct ObjStart {
    long long position = 1;
    long long texture = 1;
    long long normal = 1;
};

// The lines before the first object: what made the file, and its material
// library.
std::string objHead(std::string_view materialFile);

// One object, Y-up: "o NAME", its positions (moved by its offset), its
// texture vertices, its normals where shading is smooth, then its faces
// counter-clockwise seen from outside, "f v/vt" or, smooth, "f v/vt/vn" in
// a smoothing group, all with the material "rock".
void appendObjObject(std::string& out, const RockMesh& rock, const ObjStart& start);

// A file of one rock: the head and the rock.
std::string objFile(const RockMesh& rock, std::string_view materialFile);

// The material library beside it: the rock's colour as the diffuse colour.
std::string mtlFile();

}  // namespace tavimor
