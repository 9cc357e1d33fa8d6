#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavimor {

// One line of a COB file without its CR LF, and the byte offset at which
// it starts.
struct CrLfLine {
    std::size_t offset;
    std::string text;
};

// Splits COB file bytes at CR LF; anything after the last line end fails
// the test.
inline std::vector<CrLfLine> splitCrLfLines(const std::string& bytes) {
    std::vector<CrLfLine> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "bytes after the last line end";
            break;
        }
        lines.push_back({start, bytes.substr(start, end - start)});
        start = end + 2;
    }
    return lines;
}

}  // namespace tavimor
