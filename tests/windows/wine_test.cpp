// tavimor.exe under wine: scripted runs give the Linux build's bytes, bad
// options status 2, no console the "cannot be read" message, and the
// dialogue answers keys on wine's console, driven through tmux.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace tavimor::e2e {
namespace {

const std::string kExe = TAVIMOR_WINDOWS_EXE;

// A wine prefix in the build folder, made on first use (that takes
// seconds), with a wine server kept running while the tests run.
class WinePrefix : public ::testing::Environment {
public:
    void SetUp() override {
        std::filesystem::create_directories(kPrefix);
        setenv("WINEPREFIX", kPrefix.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        // Wine reads the arguments it passes on in the locale's encoding.
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);  // no Mono or Gecko installer
        runCommand({"wineboot", "-i"}, kPrefix);
        // Let what a new prefix starts in the background settle and the
        // server end, then keep one running for the tests.
        runCommand({"wineserver", "-w"}, kPrefix);
        runCommand({"wineserver", "-p"}, kPrefix);
    }
    void TearDown() override { runCommand({"wineserver", "-k"}, kPrefix); }

private:
    const std::string kPrefix = TAVIMOR_WINE_PREFIX;
};

CommandResult runExe(const std::vector<std::string>& args, const std::string& dir) {
    std::vector<std::string> command = {"wine", kExe};
    command.insert(command.end(), args.begin(), args.end());
    return runCommand(command, dir);
}

std::vector<std::string> filesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

::testing::AssertionResult exeBuilt() {
    if (access(kExe.c_str(), R_OK) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << kExe << " is missing: `make windows` builds it";
}

TEST(Wine, ScriptedRunsWriteTheLinuxBytesInEveryFormat) {
    ASSERT_TRUE(exeBuilt());
    const std::vector<std::vector<std::string>> runs = {
        {"--seed", "1", "--count", "3", "--spike", "9", "--format", "cob,obj,glb,stl,ply"},
        {"--seed", "4294967295", "--count", "2", "--spike", "0", "--format", "cob,glb", "--name", "Flat"},
        {"--seed", "1796644800", "--count", "12", "--spike", "5", "--scale", "2,1,0.25", "--format", "obj,stl,ply,cob"},
        // Detail, smooth normals worked out several faces at a time, packed
        // files, levels of detail and the contact sheet: the same bits on
        // both.
        {"--seed", "3", "--count", "4", "--spike", "9", "--detail", "3", "--shading", "smooth", "--pack", "--format",
         "obj,glb,stl,ply", "--preview", "sheet.png", "--preview-size", "96"},
        {"--seed", "8", "--count", "2", "--spike", "6", "--detail", "2", "--shading", "smooth", "--lod", "--format",
         "obj,glb,stl,ply"},
        // Collision hulls and the base origin, in files of their own and
        // packed.
        {"--seed", "9", "--count", "2", "--spike", "9", "--detail", "2", "--collision", "--origin", "base", "--lod",
         "--format", "obj,glb,stl,ply"},
        {"--seed", "9", "--count", "3", "--detail", "1", "--collision", "--pack", "--format", "obj,glb,stl,ply"},
        // Normals worked out the slow and sure way, for a needle.
        {"--seed", "12345", "--spike", "9", "--scale", "1000,0.001,0.001", "--detail", "2", "--shading", "smooth",
         "--format", "ply"},
        // Every style's noise, cuts and colours, auto shading split at the
        // same edges, packed and on the sheet.
        {"--seed", "21", "--count", "2", "--spike", "9", "--detail", "4", "--style", "boulder", "--shading", "auto",
         "--format", "obj,glb,stl,ply", "--collision"},
        {"--seed", "22", "--count", "3", "--spike", "7", "--detail", "3", "--style", "pebble", "--shading", "auto",
         "--pack", "--format", "obj,glb,ply", "--preview", "sheet.png", "--preview-size", "96"},
        {"--seed", "23", "--count", "2", "--spike", "3", "--detail", "3", "--style", "slab", "--lod", "--format", "glb,ply"},
        {"--seed", "24", "--count", "3", "--spike", "9", "--detail", "3", "--style", "shard", "--shading", "auto",
         "--scale", "3,1,0.5", "--format", "obj,glb,ply", "--preview", "sheet.png", "--preview-size", "96"},
        // Baked maps: the atlas, the bake and the PNGs, flat and with
        // tangents, with levels of detail.
        {"--seed", "25", "--count", "2", "--detail", "2", "--style", "rubble", "--shading", "auto", "--textures", "256",
         "--lod", "--format", "obj,glb,ply"},
        {"--seed", "26", "--count", "6", "--detail", "1", "--style", "slab", "--textures", "128", "--format", "obj,ply"},
        {"--seed", "27", "--detail", "3", "--style", "classic", "--shading", "smooth", "--textures", "512",
         "--format", "glb"},
        {"--seed", "28", "--count", "3", "--detail", "1", "--style", "boulder", "--shading", "smooth", "--textures",
         "128", "--pack", "--collision", "--format", "glb,obj,ply"},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[1]);
        TempDir linux, windows;
        const CommandResult native = runTavimor(args, linux.path());
        const CommandResult wine = runExe(args, windows.path());
        ASSERT_EQ(native.status, 0) << native.errors;
        ASSERT_EQ(wine.status, 0) << wine.output << wine.errors;
        EXPECT_EQ(wine.output, native.output);
        ASSERT_EQ(filesIn(windows), filesIn(linux));
        for (const std::string& name : filesIn(linux)) {
            EXPECT_EQ(readFile(windows.file(name)), readFile(linux.file(name))) << name;
        }
    }
}

TEST(Wine, TheProgramShipsWithoutItsDebuggingSymbols) {
    ASSERT_TRUE(exeBuilt());
    const CommandResult sections = runCommand({"x86_64-w64-mingw32-objdump", "-h", kExe}, "/");
    ASSERT_EQ(sections.status, 0) << sections.errors;
    EXPECT_NE(sections.output.find(".text"), std::string::npos);
    EXPECT_EQ(sections.output.find(".debug"), std::string::npos);
}

TEST(Wine, AFolderWithANameBeyondTheCodePage) {
    ASSERT_TRUE(exeBuilt());
    // Arguments are read as typed, in UTF-16, and files opened by their
    // wide names; the folder and the name are joined with one separator.
    TempDir linux, windows;
    for (const TempDir* dir : {&linux, &windows}) ASSERT_TRUE(std::filesystem::create_directory(dir->file("石")));
    const std::vector<std::string> args = {"--seed", "8", "--count", "2", "--format", "cob,obj", "-o", "石/"};
    const CommandResult native = runTavimor(args, linux.path());
    const CommandResult wine = runExe(args, windows.path());
    ASSERT_EQ(native.status, 0) << native.errors;
    ASSERT_EQ(wine.status, 0) << wine.output << wine.errors;
    EXPECT_EQ(wine.output, native.output);
    EXPECT_EQ(native.output, "seed 8\n石/ROCK1.COB\n石/ROCK1.obj\n石/ROCK1.mtl\n石/ROCK0.COB\n石/ROCK0.obj\n石/ROCK0.mtl\n");
    for (const char* name : {"ROCK1.COB", "ROCK1.obj", "ROCK1.mtl", "ROCK0.COB", "ROCK0.obj", "ROCK0.mtl"}) {
        const std::string path = std::string("石/") + name;
        EXPECT_EQ(readFile(windows.file(path)), readFile(linux.file(path))) << name;
    }
}

TEST(Wine, ABareDriveIsItsCurrentDirectoryAndLongPathsWork) {
    ASSERT_TRUE(exeBuilt());
    // Wine's Z: is the Linux root, and its current directory on Z: the
    // directory wine was started in: "-o Z:" writes there, not to the root.
    TempDir dir;
    const CommandResult drive = runExe({"--seed", "5", "-o", "Z:"}, dir.path());
    ASSERT_EQ(drive.status, 0) << drive.errors;
    EXPECT_EQ(drive.output, "seed 5\nZ:ROCK0.COB\n");
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"ROCK0.COB"});
    EXPECT_FALSE(std::filesystem::exists("/ROCK0.COB"));
    // A folder whose whole path passes Windows' 260 characters.
    TempDir linux, windows;
    std::string deep = "d";
    while (deep.size() < 300) deep += "/" + std::string(60, 'd');
    for (const TempDir* d : {&linux, &windows}) ASSERT_TRUE(std::filesystem::create_directories(d->file(deep)));
    const std::vector<std::string> args = {"--seed", "6", "--format", "glb", "-o", deep};
    const CommandResult wine = runExe(args, windows.path());
    ASSERT_EQ(wine.status, 0) << wine.errors;
    ASSERT_EQ(runTavimor(args, linux.path()).status, 0);
    EXPECT_EQ(readFile(windows.file(deep + "/ROCK0.glb")), readFile(linux.file(deep + "/ROCK0.glb")));
}

