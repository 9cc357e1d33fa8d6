#pragma once

// Threads beside the program's own.

#include <functional>
#include <thread>

namespace tavimor {

// Starts job on a thread of its own. The handled signals stay held back on
// it for good, so that their handlers run on the program's own thread,
// which owns the terminal, standard output and the file being written.
std::thread startBesideTheProgram(std::function<void()> job);

// True on the thread that started the program.
bool onProgramsThread();

}  // namespace tavimor
