#include "system/file_names.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

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

namespace {

// Eight hex digits of the name's FNV-1a hash: the same on every platform.
std::string hashText(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    constexpr char kHex[] = "0123456789abcdef";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, hash >>= 4) text[static_cast<std::size_t>(i)] = kHex[hash & 0xF];
    return text;
}

constexpr std::string_view kTemporaryEnd = ".tmp";

}  // namespace

std::string temporaryNameFor(std::string_view name, unsigned long process, std::size_t longest) {
    std::string tail = ".";
    tail.append(std::to_string(process)).append(kTemporaryEnd);
    std::string temporary = ".";
    if (1 + name.size() + tail.size() <= longest) return temporary.append(name).append(tail);
    // The start of the name, as much as fits, then a hash of all of it; a
    // character is never cut in two.
    std::string mark = "~";
    mark.append(hashText(name));
    std::size_t keep = std::min(name.size(), longest - std::min(longest, 1 + mark.size() + tail.size()));
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return temporary.append(name.substr(0, keep)).append(mark).append(tail);
}

namespace {

// A temporary name's parts: what stands for the name, and the process.
struct TemporaryParts {
    std::string_view held;
    unsigned long process;
};

std::optional<TemporaryParts> partsOf(std::string_view temporary) {
    if (!temporary.starts_with('.') || !temporary.ends_with(kTemporaryEnd)) return std::nullopt;
    temporary.remove_suffix(kTemporaryEnd.size());
    const std::size_t point = temporary.find_last_of('.');
    if (point == std::string_view::npos || point <= 1) return std::nullopt;
    const std::string_view digits = temporary.substr(point + 1);
    unsigned long process = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), process);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return TemporaryParts{temporary.substr(1, point - 1), process};
}

}  // namespace

std::optional<unsigned long> temporaryProcess(std::string_view temporary) {
    const std::optional<TemporaryParts> parts = partsOf(temporary);
    return parts ? std::optional<unsigned long>(parts->process) : std::nullopt;
}

std::optional<unsigned long> temporaryOwner(std::string_view temporary, std::string_view name) {
    const std::optional<TemporaryParts> parts = partsOf(temporary);
    if (!parts) return std::nullopt;
    const unsigned long process = parts->process;
    const std::string_view held = parts->held;
    if (held == name) return process;
    std::string mark = "~";
    mark.append(hashText(name));
    if (held.ends_with(mark) && name.starts_with(held.substr(0, held.size() - mark.size()))) return process;
    return std::nullopt;
}

}  // namespace tavimor
