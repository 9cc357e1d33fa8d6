#include "meshformats/obj_file.h"

#include <charconv>

#include "meshformats/mesh_export.h"

namespace tavimor {
namespace {

// Shortest text that reads back as the same double.
void appendNumber(std::string& out, double v) {
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

void appendIndex(std::string& out, int v) {
    char text[16];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

}  // namespace

std::string objFile(const Rock& rock, int rockNumber, std::string_view materialFile) {
    std::string out = "# rock made by tavimor, Y up\nmtllib ";
    out.append(materialFile);
    out.append("\no Rock");
    appendIndex(out, rockNumber);
    out.push_back('\n');
    for (const Position& position : rock.positions) {
        const Position p = yUp(position);
        out.append("v ");
        appendNumber(out, p.x);
        out.push_back(' ');
        appendNumber(out, p.y);
        out.push_back(' ');
        appendNumber(out, p.z);
        out.push_back('\n');
    }
    for (const TextureVertex& t : kTextureVertices) {
        out.append("vt ");
        appendNumber(out, t.u);
        out.push_back(' ');
        appendNumber(out, t.v);
        out.push_back('\n');
    }
    out.append("usemtl rock\n");
    for (const Face& face : kFaces) {
        out.push_back('f');
        // OBJ counts from 1.
        for (const Corner& c : outwardCorners(face)) {
            out.push_back(' ');
            appendIndex(out, c.vertex + 1);
            out.push_back('/');
            appendIndex(out, c.textureVertex + 1);
        }
        out.push_back('\n');
    }
    return out;
}

std::string mtlFile() {
    std::string out = "# material made by tavimor\nnewmtl rock\nKa 0 0 0\nKd ";
    appendNumber(out, kRockColour.red);
    out.push_back(' ');
    appendNumber(out, kRockColour.green);
    out.push_back(' ');
    appendNumber(out, kRockColour.blue);
    // Matte, opaque, lit by diffuse light only, as in the object file.
    out.append("\nKs 0 0 0\nd 1\nillum 1\n");
    return out;
}

}  // namespace tavimor
