#pragma once

// What the program tells the user when something fails.

#include <string>
#include <string_view>

#include "system/file_output.h"

namespace tavimor {

// The message for a file that could not be saved, as the dialogue has
// always shown it: bells around it, no line end.
constexpr std::string_view saveFailureMessage(SaveResult result) {
    switch (result) {
        case SaveResult::OpenFailed: return "\aError opening file for write. Aborting.\a";
        case SaveResult::WriteFailed: return "\aError writing file. Aborting.\a";
        case SaveResult::Saved: break;
    }
    return {};
}

// Memory ran out: the dialogue's message, bells around it and no line end,
// and a scripted run's line on standard error.
inline constexpr std::string_view kDialogueOutOfMemory = "\aOut of memory. Aborting.\a";
inline constexpr std::string_view kScriptedOutOfMemory = "tavimor: out of memory\n";

// The message for a file its format cannot hold, or that could not be
// encoded: what keeps it from being made.
inline std::string notMadeMessage(std::string_view why) { return "cannot be made: " + std::string(why); }

}  // namespace tavimor
