#pragma once

#include <memory>
#include <string_view>

#include "app/dialogue.h"

namespace tavimor {

// Sets the standard streams up for the program: on Windows, binary mode, so
// that a line feed is written as it is, as on Linux.
void prepareStandardStreams();

// True when standard error goes to a terminal or console.
bool standardErrorIsTerminal();

// The dialogue's console on this platform. Keys come from the controlling
// terminal (never standard input), one key press at a time, with the
// terminal raw only while a key is awaited; text goes to standard output.
class TerminalConsole final : public ConsoleIo {
public:
    TerminalConsole();
    ~TerminalConsole() override;
    TerminalConsole(const TerminalConsole&) = delete;
    TerminalConsole& operator=(const TerminalConsole&) = delete;

    // A key code: 0 to 255 for a character, or a lead code (0 or 224) whose
    // second code the next call returns at once; -1 when the console cannot
    // be read. Standard output is flushed before the wait.
    int readKey() override;
    void writeOutput(std::string_view text) override;
    void writeError(std::string_view text) override;
    // Writes straight to the terminal, after what standard output holds.
    void putConsoleChar(char c) override;
    // Drops the keys the terminal still holds, so that nothing typed for the
    // dialogue reaches the shell afterwards.
    void discardTypedAhead() override;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace tavimor
