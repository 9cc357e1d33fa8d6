#include "app/dialogue.h"

namespace tavimor {
namespace {

constexpr int kEscape = 27;
constexpr int kBackspace = 8;

constexpr std::string_view kBanner =
    "TAVIMOR.EXE                                              SaltmarshQuillonStudios\n\n"
    "              !If you have not read README.TXT, please do so now!\n"
    "                              Hit <esc> to quit\n\n";

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

std::string padPrompt(std::string_view prompt) {
    std::string line;
    if (prompt.size() < kPromptWidth) line.assign(kPromptWidth - prompt.size(), ' ');
    line.append(prompt);
    return line;
}

RockSettings askRockSettings(ConsoleIo& io) {
    RockSettings settings;
    io.writeOutput(kBanner);
    settings.end = askDigit(io, "Number of EXTRA rocks to generate? (0-9) : ", settings.extraRocks);
    if (settings.end != DialogueEnd::Answered) return settings;
    settings.end = askDigit(io, "SPIKE value of rocks? (0-9) : ", settings.spike);
    return settings;
}

std::optional<std::size_t> editFileStem(ConsoleIo& io, char* buffer) {
    io.writeOutput(padPrompt("Enter Filename : "));
    std::size_t length = 0;
    // An erased character gives its place back: the stem can always reach
    // kMaxStemLength characters.
    while (length < kMaxStemLength) {
        const int code = upperCase(io.readKey());
        if (code == kEscape) return std::nullopt;
        if (code == kBackspace) {
            if (length > 0) {
                io.writeOutput("\b \b");
                --length;
            }
            continue;
        }
        if (!isStemCharacter(code)) break;  // Enter, Ctrl+Enter and every other key
        buffer[length++] = static_cast<char>(code);
        io.writeOutput(std::string_view(buffer + length - 1, 1));
    }
    io.putConsoleChar('\n');
    buffer[length] = '\0';
    return length;
}

}  // namespace tavimor
