#include "picture/png.h"

#include <cstdlib>

#include "picture/deflate.h"

namespace tavimor {
namespace {

// stb_image_write makes the PNG: its filters, chunks and checksums. Its own
// deflate is slow on large pictures; stb lets a program give it a
// compressor instead.

// A zlib stream of data, as stb asks for one: malloc'ed, for stb to free.
unsigned char* deflateQuickly(unsigned char* data, int length, int* outLength, int) {
    const std::span<const std::uint8_t> bytes(data, static_cast<std::size_t>(length));
    // Written in place, and the spare end given back: a map's stream is
    // megabytes, and copying it costs as much as making it.
    auto* out = static_cast<unsigned char*>(std::malloc(zlibBound(bytes.size())));
    if (out == nullptr) return nullptr;
    const std::size_t made = zlibStream(bytes, out);
    if (auto* shrunk = static_cast<unsigned char*>(std::realloc(out, made))) out = shrunk;
    *outLength = static_cast<int>(made);
    return out;
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
