#pragma once

// The state the signal handlers share with the program, and what they do
// with it before the program ends. Internal to system/.

#include <string_view>

#include "system/platform.h"

namespace tavimor {

// The temporary file may exist: a terminating signal removes it. file must
// stay valid until releaseTemporaryFile.
void registerTemporaryFile(const platform::FileInDirectory* file);
void releaseTemporaryFile();

// The name of the file being renamed into place: it goes out on standard
// output the moment the rename is done, and never if it is not. First make
// room; then, under one HandlerExclusion, stage the name, rename, and
// commit or drop it; then let it out.
void makeRoomToStage(std::string_view text);
void stageOutput(std::string_view text);
void commitStagedOutput();
void dropStagedOutput();
void letCommittedOutputOut();

// What a terminating signal or the end of memory does last: gives the
// terminal back, removes the temporary file (or, when it was already
// renamed into place, lets its name out), and writes out what standard
// output holds. Safe in a signal handler.
void cleanUpBeforeTheEnd();

// Ends the program from any thread, with message (static text) on stream
// and the status: the clean-up above, then the message, as a terminating
// signal would, but on the program's own thread, with every other thread
// kept from the shared state: on POSIX another thread hands the end over
// to the program's thread by a signal and waits for it; on Windows the
// lock the handlers share is taken for good. Safe where memory has run out.
[[noreturn]] void endTheProgram(platform::Stream stream, std::string_view message, int status);

// Gives the terminal back (before a stop) and takes raw mode again (after
// it). Safe in a signal handler.
void giveTerminalBack();
void takeTerminalAgain();

// Keeps the handlers from seeing a change half made where they can run at
// any moment beside the program: the control handler's own thread on
// Windows. Where a handler interrupts the program instead (POSIX), each
// change is a single store or is told apart by the handler, and this costs
// nothing.
class HandlerExclusion {
public:
    HandlerExclusion();
    ~HandlerExclusion();
    HandlerExclusion(const HandlerExclusion&) = delete;
    HandlerExclusion& operator=(const HandlerExclusion&) = delete;
};

}  // namespace tavimor
