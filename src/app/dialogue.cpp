#include "app/dialogue.h"

namespace tavimor {
namespace {

constexpr int kEscape = 27;
constexpr int kBackspace = 8;

constexpr std::string_view kBanner =
    "TAVIMOR.EXE                                              SaltmarshQuillonStudios\n\n"
    "              !If you have not read README.TXT, please do so now!\n"
    "                              Hit <esc> to quit\n\n";

// The prompt right-aligned in a field of kPromptWidth characters.
std::string padPrompt(std::string_view prompt) {
    std::string line;
    if (prompt.size() < kPromptWidth) line.assign(kPromptWidth - prompt.size(), ' ');
    line.append(prompt);
    return line;
}

int upperCase(int code) { return code >= 'a' && code <= 'z' ? code - ('a' - 'A') : code; }

bool isDigit(int code) { return code >= '0' && code <= '9'; }

bool isStemCharacter(int code) {
    return (code >= 'A' && code <= 'Z') || isDigit(code) || code == '-' || code == '_';
}

// One digit question: the digit, or how the dialogue ended instead.
DialogueEnd askDigit(ConsoleIo& io, std::string_view prompt, int& answer) {
    io.writeOutput(padPrompt(prompt));
    for (;;) {
        const int code = io.readKey();
        if (code < 0) return DialogueEnd::ConsoleUnreadable;
        if (isDigit(code)) {
            const char echo[] = {static_cast<char>(code), '\n'};
            io.writeOutput(std::string_view(echo, 2));
            answer = code - '0';
            return DialogueEnd::Answered;
        }
        if (upperCase(code) == 'Q' || code == kEscape) return DialogueEnd::Quit;
    }
}

}  // namespace

RockSettings askRockSettings(ConsoleIo& io) {
    RockSettings settings;
    io.writeOutput(kBanner);
    settings.end = askDigit(io, "Number of EXTRA rocks to generate? (0-9) : ", settings.extraRocks);
    if (settings.end != DialogueEnd::Answered) return settings;
    settings.end = askDigit(io, "SPIKE value of rocks? (0-9) : ", settings.spike);
    return settings;
}

StemEntry editFileStem(ConsoleIo& io) {
    io.writeOutput(padPrompt("Enter Filename : "));
    StemEntry entry;
    std::string& stem = entry.stem;
    // An erased character gives its place back: the stem can always reach
    // kMaxStemLength characters.
    while (stem.size() < kMaxStemLength) {
        const int key = io.readKey();
        // A console that can no longer be read (the terminal hung up) must
        // not pass for Enter: that would write files nobody asked for.
        if (key < 0) {
            entry.end = DialogueEnd::ConsoleUnreadable;
            return entry;
        }
        const int code = upperCase(key);
        if (code == kEscape) {
            entry.end = DialogueEnd::Quit;
            return entry;
        }
        if (code == kBackspace) {
            if (!stem.empty()) {
                io.writeOutput("\b \b");
                stem.pop_back();
            }
            continue;
        }
        if (!isStemCharacter(code)) break;  // Enter, Ctrl+Enter and every other key
        stem.push_back(static_cast<char>(code));
        io.writeOutput(std::string_view(&stem.back(), 1));
    }
    io.putConsoleChar('\n');
    return entry;
}

}  // namespace tavimor
