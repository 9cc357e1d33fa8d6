#pragma once

// Process services: what happens when the program is signalled, stopped or
// ended from outside. The handlers share the terminal's hooks, the file
// being written, what standard output holds and an end handed over by
// another thread. Beyond what they need, the program keeps as globals only
// what the process has once: standard output's state (its first failure,
// whether it is a terminal), the report for running out of memory, and the
// thread and arguments it started with.

#ifndef _WIN32
#include <csignal>
#endif

namespace tavimor {

// What the handlers do for the terminal, set by whoever switches it to raw
// mode. Both must be safe in a signal handler.
struct TerminalHooks {
    // Gives the terminal its settings back: before the program ends or
    // stops, and when memory runs out.
    void (*giveBack)() = nullptr;
    // Takes raw mode again after the program was stopped and continued
    // (POSIX only).
    void (*takeAgain)() = nullptr;
};
void setTerminalHooks(const TerminalHooks& hooks);

// On POSIX: ends the program by any signal whose default action ends it
// (but those of a crash) after giving the terminal back and removing a file
// that was being written; a closed pipe on standard output ends the run as
// a failed write does;
// SIGTSTP gives the terminal back before stopping and takes raw mode again on
// continuing. SIGXFSZ is ignored, so that a write past the file size limit
// fails like any other write instead of killing the program. Signals that
// were ignored when the program started stay ignored.
// On Windows: Ctrl+C, Ctrl+Break and closing the console window do the same
// before the program ends.
void installSignalHandlers();

// Holds the handled signals back for as long as it lives, so that a change of
// shared state is never seen half made. On Windows, where the control
// handler runs on a thread of its own, it is a lock the handler takes too.
class SignalBlock {
public:
    SignalBlock();
    ~SignalBlock();
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
#ifndef _WIN32
    sigset_t previous_;
#endif
};

}  // namespace tavimor
