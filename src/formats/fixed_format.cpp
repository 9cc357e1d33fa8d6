#include "formats/fixed_format.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tavimor {
namespace {

// A double is m * 2^e with m below 2^53. Its exact decimal value is m * 2^e
// for e >= 0 and m * 5^-e / 10^-e otherwise; the largest of these integers,
// m * 5^1074 for the smallest subnormals, needs about 2,550 bits.
constexpr int kLimbs = 84;

struct BigUnsigned {
    std::array<std::uint32_t, kLimbs> limb{};
    int size = 0;  // limbs in use; the top one is non-zero
};

void multiplySmall(BigUnsigned& n, std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (int i = 0; i < n.size; ++i) {
        const std::uint64_t product = std::uint64_t{n.limb[i]} * factor + carry;
        n.limb[i] = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
    if (carry != 0) n.limb[n.size++] = static_cast<std::uint32_t>(carry);
}

void shiftLeft(BigUnsigned& n, int bits) {
    const int whole = bits / 32;
    const int part = bits % 32;
    if (part != 0) {
        std::uint32_t carry = 0;
        for (int i = 0; i < n.size; ++i) {
            const std::uint32_t next = n.limb[i] >> (32 - part);
            n.limb[i] = (n.limb[i] << part) | carry;
            carry = next;
        }
        if (carry != 0) n.limb[n.size++] = carry;
    }
    if (whole != 0) {
        for (int i = n.size - 1; i >= 0; --i) n.limb[i + whole] = n.limb[i];
        for (int i = 0; i < whole; ++i) n.limb[i] = 0;
        n.size += whole;
    }
}

std::uint32_t divideSmall(BigUnsigned& n, std::uint32_t divisor) {
    std::uint64_t rest = 0;
    for (int i = n.size - 1; i >= 0; --i) {
        const std::uint64_t current = (rest << 32) | n.limb[i];
        n.limb[i] = static_cast<std::uint32_t>(current / divisor);
        rest = current % divisor;
    }
    while (n.size > 0 && n.limb[n.size - 1] == 0) --n.size;
    return static_cast<std::uint32_t>(rest);
}

// Decimal digits of a non-zero n, most significant first, without leading
// zeros. Returns their count.
int toDecimal(BigUnsigned n, char* digits) {
    constexpr std::uint32_t kChunk = 1000000000u;  // nine digits at a time
    char reversed[kLimbs * 10 + 9];
    int count = 0;
    while (n.size > 0) {
        std::uint32_t chunk = divideSmall(n, kChunk);
        for (int i = 0; i < 9; ++i) {
            reversed[count++] = static_cast<char>('0' + chunk % 10);
            chunk /= 10;
        }
    }
    while (count > 1 && reversed[count - 1] == '0') --count;
    for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
    return count;
}

// Adds one to the decimal number digits[0..count); returns the new count.
int increment(char* digits, int count) {
    for (int i = count - 1; i >= 0; --i) {
        if (digits[i] != '9') {
            ++digits[i];
            return count;
        }
        digits[i] = '0';
    }
    std::memmove(digits + 1, digits, static_cast<std::size_t>(count));
    digits[0] = '1';
    return count + 1;
}

std::size_t copyText(const char* text, char* out) {
    const std::size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return n;
}

// Pairs of decimal digits, "00" to "99".
constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writes the six decimals of millionths (taken modulo a million).
void putSixDecimals(std::uint64_t millionths, char* out) {
    auto rest = static_cast<std::uint32_t>(millionths % 1000000);
    for (int i = 4; i >= 0; i -= 2) {
        std::memcpy(out + i, kDigitPairs.data() + 2 * (rest % 100), 2);
        rest /= 100;
    }
}

// GCC's 128-bit integers: mantissa * 15625 needs 67 bits.
__extension__ using Unsigned128 = unsigned __int128;

}  // namespace

// Why the fast path is exact. Let x = |v| * 10^6 = m * 15625 / 2^shift for
// the double m * 2^e. The formatter first rounds |v| half up to 17
// significant digits (judged by the 18th digit), then half up at the sixth
// decimal. For |v| below 10^10 every tie (k + 1/2) * 10^-6 lies on the
// 17-digit grid, so the two steps together round up exactly when
// |v| >= tie - 5 * 10^(p-17), p being the power of ten of |v|'s leading
// digit; that is, when frac(x) >= 1/2 - 5 * 10^(p-11). With D the number of
// digits of floor(x), p = D - 7, so the margin is 5 * 10^(D-18): one 128-bit
// comparison decides. (glibc's "%f" rounds once, to even, and so differs
// from this rule just below ties.)
bool fastMillionths(double v, std::uint64_t& millionths) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    // Below 2^-30, |v| * 10^6 stays under 1/1000: nothing can round up.
    if (biased < 1023 - 30) {
        millionths = 0;
        return true;
    }
    if (biased >= 1023 + 14) return false;  // 16384 and above, infinities, NaNs
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    // x = mantissa * 15625 / 2^shift, with shift from 33 to 76.
    const int shift = 1075 - biased - 6;
    const Unsigned128 product = static_cast<Unsigned128>(mantissa) * 15625u;
    const Unsigned128 one = static_cast<Unsigned128>(1) << shift;
    const Unsigned128 fraction = product & (one - 1);
    const Unsigned128 half = one >> 1;
    const auto whole = static_cast<std::uint64_t>(product >> shift);
    if (fraction >= half) {
        millionths = whole + 1;
        return true;
    }
    // The margin is at most 5 * 10^-7 of a millionth, below 2^-20.
    if (fraction < half - (one >> 20)) {
        millionths = whole;
        return true;
    }
    if (shift <= 64) {
        // |v| >= 2^-18, so floor(x) >= 3 and has 1 to 11 digits. Up exactly
        // when fraction / one >= 1/2 - 10 / (2 * q), q = 10^(18 - D); both
        // sides stay below 2^122.
        std::uint64_t q = 100000000000000000u;  // 10^17, for D = 1
        for (std::uint64_t w = whole; w >= 10; w /= 10) q /= 10;
        millionths = whole + (2 * q * fraction >= one * (q - 10) ? 1 : 0);
        return true;
    }
    // Tinier values: the margin is below one part in 2^54 of a millionth;
    // only that hair below a tie goes to the exact digits.
    if (fraction < half - ((one >> 54) + 1)) {
        millionths = whole;
        return true;
    }
    return false;
}

