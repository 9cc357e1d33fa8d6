#pragma once

#include <cstddef>
#include <span>

namespace tavimor {

// How long a partial escape sequence or UTF-8 character may wait for the
// rest of its bytes before it is decoded as it stands.
inline constexpr int kEscapeWaitMs = 100;

// The result of decoding the first key of a byte string.
struct KeyDecode {
    // More bytes are needed before the key can be told; nothing is consumed.
    bool needMore = false;
    // Bytes that belong to the decoded key (or to the skipped sequence).
    std::size_t consumed = 0;
    // Key codes: none for a skipped sequence, one for a character, two (lead
    // code and second code) for a key that produces no character.
    int codes[2] = {0, 0};
    int count = 0;
};

// What the decoder carries from one call to the next: a sequence too long
// to hold is dropped byte by byte until its final byte has gone.
struct KeyDecoderState {
    bool dropping = false;
};

// Decodes the first key in bytes, as sent by xterm-compatible terminals,
// tmux and screen, rxvt and the Linux console. Empty bytes hold no key:
// more are needed, or, at the end, nothing is consumed.
//
// While atEnd is false, a prefix that may still grow into a longer key (an
// ESC, an unfinished escape sequence or UTF-8 character) asks for more
// bytes. With atEnd true the wait is over and the bytes are taken as they
// stand: a lone ESC is Escape, a truncated sequence is consumed without a
// code, a truncated UTF-8 character gives its first byte as a code.
KeyDecode decodeKey(std::span<const unsigned char> bytes, bool atEnd, KeyDecoderState& state);

}  // namespace tavimor
