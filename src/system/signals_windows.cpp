#include <windows.h>

#include "system/handler_state.h"
#include "system/signals.h"

namespace tavimor {
namespace {

// Windows runs the console control handler on a thread of its own: every
// change of shared state is made under this lock.
SRWLOCK lock = SRWLOCK_INIT;

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

SignalBlock::SignalBlock() { AcquireSRWLockExclusive(&lock); }

SignalBlock::~SignalBlock() { ReleaseSRWLockExclusive(&lock); }

HandlerExclusion::HandlerExclusion() { AcquireSRWLockExclusive(&lock); }
HandlerExclusion::~HandlerExclusion() { ReleaseSRWLockExclusive(&lock); }

}  // namespace tavimor
