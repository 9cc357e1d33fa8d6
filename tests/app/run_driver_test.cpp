#include "app/run_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "scripted_console.h"

namespace tavimor {
namespace {

// Runs the driver inside a fresh directory, which it leaves afterwards.
class RunDriver : public ::testing::Test {
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

TEST_F(RunDriver, UnreadableConsoleAtADigitQuestionFailsWithAMessage) {
    for (const std::string_view script : {"", "x", "3"}) {
        ScriptedConsole io(keys(script));
        EXPECT_EQ(runTavimor(io, 1), kExitFailure);
        EXPECT_NE(io.errors.find("the console cannot be read"), std::string::npos);
        EXPECT_EQ(io.discards, 0);
        EXPECT_EQ(filesWritten(), 0u);
    }
}

TEST_F(RunDriver, UnreadableConsoleInTheFileNameEntryActsLikeEnter) {
    ScriptedConsole io(keys("10ro"));
    EXPECT_EQ(runTavimor(io, 1), kExitSuccess);
    EXPECT_TRUE(io.screen.ends_with("RO\nRO1.COB\nRO0.COB\n")) << io.screen;
    EXPECT_EQ(io.discards, 1);
    EXPECT_EQ(filesWritten(), 2u);
}

TEST_F(RunDriver, QuitAndEscapeStatuses) {
    ScriptedConsole quit(keys("5q"));
    EXPECT_EQ(runTavimor(quit, 1), kExitSuccess);
    ScriptedConsole escape(keys("55ab\x1b"));
    EXPECT_EQ(runTavimor(escape, 1), kExitFailure);
    EXPECT_EQ(filesWritten(), 0u);
}

TEST_F(RunDriver, NineExtraRocksCountDownFromNine) {
    ScriptedConsole io(keys("94abcdefg"));
    EXPECT_EQ(runTavimor(io, 1), kExitSuccess);
    std::string names;
    for (int n = 9; n >= 0; --n) names += "ABCDEFG" + std::to_string(n) + ".COB\n";
    EXPECT_TRUE(io.screen.ends_with("ABCDEFG\n" + names)) << io.screen;
    EXPECT_EQ(filesWritten(), 10u);
}

}  // namespace
}  // namespace tavimor
