#include "terminal/console.h"

#include "system/standard_streams.h"
#include "terminal/device.h"

namespace tavimor {

TerminalConsole::TerminalConsole() : device_(makeDevice()) {}

TerminalConsole::~TerminalConsole() = default;

int TerminalConsole::readKey() {
    // A question nobody can see is not asked: a console whose output fails
    // cannot be read either.
    if (!flushOutput()) return -1;
    return readDeviceKey(*device_, [this] { showLineAgain(); });
}

void TerminalConsole::putConsoleChar(char c) {
    flushOutput();
    track(std::string_view(&c, 1));
    if (putDeviceChar(*device_, c)) return;
    // Where there is no device to write to, standard output stands in.
    putOutput(std::string_view(&c, 1));
    flushOutput();
}

void TerminalConsole::writeOutput(std::string_view text) {
    track(text);
    putOutput(text);
}

void TerminalConsole::track(std::string_view text) {
    for (const char c : text) {
        if (c == '\n') {
            line_.clear();
            column_ = 0;
        } else if (c == '\b') {
            if (column_ > 0) --column_;
        } else if (c != '\a') {
            if (column_ < line_.size()) {
                line_[column_] = c;
            } else {
                line_.push_back(c);
            }
            ++column_;
        }
    }
}

void TerminalConsole::writeError(std::string_view text) { putError(text); }

void TerminalConsole::discardTypedAhead() { discardDeviceInput(*device_); }

// After a stop the screen may hold anything: the prompt and what has been
// typed so far are shown again on a fresh line.
void TerminalConsole::showLineAgain() {
    putOutput("\n");
    putOutput(std::string_view(line_.data(), column_));
    flushOutput();
}

}  // namespace tavimor
