// tavimor with arguments: no dialogue, the same rocks as the dialogue for the
// same seed, every bad option refused before anything is written.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/options.h"
#include "e2e_support.h"
#include "system/exit_status.h"

namespace tavimor::e2e {
namespace {

std::vector<std::string> filesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ScriptedRun, WritesTheSameBytesAsTheDialogueStartedInThatSecond) {
    const struct {
        const char* clock;  // frozen: the dialogue's seed is this second
        std::uint32_t seed;
        int extraRocks;
        int spike;
    } cases[] = {
        {"2026-12-07 12:00:00", 1796644800u, 2, 5},
        {"2001-09-09 01:46:40", 1000000000u, 9, 9},
        {"2107-03-04 05:06:07", 33691071u, 0, 0},  // the low 32 bits of 4328658367
        {"1970-01-01 00:00:01", 1u, 4, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clock);
        const auto options = withClockAt(c.clock);
        ASSERT_TRUE(options) << "libfaketime is needed (Debian package faketime)";
        ProgramRun dialogue(*options);
        answerAll(dialogue, std::to_string(c.extraRocks), std::to_string(c.spike), "stone\r");
        ASSERT_EQ(dialogue.end().value, 0) << dialogue.session.output();

        TempDir scripted;
        const CommandResult run = runTavimor({"--seed", std::to_string(c.seed), "--count",
                                              std::to_string(c.extraRocks + 1), "--spike", std::to_string(c.spike),
                                              "--name", "STONE"},
                                             scripted.path());
        ASSERT_EQ(run.status, 0) << run.errors;
        std::string names = "seed " + std::to_string(c.seed) + "\n";
        for (int n = c.extraRocks; n >= 0; --n) names += "STONE" + std::to_string(n) + ".COB\n";
        EXPECT_EQ(run.output, names);
        ASSERT_EQ(filesIn(scripted), filesIn(dialogue.dir));
        for (const std::string& name : filesIn(scripted)) {
            EXPECT_EQ(readFile(scripted.file(name)), readFile(dialogue.dir.file(name))) << name;
        }
    }
}

TEST(ScriptedRun, BadOptionsExitWithTwoAndWriteNothing) {
    const struct {
        std::vector<std::string> args;
        std::string named;  // what the one line must name
    } cases[] = {
        // What each value may be is checked in the option parser's own test;
        // here, what a bad command line does to the run.
        {{"--count", "0"}, "--count"},
        {{"--count"}, "--count"},
        {{"--count", "2", "--count", "3"}, "--count"},
        {{"-o", "no-such-directory"}, "-o"},
        {{"--colour", "red"}, "--colour"},
        {{"rocks"}, "rocks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        TempDir dir;
        const CommandResult run = runTavimor(c.args, dir.path());
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_EQ(run.output, "");
        const std::string firstLine = run.errors.substr(0, run.errors.find('\n') + 1);
        EXPECT_TRUE(firstLine.starts_with("tavimor: ")) << run.errors;
        EXPECT_NE(firstLine.find(c.named), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.substr(firstLine.size()), kUsage);
        EXPECT_TRUE(filesIn(dir).empty());
    }
}

TEST(ScriptedRun, NamesAndWhatIsPrinted) {
    const struct {
        std::vector<std::string> args;
        std::string printed;
    } cases[] = {
        {{"--seed", "5"}, "seed 5\nROCK0.COB\n"},
        {{"--seed", "5", "--count", "11", "--name", "a-B_1", "--quiet"}, ""},
        {{"--seed", "0", "--count", "2", "--format", "stl,obj"}, "seed 0\nROCK1.stl\nROCK1.obj\nROCK1.mtl\nROCK0.stl\nROCK0.obj\nROCK0.mtl\n"},
        {{"--seed", "9", "-o", "out", "--format", "ply,glb"}, "seed 9\nout/ROCK0.ply\nout/ROCK0.glb\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
        const CommandResult run = runTavimor(c.args, dir.path());
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.output, c.printed);
        EXPECT_EQ(run.errors, "");
    }
    // Eleven rocks: the numbers are padded to the width of 10.
    TempDir dir;
    ASSERT_EQ(runTavimor({"--count", "11", "--name", "a-B_1", "--quiet"}, dir.path()).status, 0);
    std::vector<std::string> expected;
    for (int n = 0; n <= 10; ++n) expected.push_back("a-B_1" + std::string(n < 10 ? "0" : "") + std::to_string(n) + ".COB");
    EXPECT_EQ(filesIn(dir), expected);
}

TEST(ScriptedRun, AFileThatFailsEndsTheRunAndKeepsTheCompletedOnes) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("ROCK1.COB").c_str(), 0755), 0);
    const CommandResult run = runTavimor({"--seed", "3", "--count", "3"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "seed 3\nROCK2.COB\n");
    EXPECT_EQ(run.errors, "ROCK1.COB: \aError opening file for write. Aborting.\a\n");
    EXPECT_EQ(readFile(dir.file("ROCK2.COB")), expectedRun(3, 2, 5)[0]);
    EXPECT_FALSE(fileExists(dir.file("ROCK0.COB")));
}

TEST(ScriptedRun, ShowsProgressOnATerminalForLongRunsAndClearsIt) {
    const struct {
        std::vector<std::string> arguments;
        std::string total;
        std::vector<std::string> names;  // the last names printed
    } runs[] = {
        {{"--count", "3000", "--spike", "9"}, "3000", {"/ROCK0000.COB"}},
        // A packed run counts over all its files, and each file's name is
        // printed long after it was begun, over the progress line.
        {{"--count", "3000", "--detail", "1", "--pack", "--format", "glb,stl"}, "6000", {"/ROCK.glb", "/ROCK.stl"}},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.arguments[r.arguments.size() - 1]);
        // A clock fifty times as fast makes a run of a fraction of a second
        // last seconds for the program; tmpfs keeps it short.
        auto options = withClockAt("+0 x50", true);
        ASSERT_TRUE(options) << "libfaketime is needed (Debian package faketime)";
        char pattern[] = "/dev/shm/tavimor-progress-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        options->arguments = r.arguments;
        options->arguments.insert(options->arguments.end(), {"-o", pattern});
        ProgramRun run(*options);
        const Ending e = run.session.waitForEnd(60000);
        std::filesystem::remove_all(pattern);
        EXPECT_EQ(e.value, 0);
        const std::string& screen = run.session.output();
        EXPECT_NE(screen.find(" of " + r.total + " rocks, "), std::string::npos) << screen.substr(0, 200);
        EXPECT_NE(screen.find(" rocks/s"), std::string::npos);
        // Cleared before every name and at the end: every name starts a line.
        for (const std::string& name : r.names) {
            const std::size_t at = screen.find(std::string(pattern) + name + "\r\n");
            ASSERT_NE(at, std::string::npos) << name;
            EXPECT_TRUE(screen.substr(0, at).ends_with("\r\n") || screen.substr(0, at).ends_with("\r\x1b[K")) << name;
        }
        EXPECT_TRUE(screen.ends_with(std::string(pattern) + r.names.back() + "\r\n"));
        EXPECT_EQ(screen.find("rocks/s" + std::string(pattern)), std::string::npos);
        // The count never starts again.
        long long last = 0;
        for (std::size_t at = screen.find('\r'); at != std::string::npos; at = screen.find('\r', at + 1)) {
            const long long done = std::atoll(screen.c_str() + at + 1);
            if (done == 0) continue;
            EXPECT_GE(done, last);
            last = done;
        }
    }
}

}  // namespace
}  // namespace tavimor::e2e
