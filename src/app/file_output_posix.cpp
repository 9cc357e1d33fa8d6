#include "app/file_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "app/guard.h"

namespace tavimor {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

SaveResult saveFile(const std::string& path, std::string_view bytes) {
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return SaveResult::OpenFailed;
    guardOpenFile(path.c_str());
    bool complete = writeAll(fd, bytes);
    // Held back until the file is either complete and released or removed,
    // so that a signal never removes a finished file.
    SignalBlock block;
    // A failing close can mean the data never reached the disk.
    if (close(fd) != 0) complete = false;
    if (!complete) unlink(path.c_str());
    releaseOpenFile();
    return complete ? SaveResult::Saved : SaveResult::WriteFailed;
}

}  // namespace tavimor
