#pragma once

#ifdef _WIN32
#include <cstddef>
#else
#include <csignal>
#endif

namespace tavimor {

// What the signal handlers share with the rest of the program: the terminal
// settings to give back and the file being written. Nothing else is global.

// On POSIX: ends the program by SIGTERM, SIGHUP, SIGQUIT or SIGINT after
// giving the terminal back and removing a file that was being written;
// SIGTSTP gives the terminal back before stopping and takes raw mode again on
// continuing. SIGXFSZ is ignored, so that a write past the file size limit
// fails like any other write instead of killing the program. Signals that
// were ignored when the program started stay ignored.
// On Windows: Ctrl+C, Ctrl+Break and closing the console window do the same
// before the program ends.
void installSignalHandlers();

// Holds the handled signals back for as long as it lives, so that a change of
// shared state is never seen half made.
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

#ifdef _WIN32
// Switches the console's input to raw mode (no line editing, no echo, Ctrl+C
// a key), noting the mode found for every way out.
bool enterRawMode();
#else
// Switches the terminal fd to raw mode (no echo, no line editing, no signal
// keys, no input translation), noting the settings found for every way out.
bool enterRawMode(int fd);
// True once after the program was stopped while raw and then continued.
bool takeResumed();
#endif
// Restores the settings found by enterRawMode.
void leaveRawMode();

// The file at path is open for writing and incomplete: a terminating signal
// removes it. path must stay valid until releaseOpenFile.
void guardOpenFile(const char* path);
// The file is complete (or already removed): signals leave it alone.
void releaseOpenFile();

// Where the program's reports go when memory runs out: the dialogue shows
// them on standard output, a scripted run on standard error.
enum class ReportStream { Output, Error };

// Makes every failed allocation end the program: terminal given back,
// "\aOut of memory. Aborting.\a" on the stream, exit status 1. Nothing is
// thrown, so nothing has to be allocated on the way out.
void endOnOutOfMemory(ReportStream stream);

}  // namespace tavimor
