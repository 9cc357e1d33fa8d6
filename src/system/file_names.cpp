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
    if (!path.empty() && platform::pathSeparators().find(path.back()) == std::string_view::npos) {
        path += platform::pathSeparators().front();
    }
    path += name;
    return path;
}

bool isWindowsDeviceName(std::string_view name) {
    const std::string_view base = name.substr(0, name.find('.'));
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
        if (sameLetters(base, device)) return true;
    }
    return base.size() == 4 && (sameLetters(base.substr(0, 3), "COM") || sameLetters(base.substr(0, 3), "LPT")) &&
           base[3] >= '0' && base[3] <= '9';
}

std::string temporaryPathFor(std::string_view path) {
    const std::size_t start = nameStart(path);
    return std::string(path.substr(0, start)) + "." + std::string(path.substr(start)) + "." +
           std::to_string(platform::processId()) + ".tmp";
}

}  // namespace tavimor
