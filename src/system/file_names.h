#pragma once

// File names: joining them, and the names Windows keeps for its devices.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavimor {

// name in directory (empty: the current one), with one separator between
// them however directory ends; after a bare drive (Windows: "D:"), none.
std::string joinPath(std::string_view directory, std::string_view name);

// The name part of path, after its last separator.
std::string_view fileNameOf(std::string_view path);

// The directory part of path: "." when path is a name alone, the root for a
// name in the root.
std::string directoryOf(std::string_view path);

// True when name ends in extension (with its point) in any case, after
// something of its own.
bool hasExtension(std::string_view name, std::string_view extension);

// True when Windows takes a file of this name (without directory) for a
// device: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0 to COM9 and LPT0 to
// LPT9 (also with a superscript 1, 2 or 3), in any case, with any
// extension, with blanks before the extension.
bool isWindowsDeviceName(std::string_view name);

// The hidden name beside a file of this name under which a process writes
// its new bytes before they replace it: ".NAME.<process>.tmp", or, where
// that would be longer than longest, as much of NAME as fits, "~" and a
// hash of the whole name in its place.
std::string temporaryNameFor(std::string_view name, unsigned long process, std::size_t longest);

// The process whose temporary name this looks like, or none.
std::optional<unsigned long> temporaryProcess(std::string_view temporary);

// The process whose temporary name for name this is (as temporaryNameFor
// makes them), or none.
std::optional<unsigned long> temporaryOwner(std::string_view temporary, std::string_view name);

}  // namespace tavimor
