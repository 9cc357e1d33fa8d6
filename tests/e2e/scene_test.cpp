// Rocks for a scene: detail 0 is today's rock in every format, levels of
// detail are the rocks of their detail, a packed file holds every rock's
// own geometry apart from the others, and memory stays that of one rock.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace tavimor::e2e {
namespace {

const std::string kGolden = std::string(TAVIMOR_TEST_DATA) + "/";

std::vector<std::string> filesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::uint32_t u32At(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

// A binary glTF file's JSON and binary chunks.
struct GlbChunks {
    std::string json, binary;
};

GlbChunks chunksOf(const std::string& glb) {
    const std::uint32_t jsonLength = u32At(glb, 12);
    const std::uint32_t binaryLength = u32At(glb, 20 + jsonLength);
    return {glb.substr(20, jsonLength), glb.substr(28 + jsonLength, binaryLength)};
}

// A binary PLY file's vertex positions and faces, whatever else its
// vertices hold.
struct PlyMesh {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<std::uint32_t, 3>> faces;
};

PlyMesh readPly(const std::string& ply) {
    PlyMesh mesh;
    const std::size_t end = ply.find("end_header\n") + 11;
    std::istringstream head(ply.substr(0, end));
    std::size_t vertices = 0, faces = 0, stride = 0, xAt = 0;
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
            stride += b == "float" ? 4 : 1;
        }
    }
    for (std::size_t v = 0; v < vertices; ++v) {
        std::array<float, 3> p{};
        std::memcpy(p.data(), ply.data() + end + v * stride + xAt, 12);
        mesh.positions.push_back(p);
    }
    for (std::size_t f = 0, at = end + vertices * stride; f < faces; ++f, at += 13) {
        mesh.faces.push_back({u32At(ply, at + 1), u32At(ply, at + 5), u32At(ply, at + 9)});
    }
    return mesh;
}

// The positions of each object ("o NAME") of an OBJ file.
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

TEST(Scene, DetailZeroWritesTodaysFilesInEveryFormat) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> same;      // files as they have always been written
        std::vector<std::string> samePly;   // PLY files with today's vertices and faces
    } runs[] = {
        {{"--seed", "1", "--count", "2", "--spike", "9", "--name", "G"},
         {"G1.obj", "G1.mtl", "G1.glb", "G1.stl", "G0.obj", "G0.glb", "G0.stl"},
         {"G0"}},
        {{"--seed", "77", "--spike", "4", "--scale", "0.5,2,1000", "--name", "S"}, {"S0.obj", "S0.glb", "S0.stl"}, {"S0"}},
    };
    for (const auto& r : runs) {
        for (const bool spelledOut : {false, true}) {
            SCOPED_TRACE(r.args[1] + (spelledOut ? ", detail 0 and flat shading asked for" : ""));
            TempDir dir;
            std::vector<std::string> args = r.args;
            args.insert(args.end(), {"--format", "cob,obj,glb,stl,ply", "--quiet"});
            if (spelledOut) args.insert(args.end(), {"--detail", "0", "--shading", "flat"});
            ASSERT_EQ(runTavimor(args, dir.path()).status, 0);
            for (const std::string& name : r.same) {
                EXPECT_TRUE(readFile(dir.file(name)) == readFile(kGolden + "golden/" + name)) << name;
            }
            if (r.args[1] == "1") {
                EXPECT_EQ(readFile(dir.file("G1.COB")), readFile(kGolden + "SEED1S9R1.COB"));
                EXPECT_EQ(readFile(dir.file("G0.COB")), readFile(kGolden + "SEED1S9R0.COB"));
            }
            // PLY's vertices start with the colour since 2.0. Positions and
            // faces are those it always had.
            for (const std::string& stem : r.samePly) {
                const PlyMesh now = readPly(readFile(dir.file(stem + ".ply")));
                const PlyMesh before = readPly(readFile(kGolden + "golden/" + stem + ".before.ply"));
                EXPECT_EQ(now.positions, before.positions);
                EXPECT_EQ(now.faces, before.faces);
                // OBJ holds the very floats the binary formats hold, Y-up.
                const auto obj = objectsOf(readFile(dir.file(stem + ".obj")));
                ASSERT_EQ(obj.size(), 1u);
                const auto& v = obj.begin()->second;
                ASSERT_EQ(v.size(), now.positions.size());
                for (std::size_t i = 0; i < v.size(); ++i) {
                    const auto& p = now.positions[i];
                    EXPECT_EQ(static_cast<float>(v[i][0]), p[0]);
                    EXPECT_EQ(static_cast<float>(v[i][1]), p[2]);
                    EXPECT_EQ(static_cast<float>(v[i][2]), -p[1] + 0.0f);
                }
            }
        }
    }
}

