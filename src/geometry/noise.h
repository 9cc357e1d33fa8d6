#pragma once

// Gradient noise: smooth random lumps in space, the same bits on every
// platform. Inlined wherever it is used, so that the loops around it run
// several points at once in vector registers.

#include <bit>
#include <cstdint>
#include <type_traits>

namespace tavimor {
namespace noise {

// Gradient noise, from about -1 to 1, smooth in the point: Perlin's
// improved noise (its quintic fade), its lattice hashed with 32-bit integer arithmetic so that
// many points are worked out at once in vector registers. Every platform
// gets the same bits: integers, + - * / and a conversion.
//
// A corner's hash mixes the key with each of its coordinates times a
// constant of its own; the corner one further along an axis adds that
// axis's constant, so each point multiplies three times, not twenty-four.
inline constexpr std::uint32_t kAlongX = 0x8DA6B343u, kAlongY = 0xD8163841u, kAlongZ = 0xCB1AB31Fu;

// One multiply between shifts: the top bits, which pick a gradient, hang
// on every bit of the corner's.
[[gnu::always_inline]] inline std::uint32_t finalHash(std::uint32_t h) {
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    return h ^ (h >> 15);
}

// The gradient a corner's hash picks, dotted with the offset from the
// corner: one of the eight towards a cube's corners, its signs the hash's
// top three bits, flipped into the offset's sign bits: no table, which
// vector registers cannot index, and no choice between values.
template <class Real>
[[gnu::always_inline]] inline Real gradientDot(std::uint32_t hash, Real x, Real y, Real z) {
    using Bits = std::conditional_t<sizeof(Real) == 4, std::uint32_t, std::uint64_t>;
    constexpr int kSign = sizeof(Real) * 8 - 1;
    const auto flipped = [&](Real v, int bit) {
        return std::bit_cast<Real>(std::bit_cast<Bits>(v) ^ (static_cast<Bits>((hash >> bit) & 1u) << kSign));
    };
    return flipped(x, 31) + flipped(y, 30) + flipped(z, 29);
}

// What makes the noise's spread that of Perlin's own gradients (its
// largest then a little over 1).
inline constexpr double kNoiseScale = 0.816;

// 6 t^5 - 15 t^4 + 10 t^3: flat at both ends, so the noise is smooth.
template <class Real>
[[gnu::always_inline]] inline Real fade(Real t) {
    return t * t * t * (t * (t * 6 - 15) + 10);
}

template <class Real>
[[gnu::always_inline]] inline Real lerp(Real a, Real b, Real t) {
    return a + t * (b - a);
}

// The whole number at or below v, for |v| well within 2^31.
template <class Real>
[[gnu::always_inline]] inline std::int32_t cellOf(Real v) {
    const auto whole = static_cast<std::int32_t>(v);
    return static_cast<Real>(whole) > v ? whole - 1 : whole;
}

// The noise at (x, y, z) for key, in double or in float (the same lattice:
// float's is as smooth, to float's precision, and twice as many points
// fit a vector register).
template <class Real>
[[gnu::always_inline]] inline Real noiseAt(std::uint32_t key, Real x, Real y, Real z) {
    const std::int32_t cx = cellOf(x), cy = cellOf(y), cz = cellOf(z);
    const Real fx = x - static_cast<Real>(cx), fy = y - static_cast<Real>(cy), fz = z - static_cast<Real>(cz);
    const Real gx = fx - 1, gy = fy - 1, gz = fz - 1;
    const std::uint32_t x0 = static_cast<std::uint32_t>(cx) * kAlongX, x1 = x0 + kAlongX;
    const std::uint32_t y0 = static_cast<std::uint32_t>(cy) * kAlongY, y1 = y0 + kAlongY;
    const std::uint32_t zk = static_cast<std::uint32_t>(cz) * kAlongZ, z0 = zk ^ key, z1 = (zk + kAlongZ) ^ key;
    const Real c000 = gradientDot(finalHash(x0 ^ y0 ^ z0), fx, fy, fz);
    const Real c100 = gradientDot(finalHash(x1 ^ y0 ^ z0), gx, fy, fz);
    const Real c010 = gradientDot(finalHash(x0 ^ y1 ^ z0), fx, gy, fz);
    const Real c110 = gradientDot(finalHash(x1 ^ y1 ^ z0), gx, gy, fz);
    const Real c001 = gradientDot(finalHash(x0 ^ y0 ^ z1), fx, fy, gz);
    const Real c101 = gradientDot(finalHash(x1 ^ y0 ^ z1), gx, fy, gz);
    const Real c011 = gradientDot(finalHash(x0 ^ y1 ^ z1), fx, gy, gz);
    const Real c111 = gradientDot(finalHash(x1 ^ y1 ^ z1), gx, gy, gz);
    const Real u = fade(fx), v = fade(fy), w = fade(fz);
    return static_cast<Real>(kNoiseScale) *
           lerp(lerp(lerp(c000, c100, u), lerp(c010, c110, u), v), lerp(lerp(c001, c101, u), lerp(c011, c111, u), v), w);
}

}  // namespace noise

using noise::noiseAt;

}  // namespace tavimor
