#include "formats/preview.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include <cstdlib>
#include <cstring>

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

struct Vec3 {
    double x, y, z;
};

Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 unit(const Vec3& v) {
    const double length = std::sqrt(dot(v, v));
    return {v.x / length, v.y / length, v.z / length};
}
Vec3 toVec(const Position& p) { return {p.x, p.y, p.z}; }

// Looking down about 22 degrees onto the rock's front right, Z up on the
// sheet; the light comes from over the viewer's left shoulder. The
// directions are plain numbers made unit by a square root: no sine or
// cosine, whose last bits differ between platforms.
struct View {
    Vec3 forward, right, up, light;
};

View makeView() {
    View v;
    v.forward = unit({-1.0, -2.0, -0.9});
    v.right = unit(cross(v.forward, {0, 0, 1}));
    v.up = cross(v.right, v.forward);
    v.light = unit({0.7, 0.3, 1.3});
    return v;
}

constexpr double kAmbient = 0.3;
constexpr std::uint8_t kBackground[3] = {236, 236, 232};

std::uint8_t channel(double value) {
    const double clamped = value < 0 ? 0 : (value > 1 ? 1 : value);
    return static_cast<std::uint8_t>(clamped * 255 + 0.5);
}

// How lit a surface facing along normal (unit) is.
double lightOn(const Vec3& normal, const View& view) {
    const double facing = dot(normal, view.light);
    return kAmbient + (1 - kAmbient) * (facing > 0 ? facing : 0);
}

void appendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

}  // namespace

ContactSheet::ContactSheet(int rocks, int tileSize, double reach)
    : tileSize_(tileSize),
      width_(std::min(rocks, kTilesPerRow) * tileSize),
      height_((rocks + kTilesPerRow - 1) / kTilesPerRow * tileSize),
      // The largest rock, seen from any side, fills nine tenths of a tile.
      scale_(reach > 0 ? 0.45 * tileSize / reach : 1.0),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3),
      depth_(static_cast<std::size_t>(tileSize) * static_cast<std::size_t>(tileSize)) {
    for (std::size_t i = 0; i < pixels_.size(); i += 3) std::copy(kBackground, kBackground + 3, pixels_.begin() + i);
}

void ContactSheet::draw(int index, const RockMesh& rock) {
    const View view = makeView();
    const LevelMesh& level = *rock.level->mesh;
    const bool smooth = !rock.normals.empty();
    const int left = index % kTilesPerRow * tileSize_, top = index / kTilesPerRow * tileSize_;
    const double centre = tileSize_ / 2.0;
    std::fill(depth_.begin(), depth_.end(), std::numeric_limits<float>::infinity());

    // Every position seen once: where it lands in the tile, how deep, and
    // (smooth) how lit.
    const auto count = static_cast<std::size_t>(level.positionCount);
    projected_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3 p = toVec(rock.positions[i]);
        projected_[i] = {centre + scale_ * dot(p, view.right), centre - scale_ * dot(p, view.up),
                         dot(p, view.forward), smooth ? lightOn(toVec(rock.normals[i]), view) : 0};
    }
    for (const auto& face : level.faces) {
        const Vec3 p[3] = {toVec(rock.positions[static_cast<std::size_t>(face[0])]),
                           toVec(rock.positions[static_cast<std::size_t>(face[1])]),
                           toVec(rock.positions[static_cast<std::size_t>(face[2])])};
        // The corners run clockwise seen from outside: (c - a) x (b - a)
        // points out. A face turned away from the viewer is hidden.
        const Vec3 outward = cross(p[2] - p[0], p[1] - p[0]);
        if (dot(outward, view.forward) >= 0) continue;
        Seen q[3];
        for (std::size_t k = 0; k < 3; ++k) q[k] = projected_[static_cast<std::size_t>(face[k])];
        if (!smooth) {
            const double faceLight = lightOn(unit(outward), view);
            for (Seen& corner : q) corner.light = faceLight;
        }
        const double area = (q[1].x - q[0].x) * (q[2].y - q[0].y) - (q[1].y - q[0].y) * (q[2].x - q[0].x);
        if (area == 0) continue;
        // The corners' weights at (x, y) are planes: a x + b y + c, over
        // the area, so that a pixel costs two products a weight.
        const double perArea = 1 / area;
        const auto plane = [&](const Seen& from, const Seen& to) {
            return std::array<double, 3>{(from.y - to.y) * perArea, (to.x - from.x) * perArea,
                                         (from.x * to.y - from.y * to.x) * perArea};
        };
        const std::array<double, 3> e0 = plane(q[1], q[2]), e1 = plane(q[2], q[0]);
        const auto low = [&](double a, double b, double c) { return std::max(0, static_cast<int>(std::min({a, b, c}))); };
        const auto high = [&](double a, double b, double c) {
            return std::min(tileSize_ - 1, static_cast<int>(std::max({a, b, c})));
        };
        const int x0 = low(q[0].x, q[1].x, q[2].x), x1 = high(q[0].x, q[1].x, q[2].x);
        const int y0 = low(q[0].y, q[1].y, q[2].y), y1 = high(q[0].y, q[1].y, q[2].y);
        for (int y = y0; y <= y1; ++y) {
            const double py = y + 0.5, px = x0 + 0.5;
            const double row0 = e0[0] * px + e0[1] * py + e0[2], row1 = e1[0] * px + e1[1] * py + e1[2];
            float* depthRow = &depth_[static_cast<std::size_t>(y) * static_cast<std::size_t>(tileSize_)];
            std::uint8_t* pixelRow =
                &pixels_[(static_cast<std::size_t>(top + y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(left)) * 3];
            for (int x = x0; x <= x1; ++x) {
                // Where the pixel's centre lies in the triangle: weights of
                // the corners, all at least 0 inside.
                const double step = x - x0;
                const double w0 = row0 + e0[0] * step, w1 = row1 + e1[0] * step, w2 = 1 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                const auto depth = static_cast<float>(w0 * q[0].depth + w1 * q[1].depth + w2 * q[2].depth);
                if (depth >= depthRow[x]) continue;
                depthRow[x] = depth;
                const double light = w0 * q[0].light + w1 * q[1].light + w2 * q[2].light;
                std::uint8_t* pixel = pixelRow + static_cast<std::size_t>(x) * 3;
                pixel[0] = channel(kRockColour.red * light);
                pixel[1] = channel(kRockColour.green * light);
                pixel[2] = channel(kRockColour.blue * light);
            }
        }
    }
}

std::string ContactSheet::png() const {
    std::string out;
    // The Up filter: the background's rows become zeros, and the rest of a
    // tile's rows differ little from the row above.
    stbi_write_force_png_filter = 2;
    if (stbi_write_png_to_func(appendBytes, &out, width_, height_, 3, pixels_.data(), width_ * 3) == 0) return {};
    return out;
}

}  // namespace tavimor
