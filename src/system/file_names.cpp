#include "system/file_names.h"

#include <algorithm>

#include "system/platform.h"

namespace tavimor {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return upper(x) == upper(y);
           });
}

// Where the name part of path starts.
std::size_t nameStart(std::string_view path) {
    const std::size_t last = path.find_last_of(platform::pathSeparators());
    return last == std::string_view::npos ? 0 : last + 1;
}

}  // namespace

std::string_view fileNameOf(std::string_view path) { return path.substr(nameStart(path)); }

std::string directoryOf(std::string_view path) {
    const std::size_t start = nameStart(path);
    if (start == 0) return ".";
    return std::string(path.substr(0, start == 1 ? 1 : start - 1));
}

bool hasExtension(std::string_view name, std::string_view extension) {
    return name.size() > extension.size() && sameLetters(name.substr(name.size() - extension.size()), extension);
}

std::string joinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    // A drive alone ("D:") is that drive's current directory: its files are
    // "D:NAME", not in its root.
    const bool bareDrive = platform::hasDriveLetters() && path.size() == 2 && path[1] == ':';
    if (!path.empty() && !bareDrive && platform::pathSeparators().find(path.back()) == std::string_view::npos) {
        path += platform::pathSeparators().front();
    }
    path += name;
    return path;
}

bool isWindowsDeviceName(std::string_view name) {
    // Windows looks at the name before its first point, and drops the
    // blanks at its end: "NUL .png" is NUL too.
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (sameLetters(base, device)) return true;
    }
    if (base.size() < 4 || !(sameLetters(base.substr(0, 3), "COM") || sameLetters(base.substr(0, 3), "LPT"))) {
        return false;
    }
    // A digit, or a superscript one, two or three (in UTF-8).
    const std::string_view number = base.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

std::string temporaryPathFor(std::string_view path) {
    const std::size_t start = nameStart(path);
    return std::string(path.substr(0, start)) + "." + std::string(path.substr(start)) + "." +
           std::to_string(platform::processId()) + ".tmp";
}

}  // namespace tavimor
