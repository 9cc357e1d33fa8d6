#include "app/console.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#if __has_include(<stdio_ext.h>)
#include <stdio_ext.h>
#endif

#include "app/key_decoder.h"

namespace tavimor {
namespace {

// The terminal, opened on first use: -2 before that, -1 when there is none.
int ttyFd = -2;

// The settings found when raw mode was taken, restored when it is left and
// by the signal handlers. rawActive says whether raw mode is in force.
struct termios foundMode;
volatile std::sig_atomic_t rawActive = 0;

// A second code waiting for the next readKey call (-1: none).
int pendingCode = -1;

// Bytes read from the terminal that belong to keys not yet returned. The
// terminal is read one byte at a time, so keys typed ahead stay in its queue.
std::array<unsigned char, 64> keyBytes;
std::size_t keyByteCount = 0;
KeyDecoderState decoderState;

constexpr int kTerminatingSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT};

void makeRaw(struct termios& mode) {
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
}

// Both are also used by the signal handlers: they make only
// async-signal-safe calls.
bool enterRawMode() {
    if (tcgetattr(ttyFd, &foundMode) != 0) return false;
    struct termios raw = foundMode;
    makeRaw(raw);
    rawActive = 1;
    if (tcsetattr(ttyFd, TCSANOW, &raw) != 0) {
        rawActive = 0;
        return false;
    }
    return true;
}

void leaveRawMode() {
    tcsetattr(ttyFd, TCSANOW, &foundMode);
    rawActive = 0;
}

// Lets the signal take its default action now (ending or stopping the
// program); returns if that action lets the program go on.
void actByDefault(int sig) {
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

void installHandler(int sig, void (*handler)(int)) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(sig, &action, nullptr);
}

// A terminating signal: give the terminal back, then end by that signal.
extern "C" void onTerminatingSignal(int sig) {
    const int savedErrno = errno;
    if (rawActive != 0) leaveRawMode();
    actByDefault(sig);
    errno = savedErrno;
}

// Suspension: give the terminal back before stopping; on continuing, take
// the settings found then as the ones to restore, and go raw again.
extern "C" void onStopSignal(int sig) {
    const int savedErrno = errno;
    const bool wasRaw = rawActive != 0;
    if (wasRaw) leaveRawMode();
    actByDefault(sig);
    // Continued.
    installHandler(sig, onStopSignal);
    if (wasRaw) enterRawMode();
    errno = savedErrno;
}

// Handlers go in only where the signal is not ignored, so that a run started
// with a signal ignored keeps it ignored.
void installHandlerUnlessIgnored(int sig, void (*handler)(int)) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
    installHandler(sig, handler);
}

int terminal() {
    if (ttyFd == -2) {
        do {
            ttyFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        } while (ttyFd < 0 && errno == EINTR);
        if (ttyFd < 0) {
            ttyFd = -1;
        } else {
            for (const int sig : kTerminatingSignals) installHandlerUnlessIgnored(sig, onTerminatingSignal);
            installHandlerUnlessIgnored(SIGTSTP, onStopSignal);
        }
    }
    return ttyFd;
}

long long nowMs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

enum class ByteRead { Got, TimedOut, Failed };

// Reads one more byte into keyBytes, waiting until deadline (-1: no
// limit). Interrupted waits and reads are retried.
ByteRead readByte(long long deadline) {
    for (;;) {
        if (deadline >= 0) {
            const long long left = deadline - nowMs();
            if (left <= 0) return ByteRead::TimedOut;
            struct pollfd p = {ttyFd, POLLIN, 0};
            const int ready = poll(&p, 1, static_cast<int>(left));
            if (ready == 0) return ByteRead::TimedOut;
            if (ready < 0) {
                if (errno == EINTR) continue;
                return ByteRead::Failed;
            }
        }
        const ssize_t got = read(ttyFd, keyBytes.data() + keyByteCount, 1);
        if (got == 1) {
            ++keyByteCount;
            return ByteRead::Got;
        }
        if (got < 0 && errno == EINTR) continue;
        return ByteRead::Failed;
    }
}

enum class Take { Key, Skipped, NeedMore };

// Decodes the first key in keyBytes and removes its bytes.
Take takeKey(bool atEnd, int& code) {
    const KeyDecode d =
        decodeKey(std::span<const unsigned char>(keyBytes.data(), keyByteCount), atEnd, decoderState);
    if (d.needMore) return Take::NeedMore;
    std::memmove(keyBytes.data(), keyBytes.data() + d.consumed, keyByteCount - d.consumed);
    keyByteCount -= d.consumed;
    if (d.count == 0) return Take::Skipped;
    code = d.codes[0];
    if (d.count == 2) pendingCode = d.codes[1];
    return Take::Key;
}

int waitForKey() {
    long long deadline = -1;  // end of the wait for the rest of a key
    bool atEnd = false;       // no more bytes will come for the bytes held
    bool failed = false;
    int code = 0;
    for (;;) {
        while (keyByteCount > 0) {
            // Only a runaway sequence can fill the buffer; it is taken as it stands.
            const Take t = takeKey(atEnd || keyByteCount == keyBytes.size(), code);
            if (t == Take::Key) return code;
            if (t == Take::NeedMore) break;
            deadline = -1;  // bytes were dropped; what follows gets a wait of its own
        }
        if (failed) return -1;
        atEnd = false;
        if (keyByteCount == 0 && !decoderState.dropping) {
            deadline = -1;
        } else if (deadline < 0) {
            deadline = nowMs() + kEscapeWaitMs;
        }
        switch (readByte(deadline)) {
            case ByteRead::Got:
                break;
            case ByteRead::TimedOut:
                atEnd = true;
                deadline = -1;
                decoderState.dropping = false;  // what was being dropped has ended
                break;
            case ByteRead::Failed:
                atEnd = true;
                failed = true;
                break;
        }
    }
}

}  // namespace

int readKey() {
    std::fflush(stdout);
    if (pendingCode >= 0) {
        const int code = pendingCode;
        pendingCode = -1;
        return code;
    }
    if (terminal() < 0 || !enterRawMode()) return -1;
    const int code = waitForKey();
    leaveRawMode();
    return code;
}

void putConsoleChar(char c) {
    std::fflush(stdout);
    if (terminal() >= 0) {
        ssize_t written;
        do {
            written = write(ttyFd, &c, 1);
        } while (written < 0 && errno == EINTR);
        if (written == 1) return;
    }
    std::fputc(c, stdout);
}

void writeOutput(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void writeError(std::string_view text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void discardBufferedInput() {
#if __has_include(<stdio_ext.h>)
    __fpurge(stdin);
#else
    std::fflush(stdin);
#endif
}

}  // namespace tavimor
