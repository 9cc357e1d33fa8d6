#include "formats/ply_file.h"

#include "formats/mesh_export.h"
#include "geometry/style.h"

namespace tavimor {
namespace {

// A colour in bytes: the channels are whole 255ths.
struct ColourBytes {
    std::uint8_t red, green, blue;
};
constexpr std::uint8_t colourByte(double channel) { return static_cast<std::uint8_t>(channel * 255 + 0.5); }
constexpr ColourBytes bytesOf(const Colour& colour) {
    return {colourByte(colour.red), colourByte(colour.green), colourByte(colour.blue)};
}
static_assert(bytesOf(kRockColour).red == 210 && bytesOf(kRockColour).green == 164 && bytesOf(kRockColour).blue == 133);
// The byte the data begins with is a vertex's red: never a line feed or a
// carriage return, which a reader that trims the header's last line would
// take as part of it.
constexpr bool startsSafely(const ColourBytes& colour) { return colour.red != '\n' && colour.red != '\r'; }
constexpr bool everyStyleStartsSafely() {
    for (const StyleKind& style : kStyles) {
        if (!startsSafely(bytesOf(style.material.baseColour))) return false;
    }
    return true;
}
static_assert(everyStyleStartsSafely());

// The colour of a rock's vertices: its material's.
ColourBytes colourOf(const RockMesh& rock) { return bytesOf(rock.material->baseColour); }

// A rock's vertices and faces in its own file, its hull's in one beside
// it; packed, the same two for all of them.
constexpr FileKind kPlyFiles[] = {{".ply", FileRole::Mesh}, {"_hull.ply", FileRole::Hull, FileNeed::Hulls}};

// Corners are stored as signed 32-bit numbers.
constexpr std::uint64_t kMostVertices = 2147483647u;

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
// numbered from firstVertex: the positions', or, with split normals, the
// vertices of their corners' normals.
void appendFaces(std::string& out, const LevelMesh& level, const SplitNormals* split, std::uint32_t firstVertex) {
    ByteWriter put(out, level.faces.size() * 13);
    for (std::size_t f = 0; f < level.faces.size(); ++f) {
        put.u8(3);
        for (const int corner : outwardCorners(split != nullptr ? split->corners[f] : level.faces[f])) {
            put.u32(firstVertex + static_cast<std::uint32_t>(corner));
        }
    }
}

// How many vertices a rock has: one per position, and with split normals
// one more for each further normal (its position repeated).
std::uint64_t vertexCount(const LevelMesh& level, const RockMesh& rock) {
    return static_cast<std::uint64_t>(level.positionCount) + (rock.split != nullptr ? rock.split->owners.size() : 0);
}

// The rock's vertices: colour, position moved by its offset, and the
// normal where shading is smooth; with split normals, a vertex for each.
void appendVertices(std::string& out, const LevelMesh& level, const RockMesh& rock, const ColourBytes& colour) {
    const auto count = static_cast<std::size_t>(vertexCount(level, rock));
    const auto positions = static_cast<std::size_t>(level.positionCount);
    const bool smooth = !rock.normals.empty();
    ByteWriter put(out, count * (smooth ? 27 : 15));
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = i < positions ? i : static_cast<std::size_t>(rock.split->owners[i - positions]);
        if (rock.looks.empty()) {
            put.u8(colour.red);
            put.u8(colour.green);
            put.u8(colour.blue);
        } else {
            // The colour of the maps at the vertex. The data must not begin
            // with a line break, which readers take for the head's: a first
            // red of 10 or 13 is written one higher.
            const PointLook& look = rock.looks[at];
            std::uint8_t red = srgbByte(look.red);
            if (i == 0 && (red == '\n' || red == '\r')) ++red;
            put.u8(red);
            put.u8(srgbByte(look.green));
            put.u8(srgbByte(look.blue));
        }
        const Position p = offsetBy(rock.positions[at], rock.offset);
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

void appendFile(std::string& out, const LevelMesh& level, const RockMesh& rock, const ColourBytes& colour) {
    out.append(plyHead(rock.name, vertexCount(level, rock), level.faces.size(), !rock.normals.empty()));
    appendVertices(out, level, rock, colour);
    appendFaces(out, level, rock.split, 0);
}

// A hull's vertices (colour and position, moved by offset) and its faces,
// their corners numbered from firstVertex.
void appendHullVertices(std::string& out, const CollisionHull& hull, const Position& offset,
                        const ColourBytes& colour) {
    ByteWriter put(out, hull.vertices.size() * 15);
    for (const Position& vertex : hull.vertices) {
        put.u8(colour.red);
        put.u8(colour.green);
        put.u8(colour.blue);
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

// What a PLY writer of a run knows: its level and shading.
struct PlyLevel {
    const LevelMesh& level;
    Shading shading;
};

// A packed file: every vertex before any face, so two passes over the
// rocks; of the rocks, or of their hulls.
class PlyPack final : public PackWriter {
public:
    PlyPack(const PlyLevel& level, const PackContents& pack, bool hulls) : level_(level), pack_(pack), hulls_(hulls) {}

    int passes() const override { return 2; }
    // A rock's faces are the level's, unless its normals are split; a
    // hull's are its own.
    bool passUsesRocks(int pass) const override { return pass == 0 || hulls_ || level_.shading == Shading::Auto; }
    bool writeHead(const ByteSink& put) override {
        const std::string title = pack_.base + (hulls_ ? std::string(kHullName) : "") + ", " +
                                  std::to_string(pack_.rocks) + " rocks";
        const LevelMesh& level = level_.level;
        if (!hulls_) {
            std::uint64_t vertices = pack_.rocks * static_cast<std::uint64_t>(level.positionCount);
            for (std::uint64_t i = 0; level_.shading == Shading::Auto && i < pack_.rocks; ++i) {
                vertices += pack_.rock(i).splitNormals;
            }
            if (vertices > kMostVertices) return false;
            put(plyHead(title, vertices, pack_.rocks * level.faces.size(), level_.shading != Shading::Flat));
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
                appendHullVertices(out, *rock.hull, rock.offset, colourOf(rock));
            } else {
                appendHullFaces(out, *rock.hull, firstVertex_);
            }
            firstVertex_ += static_cast<std::uint32_t>(rock.hull->vertices.size());
            return;
        }
        if (pass == 0) {
            appendVertices(out, level_.level, rock, colourOf(rock));
        } else {
            appendFaces(out, level_.level, rock.split, firstVertex_);
        }
        firstVertex_ += static_cast<std::uint32_t>(vertexCount(level_.level, rock));
    }

private:
    const PlyLevel& level_;
    PackContents pack_;
    bool hulls_;
    int pass_ = 0;
    std::uint32_t firstVertex_ = 0;
};

class PlyWriter final : public LevelWriter {
public:
    PlyWriter(const LevelMesh& level, const WriterSettings& settings) : level_{level, settings.shading} {}

    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        prepareRockFiles(files, kPlyFiles, rock);
        appendFile(fileWith(files, FileRole::Mesh)->bytes, level_.level, rock, colourOf(rock));
        if (FormatFile* hull = fileWith(files, FileRole::Hull)) {
            hull->bytes.append(plyHead(rock.name + std::string(kHullName), rock.hull->vertices.size(),
                                       rock.hull->triangles.size(), false));
            appendHullVertices(hull->bytes, *rock.hull, rock.offset, colourOf(rock));
            appendHullFaces(hull->bytes, *rock.hull, 0);
        }
        return true;
    }
    bool headListsRocks(bool hulls) const override { return hulls || level_.shading == Shading::Auto; }
    std::unique_ptr<PackWriter> packWriter(const PackContents& pack, const FileKind& file) const override {
        return std::make_unique<PlyPack>(level_, pack, file.role == FileRole::Hull);
    }

private:
    PlyLevel level_;
};

class PlyFormat final : public Format {
public:
    std::string_view name() const override { return "ply"; }
    FormatFiles files() const override { return {kPlyFiles, kPlyFiles}; }
    PackLimit packLimit(const LevelCounts& counts, Shading, bool) const override {
        // A hull has fewer vertices than any rock: the rocks' file is the
        // one whose corners can pass the limit. Split normals add vertices
        // as they come; the head counts them, and refuses a file past it.
        return {kMostVertices / counts.positions, tooLarge()};
    }
    std::string_view tooLarge() const override { return "a PLY file's corners reach at most vertex 2147483647"; }
    std::unique_ptr<LevelWriter> writerFor(const LevelMesh& level, const WriterSettings& settings) const override {
        return std::make_unique<PlyWriter>(level, settings);
    }
};

}  // namespace

const Format& plyFormat() {
    static const PlyFormat format;
    return format;
}

}  // namespace tavimor
