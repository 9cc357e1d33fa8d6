// Every file is replaced whole: at every instant a rock's name holds either
// its old file or the new complete one, whatever happens to the run.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "system/file_names.h"

namespace tavimor::e2e {
namespace {

const std::string kOld = "an older rock that must survive\n";

// The hidden temporary files left in dir.
std::vector<std::string> temporaryFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename();
        if (name.starts_with(".") && name.ends_with(".tmp")) names.push_back(name);
    }
    return names;
}

void writeOld(const TempDir& dir, const std::string& name) { std::ofstream(dir.file(name)) << kOld; }

// Which file is at path: the old one, a given new one, or something else;
// a rock's bytes are too long to show when they differ.
std::string whichFile(const std::string& path, const std::string& rock) {
    const std::string bytes = readFile(path);
    if (bytes == kOld) return "old";
    if (bytes == rock) return "new";
    return "other (" + std::to_string(bytes.size()) + " bytes)";
}


// The steps of replacing a file at which strace can hold the program.
enum class Step { Created, Written, BeforeRename, AfterRename };

const char* stepName(Step step) {
    switch (step) {
        case Step::Created: return "held after creating the temporary file";
        case Step::Written: return "held after writing it";
        case Step::BeforeRename: return "held before the rename";
        case Step::AfterRename: return "held after the rename";
    }
    return "";
}

// Whether the held file was renamed into place before the signal took
// effect. A signal is handled on the way back from a system call, so one
// sent while the rename waits to start lands after it; SIGKILL ends the
// program where it stands.
bool renamedBefore(Step step, int sig) {
    return step == Step::AfterRename || (step == Step::BeforeRename && sig != SIGKILL);
}

// Which call, counting from 1 among the calls of its kind, creates, writes
// and renames the temporary file of a final name.
struct Calls {
    int create = 0;
    int write = 0;
    int rename = 0;
};

Calls callsFor(const std::string& log, const std::string& name) {
    Calls calls;
    int opens = 0, writes = 0, renames = 0;
    std::string fd;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("openat(")) {
            ++opens;
            if (calls.create == 0 && line.find("\"." + name + ".") != std::string::npos) {
                calls.create = opens;
                fd = line.substr(line.rfind("= ") + 2);
            }
        } else if (line.starts_with("write(")) {
            ++writes;
            if (calls.create != 0 && calls.write == 0 && line.starts_with("write(" + fd + ",")) calls.write = writes;
        } else if (line.starts_with("renameat(")) {
            ++renames;
            if (calls.rename == 0 && line.find(", \"" + name + "\")") != std::string::npos) calls.rename = renames;
        }
    }
    return calls;
}

// LeakSanitizer cannot work under ptrace: a sanitized build checks for
// leaks everywhere but here. (With libfaketime preloaded, AddressSanitizer
// must also let another library come first.)
const std::vector<std::string> kStrace = {"strace", "-qq", "-E",
                                          "ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0"};

std::vector<std::string> straceLogging(const std::string& log) {
    std::vector<std::string> command = kStrace;
    command.insert(command.end(), {"-o", log, "-e", "trace=openat,write,renameat"});
    return command;
}

// strace holding the program for a while at one step of replacing a file.
std::vector<std::string> straceHolding(Step step, const Calls& calls) {
    const auto [call, number, when] = [&]() -> std::tuple<std::string, int, std::string> {
        switch (step) {
            // Held as the first write to the new file starts: created, and
            // still empty. (Counting opens would not do: a preloaded
            // libfaketime opens a varying number of files of its own.)
            case Step::Created: return {"write", calls.write, "enter"};
            case Step::Written: return {"write", calls.write, "exit"};
            case Step::BeforeRename: return {"renameat", calls.rename, "enter"};
            case Step::AfterRename: return {"renameat", calls.rename, "exit"};
        }
        return {};
    }();
    std::vector<std::string> command = kStrace;
    command.insert(command.end(), {"-o", "/dev/null", "-e", "trace=" + call, "-e",
                                   "inject=" + call + ":delay_" + when + "=800000:when=" + std::to_string(number)});
    return command;
}

