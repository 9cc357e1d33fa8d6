#pragma once

// What the program does when memory runs out.

#include <string_view>

namespace tavimor {

// Keeps memory the program gives back for its next use, instead of giving
// it back to the system: a finely detailed rock's buffers are megabytes, and
// every fresh megabyte costs the kernel 256 page faults and their clearing.
// What the program holds at its peak is unchanged.
void keepFreedMemoryForReuse();

// For runs that hold tens of megabytes a rock (baked maps): the memory comes
// in large pages where the system has them, a fault for every 2 MiB instead
// of every 4 KiB.
void useLargePagesForLargeRocks();

// Where the report goes when memory runs out.
enum class ReportStream { Output, Error };

// Makes every failed allocation end the program, on whatever thread it
// fails: terminal given back, the file being written removed, message
// (text that lives as long as the program) on the stream, exit status 1.
// Nothing is thrown, so nothing has to be allocated on the way out.
void endOnOutOfMemory(ReportStream stream, std::string_view message);

}  // namespace tavimor
