#pragma once

// Gradient noise: smooth random lumps in space, the same bits on every
// platform. Inlined wherever it is used, so that the loops around it run
// several points at once in vector registers.

#include <cstdint>

namespace tavimor {
namespace noise {

// Gradient noise, from about -1 to 1, smooth in the point: Perlin's
// improved noise, its lattice hashed with 32-bit integer arithmetic so that
// many points are worked out at once in vector registers. Every platform
// gets the same bits: integers, + - * / and a conversion.
[[gnu::always_inline]] inline std::uint32_t cornerHash(std::uint32_t key, std::int32_t x, std::int32_t y,
                                                      std::int32_t z) {
    std::uint32_t h = key ^ (static_cast<std::uint32_t>(x) * 0x8DA6B343u) ^ (static_cast<std::uint32_t>(y) * 0xD8163841u) ^
                      (static_cast<std::uint32_t>(z) * 0xCB1AB31Fu);
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    return h ^ (h >> 15);
}

// The gradient a corner's hash picks, dotted with the offset from the
// corner: one of the twelve towards a cube's edges' middles (four of them
// twice, to make sixteen), chosen by selects rather than a table, which
// vector registers cannot index.
[[gnu::always_inline]] inline double gradientDot(std::uint32_t hash, double x, double y, double z) {
    const std::uint32_t h = hash >> 28;
    const double u = h < 8 ? x : y;
    const double v = h < 4 ? y : (h == 12 || h == 14 ? x : z);
    return ((h & 1) != 0 ? -u : u) + ((h & 2) != 0 ? -v : v);
}

// 6 t^5 - 15 t^4 + 10 t^3: flat at both ends, so the noise is smooth.
[[gnu::always_inline]] inline double fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

[[gnu::always_inline]] inline double lerp(double a, double b, double t) { return a + t * (b - a); }

// The whole number at or below v, for |v| well within 2^31.
[[gnu::always_inline]] inline std::int32_t cellOf(double v) {
    const auto whole = static_cast<std::int32_t>(v);
    return static_cast<double>(whole) > v ? whole - 1 : whole;
}

// The noise at (x, y, z) for key.
[[gnu::always_inline]] inline double noiseAt(std::uint32_t key, double x, double y, double z) {
    const std::int32_t cx = cellOf(x), cy = cellOf(y), cz = cellOf(z);
    const double fx = x - cx, fy = y - cy, fz = z - cz;
    const double gx = fx - 1, gy = fy - 1, gz = fz - 1;
    const double c000 = gradientDot(cornerHash(key, cx, cy, cz), fx, fy, fz);
    const double c100 = gradientDot(cornerHash(key, cx + 1, cy, cz), gx, fy, fz);
    const double c010 = gradientDot(cornerHash(key, cx, cy + 1, cz), fx, gy, fz);
    const double c110 = gradientDot(cornerHash(key, cx + 1, cy + 1, cz), gx, gy, fz);
    const double c001 = gradientDot(cornerHash(key, cx, cy, cz + 1), fx, fy, gz);
    const double c101 = gradientDot(cornerHash(key, cx + 1, cy, cz + 1), gx, fy, gz);
    const double c011 = gradientDot(cornerHash(key, cx, cy + 1, cz + 1), fx, gy, gz);
    const double c111 = gradientDot(cornerHash(key, cx + 1, cy + 1, cz + 1), gx, gy, gz);
    const double u = fade(fx), v = fade(fy), w = fade(fz);
    return lerp(lerp(lerp(c000, c100, u), lerp(c010, c110, u), v), lerp(lerp(c001, c101, u), lerp(c011, c111, u), v), w);
}

}  // namespace noise

using noise::noiseAt;

}  // namespace tavimor
