#pragma once

#include <string_view>

namespace tavimor {

// Waits for one key press on the controlling terminal (never standard
// input) and returns its code: 0 to 255 for a character, or a lead code
// (0 or 224) whose second code the next call returns at once. -1 means the
// console cannot be read. Standard output is flushed before the wait, and the
// terminal is in raw mode only while a key is awaited.
int readKey();

// Writes one character straight to the terminal, after what standard output
// holds. Without a terminal the character goes to standard output.
void putConsoleChar(char c);

// Writes text to standard output.
void writeOutput(std::string_view text);

// Writes a message to standard error, after flushing standard output.
void writeError(std::string_view text);

// Drops whatever the standard input stream has buffered. The terminal's own
// queue of typed keys is left alone.
void discardBufferedInput();

}  // namespace tavimor
