#include "geometry/bake.h"

#include <algorithm>
#include <cmath>

#include "geometry/hash.h"
#include "geometry/noise.h"
#include "geometry/two_parts.h"
#include "geometry/vec3.h"

namespace tavimor {
namespace {

// x^(1/5) for x in (0, 1]: Newton's steps from x^(1/4), which is near.
double fifthRoot(double x) {
    if (!(x > 0)) return 0;
    double y = std::sqrt(std::sqrt(x));
    for (int i = 0; i < 8; ++i) {
        const double y4 = y * y * y * y;
        y = y - (y4 * y - x) / (5 * y4);
    }
    return y;
}

// The sRGB curve's threshold between byte b - 1 and b, in linear terms:
// halfway between the two bytes as sRGB counts.
struct SrgbTable {
    std::array<double, 256> threshold{};
    SrgbTable() {
        for (int b = 1; b < 256; ++b) threshold[static_cast<std::size_t>(b)] = linearOf((b - 0.5) / 255);
    }
};

// How far the finest level's points lie below the faces of coarser levels
// (a share of each face's size): above on open convex parts, below in
// hollows and in the inner corners of steps. levels 1 to 5 see hollows of
// every size from a tenth of the rock to a grain.
constexpr int kCoarsest = 1, kFinest = 5;


// Ambient occlusion as discs of surface shut a point in: the share of
// the surface within reach that faces the point from above its tangent
// plane, each disc's solid angle, summed. Every face of a level is a
// disc, and so is every face of a coarser level for the four faces it
// splits into: near a point the discs are a finer level's faces, further
// off a coarser level's, so a point costs a few hundred discs, not every
// face of the rock. The points are a level's positions; finer points take
// their face's, weighted by where they lie in it.
constexpr float kDiscReach = 0.45f;
// How dark the discs round a point make it: set against rays cast at the
// finest surface.
constexpr float kDiscWeight = 40;
// A disc stands for its four faces where the point lies outside the
// sphere that holds them: nearer, its faces are taken instead. Against
// rays, going finer sooner adds nothing.
constexpr float kDiscFar = 1;
// The level whose positions are worked out, and the finest level of discs.
constexpr int kDiscPoints = 4, kDiscFaces = 4;
// In single precision: a shade needs no more, and a rock's discs then
// take half the cache.
using Vector = Vector3<float>;
struct Disc {
    Vector centre;
    // Outward, its length the disc's area.
    Vector area;
    // How far the faces it stands for reach from its centre.
    float bound;
};

Vector single(const Position& p) { return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)}; }

// Every face of levels 0 to finest as a disc; each coarser face's from
// its four.
std::vector<std::vector<Disc>> discsOf(const DetailLevels& levels, int finest, std::span<const Position> p) {
    std::vector<std::vector<Disc>> discs(static_cast<std::size_t>(finest) + 1);
    auto& bottom = discs.back();
    const LevelMesh& at = levels.levels[static_cast<std::size_t>(finest)];
    bottom.resize(at.faces.size());
    for (std::size_t f = 0; f < at.faces.size(); ++f) {
        const Vector a = single(p[static_cast<std::size_t>(at.faces[f][0])]);
        const Vector b = single(p[static_cast<std::size_t>(at.faces[f][1])]);
        const Vector c = single(p[static_cast<std::size_t>(at.faces[f][2])]);
        const Vector centre = (a + b + c) * (1.0f / 3);
        // Clockwise seen from outside.
        const Vector area = cross(c - a, b - a) * 0.5f;
        float bound = 0;
        for (const Vector* q : {&a, &b, &c}) bound = std::max(bound, dot(*q - centre, *q - centre));
        bottom[f] = {centre, area, std::sqrt(bound)};
    }
    for (int level = finest - 1; level >= 0; --level) {
        const auto& below = discs[static_cast<std::size_t>(level) + 1];
        auto& out = discs[static_cast<std::size_t>(level)];
        out.resize(below.size() / 4);
        for (std::size_t f = 0; f < out.size(); ++f) {
            Vector centre = {0, 0, 0}, area = {0, 0, 0};
            float weight = 0;
            for (std::size_t k = 0; k < 4; ++k) {
                const Disc& child = below[4 * f + k];
                const float size = std::sqrt(dot(child.area, child.area));
                centre = centre + child.centre * size;
                area = area + child.area;
                weight += size;
            }
            centre = weight > 0 ? centre * (1 / weight) : below[4 * f].centre;
            float bound = 0;
            for (std::size_t k = 0; k < 4; ++k) {
                const Disc& child = below[4 * f + k];
                const Vector d = child.centre - centre;
                bound = std::max(bound, std::sqrt(dot(d, d)) + child.bound);
            }
            out[f] = {centre, area, bound};
        }
    }
    return discs;
}

