#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "system/platform.h"
#include "system/standard_streams.h"

namespace tavimor::platform {
namespace {

bool writeAllTo(int fd, std::string_view bytes) {
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

int descriptorOf(Stream stream) { return stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO; }

}  // namespace

FileHandle createFile(const char* path) {
    int fd;
    do {
        fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoFile : fd;
}

bool writeAll(FileHandle file, std::string_view bytes) { return writeAllTo(static_cast<int>(file), bytes); }

bool closeFile(FileHandle file) { return close(static_cast<int>(file)) == 0; }

void removeFile(const char* path) { unlink(path); }

bool writeToStream(Stream stream, std::string_view bytes) { return writeAllTo(descriptorOf(stream), bytes); }

bool isTerminal(Stream stream) { return isatty(descriptorOf(stream)) == 1; }

void exitNow(int status) { _exit(status); }

}  // namespace tavimor::platform

namespace tavimor {

void prepareStandardStreams() {}

bool standardErrorIsTerminal() { return platform::isTerminal(platform::Stream::Error); }

}  // namespace tavimor
