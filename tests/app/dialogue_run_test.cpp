#include "app/dialogue_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "scripted_console.h"
#include "system/exit_status.h"

namespace tavimor {
namespace {

// Runs the driver inside a fresh directory, which it leaves afterwards.
class DialogueRun : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavimor-driver-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        home_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(home_);
        std::filesystem::remove_all(dir_);
    }
    static std::deque<int> keys(std::string_view text) { return std::deque<int>(text.begin(), text.end()); }
    std::size_t filesWritten() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir_), {}));
    }

    std::filesystem::path dir_;
    std::filesystem::path home_;
};

int run(ScriptedConsole& io) {
    return runDialogue(io, 1);
}

TEST_F(DialogueRun, UnreadableConsoleAnywhereFailsWithAMessageAndWritesNothing) {
    // At either digit question, and in the file name entry: a terminal that
    // hung up there must not be taken for Enter.
    for (const std::string_view script : {"", "x", "3", "10ro"}) {
        ScriptedConsole io(keys(script));
        EXPECT_EQ(run(io), kExitFailure) << script;
        EXPECT_NE(io.errors.find("the console cannot be read"), std::string::npos) << script;
        EXPECT_EQ(filesWritten(), 0u) << script;
    }
}

TEST_F(DialogueRun, QuitAndEscapeStatuses) {
    ScriptedConsole quit(keys("5q"));
    EXPECT_EQ(run(quit), kExitSuccess);
    ScriptedConsole escape(keys("55ab\x1b"));
    EXPECT_EQ(run(escape), kExitFailure);
    EXPECT_EQ(filesWritten(), 0u);
}

TEST_F(DialogueRun, NineExtraRocksCountDownFromNine) {
    ScriptedConsole io(keys("94abcdefg"));
    EXPECT_EQ(run(io), kExitSuccess);
    std::string names;
    for (int n = 9; n >= 0; --n) names += "ABCDEFG" + std::to_string(n) + ".COB\n";
    EXPECT_TRUE(io.screen.ends_with("ABCDEFG\n" + names)) << io.screen;
    EXPECT_EQ(filesWritten(), 10u);
}

}  // namespace
}  // namespace tavimor
