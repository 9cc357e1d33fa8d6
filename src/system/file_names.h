#pragma once

// File names: joining them, and the names Windows keeps for its devices.

#include <string>
#include <string_view>

namespace tavimor {

// name in directory (empty: the current one), with one separator between
// them however directory ends.
std::string joinPath(std::string_view directory, std::string_view name);

// True when Windows takes a file of this name (without directory) for a
// device: CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, in any case, with
// any extension.
bool isWindowsDeviceName(std::string_view name);

// The hidden name beside path under which this process writes path's new
// bytes before they replace it: ".NAME.<process>.tmp".
std::string temporaryPathFor(std::string_view path);

}  // namespace tavimor
