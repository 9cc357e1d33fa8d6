#include "terminal/console.h"

#include <cstdio>

#include "terminal/device.h"

namespace tavimor {

TerminalConsole::TerminalConsole() : device_(makeDevice()) {}

TerminalConsole::~TerminalConsole() = default;

int TerminalConsole::readKey() {
    std::fflush(stdout);
    return readDeviceKey(*device_, [this] { showLineAgain(); });
}

void TerminalConsole::putConsoleChar(char c) {
    std::fflush(stdout);
    track(std::string_view(&c, 1));
    if (putDeviceChar(*device_, c)) return;
    // Where there is no device to write to, standard output stands in.
    std::fputc(c, stdout);
    std::fflush(stdout);
}

void TerminalConsole::writeOutput(std::string_view text) {
    track(text);
    std::fwrite(text.data(), 1, text.size(), stdout);
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

void TerminalConsole::writeError(std::string_view text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void TerminalConsole::discardTypedAhead() { discardDeviceInput(*device_); }

// After a stop the screen may hold anything: the prompt and what has been
// typed so far are shown again on a fresh line.
void TerminalConsole::showLineAgain() {
    std::fputc('\n', stdout);
    std::fwrite(line_.data(), 1, column_, stdout);
    std::fflush(stdout);
}

}  // namespace tavimor
