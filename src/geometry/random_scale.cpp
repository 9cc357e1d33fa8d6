#include "geometry/random_scale.h"

#include <cstddef>

#include "cobwriter/fixed_format.h"

namespace tavimor {
namespace {

// The generator's state lives for the whole run and is never reset between
// rocks.
std::uint32_t randomState = 0;

}  // namespace

std::uint32_t seedFromCalendarTime(std::time_t seconds) {
    // Converting through the unsigned 64-bit type keeps the low 32 bits of
    // the two's complement value, whatever the sign and size of time_t.
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds));
}

void seedRandom(std::uint32_t seed) { randomState = seed; }

int nextRandom() {
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & 0x7FFFu);
}

double randomScale(double spike) {
    const int r = nextRandom();
    // Single-precision division of two exactly representable values: the
    // exact quotient rounded once to the nearest float.
    const float u = static_cast<float>(r) / 32767.0f;
    const double s = spike / 9.0;
    // The build turns off floating-point contraction, so this is a rounded
    // product followed by a rounded sum, never a fused multiply-add.
    return s * static_cast<double>(u) + 1.0;
}

void writeVertices(ObjectStream& out, const double* X, const double* Y, const double* Z, int count,
                   int spike) {
    for (int i = 0; i < count; ++i) {
        const double f = randomScale(static_cast<double>(spike));
        const double g = static_cast<double>(static_cast<float>(f));
        char line[kLineBufferSize];
        std::size_t n = formatFixed6(X[i] * g, line);
        line[n++] = ' ';
        n += formatFixed6(Y[i] * g, line + n);
        line[n++] = ' ';
        n += formatFixed6(Z[i] * f, line + n);
        putLine(out, std::string_view(line, n));
    }
}

}  // namespace tavimor