std::size_t formatFixed6(double v, char* out) {
    std::uint64_t millionths = 0;
    if (!fastMillionths(v, millionths)) return formatFixed6Exact(v, out);
    std::size_t length = 0;
    // A negative zero prints without its sign; any other negative value,
    // even one that rounds to zero, keeps it.
    if (std::signbit(v) && v != 0.0) out[length++] = '-';
    // The whole part has at most five digits below 16384.
    length = static_cast<std::size_t>(std::to_chars(out + length, out + length + 8, millionths / 1000000).ptr - out);
    out[length++] = '.';
    putSixDecimals(millionths, out + length);
    return length + 6;
}

std::size_t formatFixed6Exact(double v, char* out) {
    constexpr int kDecimals = 6;
    constexpr int kSignificant = 17;

    const auto bits = std::bit_cast<std::uint64_t>(v);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

    if (biased == 0x7FF) {
        if (fraction != 0) return copyText(negative ? "-nan" : "nan", out);
        return copyText(negative ? "-inf" : "inf", out);
    }
    const std::uint64_t mantissa = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
    if (mantissa == 0) return copyText("0.000000", out);
    const int exponent = (biased == 0 ? 1 : biased) - 1075;

    BigUnsigned n;
    n.limb[0] = static_cast<std::uint32_t>(mantissa);
    n.limb[1] = static_cast<std::uint32_t>(mantissa >> 32);
    n.size = n.limb[1] != 0 ? 2 : 1;
    int scale = 0;  // the value is n * 10^-scale
    if (exponent >= 0) {
        shiftLeft(n, exponent);
    } else {
        constexpr std::uint32_t kFivePow13 = 1220703125u;
        scale = -exponent;
        int left = scale;
        for (; left >= 13; left -= 13) multiplySmall(n, kFivePow13);
        for (; left > 0; --left) multiplySmall(n, 5);
    }

    // Room for every digit of n plus the zeros and the carry added below.
    char digits[kLimbs * 10 + 2 * kDecimals + 2];
    int count = toDecimal(n, digits);

    // Reduce to 17 significant digits, judged by the 18th alone.
    if (count > kSignificant) {
        const bool up = digits[kSignificant] >= '5';
        scale -= count - kSignificant;
        count = kSignificant;
        if (up) count = increment(digits, count);
    }
    if (scale < 0) {
        std::memset(digits + count, '0', static_cast<std::size_t>(-scale));
        count += -scale;
        scale = 0;
    }

    // Round that digit string at the sixth decimal.
    if (scale > kDecimals) {
        const int drop = scale - kDecimals;
        bool up = false;
        if (drop <= count) {
            up = digits[count - drop] >= '5';
            count -= drop;
        } else {
            count = 0;
        }
        if (up) count = increment(digits, count);
    } else if (scale < kDecimals) {
        std::memset(digits + count, '0', static_cast<std::size_t>(kDecimals - scale));
        count += kDecimals - scale;
    }

    // digits[0..count) now hold the value in millionths.
    std::size_t length = 0;
    if (negative) out[length++] = '-';
    const int integerDigits = count - kDecimals;
    if (integerDigits > 0) {
        std::memcpy(out + length, digits, static_cast<std::size_t>(integerDigits));
        length += static_cast<std::size_t>(integerDigits);
    } else {
        out[length++] = '0';
    }
    out[length++] = '.';
    for (int i = kDecimals; i > 0; --i) {
        const int at = count - i;
        out[length++] = at >= 0 ? digits[at] : '0';
    }
    return length;
}

}  // namespace tavimor
