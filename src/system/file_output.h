#pragma once

// Files out: every file is written whole under a hidden temporary name
// beside it, then renamed over its final name in one step. At every
// instant, even after SIGKILL, the final name holds either its old file or
// the new complete one; a link there is replaced, never written through.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/platform.h"

namespace tavimor {

enum class SaveResult { Saved, OpenFailed, WriteFailed };

// A directory the run writes into. Files are reached by their names in it,
// so that a file whose path fits works however long the temporary name
// beside it is. Temporary files of a name the run writes, left by a process
// that is gone (killed, or crashed), are removed as the name is written.
class OutputDirectory {
public:
    // The directory at path; "" for the current one.
    explicit OutputDirectory(std::string path);
    ~OutputDirectory();
    OutputDirectory(const OutputDirectory&) = delete;
    OutputDirectory& operator=(const OutputDirectory&) = delete;

    // A name in it, as the user reads it: "name" or "path/name".
    std::string pathOf(std::string_view name) const;

private:
    friend class ReplacingFile;
    friend class ScratchFile;
    void removeLeftoversOf(const std::string& name);

    std::string path_;
    platform::DirectoryHandle handle_;
    std::size_t longestName_ = 255;
    // Temporary names of processes that are gone: listed the first time a
    // file is written.
    std::optional<std::vector<std::string>> leftovers_;
};

// A file being written to replace the one of that name in a directory (or
// to be made there). Its bytes go to a hidden temporary file beside it,
// which a terminating signal removes, and which replaces the old file whole
// on commit. One at a time.
class ReplacingFile {
public:
    // Refuses (OpenFailed) a name held by a file the user may not write, by
    // a directory, or by a Windows device, and a directory that cannot be
    // written.
    ReplacingFile(OutputDirectory& directory, std::string name);
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

    platform::FileInDirectory final_;
    platform::FileInDirectory temporary_;
    platform::FileHandle file_ = platform::kNoFile;
    SaveResult state_ = SaveResult::Saved;
};

// The whole file at once: create, write, close, rename, plus one check.
SaveResult saveFile(OutputDirectory& directory, const std::string& name, std::string_view bytes,
                    std::string_view announce = {});

// True when path names an existing directory.
bool isExistingDirectory(const std::string& path);

// True when a file of that name can be made in the directory at path (""
// for the current one): the name within what the directory takes, and the
// whole path within what the system takes.
bool nameFitsIn(const std::string& directory, std::string_view name);

}  // namespace tavimor
