#pragma once

// How a run's rocks are made: one recipe, from the seed to a rock with its
// normals, its place and its collision hull, the same on every thread.

#include <cstdint>
#include <vector>

#include "geometry/convex_hull.h"
#include "geometry/extent.h"
#include "geometry/normals.h"
#include "geometry/rock.h"
#include "geometry/split_normals.h"
#include "geometry/style.h"
#include "geometry/subdivision.h"
#include "geometry/two_parts.h"

namespace tavimor {

// Where a rock's origin is: its centre (as made), or on the ground under
// the middle of its box.
enum class Origin { Centre, Base };

// What every rock of a run is made with.
struct RockRecipe {
    std::uint32_t seed = 0;
    int count = 1;
    Style style = kClassic;
    int spike = 5;
    Scale scale = {};
    Origin origin = Origin::Centre;
    // The finest level made, and how many levels are kept from it down
    // (1, or detail + 1 for levels of detail).
    int detail = 0;
    int levels = 1;
    // Smooth: the normals of each level kept; auto: split along sharp
    // edges too.
    Shading shading = Shading::Flat;
    bool hull = false;
    // Maps of this many pixels square baked from the finest level (whose
    // levels must then be made), 0 for none.
    int textures = 0;
};

// A rock's atlas and maps: each level kept its texture coordinates (and
// with normals its tangents), the maps baked onto the finest of them and
// shared by all, and the look of every point of the finest surface.
struct RockTextures {
    RockAtlas atlas;
    std::vector<TextureMesh> meshes;
    // Each of meshes as the formats take it.
    std::vector<TextureCoordinates> views;
    std::vector<std::vector<Tangent>> tangents;
    BakedMaps maps;
    std::vector<PointLook> looks;
    // Room the bake uses: the finest level's normals, and flat faces' own.
    std::vector<Position> fineNormals, faceNormals;
    std::vector<std::array<int, 3>> faceOf;
    std::vector<Tangent> faceTangents;
};

// One rock as made: [k] of each list for detail - k, the finest first.
struct RockGeometry {
    // Rock n: count - 1 first, 0 last.
    int number = 0;
    // At the finest level made; every coarser level's positions come first.
    std::vector<Position> positions = {};
    // The normals of each level kept; none unless asked for.
    std::vector<std::vector<Position>> normals = {};
    // With auto shading, the normals of each level split along sharp edges.
    std::vector<SplitNormals> split = {};
    std::vector<Extent> extents = {};
    // How far its farthest position lies from its centre as made, before
    // its origin moved it: what frames it on a contact sheet.
    double reachAsMade = 0;
    // Its convex hull, around its finest level, where asked for.
    CollisionHull hull = {};
    // Its hull was asked for and could not be made.
    bool hullFailed = false;
    // Room a styled rock's making and its hull use, kept for the next rock.
    StyledRoom styled = {};
    std::vector<Position> rounded = {};
    // With textures asked for; the positions then reach the finest level
    // there is, beyond the finest kept.
    RockTextures textures = {};
};

class RockMaker {
public:
    // levels must reach recipe.detail and outlive the maker.
    RockMaker(const RockRecipe& recipe, const DetailLevels& levels);

    // Makes rock index of the run's writing order (number count - 1 -
    // index) into rock, its memory used again. The rock's draws start
    // kVertexCount draws a rock into the seed's sequence, so rocks can be
    // made out of turn, on any thread. The bake's work goes in two parts
    // through both: the same rock either way.
    void make(int index, RockGeometry& rock, const BothParts& both = inTurn) const;

    const RockRecipe& recipe() const { return recipe_; }

private:
    // With textures: the finest surface's normals and look, the atlas and
    // each kept level's texture coordinates (before the rock is moved to
    // its origin: the stone's look keeps to the rock as made).
    void surfaceOf(RockGeometry& rock, const RockIdentity& identity, const BothParts& both) const;
    BakeSource sourceOf(const RockGeometry& rock, const RockIdentity& identity) const;
    // The tangents of each level kept, and the maps.
    void bakeOnto(RockGeometry& rock, const BothParts& both) const;

    RockRecipe recipe_;
    const DetailLevels& levels_;
    // How the faces of each level kept meet, where normals are split.
    std::vector<LevelEdges> edges_;
};

}  // namespace tavimor
