#pragma once

#include "app/dialogue.h"
#include "geometry/generator.h"

namespace tavimor {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// The classic run: asks the three questions, then writes extraRocks + 1 rock
// files in the current directory, from the highest rock number down to 0,
// printing each name first. The generator was seeded at start-up. Returns the
// exit status.
int runDialogue(ConsoleIo& io, Lcg& generator);

}  // namespace tavimor
