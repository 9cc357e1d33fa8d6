#include "app/dialogue_run.h"

#include <string>

#include "app/dialogue.h"
#include "app/messages.h"
#include "app/run.h"
#include "system/exit_status.h"
#include "system/standard_streams.h"

namespace tavimor {
namespace {

constexpr std::string_view kConsoleUnreadable = "\ntavimor: the console cannot be read. Aborting.\n";

// The dialogue shows each name before its file is written, and a failure
// as the bare message after it.
class DialogueReport final : public RunReport {
public:
    explicit DialogueReport(ConsoleIo& io) : io_(io) {}
    void writing(const std::string& path) override { io_.writeOutput(path + "\n"); }
    void failed(const std::string&, SaveResult result) override { io_.writeOutput(saveFailureMessage(result)); }
    // A COB file always fits; a message that nothing can show is still true.
    void notMade(const std::string&, std::string_view why) override { io_.writeOutput(notMadeMessage(why)); }

private:
    ConsoleIo& io_;
};

// The console could not be read. Where that is because standard output
// failed, main says so in one line.
int unreadable(ConsoleIo& io) {
    if (outputFailure().empty()) io.writeError(kConsoleUnreadable);
    return kExitFailure;
}

int askAndWrite(ConsoleIo& io, std::uint32_t seed) {
    const RockSettings settings = askRockSettings(io);
    if (settings.end == DialogueEnd::Quit) return kExitSuccess;
    if (settings.end == DialogueEnd::ConsoleUnreadable) return unreadable(io);

    const StemEntry entry = editFileStem(io);
    if (entry.end == DialogueEnd::Quit) return kExitFailure;
    if (entry.end == DialogueEnd::ConsoleUnreadable) return unreadable(io);

    // The dialogue's rocks: classic COB files in the current directory.
    const RunSettings run{.count = settings.extraRocks + 1, .spike = settings.spike, .seed = seed, .stem = entry.stem};
    DialogueReport report(io);
    return writeRun(run, report);
}

}  // namespace

int runDialogue(ConsoleIo& io, std::uint32_t seed) {
    const int status = askAndWrite(io, seed);
    // Keys typed past the end of the entry (the eighth letter of a long name)
    // would otherwise reach the shell as a command.
    io.discardTypedAhead();
    return status;
}

}  // namespace tavimor
