#include "cobwriter/object_writer.h"

#include <charconv>

#include "cobwriter/mesh_tables.h"

namespace tavimor {
namespace {

// Appends the decimal digits of a non-negative value.
char* putNumber(char* at, int value) {
    return std::to_chars(at, at + 16, value).ptr;
}

char* putText(char* at, std::string_view text) {
    for (const char c : text) *at++ = c;
    return at;
}

void putLabelledNumber(ObjectStream& out, std::string_view label, int value) {
    char line[64];
    char* end = putNumber(putText(line, label), value);
    putLine(out, std::string_view(line, static_cast<std::size_t>(end - line)));
}

void putCorners(ObjectStream& out, const Face& face) {
    char line[64];
    char* at = line;
    for (const Corner& corner : face) {
        *at++ = '<';
        at = putNumber(at, corner.vertex);
        *at++ = ',';
        at = putNumber(at, corner.textureVertex);
        *at++ = '>';
        *at++ = ' ';
    }
    putLine(out, std::string_view(line, static_cast<std::size_t>(at - line)));
}

}  // namespace

void writeHead(ObjectStream& out, int rockNumber, int vertexCount) {
    putLine(out, "Caligari V00.01ALH             ");
    putLine(out, "PolH V0.02 Id 1940332 Parent 0 Size 00011541");
    putLabelledNumber(out, "Name Rock", rockNumber);
    putLine(out, "center 0 0 0");
    putLine(out, "x axis 1 0 0");
    putLine(out, "y axis 0 1 0");
    putLine(out, "z axis 0 0 1");
    putLine(out, "Transform");
    putLine(out, "1 0 0 0");
    putLine(out, "0 1 0 0");
    putLine(out, "0 0 1 0");
    putLine(out, "0 0 0 1");
    putLabelledNumber(out, "World Vertices ", vertexCount);
}

void writeTail(ObjectStream& out) {
    putLabelledNumber(out, "Texture Vertices ", kTextureVertexCount);
    for (const std::string_view entry : kTextureVertices) putLine(out, entry);
    putLabelledNumber(out, "Faces ", kFaceCount);
    for (const Face& face : kFaces) {
        putLine(out, "Face verts 3 flags 0 mat 0");
        putCorners(out, face);
    }
    putLine(out, "Unit V0.01 Id 1940333 Parent 1940332 Size 00000009");
    putLine(out, "Units 2");
    putLine(out, "Mat1 V0.05 Id 2142740 Parent 1940332 Size 00000197");
    putLine(out, "mat# 0");
    putLine(out, "shader: phong  facet: smooth");
    putLine(out, "rgb 0.8235294,0.6431373,0.5215687");
    putLine(out, "alpha 1  ka 0  ks 0  exp 0  ior 1");
    putLine(out, "END  V1.00 Id 0 Parent 0 Size        0");
}

}  // namespace tavimor