// The first face each position is a corner of: the face that works the
// position out, so that two parts of the faces never both do.
std::vector<std::uint32_t> firstFaces(const LevelMesh& level) {
    std::vector<std::uint32_t> first(static_cast<std::size_t>(level.positionCount), UINT32_MAX);
    for (std::size_t f = level.faces.size(); f-- > 0;) {
        for (const int v : level.faces[f]) first[static_cast<std::size_t>(v)] = static_cast<std::uint32_t>(f);
    }
    return first;
}

// How open each position of `level` is (1 open, 0 shut in).
std::vector<float> discOcclusion(const DetailLevels& levels, int level, int finest, std::span<const Position> p,
                                 const BothParts& both) {
    const LevelMesh& at = levels.levels[static_cast<std::size_t>(level)];
    const auto count = static_cast<std::size_t>(at.positionCount);
    std::vector<Position> normal(count, Position{0, 0, 0});
    for (const auto& [a, b, c] : at.faces) {
        const Position& pa = p[static_cast<std::size_t>(a)];
        const Position n = cross(p[static_cast<std::size_t>(c)] - pa, p[static_cast<std::size_t>(b)] - pa);
        for (const int v : {a, b, c}) normal[static_cast<std::size_t>(v)] = normal[static_cast<std::size_t>(v)] + n;
    }
    const std::vector<std::vector<Disc>> discs = discsOf(levels, finest, p);
    const std::vector<std::uint32_t> first = firstFaces(at);
    std::vector<float> open(count);
    constexpr float kPi = 3.14159265f;
    constexpr float kReach = kDiscReach, kFar = kDiscFar, kWeight = kDiscWeight;
    const auto& top = discs[0];
    const std::size_t perRoot = at.faces.size() / top.size();
    // The points a level-0 face holds, in turn: the level-0 faces that may
    // reach any of them, worked out once for all of them. Faces beyond
    // would add nothing, so a point's sum is the same whichever face it is
    // taken with.
    inHalves(both, top.size(), [&](std::size_t from, std::size_t to, int) {
        struct Visit {
            int level;
            std::uint32_t face;
        };
        std::vector<Visit> stack;
        std::vector<std::uint32_t> roots;
        for (std::size_t g = from; g < to; ++g) {
            roots.clear();
            for (std::size_t h = top.size(); h-- > 0;) {
                const Vector d = top[h].centre - top[g].centre;
                const float outer = kReach + top[h].bound + top[g].bound;
                if (dot(d, d) < outer * outer) roots.push_back(static_cast<std::uint32_t>(h));
            }
            for (std::size_t f = g * perRoot; f < (g + 1) * perRoot; ++f) {
                for (const int corner : at.faces[f]) {
                    const auto v = static_cast<std::size_t>(corner);
                    if (first[v] != f) continue;
                    const Vector n = single(unitOf(normal[v])), q = single(p[v]);
                    float shut = 0;
                    stack.clear();
                    for (const std::uint32_t h : roots) stack.push_back({0, h});
                    while (!stack.empty()) {
                        const Visit visit = stack.back();
                        stack.pop_back();
                        const Disc& disc = discs[static_cast<std::size_t>(visit.level)][visit.face];
                        const Vector d = disc.centre - q;
                        const float r2 = dot(d, d), above = dot(n, d);
                        // Wholly out of reach, or wholly below the tangent
                        // plane: most of a rock's surface, gone before any
                        // root.
                        if (above <= -disc.bound) continue;
                        const float outer = kReach + disc.bound;
                        if (r2 >= outer * outer) continue;
                        if (visit.level < finest && r2 < kFar * kFar * disc.bound * disc.bound) {
                            for (std::uint32_t k = 4; k-- > 0;) stack.push_back({visit.level + 1, 4 * visit.face + k});
                            continue;
                        }
                        const float facing = -dot(disc.area, d);
                        if (above <= 0 || facing <= 0 || r2 >= kReach * kReach || !(r2 > 0)) continue;
                        const float r = std::sqrt(r2), size = std::sqrt(dot(disc.area, disc.area));
                        // The disc's solid angle seen from the point, as a
                        // share of the hemisphere, fading out at the reach.
                        const float solid = 1 - 1 / std::sqrt(1 + size / (kPi * r2));
                        shut += solid * (facing / (size * r)) * (above / r) * (1 - r / kReach);
                    }
                    open[v] = std::clamp(1 - kWeight * shut, 0.0f, 1.0f);
                }
            }
        }
    });
    return open;
}

}  // namespace

