#include "app/dialogue.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "scripted_console.h"

namespace tavimor {
namespace {

constexpr int kEsc = 27;
const std::string kBanner =
    "TAVIMOR.EXE                                              SaltmarshQuillonStudios\n\n"
    "              !If you have not read README.TXT, please do so now!\n"
    "                              Hit <esc> to quit\n\n";
const std::string kFirstPrompt = "  Number of EXTRA rocks to generate? (0-9) : ";
const std::string kSecondPrompt = "               SPIKE value of rocks? (0-9) : ";
const std::string kNamePrompt = "                            Enter Filename : ";

TEST(AskRockSettings, DigitsAnswerAndEverythingElseIsIgnoredSilently) {
    // Letters, blank, Enter, Backspace, Ctrl+C, accented letters, arrows
    // (224 72), F1 (0 59) and Home (224 71) leave no trace.
    ScriptedConsole io({'a', ' ', 13, 8, 3, 200, 224, 72, 0, 59, '7', 'x', 224, 71, 255, '0'});
    const RockSettings s = askRockSettings(io);
    EXPECT_EQ(s.end, DialogueEnd::Answered);
    EXPECT_EQ(s.extraRocks, 7);
    EXPECT_EQ(s.spike, 0);
    EXPECT_EQ(io.screen, kBanner + kFirstPrompt + "7\n" + kSecondPrompt + "0\n");
    EXPECT_EQ(io.keysLeft(), 0u);
}

TEST(AskRockSettings, QuitKeysAtEitherQuestion) {
    struct Case {
        std::deque<int> keys;
        std::string screen;
    };
    const Case cases[] = {
        {{'q'}, kBanner + kFirstPrompt},
        {{'Q'}, kBanner + kFirstPrompt},
        {{kEsc}, kBanner + kFirstPrompt},
        {{'3', 'q'}, kBanner + kFirstPrompt + "3\n" + kSecondPrompt},
        {{'3', kEsc}, kBanner + kFirstPrompt + "3\n" + kSecondPrompt},
        // Page Down, Shift+Page Down, Alt+F10 and Alt+]: second codes 81,
        // 81, 113 and 27.
        {{224, 81}, kBanner + kFirstPrompt},
        {{'1', 0, 113}, kBanner + kFirstPrompt + "1\n" + kSecondPrompt},
        {{0, 27}, kBanner + kFirstPrompt},
    };
    for (const Case& c : cases) {
        ScriptedConsole io(c.keys);
        EXPECT_EQ(askRockSettings(io).end, DialogueEnd::Quit);
        EXPECT_EQ(io.screen, c.screen);
        EXPECT_EQ(io.keysLeft(), 0u);
    }
}

TEST(AskRockSettings, SecondCodesOfDigitsAnswer) {
    // Alt+B and Alt+slash: second codes 48 and 53.
    ScriptedConsole io({0, 48, 0, 53});
    const RockSettings s = askRockSettings(io);
    EXPECT_EQ(s.end, DialogueEnd::Answered);
    EXPECT_EQ(s.extraRocks, 0);
    EXPECT_EQ(s.spike, 5);
}

TEST(AskRockSettings, UnreadableConsoleEndsAtOnce) {
    ScriptedConsole io({'x'});
    EXPECT_EQ(askRockSettings(io).end, DialogueEnd::ConsoleUnreadable);
    EXPECT_EQ(io.reads, 2);
}

struct StemResult {
    DialogueEnd end;
    std::string stem;
    std::string echo;  // what the entry wrote after its prompt
    std::size_t keysLeft;
};

StemResult stemFor(std::deque<int> keys) {
    ScriptedConsole io(std::move(keys));
    const StemEntry entry = editFileStem(io);
    EXPECT_EQ(io.screen.substr(0, kNamePrompt.size()), kNamePrompt);
    return {entry.end, entry.stem, io.screen.substr(kNamePrompt.size()), io.keysLeft()};
}

std::deque<int> keysOf(std::string_view text) { return std::deque<int>(text.begin(), text.end()); }

TEST(EditFileStem, EndsOnEveryNonStemKey) {
    struct Case {
        std::deque<int> keys;
        std::string stem;
        std::string echo;
        std::size_t keysLeft;
    };
    const Case cases[] = {
        {keysOf("stone\r"), "STONE", "STONE\n", 0},
        {keysOf("\r"), "", "\n", 0},
        {keysOf("a-b_9\n"), "A-B_9", "A-B_9\n", 0},  // Ctrl+Enter
        {keysOf("stone.cob"), "STONE", "STONE\n", 3},
        {keysOf("ab cd"), "AB", "AB\n", 2},
        {keysOf("ab\tc"), "AB", "AB\n", 1},
        {{'a', 3, 'b'}, "A", "A\n", 1},          // Ctrl+C
        {{'a', 233, 'b'}, "A", "A\n", 1},        // an accented letter
        {{'a', 224, 75, 'b'}, "A", "A\n", 2},    // Left: its second code is never read
        {{'a', 0, 59}, "A", "A\n", 1},           // F1
        {{'a', 'q', 13}, "AQ", "AQ\n", 0},       // q is a letter here
        {keysOf("abcdefgh"), "ABCDEFG", "ABCDEFG\n", 1},
    };
    for (const Case& c : cases) {
        const StemResult r = stemFor(c.keys);
        ASSERT_EQ(r.end, DialogueEnd::Answered);
        EXPECT_EQ(r.stem, c.stem);
        EXPECT_EQ(r.echo, c.echo);
        EXPECT_EQ(r.keysLeft, c.keysLeft);
    }
}

TEST(EditFileStem, BackspaceErasesAndGivesItsPlaceBack) {
    StemResult r = stemFor({8, 'a', 'b', 'c', 8, 8, 8, 8, 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k'});
    EXPECT_EQ(r.stem, "DEFGHIJ");
    EXPECT_EQ(r.echo, "ABC\b \b\b \b\b \bDEFGHIJ\n");
    EXPECT_EQ(r.keysLeft, 1u);
}

TEST(EditFileStem, EscapeOrAHungUpConsoleAbandonsTheEntryWithoutALineFeed) {
    const StemResult escape = stemFor({'a', 'b', kEsc, 'c'});
    EXPECT_EQ(escape.end, DialogueEnd::Quit);
    EXPECT_EQ(escape.echo, "AB");
    EXPECT_EQ(escape.keysLeft, 1u);
    // The script runs out: reads fail as on a terminal that hung up.
    const StemResult hungUp = stemFor({'a', 'b'});
    EXPECT_EQ(hungUp.end, DialogueEnd::ConsoleUnreadable);
    EXPECT_EQ(hungUp.echo, "AB");
}

bool isStem(const std::string& s) {
    if (s.size() > kMaxStemLength) return false;
    for (const char c : s) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_')) return false;
    }
    return true;
}

TEST(Dialogue, RandomKeysNeverBreakTheAnswers) {
    std::mt19937 random(4242);
    std::uniform_int_distribution<int> code(-1, 255);
    std::uniform_int_distribution<int> length(0, 40);
    for (int run = 0; run < 20000; ++run) {
        std::deque<int> keys;
        for (int n = length(random); n > 0; --n) keys.push_back(code(random));
        ScriptedConsole io(keys);
        const RockSettings s = askRockSettings(io);
        if (s.end == DialogueEnd::Answered) {
            ASSERT_GE(s.extraRocks, 0);
            ASSERT_LE(s.extraRocks, 9);
            ASSERT_GE(s.spike, 0);
            ASSERT_LE(s.spike, 9);
            const StemEntry entry = editFileStem(io);
            if (entry.end == DialogueEnd::Answered) {
                ASSERT_TRUE(isStem(entry.stem)) << entry.stem;
            }
        }
    }
}

}  // namespace
}  // namespace tavimor
