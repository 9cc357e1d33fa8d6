#include "formats/stl_file.h"

#include <cmath>

#include "formats/mesh_export.h"

namespace tavimor {

std::string stlHead(std::string_view title, std::uint32_t facets) {
    // An 80-byte header that must not start with "solid": readers take such
    // a file for the text form of STL.
    std::string out(title.substr(0, 80));
    out.resize(80, ' ');
    ByteWriter(out, 4).u32(facets);
    return out;
}

void appendStlFacets(std::string& out, const RockMesh& rock) {
    const auto& faces = rock.level->mesh->faces;
    ByteWriter put(out, faces.size() * 50);
    for (const auto& face : faces) {
        const auto corners = outwardCorners(face);
        const Position a = offsetBy(rock.positions[static_cast<std::size_t>(corners[0])], rock.offset);
        const Position b = offsetBy(rock.positions[static_cast<std::size_t>(corners[1])], rock.offset);
        const Position c = offsetBy(rock.positions[static_cast<std::size_t>(corners[2])], rock.offset);
        const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
        const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
        double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (length > 0) {
            nx /= length;
            ny /= length;
            nz /= length;
        }
        for (const double v : {nx, ny, nz}) put.f32(v);
        for (const Position* p : {&a, &b, &c}) {
            put.f32(p->x);
            put.f32(p->y);
            put.f32(p->z);
        }
        put.u16(0);  // attribute byte count
    }
}

std::string stlFile(const RockMesh& rock, int rockNumber) {
    std::string out = stlHead("binary STL made by tavimor: Rock" + std::to_string(rockNumber),
                              static_cast<std::uint32_t>(rock.level->mesh->faces.size()));
    appendStlFacets(out, rock);
    return out;
}

}  // namespace tavimor
