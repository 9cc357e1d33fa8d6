#pragma once

#include <cstddef>

namespace tavimor {

// Longest text formatFixed6 can produce: sign, 309 integer digits, the
// point and six decimals.
inline constexpr std::size_t kMaxFixedLength = 1 + 309 + 1 + 6;

// Writes v in fixed-point notation with exactly six decimals and returns the
// number of characters written (no terminator; out needs kMaxFixedLength).
//
// The value is first reduced to 17 significant digits, rounding up in
// magnitude when the 18th digit is 5 or more; that digit string is then
// rounded at the sixth decimal the same way. A zero of either sign prints
// "0.000000"; a negative value that rounds to zero prints "-0.000000".
// Infinities and NaNs print as "inf", "-inf", "nan" and "-nan".
std::size_t formatFixed6(double v, char* out);

}  // namespace tavimor
