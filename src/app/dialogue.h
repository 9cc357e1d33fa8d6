#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavimor {

// Width of the field in which every prompt is right-aligned.
inline constexpr std::size_t kPromptWidth = 45;
// Longest file name stem.
inline constexpr std::size_t kMaxStemLength = 7;

// What the dialogue needs of the console; the program uses the terminal,
// tests a script.
class ConsoleIo {
public:
    virtual ~ConsoleIo() = default;
    virtual int readKey() = 0;
    virtual void writeOutput(std::string_view text) = 0;
    virtual void writeError(std::string_view text) = 0;
    virtual void putConsoleChar(char c) = 0;
    virtual void discardBufferedInput() = 0;
};

enum class DialogueEnd { Answered, Quit, ConsoleUnreadable };

struct RockSettings {
    DialogueEnd end = DialogueEnd::Answered;
    int extraRocks = 0;
    int spike = 0;
};

// The prompt right-aligned in a field of kPromptWidth characters.
std::string padPrompt(std::string_view prompt);

// Shows the banner and asks for the number of extra rocks and the spike
// value, one digit key each. Q, q or Escape quits.
RockSettings askRockSettings(ConsoleIo& io);

// Line editor for the file name stem: letters (upper-cased), digits, '-'
// and '_', at most kMaxStemLength of them; Backspace erases. Any other key
// ends the entry, as does the seventh character. Fills buffer (room for
// kMaxStemLength + 1) with the stem and a terminating zero and returns the
// position of the terminator; no value when Escape was pressed.
std::optional<std::size_t> editFileStem(ConsoleIo& io, char* buffer);

}  // namespace tavimor
