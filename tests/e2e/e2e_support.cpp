#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "app/seed.h"
#include "formats/cob_file.h"

namespace tavimor::e2e {

TempDir::TempDir() {
    char pattern[] = "/tmp/tavimor-e2e-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFileForTest(const std::string& path) { std::ofstream(path) << "made by a test\n"; }

bool fileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> expectedRun(std::uint32_t seed, int extraRocks, int spike) {
    Lcg generator{seed};
    std::vector<std::string> files;
    for (int n = extraRocks; n >= 0; --n) files.push_back(cobFile(makeRock(generator, spike), n));
    return files;
}

::testing::AssertionResult rocksFromOneSecond(const TempDir& dir, const std::string& stem, int extraRocks,
                                              int lowest, int spike, std::time_t first, std::time_t last) {
    std::vector<std::string> written;
    for (int n = extraRocks; n >= lowest; --n) {
        const std::string name = stem + std::to_string(n) + ".COB";
        if (!fileExists(dir.file(name))) return ::testing::AssertionFailure() << name << " is missing";
        written.push_back(readFile(dir.file(name)));
    }
    for (std::time_t t = first; t <= last; ++t) {
        const auto expected = expectedRun(seedFromCalendarTime(t), extraRocks, spike);
        if (std::equal(written.begin(), written.end(), expected.begin())) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the files are no run started between " << first << " and " << last;
}

namespace {

LaunchOptions inDirectory(LaunchOptions options, const std::string& dir) {
    options.workDir = dir;
    return options;
}

}  // namespace

ProgramRun::ProgramRun(LaunchOptions options) : session(inDirectory(std::move(options), dir.path())) {
    found = session.initialMode();
}

Ending ProgramRun::end() {
    const Ending e = session.waitForEnd();
    ended = std::time(nullptr);
    return e;
}

::testing::AssertionResult ProgramRun::terminalAsFound() const {
    if (sameMode(found, session.terminalMode())) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "terminal settings changed";
}

CommandResult runCommand(const std::vector<std::string>& args, const std::string& dir) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const int fd : {out[0], out[1], err[0], err[1]}) close(fd);
        if (chdir(dir.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    CommandResult result;
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&result.output, &result.errors};
    // Reads until both pipes close, or until the command has ended and its
    // pipes are drained: a daemon it started (wine's server) may hold them.
    int status = 0;
    bool ended = false;
    for (int open = 2; open > 0;) {
        const int ready = poll(fds, 2, ended ? 0 : 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready == 0) {
            if (ended) break;
            ended = waitpid(pid, &status, WNOHANG) == pid;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0) close(p.fd);
    }
    if (!ended) waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

CommandResult runTavimor(const std::vector<std::string>& args, const std::string& dir) {
    std::vector<std::string> command = {TAVIMOR_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    return runCommand(command, dir);
}

std::string tavimorPath() { return TAVIMOR_BINARY; }

std::string failBesideLibrary() { return TAVIMOR_FAIL_BESIDE; }

Background::Background(const std::vector<std::string>& args, const std::string& dir) {
    pid_ = fork();
    if (pid_ == 0) {
        const int nothing = open("/dev/null", O_RDONLY);
        const int out = open(capture_.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(capture_.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (nothing < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(126);
        dup2(nothing, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
}

Background::~Background() {
    if (pid_ > 0 && !ended_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

CommandResult Background::wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    ended_ = true;
    CommandResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = readFile(capture_.file("out"));
    result.errors = readFile(capture_.file("err"));
    return result;
}

std::optional<LaunchOptions> withClockAt(const std::string& start, bool monotonicToo) {
    const std::string library = TAVIMOR_FAKETIME;
    if (library.empty() || access(library.c_str(), R_OK) != 0) return std::nullopt;
    LaunchOptions options;
    options.environment = {{"LD_PRELOAD", library},
                           {"FAKETIME", start},
                           {"TZ", "UTC"},
                           {"DONT_FAKE_MONOTONIC", monotonicToo ? "0" : "1"},
                           {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    return options;
}

void answer(ProgramRun& run, const std::string& prompt, const std::string& keys) {
    ASSERT_TRUE(run.session.waitForOutput(prompt)) << run.session.output();
    ASSERT_TRUE(run.session.waitForKeyAwaited()) << "no key awaited after " << prompt;
    run.session.type(keys);
}

void answerAll(ProgramRun& run, const std::string& extraRocks, const std::string& spike, const std::string& name) {
    answer(run, kFirstPrompt, extraRocks);
    answer(run, kSecondPrompt, spike);
    answer(run, kNamePrompt, name);
}

}  // namespace tavimor::e2e
