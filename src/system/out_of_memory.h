#pragma once

// What the program does when memory runs out.

#include <string_view>

namespace tavimor {

// Where the report goes when memory runs out.
enum class ReportStream { Output, Error };

// Makes every failed allocation end the program, on whatever thread it
// fails: terminal given back, the file being written removed, message
// (text that lives as long as the program) on the stream, exit status 1.
// Nothing is thrown, so nothing has to be allocated on the way out.
void endOnOutOfMemory(ReportStream stream, std::string_view message);

}  // namespace tavimor
