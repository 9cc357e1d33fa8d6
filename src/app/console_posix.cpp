#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/console.h"
#include "app/guard.h"
#include "app/key_reader.h"

namespace tavimor {

struct TerminalConsole::State final : ByteSource, Clock {
    // The terminal, opened on first use: -2 before that, -1 when there is none.
    int ttyFd = -2;
    KeyReader reader{*this, *this};
    // The line the cursor is on, as written so far, so that it can be shown
    // again when the program comes back from a stop.
    std::string line;
    std::size_t column = 0;

    int terminal() {
        if (ttyFd == -2) {
            do {
                ttyFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
            } while (ttyFd < 0 && errno == EINTR);
            if (ttyFd < 0) ttyFd = -1;
        }
        return ttyFd;
    }

    void track(std::string_view text) {
        for (const char c : text) {
            if (c == '\n') {
                line.clear();
                column = 0;
            } else if (c == '\b') {
                if (column > 0) --column;
            } else if (c != '\a') {
                if (column < line.size()) {
                    line[column] = c;
                } else {
                    line.push_back(c);
                }
                ++column;
            }
        }
    }

    // After a stop the screen may hold anything: the prompt and what has been
    // typed so far are shown again on a fresh line.
    void showLineAgainIfResumed() {
        if (!takeResumed()) return;
        std::fputc('\n', stdout);
        std::fwrite(line.data(), 1, column, stdout);
        std::fflush(stdout);
    }

    long long nowMs() override {
        struct timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }

    ByteRead readByte(unsigned char& byte, long long deadline) override {
        for (;;) {
            if (deadline >= 0) {
                const long long left = deadline - nowMs();
                if (left <= 0) return ByteRead::TimedOut;
                struct pollfd p = {ttyFd, POLLIN, 0};
                const int ready = poll(&p, 1, static_cast<int>(left));
                if (ready == 0) return ByteRead::TimedOut;
                if (ready < 0) {
                    if (errno != EINTR) return ByteRead::Failed;
                    showLineAgainIfResumed();
                    continue;
                }
            }
            const ssize_t got = read(ttyFd, &byte, 1);
            if (got == 1) return ByteRead::Got;
            if (got < 0 && errno == EINTR) {
                showLineAgainIfResumed();
                continue;
            }
            return ByteRead::Failed;
        }
    }
};

void prepareStandardStreams() {}

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

TerminalConsole::TerminalConsole() : state_(std::make_unique<State>()) {}

TerminalConsole::~TerminalConsole() {
    if (state_->ttyFd >= 0) close(state_->ttyFd);
}

int TerminalConsole::readKey() {
    std::fflush(stdout);
    if (state_->reader.hasPendingCode()) return state_->reader.readKey();
    if (state_->terminal() < 0 || !enterRawMode(state_->ttyFd)) return -1;
    const int code = state_->reader.readKey();
    leaveRawMode();
    return code;
}

void TerminalConsole::putConsoleChar(char c) {
    std::fflush(stdout);
    state_->track(std::string_view(&c, 1));
    if (state_->terminal() >= 0) {
        ssize_t written;
        do {
            written = write(state_->ttyFd, &c, 1);
        } while (written < 0 && errno == EINTR);
        if (written == 1) return;
    }
    std::fputc(c, stdout);
}

void TerminalConsole::writeOutput(std::string_view text) {
    state_->track(text);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void TerminalConsole::writeError(std::string_view text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void TerminalConsole::discardTypedAhead() {
    if (state_->ttyFd >= 0) tcflush(state_->ttyFd, TCIFLUSH);
}

}  // namespace tavimor
