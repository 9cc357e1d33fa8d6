#include "formats/obj_file.h"

#include <charconv>
#include <initializer_list>

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

// Shortest text that reads back as the same number.
template <typename Number>
void appendNumber(std::string& out, Number v) {
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// "key a b ...", each number in its shortest exact form, and the line end.
template <typename Number>
void appendLine(std::string& out, std::string_view key, std::initializer_list<Number> numbers) {
    out.append(key);
    for (const Number v : numbers) {
        out.push_back(' ');
        appendNumber(out, v);
    }
    out.push_back('\n');
}

// Where an object's positions, texture vertices and normals start in the
// file's own numbering (OBJ counts from 1 across the whole file).
struct ObjStart {
    long long position = 1;
    long long texture = 1;
    long long normal = 1;
};

// The lines before the first object: what made the file, and its material
// library.
std::string objHead(std::string_view materialFile) {
    std::string out = "# rock made by tavimor, Y up\nmtllib ";
    out.append(materialFile);
    out.push_back('\n');
    return out;
}

void appendObject(std::string& out, const LevelMesh& level, const RockMesh& rock, const ObjStart& start) {
    const bool smooth = !rock.normals.empty();
    out.append("o ");
    out.append(rock.name);
    out.push_back('\n');
    for (const Position& position : rock.positions.first(static_cast<std::size_t>(level.positionCount))) {
        const Position p = yUp(offsetBy(position, rock.offset));
        appendLine(out, "v", {p.x, p.y, p.z});
    }
    for (const TextureVertex& t : level.textureVertices) appendLine(out, "vt", {t.u, t.v});
    // Normals are unit vectors: single precision holds them to the last
    // visible bit, in half the text.
    for (const Position& normal : rock.normals) {
        const Position n = yUp(normal);
        appendLine(out, "vn", {static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z)});
    }
    // Blender's importer shades a face smooth only inside a smoothing group.
    out.append(smooth ? "usemtl rock\ns 1\n" : "usemtl rock\n");
    for (std::size_t f = 0; f < level.faces.size(); ++f) {
        const auto corners = outwardCorners(level.faces[f]);
        const auto textures = outwardCorners(level.faceTextures[f]);
        out.push_back('f');
        for (std::size_t k = 0; k < 3; ++k) {
            out.push_back(' ');
            appendNumber(out, start.position + corners[k]);
            out.push_back('/');
            appendNumber(out, start.texture + textures[k]);
            if (smooth) {
                out.push_back('/');
                appendNumber(out, start.normal + corners[k]);
            }
        }
        out.push_back('\n');
    }
}

}  // namespace

std::string objFile(const LevelMesh& level, const RockMesh& rock, std::string_view materialFile) {
    std::string out = objHead(materialFile);
    // Room for the lines as long as they get, so that a finely detailed
    // rock's text is never copied to grow.
    out.reserve(out.size() + static_cast<std::size_t>(level.positionCount) * 72 +
                level.textureVertices.size() * 48 + rock.normals.size() * 48 + level.faces.size() * 64);
    appendObject(out, level, rock, ObjStart{});
    return out;
}

std::string mtlFile() {
    std::string out = "# material made by tavimor\nnewmtl rock\nKa 0 0 0\n";
    appendLine(out, "Kd", {kRockColour.red, kRockColour.green, kRockColour.blue});
    // Matte, opaque, lit by diffuse light only, as in the COB file.
    out.append("Ks 0 0 0\nd 1\nillum 1\n");
    return out;
}

namespace {

class ObjWriter final : public LevelWriter {
public:
    explicit ObjWriter(const LevelMesh& level) : level_(level) {}

    std::optional<std::vector<FormatFile>> rockFiles(const RockMesh& rock, std::string_view base) const override {
        return std::vector<FormatFile>{{".obj", objFile(level_, rock, std::string(base) + ".mtl")}, {".mtl", mtlFile()}};
    }
    bool writePackHead(const PackContents& pack, const ByteSink& put) const override {
        put(objHead(pack.base + ".mtl"));
        return true;
    }
    void appendPackPiece(std::string& out, int, const RockMesh& rock, std::uint64_t index) const override {
        const auto i = static_cast<long long>(index);
        const auto positions = static_cast<long long>(level_.positionCount);
        const auto textures = static_cast<long long>(level_.textureVertices.size());
        appendObject(out, level_, rock, ObjStart{1 + i * positions, 1 + i * textures, 1 + i * positions});
    }
    std::vector<FormatFile> packCompanions(std::string_view) const override { return {{".mtl", mtlFile()}}; }

private:
    const LevelMesh& level_;
};

class ObjFormat final : public Format {
public:
    std::string_view name() const override { return "obj"; }
    std::string_view extension() const override { return ".obj"; }
    std::vector<std::string_view> companionSuffixes() const override { return {".mtl"}; }
    std::unique_ptr<LevelWriter> writerFor(const LevelMesh& level, const WriterSettings&) const override {
        return std::make_unique<ObjWriter>(level);
    }
};

}  // namespace

const Format& objFormat() {
    static const ObjFormat format;
    return format;
}

}  // namespace tavimor
