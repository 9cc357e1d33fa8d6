// Runs that end badly: a terminal that hangs up, a signal in the middle of a
// file, limits on file size and memory, keys typed past the end. Whatever
// happens, no incomplete file stays behind and the terminal comes back.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "e2e_support.h"

namespace tavimor::e2e {
namespace {

TEST(NoFileLost, HangUpInTheFileNameEntryTouchesNoFile) {
    for (const bool ignoreHangup : {false, true}) {
        SCOPED_TRACE(ignoreHangup ? "SIGHUP ignored (nohup)" : "SIGHUP as found");
        LaunchOptions options;
        options.ignoreHangup = ignoreHangup;
        ProgramRun run(options);
        const std::string old = "an older rock";
        std::ofstream(run.dir.file("AB1.COB")) << old;
        answerAll(run, "1", "5", "ab");
        ASSERT_TRUE(run.session.waitForOutput(kNamePrompt + "AB"));
        run.session.hangUp();
        const Ending e = run.end();
        if (ignoreHangup) {
            // The console cannot be read any more: the run ends as it does
            // at a digit question.
            EXPECT_FALSE(e.signaled);
            EXPECT_EQ(e.value, 1);
        } else {
            EXPECT_TRUE(e.signaled ? e.value == SIGHUP : e.value == 1) << e.signaled << " " << e.value;
        }
        EXPECT_EQ(readFile(run.dir.file("AB1.COB")), old);
        EXPECT_FALSE(fileExists(run.dir.file("AB0.COB")));
    }
}

TEST(NoFileLost, KeysTypedPastTheEndOfTheNameNeverReachTheShell) {
    ProgramRun run;
    answerAll(run, "0", "1", "boulders\r");
    EXPECT_EQ(run.end().value, 0);
    EXPECT_TRUE(run.session.output().ends_with(kNamePrompt + "BOULDER\r\nBOULDER0.COB\r\n")) << run.session.output();
    // The "s" and the Enter were typed for tavimor, not for the shell.
    EXPECT_EQ(run.session.unreadInput(), 0);
    EXPECT_TRUE(run.terminalAsFound());
}

TEST(NoFileLost, AddressSpaceLimitsEndWithTheOutOfMemoryMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
    const struct {
        const char* mode;
        std::vector<std::string> arguments;
        const char* keys;  // typed ahead, read as the questions come
    } modes[] = {
        {"dialogue", {}, "12ab\r"},
        {"scripted", {"--count", "2", "--spike", "2", "--name", "AB", "--format", "cob,glb", "--quiet"}, ""},
    };
    for (const auto& m : modes) {
        SCOPED_TRACE(m.mode);
        // Somewhere in this range the program can start but cannot allocate;
        // the band is narrow and moves with the build, so it is swept.
        int outOfMemory = 0;
        int completed = 0;
        const bool scripted = !m.arguments.empty();
        for (rlim_t kb = 4096; kb <= 8192; kb += 16) {
            LaunchOptions options;
            options.addressSpaceLimit = kb * 1024;
            options.arguments = m.arguments;
            // A scripted run reports on standard error, before main too.
            TempDir capture;
            if (scripted) options.outputFile = capture.file("output");
            ProgramRun run(options);
            run.session.type(m.keys);
            const Ending e = run.end();
            SCOPED_TRACE(std::to_string(kb) + " KiB: " + run.session.output());
            ASSERT_FALSE(e.signaled) << strsignal(e.value);
            EXPECT_EQ(run.session.output().find("terminate called"), std::string::npos);
            if (e.value == 127) continue;  // the loader could not map the program
            if (e.value == 0) {
                ++completed;
                EXPECT_EQ(readFile(run.dir.file("AB1.COB")).size(), 12252u);
                EXPECT_EQ(readFile(run.dir.file("AB0.COB")).size(), 12252u);
                continue;
            }
            ASSERT_EQ(e.value, 1);
            // The dialogue's message, or a scripted run's line on standard
            // error, never on standard output. Keys typed ahead may be echoed
            // after it: the terminal was never raw.
            EXPECT_NE(run.session.output().find(scripted ? "tavimor: out of memory\r\n" : "\aOut of memory. Aborting.\a"),
                      std::string::npos);
            if (scripted) {
                EXPECT_EQ(readFile(capture.file("output")).find("out of memory"), std::string::npos);
                EXPECT_EQ(run.session.output().find("Out of memory. Aborting."), std::string::npos);
            }
            ++outOfMemory;
            for (const char* name : {"AB1.COB", "AB0.COB", "AB1.glb", "AB0.glb"}) {
                if (fileExists(run.dir.file(name))) {
                    EXPECT_GT(readFile(run.dir.file(name)).size(), 3000u) << name;
                }
            }
        }
        EXPECT_GT(outOfMemory, 0) << "the sweep never reached the band where allocations fail";
        EXPECT_GT(completed, 0);
    }
}

TEST(NoFileLost, ATexturedRunThatFitsItsAddressSpaceWritesTheSameBytesUnderAnyLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
    // A textured run may ask for a large heap at once: under a limit below
    // it, just above it, or well above it, the run is as without one.
    const std::vector<std::string> arguments = {"--seed", "5", "--detail", "2", "--textures", "1024", "--format", "glb",
                                                "--shading", "smooth", "--quiet"};
    std::string unlimited;
    for (const rlim_t mb : {rlim_t{0}, rlim_t{120}, rlim_t{260}, rlim_t{400}}) {
        SCOPED_TRACE(std::to_string(mb) + " MiB");
        LaunchOptions options;
        if (mb > 0) options.addressSpaceLimit = mb << 20;
        options.arguments = arguments;
        TempDir capture;
        options.outputFile = capture.file("output");
        ProgramRun run(options);
        const Ending e = run.end();
        ASSERT_FALSE(e.signaled) << strsignal(e.value);
        ASSERT_EQ(e.value, 0) << run.session.output();
        const std::string rock = readFile(run.dir.file("ROCK0.glb"));
        if (mb == 0) {
            unlimited = rock;
            ASSERT_GT(unlimited.size(), 1000000u);
        } else {
            EXPECT_TRUE(rock == unlimited);
        }
    }
}

TEST(NoFileLost, MemoryRunningOutBesideTheWriterEndsTheRunOnceOnItsThread) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer brings an allocator of its own";
#endif
    // Rocks of detail 3 are made one ahead on a second thread while the
    // program's thread writes; that thread runs out at its first rocks, or
    // while earlier rocks are being written.
    for (const char* allowed : {"0", "3", "7", "15", "25"}) {
        SCOPED_TRACE(std::string("allocations allowed: ") + allowed);
        TempDir dir;
        const CommandResult r = runCommand({"env", "LD_PRELOAD=" + failBesideLibrary(),
                                            std::string("TAVIMOR_TEST_ALLOCATIONS=") + allowed, tavimorPath(),
                                            "--seed", "5", "--count", "14", "--detail", "3", "--shading", "smooth",
                                            "--format", "glb,obj", "-o", dir.path()},
                                           dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.errors, "tavimor: out of memory\n");
        // Every name printed is a whole file, and every file was named.
        std::vector<std::string> named, found;
        std::istringstream lines(r.output);
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("seed ")) named.push_back(line.substr(dir.path().size() + 1));
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename();
            found.push_back(name);
            const std::string bytes = readFile(entry.path());
            if (name.ends_with(".glb")) {
                // A glb file states its own length.
                ASSERT_GE(bytes.size(), 12u) << name;
                std::uint32_t length = 0;
                std::memcpy(&length, bytes.data() + 8, 4);
                EXPECT_EQ(length, bytes.size()) << name;
            } else if (name.ends_with(".obj")) {
                EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 'f'), 146 * 64) << name;
            }
        }
        std::sort(named.begin(), named.end());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(named, found);
        EXPECT_LT(found.size(), 14u * 3u);
    }
}

}  // namespace
}  // namespace tavimor::e2e
