// Standard output counts: a failure to write it fails the run in one line,
// and no name is lost to a stop or a signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace tavimor::e2e {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// tavimor with standard output on the write end of a pipe whose reader is
// gone, and SIGPIPE ignored, as a shell pipeline with `trap '' PIPE` gives.
CommandResult runIntoABrokenPipe(const std::vector<std::string>& args, const TempDir& dir, bool ignorePipe) {
    int out[2];
    if (pipe(out) != 0) return {};
    close(out[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, ignorePipe ? SIG_IGN : SIG_DFL);
        const int err = open(dir.file("errors").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int nothing = open("/dev/null", O_RDONLY);
        if (err < 0 || nothing < 0 || chdir(dir.path().c_str()) != 0) _exit(126);
        dup2(nothing, 0);
        dup2(out[1], 1);
        dup2(err, 2);
        std::vector<char*> argv = {const_cast<char*>("tavimor")};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(tavimorPath().c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    CommandResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.errors = readFile(dir.file("errors"));
    std::filesystem::remove(dir.file("errors"));
    return result;
}

TEST(StandardOutput, AnOutputThatCannotBeWrittenFailsTheRunInOneLine) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        // A shell redirection of standard output; none: a broken pipe with
        // SIGPIPE ignored, "": one with SIGPIPE as it comes.
        const char* redirect;
        const char* line;
    } cases[] = {
        {"a full disk", {"--count", "2"}, ">/dev/full", "No space left on device"},
        {"a closed standard output", {"--count", "2"}, ">&-", "Bad file descriptor"},
        {"a broken pipe with SIGPIPE ignored", {"--count", "2"}, nullptr, "Broken pipe"},
        // As under "tavimor | head -1": the signal a closed pipe sends ends
        // the run as any failed write does, not the program.
        {"a broken pipe", {"--count", "2"}, "", "Broken pipe"},
        {"--help into a full disk", {"--help"}, ">/dev/full", "No space left on device"},
        {"--version into a full disk", {"--version"}, ">/dev/full", "No space left on device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        CommandResult run;
        if (c.redirect != nullptr && *c.redirect != '\0') {
            std::vector<std::string> command = {"sh", "-c", std::string("exec \"$@\" ") + c.redirect, "sh",
                                                tavimorPath()};
            command.insert(command.end(), c.args.begin(), c.args.end());
            run = runCommand(command, dir.path());
        } else {
            run = runIntoABrokenPipe(c.args, dir, c.redirect == nullptr);
        }
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errors, std::string("tavimor: standard output: ") + c.line + "\n");
        // The seed line goes out first, at once: where it cannot, no rock
        // is made.
        if (c.args[0] == "--count") {
            EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
        }
    }
    // The dialogue asks nothing it cannot show: it ends at the first
    // question, with the same one line on the terminal.
    LaunchOptions options;
    options.outputFile = "/dev/full";
    ProgramRun run(options);
    const Ending e = run.end();
    EXPECT_FALSE(e.signaled);
    EXPECT_EQ(e.value, 1);
    EXPECT_EQ(run.session.output(), "tavimor: standard output: No space left on device\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(run.dir.path()));
    EXPECT_TRUE(run.terminalAsFound());
}

// The names a run printed after its seed, and the rock files it left: a
// file that is there had its name printed, and a printed name is there.
::testing::AssertionResult namesMatchFiles(const std::string& output, const std::string& dir) {
    std::set<std::string> printed, present;
    for (const std::string& line : linesOf(output)) {
        if (!line.starts_with("seed ")) printed.insert(line);
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename();
        if (name.ends_with(".tmp")) return ::testing::AssertionFailure() << name << " was left";
        present.insert(dir + "/" + name);
        if (readFile(dir + "/" + name).size() < 12252) return ::testing::AssertionFailure() << name << " is short";
    }
    if (printed == present) return ::testing::AssertionSuccess() << present.size() << " files";
    return ::testing::AssertionFailure() << printed.size() << " names printed for " << present.size() << " files";
}

TEST(StandardOutput, ASignalLeavesEveryCompleteFileNamedAndNoOther) {
    const struct {
        int sig;
        int afterMs;
    } cases[] = {{SIGTERM, 40}, {SIGINT, 90}, {SIGHUP, 150}, {SIGQUIT, 230}};
    for (const auto& c : cases) {
        SCOPED_TRACE(strsignal(c.sig));
        char pattern[] = "/dev/shm/tavimor-names-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        TempDir capture;
        Background run({tavimorPath(), "--count", "1000000", "-o", pattern}, capture.path());
        std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
        kill(run.pid(), c.sig);
        const CommandResult result = run.wait();
        EXPECT_EQ(result.status, 128 + c.sig);
        EXPECT_TRUE(namesMatchFiles(result.output, pattern));
        std::filesystem::remove_all(pattern);
    }
}

// SIGKILL cannot be handled: what was printed must already be out. Where
// the names go to a pipe (as here) or a file, the seed line and every name
// are written through as they are due; only a file renamed in the instant
// before the kill can be left unnamed.
TEST(StandardOutput, SIGKILLLeavesTheSeedAndTheNameOfEveryFileButTheLast) {
    const struct {
        std::vector<std::string> args;
        std::string firstFile;
    } cases[] = {{{"--seed", "9", "--count", "20000", "--style", "shard", "--detail", "2", "--format", "glb,stl"}, "ROCK19999.glb"},
                 {{"--seed", "9", "--count", "3000", "--pack", "--detail", "2", "--format", "glb,stl,ply"}, "ROCK.glb"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[3]);
        char pattern[] = "/dev/shm/tavimor-killed-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        TempDir capture;
        std::vector<std::string> command = {tavimorPath(), "-o", pattern};
        command.insert(command.end(), c.args.begin(), c.args.end());
        Background run(command, capture.path());
        const std::string first = std::string(pattern) + "/" + c.firstFile;
        for (int wait = 0; wait < 3000 && !std::filesystem::exists(first); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(std::filesystem::exists(first));
        kill(run.pid(), SIGKILL);
        const CommandResult result = run.wait();
        EXPECT_EQ(result.status, 128 + SIGKILL);
        const std::vector<std::string> lines = linesOf(result.output);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], "seed 9");
        std::set<std::string> printed(lines.begin() + 1, lines.end()), present;
        for (const auto& entry : std::filesystem::directory_iterator(pattern)) {
            if (!entry.path().filename().string().ends_with(".tmp")) present.insert(entry.path().string());
        }
        std::size_t unnamed = 0;
        for (const std::string& file : present) unnamed += printed.count(file) == 0;
        for (const std::string& name : printed) EXPECT_EQ(present.count(name), 1u) << name << " printed, not there";
        EXPECT_LE(unnamed, 1u) << present.size() << " files, " << printed.size() << " names";
        std::filesystem::remove_all(pattern);
    }
}

TEST(StandardOutput, StopsAndContinuesWhileItWritesLoseNoName) {
    char pattern[] = "/dev/shm/tavimor-stops-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl(tavimorPath().c_str(), "tavimor", "--count", "20000", "-o", pattern, nullptr);
        _exit(127);
    }
    close(out[1]);
    // Reading slowly keeps the pipe full, so the program is stopped in the
    // middle of writing names.
    std::string names;
    char buffer[4096];
    for (int round = 0; round < 6; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        kill(pid, SIGTSTP);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        kill(pid, SIGCONT);
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n > 0) names.append(buffer, static_cast<std::size_t>(n));
    }
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) names.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::vector<std::string> lines = linesOf(names);
    ASSERT_EQ(lines.size(), 20001u);
    for (int n = 19999; n >= 0; n -= 997) {
        char name[32];
        std::snprintf(name, sizeof name, "/ROCK%05d.COB", n);
        EXPECT_EQ(lines[static_cast<std::size_t>(20000 - n)], std::string(pattern) + name);
    }
    std::filesystem::remove_all(pattern);
}

