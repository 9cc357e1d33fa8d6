#pragma once

#include <cstdint>

#include "app/options.h"

namespace tavimor {

// Writes the rocks of a scripted run: for n from count - 1 down to 0, rock n
// is made once and written in every format asked for. Prints "seed S" first
// and then each file's name once it is complete (unless quiet); errors go to
// standard error. Returns the exit status.
int runScripted(const RunOptions& options, std::uint32_t seed);

}  // namespace tavimor
