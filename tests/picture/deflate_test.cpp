#include "picture/deflate.h"

#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace tavimor {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes zlibOf(const Bytes& data) {
    Bytes out(zlibBound(data.size()));
    out.resize(zlibStream(data, out.data()));
    return out;
}

std::uint32_t checksumOf(const Bytes& stream) {
    std::uint32_t adler = 0;
    for (std::size_t k = stream.size() - 4; k < stream.size(); ++k) adler = adler << 8 | stream[k];
    return adler;
}

// Bytes that repeat what came before at every distance and length deflate
// knows, from noise that does not compress at all.
Bytes copiesAtEveryDistance() {
    Bytes data;
    std::uint32_t state = 12345;
    const auto next = [&] { return state = state * 1664525u + 1013904223u; };
    while (data.size() < 70000) data.push_back(static_cast<std::uint8_t>(next() >> 24));
    for (int distance = 1; distance <= 32768; distance = distance * 3 / 2 + 1) {
        for (int length : {3, 4, 10, 11, 130, 257, 258, 300}) {
            for (int k = 0; k < length; ++k) data.push_back(data[data.size() - static_cast<std::size_t>(distance)]);
            data.push_back(static_cast<std::uint8_t>(next() >> 24));
        }
    }
    return data;
}

TEST(Deflate, EveryStreamInflatesToItsDataWithinTheBoundAndWithItsChecksum) {
    struct Case {
        std::string name;
        Bytes data;
        std::uint32_t adler;  // 0: not known apart from the stream itself
    };
    const std::string wikipedia = "Wikipedia";
    Bytes ramp(200000);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint8_t>((i * i * 7 + 3) % 251);
    Bytes noise(100000);
    std::uint32_t state = 7;
    for (auto& b : noise) b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 23);
    Bytes window(3 * 32768 + 5);
    for (std::size_t i = 0; i < window.size(); ++i) window[i] = static_cast<std::uint8_t>(i % 32768 * 2654435761u >> 24);
    const std::vector<Case> cases = {
        {"empty", {}, 1},
        {"one byte", {0xFF}, 0},
        {"two bytes", {7, 7}, 0},
        {"three alike", {7, 7, 7}, 0},
        // Bytes of nine bits each, no two alike: the most a stream takes,
        // for every length beyond a whole number of bytes' codes.
        {"seven nine-bit bytes", {200, 201, 202, 203, 204, 205, 206}, 0},
        {"fifteen nine-bit bytes", {144, 150, 160, 170, 180, 190, 200, 210, 220, 230, 240, 250, 251, 252, 253}, 0},
        // Adler-32's own example.
        {"Wikipedia", Bytes(wikipedia.begin(), wikipedia.end()), 0x11E60398},
        // Long runs overlap themselves; Adler-32 reduced many times over.
        {"a million 0xFF", Bytes(1000000, 0xFF), 0x3843E1BE},
        {"ramp", ramp, 0x0F06427B},
        {"noise", noise, 0},
        {"period of the window", window, 0},
        {"copies at every distance", copiesAtEveryDistance(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes stream = zlibOf(c.data);
        ASSERT_LE(stream.size(), zlibBound(c.data.size()));
        ASSERT_GE(stream.size(), 2u + 1u + 4u);
        EXPECT_EQ((stream[0] << 8 | stream[1]) % 31, 0);
        if (c.adler != 0) {
            EXPECT_EQ(checksumOf(stream), c.adler);
        }
        int length = 0;
        char* inflated = stbi_zlib_decode_malloc(reinterpret_cast<const char*>(stream.data()), static_cast<int>(stream.size()), &length);
        ASSERT_NE(inflated, nullptr) << stbi_failure_reason();
        const Bytes back(inflated, inflated + length);
        std::free(inflated);
        EXPECT_TRUE(back == c.data) << back.size() << " bytes back of " << c.data.size();
    }
}

TEST(Deflate, RepeatsAreFoundAcrossTheWholeWindowAndNoFurther) {
    // 64 KiB of noise, then the same again from 32767 and from 32769 bytes
    // back: the first is within the window and costs a few bytes, the
    // second is out of it and costs as much as the noise.
    Bytes noise(32769 + 20000);
    std::uint32_t state = 99;
    for (auto& b : noise) b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 23);
    const auto withRepeatFrom = [&](std::size_t back) {
        Bytes data(noise.begin(), noise.begin() + 32769);
        for (std::size_t k = 0; k < 20000; ++k) data.push_back(data[data.size() - back]);
        return zlibOf(data).size();
    };
    const std::size_t alone = zlibOf(Bytes(noise.begin(), noise.begin() + 32769)).size();
    EXPECT_LT(withRepeatFrom(32767), alone + 1000);
    EXPECT_GT(withRepeatFrom(32769), alone + 20000);
}

}  // namespace
}  // namespace tavimor
