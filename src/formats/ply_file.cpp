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

}  // namespace

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

void appendPlyFaces(std::string& out, const LevelMesh& level, std::uint32_t firstVertex) {
    ByteWriter put(out, level.faces.size() * 13);
    for (const auto& face : level.faces) {
        put.u8(3);
        for (const int corner : outwardCorners(face)) put.u32(firstVertex + static_cast<std::uint32_t>(corner));
    }
}

void appendPlyVertices(std::string& out, const RockMesh& rock) {
    const auto count = static_cast<std::size_t>(rock.level->mesh->positionCount);
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

std::string plyFile(const RockMesh& rock, int rockNumber) {
    const LevelMesh& level = *rock.level->mesh;
    std::string out = plyHead("Rock" + std::to_string(rockNumber), static_cast<std::uint64_t>(level.positionCount),
                              level.faces.size(), !rock.normals.empty());
    appendPlyVertices(out, rock);
    appendPlyFaces(out, level, 0);
    return out;
}

}  // namespace tavimor