TEST(Wine, BadOptionsGiveStatusTwoAndNoConsoleIsReported) {
    ASSERT_TRUE(exeBuilt());
    // A stem that makes a device name is refused on every platform: on
    // Windows COM1.COB is the serial port.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--count", "0"}, {"--format", "fbx"}, {"--bogus"}, {"--name", "COM", "--count", "3"},
             {"--format", "glb", "--preview", "NUL .png"}, {"--format", "glb", "--preview", "CONOUT$.png"}}) {
        TempDir dir;
        const CommandResult wine = runExe(args, dir.path());
        EXPECT_EQ(wine.status, 2) << args[0];
        EXPECT_EQ(wine.errors, runTavimor(args, dir.path()).errors) << args[0];
        EXPECT_TRUE(filesIn(dir).empty());
    }
    // No console at all (standard input from /dev/null, no terminal): the
    // dialogue ends at once instead of reading the end of input for ever.
    TempDir dir;
    const CommandResult wine = runExe({}, dir.path());
    EXPECT_EQ(wine.status, 1);
    EXPECT_NE(wine.errors.find("the console cannot be read"), std::string::npos) << wine.errors;
    EXPECT_TRUE(filesIn(dir).empty());
}

// A tmux server of our own with one 80-column window running a command.
class Tmux {
public:
    // A socket of its own for every window: a server being killed must not
    // take the next one with it.
    Tmux(const std::string& command, const std::string& dir)
        : socket_("tavimor-test-" + std::filesystem::path(dir).filename().string()) {
        run({"-f", "/dev/null", "new-session", "-d", "-x", "80", "-y", "30", "-c", dir, command});
    }
    ~Tmux() { run({"kill-server"}); }

