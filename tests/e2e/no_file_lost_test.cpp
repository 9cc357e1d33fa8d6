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

// Opens a reader on the fifo at path whose pipe holds only one page, so that
// a writer of a whole rock blocks half way.
int openNarrowFifo(const std::string& path) {
    if (mkfifo(path.c_str(), 0644) != 0) return -1;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd >= 0) fcntl(fd, F_SETPIPE_SZ, 4096);
    return fd;
}

bool waitForBytesInPipe(int fd, int count) {
    for (int i = 0; i < 500; ++i) {
        int held = 0;
        if (ioctl(fd, FIONREAD, &held) == 0 && held >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(NoFileLost, ATerminatingSignalWhileAFileIsWrittenRemovesThatFileOnly) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(sig));
        ProgramRun run;
        // The second rock's file is a fifo nobody empties: its write stays
        // half done for as long as the test likes.
        const int reader = openNarrowFifo(run.dir.file("STONE1.COB"));
        ASSERT_GE(reader, 0);
        answerAll(run, "2", "6", "stone\r");
        ASSERT_TRUE(waitForBytesInPipe(reader, 4096));
        kill(run.session.programPid(), sig);
        const Ending e = run.end();
        close(reader);
        EXPECT_TRUE(e.signaled);
        EXPECT_EQ(e.value, sig);
        EXPECT_TRUE(rocksFromOneSecond(run.dir, "STONE", 2, 2, 6, run.started, run.ended));
        EXPECT_FALSE(fileExists(run.dir.file("STONE1.COB")));
        EXPECT_FALSE(fileExists(run.dir.file("STONE0.COB")));
        EXPECT_TRUE(run.terminalAsFound());
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
        for (rlim_t kb = 4096; kb <= 8192; kb += 16) {
            LaunchOptions options;
            options.addressSpaceLimit = kb * 1024;
            options.arguments = m.arguments;
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
            // Keys typed ahead may be echoed after it: the terminal was never raw.
            EXPECT_NE(run.session.output().find("\aOut of memory. Aborting.\a"), std::string::npos);
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

}  // namespace
}  // namespace tavimor::e2e
