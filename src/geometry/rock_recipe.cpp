#include "geometry/rock_recipe.h"

#include <algorithm>

#include "geometry/detailed_rock.h"

namespace tavimor {

RockMaker::RockMaker(const RockRecipe& recipe, const DetailLevels& levels) : recipe_(recipe), levels_(levels) {
    if (recipe_.shading != Shading::Auto) return;
    for (int k = 0; k < recipe_.levels; ++k) {
        edges_.push_back(edgesOf(levels.levels[static_cast<std::size_t>(recipe_.detail - k)]));
    }
}

void RockMaker::make(int index, RockGeometry& rock) const {
    const RockRecipe& r = recipe_;
    rock.number = r.count - 1 - index;
    Lcg generator = skipped(Lcg{r.seed}, static_cast<std::uint64_t>(index) * kVertexCount);
    const RockIdentity identity{r.seed, rock.number};
    if (r.style.isClassic()) {
        makeDetailedRock(generator, r.spike, r.scale, levels_, identity, rock.positions);
    } else {
        makeStyledRock(generator, r.style, r.spike, r.scale, levels_, identity, rock.positions, rock.styled);
    }
    const auto levels = static_cast<std::size_t>(r.levels);
    const auto finest = static_cast<std::size_t>(r.detail);
    rock.normals.resize(r.shading != Shading::Flat ? levels : 0);
    for (std::size_t k = 0; k < rock.normals.size(); ++k) {
        smoothNormals(levels_.levels[finest - k], rock.positions, rock.normals[k]);
    }
    rock.split.resize(edges_.size());
    for (std::size_t k = 0; k < edges_.size(); ++k) {
        splitNormals(levels_.levels[finest - k], edges_[k], rock.positions, rock.normals[k], rock.split[k]);
    }
    const Extent made = extentOf(rock.positions);
    rock.reachAsMade = made.reach;
    if (r.origin == Origin::Base) {
        // Every level moved as the finest: they stay where they were made,
        // one inside the other. 0.0 - low keeps a zero positive.
        const Extent& extent = made;
        const Position shift = {0.0 - (extent.low.x + extent.high.x) / 2, 0.0 - (extent.low.y + extent.high.y) / 2,
                                0.0 - extent.low.z};
        for (Position& p : rock.positions) p = p + shift;
    }
    rock.extents.resize(levels);
    for (std::size_t k = 0; k < levels; ++k) {
        const auto count = static_cast<std::size_t>(levels_.levels[finest - k].positionCount);
        rock.extents[k] = extentOf(std::span(rock.positions).first(count));
    }
    rock.hullFailed = false;
    if (r.hull) {
        // Made from the positions as files hold them, in single precision:
        // what holds them holds what a reader finds. Its directions from
        // the rock at detail 1 (long, faceted rocks have too few faces at
        // 0 to be held closely), pushed out to every position of the finest
        // level.
        rock.rounded.resize(rock.positions.size());
        for (std::size_t i = 0; i < rock.positions.size(); ++i) {
            const Position& p = rock.positions[i];
            rock.rounded[i] = {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
        }
        const auto shape = static_cast<std::size_t>(levels_.levels[std::min<std::size_t>(finest, 1)].positionCount);
        std::optional<CollisionHull> hull = collisionHull(rock.rounded, std::span(rock.rounded).first(shape));
        rock.hullFailed = !hull;
        rock.hull = hull ? std::move(*hull) : CollisionHull{};
    }
}

}  // namespace tavimor