// Waits until the program is held where step says.
::testing::AssertionResult heldAt(Step step, const TempDir& dir, const std::string& name) {
    for (int i = 0; i < 500; ++i) {
        const std::vector<std::string> temporary = temporaryFiles(dir.path());
        // The temporary file may be renamed away between the listing and
        // this look at it.
        std::error_code gone;
        const std::size_t size =
            temporary.empty() ? 0 : static_cast<std::size_t>(std::filesystem::file_size(dir.file(temporary[0]), gone));
        const bool held = step == Step::Created        ? !temporary.empty()
                          : step == Step::AfterRename ? temporary.empty() && readFile(dir.file(name)) != kOld
                                                       : size == 12252;
        if (held) {
            // Into the hold, not just before it.
            std::this_thread::sleep_for(std::chrono::milliseconds(step == Step::BeforeRename ? 150 : 50));
            return ::testing::AssertionSuccess();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ::testing::AssertionFailure() << "never " << stepName(step);
}

// A scripted run of three rocks over three old files, held at a step of
// the middle rock, then signalled by each of signals.
void signalScriptedRunHeldAt(Step step, const std::vector<int>& signals = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGKILL}) {
    const std::vector<std::string> args = {"--seed", "12", "--count", "3"};
    std::string log;
    {
        TempDir dry;
        for (const char* name : {"ROCK2.COB", "ROCK1.COB", "ROCK0.COB"}) writeOld(dry, name);
        std::vector<std::string> command = straceLogging(dry.file("strace.log"));
        command.push_back(tavimorPath());
        command.insert(command.end(), args.begin(), args.end());
        ASSERT_EQ(runCommand(command, dry.path()).status, 0);
        log = readFile(dry.file("strace.log"));
    }
    const Calls calls = callsFor(log, "ROCK1.COB");
    ASSERT_GT(calls.create * calls.write * calls.rename, 0) << log;
    const auto rocks = expectedRun(12, 2, 5);
    for (const int sig : signals) {
        SCOPED_TRACE(std::string(stepName(step)) + ", " + strsignal(sig));
        TempDir dir;
        for (const char* name : {"ROCK2.COB", "ROCK1.COB", "ROCK0.COB"}) writeOld(dir, name);
        std::vector<std::string> command = straceHolding(step, calls);
        command.push_back(tavimorPath());
        command.insert(command.end(), args.begin(), args.end());
        Background run(command, dir.path());
        ASSERT_TRUE(heldAt(step, dir, "ROCK1.COB"));
        kill(childOf(run.pid()), sig);
        const CommandResult result = run.wait();
        EXPECT_EQ(result.status, 128 + sig) << result.errors;
        const bool renamed = renamedBefore(step, sig);
        EXPECT_EQ(whichFile(dir.file("ROCK2.COB"), rocks[0]), "new");
        EXPECT_EQ(whichFile(dir.file("ROCK1.COB"), rocks[1]), renamed ? "new" : "old");
        EXPECT_EQ(whichFile(dir.file("ROCK0.COB"), rocks[2]), "old");
        // Nothing can clean up after SIGKILL, but what was printed is out:
        // the names of the files before, not that of the one held (its
        // name goes out after its rename).
        if (sig == SIGKILL) {
            EXPECT_EQ(result.output, "seed 12\nROCK2.COB\n");
            continue;
        }
        EXPECT_EQ(temporaryFiles(dir.path()), std::vector<std::string>{});
        // Every complete file, and no other, has had its name printed.
        EXPECT_EQ(result.output, "seed 12\nROCK2.COB\n" + std::string(renamed ? "ROCK1.COB\n" : ""));
    }
}

TEST(Replace, ASignalAfterTheTemporaryFileIsCreatedKeepsTheOldFile) { signalScriptedRunHeldAt(Step::Created); }
TEST(Replace, ASignalAfterItIsWrittenKeepsTheOldFile) { signalScriptedRunHeldAt(Step::Written); }
TEST(Replace, ASignalBeforeTheRenameLandsAfterItAndSIGKILLKeepsTheOldFile) {
    signalScriptedRunHeldAt(Step::BeforeRename);
}
TEST(Replace, ASignalAfterTheRenameKeepsTheNewFileAndPrintsItsName) { signalScriptedRunHeldAt(Step::AfterRename); }
// Every other signal whose default action ends a process, but those of a
// crash: SIGPIPE here comes from another process, not from a closed pipe.
TEST(Replace, EveryOtherSignalThatEndsTheProgramKeepsTheOldFileAndNamesWhatItMade) {
    signalScriptedRunHeldAt(Step::Written, {SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,
                                            SIGPWR, SIGSTKFLT, SIGRTMIN + 3, SIGRTMAX});
}

// The dialogue, held the same way while it writes its second rock.
TEST(Replace, TheDialogueHeldAtEachStepKeepsTheOldFileAndTheTerminal) {
    const auto options = withClockAt("2026-12-07 12:00:00");
    ASSERT_TRUE(options) << "libfaketime is needed (Debian package faketime)";
    std::string log;
    {
        LaunchOptions dry = *options;
        TempDir logs;
        dry.wrapper = straceLogging(logs.file("strace.log"));
        ProgramRun run(dry);
        for (const char* name : {"AB2.COB", "AB1.COB", "AB0.COB"}) writeOld(run.dir, name);
        answerAll(run, "2", "4", "ab\r");
        ASSERT_EQ(run.end().value, 0) << run.session.output();
        log = readFile(logs.file("strace.log"));
    }
    const Calls calls = callsFor(log, "AB1.COB");
    ASSERT_GT(calls.create * calls.write * calls.rename, 0) << log;
    const auto rocks = expectedRun(1796644800u, 2, 4);
    for (const Step step : {Step::Created, Step::Written, Step::BeforeRename}) {
        for (const int sig : {SIGINT, SIGKILL}) {
            SCOPED_TRACE(std::string(stepName(step)) + ", " + strsignal(sig));
            LaunchOptions held = *options;
            held.wrapper = straceHolding(step, calls);
            ProgramRun run(held);
            for (const char* name : {"AB2.COB", "AB1.COB", "AB0.COB"}) writeOld(run.dir, name);
            answerAll(run, "2", "4", "ab\r");
            ASSERT_TRUE(heldAt(step, run.dir, "AB1.COB"));
            kill(run.session.programPid(), sig);
            const Ending e = run.end();
            EXPECT_TRUE(e.signaled);
            EXPECT_EQ(e.value, sig);
            EXPECT_EQ(whichFile(run.dir.file("AB2.COB"), rocks[0]), "new");
            EXPECT_EQ(whichFile(run.dir.file("AB1.COB"), rocks[1]), renamedBefore(step, sig) ? "new" : "old");
            EXPECT_EQ(whichFile(run.dir.file("AB0.COB"), rocks[2]), "old");
            if (sig != SIGKILL) {
                EXPECT_EQ(temporaryFiles(run.dir.path()), std::vector<std::string>{});
            }
            EXPECT_TRUE(run.terminalAsFound());
        }
    }
}

// A temporary file left by a process that was killed or crashed goes when a
// later run writes the same name; one of a process still at work, or of
// another name, stays.
TEST(Replace, ALaterRunRemovesTheTemporaryFilesOfItsNamesLeftByProcessesThatAreGone) {
    // A process that has ended: its number is free until it is given again.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    const unsigned long dead = static_cast<unsigned long>(gone), alive = static_cast<unsigned long>(getpid());
    // A sheet's name too long for the whole name in its temporary one.
    const std::string sheet = std::string(246, 's') + ".png";
    TempDir dir;
    const std::vector<std::string> leftovers = {temporaryNameFor("ROCK0.glb", dead, 255),
                                                temporaryNameFor(sheet, dead, 255)};
    const std::vector<std::string> staying = {temporaryNameFor("ROCK0.glb", alive, 255),
                                              temporaryNameFor("OTHER.glb", dead, 255),
                                              temporaryNameFor(sheet.substr(1), dead, 255), ".ROCK0.glb.x1.tmp"};
    for (const auto* names : {&leftovers, &staying}) {
        for (const std::string& name : *names) writeOld(dir, name);
    }
    ASSERT_EQ(runTavimor({"--seed", "1", "--format", "glb", "--preview", sheet, "--quiet"}, dir.path()).status, 0);
    std::vector<std::string> expected = staying, left = temporaryFiles(dir.path());
    std::sort(expected.begin(), expected.end());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, expected);
}

