#include "geometry/rock.h"

namespace tavimor {

Rock makeRock(Lcg& generator, int spike, const Scale& scale) {
    Rock rock;
    for (std::size_t i = 0; i < kBaseShape.size(); ++i) {
        const Position& base = kBaseShape[i];
        const double f = randomScale(generator, static_cast<double>(spike));
        // Not a slip: X and Y are scaled by the factor rounded to single
        // precision and Z by the factor itself. Every rock file ever written
        // was made this way, and the sixth decimal of about one Z in fifty
        // depends on it.
        const double g = static_cast<double>(static_cast<float>(f));
        rock.positions[i] = {base.x * g * scale.x, base.y * g * scale.y, base.z * f * scale.z};
    }
    return rock;
}

}  // namespace tavimor
