#include "picture/png.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tavimor {
namespace {

// stb_image_write makes the PNG: its filters, chunks and checksums. Its own
// deflate searches every match it has seen, and spends most of the time on
// a sheet's flat background (170 ms for a hundred tiles here). stb lets a
// program give it a compressor instead; this one keeps only the last place
// of every three bytes and takes the first match it finds: one pass,
// linear, with deflate's fixed codes, for a file a few per cent larger.
class BitWriter {
public:
    explicit BitWriter(std::size_t capacity) { bytes_.reserve(capacity); }
    // count bits of value, the lowest first, as deflate packs them.
    void put(std::uint32_t value, int count) {
        buffer_ |= static_cast<std::uint64_t>(value) << filled_;
        filled_ += count;
        while (filled_ >= 8) {
            bytes_.push_back(static_cast<unsigned char>(buffer_ & 0xFF));
            buffer_ >>= 8;
            filled_ -= 8;
        }
    }
    // A Huffman code, which deflate packs from its highest bit on.
    void code(std::uint32_t value, int count) {
        std::uint32_t reversed = 0;
        for (int i = 0; i < count; ++i) reversed |= ((value >> i) & 1u) << (count - 1 - i);
        put(reversed, count);
    }
    std::vector<unsigned char>& finish() {
        if (filled_ > 0) put(0, 8 - filled_);
        return bytes_;
    }

private:
    std::vector<unsigned char> bytes_;
    std::uint64_t buffer_ = 0;
    int filled_ = 0;
};

// A literal byte, or the end of the block (256), in deflate's fixed code.
void putSymbol(BitWriter& out, int symbol) {
    if (symbol < 144) {
        out.code(static_cast<std::uint32_t>(0x30 + symbol), 8);
    } else if (symbol < 256) {
        out.code(static_cast<std::uint32_t>(0x190 + symbol - 144), 9);
    } else if (symbol < 280) {
        out.code(static_cast<std::uint32_t>(symbol - 256), 7);
    } else {
        out.code(static_cast<std::uint32_t>(0xC0 + symbol - 280), 8);
    }
}

constexpr int kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static_assert(std::size(kLengthBase) == std::size(kLengthExtra) && std::size(kDistanceBase) == std::size(kDistanceExtra));

void putMatch(BitWriter& out, int length, int distance) {
    int l = 0;
    while (l + 1 < static_cast<int>(std::size(kLengthBase)) && kLengthBase[l + 1] <= length) ++l;
    putSymbol(out, 257 + l);
    out.put(static_cast<std::uint32_t>(length - kLengthBase[l]), kLengthExtra[l]);
    int d = 0;
    while (d + 1 < static_cast<int>(std::size(kDistanceBase)) && kDistanceBase[d + 1] <= distance) ++d;
    out.code(static_cast<std::uint32_t>(d), 5);
    out.put(static_cast<std::uint32_t>(distance - kDistanceBase[d]), kDistanceExtra[d]);
}

// A zlib stream of data, as stb asks for one: malloc'ed, for stb to free.
unsigned char* deflateQuickly(unsigned char* data, int length, int* outLength, int) {
    constexpr int kWindow = 32768, kLongest = 258, kHashBits = 15;
    std::vector<int> last(std::size_t{1} << kHashBits, -kWindow - 1);
    const auto hashAt = [&](int i) {
        const std::uint32_t three =
            static_cast<std::uint32_t>(data[i]) | static_cast<std::uint32_t>(data[i + 1]) << 8 |
            static_cast<std::uint32_t>(data[i + 2]) << 16;
        return (three * 2654435761u) >> (32 - kHashBits);
    };
    BitWriter out(static_cast<std::size_t>(length) / 4 + 64);
    out.put(0x78, 8);  // deflate, 32 KiB window
    out.put(0x01, 8);  // no dictionary, fastest; 0x7801 is a multiple of 31
    out.put(1, 1);     // the last block
    out.put(1, 2);     // fixed codes
    int i = 0;
    while (i < length) {
        int best = 0, distance = 0;
        if (i + 3 <= length) {
            const std::uint32_t h = hashAt(i);
            const int candidate = last[h];
            last[h] = i;
            if (i - candidate <= kWindow - 1) {
                const int most = std::min(kLongest, length - i);
                int n = 0;
                while (n < most && data[candidate + n] == data[i + n]) ++n;
                if (n >= 3) best = n, distance = i - candidate;
            }
        }
        if (best == 0) {
            putSymbol(out, data[i]);
            ++i;
        } else {
            putMatch(out, best, distance);
            i += best;
        }
    }
    putSymbol(out, 256);
    std::vector<unsigned char>& bytes = out.finish();
    // Adler-32 of the data, highest byte first.
    std::uint32_t a = 1, b = 0;
    for (int k = 0; k < length;) {
        const int end = std::min(length, k + 5552);
        for (; k < end; ++k) {
            a += data[k];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    const std::uint32_t adler = b << 16 | a;
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<unsigned char>(adler >> shift));
    auto* result = static_cast<unsigned char*>(std::malloc(bytes.size()));
    if (result == nullptr) return nullptr;
    std::memcpy(result, bytes.data(), bytes.size());
    *outLength = static_cast<int>(bytes.size());
    return result;
}

}  // namespace
}  // namespace tavimor

#define STBIW_ZLIB_COMPRESS tavimor::deflateQuickly
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace tavimor {
namespace {

void appendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

// stb keeps its choice of filter in a global of its own: it is set once,
// before the first picture, and never changes.
void chooseFilterOnce() {
    // The Up filter: a flat background's rows become zeros, and the rows of
    // a drawing differ little from the row above.
    static const bool chosen = (stbi_write_force_png_filter = 2, true);
    (void)chosen;
}

}  // namespace

std::optional<std::string> encodePng(int width, int height, std::span<const std::uint8_t> rgb) {
    chooseFilterOnce();
    std::string out;
    if (stbi_write_png_to_func(appendBytes, &out, width, height, 3, rgb.data(), width * 3) == 0) return std::nullopt;
    return out;
}

}  // namespace tavimor
