#pragma once

// What each platform gives the rest of system/: thin wrappers over its
// system calls, one file per platform (platform_posix.cpp and
// platform_windows.cpp). Everything above them is shared. Paths are UTF-8.

#include <cstddef>
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

// A directory the program writes into, open for as long as it does: on
// POSIX its descriptor; on Windows its whole path, kept by the handle.
using DirectoryHandle = std::intptr_t;
inline constexpr DirectoryHandle kNoDirectory = -1;
// Opens the directory at path ("" for the current one); kNoDirectory when
// it cannot be.
DirectoryHandle openDirectory(const std::string& path);
void closeDirectory(DirectoryHandle directory);
// The longest file name the directory takes.
std::size_t longestNameIn(DirectoryHandle directory);
// The names in the directory.
std::vector<std::string> namesIn(DirectoryHandle directory);

// A file in an open directory, made ready beforehand so that a signal
// handler can reach it without allocating: on POSIX the directory's
// descriptor and the name, on Windows the whole path (in the long form
// where it is long).
struct FileInDirectory {
    DirectoryHandle directory = kNoDirectory;
    std::string name;
    std::wstring whole;
};
FileInDirectory fileIn(DirectoryHandle directory, std::string_view name);

// Whether the file may be replaced: Done when there is none, or one the
// user may write. A link is judged as itself, never by what it points to:
// replacing it never writes there.
FileStep checkReplaceable(const FileInDirectory& file);
// Creates a new file for writing, never one that exists already; kNoFile
// on failure, with exists set when a file of that name is there.
FileHandle createNewFile(const FileInDirectory& file, bool& exists);
// Writes every byte, going on after interruptions; false on a failure.
bool writeAll(FileHandle file, std::string_view bytes);
// False when closing failed: the data may never have reached the disk.
bool closeFile(FileHandle file);
// A file for the program's own use in the directory, open for writing and
// reading, that no name reaches (or none for more than an instant): it is
// gone when it is closed or the process ends, however it ends. kNoFile on
// failure.
FileHandle openScratchFile(DirectoryHandle directory);
// Reads size bytes from offset, once every write to the file is done;
// false where it could not.
bool readAt(FileHandle file, std::uint64_t offset, char* into, std::size_t size);
// Puts the file from in the place of the file to, in one step.
FileStep replaceFile(const FileInDirectory& from, const FileInDirectory& to);
// Safe in a signal handler.
void removeFile(const FileInDirectory& file);
// True when nothing is there any more; safe in a signal handler.
bool fileIsGone(const FileInDirectory& file);
// True when no process of that number runs any more.
bool processIsGone(unsigned long process);
// Whether a path this long fits what the system takes: paths, not names.
bool pathFits(const std::string& path);
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

// Makes the allocator keep large blocks that are freed for the next
// allocation, where the platform's allocator gives them back at once.
void keepFreedMemory();

// Makes the allocator hand out memory in the system's large pages where it
// can, from a heap that reserves reserve bytes at once.
void useLargePages(std::size_t reserve);

// Ends the process at once: no destructors, no stdio flush.
[[noreturn]] void exitNow(int status);

}  // namespace tavimor::platform
