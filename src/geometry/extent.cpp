#include "geometry/extent.h"

#include <algorithm>
#include <cmath>

#include "geometry/vector_clones.h"

namespace tavimor {

TAVIMOR_VECTOR_CLONES
Extent extentOf(std::span<const Position> positions) {
    // Two of everything, for even and odd positions: twice as many
    // comparisons under way at once.
    struct Running {
        double lx, ly, lz, hx, hy, hz, far;
        void take(const Position& p) {
            lx = p.x < lx ? p.x : lx;
            ly = p.y < ly ? p.y : ly;
            lz = p.z < lz ? p.z : lz;
            hx = p.x > hx ? p.x : hx;
            hy = p.y > hy ? p.y : hy;
            hz = p.z > hz ? p.z : hz;
            const double d = p.x * p.x + p.y * p.y + p.z * p.z;
            far = d > far ? d : far;
        }
    };
    const Position& first = positions[0];
    Running even{first.x, first.y, first.z, first.x, first.y, first.z, 0}, odd = even;
    std::size_t i = 0;
    for (; i + 1 < positions.size(); i += 2) {
        even.take(positions[i]);
        odd.take(positions[i + 1]);
    }
    if (i < positions.size()) even.take(positions[i]);
    return {{std::min(even.lx, odd.lx), std::min(even.ly, odd.ly), std::min(even.lz, odd.lz)},
            {std::max(even.hx, odd.hx), std::max(even.hy, odd.hy), std::max(even.hz, odd.hz)},
            std::sqrt(std::max(even.far, odd.far))};
}

}  // namespace tavimor
