#include "geometry/style.h"

#include <algorithm>
#include <cmath>

#include "geometry/hash.h"
#include "geometry/noise.h"
#include "geometry/vector_clones.h"

namespace tavimor {

// A flat fracture: the points x with normal . x = offset; the rock is on
// the side normal . x < offset.
struct Cut {
    Position normal;
    double offset;
};

// What one rock of a style is, drawn from its seed and number: its body's
// half-axes and the frame they lie along, its cuts, and how rough it is.
struct StyledShape {
    // The body: half-axes along the frame's axes (a >= b >= c for the
    // frame's first, second and third).
    Position halfAxes = {1, 1, 1};
    // The frame: its axes as rows, so that frame * d is d in the rock's own
    // terms.
    std::array<Position, 3> frame = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::vector<Cut> cuts;
    // How much the noise moves the body's surface at each detail level (0:
    // the broad lumps; then each finer level's own scale), as the style's
    // table and the spike have it.
    std::array<double, kMostDetail + 1> roughness{};
    // Where the rock's noise comes from.
    std::uint64_t key = 0;
};

// The rock's own numbers, in turn, each uniform in [0, 1): a counter-based
// hash of its key, so that a shape is drawn the same way everywhere.
class ShapeDraws {
public:
    explicit ShapeDraws(std::uint64_t key) : key_(key) {}
    double unit() { return fractionOf(mix(key_ + ++count_ * kGolden)); }
    double between(double low, double high) { return low + (high - low) * unit(); }
    int whole(int low, int high) { return low + static_cast<int>(unit() * (high - low + 1)); }
    // A direction, evenly over the sphere's directions: a point of the
    // cube within the ball, made unit.
    Position direction() {
        for (int attempt = 0; attempt < 32; ++attempt) {
            const Position p = {between(-1, 1), between(-1, 1), between(-1, 1)};
            const double length2 = dot(p, p);
            if (length2 > 0.01 && length2 <= 1) return p * (1 / std::sqrt(length2));
        }
        return {0, 0, 1};
    }

private:
    std::uint64_t key_;
    std::uint64_t count_ = 0;
};

namespace {

// A frame that rests as a stone comes to rest: its thinnest axis (the
// third) near the vertical, leaning by up to tilt (as a sine), its longest
// turned any way about it.
std::array<Position, 3> restingFrame(ShapeDraws& draws, double tilt) {
    const Position up = unitOf({draws.between(-tilt, tilt), draws.between(-tilt, tilt), 1});
    Position along = {1, 0, 0};
    for (int attempt = 0; attempt < 32; ++attempt) {
        const Position p = {draws.between(-1, 1), draws.between(-1, 1), 0};
        if (dot(p, p) > 0.01 && dot(p, p) <= 1) {
            along = p;
            break;
        }
    }
    const Position first = unitOf(along - up * dot(along, up));
    return {first, cross(up, first), up};
}

// The body's reach along a unit direction (world): how far its surface goes
// that way.
double supportOf(const StyledShape& shape, const Position& n) {
    const Position m = {dot(shape.frame[0], n) * shape.halfAxes.x, dot(shape.frame[1], n) * shape.halfAxes.y,
                        dot(shape.frame[2], n) * shape.halfAxes.z};
    return std::sqrt(dot(m, m));
}

// A cut along n (world), biting depth of the body's reach that way.
Cut cutAlong(const StyledShape& shape, const Position& n, double depth) {
    return {n, supportOf(shape, n) * (1 - depth)};
}

// A world direction from the frame's terms.
Position inWorld(const StyledShape& shape, const Position& local) {
    return shape.frame[0] * local.x + shape.frame[1] * local.y + shape.frame[2] * local.z;
}

// A second plane beside a cut, turned a few degrees and biting a little
// less: where it wins, the face steps down to a ledge of its own.
Cut ledgeBeside(const StyledShape& shape, const Cut& cut, ShapeDraws& draws) {
    Position side = draws.direction();
    side = unitOf(side - cut.normal * dot(side, cut.normal));
    const Position n = unitOf(cut.normal + side * draws.between(0.08, 0.16));
    return {n, cut.offset + supportOf(shape, n) * draws.between(0.005, 0.02)};
}

// cos and sin of 2 pi k / n for n from 6 to 10: written out, since a sine
// of the library's differs between platforms in its last bits.
struct Turn {
    double c, s;
};
constexpr double kCos[11][10] = {
    {}, {}, {}, {}, {}, {},
    {1, 0.5, -0.5, -1, -0.5, 0.5},
    {1, 0.6234898018587336, -0.2225209339563144, -0.9009688679024191, -0.9009688679024191, -0.2225209339563144,
     0.6234898018587336},
    {1, 0.7071067811865476, 0, -0.7071067811865476, -1, -0.7071067811865476, 0, 0.7071067811865476},
    {1, 0.766044443118978, 0.17364817766693041, -0.5, -0.9396926207859083, -0.9396926207859083, -0.5,
     0.17364817766693041, 0.766044443118978},
    {1, 0.8090169943749475, 0.30901699437494745, -0.30901699437494734, -0.8090169943749473, -1,
     -0.8090169943749475, -0.30901699437494756, 0.30901699437494723, 0.8090169943749473}};
// Each row starts a whole turn and runs back the same way (to the last
// digit or two of its decimals), every entry a cosine.
constexpr bool turnsAreWhole() {
    for (int n = 6; n <= 10; ++n) {
        if (kCos[n][0] != 1) return false;
        for (int k = 1; k < n; ++k) {
            const double apart = kCos[n][k] - kCos[n][n - k];
            if (apart > 1e-15 || apart < -1e-15 || kCos[n][k] >= 1 || kCos[n][k] < -1) return false;
        }
    }
    return true;
}
static_assert(turnsAreWhole());

Turn turnOf(int k, int n) {
    const double c = kCos[n][k];
    // sin from cos, its sign from which half of the turn k is in.
    const double s = std::sqrt(std::max(0.0, 1 - c * c));
    return {c, 2 * k < n ? s : (2 * k == n ? 0.0 : -s)};
}

}  // namespace

void shapeBoulder(StyledShape& shape, ShapeDraws& draws) {
    const double a = draws.between(1.0, 1.3);
    const double b = a * draws.between(0.75, 1.0);
    shape.halfAxes = {a, b, b * draws.between(0.62, 0.95)};
    shape.frame = restingFrame(draws, 0.25);
    // A few broad fracture faces, well apart.
    const int count = draws.whole(3, 5);
    std::vector<Position> normals;
    for (int attempt = 0; attempt < 64 && static_cast<int>(normals.size()) < count; ++attempt) {
        const Position n = draws.direction();
        bool apart = true;
        for (const Position& m : normals) apart = apart && dot(n, m) < 0.5736;  // 55 degrees
        if (apart) normals.push_back(n);
    }
    for (const Position& n : normals) {
        shape.cuts.push_back(cutAlong(shape, n, draws.between(0.14, 0.3)));
        if (draws.unit() < 0.5) shape.cuts.push_back(ledgeBeside(shape, shape.cuts.back(), draws));
    }
}

// Worn smooth: broad swellings, hardly any grain (the table's roughness),
// and no cuts.
void shapePebble(StyledShape& shape, ShapeDraws& draws) {
    const double a = draws.between(1.0, 1.35);
    const double b = a * draws.between(0.55, 0.95);
    shape.halfAxes = {a, b, b * draws.between(0.4, 0.85)};
    shape.frame = restingFrame(draws, 0.2);
}

void shapeSlab(StyledShape& shape, ShapeDraws& draws) {
    const double a = draws.between(1.1, 1.5);
    const double thickness = a * draws.between(0.13, 0.36);
    shape.halfAxes = {a, a * draws.between(0.65, 1.0), thickness * 1.6};
    shape.frame = restingFrame(draws, 0.15);
    // Two broad faces, each leaning a few degrees its own way.
    for (const double side : {1.0, -1.0}) {
        const Position lean = {draws.between(-0.06, 0.06), draws.between(-0.06, 0.06), side};
        const Position n = unitOf(inWorld(shape, lean));
        shape.cuts.push_back({n, thickness * draws.between(0.92, 1.0)});
    }
    // Broken edges round them.
    const int edges = draws.whole(2, 6);
    for (int i = 0; i < edges; ++i) {
        const Position local = {draws.between(-1, 1), draws.between(-1, 1), draws.between(-0.35, 0.35)};
        if (dot(local, local) < 0.01) continue;
        shape.cuts.push_back(cutAlong(shape, unitOf(inWorld(shape, local)), draws.between(0.05, 0.22)));
    }
}

void shapeShard(StyledShape& shape, ShapeDraws& draws) {
    const double a = draws.between(1.45, 1.95);
    const double b = a * draws.between(0.25, 0.55);
    // The body runs on past the rock's length: its ends are broken off.
    shape.halfAxes = {a * 1.3, b, b * draws.between(0.6, 1.0)};
    shape.frame = restingFrame(draws, 0.3);
    // Long facets round the long axis, each leaning along it so that the
    // shard tapers, some stepped.
    const int facets = draws.whole(6, 10);
    const int first = draws.whole(0, facets - 1);
    for (int k = 0; k < facets; ++k) {
        const Turn t = turnOf((k + first) % facets, facets);
        const Position local = {draws.between(-0.3, 0.3), t.c + draws.between(-0.15, 0.15),
                                t.s + draws.between(-0.15, 0.15)};
        shape.cuts.push_back(cutAlong(shape, unitOf(inWorld(shape, local)), draws.between(0.12, 0.26)));
        if (draws.unit() < 0.4) shape.cuts.push_back(ledgeBeside(shape, shape.cuts.back(), draws));
    }
    // Oblique breaks at each end, where the body is cut off.
    for (const double end : {1.0, -1.0}) {
        const int breaks = draws.whole(1, 2);
        for (int i = 0; i < breaks; ++i) {
            const Position local = {end, draws.between(-1.0, 1.0), draws.between(-1.0, 1.0)};
            shape.cuts.push_back(cutAlong(shape, unitOf(inWorld(shape, local)), draws.between(0.2, 0.4)));
        }
    }
}

namespace {

// The broad lumps' frequency: features about the size of the rock. Each
// finer level's noise is twice the frequency of the level before.
constexpr double kBroadFrequency = 0.9;

// Positions worked out together, a block at a time, each coordinate in an
// array of its own so that the compiler can work on several at once.
struct Block {
    static constexpr std::size_t kSize = 128;
    std::size_t count = 0;
    std::array<double, kSize> x, y, z, lump;
};

// Adds amplitude times the noise at each point times frequency to its lump.
TAVIMOR_VECTOR_CLONES
void addNoise(Block& block, std::uint32_t key, double frequency, double amplitude) {
    for (std::size_t i = 0; i < block.count; ++i) {
        block.lump[i] += amplitude * noiseAt(key, block.x[i] * frequency, block.y[i] * frequency, block.z[i] * frequency);
    }
}

// Each point moved along its ray from the centre onto the rock's surface:
// the body swollen by its lump, and no farther than any cut on that side.
// The radius is kept as a fraction until the end, so that a cut costs
// products rather than a division.
TAVIMOR_VECTOR_CLONES
void ontoSurface(Block& block, const StyledShape& shape) {
    std::array<double, Block::kSize> over, under;
    const Position& a = shape.halfAxes;
    const Position f0 = shape.frame[0] * (1 / a.x), f1 = shape.frame[1] * (1 / a.y), f2 = shape.frame[2] * (1 / a.z);
    for (std::size_t i = 0; i < block.count; ++i) {
        const double perLength = 1 / std::sqrt(block.x[i] * block.x[i] + block.y[i] * block.y[i] + block.z[i] * block.z[i]);
        block.x[i] *= perLength;
        block.y[i] *= perLength;
        block.z[i] *= perLength;
        // The direction in the body's terms, where the body is the unit ball.
        const double q0 = f0.x * block.x[i] + f0.y * block.y[i] + f0.z * block.z[i];
        const double q1 = f1.x * block.x[i] + f1.y * block.y[i] + f1.z * block.z[i];
        const double q2 = f2.x * block.x[i] + f2.y * block.y[i] + f2.z * block.z[i];
        over[i] = 1 + block.lump[i];
        under[i] = std::sqrt(q0 * q0 + q1 * q1 + q2 * q2);
    }
    for (const Cut& cut : shape.cuts) {
        const double nx = cut.normal.x, ny = cut.normal.y, nz = cut.normal.z, offset = cut.offset;
        for (std::size_t i = 0; i < block.count; ++i) {
            const double facing = nx * block.x[i] + ny * block.y[i] + nz * block.z[i];
            // Only a cut the ray runs towards limits it: its plane is met at
            // offset / facing, nearer where offset under < over facing. Both
            // tests are made, without a branch, so that the compiler can
            // make them for several points at once.
            const bool nearer = (facing > 0) & (offset * under[i] < over[i] * facing);
            over[i] = nearer ? offset : over[i];
            under[i] = nearer ? facing : under[i];
        }
    }
    for (std::size_t i = 0; i < block.count; ++i) {
        const double r = over[i] / under[i];
        block.x[i] *= r;
        block.y[i] *= r;
        block.z[i] *= r;
    }
}

// The shape of rock number of a run of seed in a style; spike sets how rough
// (0 the cleanest form of the style, 9 the roughest).
StyledShape styledShape(Style style, std::uint32_t seed, int number, int spike) {
    StyledShape shape;
    shape.key = mix((static_cast<std::uint64_t>(seed) << 32 | static_cast<std::uint32_t>(number)) ^
                    (static_cast<std::uint64_t>(style.index()) * 0x5851F42D4C957F2Du));
    ShapeDraws draws(shape.key);
    const StyleKind& kind = style.kind();
    kind.shape(shape, draws);
    const double rough = spike / 9.0;
    for (std::size_t level = 0; level < shape.roughness.size(); ++level) {
        shape.roughness[level] = kind.roughness[level].clean + kind.roughness[level].spiky * rough;
    }
    return shape;
}

}  // namespace

void makeStyledRock(Lcg& generator, Style style, int spike, const Scale& scale, const DetailLevels& levels,
                    const RockIdentity& rock, std::vector<Position>& positions, std::vector<double>& lumps) {
    // The run's generator moves on as for a classic rock, so that the rocks
    // after this one are the seed's whatever the style.
    generator = skipped(generator, kVertexCount);
    const StyledShape shape = styledShape(style, rock.seed, rock.number, spike);
    const auto total = static_cast<std::size_t>(levels.levels.back().positionCount);
    positions.resize(total);
    lumps.resize(total);
    const auto key = static_cast<std::uint32_t>(shape.key);
    Block block;
    // Level 0: the base shape's directions, stretched onto the body (so
    // that its vertices spread over the body as over a ball), with the
    // broad lumps.
    static_assert(kVertexCount <= Block::kSize);
    block.count = kVertexCount;
    for (std::size_t i = 0; i < kVertexCount; ++i) {
        const Position& u = kBaseShape[i];
        const Position body = inWorld(shape, {u.x * shape.halfAxes.x, u.y * shape.halfAxes.y, u.z * shape.halfAxes.z});
        block.x[i] = body.x;
        block.y[i] = body.y;
        block.z[i] = body.z;
        block.lump[i] = 0;
    }
    addNoise(block, key, kBroadFrequency, shape.roughness[0]);
    addNoise(block, key + 1, 2 * kBroadFrequency, 0.5 * shape.roughness[0]);
    const auto store = [&](std::size_t first) {
        for (std::size_t i = 0; i < block.count; ++i) {
            lumps[first + i] = block.lump[i];
            positions[first + i] = {block.x[i], block.y[i], block.z[i]};
        }
    };
    ontoSurface(block, shape);
    store(0);
    // Each finer level: a new position on the ray through its edge's
    // midpoint, its lump its ends' and the level's own finer noise.
    for (std::size_t level = 1; level < levels.levels.size(); ++level) {
        const auto start = static_cast<std::size_t>(levels.levels[level - 1].positionCount);
        const auto end = static_cast<std::size_t>(levels.levels[level].positionCount);
        const double roughness = shape.roughness[level];
        const double frequency = kBroadFrequency * static_cast<double>(1 << level);
        for (std::size_t first = start; first < end; first += Block::kSize) {
            block.count = std::min(Block::kSize, end - first);
            for (std::size_t i = 0; i < block.count; ++i) {
                const auto [a, b] = levels.edgeOfPosition[first + i - kVertexCount];
                const Position& p = positions[static_cast<std::size_t>(a)];
                const Position& q = positions[static_cast<std::size_t>(b)];
                block.x[i] = (p.x + q.x) * 0.5;
                block.y[i] = (p.y + q.y) * 0.5;
                block.z[i] = (p.z + q.z) * 0.5;
                block.lump[i] = (lumps[static_cast<std::size_t>(a)] + lumps[static_cast<std::size_t>(b)]) * 0.5;
            }
            addNoise(block, key + 1 + static_cast<std::uint32_t>(level), frequency, roughness);
            ontoSurface(block, shape);
            store(first);
        }
    }
    if (scale.x != 1.0 || scale.y != 1.0 || scale.z != 1.0) {
        for (Position& p : positions) p = {p.x * scale.x, p.y * scale.y, p.z * scale.z};
    }
}

}  // namespace tavimor
