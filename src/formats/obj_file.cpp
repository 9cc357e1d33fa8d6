#include "formats/obj_file.h"

#include <charconv>
#include <initializer_list>

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

// Shortest text that reads back as the same double.
void appendNumber(std::string& out, double v) {
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// "key a b ...", each number in its shortest exact form, and the line end.
void appendLine(std::string& out, std::string_view key, std::initializer_list<double> numbers) {
    out.append(key);
    for (const double v : numbers) {
        out.push_back(' ');
        appendNumber(out, v);
    }
    out.push_back('\n');
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
        appendLine(out, "v", {p.x, p.y, p.z});
    }
    for (const TextureVertex& t : kTextureVertices) appendLine(out, "vt", {t.u, t.v});
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
    std::string out = "# material made by tavimor\nnewmtl rock\nKa 0 0 0\n";
    appendLine(out, "Kd", {kRockColour.red, kRockColour.green, kRockColour.blue});
    // Matte, opaque, lit by diffuse light only, as in the COB file.
    out.append("Ks 0 0 0\nd 1\nillum 1\n");
    return out;
}

}  // namespace tavimor
