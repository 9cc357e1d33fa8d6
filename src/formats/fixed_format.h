#pragma once

#include <cstddef>
#include <cstdint>

namespace tavimor {

// Longest text formatFixed6 can produce: sign, 309 integer digits, the
// point and six decimals.
inline constexpr std::size_t kMaxFixedLength = 1 + 309 + 1 + 6;

// Writes v in fixed-point notation with exactly six decimals and returns the
// number of characters written (no terminator; out needs kMaxFixedLength).
// Coordinate-sized values take a fast path; the rest, and the rare values
// too close to a rounding step to tell fast, go to formatFixed6Exact.
//
// The value is first reduced to 17 significant digits, rounding up in
// magnitude when the 18th digit is 5 or more; that digit string is then
// rounded at the sixth decimal the same way. A zero of either sign prints
// "0.000000"; a negative value that rounds to zero prints "-0.000000".
// Infinities and NaNs print as "inf", "-inf", "nan" and "-nan".
std::size_t formatFixed6(double v, char* out);

// The same text, always by exact decimal expansion: the reference that the
// fast path is tested against.
std::size_t formatFixed6Exact(double v, char* out);

// |v| in millionths, rounded as formatFixed6 rounds, when it can be had fast:
// for |v| below 16384 and not within a hair below a rounding step.
bool fastMillionths(double v, std::uint64_t& millionths);

}  // namespace tavimor
