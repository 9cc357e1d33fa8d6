#include "geometry/rock.h"

namespace tavimor {

Position scaledPosition(const Position& base, double f, const Scale& scale) {
    // Not a slip: X and Y are scaled by the factor rounded to single
    // precision and Z by the factor itself. Every rock file ever written was
    // made this way, and the sixth decimal of about one Z in fifty depends
    // on it.
    const double g = static_cast<double>(static_cast<float>(f));
    return {base.x * g * scale.x, base.y * g * scale.y, base.z * f * scale.z};
}

Rock makeRock(Lcg& generator, int spike, const Scale& scale) {
    Rock rock;
    for (std::size_t i = 0; i < kBaseShape.size(); ++i) {
        rock.positions[i] = scaledPosition(kBaseShape[i], randomScale(generator, static_cast<double>(spike)), scale);
    }
    return rock;
}

}  // namespace tavimor
