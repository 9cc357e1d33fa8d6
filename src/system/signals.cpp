#include "system/signals.h"

#include "system/handler_state.h"
#include "system/output_buffer.h"
#include "system/platform.h"

namespace tavimor {
namespace {

// Shared with the handlers. The hooks change only with the handled signals
// held back; the path is one store.
TerminalHooks terminalHooks;
const platform::FileInDirectory* volatile temporaryFile = nullptr;

}  // namespace

void setTerminalHooks(const TerminalHooks& hooks) {
    SignalBlock block;
    terminalHooks = hooks;
}

void registerTemporaryFile(const platform::FileInDirectory* file) { temporaryFile = file; }

void releaseTemporaryFile() { temporaryFile = nullptr; }

void giveTerminalBack() {
    if (terminalHooks.giveBack != nullptr) terminalHooks.giveBack();
}

void takeTerminalAgain() {
    if (terminalHooks.takeAgain != nullptr) terminalHooks.takeAgain();
}

void cleanUpBeforeTheEnd() {
    giveTerminalBack();
    if (const platform::FileInDirectory* file = temporaryFile) {
        // With a name staged, the file is complete and being renamed into
        // place: gone from its temporary name, it is in place, and its name
        // goes out; still there, it never will be.
        if (heldOutput.staged() && platform::fileIsGone(*file)) {
            heldOutput.commitStaged();
        } else {
            platform::removeFile(*file);
        }
        temporaryFile = nullptr;
    }
    heldOutput.writeOut();
}

}  // namespace tavimor
