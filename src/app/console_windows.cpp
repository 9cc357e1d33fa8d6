#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "app/console.h"
#include "app/guard.h"

namespace tavimor {

// On Windows the console itself reports keys the way the dialogue counts
// them: _getch gives a character's code, or a lead code (0, or 224 from the
// classic console; Windows Terminal sends 0 for both) and then the second
// code at once.
struct TerminalConsole::State {
    bool unreadable = false;
};

void prepareStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool standardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

TerminalConsole::TerminalConsole() : state_(std::make_unique<State>()) {}

TerminalConsole::~TerminalConsole() = default;

int TerminalConsole::readKey() {
    std::fflush(stdout);
    // Without a console (input redirected) _getch would report the end of
    // input for ever; once unreadable, always unreadable.
    if (state_->unreadable || !enterRawMode()) {
        state_->unreadable = true;
        return -1;
    }
    const int code = _getch();
    leaveRawMode();
    if (code < 0 || code > 255) {  // EOF: the end of input
        state_->unreadable = true;
        return -1;
    }
    return code;
}

void TerminalConsole::putConsoleChar(char c) {
    std::fflush(stdout);
    std::fputc(c, stdout);
    std::fflush(stdout);
}

void TerminalConsole::writeOutput(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void TerminalConsole::writeError(std::string_view text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void TerminalConsole::discardTypedAhead() {
    if (state_->unreadable) return;
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

}  // namespace tavimor
