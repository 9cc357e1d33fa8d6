#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "system/platform.h"
#include "system/standard_streams.h"

namespace tavimor::platform {
namespace {

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

HANDLE handleOf(Stream stream) { return GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE); }

bool writeAllTo(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(bytes.size() < (1u << 30) ? bytes.size() : (1u << 30));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

FileHandle createFile(const char* path) {
    // Shared for deletion, so that the console control handler can remove
    // the file while it is still open; the bytes go out as they are.
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

bool writeAll(FileHandle file, std::string_view bytes) { return writeAllTo(handleOf(file), bytes); }

bool closeFile(FileHandle file) { return CloseHandle(handleOf(file)) != 0; }

void removeFile(const char* path) { DeleteFileA(path); }

bool writeToStream(Stream stream, std::string_view bytes) { return writeAllTo(handleOf(stream), bytes); }

bool isTerminal(Stream stream) { return _isatty(stream == Stream::Output ? 1 : 2) != 0; }

void exitNow(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace tavimor::platform

namespace tavimor {

void prepareStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool standardErrorIsTerminal() { return platform::isTerminal(platform::Stream::Error); }

}  // namespace tavimor
