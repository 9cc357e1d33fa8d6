#include "system/out_of_memory.h"

#include <new>

#include "system/exit_status.h"
#include "system/handler_state.h"
#include "system/platform.h"

namespace tavimor {
namespace {

// Set before any thread but the program's runs; read when memory runs out.
platform::Stream reportStream = platform::Stream::Error;
std::string_view reportMessage;

void outOfMemory() { endTheProgram(reportStream, reportMessage, kExitFailure); }

}  // namespace

void keepFreedMemoryForReuse() { platform::keepFreedMemory(); }

void useLargePagesForLargeRocks() {
    // Two textured rocks in flight, with their finest surfaces and files,
    // hold about 140 MB.
    platform::useLargePages(std::size_t{192} << 20);
}

void endOnOutOfMemory(ReportStream stream, std::string_view message) {
    reportStream = stream == ReportStream::Output ? platform::Stream::Output : platform::Stream::Error;
    reportMessage = message;
    std::set_new_handler(outOfMemory);
}

}  // namespace tavimor
