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

// A hull's vertices (colour and position, moved by offset) and its faces,
// their corners numbered from firstVertex.
void appendHullVertices(std::string& out, const CollisionHull& hull, const Position& offset) {
    ByteWriter put(out, hull.vertices.size() * 15);
    for (const Position& vertex : hull.vertices) {
        put.u8(kRed);
        put.u8(kGreen);
        put.u8(kBlue);
        const Position p = offsetBy(vertex, offset);
        put.f32(p.x);
        put.f32(p.y);
        put.f32(p.z);
    }
}

void appendHullFaces(std::string& out, const CollisionHull& hull, std::uint32_t firstVertex) {
    ByteWriter put(out, hull.triangles.size() * 13);
    for (const auto& triangle : hull.triangles) {
        put.u8(3);
        for (const int corner : triangle) put.u32(firstVertex + static_cast<std::uint32_t>(corner));
    }
}

// A packed file: every vertex before any face, so two passes over the
// rocks; of the rocks, or of their hulls.
class PlyPack final : public PackWriter {
public:
    PlyPack(const LevelMesh& level, const PackContents& pack, bool normals, bool hulls)
        : level_(level), pack_(pack), normals_(normals), hulls_(hulls) {}

    int passes() const override { return 2; }
    // A rock's faces are the level's; a hull's are its own.
    bool passUsesRocks(int pass) const override { return pass == 0 || hulls_; }
    bool writeHead(const ByteSink& put) override {
        const std::string title = pack_.base + (hulls_ ? std::string(kHullFileSuffix) : "") + ", " +
                                  std::to_string(pack_.rocks) + " rocks";
        if (!hulls_) {
            put(plyHead(title, pack_.rocks * static_cast<std::uint64_t>(level_.positionCount),
                        pack_.rocks * level_.faces.size(), normals_));
            return true;
        }
        std::uint64_t vertices = 0, faces = 0;
        for (std::uint64_t i = 0; i < pack_.rocks; ++i) {
            const PackedRock rock = pack_.rock(i);
            vertices += static_cast<std::uint64_t>(rock.hullVertices);
            faces += static_cast<std::uint64_t>(rock.hullTriangles);
        }
        put(plyHead(title, vertices, faces, false));
        return true;
    }
    void appendPiece(std::string& out, int pass, const RockMesh& rock) override {
        if (pass != pass_) {
            pass_ = pass;
            firstVertex_ = 0;
        }
        if (hulls_) {
            if (pass == 0) {
                appendHullVertices(out, *rock.hull, rock.offset);
            } else {
                appendHullFaces(out, *rock.hull, firstVertex_);
            }
            firstVertex_ += static_cast<std::uint32_t>(rock.hull->vertices.size());
            return;
        }
        if (pass == 0) {
            appendVertices(out, level_, rock);
        } else {
            appendFaces(out, level_, firstVertex_);
        }
        firstVertex_ += static_cast<std::uint32_t>(level_.positionCount);
    }

private:
    const LevelMesh& level_;
    PackContents pack_;
    bool normals_;
    bool hulls_;
    int pass_ = 0;
    std::uint32_t firstVertex_ = 0;
};

class PlyWriter final : public LevelWriter {
public:
    PlyWriter(const LevelMesh& level, bool normals) : level_(level), normals_(normals) {}

    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        if (rock.hull == nullptr) {
            prepareFiles(files, {".ply"});
        } else {
            // The hull in a file of its own beside the rock's.
            prepareFiles(files, {".ply", "_hull.ply"});
            files[1].bytes.append(plyHead(rock.name + std::string(kHullFileSuffix), rock.hull->vertices.size(),
                                          rock.hull->triangles.size(), false));
            appendHullVertices(files[1].bytes, *rock.hull, rock.offset);
            appendHullFaces(files[1].bytes, *rock.hull, 0);
        }
        appendFile(files[0].bytes, level_, rock);
        return true;
    }
    std::vector<std::string_view> packSuffixes(bool hulls) const override {
        if (hulls) return {".ply", "_hull.ply"};
        return {".ply"};
    }
    bool headListsRocks(bool hulls) const override { return hulls; }
    std::unique_ptr<PackWriter> packWriter(const PackContents& pack, std::size_t file) const override {
        return std::make_unique<PlyPack>(level_, pack, normals_, file == 1);
    }

private:
    const LevelMesh& level_;
    bool normals_;
};

class PlyFormat final : public Format {
public:
    std::string_view name() const override { return "ply"; }
    std::string_view extension() const override { return ".ply"; }
    std::vector<std::string_view> companionSuffixes(bool hulls) const override {
        if (hulls) return {"_hull.ply"};
        return {};
    }
    PackLimit packLimit(const LevelCounts& counts, bool, bool) const override {
        // A hull has fewer vertices than any rock: the rocks' file is the
        // one whose corners can pass the limit.
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
