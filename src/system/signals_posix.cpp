#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "system/handler_state.h"
#include "system/signals.h"

namespace tavimor {
namespace {

// The signals whose default action ends the program and that a handler can
// catch: each removes the file being written before the program ends as
// the signal says. Those that mean the program has crashed (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS) keep their default: a
// crash may leave a temporary file, which the next run that writes its
// name removes. SIGXFSZ is ignored, SIGPIPE handled on its own (below),
// and the real-time signals join these when the handlers go in.
constexpr int kTerminatingSignals[] = {
    SIGTERM, SIGHUP,  SIGQUIT,  SIGINT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};
// What another thread sends the program's thread to hand it the end. Its
// default action is to do nothing, and the handler does nothing unless an
// end was handed over.
constexpr int kHandOverSignal = SIGURG;

sigset_t handledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kTerminatingSignals) sigaddset(&set, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
    sigaddset(&set, SIGPIPE);
    sigaddset(&set, SIGTSTP);
    sigaddset(&set, kHandOverSignal);
    return set;
}

// The thread that runs main, once main has started (before it, no other
// thread runs), and the end another thread handed it.
pthread_t programsThread;
bool programsThreadKnown = false;
struct HandedOverEnd {
    volatile std::sig_atomic_t asked = 0;
    platform::Stream stream = platform::Stream::Error;
    const char* message = nullptr;
    std::size_t length = 0;
    int status = 0;
};
HandedOverEnd handedOver;

[[noreturn]] void endHere(platform::Stream stream, std::string_view message, int status) {
    cleanUpBeforeTheEnd();
    platform::writeToStream(stream, message);
    platform::exitNow(status);
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

void installWithInfo(int sig, void (*handler)(int, siginfo_t*, void*), int flags) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = handler;
    action.sa_mask = handledSignals();
    action.sa_flags = flags | SA_SIGINFO;
    sigaction(sig, &action, nullptr);
}

bool ignoredAtStart(int sig) {
    struct sigaction current;
    return sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
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

// The kernel sends SIGPIPE to a process that writes to a pipe nobody reads
// any more, as from itself; the write fails too (EPIPE), and the run ends
// as after any failed write of standard output: the file being written
// removed, the names of the files made printed as far as they can be, and
// a status of 1. Sent by another process, SIGPIPE ends the program as its
// default would, after the clean-up.
extern "C" void onPipeSignal(int sig, siginfo_t* info, void*) {
    if (info != nullptr && info->si_code == SI_USER && info->si_pid == getpid()) return;
    onTerminatingSignal(sig);
}

extern "C" void onHandOver(int) {
    if (handedOver.asked == 0) return;
    endHere(handedOver.stream, std::string_view(handedOver.message, handedOver.length), handedOver.status);
}

void installUnlessIgnored(int sig, void (*handler)(int), int flags) {
    if (!ignoredAtStart(sig)) install(sig, handler, flags);
}

}  // namespace

void installSignalHandlers() {
    programsThread = pthread_self();
    programsThreadKnown = true;
    install(kHandOverSignal, onHandOver, SA_RESTART);
    for (const int sig : kTerminatingSignals) installUnlessIgnored(sig, onTerminatingSignal, SA_RESTART);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) installUnlessIgnored(sig, onTerminatingSignal, SA_RESTART);
    if (!ignoredAtStart(SIGPIPE)) installWithInfo(SIGPIPE, onPipeSignal, SA_RESTART);
    installUnlessIgnored(SIGTSTP, onStopSignal, 0);
    std::signal(SIGXFSZ, SIG_IGN);
}

SignalBlock::SignalBlock() {
    const sigset_t set = handledSignals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalBlock::~SignalBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void endTheProgram(platform::Stream stream, std::string_view message, int status) {
    // No handler may begin its own clean-up on top of this one.
    sigset_t all;
    sigfillset(&all);
    if (!programsThreadKnown || pthread_equal(pthread_self(), programsThread)) {
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        endHere(stream, message, status);
    }
    // Another thread: the program's thread owns the terminal, standard
    // output and the file being written, and may be changing them now. It
    // takes the end over at the next moment its handlers may run, when no
    // change is half made; this thread waits to be ended with it.
    handedOver.stream = stream;
    handedOver.message = message.data();
    handedOver.length = message.size();
    handedOver.status = status;
    handedOver.asked = 1;
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    pthread_kill(programsThread, kHandOverSignal);
    for (;;) pause();
}

// A handler interrupts the program: nothing to hold it off from.
HandlerExclusion::HandlerExclusion() = default;
HandlerExclusion::~HandlerExclusion() = default;

}  // namespace tavimor
