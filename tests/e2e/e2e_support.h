#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <termios.h>

#include "pty_session.h"

namespace tavimor::e2e {

// A fresh directory for one run, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
// Makes a small file at path, for tests that need one to be there.
void writeFileForTest(const std::string& path);
bool fileExists(const std::string& path);

// The rock files of a run seeded with seed, from rock extraRocks down to 0.
std::vector<std::string> expectedRun(std::uint32_t seed, int extraRocks, int spike);

// Checks that the files stem<n>.COB for n = extraRocks down to lowest hold
// the rocks of one run started at some second from first to last.
::testing::AssertionResult rocksFromOneSecond(const TempDir& dir, const std::string& stem, int extraRocks,
                                              int lowest, int spike, std::time_t first, std::time_t last);

inline const std::string kBanner =
    "TAVIMOR.EXE                                              SaltmarshQuillonStudios\r\n\r\n"
    "              !If you have not read README.TXT, please do so now!\r\n"
    "                              Hit <esc> to quit\r\n\r\n";
inline const std::string kFirstPrompt = "  Number of EXTRA rocks to generate? (0-9) : ";
inline const std::string kSecondPrompt = "               SPIKE value of rocks? (0-9) : ";
inline const std::string kNamePrompt = "                            Enter Filename : ";

// The program run in a fresh directory, with the terminal's settings noted
// at the start so that every test can check they come back unchanged.
struct ProgramRun {
    explicit ProgramRun(LaunchOptions options = {});
    Ending end();
    ::testing::AssertionResult terminalAsFound() const;

    // Taken before the program starts, so that its seed is never earlier.
    std::time_t started = std::time(nullptr);
    TempDir dir;
    PtySession session;
    struct termios found;
    std::time_t ended = 0;
};

// Launch options whose program sees the clock libfaketime's FAKETIME
// describes: "@2107-03-04 05:06:07" starts there and runs on (UTC), without
// "@" it stands still, "+0 x50" runs fifty times as fast. The monotonic
// clock is faked too only when asked. No value without libfaketime.
std::optional<LaunchOptions> withClockAt(const std::string& start, bool monotonicToo = false);

// A program run to its end without a terminal, standard input closed.
struct CommandResult {
    int status = -1;  // exit status; 127 when the command cannot be started
    std::string output;
    std::string errors;
};
CommandResult runCommand(const std::vector<std::string>& args, const std::string& dir);
// tavimor itself, with arguments.
CommandResult runTavimor(const std::vector<std::string>& args, const std::string& dir);
// The path of the program under test.
std::string tavimorPath();
// A library to preload that makes malloc fail on every thread but the
// program's own after TAVIMOR_TEST_ALLOCATIONS allocations there.
std::string failBesideLibrary();

// A command started in the background without a terminal, standard input
// from /dev/null, standard output and error into files of its own.
class Background {
public:
    Background(const std::vector<std::string>& args, const std::string& dir);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    pid_t pid() const { return pid_; }
    // Waits for the end; status as runCommand gives it.
    CommandResult wait();

private:
    TempDir capture_;
    pid_t pid_ = -1;
    bool ended_ = false;
};

// Waits for the prompt and for the program to await a key, then types.
void answer(ProgramRun& run, const std::string& prompt, const std::string& keys);
// Answers the three questions in turn.
void answerAll(ProgramRun& run, const std::string& extraRocks, const std::string& spike, const std::string& name);

}  // namespace tavimor::e2e
