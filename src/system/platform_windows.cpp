#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/platform.h"
#include "system/standard_streams.h"

namespace tavimor::platform {
namespace {

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// 0, or the error GetLastError gave.
int writeAllTo(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(bytes.size() < (1u << 30) ? bytes.size() : (1u << 30));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
            const DWORD error = GetLastError();
            return error != 0 ? static_cast<int>(error) : ERROR_WRITE_FAULT;
        }
        if (written == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(written);
    }
    return 0;
}

std::wstring wide(const char* utf8) {
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (size <= 0) return {};
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, text.data(), size);
    text.resize(static_cast<std::size_t>(size - 1));
    return text;
}

std::string utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

}  // namespace

namespace {

// The directory's whole path, ending in a separator, kept by its handle.
const std::wstring& wholePathOf(DirectoryHandle directory) { return *reinterpret_cast<const std::wstring*>(directory); }

// path made whole: relative to the current directory, or to a drive's
// current directory ("D:"), as Windows resolves it.
std::wstring wholePath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::wstring whole(size, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), size, whole.data(), nullptr);
    if (written == 0 || written >= size) return {};
    whole.resize(written);
    return whole;
}

// Windows takes paths past MAX_PATH only in their long form, "\\?\".
constexpr std::size_t kLongestLongPath = 32767;

std::wstring usable(std::wstring whole) {
    if (whole.size() < MAX_PATH) return whole;
    if (whole.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + whole.substr(2);
    return L"\\\\?\\" + whole;
}

}  // namespace

DirectoryHandle openDirectory(const std::string& path) {
    std::wstring whole = wholePath(path.empty() ? std::wstring(L".") : wide(path.c_str()));
    if (whole.empty()) return kNoDirectory;
    const DWORD attributes = GetFileAttributesW(usable(whole).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return kNoDirectory;
    if (whole.back() != L'\\') whole.push_back(L'\\');
    return reinterpret_cast<DirectoryHandle>(new std::wstring(std::move(whole)));
}

void closeDirectory(DirectoryHandle directory) { delete reinterpret_cast<std::wstring*>(directory); }

std::size_t longestNameIn(DirectoryHandle) { return 255; }

std::vector<std::string> namesIn(DirectoryHandle directory) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(usable(wholePathOf(directory) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(utf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

FileInDirectory fileIn(DirectoryHandle directory, std::string_view name) {
    return FileInDirectory{directory, std::string(name), usable(wholePathOf(directory) + wide(std::string(name).c_str()))};
}

FileStep checkReplaceable(const FileInDirectory&) {
    // A read-only file refuses MoveFileExW itself, as a directory does.
    return FileStep::Done;
}

FileHandle createNewFile(const FileInDirectory& file, bool& exists) {
    // Shared for deletion, so that the console control handler can remove
    // the file while it is still open; the bytes go out as they are.
    const HANDLE handle = CreateFileW(file.whole.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    exists = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

bool writeAll(FileHandle file, std::string_view bytes) { return writeAllTo(handleOf(file), bytes) == 0; }

bool closeFile(FileHandle file) { return CloseHandle(handleOf(file)) != 0; }

FileHandle openScratchFile(DirectoryHandle directory) {
    // Deleted when its handle closes, which the system does for a process
    // however it ends.
    static unsigned counter = 0;
    const std::wstring name = wholePathOf(directory) + L".tavimor-scratch." + std::to_wstring(GetCurrentProcessId()) +
                              L"." + std::to_wstring(counter++);
    const HANDLE handle = CreateFileW(usable(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                      nullptr);
    return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

bool readAt(FileHandle file, std::uint64_t offset, char* into, std::size_t size) {
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const auto chunk = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
        DWORD read = 0;
        if (!ReadFile(handleOf(file), into, chunk, &read, &at) || read == 0) return false;
        into += read;
        size -= read;
        offset += read;
    }
    return true;
}

FileStep replaceFile(const FileInDirectory& from, const FileInDirectory& to) {
    if (MoveFileExW(from.whole.c_str(), to.whole.c_str(), MOVEFILE_REPLACE_EXISTING)) return FileStep::Done;
    const DWORD error = GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_WRITE_FAULT
               ? FileStep::Failed
               : FileStep::Refused;
}

void removeFile(const FileInDirectory& file) { DeleteFileW(file.whole.c_str()); }

bool fileIsGone(const FileInDirectory& file) { return GetFileAttributesW(file.whole.c_str()) == INVALID_FILE_ATTRIBUTES; }

bool processIsGone(unsigned long process) {
    const HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process));
    if (handle == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    CloseHandle(handle);
    return ended;
}

bool pathFits(const std::string& path) {
    const std::wstring whole = wholePath(wide(path.c_str()));
    return !whole.empty() && usable(whole).size() < kLongestLongPath;
}

bool isDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string_view pathSeparators() { return "/\\"; }

bool reservesDeviceNames() { return true; }

bool hasDriveLetters() { return true; }

unsigned long processId() { return GetCurrentProcessId(); }

// Through the C runtime, as stdio has always written them: the console
// shows them the same way, and errors come as errno.
int writeToStream(Stream stream, std::string_view bytes) {
    const int fd = stream == Stream::Output ? 1 : 2;
    while (!bytes.empty()) {
        const unsigned chunk = bytes.size() < (1u << 30) ? static_cast<unsigned>(bytes.size()) : (1u << 30);
        const int n = _write(fd, bytes.data(), chunk);
        if (n < 0) return errno != 0 ? errno : EIO;
        if (n == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

std::string errorText(int code) { return std::strerror(code); }

bool isTerminal(Stream stream) { return _isatty(stream == Stream::Output ? 1 : 2) != 0; }

bool sameTerminal() { return isTerminal(Stream::Output) && isTerminal(Stream::Error); }

std::vector<std::string> arguments(int, char**) {
    // The arguments as typed, in UTF-16, not as the ANSI code page spells
    // (or cannot spell) them.
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> out;
    for (int i = 1; words != nullptr && i < count; ++i) out.push_back(utf8(words[i]));
    LocalFree(words);
    return out;
}

bool startedWithArguments() { return __argc > 1; }

// The Windows heap keeps freed blocks for reuse itself.
void keepFreedMemory() {}

// Large pages on Windows need a privilege users seldom hold.
void useLargePages(std::size_t) {}

void exitNow(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace tavimor::platform

namespace tavimor {

void prepareStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace tavimor