    void keys(const std::vector<std::string>& names) {
        std::vector<std::string> args = {"send-keys"};
        args.insert(args.end(), names.begin(), names.end());
        run(args);
    }
    std::string screen() { return run({"capture-pane", "-p"}).output; }
    bool waitFor(const std::string& text, int timeoutMs = 20000) {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (screen().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    CommandResult run(std::vector<std::string> args) {
        args.insert(args.begin(), {"tmux", "-L", socket_});
        return runCommand(args, "/");
    }
    std::string socket_;
};

// The banner's first line fills all 80 columns. It reaches the console in
// one write with the line end after it, and wine's console then starts the
// next line once, as a Linux terminal does.
const std::string kWineBanner =
    "TAVIMOR.EXE                                              SaltmarshQuillonStudios\n\n"
    "              !If you have not read README.TXT, please do so now!\n"
    "                              Hit <esc> to quit\n\n";

TEST(Wine, TheDialogueOnWinesConsole) {
    ASSERT_TRUE(exeBuilt());
    const struct {
        const char* name;
        std::vector<std::vector<std::string>> answers;  // keys after each prompt
        std::string screen;                              // from the first prompt on
        int status;
        std::string stem;
        int extraRocks;
        int spike;
    } cases[] = {
        {"letters, Backspace, Enter; a letter and Up ignored at a digit question",
         {{"x", "Up", "2"}, {"5"}, {"s", "t", "BSpace", "o", "n", "e", "Enter"}},
         kFirstPrompt + "2\n" + kSecondPrompt + "5\n" + kNamePrompt + "SONE\nSONE2.COB\nSONE1.COB\nSONE0.COB\n",
         0, "SONE", 2, 5},
        {"an arrow ends the name entry",
         {{"1"}, {"0"}, {"a", "b", "Left"}},
         kFirstPrompt + "1\n" + kSecondPrompt + "0\n" + kNamePrompt + "AB\nAB1.COB\nAB0.COB\n", 0, "AB", 1, 0},
        {"q quits at a digit question", {{"q"}}, kFirstPrompt, 0, "", -1, 0},
        // On Windows COM1.COB is the serial port: never opened as a file.
        {"a device name is not opened",
         {{"1"}, {"0"}, {"c", "o", "m", "Enter"}},
         kFirstPrompt + "1\n" + kSecondPrompt + "0\n" + kNamePrompt + "COM\nCOM1.COB\nError opening file for write. Aborting.",
         1, "", -1, 0},
    };
    const std::string prompts[] = {kFirstPrompt, kSecondPrompt, kNamePrompt};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::time_t started = std::time(nullptr);
        Tmux tmux("wine " + kExe + "; echo EXIT:$?; sleep 60", dir.path());
        for (std::size_t i = 0; i < c.answers.size(); ++i) {
            // The pane keeps no blanks at either end of the prompt.
            const std::string& prompt = prompts[i];
            const std::size_t first = prompt.find_first_not_of(' ');
            ASSERT_TRUE(tmux.waitFor(prompt.substr(first, prompt.find_last_not_of(' ') + 1 - first))) << tmux.screen();
            // Give the program a moment to ask for the key.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            tmux.keys(c.answers[i]);
        }
        ASSERT_TRUE(tmux.waitFor("EXIT:")) << tmux.screen();
        const std::time_t ended = std::time(nullptr);
        std::string screen = tmux.screen();
        screen.erase(screen.find_last_not_of('\n') + 1);
        // Prompts end in a blank, which the pane does not keep at a line's end.
        std::string expected = kWineBanner + c.screen + "EXIT:" + std::to_string(c.status);
        for (std::size_t at; (at = expected.find(" \n")) != std::string::npos;) expected.erase(at, 1);
        EXPECT_EQ(screen, expected);
        if (c.extraRocks >= 0) {
            EXPECT_TRUE(rocksFromOneSecond(dir, c.stem, c.extraRocks, 0, c.spike, started, ended + 1));
        } else {
            EXPECT_TRUE(filesIn(dir).empty());
        }
    }
}

}  // namespace
}  // namespace tavimor::e2e

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new tavimor::e2e::WinePrefix);
    return RUN_ALL_TESTS();
}
