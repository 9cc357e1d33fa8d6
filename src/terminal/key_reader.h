#pragma once

#include <array>
#include <cstddef>

#include "terminal/key_decoder.h"

namespace tavimor {

enum class ByteRead { Got, TimedOut, Failed };

// Where key bytes come from: the terminal, or a script in the tests.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Waits for one byte until the clock reads deadlineMs (-1: no limit).
    virtual ByteRead readByte(unsigned char& byte, long long deadlineMs) = 0;
};

// Milliseconds from any fixed start.
class Clock {
public:
    virtual ~Clock() = default;
    virtual long long nowMs() = 0;
};

// Turns the bytes a terminal sends into key codes: 0 to 255 for a character,
// or a lead code (0 or 224) whose second code the next call returns at once.
// A partial escape sequence or UTF-8 character waits kEscapeWaitMs for the
// rest of its bytes; a sequence too long to hold is dropped as it arrives.
class KeyReader {
public:
    KeyReader(ByteSource& source, Clock& clock) : source_(source), clock_(clock) {}

    // The next key code, or -1 when the source can no longer be read.
    int readKey();
    // A second code is waiting: readKey returns it without reading.
    bool hasPendingCode() const { return pendingCode_ >= 0; }

private:
    enum class Take { Key, Skipped, NeedMore };
    Take takeKey(bool atEnd, int& code);
    ByteRead readByte(long long deadline);

    ByteSource& source_;
    Clock& clock_;
    int pendingCode_ = -1;
    // Bytes read that belong to keys not yet returned.
    std::array<unsigned char, 64> bytes_{};
    std::size_t byteCount_ = 0;
    KeyDecoderState decoderState_;
};

}  // namespace tavimor
