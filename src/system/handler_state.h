#pragma once

// The state the signal handlers share with the program, and what they do
// with it before the program ends. Internal to system/.

namespace tavimor {

// The file at path is open for writing and incomplete: a terminating signal
// removes it. Call only with the handled signals held back; path must stay
// valid until releaseFileBeingWritten.
void registerFileBeingWritten(const char* path);
void releaseFileBeingWritten();

// Gives the terminal back and removes the file being written. Safe in a
// signal handler; called with the handled signals held back.
void cleanUpBeforeTheEnd();

// Gives the terminal back (before a stop) and takes raw mode again (after
// it). Safe in a signal handler.
void giveTerminalBack();
void takeTerminalAgain();

}  // namespace tavimor
