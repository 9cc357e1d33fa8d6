#include "formats/stl_file.h"

#include <cmath>

#include "formats/mesh_export.h"

namespace tavimor {

std::string stlFile(const Rock& rock, int rockNumber) {
    // An 80-byte header that must not start with "solid": readers take such
    // a file for the text form of STL.
    std::string out = "binary STL made by tavimor: Rock" + std::to_string(rockNumber);
    out.resize(80, ' ');
    appendU32(out, static_cast<std::uint32_t>(kFaces.size()));
    for (const Face& face : kFaces) {
        const auto corners = outwardCorners(face);
        const Position& a = rock.positions[static_cast<std::size_t>(corners[0].vertex)];
        const Position& b = rock.positions[static_cast<std::size_t>(corners[1].vertex)];
        const Position& c = rock.positions[static_cast<std::size_t>(corners[2].vertex)];
        const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
        const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
        double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (length > 0) {
            nx /= length;
            ny /= length;
            nz /= length;
        }
        for (const double v : {nx, ny, nz}) appendFloat(out, v);
        for (const Position* p : {&a, &b, &c}) {
            appendFloat(out, p->x);
            appendFloat(out, p->y);
            appendFloat(out, p->z);
        }
        appendU16(out, 0);  // attribute byte count
    }
    return out;
}

}  // namespace tavimor
