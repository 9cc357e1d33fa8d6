#include "system/file_output.h"

#include "system/file_names.h"
#include "system/handler_state.h"
#include "system/signals.h"

namespace tavimor {

OutputDirectory::OutputDirectory(std::string path)
    : path_(std::move(path)), handle_(platform::openDirectory(path_)) {
    if (handle_ != platform::kNoDirectory) longestName_ = platform::longestNameIn(handle_);
}

OutputDirectory::~OutputDirectory() {
    if (handle_ != platform::kNoDirectory) platform::closeDirectory(handle_);
}

std::string OutputDirectory::pathOf(std::string_view name) const { return joinPath(path_, name); }

void OutputDirectory::removeLeftoversOf(const std::string& name) {
    if (!leftovers_) {
        // Listed once: a process that is gone stays gone.
        leftovers_.emplace();
        const unsigned long self = platform::processId();
        for (const std::string& entry : platform::namesIn(handle_)) {
            const std::optional<unsigned long> owner = temporaryProcess(entry);
            if (owner && *owner != self && platform::processIsGone(*owner)) leftovers_->push_back(entry);
        }
    }
    std::erase_if(*leftovers_, [&](const std::string& entry) {
        if (!temporaryOwner(entry, name)) return false;
        platform::removeFile(platform::fileIn(handle_, entry));
        return true;
    });
}

ReplacingFile::ReplacingFile(OutputDirectory& directory, std::string name)
    : final_(platform::fileIn(directory.handle_, name)),
      temporary_(platform::fileIn(directory.handle_,
                                  temporaryNameFor(name, platform::processId(), directory.longestName_))) {
    if (directory.handle_ == platform::kNoDirectory ||
        (platform::reservesDeviceNames() && isWindowsDeviceName(name)) ||
        platform::checkReplaceable(final_) != platform::FileStep::Done) {
        state_ = SaveResult::OpenFailed;
        return;
    }
    directory.removeLeftoversOf(name);
    // Known to the handlers before it exists: no moment is left in which a
    // signal finds the file there but not its name.
    registerTemporaryFile(&temporary_);
    bool exists = false;
    file_ = platform::createNewFile(temporary_, exists);
    if (file_ == platform::kNoFile && exists) {
        // Only a process with this number can have made that name: one
        // that was killed before it could remove it.
        platform::removeFile(temporary_);
        file_ = platform::createNewFile(temporary_, exists);
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
    platform::removeFile(temporary_);
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
        renamed = platform::replaceFile(temporary_, final_);
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

SaveResult saveFile(OutputDirectory& directory, const std::string& name, std::string_view bytes,
                    std::string_view announce) {
    ReplacingFile file(directory, name);
    file.write(bytes);
    return file.commit(announce);
}

bool isExistingDirectory(const std::string& path) { return platform::isDirectory(path.c_str()); }

bool nameFitsIn(const std::string& directory, std::string_view name) {
    const platform::DirectoryHandle handle = platform::openDirectory(directory);
    if (handle == platform::kNoDirectory) return false;
    const bool fits = name.size() <= platform::longestNameIn(handle);
    platform::closeDirectory(handle);
    return fits && platform::pathFits(joinPath(directory, name));
}

}  // namespace tavimor