double linearOf(double srgb) {
    if (srgb <= 0.04045) return srgb / 12.92;
    // ((s + 0.055) / 1.055)^2.4 = x^2 (x^2)^(1/5).
    const double x = (srgb + 0.055) / 1.055;
    return x * x * fifthRoot(x * x);
}

std::uint8_t srgbByte(double linear) {
    // A table of the byte at every 65536th of the range, each entry the
    // byte of its step's middle: a map's texel costs a look-up, not a
    // search (a byte off only where a step holds a threshold).
    static const std::vector<std::uint8_t> bytes = [] {
        static const SrgbTable table;
        std::vector<std::uint8_t> out(65536);
        for (std::size_t i = 0; i < out.size(); ++i) {
            const double middle = (static_cast<double>(i) + 0.5) / 65536;
            const auto at = std::upper_bound(table.threshold.begin() + 1, table.threshold.end(), middle);
            out[i] = static_cast<std::uint8_t>(at - (table.threshold.begin() + 1));
        }
        return out;
    }();
    if (!(linear > 0)) return 0;
    if (linear >= 1) return 255;
    return bytes[static_cast<std::size_t>(linear * 65536)];
}

void lookOfSurface(const BakeSource& source, std::vector<PointLook>& looks, const BothParts& both) {
    // How dark a point goes for how far it lies below the coarser levels.
    constexpr double aoGain = 0.5, kShadeContrast = 2.5;
    const std::size_t finest = source.levels.levels.size() - 1;
    const LevelMesh& fine = source.levels.levels[finest];
    const auto count = static_cast<std::size_t>(fine.positionCount);
    const std::span<const Position> p = source.positions;
    // Each coarser level's faces: unit normal and size (the square root of
    // twice the area), worked out once.
    const int top = static_cast<int>(finest);
    const int last = std::min(kFinest, top - 1);
    struct Plane {
        Position normal;
        double size;
    };
    std::vector<std::vector<Plane>> planes(static_cast<std::size_t>(std::max(last + 1, 0)));
    for (int level = kCoarsest; level <= last; ++level) {
        const LevelMesh& at = source.levels.levels[static_cast<std::size_t>(level)];
        auto& out = planes[static_cast<std::size_t>(level)];
        out.resize(at.faces.size());
        for (std::size_t f = 0; f < at.faces.size(); ++f) {
            const auto& [a, b, c] = at.faces[f];
            const Position& pa = p[static_cast<std::size_t>(a)];
            const Position n = cross(p[static_cast<std::size_t>(c)] - pa, p[static_cast<std::size_t>(b)] - pa);
            const double twice = std::sqrt(dot(n, n));
            out[f] = {twice > 0 ? n * (1 / twice) : Position{0, 0, 0}, std::sqrt(twice)};
        }
    }
    // The discs' occlusion at level 4 (or the finest there is below),
    // each finer point taking its face's there.
    const int discLevel = std::min(kDiscPoints, top);
    const std::vector<float> discOpen = discOcclusion(source.levels, discLevel, std::min(kDiscFaces, top), p, both);
    std::vector<float> shutIn(count, 1);
    // Below (+) or above (-) each coarser level, per point, worked out by
    // the first face it is a corner of.
    std::vector<float> hollow(count, 0), edge(count, 0);
    const std::vector<std::uint32_t> first = firstFaces(fine);
    inHalves(both, fine.faces.size(), [&](std::size_t from, std::size_t to, int) {
        for (std::size_t g = from; g < to; ++g) {
            for (std::size_t k = 0; k < 3; ++k) {
                const auto v = static_cast<std::size_t>(fine.faces[g][k]);
                if (first[v] != g) continue;
                double below = 0, above = 0;
                for (int level = kCoarsest; level <= last; ++level) {
                    const int depth = top - level;
                    const std::size_t a = g >> (2 * depth);
                    const std::size_t local = g & ((std::size_t{1} << (2 * depth)) - 1);
                    const auto& w = cornerWeights(depth)[local][k];
                    const auto& corners = source.levels.levels[static_cast<std::size_t>(level)].faces[a];
                    const Position on = p[static_cast<std::size_t>(corners[0])] * w[0] +
                                        p[static_cast<std::size_t>(corners[1])] * w[1] +
                                        p[static_cast<std::size_t>(corners[2])] * w[2];
                    const Plane& plane = planes[static_cast<std::size_t>(level)][a];
                    if (!(plane.size > 0)) continue;
                    const double d = dot(on - p[v], plane.normal) / plane.size;
                    below += std::max(0.0, d);
                    if (level >= 3) above += std::max(0.0, -d);
                }
                hollow[v] = static_cast<float>(below);
                {
                    const int depth = top - discLevel;
                    const std::size_t a = g >> (2 * depth);
                    const std::size_t local = g & ((std::size_t{1} << (2 * depth)) - 1);
                    const auto& w = cornerWeights(depth)[local][k];
                    const auto& corners = source.levels.levels[static_cast<std::size_t>(discLevel)].faces[a];
                    shutIn[v] = static_cast<float>(w[0] * discOpen[static_cast<std::size_t>(corners[0])] +
                                                   w[1] * discOpen[static_cast<std::size_t>(corners[1])] +
                                                   w[2] * discOpen[static_cast<std::size_t>(corners[2])]);
                }
                edge[v] = static_cast<float>(above);
            }
        }
    });
    const StoneLook& look = source.look;
    const Colour base = {linearOf(source.colour.red), linearOf(source.colour.green), linearOf(source.colour.blue)};
    // The bedding: the direction the rock is thinnest along, among the
    // directions of its level-1 points.
    Position bedding = {0, 0, 1};
    if (look.bands > 0) {
        const auto coarse = static_cast<std::size_t>(source.levels.levels[std::min<std::size_t>(finest, 1)].positionCount);
        double thinnest = HUGE_VAL;
        for (std::size_t i = 0; i < coarse; ++i) {
            const Position d = unitOf(p[i]);
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (std::size_t j = 0; j < coarse; ++j) {
                const double t = dot(p[j], d);
                low = std::min(low, t);
                high = std::max(high, t);
            }
            if (high - low < thinnest) {
                thinnest = high - low;
                bedding = d;
            }
        }
    }
    looks.resize(count);
    const std::uint32_t key = source.key;
    // The colours' sums over each half of the points, added in the end:
    // the same sums whether or not the halves run at once.
    double sums[2][3] = {{0, 0, 0}, {0, 0, 0}};
    std::vector<float> broad(count), finer(count), hues(count), grains(count);
    inHalves(both, count, [&](std::size_t from, std::size_t to, int half) {
        // The stone's noise, a layer at a time over the points in single
        // precision (a colour needs no more), so that the loops run several
        // points at once.
        const auto layer = [&](std::vector<float>& out, std::uint32_t layerKey, float frequency) {
            for (std::size_t v = from; v < to; ++v) {
                out[v] = noiseAt<float>(layerKey, static_cast<float>(p[v].x) * frequency,
                                        static_cast<float>(p[v].y) * frequency, static_cast<float>(p[v].z) * frequency);
            }
        };
        layer(broad, key, 1.3f);
        layer(finer, key + 1, 3.1f);
        layer(hues, key + 2, 1.7f);
        layer(grains, key + 3, 19.0f);
        double* sum = sums[half];
        for (std::size_t v = from; v < to; ++v) {
            const Position& q = p[v];
            // Shut in by discs round it and lying below coarser levels; the
            // shade drawn out to what a map shows plainly.
            const double open = static_cast<double>(shutIn[v]) * (1 - aoGain * static_cast<double>(hollow[v]));
            const double occlusion = std::clamp(1 - kShadeContrast * (1 - open), 0.15, 1.0);
            const double wear = std::min(1.0, 4.0 * edge[v]);
            const double mottle = 0.6 * broad[v] + 0.4 * finer[v];
            const double hue = hues[v], grain = grains[v];
            const double speck = fractionOf(mix((std::uint64_t{key} << 32 | v) * kGolden + 0x5EED));
            const double along = dot(q, bedding);
            const double band = look.bands > 0 ? look.bands * (0.7 * noiseAt(key + 4, along * 9, 0.5, 0.5) +
                                                               0.3 * noiseAt(key + 5, along * 23, 0.5, 0.5))
                                               : 0.0;
            double shade = (1 + look.mottle * mottle) * (1 + look.speckle * (grain + 2 * (speck - 0.5))) * (1 + band) *
                           (0.55 + 0.45 * occlusion) * (1 + look.wear * wear);
            shade = std::max(shade, 0.05);
            const double warm = 1 + 0.04 * hue;
            const double red = base.red * shade * warm, green = base.green * shade, blue = base.blue * shade / warm;
            sum[0] += red;
            sum[1] += green;
            sum[2] += blue;
            const double rough = look.roughness + look.roughnessSpread * (0.8 * (1 - occlusion) - wear + 0.5 * grain);
            looks[v] = {static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue),
                        static_cast<float>(occlusion), static_cast<float>(std::clamp(rough, 0.3, 1.0))};
        }
    });
    // The mean stays the style's colour.
    const auto total = static_cast<double>(count);
    const double scale[3] = {base.red * total / (sums[0][0] + sums[1][0]), base.green * total / (sums[0][1] + sums[1][1]),
                             base.blue * total / (sums[0][2] + sums[1][2])};
    inHalves(both, count, [&](std::size_t from, std::size_t to, int) {
        for (std::size_t v = from; v < to; ++v) {
            PointLook& l = looks[v];
            l.red = static_cast<float>(std::min(1.0, l.red * scale[0]));
            l.green = static_cast<float>(std::min(1.0, l.green * scale[1]));
            l.blue = static_cast<float>(std::min(1.0, l.blue * scale[2]));
        }
    });
}

