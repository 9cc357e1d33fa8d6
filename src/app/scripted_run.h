#pragma once

#include "app/run_settings.h"

namespace tavimor {

// Writes the rocks of a scripted run: prints "seed S" first and then each
// file's name the moment the file is in place (unless quiet); the seed is
// set; errors go to
// standard error. Returns the exit status.
int runScripted(const RunSettings& settings);

}  // namespace tavimor
