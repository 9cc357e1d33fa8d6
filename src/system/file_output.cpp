#include "system/file_output.h"

#include "system/handler_state.h"
#include "system/platform.h"
#include "system/signals.h"

namespace tavimor {
namespace {

// The file being written, known to the signal handlers from the moment it
// is opened until it is closed and either complete or removed. Both steps
// happen with the handled signals held back: a signal never finds a file
// open but unknown, nor removes a file that is complete.
class FileBeingWritten {
public:
    explicit FileBeingWritten(const std::string& path) : path_(path) {
        SignalBlock block;
        file_ = platform::createFile(path_.c_str());
        if (file_ != platform::kNoFile) registerFileBeingWritten(path_.c_str());
    }
    ~FileBeingWritten() {
        if (file_ != platform::kNoFile) finish(false);
    }
    FileBeingWritten(const FileBeingWritten&) = delete;
    FileBeingWritten& operator=(const FileBeingWritten&) = delete;

    bool isOpen() const { return file_ != platform::kNoFile; }
    bool write(std::string_view bytes) { return platform::writeAll(file_, bytes); }

    // Closes the file and keeps it if it is complete; true when it was kept.
    bool finish(bool complete) {
        SignalBlock block;
        // A failing close can mean the data never reached the disk.
        if (!platform::closeFile(file_)) complete = false;
        file_ = platform::kNoFile;
        if (!complete) platform::removeFile(path_.c_str());
        releaseFileBeingWritten();
        return complete;
    }

private:
    const std::string& path_;
    platform::FileHandle file_ = platform::kNoFile;
};

}  // namespace

SaveResult saveFile(const std::string& path, std::string_view bytes) {
    FileBeingWritten file(path);
    if (!file.isOpen()) return SaveResult::OpenFailed;
    const bool written = file.write(bytes);
    return file.finish(written) ? SaveResult::Saved : SaveResult::WriteFailed;
}

}  // namespace tavimor
