#include "app/guard.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace tavimor {
namespace {

// Shared with the handlers; written only with the handled signals held back.
struct termios foundMode;
volatile std::sig_atomic_t rawFd = -1;  // the terminal while it is raw
volatile std::sig_atomic_t resumed = 0;
const char* volatile openFilePath = nullptr;

constexpr int kTerminatingSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT};

// Raw mode as the key reader needs it. Output processing is left alone, so
// that the line feeds the program writes still start new lines.
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

sigset_t handledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kTerminatingSignals) sigaddset(&set, sig);
    sigaddset(&set, SIGTSTP);
    return set;
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

void install(int sig, void (*handler)(int), int flags) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    action.sa_mask = handledSignals();
    action.sa_flags = flags;
    sigaction(sig, &action, nullptr);
}

extern "C" void onTerminatingSignal(int sig) {
    const int savedErrno = errno;
    restoreTerminal();
    if (const char* path = openFilePath) unlink(path);
    actByDefault(sig);
    errno = savedErrno;
}

// Not restarted: a wait for a key comes back after a stop, so that the
// prompt can be shown again.
extern "C" void onStopSignal(int sig) {
    const int savedErrno = errno;
    const int fd = rawFd;
    restoreTerminal();
    actByDefault(sig);
    // Continued: the settings found now are the ones to give back later.
    install(sig, onStopSignal, 0);
    if (fd >= 0 && tcgetattr(fd, &foundMode) == 0) {
        struct termios raw = foundMode;
        makeRaw(raw);
        tcsetattr(fd, TCSANOW, &raw);
        resumed = 1;
    }
    errno = savedErrno;
}

void installUnlessIgnored(int sig, void (*handler)(int), int flags) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
    install(sig, handler, flags);
}

void writeAll(int fd, const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

[[noreturn]] void outOfMemory(int fd) {
    {
        SignalBlock block;
        restoreTerminal();
        rawFd = -1;
        if (const char* path = openFilePath) unlink(path);
        openFilePath = nullptr;
    }
    std::fflush(stdout);
    constexpr char kMessage[] = "\aOut of memory. Aborting.\a";
    writeAll(fd, kMessage, sizeof kMessage - 1);
    _exit(1);
}

void outOfMemoryOnOutput() { outOfMemory(STDOUT_FILENO); }
void outOfMemoryOnError() { outOfMemory(STDERR_FILENO); }

// Libraries build constant objects before main (the option parser's
// validators, for one), and those allocate too. This handler is in place
// before any of them; main chooses the stream later.
struct HandlerBeforeStartUp {
    HandlerBeforeStartUp() { std::set_new_handler(outOfMemoryOnOutput); }
};
__attribute__((init_priority(101))) const HandlerBeforeStartUp handlerBeforeStartUp;

}  // namespace

void installSignalHandlers() {
    for (const int sig : kTerminatingSignals) installUnlessIgnored(sig, onTerminatingSignal, SA_RESTART);
    installUnlessIgnored(SIGTSTP, onStopSignal, 0);
    std::signal(SIGXFSZ, SIG_IGN);
}

SignalBlock::SignalBlock() {
    const sigset_t set = handledSignals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalBlock::~SignalBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

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

void guardOpenFile(const char* path) { openFilePath = path; }

void releaseOpenFile() { openFilePath = nullptr; }

void endOnOutOfMemory(ReportStream stream) {
    std::set_new_handler(stream == ReportStream::Output ? outOfMemoryOnOutput : outOfMemoryOnError);
}

}  // namespace tavimor
