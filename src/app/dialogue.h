#pragma once

// The dialogue: the banner, the two digit questions and the file name
// entry, answered by single key presses at the console.

#include <cstddef>
#include <string>
#include <string_view>

#include "terminal/console.h"

namespace tavimor {

// Width of the field in which every prompt is right-aligned.
inline constexpr std::size_t kPromptWidth = 45;
// Longest file name stem.
inline constexpr std::size_t kMaxStemLength = 7;

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
