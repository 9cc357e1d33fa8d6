#pragma once

// Standard output and standard error as the program uses them. Standard
// output is held by the program itself, not by stdio: a terminating signal
// still writes out what was printed, and a failure to write it is known.

#include <string>
#include <string_view>
#include <vector>

namespace tavimor {

// Sets the standard streams up for the program. A standard stream that was
// closed stays closed: no file the program opens can take its place. On
// Windows, binary mode, so that a line feed is written as it is.
void prepareStandardStreams();

// The arguments after the program's name, as UTF-8 (on Windows read as
// typed, in UTF-16, not through the ANSI code page).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Whether the program was started with arguments; known before main, for
// what runs before it.
bool startedWithArguments();

bool standardErrorIsTerminal();
// True when standard output and standard error reach the same terminal.
bool outputSharesErrorsTerminal();

// Appends text to standard output. It goes out when the held text fills
// the buffer, at every line end where standard output is a terminal, and
// on flushOutput.
void putOutput(std::string_view text);
// Writes out what is held; false once standard output has failed.
bool flushOutput();
// "" while standard output works; else the system's words for why it
// failed, from its first failed write.
std::string outputFailure();
// Writes text to standard error at once, after what standard output holds.
void putError(std::string_view text);

}  // namespace tavimor
