#include "geometry/rock_recipe.h"

#include <algorithm>

#include "geometry/detailed_rock.h"
#include "geometry/hash.h"

namespace tavimor {

RockMaker::RockMaker(const RockRecipe& recipe, const DetailLevels& levels) : recipe_(recipe), levels_(levels) {
    if (recipe_.shading != Shading::Auto) return;
    for (int k = 0; k < recipe_.levels; ++k) {
        edges_.push_back(edgesOf(levels.levels[static_cast<std::size_t>(recipe_.detail - k)]));
    }
}

void RockMaker::make(int index, RockGeometry& rock, const BothParts& both) const {
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
    // The positions of the levels kept; with textures the positions go on
    // to the finest level there is, which only the bake reads.
    const std::span<const Position> kept =
        std::span(rock.positions).first(static_cast<std::size_t>(levels_.levels[finest].positionCount));
    if (r.textures > 0) surfaceOf(rock, identity, both);
    rock.normals.resize(r.shading != Shading::Flat ? levels : 0);
    for (std::size_t k = 0; k < rock.normals.size(); ++k) {
        smoothNormals(levels_.levels[finest - k], rock.positions, rock.normals[k]);
    }
    rock.split.resize(edges_.size());
    for (std::size_t k = 0; k < edges_.size(); ++k) {
        splitNormals(levels_.levels[finest - k], edges_[k], rock.positions, rock.normals[k], rock.split[k]);
    }
    const Extent made = extentOf(kept);
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
        rock.rounded.resize(kept.size());
        for (std::size_t i = 0; i < kept.size(); ++i) {
            const Position& p = rock.positions[i];
            rock.rounded[i] = {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
        }
        const auto shape = static_cast<std::size_t>(levels_.levels[std::min<std::size_t>(finest, 1)].positionCount);
        std::optional<CollisionHull> hull = collisionHull(rock.rounded, std::span(rock.rounded).first(shape));
        rock.hullFailed = !hull;
        rock.hull = hull ? std::move(*hull) : CollisionHull{};
    }
    if (r.textures > 0) bakeOnto(rock, both);
}

void RockMaker::surfaceOf(RockGeometry& rock, const RockIdentity& identity, const BothParts& both) const {
    const RockRecipe& r = recipe_;
    RockTextures& t = rock.textures;
    const LevelMesh& top = levels_.levels.back();
    // The finest normals and the atlas ask nothing of each other.
    both([&] { smoothNormals(top, rock.positions, t.fineNormals); },
         [&] {
             const int coarsest = r.detail - (r.levels - 1);
             t.atlas = rockAtlas(levels_, coarsest, rock.positions);
             t.meshes.resize(static_cast<std::size_t>(r.levels));
             t.views.resize(t.meshes.size());
             for (int k = 0; k < r.levels; ++k) {
                 atlasTextures(t.atlas, levels_, r.detail - k, t.meshes[static_cast<std::size_t>(k)]);
                 t.views[static_cast<std::size_t>(k)] = t.meshes[static_cast<std::size_t>(k)].view();
             }
         });
    lookOfSurface(sourceOf(rock, identity), t.looks, both);
}

BakeSource RockMaker::sourceOf(const RockGeometry& rock, const RockIdentity& identity) const {
    const StyleKind& style = recipe_.style.kind();
    return {.levels = levels_,
            .positions = rock.positions,
            .normals = rock.textures.fineNormals,
            .colour = style.material.baseColour,
            .look = style.look,
            .key = static_cast<std::uint32_t>(mix((std::uint64_t{identity.seed} << 32) ^ static_cast<std::uint32_t>(identity.number)))};
}

void RockMaker::bakeOnto(RockGeometry& rock, const BothParts& both) const {
    const RockRecipe& r = recipe_;
    RockTextures& t = rock.textures;
    t.tangents.resize(r.shading != Shading::Flat ? static_cast<std::size_t>(r.levels) : 0);
    for (std::size_t k = 0; k < t.tangents.size(); ++k) {
        const LevelMesh& level = levels_.levels[static_cast<std::size_t>(r.detail) - k];
        const bool split = r.shading == Shading::Auto;
        mikkTangents(level.faces, rock.positions, t.meshes[k].view(),
                     split ? std::span<const Position>(rock.split[k].normals) : std::span<const Position>(rock.normals[k]),
                     split ? std::span<const std::array<int, 3>>(rock.split[k].corners)
                           : std::span<const std::array<int, 3>>(level.faces),
                     t.tangents[k]);
    }
    // Flat, a reader gives each face its own normal, and MikkTSpace each
    // face its own tangent.
    const LevelMesh& finest = levels_.levels[static_cast<std::size_t>(r.detail)];
    BakeTarget target;
    target.level = r.detail;
    target.atlas = &t.atlas;
    target.uv = t.meshes[0].view();
    target.pixels = r.textures;
    if (r.shading == Shading::Flat) {
        t.faceNormals.resize(finest.faces.size());
        t.faceOf.resize(finest.faces.size());
        for (std::size_t f = 0; f < finest.faces.size(); ++f) {
            const auto& [a, b, c] = finest.faces[f];
            const Position& pa = rock.positions[static_cast<std::size_t>(a)];
            t.faceNormals[f] = unitOf(cross(rock.positions[static_cast<std::size_t>(c)] - pa, rock.positions[static_cast<std::size_t>(b)] - pa));
            const int n = static_cast<int>(f);
            t.faceOf[f] = {n, n, n};
        }
        mikkTangents(finest.faces, rock.positions, target.uv, t.faceNormals, t.faceOf, t.faceTangents);
        target.normals = t.faceNormals;
        target.normalOf = t.faceOf;
        target.tangents = t.faceTangents;
    } else {
        target.normals = r.shading == Shading::Auto ? std::span<const Position>(rock.split[0].normals)
                                                    : std::span<const Position>(rock.normals[0]);
        target.normalOf = r.shading == Shading::Auto ? std::span<const std::array<int, 3>>(rock.split[0].corners)
                                                     : std::span<const std::array<int, 3>>(finest.faces);
        target.tangents = t.tangents[0];
    }
    bakeMaps(sourceOf(rock, {r.seed, rock.number}), t.looks, target, t.maps, both);
}

}  // namespace tavimor
