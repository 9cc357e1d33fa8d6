#include "geometry/detailed_rock.h"

#include "geometry/hash.h"

namespace tavimor {
namespace {

// How rough the first finer level is at spike 9: a new vertex is pushed out
// past its edge's midpoint by up to 7 % of its distance from the centre.
// Each further level halves it, so the surface gets ever finer bumps of ever
// smaller size, as weathered stone does, and the pushes add up to under
// 14 %: facets and silhouette stay, and a coarser level looks like the
// finer one from afar. Chosen by looking at the rocks: at 0.22 every facet
// swelled into a pillow and the finest levels crumbled into gravel; at 0.03
// the finer levels hardly showed.
constexpr double kFirstLevelRoughness = 0.07;

// The rock's own key: its seed and number, mixed once.
std::uint64_t keyOf(const RockIdentity& rock) {
    return mix((static_cast<std::uint64_t>(rock.seed) << 32 | static_cast<std::uint32_t>(rock.number)) + kGolden);
}

// The draw for one position of the rock whose key this is.
double drawOf(std::uint64_t key, int position) {
    return fractionOf(mix(key + static_cast<std::uint64_t>(position) * kGolden));
}

}  // namespace

double positionDraw(const RockIdentity& rock, int position) { return drawOf(keyOf(rock), position); }

double levelRoughness(int level, int spike) {
    double roughness = kFirstLevelRoughness * spike / 9.0;
    for (int k = 1; k < level; ++k) roughness /= 2;
    return roughness;
}

std::vector<Position> makeDetailedRock(Lcg& generator, int spike, const Scale& scale, const DetailLevels& levels,
                                       const RockIdentity& rock) {
    std::vector<Position> positions;
    makeDetailedRock(generator, spike, scale, levels, rock, positions);
    return positions;
}

void makeDetailedRock(Lcg& generator, int spike, const Scale& scale, const DetailLevels& levels,
                      const RockIdentity& rock, std::vector<Position>& positions) {
    // The base rock unscaled: a factor of 1 changes no bit, and scaling it
    // at the end multiplies in the same order makeRock does.
    const Rock base = makeRock(generator, spike);
    const std::uint64_t key = keyOf(rock);
    positions.reserve(static_cast<std::size_t>(levels.levels.back().positionCount));
    positions.assign(base.positions.begin(), base.positions.end());
    for (std::size_t level = 1; level < levels.levels.size(); ++level) {
        const double roughness = levelRoughness(static_cast<int>(level), spike);
        const auto end = static_cast<std::size_t>(levels.levels[level].positionCount);
        for (std::size_t i = positions.size(); i < end; ++i) {
            const auto [a, b] = levels.edgeOfPosition[i - kVertexCount];
            const Position& p = positions[static_cast<std::size_t>(a)];
            const Position& q = positions[static_cast<std::size_t>(b)];
            // Out along the ray through the midpoint: the point stays in the
            // cone its edge spans from the centre, so no face turns its back
            // to the centre and no two faces cross.
            const double factor = 0.5 * (1.0 + roughness * drawOf(key, static_cast<int>(i)));
            positions.push_back({(p.x + q.x) * factor, (p.y + q.y) * factor, (p.z + q.z) * factor});
        }
    }
    if (scale.x != 1.0 || scale.y != 1.0 || scale.z != 1.0) {
        for (Position& p : positions) p = {p.x * scale.x, p.y * scale.y, p.z * scale.z};
    }
}

}  // namespace tavimor
