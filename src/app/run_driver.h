#pragma once

#include <cstdint>

#include "app/dialogue.h"

namespace tavimor {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// One whole run: seeds the generator, asks the questions, then writes
// extraRocks + 1 rock files in the current directory, from the highest rock
// number down to 0, printing each name first. Returns the exit status.
int runTavimor(ConsoleIo& io, std::uint32_t seed);

}  // namespace tavimor
