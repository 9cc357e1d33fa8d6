#pragma once

#include <string>
#include <string_view>

namespace tavimor {

// One object file, collected in memory so that it reaches the disk in a
// single write. Every line is stored with the file's CR LF line end.
struct ObjectStream {
    std::string bytes;
};

inline void putLine(ObjectStream& out, std::string_view text) {
    out.bytes.append(text);
    out.bytes.append("\r\n", 2);
}

}  // namespace tavimor
