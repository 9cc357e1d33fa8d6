// The real program on a pseudo-terminal, driven like a person at the
// keyboard: keys in; screen, files and exit status out; and the terminal's
// settings as they were found.
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace tavimor::e2e {
namespace {

// The run ended with status 0 after showing the banner and the answers
// (screen is what follows the name prompt), wrote the rocks of one second
// and gave the terminal back as it was found.
void expectAnsweredRun(ProgramRun& run, const std::string& answers, const std::string& screen, const std::string& stem,
                       int extraRocks, int spike) {
    const Ending e = run.end();
    EXPECT_FALSE(e.signaled);
    EXPECT_EQ(e.value, 0);
    EXPECT_EQ(run.session.output(), kBanner + kFirstPrompt + answers.substr(0, 1) + "\r\n" + kSecondPrompt +
                                        answers.substr(1, 1) + "\r\n" + kNamePrompt + screen);
    EXPECT_TRUE(rocksFromOneSecond(run.dir, stem, extraRocks, 0, spike, run.started, run.ended));
    EXPECT_TRUE(run.terminalAsFound());
}

TEST(EndToEnd, TypicalRun) {
    ProgramRun run;
    // An old file of the same name is replaced in full.
    std::ofstream(run.dir.file("STONE0.COB")) << std::string(20000, 'x');
    answer(run, kFirstPrompt, "2");
    // Raw while the key is awaited, with output processing untouched.
    EXPECT_EQ(run.session.terminalMode().c_oflag, run.found.c_oflag);
    answer(run, kSecondPrompt, "5");
    answer(run, kNamePrompt, "stone\r");
    expectAnsweredRun(run, "25", "STONE\r\nSTONE2.COB\r\nSTONE1.COB\r\nSTONE0.COB\r\n", "STONE", 2, 5);
}

TEST(EndToEnd, QuitKeysAtEitherDigitQuestion) {
    for (const std::string key : {"q", "Q", "\x1b"}) {
        for (const bool second : {false, true}) {
            ProgramRun run;
            if (second) answer(run, kFirstPrompt, "4");
            answer(run, second ? kSecondPrompt : kFirstPrompt, key);
            const Ending e = run.end();
            EXPECT_FALSE(e.signaled);
            EXPECT_EQ(e.value, 0) << key;
            const std::string screen = kBanner + kFirstPrompt + (second ? "4\r\n" + kSecondPrompt : "");
            EXPECT_EQ(run.session.output(), screen);
            EXPECT_TRUE(run.terminalAsFound());
        }
    }
}

TEST(EndToEnd, EscapeInTheFileNameEntry) {
    ProgramRun run;
    answerAll(run, "1", "2", "ab");
    answer(run, kNamePrompt + "AB", "\x1b");
    const Ending e = run.end();
    EXPECT_EQ(e.value, 1);
    EXPECT_EQ(run.session.output(), kBanner + kFirstPrompt + "1\r\n" + kSecondPrompt + "2\r\n" + kNamePrompt + "AB");
    EXPECT_FALSE(fileExists(run.dir.file("AB1.COB")));
    EXPECT_TRUE(run.terminalAsFound());
}

TEST(EndToEnd, KeysTypedAheadInOneBurstAreAllUsed) {
    ProgramRun run;
    // Backspace (DEL) and arrows mixed in; the seventh character ends the
    // entry and the keys after it are never used.
    answer(run, kFirstPrompt, "09x\x7f" "abcdefgh\x1b[A");
    expectAnsweredRun(run, "09", "X\b \bABCDEFG\r\nABCDEFG0.COB\r\n", "ABCDEFG", 0, 9);
}

TEST(EndToEnd, EmptyStemGivesDigitOnlyNames) {
    ProgramRun run;
    answerAll(run, "1", "0", "\r");
    EXPECT_EQ(run.end().value, 0);
    EXPECT_TRUE(run.session.output().ends_with(kNamePrompt + "\r\n1.COB\r\n0.COB\r\n"));
    EXPECT_TRUE(rocksFromOneSecond(run.dir, "", 1, 0, 0, run.started, run.ended));
}

TEST(EndToEnd, DirectoryInTheWayOfAnOutputFile) {
    ProgramRun run;
    ASSERT_EQ(mkdir(run.dir.file("STONE1.COB").c_str(), 0755), 0);
    answerAll(run, "2", "7", "stone\r");
    EXPECT_EQ(run.end().value, 1);
    EXPECT_TRUE(run.session.output().ends_with(
        "STONE\r\nSTONE2.COB\r\nSTONE1.COB\r\n\aError opening file for write. Aborting.\a"))
        << run.session.output();
    EXPECT_TRUE(rocksFromOneSecond(run.dir, "STONE", 2, 2, 7, run.started, run.ended));
    EXPECT_FALSE(fileExists(run.dir.file("STONE0.COB")));
    EXPECT_TRUE(run.terminalAsFound());
}

TEST(EndToEnd, NoControllingTerminalEndsAtOnceWithAMessage) {
    LaunchOptions options;
    options.controllingTerminal = false;
    ProgramRun run(options);
    const Ending e = run.end();
    EXPECT_FALSE(e.signaled);
    EXPECT_EQ(e.value, 1);
    EXPECT_TRUE(run.session.output().starts_with(kBanner + kFirstPrompt));
    EXPECT_NE(run.session.output().find("the console cannot be read"), std::string::npos) << run.session.output();
}

TEST(EndToEnd, SeedKeepsWorkingAfter2106) {
    const auto options = withClockAt("@2107-03-04 05:06:07");
    ASSERT_TRUE(options) << "libfaketime is needed (Debian package faketime)";
    ProgramRun run(*options);
    answerAll(run, "1", "9", "future\r");
    EXPECT_EQ(run.end().value, 0);
    // 2107-03-04 05:06:07 UTC; the faked clock runs on from there.
    const std::time_t start = 4328658367;
    EXPECT_TRUE(rocksFromOneSecond(run.dir, "FUTURE", 1, 0, 9, start, start + (run.ended - run.started) + 2));
}

}  // namespace
}  // namespace tavimor::e2e
