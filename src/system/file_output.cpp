#include "system/file_output.h"

#include "system/file_names.h"
#include "system/handler_state.h"
#include "system/signals.h"

namespace tavimor {

ReplacingFile::ReplacingFile(std::string path) : path_(std::move(path)), temporary_(temporaryPathFor(path_)) {
    if (platform::reservesDeviceNames() && isWindowsDeviceName(fileNameOf(path_))) {
        state_ = SaveResult::OpenFailed;
        return;
    }
    if (platform::checkReplaceable(path_.c_str()) != platform::FileStep::Done) {
        state_ = SaveResult::OpenFailed;
        return;
    }
    // Known to the handlers before it exists: no moment is left in which a
    // signal finds the file there but not its name.
    registerTemporaryFile(temporary_.c_str());
    bool exists = false;
    file_ = platform::createNewFile(temporary_.c_str(), exists);
    if (file_ == platform::kNoFile && exists) {
        // Only a process with this number can have made that name: one
        // that was killed before it could remove it.
        platform::removeFile(temporary_.c_str());
        file_ = platform::createNewFile(temporary_.c_str(), exists);
    }
    if (file_ == platform::kNoFile) {
        releaseTemporaryFile();
        state_ = SaveResult::OpenFailed;
    }
}

ReplacingFile::~ReplacingFile() {
    if (file_ != platform::kNoFile) abandon();
}

void ReplacingFile::write(std::string_view bytes) {
    if (state_ != SaveResult::Saved || platform::writeAll(file_, bytes)) return;
    abandon();
    state_ = SaveResult::WriteFailed;
}

void ReplacingFile::abandon() {
    if (file_ != platform::kNoFile) platform::closeFile(file_);
    file_ = platform::kNoFile;
    platform::removeFile(temporary_.c_str());
    releaseTemporaryFile();
}

SaveResult ReplacingFile::commit(std::string_view announce) {
    if (state_ != SaveResult::Saved) return state_;
    // A failing close can mean the data never reached the disk.
    const bool closed = platform::closeFile(file_);
    file_ = platform::kNoFile;
    if (!closed) {
        abandon();
        return state_ = SaveResult::WriteFailed;
    }
    makeRoomToStage(announce);
    platform::FileStep renamed;
    {
        HandlerExclusion exclusion;
        stageOutput(announce);
        renamed = platform::replaceFile(temporary_.c_str(), path_.c_str());
        if (renamed == platform::FileStep::Done) {
            commitStagedOutput();
            releaseTemporaryFile();
        } else {
            dropStagedOutput();
        }
    }
    if (renamed == platform::FileStep::Done) {
        letCommittedOutputOut();
        return SaveResult::Saved;
    }
    abandon();
    // A directory in the way, or a file the user may not replace, is what
    // opening it for write has always reported.
    return state_ = renamed == platform::FileStep::Refused ? SaveResult::OpenFailed : SaveResult::WriteFailed;
}

SaveResult saveFile(const std::string& path, std::string_view bytes, std::string_view announce) {
    ReplacingFile file(path);
    file.write(bytes);
    return file.commit(announce);
}

bool isExistingDirectory(const std::string& path) { return platform::isDirectory(path.c_str()); }

}  // namespace tavimor
