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
                ASSERT_TRUE(run.session.waitForRawMode(true));
            }
            kill(run.session.programPid(), sig);
            const Ending e = run.end();
            EXPECT_TRUE(e.signaled) << strsignal(sig);
            EXPECT_EQ(e.value, sig) << strsignal(sig);
            EXPECT_TRUE(run.terminalAsFound()) << strsignal(sig);
        }
    }
}

TEST(Signals, SuspendRestoresTheTerminalAndContinuingTakesRawModeAgain) {
    ProgramRun run;
    answer(run, kFirstPrompt, "");
    for (int round = 0; round < 2; ++round) {
        kill(run.session.programPid(), SIGTSTP);
        ASSERT_TRUE(run.session.waitForStopped());
        EXPECT_TRUE(run.terminalAsFound()) << "while stopped";
        kill(run.session.programPid(), SIGCONT);
        ASSERT_TRUE(run.session.waitForRawMode(true)) << "raw mode not taken again";
    }
    run.session.type("3");
    answer(run, kSecondPrompt, "q");
    const Ending e = run.end();
    EXPECT_FALSE(e.signaled);
    EXPECT_EQ(e.value, 0);
    EXPECT_EQ(run.session.output(), kBanner + kFirstPrompt + "3\r\n" + kSecondPrompt);
    EXPECT_TRUE(run.terminalAsFound());
}

TEST(Signals, CtrlCAndCtrlZFromTheKeyboardArePlainKeys) {
    ProgramRun run;
    // Ignored at the digit questions.
    answer(run, kFirstPrompt, "\x03\x1a");
    ASSERT_TRUE(run.session.waitForRawMode(true));
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
    ASSERT_TRUE(run.session.waitForRawMode(true));
    run.session.type("\x1b[6~");
    const Ending e = run.end();
    EXPECT_EQ(e.value, 0);
    EXPECT_EQ(run.session.output(), kBanner + kFirstPrompt);
    EXPECT_TRUE(run.terminalAsFound());
}

}  // namespace
}  // namespace tavimor::e2e
