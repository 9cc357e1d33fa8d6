#include <cerrno>
#include <csignal>
#include <cstring>

#include "system/handler_state.h"
#include "system/signals.h"

namespace tavimor {
namespace {

constexpr int kTerminatingSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT};

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
    cleanUpBeforeTheEnd();
    actByDefault(sig);
    errno = savedErrno;
}

// Not restarted: a wait for a key comes back after a stop, so that the
// prompt can be shown again.
extern "C" void onStopSignal(int sig) {
    const int savedErrno = errno;
    giveTerminalBack();
    actByDefault(sig);
    // Continued: the handler is put back for the next stop.
    install(sig, onStopSignal, 0);
    takeTerminalAgain();
    errno = savedErrno;
}

void installUnlessIgnored(int sig, void (*handler)(int), int flags) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
    install(sig, handler, flags);
}

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

// A handler interrupts the program: nothing to hold it off from.
HandlerExclusion::HandlerExclusion() = default;
HandlerExclusion::~HandlerExclusion() = default;

}  // namespace tavimor
