#include "system/out_of_memory.h"

#include <new>

#include "system/exit_status.h"
#include "system/handler_state.h"
#include "system/platform.h"
#include "system/signals.h"

namespace tavimor {
namespace {

[[noreturn]] void outOfMemory(platform::Stream stream) {
    {
        SignalBlock block;
        cleanUpBeforeTheEnd();
    }
    platform::writeToStream(stream, "\aOut of memory. Aborting.\a");
    platform::exitNow(kExitFailure);
}

void outOfMemoryOnOutput() { outOfMemory(platform::Stream::Output); }
void outOfMemoryOnError() { outOfMemory(platform::Stream::Error); }

// Before main the run is not known yet; the arguments tell which it will
// be.
void outOfMemoryBeforeMain() {
    outOfMemory(platform::startedWithArguments() ? platform::Stream::Error : platform::Stream::Output);
}

// Libraries build constant objects before main (the option parser's
// validators, for one), and those allocate too. This handler is in place
// before any of them; main chooses the stream later.
struct HandlerBeforeStartUp {
    HandlerBeforeStartUp() { std::set_new_handler(outOfMemoryBeforeMain); }
};
__attribute__((init_priority(101))) const HandlerBeforeStartUp handlerBeforeStartUp;

}  // namespace

void endOnOutOfMemory(ReportStream stream) {
    std::set_new_handler(stream == ReportStream::Output ? outOfMemoryOnOutput : outOfMemoryOnError);
}

}  // namespace tavimor
