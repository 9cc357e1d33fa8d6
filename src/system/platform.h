#pragma once

// What each platform gives the rest of system/: thin wrappers over its
// system calls, one file per platform (platform_posix.cpp and
// platform_windows.cpp). Everything above them is shared.

#include <cstdint>
#include <string_view>

namespace tavimor::platform {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Creates the file at path, or empties it, for writing; kNoFile on failure.
FileHandle createFile(const char* path);
// Writes every byte, going on after interruptions; false on a failure.
bool writeAll(FileHandle file, std::string_view bytes);
// False when closing failed: the data may never have reached the disk.
bool closeFile(FileHandle file);
// Safe in a signal handler.
void removeFile(const char* path);

enum class Stream { Output, Error };
// Writes every byte to standard output or standard error, bypassing stdio;
// safe in a signal handler.
bool writeToStream(Stream stream, std::string_view bytes);
bool isTerminal(Stream stream);

// Ends the process at once: no destructors, no stdio flush.
[[noreturn]] void exitNow(int status);

}  // namespace tavimor::platform
