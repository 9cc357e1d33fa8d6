#include "formats/ply_file.h"

#include "formats/mesh_export.h"

namespace tavimor {

std::string plyFile(const Rock& rock, int rockNumber) {
    std::string out =
        "ply\n"
        "format binary_little_endian 1.0\n"
        "comment made by tavimor\n"
        "obj_info Rock" +
        std::to_string(rockNumber) +
        "\n"
        "element vertex " +
        std::to_string(rock.positions.size()) +
        "\n"
        "property float x\n"
        "property float y\n"
        "property float z\n"
        "element face " +
        std::to_string(kFaces.size()) +
        "\n"
        "property list uchar int vertex_indices\n"
        "end_header\n";
    for (const Position& p : rock.positions) {
        appendFloat(out, p.x);
        appendFloat(out, p.y);
        appendFloat(out, p.z);
    }
    for (const Face& face : kFaces) {
        out.push_back(3);
        for (const Corner& c : outwardCorners(face)) appendU32(out, static_cast<std::uint32_t>(c.vertex));
    }
    return out;
}

}  // namespace tavimor
