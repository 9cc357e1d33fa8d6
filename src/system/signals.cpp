#include <csignal>

#include "system/handler_state.h"
#include "system/platform.h"
#include "system/signals.h"

namespace tavimor {
namespace {

// Shared with the handlers; changed only with the handled signals held back.
TerminalHooks terminalHooks;
const char* volatile fileBeingWritten = nullptr;

}  // namespace

void setTerminalHooks(const TerminalHooks& hooks) {
    SignalBlock block;
    terminalHooks = hooks;
}

void registerFileBeingWritten(const char* path) { fileBeingWritten = path; }

void releaseFileBeingWritten() { fileBeingWritten = nullptr; }

void giveTerminalBack() {
    if (terminalHooks.giveBack != nullptr) terminalHooks.giveBack();
}

void takeTerminalAgain() {
    if (terminalHooks.takeAgain != nullptr) terminalHooks.takeAgain();
}

void cleanUpBeforeTheEnd() {
    giveTerminalBack();
    if (const char* path = fileBeingWritten) platform::removeFile(path);
    fileBeingWritten = nullptr;
}

}  // namespace tavimor
