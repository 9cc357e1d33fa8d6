// Rocks for a game engine: standing on the ground, and with collision hulls
// named as the engines' importers expect, in every format, read back from
// the files.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json_reader.h"

#include "e2e_support.h"
#include "mesh_readers.h"

namespace tavimor::e2e {
namespace {

using Point = std::array<double, 3>;
using Triangle = std::array<std::size_t, 3>;

// Y-up (glb, obj) turned back to Z-up: (x, y, z) was stored as (x, z, -y).
Point zUp(const Point& p) { return {p[0], -p[2], p[1]}; }

template <typename Points>
std::vector<Point> asPoints(const Points& in, bool yUp) {
    std::vector<Point> out;
    for (const auto& p : in) {
        const Point q = {p[0], p[1], p[2]};
        out.push_back(yUp ? zUp(q) : q);
    }
    return out;
}

// A glTF file's meshes by name: their positions (local, Y-up) and
// triangles, and their nodes' translations.
struct GlbMesh {
    std::vector<Point> positions;
    std::vector<Triangle> triangles;
    Point translation{};
};

std::map<std::string, GlbMesh> glbMeshes(const std::string& file) {
    const GlbChunks chunks = chunksOf(readFile(file));
    const test::Json json = test::Json::parse(chunks.json);
    const auto bytesOf = [&](int accessor) {
        const auto& a = json["accessors"][accessor];
        const auto& view = json["bufferViews"][a["bufferView"].index()];
        return std::pair{chunks.binary.data() + static_cast<std::size_t>(view.value("byteOffset", 0)), a["count"].index()};
    };
    std::map<std::string, GlbMesh> meshes;
    for (const auto& node : json["nodes"]) {
        const auto& primitive = json["meshes"][node["mesh"].index()]["primitives"][0];
        GlbMesh mesh;
        const auto [positions, count] = bytesOf(primitive["attributes"]["POSITION"].index());
        for (std::size_t i = 0; i < count; ++i) {
            float p[3];
            std::memcpy(p, positions + 12 * i, 12);
            mesh.positions.push_back({p[0], p[1], p[2]});
        }
        const auto [indices, corners] = bytesOf(primitive["indices"].index());
        const bool wide = json["accessors"][primitive["indices"].index()]["componentType"].integer() == 5125;
        for (std::size_t i = 0; i + 2 < corners; i += 3) {
            Triangle t{};
            for (std::size_t k = 0; k < 3; ++k) {
                std::uint32_t index = 0;
                std::memcpy(&index, indices + (i + k) * (wide ? 4 : 2), wide ? 4 : 2);
                t[k] = index;
            }
            mesh.triangles.push_back(t);
        }
        if (node.contains("translation")) {
            for (std::size_t k = 0; k < 3; ++k) mesh.translation[k] = node["translation"][k].number();
        }
        meshes[node["name"].text()] = mesh;
    }
    return meshes;
}

// "" when the triangles over corners make a closed, outward, convex surface
// around every point, each within a millionth of the points' size, a
// face's plane worked out from its corners as the file holds them.
std::string hullFlaw(const std::vector<Point>& corners, const std::vector<Triangle>& triangles,
                     const std::vector<Point>& points) {
    if (corners.size() > 64 || triangles.size() > 124) return "too many corners or triangles";
    const auto sub = [](const Point& a, const Point& b) { return Point{a[0] - b[0], a[1] - b[1], a[2] - b[2]}; };
    const auto dot = [](const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    double size = 0;
    for (const Point& p : points) size = std::max({size, std::abs(p[0]), std::abs(p[1]), std::abs(p[2])});
    std::map<std::pair<std::size_t, std::size_t>, int> edges;
    for (const Triangle& t : triangles) {
        for (std::size_t k = 0; k < 3; ++k) ++edges[{t[k], t[(k + 1) % 3]}];
        const Point u = sub(corners[t[1]], corners[t[0]]), v = sub(corners[t[2]], corners[t[0]]);
        Point n = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        const double length = std::sqrt(dot(n, n));
        if (!(length > 0)) return "a triangle without area";
        n = {n[0] / length, n[1] / length, n[2] / length};
        for (const Point& c : corners) {
            if (dot(n, sub(c, corners[t[0]])) > 1e-6 * size) return "not convex, or not outward";
        }
        for (const Point& p : points) {
            if (dot(n, sub(p, corners[t[0]])) > 1e-6 * size) return "a point of the rock outside";
        }
    }
    for (const auto& [edge, count] : edges) {
        if (count != 1 || edges.count({edge.second, edge.first}) != 1) return "not closed";
    }
    return "";
}

// Corners of a triangle soup (STL) as corners and triangles, the same
// corner once.
std::pair<std::vector<Point>, std::vector<Triangle>> indexed(const std::vector<Point>& soup) {
    std::vector<Point> corners;
    std::vector<Triangle> triangles;
    for (std::size_t i = 0; i + 2 < soup.size(); i += 3) {
        Triangle t{};
        for (std::size_t k = 0; k < 3; ++k) {
            const auto found = std::find(corners.begin(), corners.end(), soup[i + k]);
            t[k] = static_cast<std::size_t>(found - corners.begin());
            if (found == corners.end()) corners.push_back(soup[i + k]);
        }
        triangles.push_back(t);
    }
    return {corners, triangles};
}

std::vector<Triangle> plyTriangles(const PlyMesh& mesh) {
    std::vector<Triangle> out;
    for (const auto& f : mesh.faces) out.push_back({f[0], f[1], f[2]});
    return out;
}

// Where the points stand: their lowest height (Z-up) and the middle of
// their box in the two ground axes, against their size.
struct Standing {
    double lowest, middleX, middleY, size;
};

Standing standingOf(const std::vector<Point>& points) {
    Point low = points[0], high = points[0];
    for (const Point& p : points) {
        for (std::size_t k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
        }
    }
    return {low[2], (low[0] + high[0]) / 2, (low[1] + high[1]) / 2, std::max({high[0] - low[0], high[1] - low[1]})};
}

TEST(Engine, OriginBaseStandsEveryRockOnTheGroundWithItsBoxOverTheOrigin) {
    const std::vector<std::string> detailed = {"--seed", "5", "--count", "2", "--spike", "9", "--detail", "2",
                                               "--lod", "--shading", "smooth", "--format", "obj,glb,stl,ply"};
    const std::vector<std::string> classic = {"--seed", "5", "--count", "2", "--spike", "9", "--format", "cob"};
    for (const auto* args : {&detailed, &classic}) {
        TempDir base, centre, plain;
        for (const auto& [dir, origin] : {std::pair{&base, "base"}, std::pair{&centre, "centre"}}) {
            std::vector<std::string> run = *args;
            run.insert(run.end(), {"--origin", origin, "--quiet"});
            ASSERT_EQ(runTavimor(run, dir->path()).status, 0);
        }
        std::vector<std::string> run = *args;
        run.push_back("--quiet");
        ASSERT_EQ(runTavimor(run, plain.path()).status, 0);
        for (const auto& entry : std::filesystem::directory_iterator(base.path())) {
            const std::string name = entry.path().filename();
            SCOPED_TRACE(name);
            // The centre is the origin as it always was: the same bytes.
            EXPECT_TRUE(readFile(centre.file(name)) == readFile(plain.file(name)));
            std::vector<Point> points;
            const std::string bytes = readFile(entry.path());
            if (name.ends_with(".COB")) points = asPoints(cobVertices(bytes), false);
            if (name.ends_with(".ply")) points = asPoints(readPly(bytes).positions, false);
            if (name.ends_with(".stl")) points = asPoints(stlCorners(bytes), false);
            if (name.ends_with(".obj")) points = asPoints(objectsOf(bytes).begin()->second, true);
            if (name.ends_with(".glb")) {
                const auto meshes = glbMeshes(entry.path());
                ASSERT_EQ(meshes.size(), 1u);
                EXPECT_EQ(meshes.begin()->second.translation, (Point{0, 0, 0}));
                points = asPoints(meshes.begin()->second.positions, true);
            }
            if (points.empty()) continue;
            // Every level takes the finest's place: a coarser one stands on
            // or above the ground.
            const Standing s = standingOf(points);
            if (name.find("_LOD") == std::string::npos || name.find("_LOD0") != std::string::npos) {
                EXPECT_EQ(s.lowest, 0.0);
                EXPECT_LE(std::abs(s.middleX), 1e-6 * s.size);
                EXPECT_LE(std::abs(s.middleY), 1e-6 * s.size);
            } else {
                EXPECT_GE(s.lowest, 0.0);
            }
        }
        // The levels coincide: a coarser level's positions are the first of
        // the finer one's.
        if (args == &detailed) {
            const PlyMesh fine = readPly(readFile(base.file("ROCK1_LOD0.ply")));
            const PlyMesh coarse = readPly(readFile(base.file("ROCK1_LOD2.ply")));
            EXPECT_TRUE(std::equal(coarse.positions.begin(), coarse.positions.end(), fine.positions.begin()));
        }
    }
}

TEST(Engine, CollisionHullsAreNamedForTheImportersPlacedWithTheirRocksAndContainThem) {
    const std::vector<std::string> common = {"--seed", "6", "--spike", "9", "--format", "obj,glb,stl,ply",
                                             "--collision", "--quiet"};
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> rocks;  // as each file names them
        std::vector<std::string> files;  // the base names of the rocks' files
    } runs[] = {
        {{"--count", "2", "--detail", "2"}, {"Rock1", "Rock0"}, {"ROCK1", "ROCK0"}},
        {{"--count", "2", "--detail", "2", "--lod"}, {"ROCK1_LOD0", "ROCK0_LOD0"}, {"ROCK1_LOD0", "ROCK0_LOD0"}},
        {{"--count", "4", "--detail", "1", "--pack", "--name", "P", "--origin", "base"}, {"P3", "P2", "P1", "P0"}, {"P"}},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.args.back());
        TempDir dir;
        std::vector<std::string> args = common;
        args.insert(args.end(), r.args.begin(), r.args.end());
        ASSERT_EQ(runTavimor(args, dir.path()).status, 0);
        // glb: a node NAME_hull-convcolonly beside each rock's, where it
        // stands; OBJ: an object UCX_NAME_00 right after each rock's.
        std::map<std::string, GlbMesh> glb;
        std::vector<std::string> objects;
        std::map<std::string, std::vector<Point>> obj;  // Y-up, as stored
        for (const std::string& file : r.files) {
            for (auto& [name, mesh] : glbMeshes(dir.file(file + ".glb"))) glb[name] = mesh;
            const std::string text = readFile(dir.file(file + ".obj"));
            for (const std::string& name : objectNamesOf(text)) objects.push_back(name);
            for (const auto& [name, positions] : objectsOf(text)) obj[name] = asPoints(positions, false);
        }
        std::vector<std::string> expected;
        for (const std::string& rock : r.rocks) expected.insert(expected.end(), {rock, "UCX_" + rock + "_00"});
        EXPECT_EQ(objects, expected);
        ASSERT_EQ(glb.size(), 2 * r.rocks.size());
        for (const std::string& rock : r.rocks) {
            SCOPED_TRACE(rock);
            ASSERT_EQ(glb.count(rock + "_hull-convcolonly"), 1u);
            const GlbMesh& hull = glb.at(rock + "_hull-convcolonly");
            EXPECT_EQ(hull.translation, glb.at(rock).translation);
            EXPECT_EQ(hullFlaw(hull.positions, hull.triangles, glb.at(rock).positions), "");
            // OBJ's hull is the same hull, where the glb node places it.
            const std::vector<Point>& corners = obj.at("UCX_" + rock + "_00");
            ASSERT_EQ(corners.size(), hull.positions.size());
            for (std::size_t i = 0; i < corners.size(); ++i) {
                for (std::size_t k = 0; k < 3; ++k) {
                    EXPECT_NEAR(corners[i][k], hull.positions[i][k] + hull.translation[k],
                                1e-6 * std::max(1.0, std::abs(corners[i][k])));
                }
            }
        }
        // STL and PLY: hulls in files of their own beside the rocks'.
        for (const std::string& file : r.files) {
            SCOPED_TRACE(file);
            const PlyMesh rock = readPly(readFile(dir.file(file + ".ply")));
            const PlyMesh hull = readPly(readFile(dir.file(file + "_hull.ply")));
            const auto stl = indexed(asPoints(stlCorners(readFile(dir.file(file + "_hull.stl"))), false));
            if (r.files.size() > 1) {
                EXPECT_EQ(hullFlaw(asPoints(hull.positions, false), plyTriangles(hull), asPoints(rock.positions, false)), "");
                EXPECT_EQ(hullFlaw(stl.first, stl.second, asPoints(rock.positions, false)), "");
            } else {
                // A packed file of hulls holds one hull a rock, each placed
                // with its rock.
                EXPECT_LE(hull.positions.size(), 64u * r.rocks.size());
                EXPECT_LE(stl.second.size(), 124u * r.rocks.size());
            }
        }
        // Levels of detail: the hull goes with LOD0 only.
        EXPECT_FALSE(fileExists(dir.file("ROCK1_LOD1_hull.stl")));
        EXPECT_FALSE(fileExists(dir.file("ROCK1_hull.stl")) && r.files[0] != "ROCK1");
    }
}

}  // namespace
}  // namespace tavimor::e2e
