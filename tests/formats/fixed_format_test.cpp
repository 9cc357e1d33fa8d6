#include "formats/fixed_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace tavimor {
namespace {

// The fast formatter's text, which must also be the exact formatter's.
std::string format(double v) {
    char fast[kMaxFixedLength + 1];
    char exact[kMaxFixedLength + 1];
    const std::size_t n = formatFixed6(v, fast);
    const std::size_t m = formatFixed6Exact(v, exact);
    EXPECT_LE(n, kMaxFixedLength);
    EXPECT_EQ(std::string(fast, n), std::string(exact, m)) << v;
    return std::string(fast, n);
}

struct Case {
    double value;
    const char* text;
};

TEST(FormatFixed6, Edges) {
    const double below = std::nextafter(5e-7, 0.0);
    const double above = std::nextafter(5e-7, 1.0);
    const Case cases[] = {
        // Zero of either sign prints without a sign.
        {0.0, "0.000000"},
        {-0.0, "0.000000"},
        // Negative values that round to zero keep their sign.
        {-1e-7, "-0.000000"},
        {-std::numeric_limits<double>::denorm_min(), "-0.000000"},
        {std::numeric_limits<double>::denorm_min(), "0.000000"},
        {4e-7, "0.000000"},
        {6e-7, "0.000001"},
        {-6e-7, "-0.000001"},
        // Just either side of half a millionth (the literal 5e-7 lies below it).
        {5e-7, "0.000000"},
        {below, "0.000000"},
        {above, "0.000001"},
        {-5e-7, "-0.000000"},
        {-above, "-0.000001"},
        // Exact halfway cases round up in magnitude, not to even.
        {0.0078125, "0.007813"},
        {0.0390625, "0.039063"},
        {1.0078125, "1.007813"},
        {-0.0078125, "-0.007813"},
        {0.0234375, "0.023438"},
        // The 17-digit reduction comes first: ...4999999999999999679 becomes
        // ...5000000000000000 and then rounds up.
        {0.1234565, "0.123457"},
        {0.0078385, "0.007839"},
        // Values of the vertex range.
        {2.0, "2.000000"},
        {-2.0, "-2.000000"},
        {1.9999995, "1.999999"},
        {std::nextafter(1.9999995, 3.0), "2.000000"},
        {0.000002, "0.000002"},
        {-0.000003, "-0.000003"},
        {0.9999996, "1.000000"},
        {-0.9999996, "-1.000000"},
        // Large values: only 17 significant digits survive.
        {1152921504606846976.0, "1152921504606847000.000000"},
        {1e20, "100000000000000000000.000000"},
        {123456.1234565, "123456.123457"},
    };
    for (const Case& c : cases) EXPECT_EQ(format(c.value), c.text) << c.value;
}

TEST(FormatFixed6, NonFiniteValues) {
    EXPECT_EQ(format(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(format(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(format(std::numeric_limits<double>::quiet_NaN()), "nan");
}

TEST(FormatFixed6, LargestValueFitsTheBuffer) {
    const std::string text = format(-std::numeric_limits<double>::max());
    EXPECT_EQ(text.size(), kMaxFixedLength);
    EXPECT_EQ(text.substr(0, 18), "-17976931348623157");
    EXPECT_EQ(text.substr(text.size() - 7), ".000000");
}

// The rounding rule applied to the exact decimal expansion that the C
// library prints with enough decimals.
std::string ruleFromExactExpansion(double v) {
    if (v == 0.0) return "0.000000";
    char exact[1600];
    std::snprintf(exact, sizeof exact, "%.1100f", std::fabs(v));
    std::string digits;
    int pointAt = 0;  // digits before the point
    for (const char* p = exact; *p != '\0'; ++p) {
        if (*p == '.') {
            pointAt = static_cast<int>(digits.size());
        } else {
            digits.push_back(*p);
        }
    }
    // Round the digit string up in magnitude at position keep.
    auto roundAt = [&](std::size_t keep) {
        const bool up = keep < digits.size() && digits[keep] >= '5';
        for (std::size_t i = keep; i < digits.size(); ++i) digits[i] = '0';
        if (!up) return;
        std::size_t i = keep;
        while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
        if (i == 0) {
            digits.insert(digits.begin(), '1');
            ++pointAt;
        } else {
            ++digits[i - 1];
        }
    };
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    roundAt(firstSignificant + 17);
    roundAt(static_cast<std::size_t>(pointAt) + 6);
    std::string integer = digits.substr(0, static_cast<std::size_t>(pointAt));
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size() - 1));
    return (v < 0 ? "-" : "") + integer + "." + digits.substr(static_cast<std::size_t>(pointAt), 6);
}

TEST(FormatFixed6, AgreesWithTheRuleOnRandomValues) {
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 70);
    for (int i = 0; i < 20000; ++i) {
        const double v = std::ldexp(mantissa(random), exponent(random));
        ASSERT_EQ(format(v), ruleFromExactExpansion(v)) << v;
    }
    // Values built to sit near a rounding step at the sixth decimal.
    for (int i = 0; i < 20000; ++i) {
        const double step = std::floor(mantissa(random) * 4e6) + 0.5;
        double v = step / 1e6;
        for (int k = 0; k < 3; ++k, v = std::nextafter(v, 10.0)) {
            ASSERT_EQ(format(v), ruleFromExactExpansion(v)) << v;
        }
    }
}

}  // namespace
}  // namespace tavimor
