// Auto shading read back from the files: smooth, except where two faces
// meet at more than 30 degrees, and the same normals at every corner in
// every format.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json_reader.h"

#include "e2e_support.h"
#include "mesh_readers.h"

namespace tavimor::e2e {
namespace {

using Vector = std::array<float, 3>;

// Every corner of every face, in the files' order: its position and
// normal, Z-up.
struct Corners {
    std::vector<Vector> positions, normals;
};

// Y-up (glb, obj) turned back to Z-up: (x, y, z) was stored as (x, z, -y).
Vector zUp(const Vector& v) { return {v[0], -v[2] + 0.0f, v[1]}; }

Corners plyCorners(const PlyMesh& mesh) {
    Corners c;
    for (const auto& face : mesh.faces) {
        for (const std::uint32_t v : face) {
            c.positions.push_back(mesh.positions[v]);
            c.normals.push_back(mesh.normals[v]);
        }
    }
    return c;
}

Corners glbCorners(const std::string& file) {
    const GlbChunks chunks = chunksOf(file);
    const test::Json json = test::Json::parse(chunks.json);
    const auto& primitive = json["meshes"][0]["primitives"][0];
    const auto at = [&](int accessor) {
        const auto& a = json["accessors"][accessor];
        return chunks.binary.data() + static_cast<std::size_t>(json["bufferViews"][a["bufferView"].index()].value("byteOffset", 0));
    };
    const char* positions = at(primitive["attributes"]["POSITION"].index());
    const char* normals = at(primitive["attributes"]["NORMAL"].index());
    const int indices = primitive["indices"].index();
    const bool shortIndices = json["accessors"][indices]["componentType"].integer() == 5123;
    const auto count = json["accessors"][indices]["count"].index();
    Corners c;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t index = 0;
        std::memcpy(&index, at(indices) + i * (shortIndices ? 2 : 4), shortIndices ? 2 : 4);
        Vector p, n;
        std::memcpy(p.data(), positions + 12 * index, 12);
        std::memcpy(n.data(), normals + 12 * index, 12);
        c.positions.push_back(zUp(p));
        c.normals.push_back(zUp(n));
    }
    return c;
}

Corners objCorners(const std::string& file) {
    std::vector<Vector> v, vn;
    Corners c;
    std::istringstream in(file);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        Vector value{};
        if (kind == "v" || kind == "vn") {
            words >> value[0] >> value[1] >> value[2];
            (kind == "v" ? v : vn).push_back(zUp(value));
        } else if (kind == "f") {
            for (std::string corner; words >> corner;) {
                const std::size_t position = std::stoul(corner) - 1;
                const std::size_t normal = std::stoul(corner.substr(corner.rfind('/') + 1)) - 1;
                c.positions.push_back(v.at(position));
                c.normals.push_back(vn.at(normal));
            }
        }
    }
    return c;
}

double angleBetween(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    const double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    const double lengths = std::sqrt((a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) * (b[0] * b[0] + b[1] * b[1] + b[2] * b[2]));
    return std::acos(std::clamp(d / lengths, -1.0, 1.0)) * 180 / 3.141592653589793;
}

std::array<double, 3> faceNormal(const Corners& c, std::size_t f) {
    const auto& a = c.positions[3 * f];
    const auto& b = c.positions[3 * f + 1];
    const auto& d = c.positions[3 * f + 2];
    const std::array<double, 3> u = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const std::array<double, 3> v = {double(d[0]) - a[0], double(d[1]) - a[1], double(d[2]) - a[2]};
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

TEST(AutoShading, SplitsNormalsWhereFacesMeetSharplyAndOnlyThere) {
    TempDir dir;
    for (const char* style : {"shard", "boulder", "classic"}) {
        SCOPED_TRACE(style);
        const std::string stem = std::string(style) + "_";
        ASSERT_EQ(runTavimor({"--style", style, "--seed", "5", "--spike", "9", "--detail", "2", "--shading", "auto",
                              "--format", "obj,glb,ply", "--name", stem, "--quiet"},
                             dir.path())
                      .status,
                  0);
        ASSERT_EQ(runTavimor({"--style", style, "--seed", "5", "--spike", "9", "--detail", "2", "--shading", "smooth",
                              "--format", "ply", "--name", stem + "smooth", "--quiet"},
                             dir.path())
                      .status,
                  0);
        const PlyMesh ply = readPly(readFile(dir.file(stem + "0.ply")));
        const Corners corners = plyCorners(ply);

        // PLY repeats a position only for another normal, and the positions
        // are the smooth rock's.
        const std::set<std::pair<Vector, Vector>> vertices = [&] {
            std::set<std::pair<Vector, Vector>> all;
            for (std::size_t v = 0; v < ply.positions.size(); ++v) all.insert({ply.positions[v], ply.normals[v]});
            return all;
        }();
        EXPECT_EQ(vertices.size(), ply.positions.size());
        const std::vector<std::array<float, 3>> smooth = readPly(readFile(dir.file(stem + "smooth0.ply"))).positions;
        EXPECT_EQ(std::set<Vector>(ply.positions.begin(), ply.positions.end()), std::set<Vector>(smooth.begin(), smooth.end()));

        // Each edge by its ends' positions: the faces on either side and
        // the angle between them.
        const std::size_t faces = corners.positions.size() / 3;
        std::map<std::pair<Vector, Vector>, std::size_t> faceOf;
        for (std::size_t f = 0; f < faces; ++f) {
            for (std::size_t k = 0; k < 3; ++k) faceOf[{corners.positions[3 * f + k], corners.positions[3 * f + (k + 1) % 3]}] = f;
        }
        const auto cornerAt = [&](std::size_t f, const Vector& p) {
            for (std::size_t k = 0; k < 3; ++k) {
                if (corners.positions[3 * f + k] == p) return 3 * f + k;
            }
            return std::size_t{0};
        };
        std::map<Vector, int> sharpAt;
        for (const auto& [edge, f] : faceOf) {
            const std::size_t g = faceOf.at({edge.second, edge.first});
            if (angleBetween(faceNormal(corners, f), faceNormal(corners, g)) > 31) ++sharpAt[edge.first];
        }
        int split = 0, kept = 0;
        for (const auto& [edge, f] : faceOf) {
            const std::size_t g = faceOf.at({edge.second, edge.first});
            const double angle = angleBetween(faceNormal(corners, f), faceNormal(corners, g));
            for (const Vector& end : {edge.first, edge.second}) {
                const bool same = corners.normals[cornerAt(f, end)] == corners.normals[cornerAt(g, end)];
                if (angle < 29) {
                    EXPECT_TRUE(same) << "smooth across an edge of " << angle << " degrees";
                    kept += 1;
                } else if (angle > 31 && sharpAt[end] >= 2) {
                    EXPECT_FALSE(same) << "one normal across an edge of " << angle << " degrees";
                    split += 1;
                }
            }
        }
        EXPECT_GT(kept, 0);
        if (std::string(style) != "classic") {
            EXPECT_GT(split, 0);
        }

        // glb and obj give every corner the normal PLY gives it.
        for (const Corners& other : {glbCorners(readFile(dir.file(stem + "0.glb"))), objCorners(readFile(dir.file(stem + "0.obj")))}) {
            EXPECT_EQ(other.positions, corners.positions);
            EXPECT_EQ(other.normals, corners.normals);
        }
    }
}

}  // namespace
}  // namespace tavimor::e2e
