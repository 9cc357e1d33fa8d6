// Signals and job control while the program waits for a key: the terminal
// always comes back as it was found.
#include <signal.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace tavimor::e2e {
namespace {

TEST(Signals, TerminatingSignalsRestoreTheTerminalAndEndTheProgramBySignal) {
    for (const int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGINT}) {
        for (const bool second : {false, true}) {
            ProgramRun run;
            answer(run, kFirstPrompt, second ? "1" : "");
            if (second) {
                ASSERT_TRUE(run.session.waitForOutput(kSecondPrompt));
                ASSERT_TRUE(run.session.waitForKeyAwaited());
            }
            kill(run.session.programPid(), sig);
            const Ending e = run.end();
            EXPECT_TRUE(e.signaled) << strsignal(sig);
            EXPECT_EQ(e.value, sig) << strsignal(sig);
            EXPECT_TRUE(run.terminalAsFound()) << strsignal(sig);
        }
    }
}

// Stops the program while it waits for a key and continues it; true when it
// waits raw again.
::testing::AssertionResult stopAndContinue(ProgramRun& run) {
    // Seen on the screen is not yet awaited: a stop between the echo and the
    // next read would find the terminal cooked, with nothing to show again.
    if (!run.session.waitForKeyAwaited()) return ::testing::AssertionFailure() << "no key awaited";
    kill(run.session.programPid(), SIGTSTP);
    if (!run.session.waitForStopped()) return ::testing::AssertionFailure() << "not stopped";
    if (!run.terminalAsFound()) return ::testing::AssertionFailure() << "terminal left raw while stopped";
    kill(run.session.programPid(), SIGCONT);
    if (!run.session.waitForKeyAwaited()) return ::testing::AssertionFailure() << "raw mode not taken again";
    return ::testing::AssertionSuccess();
}

TEST(Signals, SuspendGivesTheTerminalBackAndContinuingShowsThePromptAgain) {
    ProgramRun run;
    answer(run, kFirstPrompt, "");
    // As a person would: back with fg, see the prompt, and only then stop
    // again. (Two stops in one breath show the prompt once.)
    std::string shown = kBanner + kFirstPrompt;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(stopAndContinue(run));
        shown += "\r\n" + kFirstPrompt;
        ASSERT_TRUE(run.session.waitForOutput(shown)) << run.session.output();
    }
    run.session.type("3");
    answer(run, kSecondPrompt, "4");
    answer(run, kNamePrompt, "ab");
    ASSERT_TRUE(run.session.waitForOutput(kNamePrompt + "AB"));
    ASSERT_TRUE(stopAndContinue(run));
    ASSERT_TRUE(run.session.waitForOutput(kNamePrompt + "AB\r\n" + kNamePrompt + "AB")) << run.session.output();
    run.session.type("c\r");
    const Ending e = run.end();
    EXPECT_FALSE(e.signaled);
    EXPECT_EQ(e.value, 0);
    // Each return shows the current line again, with what was typed so far.
    EXPECT_EQ(run.session.output(), kBanner + kFirstPrompt + "\r\n" + kFirstPrompt + "\r\n" + kFirstPrompt + "3\r\n" +
                                        kSecondPrompt + "4\r\n" + kNamePrompt + "AB\r\n" + kNamePrompt +
                                        "ABC\r\nABC3.COB\r\nABC2.COB\r\nABC1.COB\r\nABC0.COB\r\n");
    EXPECT_TRUE(rocksFromOneSecond(run.dir, "ABC", 3, 0, 4, run.started, run.ended));
    EXPECT_TRUE(run.terminalAsFound());
}

TEST(Signals, CtrlCAndCtrlZFromTheKeyboardArePlainKeys) {
    ProgramRun run;
    // Ignored at the digit questions.
    answer(run, kFirstPrompt, "\x03\x1a");
    ASSERT_TRUE(run.session.waitForKeyAwaited());
    run.session.type("1");
    answer(run, kSecondPrompt, "\x1a\x03" "2");
    // In the file name entry Ctrl+C ends the entry like Enter.
    answer(run, kNamePrompt, "ab\x03" "cd");
    const Ending e = run.end();
    EXPECT_FALSE(e.signaled);
    EXPECT_EQ(e.value, 0);
    EXPECT_TRUE(run.session.output().ends_with(kNamePrompt + "AB\r\nAB1.COB\r\nAB0.COB\r\n"))
        << run.session.output();
    EXPECT_TRUE(rocksFromOneSecond(run.dir, "AB", 1, 0, 2, run.started, run.ended));
    EXPECT_TRUE(run.terminalAsFound());
}

TEST(Signals, SpecialKeysOnTheRealTerminal) {
    ProgramRun run;
    // Page Down quits at a digit question; arrows, F1 and Alt+X are ignored.
    answer(run, kFirstPrompt, "\x1b[A\x1bOP");
    run.session.type("\x1bx");
    ASSERT_TRUE(run.session.waitForKeyAwaited());
    run.session.type("\x1b[6~");
    const Ending e = run.end();
    EXPECT_EQ(e.value, 0);
    EXPECT_EQ(run.session.output(), kBanner + kFirstPrompt);
    EXPECT_TRUE(run.terminalAsFound());
}

}  // namespace
}  // namespace tavimor::e2e
