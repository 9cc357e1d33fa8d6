#include "system/threads.h"

#include "system/signals.h"

namespace tavimor {
namespace {

// Set before main, on the thread that runs it.
const std::thread::id programsThread = std::this_thread::get_id();

}  // namespace

std::thread startBesideTheProgram(std::function<void()> job) {
    // A new thread starts with the signal mask of the one that made it.
    SignalBlock block;
    return std::thread(std::move(job));
}

bool onProgramsThread() { return std::this_thread::get_id() == programsThread; }

}  // namespace tavimor
