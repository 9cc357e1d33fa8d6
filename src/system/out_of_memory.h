#pragma once

// What the program does when memory runs out.

namespace tavimor {

// Where the report goes when memory runs out: the dialogue shows it on
// standard output, a scripted run on standard error.
enum class ReportStream { Output, Error };

// Makes every failed allocation end the program: terminal given back, the
// file being written removed, "\aOut of memory. Aborting.\a" on the stream,
// exit status 1. Nothing is thrown, so nothing has to be allocated on the
// way out.
void endOnOutOfMemory(ReportStream stream);

}  // namespace tavimor
