#include "terminal/key_reader.h"

#include <cstring>
#include <span>

namespace tavimor {

ByteRead KeyReader::readByte(long long deadline) {
    unsigned char byte = 0;
    const ByteRead r = source_.readByte(byte, deadline);
    if (r == ByteRead::Got) bytes_[byteCount_++] = byte;
    return r;
}

// Decodes the first key held and removes its bytes.
KeyReader::Take KeyReader::takeKey(bool atEnd, int& code) {
    const KeyDecode d = decodeKey(std::span<const unsigned char>(bytes_.data(), byteCount_), atEnd, decoderState_);
    if (d.needMore) return Take::NeedMore;
    std::memmove(bytes_.data(), bytes_.data() + d.consumed, byteCount_ - d.consumed);
    byteCount_ -= d.consumed;
    if (d.count == 0) return Take::Skipped;
    code = d.codes[0];
    if (d.count == 2) pendingCode_ = d.codes[1];
    return Take::Key;
}

int KeyReader::readKey() {
    if (pendingCode_ >= 0) {
        const int code = pendingCode_;
        pendingCode_ = -1;
        return code;
    }
    long long deadline = -1;  // end of the wait for the rest of a key
    bool atEnd = false;       // no more bytes will come for the bytes held
    bool failed = false;
    int code = 0;
    for (;;) {
        while (byteCount_ > 0) {
            // Only a runaway sequence can fill the buffer; it is taken as it stands.
            const Take t = takeKey(atEnd || byteCount_ == bytes_.size(), code);
            if (t == Take::Key) return code;
            if (t == Take::NeedMore) break;
            deadline = -1;  // bytes were dropped; what follows gets a wait of its own
        }
        if (failed) return -1;
        atEnd = false;
        if (byteCount_ == 0 && !decoderState_.dropping) {
            deadline = -1;
        } else if (deadline < 0) {
            deadline = clock_.nowMs() + kEscapeWaitMs;
        }
        switch (readByte(deadline)) {
            case ByteRead::Got:
                break;
            case ByteRead::TimedOut:
                atEnd = true;
                deadline = -1;
                decoderState_.dropping = false;  // what was being dropped has ended
                break;
            case ByteRead::Failed:
                atEnd = true;
                failed = true;
                break;
        }
    }
}

}  // namespace tavimor
