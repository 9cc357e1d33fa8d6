#pragma once

// The bytes held for standard output, shared with the signal handlers.
// Internal to system/.

#include <csignal>
#include <cstddef>
#include <string_view>

namespace tavimor {

// A fixed buffer, so that a handler can write it out without allocating.
// Bytes before committed are printed text; bytes from committed to staged
// are a name that goes out only if its file makes it into place. Each
// change the program makes is one store of a count after the bytes are in
// place, so that a handler interrupting it sees either state whole.
struct OutputBuffer {
    static constexpr std::size_t kSize = 1 << 16;
    char bytes[kSize];
    volatile std::sig_atomic_t committed = 0;
    volatile std::sig_atomic_t stagedEnd = 0;

    std::size_t room() const { return kSize - static_cast<std::size_t>(stagedEnd); }
    bool staged() const { return stagedEnd != committed; }
    void commitStaged() { committed = stagedEnd; }
    // Writes out what is committed, and forgets it. Safe in a handler.
    int writeOut();
};

extern OutputBuffer heldOutput;

}  // namespace tavimor
