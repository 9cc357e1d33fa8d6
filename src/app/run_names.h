#pragma once

// The names of a run's files.

#include <string>
#include <vector>

#include "app/run_settings.h"

namespace tavimor {

// The file name of rock n, without directory or extension: the stem and n,
// padded with zeros to the width of count - 1.
std::string rockName(const RunSettings& settings, int n);

// The base name of level k of rock n's files: its name, or with levels of
// detail its name and _LOD<k>.
std::string levelName(const RunSettings& settings, int n, int k);

// The names of one rock's files (count - 1's: every rock's names are as
// long), or of a packed run's files: enough to know that all of them fit.
std::vector<std::string> longestFileNames(const RunSettings& settings);

// The first name of the run's files that Windows takes for a device (COM1
// for the stem COM: COM1.COB is the serial port; CON for a packed CON.glb),
// or "" when there is none.
std::string firstWindowsDeviceName(const RunSettings& settings);

}  // namespace tavimor
