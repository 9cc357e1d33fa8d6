#pragma once

// Files out: a rock file is written whole or not at all.

#include <string>
#include <string_view>

namespace tavimor {

enum class SaveResult { Saved, OpenFailed, WriteFailed };

// Creates or empties the file at path and writes bytes into it, with one
// open, one write and one close. A file that could not be written completely
// is removed, and so is a file a terminating signal interrupts.
SaveResult saveFile(const std::string& path, std::string_view bytes);

// The message for a failed save, as the dialogue has always shown it.
constexpr std::string_view saveFailureMessage(SaveResult result) {
    switch (result) {
        case SaveResult::OpenFailed: return "\aError opening file for write. Aborting.\a";
        case SaveResult::WriteFailed: return "\aError writing file. Aborting.\a";
        case SaveResult::Saved: break;
    }
    return {};
}

}  // namespace tavimor
