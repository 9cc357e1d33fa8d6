// Rocks as an independent reader sees them: assimp (the Open Asset Import
// Library's command-line tool) must load every file the real program writes,
// find the mesh and material in it, and turn it into a closed, outward-facing
// triangle mesh.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace tavimor::e2e {
namespace {

struct CommandResult {
    int status = -1;  // exit status; 127 when the command cannot be started
    std::string output;
};

CommandResult runCommand(const std::vector<std::string>& args, const std::string& dir) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (chdir(dir.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    CommandResult result;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) result.output.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

::testing::AssertionResult assimpIsInstalled() {
    const CommandResult r = runCommand({"assimp", "version"}, "/");
    if (r.status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "assimp is not installed (Debian package assimp-utils)";
}

using Position = std::array<double, 3>;

struct ObjMesh {
    std::vector<Position> positions;
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
            Position p{};
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

// Everything assimp must make of one rock file.
void checkRock(const TempDir& dir, const std::string& name, int rockNumber) {
    SCOPED_TRACE(name);
    const CommandResult info = runCommand({"assimp", "info", name, "-l", "-vds"}, dir.path());
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_EQ(info.output.find("\nWarn,"), std::string::npos) << info.output;
    EXPECT_EQ(info.output.find("\nError,"), std::string::npos) << info.output;
    EXPECT_TRUE(std::regex_search(info.output, std::regex("\\nFaces:\\s+146\\n"))) << info.output;
    EXPECT_TRUE(std::regex_search(info.output, std::regex("Rock" + std::to_string(rockNumber) + " \\(mesh 0\\)")))
        << info.output;

    const CommandResult exported = runCommand({"assimp", "export", name, "rock.obj"}, dir.path());
    ASSERT_EQ(exported.status, 0) << exported.output;
    const ObjMesh mesh = readObj(readFile(dir.file("rock.obj")));

    // 146 triangles over exactly 75 distinct positions.
    ASSERT_EQ(mesh.faces.size(), 146u);
    std::map<Position, int> ids;
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
    EXPECT_EQ(ids.size(), 75u);

    // Closed and consistently oriented: each edge once in each direction.
    std::map<std::pair<int, int>, int> directed;
    for (const auto& t : triangles) {
        for (int k = 0; k < 3; ++k) ++directed[{t[k], t[(k + 1) % 3]}];
    }
    for (const auto& [edge, count] : directed) {
        EXPECT_EQ(count, 1);
        EXPECT_EQ(directed.count({edge.second, edge.first}), 1u);
    }
    EXPECT_EQ(directed.size(), 2u * 219u);

    // Outward-facing: the reader turned the file's clockwise faces around.
    std::vector<Position> at(ids.size());
    for (const auto& [p, id] : ids) at[id] = p;
    double volume = 0;
    for (const auto& t : triangles) {
        const Position &a = at[t[0]], &b = at[t[1]], &c = at[t[2]];
        volume += a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                  a[2] * (b[0] * c[1] - b[1] * c[0]);
    }
    EXPECT_GT(volume / 6, 0.0);

    // The material's diffuse colour is the file's rgb line.
    const auto rgb = numbersAfter(readFile(dir.file(name)), "\nrgb ", ",");
    const auto kd = numbersAfter(readFile(dir.file("rock.mtl")), "\nKd ", "");
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(kd[k], rgb[k], 1e-6) << "channel " << k;
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
            for (int n = 9; n >= 0; --n) checkRock(run.dir, "ROCK" + std::to_string(n) + ".COB", n);
        }
    }
}

TEST(RenderRocks, DrawsAContactSheetOfTheExpectedSize) {
    TempDir dir;
    const auto rocks = expectedRun(7, 1, 9);
    for (int n = 1; n >= 0; --n) {
        const std::string name = n == 1 ? "R1.COB" : "R0.COB";
        const int fd = open(dir.file(name).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        const std::string& bytes = rocks[1 - n];
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    const CommandResult r =
        runCommand({std::string(TAVIMOR_SOURCE_DIR) + "/tools/render-rocks", "sheet.png", "R1.COB", "R0.COB"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string png = readFile(dir.file("sheet.png"));
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    const auto be32 = [&](std::size_t at) {
        return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16) |
               (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_EQ(be32(16), 600u);  // two cells of 300 pixels side by side
    EXPECT_EQ(be32(20), 300u);
}

}  // namespace
}  // namespace tavimor::e2e
