#pragma once

// Standard output and standard error as the program uses them.

namespace tavimor {

// Sets the standard streams up for the program: on Windows, binary mode, so
// that a line feed is written as it is, as on Linux.
void prepareStandardStreams();

// True when standard error goes to a terminal or console.
bool standardErrorIsTerminal();

}  // namespace tavimor
