#pragma once

#include <cstddef>
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
    // A key code (0 to 255, or a lead code 0 or 224 followed by a second
    // code on the next call), or -1 when the console cannot be read.
    virtual int readKey() = 0;
    virtual void writeOutput(std::string_view text) = 0;
    virtual void writeError(std::string_view text) = 0;
    // Writes one character straight to the console.
    virtual void putConsoleChar(char c) = 0;
    // Drops keys typed but not read, when the dialogue is over.
    virtual void discardTypedAhead() = 0;
};

enum class DialogueEnd { Answered, Quit, ConsoleUnreadable };

struct RockSettings {
    DialogueEnd end = DialogueEnd::Answered;
    int extraRocks = 0;
    int spike = 0;
};

// Shows the banner and asks for the number of extra rocks and the spike
// value, one digit key each. Q, q or Escape quits.
RockSettings askRockSettings(ConsoleIo& io);

struct StemEntry {
    DialogueEnd end = DialogueEnd::Answered;  // Quit: Escape was pressed
    std::string stem;
};

// Line editor for the file name stem: letters (upper-cased), digits, '-'
// and '_', at most kMaxStemLength of them; Backspace erases. Any other key
// ends the entry, as does the seventh character.
StemEntry editFileStem(ConsoleIo& io);

}  // namespace tavimor
