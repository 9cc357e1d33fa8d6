#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavimor::e2e {

struct LaunchOptions {
    std::string workDir;
    // The terminal becomes the program's controlling terminal.
    bool controllingTerminal = true;
    // Limit on the size of files the program writes (RLIMIT_FSIZE), as set
    // by `ulimit -f`; SIGXFSZ keeps its default action.
    rlim_t fileSizeLimit = RLIM_INFINITY;
    // Limit on the program's address space (RLIMIT_AS), as set by `ulimit -v`.
    rlim_t addressSpaceLimit = RLIM_INFINITY;
    // The program starts with SIGHUP ignored, as under nohup.
    bool ignoreHangup = false;
    // Arguments after the program's name.
    std::vector<std::string> arguments;
    // Extra environment variables.
    std::vector<std::pair<std::string, std::string>> environment;
    // A command the program runs under (strace, say): the program's path and
    // arguments follow its words.
    std::vector<std::string> wrapper;
    // Standard output goes to this file instead of the terminal.
    std::string outputFile;
};

struct Ending {
    bool signaled = false;
    int value = -1;  // exit status, or the signal that ended the program
};

// The program on a fresh pseudo-terminal, started the way a shell starts a
// foreground job: a session leader holds the terminal and runs the program
// in a process group of its own, in the foreground.
class PtySession {
public:
    explicit PtySession(const LaunchOptions& options);
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    // Types bytes at the keyboard.
    void type(std::string_view bytes);
    // Waits until the screen output contains text; false on time-out.
    bool waitForOutput(std::string_view text, int timeoutMs = 5000);
    // Waits until the program waits for a key: raw, asleep in its read, and
    // with every byte typed so far read.
    bool waitForKeyAwaited(int timeoutMs = 5000);
    // Waits for the program to end, collecting its output.
    Ending waitForEnd(int timeoutMs = 10000);
    // Waits until the program is stopped (job control).
    bool waitForStopped(int timeoutMs = 5000);
    // Closes the terminal's master side, as when its window is closed.
    void hangUp();
    // Bytes typed that nobody has read from the terminal.
    int unreadInput() const;

    const std::string& output() const { return output_; }
    // The terminal's settings now, and as they were before the program started.
    struct termios terminalMode() const;
    const struct termios& initialMode() const { return initialMode_; }
    // The program itself, also when it runs under a wrapper.
    pid_t programPid();

private:
    void collect(int timeoutMs);

    int master_ = -1;
    int slave_ = -1;
    pid_t leader_ = -1;
    pid_t program_ = -1;
    bool wrapped_ = false;
    bool ended_ = false;
    std::string output_;
    struct termios initialMode_ {};
};

// The first child of a process, or -1 while it has none.
pid_t childOf(pid_t parent);

// True when two terminal settings are the same in every field.
bool sameMode(const struct termios& a, const struct termios& b);
// True when the settings are the raw mode the program uses to read a key.
bool isRawMode(const struct termios& mode);

}  // namespace tavimor::e2e
