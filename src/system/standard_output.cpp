#include <cstring>
#include <string>

#include "system/handler_state.h"
#include "system/output_buffer.h"
#include "system/platform.h"
#include "system/signals.h"
#include "system/standard_streams.h"

namespace tavimor {

OutputBuffer heldOutput;

namespace {

// The first failure to write standard output; every write after it fails.
int outputError = 0;

// Stages text after what is held: the bytes first, then the one store that
// makes them count as staged.
void stage(std::string_view text) {
    std::memcpy(heldOutput.bytes + heldOutput.stagedEnd, text.data(), text.size());
    heldOutput.stagedEnd = static_cast<std::sig_atomic_t>(heldOutput.stagedEnd + static_cast<int>(text.size()));
}

}  // namespace

int OutputBuffer::writeOut() {
    const auto size = static_cast<std::size_t>(committed);
    if (size == 0) return 0;
    const int error = platform::writeToStream(platform::Stream::Output, std::string_view(bytes, size));
    // What was staged moves to the front.
    const auto staging = static_cast<std::size_t>(stagedEnd) - size;
    std::memmove(bytes, bytes + size, staging);
    committed = 0;
    stagedEnd = static_cast<std::sig_atomic_t>(staging);
    return error;
}

bool flushOutput() {
    if (outputError != 0) return false;
    if (heldOutput.committed == 0) return true;
    // Held back (on Windows: locked out): a handler must not write out the
    // same bytes again.
    SignalBlock block;
    outputError = heldOutput.writeOut();
    return outputError == 0;
}

void putOutput(std::string_view text) {
    if (outputError != 0) return;
    if (text.size() > heldOutput.room() && !flushOutput()) return;
    if (text.size() > heldOutput.room()) {
        // Longer than the whole buffer: out at once, after what is held.
        outputError = platform::writeToStream(platform::Stream::Output, text);
        return;
    }
    {
        // Staged for an instant: no file is being renamed now, so a handler
        // that sees it leaves it out.
        HandlerExclusion exclusion;
        stage(text);
        heldOutput.commitStaged();
    }
    // A finished line goes out at once, wherever standard output goes: a
    // file or a pipe keeps what the program said even if it is killed
    // with SIGKILL the next instant.
    if (!text.empty() && text.back() == '\n') flushOutput();
}

void makeRoomToStage(std::string_view text) {
    if (outputError == 0 && text.size() > heldOutput.room()) flushOutput();
}

void stageOutput(std::string_view text) {
    // A name longer than the buffer cannot be; a failed output prints none.
    if (outputError == 0 && text.size() <= heldOutput.room()) stage(text);
}

void commitStagedOutput() { heldOutput.commitStaged(); }

void dropStagedOutput() { heldOutput.stagedEnd = heldOutput.committed; }

void letCommittedOutputOut() {
    // The name of a file in place goes out with it, to a terminal, a file
    // or a pipe alike: only SIGKILL between the rename and this write can
    // keep a name from being printed, and only the last one.
    if (heldOutput.committed > 0) flushOutput();
}

std::string outputFailure() { return outputError == 0 ? std::string() : platform::errorText(outputError); }

void putError(std::string_view text) {
    flushOutput();
    platform::writeToStream(platform::Stream::Error, text);
}

std::vector<std::string> commandLineArguments(int argc, char** argv) { return platform::arguments(argc, argv); }

bool startedWithArguments() { return platform::startedWithArguments(); }

bool standardErrorIsTerminal() { return platform::isTerminal(platform::Stream::Error); }

bool outputSharesErrorsTerminal() { return platform::sameTerminal(); }

}  // namespace tavimor
