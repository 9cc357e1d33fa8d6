#include "geometry/generator.h"

namespace tavimor {

double factorOfDraw(int r, double spike) {
    // Single-precision division of two exactly representable values: the
    // exact quotient rounded once to the nearest float, so draw 32767 gives
    // exactly 1.
    const float u = static_cast<float>(r) / 32767.0f;
    const double s = spike / 9.0;
    // The build turns off floating-point contraction, so this is a rounded
    // product followed by a rounded sum, never a fused multiply-add.
    return s * static_cast<double>(u) + 1.0;
}

}  // namespace tavimor