// Every name whose path fits the system works, however long its temporary
// name would be; one that cannot fit is refused before anything is written.
TEST(Replace, NamesUpToTheSystemsLimitsWorkAndLongerOnesAreRefusedFirst) {
    TempDir dir;
    // A directory whose path leaves room for "/ROCK0.COB" and no more
    // (PATH_MAX counts the terminating zero).
    std::string deep = dir.path();
    const std::size_t room = PATH_MAX - 1 - std::string("/ROCK0.COB").size();
    while (deep.size() < room) {
        deep.push_back('/');
        deep.append(std::min<std::size_t>(200, room - deep.size()), 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0) << deep.size();
    }
    ASSERT_EQ(deep.size(), room);
    const struct {
        std::vector<std::string> args;
        bool fits;
    } runs[] = {
        {{"-o", deep}, true},
        {{"-o", deep, "--count", "11"}, false},  // ROCK10.COB: one character longer
        {{"--format", "glb", "--preview", std::string(251, 'p') + ".png"}, true},
        {{"--format", "glb", "--preview", std::string(241, 'p') + ".png"}, true},
        {{"--format", "glb", "--preview", std::string(252, 'p') + ".png"}, false},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.args.back().size());
        TempDir work;
        std::vector<std::string> args = {"--seed", "4", "--quiet"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const CommandResult run = runTavimor(args, work.path());
        EXPECT_EQ(run.status, r.fits ? 0 : 2) << run.errors;
        EXPECT_EQ(temporaryFiles(work.path()), std::vector<std::string>{});
        if (!r.fits) {
            EXPECT_TRUE(std::filesystem::is_empty(work.path()));
            EXPECT_FALSE(fileExists(deep + "/ROCK10.COB"));
        } else if (r.args[0] == "-o") {
            EXPECT_TRUE(fileExists(deep + "/ROCK0.COB"));
        } else {
            EXPECT_TRUE(fileExists(work.file(r.args.back())));
        }
    }
}

