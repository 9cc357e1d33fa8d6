#include "geometry/generator.h"

#include <initializer_list>

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

namespace tavimor {
namespace {

// Skipping draws lands where taking them one by one does.
constexpr bool skipsAsItSteps() {
    for (const std::uint32_t seed : {0u, 1u, 2531011u, 4294967295u}) {
        Lcg stepped{seed};
        for (std::uint64_t draws = 0; draws < 300; ++draws) {
            if (skipped(Lcg{seed}, draws).state != stepped.state) return false;
            nextRandom(stepped);
        }
    }
    return true;
}
static_assert(skipsAsItSteps());

}  // namespace
}  // namespace tavimor
