#include <windows.h>

#include "system/handler_state.h"
#include "system/signals.h"

namespace tavimor {
namespace {

// Windows runs the console control handler on a thread of its own: every
// change of shared state is made under this lock.
SRWLOCK lock = SRWLOCK_INIT;
// Whether this thread holds it: an end that comes while it does (memory
// running out inside a change) must not wait for itself.
thread_local bool holdingLock = false;

void takeLock() {
    AcquireSRWLockExclusive(&lock);
    holdingLock = true;
}
void releaseLock() {
    holdingLock = false;
    ReleaseSRWLockExclusive(&lock);
}

// Ctrl+C or Ctrl+Break while no key is awaited, or the console window
// closing: give the console back and remove an incomplete file, then let
// Windows end the program.
BOOL WINAPI onControl(DWORD) {
    // Held for good: the program must not go on writing while it is ended.
    AcquireSRWLockExclusive(&lock);
    cleanUpBeforeTheEnd();
    return FALSE;
}

}  // namespace

void installSignalHandlers() { SetConsoleCtrlHandler(onControl, TRUE); }

void endTheProgram(platform::Stream stream, std::string_view message, int status) {
    // Held for good: no other thread changes what the clean-up reads, and
    // the control handler, should it come, waits for the end.
    if (!holdingLock) takeLock();
    cleanUpBeforeTheEnd();
    platform::writeToStream(stream, message);
    platform::exitNow(status);
}

SignalBlock::SignalBlock() { takeLock(); }

SignalBlock::~SignalBlock() { releaseLock(); }

HandlerExclusion::HandlerExclusion() { takeLock(); }
HandlerExclusion::~HandlerExclusion() { releaseLock(); }

}  // namespace tavimor