// A tmpfs of 64 KiB, mounted over a fresh directory for as long as it lives.
class SmallDisk {
public:
    SmallDisk() { mounted_ = mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=64k") == 0; }
    ~SmallDisk() {
        if (mounted_) umount(dir_.path().c_str());
    }
    bool mounted() const { return mounted_; }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    bool mounted_ = false;
};

TEST(Replace, AFullDiskOrAFileSizeLimitKeepsTheOldFile) {
    // A full disk: the old file, and a filler that leaves less room than a
    // rock needs.
    {
        SmallDisk disk;
        if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
        writeOld(disk.dir(), "ROCK0.COB");
        std::ofstream(disk.dir().file("filler")) << std::string(64 * 1024 - 3 * 4096, 'x');
        const CommandResult run = runTavimor({"--count", "1", "--quiet"}, disk.dir().path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errors, "ROCK0.COB: \aError writing file. Aborting.\a\n");
        EXPECT_EQ(readFile(disk.dir().file("ROCK0.COB")), kOld);
        EXPECT_EQ(temporaryFiles(disk.dir().path()), std::vector<std::string>{});
    }
    // ulimit -f 8, in the dialogue.
    LaunchOptions options;
    options.fileSizeLimit = 8 * 1024;
    ProgramRun run(options);
    writeOld(run.dir, "STONE2.COB");
    answerAll(run, "2", "3", "stone\r");
    EXPECT_EQ(run.end().value, 1);
    EXPECT_TRUE(run.session.output().ends_with("STONE2.COB\r\n\aError writing file. Aborting.\a"));
    EXPECT_EQ(readFile(run.dir.file("STONE2.COB")), kOld);
    EXPECT_EQ(temporaryFiles(run.dir.path()), std::vector<std::string>{});
    EXPECT_TRUE(run.terminalAsFound());
}

TEST(Replace, WhatStandsAtTheNameIsReplacedNeverWrittenThrough) {
    const auto rock = expectedRun(6, 0, 5)[0];
    const struct {
        const char* what;
        void (*setUp)(const TempDir&);
        void (*check)(const TempDir&);
    } cases[] = {
        {"a link to a file",
         [](const TempDir& d) {
             writeOld(d, "target");
             ASSERT_EQ(symlink("target", d.file("ROCK0.COB").c_str()), 0);
         },
         [](const TempDir& d) { EXPECT_EQ(readFile(d.file("target")), kOld); }},
        {"a dangling link",
         [](const TempDir& d) { ASSERT_EQ(symlink("nowhere", d.file("ROCK0.COB").c_str()), 0); },
         [](const TempDir& d) { EXPECT_FALSE(fileExists(d.file("nowhere"))); }},
        {"a hard link",
         [](const TempDir& d) {
             writeOld(d, "other");
             ASSERT_EQ(link(d.file("other").c_str(), d.file("ROCK0.COB").c_str()), 0);
         },
         [](const TempDir& d) { EXPECT_EQ(readFile(d.file("other")), kOld); }},
        {"a fifo nobody reads", [](const TempDir& d) { ASSERT_EQ(mkfifo(d.file("ROCK0.COB").c_str(), 0644), 0); },
         [](const TempDir&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        c.setUp(dir);
        const CommandResult run = runTavimor({"--seed", "6", "--quiet"}, dir.path());
        EXPECT_EQ(run.status, 0) << run.errors;
        struct stat info;
        ASSERT_EQ(lstat(dir.file("ROCK0.COB").c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(whichFile(dir.file("ROCK0.COB"), rock), "new");
        c.check(dir);
    }
}

TEST(Replace, AFileTheUserMayNotWriteStaysAndTheNewFileGetsANewFilesMode) {
    TempDir dir;
    writeOld(dir, "ROCK1.COB");
    ASSERT_EQ(chmod(dir.file("ROCK1.COB").c_str(), 0444), 0);
    writeOld(dir, "ROCK0.COB");
    ASSERT_EQ(chmod(dir.file("ROCK0.COB").c_str(), 0600), 0);
    // Root may write any file: the run is made as nobody where the test is
    // root, in a directory nobody may write.
    std::vector<std::string> command = {"sh", "-c", "umask 027; exec \"$@\"", "sh"};
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(dir.file("ROCK0.COB").c_str(), 65534, 65534), 0);
        command.insert(command.end(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    command.insert(command.end(), {tavimorPath(), "--seed", "2", "--count", "2", "--quiet"});
    // The name of a file the user may not write is refused as it always was.
    CommandResult run = runCommand(command, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors, "ROCK1.COB: \aError opening file for write. Aborting.\a\n");
    EXPECT_EQ(readFile(dir.file("ROCK1.COB")), kOld);
    EXPECT_EQ(readFile(dir.file("ROCK0.COB")), kOld);
    EXPECT_EQ(temporaryFiles(dir.path()), std::vector<std::string>{});
    // A file the user may write is replaced by a file with the mode a new
    // file gets, not the old one's.
    ASSERT_EQ(chmod(dir.file("ROCK1.COB").c_str(), 0666), 0);
    run = runCommand(command, dir.path());
    EXPECT_EQ(run.status, 0) << run.errors;
    struct stat info;
    ASSERT_EQ(stat(dir.file("ROCK0.COB").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    // A link to a file the user may not write is the link's to replace:
    // the link is judged, not what it points to, which stays as it was.
    ASSERT_EQ(chmod(dir.file("ROCK1.COB").c_str(), 0444), 0);
    const std::string target = readFile(dir.file("ROCK1.COB"));
    ASSERT_EQ(symlink("ROCK1.COB", dir.file("LINK0.COB").c_str()), 0);
    command.resize(command.size() - 5);
    command.insert(command.end(), {"--seed", "2", "--name", "LINK", "--quiet"});
    run = runCommand(command, dir.path());
    EXPECT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(lstat(dir.file("LINK0.COB").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(whichFile(dir.file("LINK0.COB"), expectedRun(2, 0, 5)[0]), "new");
    EXPECT_EQ(readFile(dir.file("ROCK1.COB")), target);
}

TEST(Replace, TwoRunsAtOnceLeaveEveryFileWholeFromOneOfThem) {
    const auto first = expectedRun(100, 199, 5);
    const auto second = expectedRun(200, 199, 5);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir dir;
        Background a({tavimorPath(), "--seed", "100", "--count", "200", "--name", "R"}, dir.path());
        Background b({tavimorPath(), "--seed", "200", "--count", "200", "--name", "R"}, dir.path());
        EXPECT_EQ(a.wait().status, 0);
        EXPECT_EQ(b.wait().status, 0);
        for (int n = 0; n < 200; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "R%03d.COB", n);
            const std::string bytes = readFile(dir.file(name));
            EXPECT_TRUE(bytes == first[199 - n] || bytes == second[199 - n]) << name << ": " << bytes.size() << " bytes";
        }
        EXPECT_EQ(temporaryFiles(dir.path()), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace tavimor::e2e