TEST(StandardOutput, ProgressStaysOnTheTerminalWhenTheNamesGoElsewhere) {
    auto options = withClockAt("+0 x50", true);
    ASSERT_TRUE(options) << "libfaketime is needed (Debian package faketime)";
    char pattern[] = "/dev/shm/tavimor-progress-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    TempDir capture;
    options->arguments = {"--count", "3000", "--spike", "9", "-o", pattern};
    options->outputFile = capture.file("names");
    ProgramRun run(*options);
    const Ending e = run.session.waitForEnd(60000);
    std::filesystem::remove_all(pattern);
    EXPECT_EQ(e.value, 0);
    // Never cleared for a name: the last count is left standing, on a line
    // of its own.
    const std::string& screen = run.session.output();
    EXPECT_EQ(screen.find("\r\x1b[K"), std::string::npos);
    EXPECT_NE(screen.rfind("\r3000 of 3000 rocks, "), std::string::npos) << screen.substr(0, 200);
    EXPECT_TRUE(screen.ends_with(" rocks/s\x1b[K\r\n")) << screen.substr(screen.size() - std::min<std::size_t>(80, screen.size()));
    EXPECT_EQ(linesOf(readFile(capture.file("names"))).size(), 3001u);
}

}  // namespace
}  // namespace tavimor::e2e
