#include "picture/deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace tavimor {
namespace {

// stb's own deflate searches every match it has seen, and spends most of
// its time on a sheet's flat background (170 ms for a hundred tiles). This
// one keeps only the last place of every three bytes and takes the first
// match it finds: one pass, linear, with deflate's fixed codes, for a file
// a few per cent larger. Every code is looked up whole, already in the
// order deflate packs its bits.

// Bits to go out lowest first, and how many.
struct Bits {
    std::uint32_t value = 0;
    int count = 0;
};

// A Huffman code, which deflate packs from its highest bit on.
constexpr Bits huffman(std::uint32_t code, int count) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < count; ++i) reversed |= ((code >> i) & 1u) << (count - 1 - i);
    return {reversed, count};
}

// A literal byte, the end of the block (256) or a length's symbol, in
// deflate's fixed code.
constexpr Bits fixedCode(int symbol) {
    if (symbol < 144) return huffman(static_cast<std::uint32_t>(0x30 + symbol), 8);
    if (symbol < 256) return huffman(static_cast<std::uint32_t>(0x190 + symbol - 144), 9);
    if (symbol < 280) return huffman(static_cast<std::uint32_t>(symbol - 256), 7);
    return huffman(static_cast<std::uint32_t>(0xC0 + symbol - 280), 8);
}

constexpr int kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static_assert(std::size(kLengthBase) == std::size(kLengthExtra) && std::size(kDistanceBase) == std::size(kDistanceExtra));

constexpr int kShortest = 3, kLongest = 258, kWindow = 32768;

constexpr std::array<Bits, 256> kLiterals = [] {
    std::array<Bits, 256> codes{};
    for (int symbol = 0; symbol < 256; ++symbol) codes[static_cast<std::size_t>(symbol)] = fixedCode(symbol);
    return codes;
}();

// Each length's symbol and extra bits, as one code.
constexpr std::array<Bits, kLongest + 1> kLengths = [] {
    std::array<Bits, kLongest + 1> codes{};
    for (int length = kShortest; length <= kLongest; ++length) {
        int l = 0;
        while (l + 1 < static_cast<int>(std::size(kLengthBase)) && kLengthBase[l + 1] <= length) ++l;
        const Bits symbol = fixedCode(257 + l);
        codes[static_cast<std::size_t>(length)] = {
            symbol.value | static_cast<std::uint32_t>(length - kLengthBase[l]) << symbol.count,
            symbol.count + kLengthExtra[l]};
    }
    return codes;
}();

// Where a distance's code is looked up: by distance - 1 up to 256, by
// 128s past it, where every code's range starts on a multiple of 128.
constexpr std::size_t distanceSlot(int distance) {
    return static_cast<std::size_t>(distance <= 256 ? distance - 1 : 256 + ((distance - 1) >> 7));
}

constexpr std::array<std::uint8_t, distanceSlot(kWindow) + 1> kDistanceCodes = [] {
    std::array<std::uint8_t, distanceSlot(kWindow) + 1> codes{};
    constexpr int kCodes = static_cast<int>(std::size(kDistanceBase));
    for (int d = 0; d < kCodes; ++d) {
        const int end = d + 1 < kCodes ? kDistanceBase[d + 1] : kWindow + 1;
        for (int distance = kDistanceBase[d]; distance < end; ++distance) codes[distanceSlot(distance)] = static_cast<std::uint8_t>(d);
    }
    return codes;
}();
static_assert(kDistanceCodes[distanceSlot(256)] == 15 && kDistanceCodes[distanceSlot(257)] == 16 &&
              kDistanceCodes[distanceSlot(kWindow)] == 29);

// Each distance code's five bits, in the order deflate packs them.
constexpr std::array<Bits, std::size(kDistanceBase)> kDistanceSymbols = [] {
    std::array<Bits, std::size(kDistanceBase)> codes{};
    for (std::size_t d = 0; d < codes.size(); ++d) codes[d] = huffman(static_cast<std::uint32_t>(d), 5);
    return codes;
}();

