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

#include "json_reader.h"

#include "e2e_support.h"
#include "mesh_readers.h"

namespace tavimor::e2e {
namespace {

const std::string kGolden = std::string(TAVIMOR_TEST_DATA) + "/";

std::vector<std::string> filesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
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
            // Inside its file a level is named as the file: where the rock's
            // own file says Rock<n>, it says STEM<n>_LOD<k>.
            const std::string own = std::string("Rock") + rock[4];
            const auto renamed = [&](std::string bytes, const std::string& from, const std::string& to) {
                for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size())) {
                    bytes.replace(at, from.size(), to);
                }
                return bytes;
            };
            const auto ownFile = [&](const char* extension) { return readFile(single.file(rock + std::string(extension))); };
            EXPECT_TRUE(readFile(levels.file(lod + ".mtl")) == ownFile(".mtl"));
            EXPECT_TRUE(readFile(levels.file(lod + ".ply")) == renamed(ownFile(".ply"), "obj_info " + own, "obj_info " + lod));
            const std::string stl = readFile(levels.file(lod + ".stl"));
            EXPECT_TRUE(stl.substr(80) == ownFile(".stl").substr(80));
            EXPECT_EQ(stl.substr(0, 80).find(lod), 28u);
            const GlbChunks glb = chunksOf(readFile(levels.file(lod + ".glb")));
            const GlbChunks ownGlb = chunksOf(ownFile(".glb"));
            EXPECT_TRUE(glb.binary == ownGlb.binary);
            EXPECT_EQ(glb.json.substr(0, glb.json.find_last_not_of(' ') + 1),
                      renamed(ownGlb.json.substr(0, ownGlb.json.find_last_not_of(' ') + 1), '"' + own + '"', '"' + lod + '"'));
            // The OBJ file names its own material library.
            const std::string obj = renamed(renamed(ownFile(".obj"), "mtllib " + std::string(rock) + ".mtl\n",
                                                    "mtllib " + lod + ".mtl\n"),
                                            "o " + own + "\n", "o " + lod + "\n");
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
    // of its own file moved on the ground (x and z, Y-up) and standing on it
    // (its lowest point at height 0), the boxes apart.
    const auto objects = objectsOf(readFile(packed.file("P.obj")));
    ASSERT_EQ(objects.size(), 5u);
    std::vector<std::array<double, 4>> boxes;  // x and z, low and high
    for (int n = 4; n >= 0; --n) {
        const std::string name = std::string("P").append(std::to_string(n));
        ASSERT_EQ(objects.count(name), 1u) << name;
        const auto& moved = objects.at(name);
        const auto own = objectsOf(readFile(single.file(name + ".obj"))).at(std::string("Rock").append(std::to_string(n)));
        ASSERT_EQ(moved.size(), own.size());
        const double dx = moved[0][0] - own[0][0], dy = moved[0][1] - own[0][1], dz = moved[0][2] - own[0][2];
        std::array<double, 4> box = {1e300, -1e300, 1e300, -1e300};
        double lowest = 1e300;
        // OBJ holds single precision: moved and rounded, or rounded and
        // moved, a position differs by a rounding at most.
        for (std::size_t i = 0; i < own.size(); ++i) {
            EXPECT_NEAR(moved[i][0], own[i][0] + dx, 1e-6 * std::max(1.0, std::abs(moved[i][0])));
            EXPECT_NEAR(moved[i][1], own[i][1] + dy, 1e-6 * std::max(1.0, std::abs(moved[i][1])));
            EXPECT_NEAR(moved[i][2], own[i][2] + dz, 1e-6 * std::max(1.0, std::abs(moved[i][2])));
            lowest = std::min(lowest, moved[i][1]);
            box = {std::min(box[0], moved[i][0]), std::max(box[1], moved[i][0]), std::min(box[2], moved[i][2]),
                   std::max(box[3], moved[i][2])};
        }
        EXPECT_EQ(lowest, 0.0) << name;
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
    // Each node stands its rock on the ground: its height and its mesh's
    // lowest point, as floats, add up to 0.
    const test::Json json = test::Json::parse(pack.json);
    ASSERT_EQ(json["nodes"].size(), 5u);
    for (const auto& node : json["nodes"]) {
        const auto height = static_cast<float>(node["translation"][1].number());
        const auto lowest = static_cast<float>(json["accessors"][json["meshes"][node["mesh"].index()]["primitives"][0]["attributes"]["POSITION"].index()]["min"][1].number());
        EXPECT_EQ(height + lowest, 0.0f) << node["name"].text();
    }

    // STL and PLY: one mesh of every rock's faces.
    EXPECT_EQ(u32At(readFile(packed.file("P.stl")), 80), 5u * 146u * 4u);
    const PlyMesh ply = readPly(readFile(packed.file("P.ply")));
    EXPECT_EQ(ply.positions.size(), 5u * (73u * 4u + 2u));
    EXPECT_EQ(ply.faces.size(), 5u * 146u * 4u);
    for (std::size_t rock = 0; rock < 5; ++rock) {
        float lowest = 1e30f;
        for (std::size_t v = rock * 294; v < (rock + 1) * 294; ++v) lowest = std::min(lowest, ply.positions[v][2]);
        EXPECT_EQ(lowest, 0.0f) << rock;
    }
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
    // Eighty rocks take no more than eight: however many there are, a few
    // are made and formatted ahead, on two threads, while one is written
    // (which of the threads' memory a rock's buffers come back to varies a
    // little from run to run).
    // Styled rocks with split normals keep more of each rock, as flat.
    for (const std::vector<std::string>& four : std::vector<std::vector<std::string>>{
             {"--detail", "4", "--shading", "smooth", "--format", "obj,glb", "--quiet"},
             {"--detail", "4", "--shading", "auto", "--style", "shard", "--format", "obj,glb,ply", "--quiet"},
             // Baked maps: the finest level of each rock made too.
             {"--detail", "2", "--shading", "smooth", "--textures", "1024", "--format", "glb,obj", "--quiet"}}) {
        // A rock with maps takes ten times as long: forty, not eighty.
        const bool maps = std::find(four.begin(), four.end(), "--textures") != four.end();
        std::vector<std::string> few = four, many = four;
        few.insert(few.end(), {"--count", "8"});
        many.insert(many.end(), {"--count", maps ? "40" : "80"});
        const long fewer = peakKilobytes(few, dir), more = peakKilobytes(many, dir);
        ASSERT_GT(fewer, 0);
        // A textured rock's buffers are tens of megabytes, and where the
        // two heaps hand them back varies more: within a seventh.
        EXPECT_LT(more, fewer + fewer / (maps ? 7 : 10)) << fewer << " KiB for eight rocks, " << four[3];
    }
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
    // Split normals counted up front for the head, a number a rock (20,000
    // rocks: at detail 0 nearly every corner of a boulder splits, and the
    // run takes seconds).
    for (const char* format : {"glb", "ply"}) {
        const long packed = peakKilobytes({"--count", "20000", "--pack", "--style", "boulder", "--shading", "auto",
                                           "--format", format, "-o", memory, "--quiet"},
                                          dir);
        EXPECT_GT(packed, 0) << format;
        EXPECT_LT(packed, 100 * 1024) << format;
    }
    // Flat in the count where the head lists every rock, hulls and all: what
    // the pack keeps of each rock between its passes waits on disk.
    for (const char* format : {"glb", "ply", "stl"}) {
        const std::vector<std::string> pack = {"--pack", "--collision", "--style", "boulder", "--format", format,
                                               "-o", memory, "--quiet"};
        std::vector<std::string> few = pack, many = pack;
        few.insert(few.end(), {"--count", "2000"});
        many.insert(many.end(), {"--count", "12000"});
        const long fewer = peakKilobytes(few, dir), more = peakKilobytes(many, dir);
        ASSERT_GT(fewer, 0);
        EXPECT_LT(more, fewer + fewer / 10) << fewer << " KiB for 2,000 rocks, " << format;
    }
    // Rocks of detail 5 with split normals, hulls and files of two formats
    // made ahead stay within 100 MiB.
    const long five = peakKilobytes({"--count", "6", "--detail", "5", "--style", "shard", "--shading", "auto",
                                     "--collision", "--format", "glb,obj", "-o", memory, "--quiet"},
                                    dir);
    ASSERT_GT(five, 0);
    EXPECT_LT(five, 100 * 1024);
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
    // Rocks on the ground are framed as the same rocks about their centres.
    for (const char* style : {"classic", "boulder"}) {
        TempDir centre, base;
        for (const auto& [dir, origin] : {std::pair{&centre, "centre"}, std::pair{&base, "base"}}) {
            ASSERT_EQ(runTavimor({"--seed", "3", "--count", "4", "--style", style, "--detail", "2", "--format", "glb",
                                  "--origin", origin, "--preview", "sheet.png", "--preview-size", "64", "--quiet"},
                                 dir->path())
                          .status,
                      0);
        }
        EXPECT_EQ(readFile(base.file("sheet.png")), readFile(centre.file("sheet.png"))) << style;
    }
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
