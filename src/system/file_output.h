#pragma once

// Files out: every file is written whole under a hidden temporary name
// beside it, then renamed over its final name in one step. At every
// instant, even after SIGKILL, the final name holds either its old file or
// the new complete one; a link there is replaced, never written through.

#include <string>
#include <string_view>

#include "system/platform.h"

namespace tavimor {

enum class SaveResult { Saved, OpenFailed, WriteFailed };

// A file being written to replace the one at path (or to be made there).
// Its bytes go to ".NAME.<process>.tmp" beside it, which a terminating
// signal removes, and which replaces path whole on commit. One at a time.
class ReplacingFile {
public:
    // Refuses (OpenFailed) a name held by a file the user may not write, by
    // a directory, or by a Windows device, and a directory that cannot be
    // written.
    explicit ReplacingFile(std::string path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Saved while everything so far has gone well.
    SaveResult state() const { return state_; }
    void write(std::string_view bytes);
    // Puts the file in place of the old one. announce (may be empty) goes to
    // standard output at that very moment: a terminating signal neither
    // loses it for a file that made it nor prints it for one that did not.
    SaveResult commit(std::string_view announce = {});

private:
    void abandon();

    std::string path_;
    std::string temporary_;
    platform::FileHandle file_ = platform::kNoFile;
    SaveResult state_ = SaveResult::Saved;
};

// The whole file at once: create, write, close, rename, plus one check.
SaveResult saveFile(const std::string& path, std::string_view bytes, std::string_view announce = {});

// True when path names an existing directory.
bool isExistingDirectory(const std::string& path);

}  // namespace tavimor
