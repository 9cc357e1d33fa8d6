#pragma once

// A line of text on a terminal that is drawn again in place as it changes,
// and taken off when something else is to be written there.

#include <string>
#include <string_view>

namespace tavimor {

// Back to the start of the line and clear it.
inline constexpr std::string_view kEraseLine = "\r\x1b[K";

// The line drawn again: from its start, the text, the rest of the old line
// cleared.
inline std::string redrawnLine(std::string_view text) {
    std::string line = "\r";
    line.append(text);
    line.append("\x1b[K");
    return line;
}

}  // namespace tavimor
