#pragma once

#include <cstdint>

#include "terminal/console.h"

namespace tavimor {

// The classic run: asks the three questions, then writes extraRocks + 1 rock
// files in the current directory, from the highest rock number down to 0,
// printing each name first. seed was taken at start-up. Returns the exit
// status.
int runDialogue(ConsoleIo& io, std::uint32_t seed);

}  // namespace tavimor