TEST(Scene, EachLevelOfDetailIsTheRockOfThatDetail) {
    TempDir levels;
    const std::vector<std::string> common = {"--seed", "21", "--count", "2", "--spike", "7", "--shading", "smooth",
                                             "--format", "obj,glb,stl,ply", "--quiet"};
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--detail", "2", "--lod"});
    ASSERT_EQ(runTavimor(args, levels.path()).status, 0);
    EXPECT_EQ(filesIn(levels).size(), 2u * 3u * 5u);
    for (int k = 0; k <= 2; ++k) {
        SCOPED_TRACE("LOD" + std::to_string(k));
        TempDir single;
        args = common;
        args.insert(args.end(), {"--detail", std::to_string(2 - k)});
        ASSERT_EQ(runTavimor(args, single.path()).status, 0);
        for (const char* rock : {"ROCK1", "ROCK0"}) {
            const std::string lod = std::string(rock) + "_LOD" + std::to_string(k);
            for (const char* extension : {".glb", ".stl", ".ply", ".mtl"}) {
                EXPECT_TRUE(readFile(levels.file(lod + extension)) == readFile(single.file(rock + std::string(extension))))
                    << lod << extension;
            }
            // The OBJ file names its own material library.
            std::string obj = readFile(single.file(rock + std::string(".obj")));
            const std::string library = "mtllib " + std::string(rock) + ".mtl\n";
            ASSERT_NE(obj.find(library), std::string::npos);
            obj.replace(obj.find(library), library.size(), "mtllib " + lod + ".mtl\n");
            EXPECT_TRUE(readFile(levels.file(lod + ".obj")) == obj) << lod;
        }
    }
}

TEST(Scene, APackedFileHoldsEveryRocksOwnGeometryApart) {
    const std::vector<std::string> common = {"--seed", "8", "--count", "5", "--spike", "9", "--detail", "1",
                                             "--shading", "smooth", "--format", "obj,glb,stl,ply"};
    TempDir packed, single;
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--pack", "--name", "P"});
    const CommandResult run = runTavimor(args, packed.path());
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.output, "seed 8\nP.obj\nP.mtl\nP.glb\nP.stl\nP.ply\n");
    EXPECT_EQ(filesIn(packed), (std::vector<std::string>{"P.glb", "P.mtl", "P.obj", "P.ply", "P.stl"}));
    args = common;
    args.insert(args.end(), {"--name", "P"});
    ASSERT_EQ(runTavimor(args, single.path()).status, 0);

    // OBJ: one object per rock, named as its own file, its positions those
    // of its own file moved on the ground (x and z, Y-up), the boxes apart.
    const auto objects = objectsOf(readFile(packed.file("P.obj")));
    ASSERT_EQ(objects.size(), 5u);
    std::vector<std::array<double, 4>> boxes;  // x and z, low and high
    for (int n = 4; n >= 0; --n) {
        const std::string name = std::string("P").append(std::to_string(n));
        ASSERT_EQ(objects.count(name), 1u) << name;
        const auto& moved = objects.at(name);
        const auto own = objectsOf(readFile(single.file(name + ".obj"))).at(std::string("Rock").append(std::to_string(n)));
        ASSERT_EQ(moved.size(), own.size());
        const double dx = moved[0][0] - own[0][0], dz = moved[0][2] - own[0][2];
        std::array<double, 4> box = {1e300, -1e300, 1e300, -1e300};
        // OBJ holds single precision: moved and rounded, or rounded and
        // moved, a position differs by a rounding at most.
        for (std::size_t i = 0; i < own.size(); ++i) {
            EXPECT_NEAR(moved[i][0], own[i][0] + dx, 1e-6 * std::max(1.0, std::abs(moved[i][0])));
            EXPECT_EQ(moved[i][1], own[i][1]);
            EXPECT_NEAR(moved[i][2], own[i][2] + dz, 1e-6 * std::max(1.0, std::abs(moved[i][2])));
            box = {std::min(box[0], moved[i][0]), std::max(box[1], moved[i][0]), std::min(box[2], moved[i][2]),
                   std::max(box[3], moved[i][2])};
        }
        for (const auto& other : boxes) {
            EXPECT_TRUE(box[1] < other[0] || other[1] < box[0] || box[3] < other[2] || other[3] < box[2]) << name;
        }
        boxes.push_back(box);
    }

    // glTF: each rock's block of the binary chunk is its own file's binary
    // chunk; its node carries where it stands.
    const GlbChunks pack = chunksOf(readFile(packed.file("P.glb")));
    std::size_t at = 0;
    for (int n = 4; n >= 0; --n) {
        const std::string name = std::string("P").append(std::to_string(n));
        const GlbChunks own = chunksOf(readFile(single.file(name + ".glb")));
        EXPECT_TRUE(pack.binary.compare(at, own.binary.size(), own.binary) == 0) << n;
        at += own.binary.size();
        EXPECT_NE(pack.json.find("\"name\":\"" + name + "\""), std::string::npos);
    }
    EXPECT_EQ(at, pack.binary.size());
    EXPECT_NE(pack.json.find("\"translation\":["), std::string::npos);

    // STL and PLY: one mesh of every rock's faces.
    EXPECT_EQ(u32At(readFile(packed.file("P.stl")), 80), 5u * 146u * 4u);
    const PlyMesh ply = readPly(readFile(packed.file("P.ply")));
    EXPECT_EQ(ply.positions.size(), 5u * (73u * 4u + 2u));
    EXPECT_EQ(ply.faces.size(), 5u * 146u * 4u);
    EXPECT_EQ(readFile(packed.file("P.mtl")), readFile(single.file("P0.mtl")));
}

