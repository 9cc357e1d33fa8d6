#include "app/run_driver.h"

#include <string>

#include "app/file_output.h"
#include "cobwriter/cob_file.h"
#include "geometry/rock.h"

namespace tavimor {
namespace {

constexpr std::string_view kConsoleUnreadable = "\ntavimor: the console cannot be read. Aborting.\n";

int askAndWrite(ConsoleIo& io, Lcg& generator) {
    const RockSettings settings = askRockSettings(io);
    if (settings.end == DialogueEnd::Quit) return kExitSuccess;
    if (settings.end == DialogueEnd::ConsoleUnreadable) {
        io.writeError(kConsoleUnreadable);
        return kExitFailure;
    }

    const StemEntry entry = editFileStem(io);
    if (entry.end == DialogueEnd::Quit) return kExitFailure;
    if (entry.end == DialogueEnd::ConsoleUnreadable) {
        io.writeError(kConsoleUnreadable);
        return kExitFailure;
    }

    for (int n = settings.extraRocks; n >= 0; --n) {
        const std::string name = entry.stem + static_cast<char>('0' + n) + ".COB";
        io.writeOutput(name + "\n");
        // The bytes are ready before the file is opened, so the file is open
        // only for the one write.
        const std::string bytes = cobFile(makeRock(generator, settings.spike), n);
        const SaveResult result = saveFile(name, bytes);
        if (result != SaveResult::Saved) {
            io.writeOutput(saveFailureMessage(result));
            return kExitFailure;
        }
    }
    return kExitSuccess;
}

}  // namespace

int runDialogue(ConsoleIo& io, Lcg& generator) {
    const int status = askAndWrite(io, generator);
    // Keys typed past the end of the entry (the eighth letter of a long name)
    // would otherwise reach the shell as a command.
    io.discardTypedAhead();
    return status;
}

}  // namespace tavimor
