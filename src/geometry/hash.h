#pragma once

// Integer hashing: the same numbers on every platform, from any inputs.

#include <cstdint>

namespace tavimor {

// splitmix64's finaliser: every input bit reaches every output bit.
constexpr std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

// 2^64 over the golden ratio: steps by it spread over the whole range.
inline constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15u;

// The top 53 bits of a hash, as a double in [0, 1): exact everywhere.
constexpr double fractionOf(std::uint64_t hash) { return static_cast<double>(hash >> 11) * 0x1.0p-53; }

}  // namespace tavimor
