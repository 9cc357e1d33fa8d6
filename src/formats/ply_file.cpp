#include "formats/ply_file.h"

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

// The rock's colour in bytes: the channels are whole 255ths.
constexpr std::uint8_t colourByte(double channel) { return static_cast<std::uint8_t>(channel * 255 + 0.5); }
constexpr std::uint8_t kRed = colourByte(kRockColour.red);
constexpr std::uint8_t kGreen = colourByte(kRockColour.green);
constexpr std::uint8_t kBlue = colourByte(kRockColour.blue);
static_assert(kRed == 210 && kGreen == 164 && kBlue == 133);
// The byte the data begins with is neither a line feed nor a carriage return.
static_assert(kRed != '\n' && kRed != '\r');

std::string plyHead(std::string_view objectInfo, std::uint64_t vertices, std::uint64_t faces, bool normals) {
    std::string out = "ply\nformat binary_little_endian 1.0\ncomment made by tavimor\nobj_info ";
    out.append(objectInfo);
    out.append("\nelement vertex " + std::to_string(vertices) +
               "\nproperty uchar red\nproperty uchar green\nproperty uchar blue"
               "\nproperty float x\nproperty float y\nproperty float z\n");
    if (normals) out.append("property float nx\nproperty float ny\nproperty float nz\n");
    out.append("element face " + std::to_string(faces) + "\nproperty list uchar int vertex_indices\nend_header\n");
    return out;
}

// The level's faces, counter-clockwise seen from outside, their corners
// numbered from firstVertex.
void appendFaces(std::string& out, const LevelMesh& level, std::uint32_t firstVertex) {
    ByteWriter put(out, level.faces.size() * 13);
    for (const auto& face : level.faces) {
        put.u8(3);
        for (const int corner : outwardCorners(face)) put.u32(firstVertex + static_cast<std::uint32_t>(corner));
    }
}

// The rock's vertices: colour, position moved by its offset, and the
// normal where shading is smooth.
void appendVertices(std::string& out, const LevelMesh& level, const RockMesh& rock) {
    const auto count = static_cast<std::size_t>(level.positionCount);
    const bool smooth = !rock.normals.empty();
    ByteWriter put(out, count * (smooth ? 27 : 15));
    for (std::size_t i = 0; i < count; ++i) {
        put.u8(kRed);
        put.u8(kGreen);
        put.u8(kBlue);
        const Position p = offsetBy(rock.positions[i], rock.offset);
        put.f32(p.x);
        put.f32(p.y);
        put.f32(p.z);
        if (smooth) {
            put.f32(rock.normals[i].x);
            put.f32(rock.normals[i].y);
            put.f32(rock.normals[i].z);
        }
    }
}

void appendFile(std::string& out, const LevelMesh& level, const RockMesh& rock) {
    out.append(plyHead(rock.name, static_cast<std::uint64_t>(level.positionCount), level.faces.size(),
                       !rock.normals.empty()));
    appendVertices(out, level, rock);
    appendFaces(out, level, 0);
}

class PlyWriter final : public LevelWriter {
public:
    PlyWriter(const LevelMesh& level, bool normals) : level_(level), normals_(normals) {}

    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        prepareFiles(files, {".ply"});
        appendFile(files[0].bytes, level_, rock);
        return true;
    }
    // Every vertex comes before any face: one pass for each.
    int packPasses() const override { return 2; }
    bool passUsesRocks(int pass) const override { return pass == 0; }
    bool writePackHead(const PackContents& pack, const ByteSink& put) const override {
        put(plyHead(pack.base + ", " + std::to_string(pack.rocks) + " rocks",
                    pack.rocks * static_cast<std::uint64_t>(level_.positionCount), pack.rocks * level_.faces.size(),
                    normals_));
        return true;
    }
    void appendPackPiece(std::string& out, int pass, const RockMesh& rock, std::uint64_t index) const override {
        if (pass == 0) {
            appendVertices(out, level_, rock);
        } else {
            appendFaces(out, level_, static_cast<std::uint32_t>(index * static_cast<std::uint64_t>(level_.positionCount)));
        }
    }

private:
    const LevelMesh& level_;
    bool normals_;
};

class PlyFormat final : public Format {
public:
    std::string_view name() const override { return "ply"; }
    std::string_view extension() const override { return ".ply"; }
    PackLimit packLimit(const LevelCounts& counts, bool) const override {
        return {2147483647u / counts.positions, "a PLY file's corners reach at most vertex 2147483647"};
    }
    std::unique_ptr<LevelWriter> writerFor(const LevelMesh& level, const WriterSettings& settings) const override {
        return std::make_unique<PlyWriter>(level, settings.normals);
    }
};

}  // namespace

const Format& plyFormat() {
    static const PlyFormat format;
    return format;
}

std::string plyFile(const LevelMesh& level, const RockMesh& rock) {
    std::string out;
    appendFile(out, level, rock);
    return out;
}

}  // namespace tavimor