// The largest memory a run of tavimor with these arguments holds, in KiB.
long peakKilobytes(const std::vector<std::string>& args, const TempDir& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(126);
        std::vector<char*> argv = {const_cast<char*>("tavimor")};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(tavimorPath().c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

TEST(Scene, MemoryIsThatOfOneRock) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory aside";
#endif
    TempDir dir;
    // One rock of detail 6 (about 600,000 triangles) in every format.
    const long six = peakKilobytes({"--detail", "6", "--shading", "smooth", "--format", "obj,glb,stl,ply", "--quiet"}, dir);
    ASSERT_GT(six, 0);
    EXPECT_LT(six, 256 * 1024);
    // Forty rocks take no more than four: however many there are, a rock is
    // written while the next one waits and the one after is being made.
    const std::vector<std::string> four = {"--detail", "4", "--shading", "smooth", "--format", "obj,glb", "--quiet"};
    std::vector<std::string> few = four, many = four;
    few.insert(few.end(), {"--count", "4"});
    many.insert(many.end(), {"--count", "40"});
    const long fewer = peakKilobytes(few, dir), more = peakKilobytes(many, dir);
    ASSERT_GT(fewer, 0);
    EXPECT_LT(more, fewer + fewer / 20) << fewer << " KiB for four rocks";
    // A packed file is written a rock at a time, its head too: 100,000
    // rocks in every format that packs take what a few hundred would.
    char memory[] = "/dev/shm/tavimor-packed-XXXXXX";
    ASSERT_NE(mkdtemp(memory), nullptr);
    for (const char* format : {"glb", "obj", "stl", "ply"}) {
        const long packed =
            peakKilobytes({"--count", "100000", "--pack", "--format", format, "-o", memory, "--quiet"}, dir);
        EXPECT_GT(packed, 0) << format;
        EXPECT_LT(packed, 100 * 1024) << format;
    }
    std::filesystem::remove_all(memory);
}

}  // namespace
}  // namespace tavimor::e2e

namespace tavimor::e2e {
namespace {

TEST(Preview, TheSheetComesLastTheSameEveryTimeAndABadPlaceFailsClearly) {
    const std::vector<std::string> rocks = {"--seed", "3", "--count", "3", "--format", "glb"};
    TempDir first, again;
    for (const TempDir* dir : {&first, &again}) {
        std::vector<std::string> args = rocks;
        args.insert(args.end(), {"--preview", "sheet.png", "--preview-size", "64"});
        const CommandResult run = runTavimor(args, dir->path());
        ASSERT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.output, "seed 3\nROCK2.glb\nROCK1.glb\nROCK0.glb\nsheet.png\n");
    }
    const std::string png = readFile(first.file("sheet.png"));
    EXPECT_EQ(png, readFile(again.file("sheet.png")));
    // PNG counts big-endian: 192 pixels wide, 64 high.
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\xc0\0\0\0\x40", 8));

    // A folder that is not there, or a name that is no PNG: refused before
    // anything is written.
    for (const char* bad : {"missing/sheet.png", "sheet.jpg"}) {
        TempDir dir;
        std::vector<std::string> args = rocks;
        args.insert(args.end(), {"--preview", bad});
        const CommandResult run = runTavimor(args, dir.path());
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_TRUE(run.errors.starts_with("tavimor: --preview: takes a .png file in an existing directory")) << run.errors;
        EXPECT_TRUE(filesIn(dir).empty()) << bad;
    }
    // A folder that cannot be written shows only once the rocks are: they
    // stay, and the run fails.
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("locked").c_str(), 0555), 0);
    std::vector<std::string> command = {"sh", "-c", "exec \"$@\"", "sh"};
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
        command.insert(command.end(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    command.push_back(tavimorPath());
    command.insert(command.end(), rocks.begin(), rocks.end());
    command.insert(command.end(), {"--preview", "locked/sheet.png", "--quiet"});
    const CommandResult run = runCommand(command, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors, "locked/sheet.png: \aError opening file for write. Aborting.\a\n");
    EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"ROCK0.glb", "ROCK1.glb", "ROCK2.glb", "locked"}));
}

}  // namespace
}  // namespace tavimor::e2e
