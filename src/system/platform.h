#pragma once

// What each platform gives the rest of system/: thin wrappers over its
// system calls, one file per platform (platform_posix.cpp and
// platform_windows.cpp). Everything above them is shared. Paths are UTF-8.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavimor::platform {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// How a step of replacing a file went. Refused is what the user knows as
// "cannot open for write": the name is held by something the program may
// not replace (a directory, a file the user may not write, a device) or the
// directory may not be written; Failed is a write that did not complete.
enum class FileStep { Done, Refused, Failed };

// Whether the file now at path may be replaced: Done when there is none,
// or one the user may write (a link is judged by what it points to).
FileStep checkReplaceable(const char* path);
// Creates a new file at path for writing, never one that exists already;
// kNoFile on failure, with exists set when a file of that name is there.
FileHandle createNewFile(const char* path, bool& exists);
// Writes every byte, going on after interruptions; false on a failure.
bool writeAll(FileHandle file, std::string_view bytes);
// False when closing failed: the data may never have reached the disk.
bool closeFile(FileHandle file);
// Puts the file at from in the place of the one at to, in one step.
FileStep replaceFile(const char* from, const char* to);
// Safe in a signal handler.
void removeFile(const char* path);
// True when nothing is at path any more; safe in a signal handler.
bool fileIsGone(const char* path);
bool isDirectory(const char* path);
// The separators of a path, the first the one to join with.
std::string_view pathSeparators();
// True where names like CON or COM1.COB open devices, not files (Windows).
bool reservesDeviceNames();
// True where a path may start with a drive letter and a colon (Windows).
bool hasDriveLetters();
unsigned long processId();

enum class Stream { Output, Error };
// Writes every byte to standard output or standard error, going on after
// interruptions; 0, or the system's code for the failure. Safe in a signal
// handler.
int writeToStream(Stream stream, std::string_view bytes);
// The system's words for a code writeToStream returned.
std::string errorText(int code);
bool isTerminal(Stream stream);
// True when standard output and standard error reach the same terminal.
bool sameTerminal();

// The arguments after the program's name, as UTF-8.
std::vector<std::string> arguments(int argc, char** argv);
// Whether the program was started with arguments; known before main.
bool startedWithArguments();

// Ends the process at once: no destructors, no stdio flush.
[[noreturn]] void exitNow(int status);

}  // namespace tavimor::platform
