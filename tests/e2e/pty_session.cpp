#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tavimor::e2e {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// The one-letter state /proc gives a process (R, S, T, ...); 0 if none.
char processState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 0;
}

// True when the process sleeps in read(2). Where /proc does not say which
// system call a process is in, any sleep counts.
bool sleepsInRead(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    std::string first;
    if (!(in >> first)) return processState(pid) == 'S';
    return first == std::to_string(SYS_read);
}

[[noreturn]] void runProgram(int slave, const LaunchOptions& options) {
    signal(SIGTTOU, SIG_IGN);
    setpgid(0, 0);
    if (options.controllingTerminal) tcsetpgrp(slave, getpid());
    signal(SIGTTOU, SIG_DFL);
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    if (slave > 2) close(slave);
    if (!options.outputFile.empty()) {
        const int out = open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, 1) < 0) _exit(122);
        close(out);
    }
    if (chdir(options.workDir.c_str()) != 0) _exit(120);
    const struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(SIGHUP, options.ignoreHangup ? SIG_IGN : SIG_DFL);
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& w : options.wrapper) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(const_cast<char*>(options.wrapper.empty() ? "tavimor" : TAVIMOR_BINARY));
    for (const std::string& a : options.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const struct rlimit fileSize = {options.fileSizeLimit, options.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &fileSize);
    // Last, so that nothing here runs out of memory under it.
    const struct rlimit addressSpace = {options.addressSpaceLimit, options.addressSpaceLimit};
    setrlimit(RLIMIT_AS, &addressSpace);
    if (options.wrapper.empty()) {
        execv(TAVIMOR_BINARY, argv.data());
    } else {
        execvp(argv[0], argv.data());
    }
    _exit(127);
}

// The session leader: like a shell, it waits for its foreground job and
// reports how it ended (exit status, or 128 plus the signal).
[[noreturn]] void runLeader(int slave, int pidPipe, const LaunchOptions& options) {
    // Outlives a hang-up of the terminal, so that it can still report.
    signal(SIGHUP, SIG_IGN);
    setsid();
    if (options.controllingTerminal) ioctl(slave, TIOCSCTTY, 0);
    const pid_t program = fork();
    if (program == 0) {
        close(pidPipe);
        runProgram(slave, options);
    }
    setpgid(program, program);
    if (write(pidPipe, &program, sizeof program) != static_cast<ssize_t>(sizeof program)) _exit(121);
    close(pidPipe);
    int status = 0;
    while (waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) _exit(128 + WTERMSIG(status));
    _exit(WEXITSTATUS(status));
}

}  // namespace

PtySession::PtySession(const LaunchOptions& options) : wrapped_(!options.wrapper.empty()) {
    struct winsize size = {};
    size.ws_row = 25;
    size.ws_col = 80;
    if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) throw std::runtime_error("openpty failed");
    initialMode_ = terminalMode();
    int pidPipe[2];
    if (pipe(pidPipe) != 0) throw std::runtime_error("pipe failed");
    leader_ = fork();
    if (leader_ == 0) {
        close(master_);
        close(pidPipe[0]);
        runLeader(slave_, pidPipe[1], options);
    }
    close(pidPipe[1]);
    if (read(pidPipe[0], &program_, sizeof program_) != static_cast<ssize_t>(sizeof program_)) {
        throw std::runtime_error("program did not start");
    }
    close(pidPipe[0]);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtySession::~PtySession() {
    if (!ended_) {
        if (wrapped_ && childOf(program_) > 0) kill(childOf(program_), SIGKILL);
        kill(program_, SIGKILL);
        kill(leader_, SIGKILL);
        waitpid(leader_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    close(slave_);
}

pid_t childOf(pid_t parent) {
    std::ifstream in("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    pid_t child = -1;
    return in >> child ? child : -1;
}

pid_t PtySession::programPid() {
    if (wrapped_) {
        // The wrapper starts the program a moment after it starts itself.
        for (int i = 0; i < 500; ++i) {
            const pid_t child = childOf(program_);
            if (child > 0) {
                program_ = child;
                wrapped_ = false;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return program_;
}

void PtySession::hangUp() {
    close(master_);
    master_ = -1;
}

int PtySession::unreadInput() const {
    int count = -1;
    ioctl(slave_, FIONREAD, &count);
    return count;
}

void PtySession::type(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(master_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            throw std::runtime_error("cannot type");
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PtySession::collect(int timeoutMs) {
    if (master_ < 0) {
        if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    struct pollfd p = {master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return;
        output_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool PtySession::waitForOutput(std::string_view text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output_.find(text) == std::string::npos) {
        if (msLeft(deadline) == 0) return false;
        collect(std::min(msLeft(deadline), 50));
    }
    return true;
}

// A key typed while the program is between two reads meets the cooked
// terminal, which echoes it before the program sees it. So a key is typed
// only once the program sleeps in its read, raw, with nothing left unread.
bool PtySession::waitForKeyAwaited(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!isRawMode(terminalMode()) || unreadInput() != 0 || !sleepsInRead(programPid())) {
        if (msLeft(deadline) == 0) return false;
        collect(10);
    }
    return true;
}

Ending PtySession::waitForEnd(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Ending ending;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(leader_, &status, WNOHANG);
        if (done == leader_) {
            ended_ = true;
            collect(0);
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            ending.signaled = code > 128;
            ending.value = code > 128 ? code - 128 : code;
            return ending;
        }
        if (msLeft(deadline) == 0) return ending;
        collect(20);
    }
}

bool PtySession::waitForStopped(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (processState(programPid()) == 'T') return true;
        if (msLeft(deadline) == 0) return false;
        collect(10);
    }
}

struct termios PtySession::terminalMode() const {
    struct termios mode;
    std::memset(&mode, 0, sizeof mode);
    tcgetattr(slave_, &mode);
    return mode;
}

bool sameMode(const struct termios& a, const struct termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

bool isRawMode(const struct termios& mode) {
    return (mode.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (mode.c_iflag & (IXON | ICRNL)) == 0 &&
           mode.c_cc[VMIN] == 1 && mode.c_cc[VTIME] == 0;
}

}  // namespace tavimor::e2e
