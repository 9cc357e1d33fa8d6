#include <cstdio>
#include <ctime>

#include "app/console.h"
#include "app/guard.h"
#include "app/run_driver.h"
#include "app/seed.h"

int main() {
    // The seed is the start-up time, taken before anything is shown.
    tavimor::Lcg generator{tavimor::seedFromCalendarTime(std::time(nullptr))};
    tavimor::installSignalHandlers();
    tavimor::endOnOutOfMemory(tavimor::ReportStream::Output);
    int status;
    {
        tavimor::TerminalConsole console;
        status = tavimor::runDialogue(console, generator);
    }
    std::fflush(stdout);
    return status;
}
