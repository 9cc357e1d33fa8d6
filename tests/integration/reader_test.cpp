// Rocks as an independent reader sees them: assimp (the Open Asset Import
// Library's command-line tool) must load every file the real program writes,
// find the mesh and material in it, and turn it into a closed, outward-facing
// triangle mesh.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "geometry/rock.h"
#include "geometry/style.h"

namespace tavimor::e2e {
namespace {

::testing::AssertionResult assimpIsInstalled() {
    const CommandResult r = runCommand({"assimp", "version"}, "/");
    if (r.status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "assimp is not installed (Debian package assimp-utils)";
}

using Point = std::array<double, 3>;

struct ObjMesh {
    std::vector<Point> positions;
    std::vector<std::vector<int>> faces;  // 0-based position indices
};

ObjMesh readObj(const std::string& text) {
    ObjMesh mesh;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "v") {
            Point p{};
            words >> p[0] >> p[1] >> p[2];
            mesh.positions.push_back(p);
        } else if (kind == "f") {
            std::vector<int> face;
            for (std::string corner; words >> corner;) face.push_back(std::stoi(corner) - 1);
            mesh.faces.push_back(face);
        }
    }
    return mesh;
}

std::array<double, 3> numbersAfter(const std::string& text, const std::string& key, const std::string& separators) {
    const auto at = text.find(key);
    std::array<double, 3> values{NAN, NAN, NAN};
    if (at == std::string::npos) return values;
    std::string rest = text.substr(at + key.size(), text.find_first_of("\r\n", at) - at - key.size());
    for (char& c : rest) {
        if (separators.find(c) != std::string::npos) c = ' ';
    }
    std::istringstream in(rest);
    in >> values[0] >> values[1] >> values[2];
    return values;
}

// The word after key, up to the end of its line.
std::string wordAfter(const std::string& text, const std::string& key) {
    const auto at = text.find(key);
    if (at == std::string::npos) return {};
    const auto start = at + key.size();
    return text.substr(start, text.find_first_of("\r\n", start) - start);
}

// What one rock file holds, as the test expects it.
struct Expected {
    int rockNumber;
    const tavimor::Rock* rock = nullptr;  // positions to find, Z-up; none: not checked
    bool yUp = false;                     // stored as (x, z, -y)
    bool named = true;                    // the node is called Rock<n>
    std::string colourFrom = {};          // file with the diffuse colour as an "rgb" line, or "" for the table's
    bool coloured = true;
    tavimor::Colour colour = tavimor::kRockColour;
    std::size_t faces = 146;
    std::size_t positions = 75;
};

// assimp read the file without a warning or an error.
void expectCleanRead(const CommandResult& info) {
    ASSERT_EQ(info.status, 0) << info.output << info.errors;
    for (const std::string& log : {info.output, info.errors}) {
        EXPECT_EQ(log.find("Warn,"), std::string::npos) << log;
        EXPECT_EQ(log.find("Error,"), std::string::npos) << log;
    }
}

// Everything assimp must make of one rock file.
void checkRock(const TempDir& dir, const std::string& name, const Expected& expected) {
    SCOPED_TRACE(name);
    const CommandResult info = runCommand({"assimp", "info", name, "-l", "-vds"}, dir.path());
    expectCleanRead(info);
    EXPECT_TRUE(std::regex_search(info.output, std::regex("\\nFaces:\\s+" + std::to_string(expected.faces) + "\\n")))
        << info.output;
    if (expected.named) {
        EXPECT_TRUE(std::regex_search(info.output,
                                      std::regex("Rock" + std::to_string(expected.rockNumber) + " \\(mesh 0\\)")))
            << info.output;
    }

    const CommandResult exported = runCommand({"assimp", "export", name, "rock.obj"}, dir.path());
    ASSERT_EQ(exported.status, 0) << exported.output;
    const ObjMesh mesh = readObj(readFile(dir.file("rock.obj")));

    // The triangles over exactly as many distinct positions as the rock has.
    ASSERT_EQ(mesh.faces.size(), expected.faces);
    std::map<Point, int> ids;
    std::vector<std::array<int, 3>> triangles;
    for (const auto& face : mesh.faces) {
        ASSERT_EQ(face.size(), 3u);
        std::array<int, 3> t{};
        for (int k = 0; k < 3; ++k) {
            ASSERT_GE(face[k], 0);
            ASSERT_LT(face[k], static_cast<int>(mesh.positions.size()));
            t[k] = ids.emplace(mesh.positions[face[k]], static_cast<int>(ids.size())).first->second;
        }
        triangles.push_back(t);
    }
    EXPECT_EQ(ids.size(), expected.positions);

    // Closed and consistently oriented: each edge once in each direction.
    std::map<std::pair<int, int>, int> directed;
    for (const auto& t : triangles) {
        for (int k = 0; k < 3; ++k) ++directed[{t[k], t[(k + 1) % 3]}];
    }
    for (const auto& [edge, count] : directed) {
        EXPECT_EQ(count, 1);
        EXPECT_EQ(directed.count({edge.second, edge.first}), 1u);
    }
    EXPECT_EQ(directed.size(), 3 * expected.faces);

    // Outward-facing: the volume the faces enclose is positive.
    std::vector<Point> at(ids.size());
    for (const auto& [p, id] : ids) at[id] = p;
    double volume = 0;
    for (const auto& t : triangles) {
        const Point &a = at[t[0]], &b = at[t[1]], &c = at[t[2]];
        volume += a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                  a[2] * (b[0] * c[1] - b[1] * c[0]);
    }
    EXPECT_GT(volume / 6, 0.0);

    // The positions are the rock's, to single precision, once turned back
    // to Z-up (the COB file's six decimals are closer than that).
    if (expected.rock != nullptr) {
        std::vector<bool> found(expected.rock->positions.size(), false);
        for (const Point& p : at) {
            const Point zUp = expected.yUp ? Point{p[0], -p[2], p[1]} : p;
            bool matched = false;
            for (std::size_t i = 0; i < found.size() && !matched; ++i) {
                const tavimor::Position& r = expected.rock->positions[i];
                const double error = std::max({std::fabs(zUp[0] - r.x), std::fabs(zUp[1] - r.y), std::fabs(zUp[2] - r.z)});
                const double size = std::max({std::fabs(r.x), std::fabs(r.y), std::fabs(r.z), 1.0});
                if (!found[i] && error <= 6e-7 * size) found[i] = matched = true;
            }
            EXPECT_TRUE(matched) << "no rock position at " << zUp[0] << " " << zUp[1] << " " << zUp[2];
        }
    }

    // The material's diffuse colour is the rock's.
    if (expected.coloured) {
        // The diffuse colour of the material the mesh uses (assimp adds a
        // default material of its own to some formats).
        const std::string used = wordAfter(readFile(dir.file("rock.obj")), "\nusemtl ");
        const std::string materials = readFile(dir.file("rock.mtl"));
        ASSERT_NE(materials.find("\nnewmtl " + used + "\n"), std::string::npos) << used;
        const auto kd = numbersAfter(materials.substr(materials.find("\nnewmtl " + used + "\n")), "\nKd ", "");
        std::array<double, 3> colour = {expected.colour.red, expected.colour.green, expected.colour.blue};
        if (!expected.colourFrom.empty()) colour = numbersAfter(readFile(dir.file(expected.colourFrom)), "\nrgb ", ",");
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(kd[k], colour[k], 1e-6) << "channel " << k;
    }
}

TEST(Reader, AssimpLoadsEveryRockOfSeveralRuns) {
    ASSERT_TRUE(assimpIsInstalled());
    const struct {
        const char* clock;
        std::time_t seconds;
    } starts[] = {{"@2001-09-09 01:46:40", 1000000000}, {"@2026-12-07 12:00:00", 1796644800}, {"@2099-12-31 23:59:30", 4102444770}};
    for (const auto& start : starts) {
        for (const std::string spike : {"0", "9"}) {
            SCOPED_TRACE(std::string(start.clock) + " spike " + spike);
            const auto options = withClockAt(start.clock);
            ASSERT_TRUE(options) << "libfaketime is needed (Debian package faketime)";
            ProgramRun run(*options);
            answerAll(run, "9", spike, "rock\r");
            ASSERT_EQ(run.end().value, 0) << run.session.output();
            EXPECT_TRUE(rocksFromOneSecond(run.dir, "ROCK", 9, 0, std::stoi(spike), start.seconds,
                                           start.seconds + (run.ended - run.started) + 2));
            for (int n = 9; n >= 0; --n) {
                const std::string name = "ROCK" + std::to_string(n) + ".COB";
                checkRock(run.dir, name, Expected{.rockNumber = n, .colourFrom = name});
            }
        }
    }
}

TEST(Reader, AssimpLoadsEveryFormatOfScriptedRuns) {
    ASSERT_TRUE(assimpIsInstalled());
    const struct {
        std::uint32_t seed;
        int spike;
        const char* scale;
    } runs[] = {{1, 9, "1"},           {123456789, 5, "1"},      {4294967295u, 0, "1"},
                {77, 9, "0.5,2,1000"}, {5, 9, "0.001"}, {6, 0, "1000,0.001,1"}};
    for (const auto& r : runs) {
        SCOPED_TRACE("seed " + std::to_string(r.seed) + " spike " + std::to_string(r.spike) + " scale " + r.scale);
        TempDir dir;
        const CommandResult run = runTavimor({"--seed", std::to_string(r.seed), "--count", "2", "--spike",
                                              std::to_string(r.spike), "--scale", r.scale, "--name", "R", "--format",
                                              "cob,obj,glb,stl,ply", "--quiet"},
                                             dir.path());
        ASSERT_EQ(run.status, 0) << run.errors;
        ASSERT_EQ(run.output + run.errors, "");
        double factors[3];
        std::string scale = r.scale;
        std::replace(scale.begin(), scale.end(), ',', ' ');
        std::istringstream in(scale);
        for (double& f : factors) {
            if (!(in >> f)) f = factors[0];
        }
        tavimor::Lcg generator{r.seed};
        for (int n = 1; n >= 0; --n) {
            const tavimor::Rock rock =
                makeRock(generator, r.spike, tavimor::Scale{factors[0], factors[1], factors[2]});
            const std::string stem = std::string("R").append(std::to_string(n));
            // The COB file's six decimals can only hold unit-sized rocks to
            // single precision.
            const bool unitSized = std::string(r.scale) == "1";
            checkRock(dir, stem + ".COB",
                      Expected{.rockNumber = n, .rock = unitSized ? &rock : nullptr, .colourFrom = stem + ".COB"});
            checkRock(dir, stem + ".obj", Expected{.rockNumber = n, .rock = &rock, .yUp = true});
            checkRock(dir, stem + ".glb", Expected{.rockNumber = n, .rock = &rock, .yUp = true});
            checkRock(dir, stem + ".stl", Expected{.rockNumber = n, .rock = &rock, .named = false, .coloured = false});
            checkRock(dir, stem + ".ply", Expected{.rockNumber = n, .rock = &rock, .named = false, .coloured = false});
        }
    }
}

TEST(Reader, AssimpLoadsDetailedSmoothAndPackedFilesInEveryFormat) {
    ASSERT_TRUE(assimpIsInstalled());
    TempDir dir;
    const std::vector<std::string> common = {"--seed", "31", "--spike", "9", "--detail", "3", "--shading", "smooth",
                                             "--format", "obj,glb,stl,ply", "--quiet"};
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--name", "D"});
    ASSERT_EQ(runTavimor(args, dir.path()).status, 0);
    args = common;
    args.insert(args.end(), {"--name", "P", "--pack", "--count", "3"});
    ASSERT_EQ(runTavimor(args, dir.path()).status, 0);
    const std::size_t faces = 146 * 64, positions = 73 * 64 + 2;
    for (const char* extension : {".obj", ".glb", ".stl", ".ply"}) {
        const bool named = std::string(extension) == ".obj" || std::string(extension) == ".glb";
        checkRock(dir, std::string("D0") + extension,
                  Expected{.rockNumber = 0, .named = named, .coloured = named, .faces = faces, .positions = positions});
        checkRock(dir, std::string("P") + extension,
                  Expected{.rockNumber = 2, .named = false, .coloured = named, .faces = 3 * faces, .positions = 3 * positions});
    }
    // PLY files that once began with a line feed's byte, which assimp took
    // for the end of the header.
    TempDir ply;
    ASSERT_EQ(runTavimor({"--seed", "5", "--count", "3", "--format", "ply", "--quiet"}, ply.path()).status, 0);
    for (const char* name : {"ROCK2.ply", "ROCK1.ply", "ROCK0.ply"}) {
        checkRock(ply, name, Expected{.rockNumber = 0, .named = false, .coloured = false});
    }
}

TEST(Reader, KhronosValidatorFindsNoErrorsOrWarningsInTheGlbFiles) {
    const std::string modules = TAVIMOR_NODE_MODULES;
    ASSERT_EQ(access((modules + "/gltf-validator/package.json").c_str(), R_OK), 0)
        << "gltf-validator is needed (tools/install-deps test installs it with npm)";
    TempDir dir;
    const CommandResult run = runTavimor(
        {"--seed", "99", "--count", "12", "--spike", "9", "--format", "glb", "--quiet"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.output;
    std::vector<std::string> command = {"env", "NODE_PATH=" + modules, "node",
                                        std::string(TAVIMOR_SOURCE_DIR) + "/tests/integration/validate_gltf.js"};
    for (int n = 11; n >= 0; --n) command.push_back(n < 10 ? "ROCK0" + std::to_string(n) + ".glb" : "ROCK" + std::to_string(n) + ".glb");
    // Detail 3 and smooth normals; detail 5 with four-byte indices; a
    // packed file of many rocks.
    for (const auto& extra : std::vector<std::vector<std::string>>{
             {"--detail", "3", "--shading", "smooth", "--name", "D"},
             {"--detail", "5", "--name", "F"},
             {"--detail", "2", "--shading", "smooth", "--pack", "--count", "7", "--name", "P"}}) {
        std::vector<std::string> args = {"--seed", "99", "--spike", "9", "--format", "glb", "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(runTavimor(args, dir.path()).status, 0);
    }
    command.insert(command.end(), {"D0.glb", "F0.glb", "P.glb"});
    const CommandResult validated = runCommand(command, dir.path());
    EXPECT_EQ(validated.status, 0) << validated.output << validated.errors;
    EXPECT_NE(validated.output.find("15 files: 0 errors, 0 warnings"), std::string::npos) << validated.output;
}

TEST(Reader, AssimpAndTheValidatorTakeCollisionHullsAndBaseOriginsInEveryFormat) {
    ASSERT_TRUE(assimpIsInstalled());
    const std::string modules = TAVIMOR_NODE_MODULES;
    TempDir dir;
    for (const auto& extra : std::vector<std::vector<std::string>>{
             {"--name", "S", "--shading", "smooth"},
             {"--name", "L", "--lod", "--origin", "base"},
             {"--name", "P", "--pack", "--count", "3", "--origin", "base", "--shading", "smooth"}}) {
        std::vector<std::string> args = {"--seed", "17", "--spike", "9", "--detail", "2", "--collision",
                                         "--format", "obj,glb,stl,ply", "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(runTavimor(args, dir.path()).status, 0);
    }
    // Each file and the meshes in it: the rock and its hull together, or
    // the hulls in files of their own.
    const struct {
        const char* file;
        int meshes;
    } files[] = {{"S0.obj", 2},         {"S0.glb", 2},         {"S0.stl", 1},         {"S0_hull.stl", 1},
                 {"S0.ply", 1},         {"S0_hull.ply", 1},    {"L0_LOD0.glb", 2},    {"L0_LOD1.glb", 1},
                 {"L0_LOD0.obj", 2},    {"L0_LOD0_hull.ply", 1}, {"P.obj", 6},        {"P.glb", 6},
                 {"P_hull.stl", 1},     {"P_hull.ply", 1}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        const CommandResult info = runCommand({"assimp", "info", f.file}, dir.path());
        expectCleanRead(info);
        EXPECT_TRUE(std::regex_search(info.output, std::regex("\\nMeshes:\\s+" + std::to_string(f.meshes) + "\\n")))
            << info.output;
    }
    const CommandResult validated =
        runCommand({"env", "NODE_PATH=" + modules, "node", std::string(TAVIMOR_SOURCE_DIR) + "/tests/integration/validate_gltf.js",
                    "S0.glb", "L0_LOD0.glb", "L0_LOD1.glb", "P.glb"},
                   dir.path());
    EXPECT_EQ(validated.status, 0) << validated.output << validated.errors;
    EXPECT_NE(validated.output.find("4 files: 0 errors, 0 warnings"), std::string::npos) << validated.output;
}

TEST(Reader, AssimpAndTheValidatorTakeEveryStyleWithAutoShadingInEveryFormat) {
    ASSERT_TRUE(assimpIsInstalled());
    const std::string modules = TAVIMOR_NODE_MODULES;
    TempDir dir;
    const std::size_t faces = 146 * 64, positions = 73 * 64 + 2;
    std::vector<std::string> validate = {"env", "NODE_PATH=" + modules, "node",
                                         std::string(TAVIMOR_SOURCE_DIR) + "/tests/integration/validate_gltf.js"};
    for (const tavimor::StyleKind& style : std::span(tavimor::kStyles).subspan(1)) {
        SCOPED_TRACE(style.name);
        const std::string name(style.name);
        // A rock of its own, and a pack of three, in auto shading; a rock
        // smooth in glb.
        for (const auto& extra : std::vector<std::vector<std::string>>{
                 {"--name", name, "--format", "obj,glb,stl,ply"},
                 {"--name", name + "P", "--pack", "--count", "3", "--format", "obj,glb,ply"}}) {
            std::vector<std::string> args = {"--style", name, "--seed", "23", "--spike", "9", "--detail", "3",
                                             "--shading", "auto", "--quiet"};
            args.insert(args.end(), extra.begin(), extra.end());
            ASSERT_EQ(runTavimor(args, dir.path()).status, 0);
        }
        ASSERT_EQ(runTavimor({"--style", name, "--seed", "23", "--detail", "2", "--shading", "smooth", "--format",
                              "glb", "--name", name + "S", "--quiet"},
                             dir.path())
                      .status,
                  0);
        for (const char* extension : {".obj", ".glb", ".stl", ".ply"}) {
            const bool named = std::string(extension) == ".obj" || std::string(extension) == ".glb";
            checkRock(dir, name + "0" + extension,
                      Expected{.rockNumber = 0, .named = named, .coloured = named, .colour = style.material.baseColour,
                               .faces = faces, .positions = positions});
            if (std::string(extension) == ".stl") continue;
            checkRock(dir, name + "P" + extension,
                      Expected{.rockNumber = 2, .named = false, .coloured = named,
                               .colour = style.material.baseColour, .faces = 3 * faces, .positions = 3 * positions});
        }
        validate.insert(validate.end(), {name + "0.glb", name + "P.glb", name + "S0.glb"});
    }
    const CommandResult validated = runCommand(validate, dir.path());
    EXPECT_EQ(validated.status, 0) << validated.output << validated.errors;
    const std::string files = std::to_string(validate.size() - 4) + " files: 0 errors, 0 warnings";
    EXPECT_NE(validated.output.find(files), std::string::npos) << validated.output;
}

TEST(Reader, AssimpAndTheValidatorTakeTexturedRocksWithTheirMaps) {
    ASSERT_TRUE(assimpIsInstalled());
    const std::string modules = TAVIMOR_NODE_MODULES;
    TempDir dir;
    std::vector<std::string> validate = {"env", "NODE_PATH=" + modules, "node",
                                         std::string(TAVIMOR_SOURCE_DIR) + "/tests/integration/validate_gltf.js"};
    // Smooth and auto, a level of detail, three sizes of map.
    const struct {
        std::vector<std::string> args;
        std::string stem;
    } runs[] = {
        {{"--style", "boulder", "--detail", "1", "--shading", "smooth", "--textures", "128", "--name", "F"}, "F0"},
        {{"--style", "slab", "--detail", "3", "--shading", "smooth", "--textures", "512", "--name", "S"}, "S0"},
        {{"--style", "shard", "--detail", "2", "--shading", "auto", "--textures", "256", "--lod", "--name", "A"}, "A0_LOD1"},
        // A pack: each rock its own material and maps.
        {{"--style", "pebble", "--detail", "1", "--shading", "smooth", "--textures", "128", "--pack", "--count", "3",
          "--collision", "--name", "P"}, "P"},
    };
    for (const auto& r : runs) {
        std::vector<std::string> args = {"--seed", "31", "--format", "glb,obj", "--quiet"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        ASSERT_EQ(runTavimor(args, dir.path()).status, 0);
        validate.push_back(r.stem + ".glb");
        const CommandResult glb = runCommand({"assimp", "info", r.stem + ".glb"}, dir.path());
        EXPECT_EQ(glb.status, 0) << glb.errors;
        const bool pack = r.stem == "P";
        EXPECT_NE(glb.output.find(pack ? "Textures (embed.):  9" : "Textures (embed.):  3"), std::string::npos) << glb.output;
        // The OBJ's maps, by the names beside it (a coarser level names its
        // finest's).
        const CommandResult obj = runCommand({"assimp", "info", r.stem + ".obj"}, dir.path());
        EXPECT_EQ(obj.status, 0) << obj.errors;
        const std::string maps = pack ? "P2" : r.stem.substr(0, r.stem.find("_LOD")) + (r.stem.find("_LOD") != std::string::npos ? "_LOD0" : "");
        for (const char* role : {"_basecolor.png", "_normal.png", "_orm.png"}) {
            EXPECT_NE(obj.output.find("'" + maps + role + "'"), std::string::npos) << r.stem << role << obj.output;
            for (const std::string& rock : pack ? std::vector<std::string>{"P0", "P1", "P2"} : std::vector<std::string>{maps}) {
                EXPECT_TRUE(fileExists(dir.file(rock + role))) << rock << role;
            }
        }
    }
    const CommandResult validated = runCommand(validate, dir.path());
    EXPECT_EQ(validated.status, 0) << validated.output << validated.errors;
    EXPECT_NE(validated.output.find("4 files: 0 errors, 0 warnings"), std::string::npos) << validated.output;
}

}  // namespace
}  // namespace tavimor::e2e
