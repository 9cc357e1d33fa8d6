#include "app/run_names.h"

#include "system/file_names.h"

namespace tavimor {
namespace {

int digitsOf(int n) {
    int digits = 1;
    for (; n >= 10; n /= 10) ++digits;
    return digits;
}

}  // namespace

std::string rockName(const RunSettings& settings, int n) {
    std::string number = std::to_string(n);
    const auto width = static_cast<std::size_t>(digitsOf(settings.count - 1));
    if (number.size() < width) number.insert(0, width - number.size(), '0');
    return settings.stem + number;
}

std::string levelName(const RunSettings& settings, int n, int k) {
    return settings.lod ? rockName(settings, n) + "_LOD" + std::to_string(k) : rockName(settings, n);
}

std::vector<std::string> longestFileNames(const RunSettings& settings) {
    std::vector<std::string> bases;
    if (settings.pack) {
        bases.push_back(settings.stem);
    } else {
        for (int k = 0; k <= (settings.lod ? settings.detail : 0); ++k) bases.push_back(levelName(settings, settings.count - 1, k));
    }
    std::vector<std::string> names;
    const FileChoice choice{.hulls = settings.collision, .textures = settings.textures > 0};
    for (const std::string& base : bases) {
        for (const Format* format : settings.formats) {
            const FormatFiles files = format->files();
            for (const FileKind& kind : filesMade(settings.pack ? files.pack : files.rock, choice)) {
                // A rock's own file beside a pack is named after the rock.
                const std::string& stem = settings.pack && kind.eachRock ? rockName(settings, settings.count - 1) : base;
                names.push_back(stem + std::string(kind.suffix));
            }
        }
    }
    return names;
}

std::string firstWindowsDeviceName(const RunSettings& settings) {
    if (settings.pack) return isWindowsDeviceName(settings.stem) ? settings.stem : std::string();
    // Levels of detail end in _LOD<k>; device names end in one digit at
    // most: only runs of ten rocks or fewer can make one.
    for (int n = settings.count - 1; n >= 0 && settings.count <= 10 && !settings.lod; --n) {
        const std::string name = rockName(settings, n);
        if (isWindowsDeviceName(name)) return name;
    }
    return {};
}

}  // namespace tavimor
