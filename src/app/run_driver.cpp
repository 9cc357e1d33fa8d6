#include "app/run_driver.h"

#include <array>
#include <string>

#include "app/rock_file.h"
#include "geometry/random_scale.h"

namespace tavimor {

int runTavimor(ConsoleIo& io, std::uint32_t seed) {
    seedRandom(seed);

    const RockSettings settings = askRockSettings(io);
    switch (settings.end) {
        case DialogueEnd::Answered:
            break;
        case DialogueEnd::Quit:
            return kExitSuccess;
        case DialogueEnd::ConsoleUnreadable:
            io.writeError("\ntavimor: the console cannot be read. Aborting.\n");
            return kExitFailure;
    }

    io.discardBufferedInput();

    // The stem, the rock digit, ".COB" and the terminator.
    std::array<char, kMaxStemLength + 6> name{};
    const std::optional<std::size_t> digitAt = editFileStem(io, name.data());
    if (!digitAt) return kExitFailure;
    const std::string_view suffix = "0.COB";
    suffix.copy(name.data() + *digitAt, suffix.size());
    name[*digitAt + suffix.size()] = '\0';

    for (int n = settings.extraRocks; n >= 0; --n) {
        name[*digitAt] = static_cast<char>('0' + n);
        io.writeOutput(std::string(name.data()) + "\n");
        switch (saveRock(name.data(), n, settings.spike)) {
            case SaveResult::Saved:
                break;
            case SaveResult::OpenFailed:
                io.writeOutput("\aError opening file for write. Aborting.\a");
                return kExitFailure;
            case SaveResult::WriteFailed:
                io.writeOutput("\aError writing file. Aborting.\a");
                return kExitFailure;
            case SaveResult::OutOfMemory:
                io.writeOutput("\aOut of memory. Aborting.\a");
                return kExitFailure;
        }
    }
    return kExitSuccess;
}

}  // namespace tavimor
