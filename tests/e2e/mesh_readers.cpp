#include "mesh_readers.h"

#include <cstring>
#include <sstream>

namespace tavimor::e2e {

std::uint32_t u32At(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

GlbChunks chunksOf(const std::string& glb) {
    const std::uint32_t jsonLength = u32At(glb, 12);
    const std::uint32_t binaryLength = u32At(glb, 20 + jsonLength);
    return {glb.substr(20, jsonLength), glb.substr(28 + jsonLength, binaryLength)};
}

PlyMesh readPly(const std::string& ply) {
    PlyMesh mesh;
    const std::size_t end = ply.find("end_header\n") + 11;
    std::istringstream head(ply.substr(0, end));
    std::size_t vertices = 0, faces = 0, stride = 0, xAt = 0, nxAt = 0;
    bool normals = false;
    bool inVertex = false;
    for (std::string line; std::getline(head, line);) {
        std::istringstream words(line);
        std::string a, b, c;
        words >> a >> b >> c;
        if (a == "element") {
            inVertex = b == "vertex";
            (inVertex ? vertices : faces) = std::stoul(c);
        } else if (a == "property" && inVertex) {
            if (c == "x") xAt = stride;
            if (c == "nx") {
                nxAt = stride;
                normals = true;
            }
            stride += b == "float" ? 4 : 1;
        }
    }
    for (std::size_t v = 0; v < vertices; ++v) {
        std::array<float, 3> p{};
        std::memcpy(p.data(), ply.data() + end + v * stride + xAt, 12);
        mesh.positions.push_back(p);
        if (normals) {
            std::memcpy(p.data(), ply.data() + end + v * stride + nxAt, 12);
            mesh.normals.push_back(p);
        }
    }
    for (std::size_t f = 0, at = end + vertices * stride; f < faces; ++f, at += 13) {
        mesh.faces.push_back({u32At(ply, at + 1), u32At(ply, at + 5), u32At(ply, at + 9)});
    }
    return mesh;
}

std::map<std::string, std::vector<std::array<double, 3>>> objectsOf(const std::string& obj) {
    std::map<std::string, std::vector<std::array<double, 3>>> objects;
    std::istringstream in(obj);
    std::string current;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "o") words >> current;
        if (kind == "v") {
            std::array<double, 3> p{};
            words >> p[0] >> p[1] >> p[2];
            objects[current].push_back(p);
        }
    }
    return objects;
}

std::vector<std::string> objectNamesOf(const std::string& obj) {
    std::vector<std::string> names;
    std::istringstream in(obj);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("o ")) names.push_back(line.substr(2));
    }
    return names;
}

std::vector<std::array<float, 3>> stlCorners(const std::string& stl) {
    std::vector<std::array<float, 3>> corners;
    const std::uint32_t facets = u32At(stl, 80);
    for (std::uint32_t f = 0; f < facets; ++f) {
        for (std::size_t k = 1; k <= 3; ++k) {
            std::array<float, 3> p{};
            std::memcpy(p.data(), stl.data() + 84 + 50 * f + 12 * k, 12);
            corners.push_back(p);
        }
    }
    return corners;
}

std::vector<std::array<double, 3>> cobVertices(const std::string& cob) {
    std::vector<std::array<double, 3>> vertices;
    std::istringstream in(cob);
    std::string line;
    while (std::getline(in, line) && !line.starts_with("World Vertices")) {
    }
    const int count = std::stoi(line.substr(15));
    for (int i = 0; i < count && std::getline(in, line); ++i) {
        std::array<double, 3> p{};
        std::istringstream(line) >> p[0] >> p[1] >> p[2];
        vertices.push_back(p);
    }
    return vertices;
}

}  // namespace tavimor::e2e