void bakeMaps(const BakeSource& source, std::span<const PointLook> looks, const BakeTarget& target, BakedMaps& maps,
              const BothParts& both) {
    const int n = target.pixels;
    const auto texels = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    maps.pixels = n;
    maps.baseColour.assign(3 * texels, 0);
    maps.normal.assign(3 * texels, 0);
    maps.orm.assign(3 * texels, 0);
    std::vector<std::uint8_t> covered(texels, 0);
    const std::size_t finest = source.levels.levels.size() - 1;
    const LevelMesh& fine = source.levels.levels[finest];
    const int atlasDepth = static_cast<int>(finest) - target.atlas->level;
    const std::vector<CornerWeights>& inAtlas = cornerWeights(atlasDepth);
    const std::size_t perAtlas = inAtlas.size();
    const std::size_t perLow = std::size_t{1} << (2 * (static_cast<int>(finest) - target.level));
    const auto byte = [](double v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0, 1.0) * 255 + 0.5); };
    const double size = n;
    // The maps in two halves of their rows, each drawing every face that
    // reaches its rows, in the faces' order: a texel two faces share takes
    // the later's, whichever half draws it.
    inHalves(both, static_cast<std::size_t>(n), [&](std::size_t fromRow, std::size_t toRow, int) {
        for (std::size_t g = 0; g < fine.faces.size(); ++g) {
            {
                const auto& u = target.atlas->corners[g / perAtlas];
                const CornerWeights& at = inAtlas[g % perAtlas];
                const std::size_t w = g / perLow;
                const auto& corners = fine.faces[g];
                // The fine face's corners and the written face's in texels (x
                // right, y down). Each half draws about half the faces: the
                // rows are found first.
                std::array<double, 3> x{}, y{}, lx{}, ly{};
                for (std::size_t k = 0; k < 3; ++k) {
                    y[k] = (1 - (at[k][0] * u[0].v + at[k][1] * u[1].v + at[k][2] * u[2].v)) * size;
                }
                const int topRow = std::max(static_cast<int>(fromRow), static_cast<int>(std::ceil(std::min({y[0], y[1], y[2]}) - 0.5)));
                const int bottom = std::min(static_cast<int>(toRow) - 1, static_cast<int>(std::floor(std::max({y[0], y[1], y[2]}) - 0.5)));
                if (topRow > bottom) continue;
                for (std::size_t k = 0; k < 3; ++k) {
                    x[k] = (at[k][0] * u[0].u + at[k][1] * u[1].u + at[k][2] * u[2].u) * size;
                    const TextureVertex& l = target.uv.vertices[static_cast<std::size_t>(target.uv.corners[w][k])];
                    lx[k] = l.u * size;
                    ly[k] = (1 - l.v) * size;
                }
                const double lowArea = (lx[1] - lx[0]) * (ly[2] - ly[0]) - (lx[2] - lx[0]) * (ly[1] - ly[0]);
                const double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
                if (area == 0) continue;
                const int left = std::max(0, static_cast<int>(std::ceil(std::min({x[0], x[1], x[2]}) - 0.5)));
                const int right = std::min(n - 1, static_cast<int>(std::floor(std::max({x[0], x[1], x[2]}) - 0.5)));
                if (left > right) continue;
                for (int row = topRow; row <= bottom; ++row) {
                    const double cy = row + 0.5;
                    for (int col = left; col <= right; ++col) {
                        const double cx = col + 0.5;
                        const double b0 = ((x[1] - cx) * (y[2] - cy) - (x[2] - cx) * (y[1] - cy)) / area;
                        const double b1 = ((x[2] - cx) * (y[0] - cy) - (x[0] - cx) * (y[2] - cy)) / area;
                        const double b2 = 1 - b0 - b1;
                        if (b0 < 0 || b1 < 0 || b2 < 0) continue;
                        const std::array<double, 3> b = {b0, b1, b2};
                        const double l0 = ((lx[1] - cx) * (ly[2] - cy) - (lx[2] - cx) * (ly[1] - cy)) / lowArea;
                        const double l1 = ((lx[2] - cx) * (ly[0] - cy) - (lx[0] - cx) * (ly[2] - cy)) / lowArea;
                        const std::array<double, 3> lowWeight = {l0, l1, 1 - l0 - l1};
                        // The finest surface's normal and look here.
                        Position fineNormal = {0, 0, 0};
                        double look[5] = {0, 0, 0, 0, 0};
                        for (std::size_t k = 0; k < 3; ++k) {
                            const auto v = static_cast<std::size_t>(corners[k]);
                            fineNormal = fineNormal + source.normals[v] * b[k];
                            const PointLook& l = looks[v];
                            look[0] += b[k] * l.red;
                            look[1] += b[k] * l.green;
                            look[2] += b[k] * l.blue;
                            look[3] += b[k] * l.occlusion;
                            look[4] += b[k] * l.roughness;
                        }
                        fineNormal = unitOf(fineNormal);
                        // The written face's frame here (beyond its edge where
                        // the two levels' faces part in the square: the frame
                        // goes on as it runs), as a reader's shader
                        // interpolates it.
                        Position normal = {0, 0, 0}, tangent = {0, 0, 0}, bitangent = {0, 0, 0};
                        for (std::size_t j = 0; j < 3; ++j) {
                            const double weight = lowWeight[j];
                            const Position& cn = target.normals[static_cast<std::size_t>(target.normalOf[w][j])];
                            const Tangent& ct = target.tangents[3 * w + j];
                            normal = normal + cn * weight;
                            tangent = tangent + ct.direction * weight;
                            bitangent = bitangent + cross(cn, ct.direction) * (ct.w * weight);
                        }
                        normal = unitOf(normal);
                        tangent = unitOf(tangent);
                        bitangent = unitOf(bitangent);
                        const double det = dot(tangent, cross(bitangent, normal));
                        Position t = {dot(cross(bitangent, normal), fineNormal) / det,
                                      dot(cross(normal, tangent), fineNormal) / det,
                                      dot(cross(tangent, bitangent), fineNormal) / det};
                        t = unitOf(t);
                        const std::size_t texel = static_cast<std::size_t>(row) * static_cast<std::size_t>(n) +
                                                  static_cast<std::size_t>(col);
                        covered[texel] = 1;
                        std::uint8_t* colour = &maps.baseColour[3 * texel];
                        colour[0] = srgbByte(look[0]);
                        colour[1] = srgbByte(look[1]);
                        colour[2] = srgbByte(look[2]);
                        std::uint8_t* nm = &maps.normal[3 * texel];
                        nm[0] = byte(t.x * 0.5 + 0.5);
                        nm[1] = byte(t.y * 0.5 + 0.5);
                        nm[2] = byte(t.z * 0.5 + 0.5);
                        std::uint8_t* orm = &maps.orm[3 * texel];
                        orm[0] = byte(look[3]);
                        orm[1] = byte(look[4]);
                        orm[2] = 0;
                    }
                }
            }
        }
    });
    // Beyond each chart's edge, a few texels of its own values, so that
    // filtering and smaller mipmaps do not draw in the empty square.
    std::vector<std::uint8_t> next;
    for (int pass = 0; pass < 2; ++pass) {
        next = covered;
        // A pass reads only texels covered before it and writes only those
        // it covers: its rows may be taken in two halves.
        inHalves(both, static_cast<std::size_t>(n), [&](std::size_t fromRow, std::size_t toRow, int) {
            for (int row = static_cast<int>(fromRow); row < static_cast<int>(toRow); ++row) {
                for (int col = 0; col < n; ++col) {
                    const std::size_t texel = static_cast<std::size_t>(row) * static_cast<std::size_t>(n) + static_cast<std::size_t>(col);
                    if (covered[texel]) continue;
                    int sums[3][3] = {};
                    int count = 0;
                    const int dr[4] = {-1, 1, 0, 0}, dc[4] = {0, 0, -1, 1};
                    for (int d = 0; d < 4; ++d) {
                        const int r = row + dr[d], c = col + dc[d];
                        if (r < 0 || c < 0 || r >= n || c >= n) continue;
                        const std::size_t o = static_cast<std::size_t>(r) * static_cast<std::size_t>(n) + static_cast<std::size_t>(c);
                        if (!covered[o]) continue;
                        ++count;
                        for (int ch = 0; ch < 3; ++ch) {
                            sums[0][ch] += maps.baseColour[3 * o + static_cast<std::size_t>(ch)];
                            sums[1][ch] += maps.normal[3 * o + static_cast<std::size_t>(ch)];
                            sums[2][ch] += maps.orm[3 * o + static_cast<std::size_t>(ch)];
                        }
                    }
                    if (count == 0) continue;
                    for (int ch = 0; ch < 3; ++ch) {
                        maps.baseColour[3 * texel + static_cast<std::size_t>(ch)] = static_cast<std::uint8_t>((sums[0][ch] + count / 2) / count);
                        maps.normal[3 * texel + static_cast<std::size_t>(ch)] = static_cast<std::uint8_t>((sums[1][ch] + count / 2) / count);
                        maps.orm[3 * texel + static_cast<std::size_t>(ch)] = static_cast<std::uint8_t>((sums[2][ch] + count / 2) / count);
                    }
                    next[texel] = 1;
                }
            }
        });
        covered.swap(next);
    }
    // The empty square: a flat normal, open and rough.
    for (std::size_t texel = 0; texel < texels; ++texel) {
        if (covered[texel]) continue;
        maps.normal[3 * texel] = 128;
        maps.normal[3 * texel + 1] = 128;
        maps.normal[3 * texel + 2] = 255;
        maps.orm[3 * texel] = 255;
        maps.orm[3 * texel + 1] = 255;
    }
}

}  // namespace tavimor
