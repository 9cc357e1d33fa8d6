#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <malloc.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "system/platform.h"
#include "system/standard_streams.h"

namespace tavimor::platform {
namespace {

int descriptorOf(Stream stream) { return stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO; }

// 0 or errno.
int writeAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// Errors that mean the name may not be taken, not that writing failed.
bool refusal(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == EISDIR || error == ENOTDIR ||
           error == ETXTBSY || error == EBUSY || error == ENOTEMPTY || error == EEXIST || error == ENOENT ||
           error == ENAMETOOLONG || error == ELOOP;
}

int argumentCount = 0;

// glibc hands the program's arguments to the functions of .preinit_array,
// which run before any constructor: the out-of-memory handler knows where
// to report before main has started.
void noteArguments(int argc, char**, char**) { argumentCount = argc; }
__attribute__((section(".preinit_array"), used)) void (*const noteArgumentsEarly)(int, char**, char**) = noteArguments;

}  // namespace

DirectoryHandle openDirectory(const std::string& path) {
    int fd;
    do {
        fd = open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoDirectory : fd;
}

void closeDirectory(DirectoryHandle directory) { close(static_cast<int>(directory)); }

std::size_t longestNameIn(DirectoryHandle directory) {
    const long most = fpathconf(static_cast<int>(directory), _PC_NAME_MAX);
    return most > 0 ? static_cast<std::size_t>(most) : NAME_MAX;
}

std::vector<std::string> namesIn(DirectoryHandle directory) {
    std::vector<std::string> names;
    // The listing gets a descriptor of its own; the directory's stays open.
    const int fd = openat(static_cast<int>(directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    DIR* listing = fdopendir(fd);
    if (listing == nullptr) {
        close(fd);
        return names;
    }
    while (const dirent* entry = readdir(listing)) names.emplace_back(entry->d_name);
    closedir(listing);
    return names;
}

FileInDirectory fileIn(DirectoryHandle directory, std::string_view name) {
    return FileInDirectory{directory, std::string(name), {}};
}

FileStep checkReplaceable(const FileInDirectory& file) {
    // As the user, not as the set-user-ID owner a program may run as; a
    // link as the link, which anyone may replace where the directory lets
    // them.
    if (faccessat(static_cast<int>(file.directory), file.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0 ||
        errno == ENOENT) {
        return FileStep::Done;
    }
    return errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY ? FileStep::Refused
                                                                                  : FileStep::Done;
}

FileHandle createNewFile(const FileInDirectory& file, bool& exists) {
    int fd;
    do {
        fd = openat(static_cast<int>(file.directory), file.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    exists = fd < 0 && errno == EEXIST;
    return fd < 0 ? kNoFile : fd;
}

bool writeAll(FileHandle file, std::string_view bytes) { return writeAllTo(static_cast<int>(file), bytes) == 0; }

bool closeFile(FileHandle file) { return close(static_cast<int>(file)) == 0; }

FileHandle openScratchFile(DirectoryHandle directory) {
    const int dir = static_cast<int>(directory);
    int fd;
    do {
        fd = openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) return fd;
    // A file system without nameless files: a hidden name, gone at once.
    static unsigned counter = 0;
    const std::string name = ".tavimor-scratch." + std::to_string(getpid()) + "." + std::to_string(counter++);
    do {
        fd = openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) unlinkat(dir, name.c_str(), 0);
    return fd < 0 ? kNoFile : fd;
}

bool readAt(FileHandle file, std::uint64_t offset, char* into, std::size_t size) {
    while (size > 0) {
        const ssize_t n = pread(static_cast<int>(file), into, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        into += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

FileStep replaceFile(const FileInDirectory& from, const FileInDirectory& to) {
    if (renameat(static_cast<int>(from.directory), from.name.c_str(), static_cast<int>(to.directory), to.name.c_str()) ==
        0) {
        return FileStep::Done;
    }
    return refusal(errno) ? FileStep::Refused : FileStep::Failed;
}

void removeFile(const FileInDirectory& file) { unlinkat(static_cast<int>(file.directory), file.name.c_str(), 0); }

bool fileIsGone(const FileInDirectory& file) {
    return faccessat(static_cast<int>(file.directory), file.name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0 &&
           errno == ENOENT;
}

bool processIsGone(unsigned long process) {
    return kill(static_cast<pid_t>(process), 0) != 0 && errno == ESRCH;
}

bool pathFits(const std::string& path) { return path.size() < PATH_MAX; }

bool isDirectory(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

std::string_view pathSeparators() { return "/"; }

bool reservesDeviceNames() { return false; }

bool hasDriveLetters() { return false; }

unsigned long processId() {
    // The program never forks: its number is asked once.
    static const auto id = static_cast<unsigned long>(getpid());
    return id;
}

int writeToStream(Stream stream, std::string_view bytes) { return writeAllTo(descriptorOf(stream), bytes); }

std::string errorText(int code) { return std::strerror(code); }

bool isTerminal(Stream stream) { return isatty(descriptorOf(stream)) == 1; }

bool sameTerminal() {
    struct stat out, err;
    return isTerminal(Stream::Output) && isTerminal(Stream::Error) && fstat(STDOUT_FILENO, &out) == 0 &&
           fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

bool startedWithArguments() { return argumentCount > 1; }

void keepFreedMemory() {
    // glibc maps every block of more than 128 KiB on its own and unmaps it
    // when freed; from the heap it gives memory back once 128 KiB lie free
    // at its top. A block of up to 4 MiB now comes from
    // the heap, and up to 16 MiB may lie free at its top.
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
    // Each thread that frees what another made keeps its own heap's free
    // memory; the threads that encode a rock's maps come and go, and with
    // a heap each the run's memory crept up with the count (8 % from 8 to
    // 40 textured rocks). Two heaps serve the program's two busy threads.
    mallopt(M_ARENA_MAX, 2);
}

void useLargePages(std::size_t reserve) {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    // Where transparent huge pages are given only on request, as by
    // default, each fresh 4 KiB page costs the kernel a fault, and on a
    // virtual machine a dear one: a textured rock's run spent a third of
    // its time there. So the program's heap takes blocks of every size a
    // rock uses and never gives its top back; it grows by reserve at once,
    // now, and that range is asked for in large pages. What the run does
    // not touch stays unused, as before. The second heap, for the thread
    // beside, keeps small pages: glibc gives no say in where it lies, and
    // one heap for both threads costs more in waiting for it than the
    // faults.
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    // Under a limit on memory, address space reserved ahead is taken from
    // what the run may need, and glibc, short of room at the heap's top,
    // maps block after block: ten times slower. So not there.
    for (const int limit : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit held {};
        if (getrlimit(limit, &held) != 0 || held.rlim_cur != RLIM_INFINITY) return;
    }
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    mallopt(M_TOP_PAD, static_cast<int>(reserve));
    const auto start = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // A block bigger than what is left at the top makes the heap grow.
    // (Volatile, or the compiler drops a block that nothing uses.)
    void* volatile grow = std::malloc(kLargePage);
    const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    std::free(grow);
    mallopt(M_TOP_PAD, 128 * 1024);  // glibc's own
    const std::uintptr_t from = (start + kLargePage - 1) & ~(kLargePage - 1);
    // Where the heap could not grow, or the system says no, pages stay
    // small: slower, not wrong.
    if (end > from) madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);
#else
    (void)reserve;
#endif
}

void exitNow(int status) { _exit(status); }

}  // namespace tavimor::platform

namespace tavimor {

void prepareStandardStreams() {
    // A standard stream that was closed stays closed to the program: it is
    // held by /dev/null opened for reading, so that writing to it still
    // fails, and no file the program opens can take its place and receive
    // what was meant for the stream.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

}  // namespace tavimor
