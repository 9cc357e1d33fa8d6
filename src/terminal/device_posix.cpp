#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "system/signals.h"
#include "terminal/device.h"
#include "terminal/key_reader.h"

namespace tavimor {
namespace {

// Shared with the signal handlers, through the terminal hooks; written only
// with the handled signals held back.
struct termios foundMode;
volatile std::sig_atomic_t rawFd = -1;  // the terminal while it is raw
volatile std::sig_atomic_t resumed = 0;

// Raw mode as the key reader needs it: no echo, no line editing, no signal
// keys, no input translation. Output processing is left alone, so that the
// line feeds the program writes still start new lines.
void makeRaw(struct termios& mode) {
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
}

void restoreTerminal() {
    const int fd = rawFd;
    if (fd >= 0) tcsetattr(fd, TCSANOW, &foundMode);
}

// Continued after a stop while raw: the settings found now are the ones to
// give back later.
void takeRawModeAgain() {
    const int fd = rawFd;
    if (fd < 0 || tcgetattr(fd, &foundMode) != 0) return;
    struct termios raw = foundMode;
    makeRaw(raw);
    tcsetattr(fd, TCSANOW, &raw);
    resumed = 1;
}

bool enterRawMode(int fd) {
    SignalBlock block;
    if (tcgetattr(fd, &foundMode) != 0) return false;
    struct termios raw = foundMode;
    makeRaw(raw);
    if (tcsetattr(fd, TCSANOW, &raw) != 0) return false;
    rawFd = fd;
    return true;
}

void leaveRawMode() {
    SignalBlock block;
    restoreTerminal();
    rawFd = -1;
}

bool takeResumed() {
    SignalBlock block;
    const bool was = resumed != 0;
    resumed = 0;
    return was;
}

}  // namespace

struct TerminalConsole::Device final : ByteSource, Clock {
    // The terminal, opened on first use: -2 before that, -1 when there is none.
    int ttyFd = -2;
    KeyReader reader{*this, *this};
    const std::function<void()>* afterStop = nullptr;

    int terminal() {
        if (ttyFd == -2) {
            do {
                ttyFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
            } while (ttyFd < 0 && errno == EINTR);
            if (ttyFd < 0) ttyFd = -1;
            if (ttyFd >= 0) setTerminalHooks({restoreTerminal, takeRawModeAgain});
        }
        return ttyFd;
    }

    // An interrupted wait goes on; after a stop the line is shown again.
    void interrupted() {
        if (takeResumed() && afterStop != nullptr) (*afterStop)();
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
                    interrupted();
                    continue;
                }
            }
            const ssize_t got = read(ttyFd, &byte, 1);
            if (got == 1) return ByteRead::Got;
            if (got < 0 && errno == EINTR) {
                interrupted();
                continue;
            }
            return ByteRead::Failed;
        }
    }
};

void TerminalConsole::DeviceDeleter::operator()(Device* device) const {
    if (device->ttyFd >= 0) close(device->ttyFd);
    delete device;
}

TerminalConsole::Device* makeDevice() { return new TerminalConsole::Device; }

int readDeviceKey(TerminalConsole::Device& device, const std::function<void()>& afterStop) {
    if (device.reader.hasPendingCode()) return device.reader.readKey();
    if (device.terminal() < 0 || !enterRawMode(device.ttyFd)) return -1;
    device.afterStop = &afterStop;
    const int code = device.reader.readKey();
    device.afterStop = nullptr;
    leaveRawMode();
    return code;
}

bool putDeviceChar(TerminalConsole::Device& device, char c) {
    if (device.terminal() < 0) return false;
    ssize_t written;
    do {
        written = write(device.ttyFd, &c, 1);
    } while (written < 0 && errno == EINTR);
    return written == 1;
}

void discardDeviceInput(TerminalConsole::Device& device) {
    if (device.ttyFd >= 0) tcflush(device.ttyFd, TCIFLUSH);
}

}  // namespace tavimor