Bits distanceCode(int distance) {
    const std::size_t d = kDistanceCodes[distanceSlot(distance)];
    const Bits code = kDistanceSymbols[d];
    return {code.value | static_cast<std::uint32_t>(distance - kDistanceBase[d]) << code.count, code.count + kDistanceExtra[d]};
}

// Bits packed lowest first into bytes; no code is longer than 18 bits.
class BitSink {
public:
    explicit BitSink(std::uint8_t* out) : at_(out) {}
    void put(Bits bits) {
        buffer_ |= static_cast<std::uint64_t>(bits.value) << filled_;
        filled_ += bits.count;
        if (filled_ >= 32) {
            for (int k = 0; k < 4; ++k) *at_++ = static_cast<std::uint8_t>(buffer_ >> (8 * k));
            buffer_ >>= 32;
            filled_ -= 32;
        }
    }
    // The last byte's spare bits are zeros.
    std::uint8_t* finish() {
        for (; filled_ > 0; filled_ -= 8, buffer_ >>= 8) *at_++ = static_cast<std::uint8_t>(buffer_);
        return at_;
    }

private:
    std::uint8_t* at_;
    std::uint64_t buffer_ = 0;
    int filled_ = 0;
};

// How many bytes from a and b agree, up to most.
int agreeing(const std::uint8_t* a, const std::uint8_t* b, int most) {
    int n = 0;
    for (; n + 8 <= most; n += 8) {
        std::uint64_t x = 0, y = 0;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        // Both platforms are little-endian: the first byte that differs is
        // the lowest that differs.
        if (x != y) return n + std::countr_zero(x ^ y) / 8;
    }
    while (n < most && a[n] == b[n]) ++n;
    return n;
}

std::uint32_t adler32(std::span<const std::uint8_t> data) {
    std::uint32_t a = 1, b = 0;
    for (std::size_t k = 0; k < data.size();) {
        // 5552 bytes is the most before b can pass 2^32.
        const std::size_t end = std::min(data.size(), k + 5552);
        for (; k < end; ++k) {
            a += data[k];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

}  // namespace

std::size_t zlibBound(std::size_t length) {
    // Two bytes of head; the block's 3 bits, at most 9 bits a byte and the
    // end's 7, in whole bytes; four bytes of checksum.
    return 2 + (3 + 9 * length + 7 + 7) / 8 + 4;
}

std::size_t zlibStream(std::span<const std::uint8_t> data, std::uint8_t* out) {
    constexpr int kHashBits = 15;
    const int length = static_cast<int>(data.size());
    const std::uint8_t* bytes = data.data();
    std::vector<int> last(std::size_t{1} << kHashBits, -kWindow - 1);
    const auto hashAt = [&](int i) {
        const std::uint32_t three = static_cast<std::uint32_t>(bytes[i]) | static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
                                    static_cast<std::uint32_t>(bytes[i + 2]) << 16;
        return (three * 2654435761u) >> (32 - kHashBits);
    };
    out[0] = 0x78;  // deflate, 32 KiB window
    out[1] = 0x01;  // no dictionary, fastest; 0x7801 is a multiple of 31
    BitSink sink(out + 2);
    sink.put({1, 1});  // the last block
    sink.put({1, 2});  // fixed codes
    int i = 0;
    while (i < length) {
        int best = 0, distance = 0;
        if (i + kShortest <= length) {
            const std::uint32_t h = hashAt(i);
            const int candidate = last[h];
            last[h] = i;
            if (i - candidate <= kWindow - 1) {
                const int n = agreeing(bytes + candidate, bytes + i, std::min(kLongest, length - i));
                if (n >= kShortest) best = n, distance = i - candidate;
            }
        }
        if (best == 0) {
            sink.put(kLiterals[bytes[i]]);
            ++i;
        } else {
            sink.put(kLengths[static_cast<std::size_t>(best)]);
            sink.put(distanceCode(distance));
            i += best;
        }
    }
    sink.put(fixedCode(256));
    std::uint8_t* end = sink.finish();
    // Adler-32 of the data, highest byte first.
    const std::uint32_t adler = adler32(data);
    for (int shift = 24; shift >= 0; shift -= 8) *end++ = static_cast<std::uint8_t>(adler >> shift);
    return static_cast<std::size_t>(end - out);
}

}  // namespace tavimor
