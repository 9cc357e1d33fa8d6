#pragma once

// A rock at the finest of a run's detail levels.

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/rock.h"
#include "geometry/subdivision.h"

namespace tavimor {

// Where a rock's own randomness for its finer levels comes from: the run's
// seed and the rock's number. It never draws from the run's generator, so
// the detail never changes which rocks a seed makes.
struct RockIdentity {
    std::uint32_t seed = 0;
    int number = 0;
};

// A uniform number in [0, 1) for one position of one rock: a counter-based
// hash of the seed, the rock's number and the position's index.
double positionDraw(const RockIdentity& rock, int position);

// The rock at the finest of levels: the 75 positions of makeRock (taking
// its kVertexCount draws from generator, as a rock of detail 0 does), then
// every finer position. A new position starts at its edge's midpoint and is
// pushed outward from the centre by a factor from 1 to 1 + the level's
// roughness, its own draw choosing where. Scale is applied last, to every
// position, so that detail 0 stays bit for bit what makeRock makes.
std::vector<Position> makeDetailedRock(Lcg& generator, int spike, const Scale& scale, const DetailLevels& levels,
                                       const RockIdentity& rock);
// The same, into positions, whose memory is used again.
void makeDetailedRock(Lcg& generator, int spike, const Scale& scale, const DetailLevels& levels,
                      const RockIdentity& rock, std::vector<Position>& positions);

// How far a new position of level (1 and up) may be pushed out beyond its
// edge's midpoint, as a fraction of its distance from the centre.
double levelRoughness(int level, int spike);

}  // namespace tavimor
