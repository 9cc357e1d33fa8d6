#include <windows.h>

#include <cstdio>
#include <new>

#include "app/guard.h"

namespace tavimor {
namespace {

// Shared with the console control handler, which Windows runs on a thread of
// its own: every change is made under the lock.
SRWLOCK lock = SRWLOCK_INIT;
DWORD foundMode = 0;
bool raw = false;
const char* openFilePath = nullptr;

void restoreConsole() {
    if (raw) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), foundMode);
    raw = false;
}

// Ctrl+C or Ctrl+Break while no key is awaited, or the console window
// closing: give the console back and remove an incomplete file, then let
// Windows end the program.
BOOL WINAPI onControl(DWORD) {
    AcquireSRWLockExclusive(&lock);
    restoreConsole();
    if (openFilePath != nullptr) DeleteFileA(openFilePath);
    openFilePath = nullptr;
    // Held: the program must not go on writing while it is ended.
    return FALSE;
}

[[noreturn]] void outOfMemory(std::FILE* stream) {
    AcquireSRWLockExclusive(&lock);
    restoreConsole();
    if (openFilePath != nullptr) DeleteFileA(openFilePath);
    openFilePath = nullptr;
    std::fflush(stdout);
    std::fputs("\aOut of memory. Aborting.\a", stream);
    std::fflush(stream);
    ExitProcess(1);
}

void outOfMemoryOnOutput() { outOfMemory(stdout); }
void outOfMemoryOnError() { outOfMemory(stderr); }

// Constant objects of libraries allocate before main too.
struct HandlerBeforeStartUp {
    HandlerBeforeStartUp() { std::set_new_handler(outOfMemoryOnOutput); }
};
__attribute__((init_priority(101))) const HandlerBeforeStartUp handlerBeforeStartUp;

}  // namespace

void installSignalHandlers() { SetConsoleCtrlHandler(onControl, TRUE); }

SignalBlock::SignalBlock() { AcquireSRWLockExclusive(&lock); }

SignalBlock::~SignalBlock() { ReleaseSRWLockExclusive(&lock); }

bool enterRawMode() {
    SignalBlock block;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return false;
    // Without processed input Ctrl+C is the key code 3, as on Linux.
    if (!SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT |
                                                          ENABLE_ECHO_INPUT))) {
        return false;
    }
    foundMode = mode;
    raw = true;
    return true;
}

void leaveRawMode() {
    SignalBlock block;
    restoreConsole();
}

void guardOpenFile(const char* path) {
    SignalBlock block;
    openFilePath = path;
}

void releaseOpenFile() { openFilePath = nullptr; }

void endOnOutOfMemory(ReportStream stream) {
    std::set_new_handler(stream == ReportStream::Output ? outOfMemoryOnOutput : outOfMemoryOnError);
}

}  // namespace tavimor
