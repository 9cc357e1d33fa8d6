// tavimor: random rocks for 3D artists. With no arguments it asks three
// questions at the console; with arguments it runs as the options say.
#include <ctime>
#include <string>
#include <vector>

#include "app/dialogue_run.h"
#include "app/messages.h"
#include "app/options.h"
#include "app/scripted_run.h"
#include "app/seed.h"
#include "system/exit_status.h"
#include "system/out_of_memory.h"
#include "system/signals.h"
#include "system/standard_streams.h"
#include "terminal/console.h"

namespace {

// Memory that runs out ends the run with the message of the mode the
// arguments choose.
void reportOutOfMemory(bool scripted) {
    if (scripted) {
        tavimor::endOnOutOfMemory(tavimor::ReportStream::Error, tavimor::kScriptedOutOfMemory);
    } else {
        tavimor::endOnOutOfMemory(tavimor::ReportStream::Output, tavimor::kDialogueOutOfMemory);
    }
}

// Libraries build constant objects before main (the option parser's
// validators, for one), and those allocate too: the report is in place
// before any of them.
struct ReportBeforeMain {
    ReportBeforeMain() { reportOutOfMemory(tavimor::startedWithArguments()); }
};
__attribute__((init_priority(101))) const ReportBeforeMain reportBeforeMain;

// With no arguments: the classic dialogue at the console.
int runAtTheConsole(std::uint32_t seed) {
    reportOutOfMemory(false);
    tavimor::TerminalConsole console;
    return tavimor::runDialogue(console, seed);
}

// With arguments: no dialogue, no keys read.
int runFromTheCommandLine(const std::vector<std::string>& arguments, std::uint32_t clockSeed) {
    reportOutOfMemory(true);
    const tavimor::CommandLine command = tavimor::parseCommandLine(arguments);
    switch (command.action) {
        case tavimor::CommandLine::Action::Print:
            tavimor::putOutput(command.text);
            return tavimor::kExitSuccess;
        case tavimor::CommandLine::Action::Fail:
            tavimor::putError(command.text + "\n" + std::string(tavimor::kUsage));
            return tavimor::kExitUsage;
        case tavimor::CommandLine::Action::Run:
            break;
    }
    tavimor::RunSettings settings = command.settings;
    if (!settings.seed) settings.seed = clockSeed;
    return tavimor::runScripted(settings);
}

}  // namespace

int main(int argc, char** argv) {
    // The seed is the start-up time, taken before anything is shown.
    const std::uint32_t seed = tavimor::seedFromCalendarTime(std::time(nullptr));
    tavimor::installSignalHandlers();
    tavimor::prepareStandardStreams();
    tavimor::keepFreedMemoryForReuse();
    const std::vector<std::string> arguments = tavimor::commandLineArguments(argc, argv);
    int status = arguments.empty() ? runAtTheConsole(seed) : runFromTheCommandLine(arguments, seed);
    // Whatever else happened, output that could not be written fails the
    // run, in one line.
    if (!tavimor::flushOutput()) {
        tavimor::putError("tavimor: standard output: " + tavimor::outputFailure() + "\n");
        status = tavimor::kExitFailure;
    }
    return status;
}
