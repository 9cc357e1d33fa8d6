#include "geometry/style.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "geometry/hash.h"
#include "geometry/noise.h"
#include "geometry/vector_clones.h"

namespace tavimor {

// A terrace across a fracture face: where the coordinate s (the flat
// plane's point dotted with a direction along it) passes at, the face rises
// by height over width, smoothly: a small step, not a crease. Held as the
// direction over the width and where the rise starts, in widths, so that a
// point's step is a dot product and a subtraction.
struct Step {
    Position perWidth = {0, 0, 0};
    double start = 0, height = 0;
};

Step stepAcross(const Position& along, double at, double height, double width) {
    return {along * (1 / width), at / width - 0.5, height};
}

// A fracture: the plane normal . x = offset, the rock on the side below it,
// bent gently and stepped. Its point over a direction is where the ray
// meets the flat plane, moved out along the ray by the bend: a polynomial
// over the face, low in order so that it undulates, with a bowl where the
// fracture is conchoidal, and its steps.
struct Cut {
    Position normal;
    double offset;
    // The plane's axes: p along the first, q along the second.
    Position first = {0, 0, 0}, second = {0, 0, 0};
    // The face's middle and the reciprocals of its half-widths along p and
    // q, where the plane meets the body (sectionOf): the bend is drawn in
    // those terms, u and v, the same over every face whatever its size.
    double middleP = 0, middleQ = 0, perP = 1, perQ = 1;
    // Of u u, u v, v v, u u u, u u v, u v v, v v v: lengths, the bend at
    // the face's edge (as drawn, shares of the face's size).
    std::array<double, 7> bend{};
    std::array<Step, 3> steps{};
    int stepCount = 0;
    // How far the rim is worn round where the face meets what is beside
    // it, as a fraction of the radius there (0: a crisp edge).
    double wear = 0;
    // The most the bend and the steps move the face either way (reachOf):
    // where the flat plane is farther than the rock by more, the cut is no
    // matter.
    double reach = 0;
};

// How far past its edge (in u and v) a face's bend is drawn: beyond, it is
// held as there (a polynomial runs away far off).
constexpr double kBendHeld = 1.15;

// A cut as its radius is worked out, all in one type: float where many
// points are worked out at once (twice as many to a vector register as in
// double, and a file holds a rock's positions in float anyway), double
// where one point is.
template <class Real>
struct CutTerms {
    Real normalX, normalY, normalZ, offset;
    Real firstX, firstY, firstZ, middleP, perP;
    Real secondX, secondY, secondZ, middleQ, perQ;
    std::array<Real, 7> bend;
    struct StepTerms {
        Real x, y, z, start, height;
    };
    std::array<StepTerms, 3> steps;
    int stepCount;
    // The most the bend moves the face (its reach, and never past half its
    // offset), and so the nearest the face comes to the plane through the
    // centre along its normal.
    Real most, nearest;
    Real wear;
};

// A hollow in the body: a dent of depth (a fraction of the radius) about
// a direction, as wide as the angle whose cosine is cosWidth.
struct Hollow {
    Position direction = {0, 0, 1};
    double depth = 0, cosWidth = 0.5;
};

// What one rock of a style is, drawn from its seed and number: its body (an
// ellipsoid's half-axes along a frame of its own, warped, hollowed, pressed
// flat below, shaped in outline), its cuts, and how rough it is.
struct StyledShape {
    // The body: half-axes along the frame's axes (a >= b >= c for the
    // frame's first, second and third).
    Position halfAxes = {1, 1, 1};
    // The frame: its axes as rows, so that frame * d is d in the rock's own
    // terms.
    std::array<Position, 3> frame = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    // The frame's axes over the half-axes (finishShape): a direction dotted
    // with each is its point's coordinate where the ellipsoid is the unit
    // ball.
    std::array<Position, 3> perAxis = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::vector<Cut> cuts;
    // The cuts as their radii are worked out (finishShape).
    std::vector<CutTerms<float>> manyTerms;
    std::vector<CutTerms<double>> oneTerms;
    // How much the noise moves the body's surface at each detail level (0:
    // the broad lumps; then each finer level's own scale), as the style's
    // table and the spike have it.
    std::array<double, kMostDetail + 1> roughness{};
    // Where the rock's noise comes from.
    std::uint64_t key = 0;
    // How far the spike takes it from its most worn form (0) to its
    // freshest (1).
    double fresh = 0;
    // The body's warp: smooth lumps about the size of the rock, as a
    // fraction of the radius, and their frequency.
    double warp = 0;
    double warpFrequency = 0.7;
    // Up to kMostHollows: a fixed count, with those it has not of no depth,
    // so that the compiler can work on several points at once.
    std::array<Hollow, 4> hollows{};
    int hollowCount = 0;
    // How much the underside is pressed flat (a fraction of the radius
    // straight down), as a stone rests.
    double flatten = 0;
    // Outlines beyond the ellipsoid: one end fuller than the other (an
    // egg), three lobes about the thin axis (a flattened triangle), a dent
    // along one side (a kidney).
    double taper = 0, lobes = 0, kidney = 0;
    // Bedding: grooves along the thin axis every spacing, depth deep.
    double bedSpacing = 1, bedDepth = 0;
    // How much rougher the grain is in hollows than on bulges.
    double grainContrast = 0;
    // How much of the finer grain a fracture face takes: pitted when fresh,
    // none when worn.
    double faceGrain = 0;
};

namespace {

// The bend of a cut's polynomial at (u, v) of its face.
[[gnu::always_inline]] inline double bendAt(const std::array<double, 7>& k, double u, double v) {
    return u * (u * (k[0] + u * k[3] + v * k[4]) + v * (k[1] + v * k[5])) + v * v * (k[2] + v * k[6]);
}

// The most a cut's bend and steps move its face: its polynomial's largest
// over a grid of where the face can show (within the body, swollen by as
// much as its lumps and warp can swell it, and below every other cut's
// plane, with room for their bends), a quarter again for between the
// grid's points, and every step's height. cutRadius holds the bend within it, so
// that a cut whose plane is farther than this is surely no matter, and the
// bend is as drawn wherever the face can show.
double reachOf(const StyledShape& shape, std::size_t index) {
    const Cut& cut = shape.cuts[index];
    constexpr int kGrid = 6;
    // A point of the face's plane at (u, v) is the foot plus the axes times
    // their lengths there: what each test dots with it is a linear function
    // of u and v, worked out once.
    const Position foot = cut.normal * cut.offset + cut.first * cut.middleP + cut.second * cut.middleQ;
    const Position alongU = cut.first * (1 / cut.perP), alongV = cut.second * (1 / cut.perQ);
    struct Linear {
        double at, perU, perV, most;
    };
    // The body's coordinates where it is the unit ball, and every other
    // cut's plane, within a grid step of showing (a face narrower than the
    // grid's steps still has its points looked at).
    std::array<Linear, 3> ball;
    for (std::size_t k = 0; k < 3; ++k) {
        const Position& axis = shape.frame[k];
        const double per = 1 / (k == 0 ? shape.halfAxes.x : (k == 1 ? shape.halfAxes.y : shape.halfAxes.z));
        ball[k] = {dot(axis, foot) * per, dot(axis, alongU) * per, dot(axis, alongV) * per, 0};
    }
    std::vector<Linear> planes;
    const double step = kBendHeld / kGrid;
    for (std::size_t other = 0; other < shape.cuts.size(); ++other) {
        if (other == index) continue;
        const Cut& c = shape.cuts[other];
        const double perU = dot(c.normal, alongU), perV = dot(c.normal, alongV);
        planes.push_back({dot(c.normal, foot), perU, perV, c.offset * 1.1 + (std::abs(perU) + std::abs(perV)) * step});
    }
    double most = 0;
    for (int i = -kGrid; i <= kGrid; ++i) {
        for (int j = -kGrid; j <= kGrid; ++j) {
            const double u = step * i, v = step * j;
            double inBall = 0;
            for (const Linear& q : ball) {
                const double value = q.at + q.perU * u + q.perV * v;
                inBall += value * value;
            }
            bool shows = inBall <= 1.2 * 1.2;
            for (std::size_t k = 0; k < planes.size() && shows; ++k) {
                shows = planes[k].at + planes[k].perU * u + planes[k].perV * v <= planes[k].most;
            }
            if (shows) most = std::max(most, std::abs(bendAt(cut.bend, u, v)));
        }
    }
    most *= 1.25;
    for (const Step& st : cut.steps) most += std::abs(st.height);
    return most;
}

}  // namespace

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

// The body's reach along a unit direction (world): how far its ellipsoid
// goes that way.
double supportOf(const StyledShape& shape, const Position& n) {
    const Position m = {dot(shape.frame[0], n) * shape.halfAxes.x, dot(shape.frame[1], n) * shape.halfAxes.y,
                        dot(shape.frame[2], n) * shape.halfAxes.z};
    return std::sqrt(dot(m, m));
}

// Where a cut's plane meets the body's ellipsoid: an ellipse, its middle
// and half-widths along the plane's axes; and so its bend as lengths. In the terms where the ellipsoid
// is the unit ball the plane is m . y = h, the section a disc about h m of
// radius sqrt(1 - h h); a length along an axis u of the plane is w . y.
void sectionOf(const StyledShape& shape, Cut& cut) {
    const Position& a = shape.halfAxes;
    const auto inBall = [&](const Position& v) {
        return Position{dot(shape.frame[0], v) * a.x, dot(shape.frame[1], v) * a.y, dot(shape.frame[2], v) * a.z};
    };
    const Position m = inBall(cut.normal);
    const double support = std::sqrt(dot(m, m));
    const Position unitM = m * (1 / support);
    const double h = cut.offset / support;
    const double radius = std::sqrt(std::max(0.0, 1 - h * h));
    const auto along = [&](const Position& axis, double& middle, double& per) {
        const Position w = inBall(axis);
        const double wm = dot(w, unitM);
        middle = h * wm;
        // Never so narrow that the bend turns steep.
        const double half = std::max(radius * std::sqrt(std::max(0.0, dot(w, w) - wm * wm)), 0.05 * support);
        per = 1 / half;
    };
    along(cut.first, cut.middleP, cut.perP);
    along(cut.second, cut.middleQ, cut.perQ);
    // The bend, drawn as shares of the face's size: its longer half-width.
    const double size = std::max(1 / cut.perP, 1 / cut.perQ);
    for (double& k : cut.bend) k *= size;
}

// A world direction from the frame's terms.
Position inWorld(const StyledShape& shape, const Position& local) {
    return shape.frame[0] * local.x + shape.frame[1] * local.y + shape.frame[2] * local.z;
}

// Two unit directions across the plane of normal n.
void planeAxes(const Position& n, Position& first, Position& second) {
    const Position helper = std::abs(n.x) < 0.6 ? Position{1, 0, 0} : Position{0, 1, 0};
    first = unitOf(helper - n * dot(helper, n));
    second = cross(n, first);
}

// cos and sin of 2 pi k / 12, written out.
struct Turn12 {
    double c, s;
};
constexpr Turn12 kTwelfths[12] = {{1, 0},
                                  {0.8660254037844387, 0.5},
                                  {0.5, 0.8660254037844387},
                                  {0, 1},
                                  {-0.5, 0.8660254037844387},
                                  {-0.8660254037844387, 0.5},
                                  {-1, 0},
                                  {-0.8660254037844387, -0.5},
                                  {-0.5, -0.8660254037844387},
                                  {0, -1},
                                  {0.5, -0.8660254037844387},
                                  {0.8660254037844387, -0.5}};
Turn12 turnOf12(int k) { return kTwelfths[k]; }

// How a broken face is drawn: how much it bends (a fraction of its own
// size), how deep its bowl is (a conchoidal fracture's; a rock's faces are
// dished alike, some rocks' hardly, some's deeply), how many steps it takes and how high, and
// how worn its rim.
struct Break {
    double bend = 0.012, bowl = 0, steps = 1, stepHeight = 0.006, wear = 0.004;
};

// The cosine of the smallest angle at which a plane along n (world),
// biting depth of the ellipsoid's reach that way, meets the ellipsoid round
// its rim (at twelve points of it): on a flattened body a plane across
// its broad side meets it far more shallowly than one across an end.
double rimCosine(const StyledShape& shape, const Position& n, double depth) {
    const Position& a = shape.halfAxes;
    const Position local = {dot(shape.frame[0], n), dot(shape.frame[1], n), dot(shape.frame[2], n)};
    // In the terms where the ellipsoid is the unit ball, the plane is
    // m . u = 1 - depth, its rim a circle.
    const Position m = unitOf({local.x * a.x, local.y * a.y, local.z * a.z});
    Position first, second;
    planeAxes(m, first, second);
    const double height = 1 - depth, across = std::sqrt(std::max(0.0, 1 - height * height));
    double most = -1;
    for (int k = 0; k < 12; ++k) {
        const Turn12 t = turnOf12(k);
        const Position u = m * height + first * (across * t.c) + second * (across * t.s);
        const Position normal = unitOf({u.x / a.x, u.y / a.y, u.z / a.z});
        most = std::max(most, dot(local, normal));
    }
    return most;
}

// A fracture along n (world), biting depth of the body's reach that way
// (deeper where the body's shape would let it meet the body at less than
// about 55 degrees, so that, bent, dished and warped, its rim is still a
// broken edge), broken as br says.
Cut cutAlong(const StyledShape& shape, const Position& n, double depth, const Break& br, ShapeDraws& draws) {
    Cut cut;
    cut.normal = n;
    constexpr double kSteepest = 0.57;  // cos 55 degrees: room for the bend, the bowl and the warp
    if (depth > 0) {
        // The first of the depths 0.03 apart, below 0.7, at which the rim
        // is steep enough (the deeper, the steeper), by halving.
        int low = 0, high = 0;
        while (depth + 0.03 * high < 0.7) ++high;
        while (low < high) {
            const int middle = (low + high) / 2;
            if (rimCosine(shape, n, depth + 0.03 * middle) > kSteepest) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        depth += 0.03 * low;
    }
    const double support = supportOf(shape, n);
    cut.offset = support * (1 - depth);
    planeAxes(n, cut.first, cut.second);
    // The face's size: how far the plane reaches across the body.
    const double size = std::sqrt(std::max(support * support - cut.offset * cut.offset, 0.01 * support * support));
    // As shares of the face's size, which sectionOf makes lengths.
    for (double& k : cut.bend) k = draws.between(-1, 1) * br.bend;
    // A conchoidal fracture is a shallow bowl: its rim stands out.
    cut.bend[0] += br.bowl;
    cut.bend[2] += br.bowl;
    cut.stepCount = std::min(3, static_cast<int>(br.steps + draws.unit()));
    for (int k = 0; k < cut.stepCount; ++k) {
        const double angle = draws.between(-1, 1);
        const Position along = unitOf(cut.first * angle + cut.second * (1 - std::abs(angle)));
        const double height = br.stepHeight * size * draws.between(0.5, 1.2) * (draws.unit() < 0.5 ? -1 : 1);
        // Gentle: at most a few degrees of slope, so that a step near the
        // rim leaves the rim sharp.
        const double at = size * draws.between(-0.6, 0.6);
        cut.steps[static_cast<std::size_t>(k)] = stepAcross(along, at, height, size * draws.between(0.08, 0.14));
    }
    cut.wear = br.wear * draws.between(0.3, 1.0);
    return cut;
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

// A few hollows, each a dent of up to depth, on the body: clear of every
// cut (the directions it is the nearest in, about its normal, and a margin
// beyond), so that a dent never reaches a rim and turns the body to meet a
// face at a shallow angle.
void addHollows(StyledShape& shape, ShapeDraws& draws, int most, double depth) {
    const int count = draws.whole(0, most);
    for (int k = 0, attempt = 0; k < count && attempt < 8 * (count + 1); ++attempt) {
        const double width = draws.between(0.3, 0.7);  // about 17 to 40 degrees across the middle
        const Position direction = draws.direction();
        const double strength = draws.between(0.3, 1.0);
        const double cosWidth = 1 - width * width / 2;
        const bool clear = std::all_of(shape.cuts.begin(), shape.cuts.end(), [&](const Cut& cut) {
            // The cut's reach, as the cosine of the angle from its normal
            // to its rim, and the hollow's: their angles with 15 degrees
            // between must not overlap.
            const double rim = std::clamp(cut.offset / supportOf(shape, cut.normal), -1.0, 1.0);
            const double apart = std::acos(std::clamp(dot(cut.normal, direction), -1.0, 1.0));
            return apart > std::acos(rim) + std::acos(cosWidth) + 0.26;
        });
        if (!clear || shape.hollowCount == static_cast<int>(shape.hollows.size())) continue;
        shape.hollows[static_cast<std::size_t>(shape.hollowCount++)] = {direction, depth * strength, cosWidth};
        ++k;
    }
}


// Cuts whose normals lie at least apart (a cosine) from each other's,
// count of them, each biting between the depths given. None faces down
// where the underside is pressed flat: a face there would meet it at too
// shallow an angle to show as a broken edge.
void addApartCuts(StyledShape& shape, ShapeDraws& draws, int count, double apart, double shallow, double deep,
                  const Break& br) {
    std::vector<Position> normals;
    for (int attempt = 0; attempt < 96 && static_cast<int>(normals.size()) < count; ++attempt) {
        const Position n = draws.direction();
        bool far = shape.flatten == 0 || dot(n, shape.frame[2]) > -0.55;
        for (const Position& m : normals) far = far && dot(n, m) < apart;
        if (far) normals.push_back(n);
    }
    for (const Position& n : normals) shape.cuts.push_back(cutAlong(shape, n, draws.between(shallow, deep), br, draws));
}

// Chips off corners: where three faces meet on the rock (their planes'
// meeting point inside the body and every other cut), a small cut across
// the corner, square to all three, so that it meets each face sharply and
// never the body.
void addChips(StyledShape& shape, ShapeDraws& draws, int count, const Break& br) {
    const std::size_t faces = shape.cuts.size();
    std::vector<std::array<std::size_t, 3>> corners;
    for (std::size_t i = 0; i < faces; ++i) {
        for (std::size_t j = i + 1; j < faces; ++j) {
            for (std::size_t k = j + 1; k < faces; ++k) {
                const Cut &a = shape.cuts[i], &b = shape.cuts[j], &c = shape.cuts[k];
                // Faces at least 70 degrees apart, so that a chip square to
                // all three meets each at 40 degrees or more.
                constexpr double kApart = 0.34;
                if (dot(a.normal, b.normal) > kApart || dot(b.normal, c.normal) > kApart || dot(a.normal, c.normal) > kApart) {
                    continue;
                }
                // Where the three planes meet: by Cramer's rule.
                const Position bc = cross(b.normal, c.normal);
                const double det = dot(a.normal, bc);
                if (std::abs(det) < 0.2) continue;
                const Position at = (bc * a.offset + cross(c.normal, a.normal) * b.offset +
                                     cross(a.normal, b.normal) * c.offset) *
                                    (1 / det);
                const Position local = {dot(shape.frame[0], at) / shape.halfAxes.x, dot(shape.frame[1], at) / shape.halfAxes.y,
                                        dot(shape.frame[2], at) / shape.halfAxes.z};
                bool onRock = dot(local, local) < 0.95;
                for (std::size_t m = 0; m < faces && onRock; ++m) {
                    onRock = m == i || m == j || m == k || dot(shape.cuts[m].normal, at) < shape.cuts[m].offset;
                }
                if (onRock) corners.push_back({i, j, k});
            }
        }
    }
    for (int n = 0; n < count && !corners.empty(); ++n) {
        const std::size_t pick = static_cast<std::size_t>(draws.whole(0, static_cast<int>(corners.size()) - 1));
        const auto [i, j, k] = corners[pick];
        corners.erase(corners.begin() + static_cast<std::ptrdiff_t>(pick));
        const Cut &a = shape.cuts[i], &b = shape.cuts[j], &c = shape.cuts[k];
        const Position normal = unitOf(a.normal + b.normal + c.normal);
        const Position bc = cross(b.normal, c.normal);
        const Position at = (bc * a.offset + cross(c.normal, a.normal) * b.offset + cross(a.normal, b.normal) * c.offset) *
                            (1 / dot(a.normal, bc));
        Cut chip = cutAlong(shape, normal, 0, br, draws);
        chip.offset = dot(normal, at) - supportOf(shape, normal) * draws.between(0.03, 0.08);
        chip.bend = {};
        chip.stepCount = 0;
        chip.steps = {};
        shape.cuts.push_back(chip);
    }
}

}  // namespace

void shapeBoulder(StyledShape& shape, ShapeDraws& draws) {
    const double size = draws.between(1.0, 1.45);
    const double a = size * draws.between(1.0, 1.3);
    const double b = a * draws.between(0.72, 1.0);
    shape.halfAxes = {a, b, b * draws.between(0.58, 0.95)};
    shape.frame = restingFrame(draws, 0.25);
    const double fresh = shape.fresh;
    shape.warp = draws.between(0.05, 0.11) * (0.4 + 1.2 * fresh);
    shape.flatten = draws.between(0.08, 0.3);
    shape.grainContrast = 0.8;
    shape.faceGrain = 0.6 * fresh;
    // Broken joint faces, well apart: more of them, and crisper, the
    // fresher the rock.
    const Break joint = {.bend = 0.04, .bowl = 0.09 * draws.unit(), .steps = 1 + fresh, .stepHeight = 0.008, .wear = 0.006 * (1.2 - fresh)};
    addApartCuts(shape, draws, draws.whole(3, 4) + static_cast<int>(fresh * 1.5 + 0.5), 0.5736, 0.36, 0.5, joint);
    addChips(shape, draws, static_cast<int>(fresh * 3 + draws.unit()), joint);
    addHollows(shape, draws, 3, 0.3 * (0.3 + 1.2 * fresh));
}

// Worn smooth: broad swellings, hardly any grain (the table's roughness),
// no cuts, and an outline of its own: an egg, a kidney, a disc or a
// flattened triangle.
void shapePebble(StyledShape& shape, ShapeDraws& draws) {
    const double size = draws.between(0.8, 1.2);
    const double a = size * draws.between(1.0, 1.35);
    const int outline = draws.whole(0, 3);
    double b = a * draws.between(0.55, 0.95), c = b * draws.between(0.4, 0.85);
    switch (outline) {
        case 0: shape.taper = draws.between(0.15, 0.3); break;
        case 1: shape.kidney = draws.between(0.25, 0.4); break;
        case 2:
            b = a * draws.between(0.85, 1.0);
            c = a * draws.between(0.25, 0.42);
            break;
        default:
            b = a * draws.between(0.85, 1.0);
            c = b * draws.between(0.35, 0.6);
            shape.lobes = draws.between(0.12, 0.2);
            break;
    }
    shape.halfAxes = {a, b, c};
    shape.frame = restingFrame(draws, 0.2);
    shape.warp = draws.between(0.04, 0.07) * (0.7 + 0.6 * shape.fresh);
    shape.flatten = draws.between(0.05, 0.15);
    shape.grainContrast = 0.5;
}

void shapeSlab(StyledShape& shape, ShapeDraws& draws) {
    const double size = draws.between(1.0, 1.4);
    const double a = size * draws.between(1.1, 1.5);
    const double thickness = a * draws.between(0.13, 0.36);
    // The body runs on past the bedding above and below: between them its
    // sides stand steep.
    shape.halfAxes = {a, a * draws.between(0.6, 1.0), thickness * 3};
    shape.frame = restingFrame(draws, 0.15);
    const double fresh = shape.fresh;
    shape.warp = draws.between(0.04, 0.08) * (0.2 + 1.6 * fresh);
    // Bedding: layers a fraction of the thickness apart.
    shape.bedSpacing = thickness * draws.between(0.25, 0.45);
    shape.bedDepth = draws.between(0.006, 0.014) * (0.6 + 0.8 * fresh);
    shape.grainContrast = 0.6;
    shape.faceGrain = 0.5 * fresh;
    // Two broad faces along the bedding, each leaning a few degrees its
    // own way and bending a little.
    const Break bed = {.bend = 0.02, .bowl = 0.03 * draws.unit(), .steps = 0.7, .stepHeight = 0.005, .wear = 0.004};
    for (const double side : {1.0, -1.0}) {
        const Position lean = {draws.between(-0.06, 0.06), draws.between(-0.06, 0.06), side};
        const Position n = unitOf(inWorld(shape, lean));
        Cut cut = cutAlong(shape, n, 0, bed, draws);
        cut.offset = thickness * draws.between(0.92, 1.0);
        shape.cuts.push_back(cut);
    }
    // Broken edges round them, stepped along the bedding.
    const Break edge = {.bend = 0.035, .bowl = (0.04 + 0.16 * fresh) * draws.unit(), .steps = 0, .stepHeight = 0.005, .wear = 0.005 * (1.2 - fresh)};
    // Each at least 37 degrees from the others, so that two meet at a
    // broken edge, not a fold.
    const int edges = draws.whole(2, 5) + static_cast<int>(fresh * 1.5 + 0.5);
    std::vector<Position> normals;
    for (int i = 0; i < edges; ++i) {
        const Position local = {draws.between(-1, 1), draws.between(-1, 1), draws.between(-0.35, 0.35)};
        if (dot(local, local) < 0.01) continue;
        const Position n = unitOf(inWorld(shape, local));
        if (std::any_of(normals.begin(), normals.end(), [&](const Position& m) { return dot(n, m) > 0.8; })) continue;
        normals.push_back(n);
        Cut cut = cutAlong(shape, n, draws.between(0.05, 0.22), edge, draws);
        cut.stepCount = 3;
        for (std::size_t k = 0; k < 3; ++k) {
            const double layer = (static_cast<double>(k) - 1 + draws.between(-0.3, 0.3)) * shape.bedSpacing;
            const double rise = thickness * draws.between(0.03, 0.07);
            const double height = draws.unit() < 0.5 ? -rise : rise;
            cut.steps[k] = stepAcross(shape.frame[2], layer, height, thickness * 0.04);
        }
        shape.cuts.push_back(cut);
    }
    addChips(shape, draws, static_cast<int>(fresh * 2 + draws.unit()), edge);
    addHollows(shape, draws, 3, 0.25 * (0.3 + 1.2 * fresh));
}

void shapeShard(StyledShape& shape, ShapeDraws& draws) {
    const double size = draws.between(1.05, 1.45);
    const double a = size * draws.between(1.45, 1.95);
    const double b = a * draws.between(0.25, 0.55);
    // The body runs on past the rock's length: its ends are broken off.
    shape.halfAxes = {a * 1.3, b, b * draws.between(0.6, 1.0)};
    shape.frame = restingFrame(draws, 0.3);
    const double fresh = shape.fresh;
    shape.warp = draws.between(0.03, 0.06) * (0.4 + 1.2 * fresh);
    shape.grainContrast = 0.5;
    shape.faceGrain = 0.6 * fresh;
    // Long facets round the long axis, each leaning along it so that the
    // shard tapers, each dished as a conchoidal fracture is, crisp.
    const Break facet = {.bend = 0.05, .bowl = (0.03 + 0.06 * fresh) * (0.2 + 1.3 * draws.unit()), .steps = 0.5 + fresh, .stepHeight = 0.008, .wear = 0.002 * (1.2 - fresh)};
    const int facets = std::min(7, draws.whole(5, 7) + static_cast<int>(fresh + 0.5));
    const int first = draws.whole(0, facets - 1);
    for (int k = 0; k < facets; ++k) {
        const Turn t = turnOf((k + first) % facets, facets);
        const Position local = {draws.between(-0.3, 0.3), t.c + draws.between(-0.08, 0.08),
                                t.s + draws.between(-0.08, 0.08)};
        shape.cuts.push_back(cutAlong(shape, unitOf(inWorld(shape, local)), draws.between(0.12, 0.26), facet, draws));
    }
    // Oblique breaks at each end, where the body is cut off: acute tips.
    // Each leans at most about 50 degrees off the long axis, so that it
    // meets the facets at a sharp edge, and a second one at an end leans
    // well apart from the first.
    for (const double end : {1.0, -1.0}) {
        const int breaks = draws.whole(1, 2);
        Position before = {0, 0, 0};
        for (int i = 0; i < breaks; ++i) {
            Position n = {0, 0, 0};
            for (int attempt = 0; attempt < 8; ++attempt) {
                n = unitOf(inWorld(shape, {end, draws.between(-0.8, 0.8), draws.between(-0.8, 0.8)}));
                if (dot(n, before) < 0.75) break;
            }
            if (dot(n, before) >= 0.75) break;
            shape.cuts.push_back(cutAlong(shape, n, draws.between(0.2, 0.4), facet, draws));
            before = n;
        }
    }
    addChips(shape, draws, static_cast<int>(fresh * 2 + draws.unit()), facet);
}

// Scree and quarry waste: a blocky, near-equant fragment of many uneven
// fracture faces meeting at sharp edges, its corners chipped.
void shapeRubble(StyledShape& shape, ShapeDraws& draws) {
    const double size = draws.between(1.1, 1.6);
    const double a = size * draws.between(1.0, 1.25);
    const double b = a * draws.between(0.78, 1.0);
    shape.halfAxes = {a, b, b * draws.between(0.72, 1.0)};
    shape.frame = restingFrame(draws, 0.5);
    const double fresh = shape.fresh;
    shape.warp = draws.between(0.04, 0.08) * (0.4 + 1.2 * fresh);
    shape.grainContrast = 0.6;
    shape.faceGrain = 0.8 * fresh;
    const Break face = {.bend = 0.06, .bowl = (0.03 + 0.09 * fresh) * draws.unit(), .steps = 0.6 + fresh, .stepHeight = 0.01, .wear = 0.003 * (1.2 - fresh)};
    addApartCuts(shape, draws, draws.whole(6, 8) + static_cast<int>(fresh * 2 + 0.5), 0.6, 0.24 + 0.1 * fresh, 0.44 + 0.1 * fresh, face);
    addChips(shape, draws, 1 + static_cast<int>(fresh * 3 + draws.unit()), face);
    addHollows(shape, draws, 1 + static_cast<int>(2 * fresh + 0.5), 0.15 * (0.3 + 1.2 * fresh));
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
    // Directions (made unit by bodyOf), then positions.
    std::array<double, kSize> x, y, z;
    // The noise a position takes, its own level's added to its edge's; the
    // body's shape (warp, hollows, outline, bedding) as a fraction of the
    // ellipsoid's radius; how rough the grain is there.
    std::array<double, kSize> lump, shape, grain;
    // The shape's smooth part (all but the bedding); how much of its grain
    // a position takes for being near a crease; the ellipsoid's radius.
    std::array<double, kSize> smooth, calm, ellipsoid;
    // The finer levels' part of the noise alone (from level 2 on), which
    // fracture faces take a share of.
    std::array<double, kSize> fine;
    // The surface each lies on: -1 the body, else a cut's number; and how
    // much farther the next nearest surface is, a fraction of its radius.
    std::array<std::int32_t, kSize> side;
    std::array<double, kSize> margin;
    // The radius of the surface it lies on.
    std::array<double, kSize> own;
    // The surface the ends of its edge lie on, which it stays on unless
    // another is nearer by more than a chord can stray from a curved crease
    // (kNoSurface: none).
    std::array<std::int32_t, kSize> prefer;
    // The surface a point is known to lie on (kNoSurface: not known), as
    // both ends of its edge lie on it with every other surface far off:
    // no other need be looked at. Such points come last in the block.
    std::array<std::int32_t, kSize> settled;
    // Of those, the margin they take on: their ends' less how much it can
    // shrink over half an edge.
    std::array<double, kSize> settledMargin;
};

constexpr std::int32_t kNoSurface = -2;

// The most cuts a rock has: far more than any style makes.
constexpr std::size_t kMostCuts = 62;

// How much farther than a point's own surface the next one is, at most, as
// a point's margin tells: surfaces farther are not looked at.
constexpr double kMarginCap = 0.2;
// A cut's wear stays well within that, so that a cut whose radius is
// beyond the cap never wears a rim there either.
static_assert(kMarginCap > 0.01);

// The most a position's margin can be smaller than its edge's ends' at
// level. Every surface is smooth along an edge but for the new level's
// noise, so the margin at an edge's middle is its ends' but for a
// second-order term (an edge's length squared over a curvature) and that
// noise: at most about twice its roughness (its grain twice the style's at
// most) on the body, and on a face the share faceGrain of it, so that
// between a face and the body the difference of the two (each relative to
// a radius, which the body's shape can halve), between two faces none; with
// room for kinks where a bend or a shape is held.
double marginSpread(const StyledShape& shape, std::size_t level) {
    const double edge = 0.6 / static_cast<double>(1 << level);
    const double faceShare = level >= 2 ? shape.faceGrain : 0.0;
    return 0.005 + 0.7 * edge * edge + 2 * 2.1 * shape.roughness[level] * std::max(0.0, 1 - faceShare);
}

// The first level whose positions may be known to lie on a surface from
// their edges' ends: before, edges are long enough for a feature to start
// between their ends, and there are few of them.
constexpr std::size_t kSettledFrom = 3;

// How much nearer than the surface a position's edge lies on another must
// be to take it: beyond how far an edge along a crease strays from the
// crease's curve, so that only a feature of its own starts there.
constexpr double kNewSurface = 0.001;

template <class Real>
[[gnu::always_inline]] inline Real smoothstep(Real t) {
    const Real s = t < 0 ? 0 : (t > 1 ? 1 : t);
    return s * s * (3 - 2 * s);
}

// The body's smooth shape at a unit direction (x, y, z), beyond the
// ellipsoid: warp, hollows, outline and flat underside, as a fraction of
// the ellipsoid's radius; and how rough its grain is there.
[[gnu::always_inline]] inline void smoothShapeAt(const StyledShape& s, std::uint32_t key, double x, double y, double z,
                                                  double& smooth, double& grain) {
    const Position& f0 = s.frame[0];
    const Position& f1 = s.frame[1];
    const Position& f2 = s.frame[2];
    const double l0 = f0.x * x + f0.y * y + f0.z * z, l1 = f1.x * x + f1.y * y + f1.z * z,
                 l2 = f2.x * x + f2.y * y + f2.z * z;
    const double w = s.warp * noiseAt(key ^ 0x9E3779B9u, x * s.warpFrequency, y * s.warpFrequency, z * s.warpFrequency);
    double dent = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        const Hollow& h = s.hollows[k];
        const double c = h.direction.x * x + h.direction.y * y + h.direction.z * z;
        dent += h.depth * smoothstep((c - h.cosWidth) / (1 - h.cosWidth));
    }
    // Outlines: in the plane of the first two axes, at angle theta,
    // cos 3 theta from cos theta; weighed by how far from the thin axis.
    const double around = l0 * l0 + l1 * l1;
    const double perAround = 1 / std::sqrt(around > 1e-12 ? around : 1e-12);
    const double c1 = l0 * perAround;
    const double outline = s.taper * l0 + s.lobes * (4 * c1 * c1 * c1 - 3 * c1) * around;
    dent += s.kidney * (l1 > 0 ? l1 * l1 : 0) * (1 - l0 * l0);
    const double flat = l2 < 0 ? -s.flatten * l2 * l2 * l2 * l2 : 0;
    smooth = w - dent + outline + flat;
    // Rougher in hollows, smoother on what stands out and wears.
    const double standing = s.warp > 0 ? (w - dent) / s.warp : 0;
    const double g = 1 - s.grainContrast * standing * 0.5;
    grain = g < 0.3 ? 0.3 : (g > 2 ? 2 : g);
}

// The coordinates of a unit direction where the body's ellipsoid is the
// unit ball, and so the ellipsoid's radius there: one over their length.
struct InBall {
    double q0, q1, q2, radius;
};

[[gnu::always_inline]] inline InBall inBallOf(const StyledShape& s, double x, double y, double z) {
    const std::array<Position, 3>& f = s.perAxis;
    const double q0 = f[0].x * x + f[0].y * y + f[0].z * z, q1 = f[1].x * x + f[1].y * y + f[1].z * z,
                 q2 = f[2].x * x + f[2].y * y + f[2].z * z;
    return {q0, q1, q2, 1 / std::sqrt(q0 * q0 + q1 * q1 + q2 * q2)};
}

// The whole shape: the smooth part and the bedding grooves, narrow dips
// every bedSpacing along the thin axis at the height the ellipsoid puts
// the point (none where bedDepth is 0); never so dented that the surface
// nears the centre.
[[gnu::always_inline]] inline double beddedShapeAt(const StyledShape& s, const InBall& in, double smooth) {
    const double height = in.q2 * in.radius * (s.halfAxes.z / s.bedSpacing);
    const double phase = height - noise::cellOf(height) - 0.5;
    const double groove = -s.bedDepth * smoothstep(1 - (phase < 0 ? -phase : phase) * 6);
    const double sum = smooth + groove;
    return sum < -0.45 ? -0.45 : sum;
}

[[gnu::always_inline]] inline double shapeAt(const StyledShape& s, const InBall& in, double smooth) {
    return s.bedDepth == 0 ? (smooth < -0.45 ? -0.45 : smooth) : beddedShapeAt(s, in, smooth);
}

// From this level on a new position takes its edge's smooth shape and
// grain, as its lumps: they change little over an edge so short, and the
// warp's noise need not be worked out again.
constexpr std::size_t kSmoothSampledUntil = 3;

// The body's ellipsoid's radius and its whole shape at each block point.
TAVIMOR_VECTOR_CLONES
void measureBody(Block& block, const StyledShape& shape) {
    for (std::size_t i = 0; i < block.count; ++i) {
        const InBall in = inBallOf(shape, block.x[i], block.y[i], block.z[i]);
        block.ellipsoid[i] = in.radius;
        block.shape[i] = block.smooth[i] < -0.45 ? -0.45 : block.smooth[i];
    }
    if (shape.bedDepth == 0) return;
    for (std::size_t i = 0; i < block.count; ++i) {
        const InBall in = inBallOf(shape, block.x[i], block.y[i], block.z[i]);
        block.shape[i] = beddedShapeAt(shape, in, block.smooth[i]);
    }
}

// Each block point's direction made unit, and the body there: its smooth
// shape worked out where sample says, else as the block has it.
TAVIMOR_VECTOR_CLONES
void bodyOf(Block& block, const StyledShape& shape, std::uint32_t key, bool sample) {
    for (std::size_t i = 0; i < block.count; ++i) {
        const double perLength = 1 / std::sqrt(block.x[i] * block.x[i] + block.y[i] * block.y[i] + block.z[i] * block.z[i]);
        block.x[i] *= perLength;
        block.y[i] *= perLength;
        block.z[i] *= perLength;
    }
    if (sample) {
        for (std::size_t i = 0; i < block.count; ++i) {
            smoothShapeAt(shape, key, block.x[i], block.y[i], block.z[i], block.smooth[i], block.grain[i]);
        }
    }
    measureBody(block, shape);
}

// Adds amplitude times the noise at each point times frequency to its lump,
// rougher where its grain is.
TAVIMOR_VECTOR_CLONES
void addNoise(Block& block, std::uint32_t key, double frequency, double amplitude, bool fine) {
    const double toFine = fine ? 1.0 : 0.0;
    // In float: the grain is a small part of the radius.
    std::array<float, Block::kSize> grain;
    for (std::size_t i = 0; i < block.count; ++i) {
        grain[i] = noiseAt(key, static_cast<float>(block.x[i] * frequency), static_cast<float>(block.y[i] * frequency),
                           static_cast<float>(block.z[i] * frequency));
    }
    for (std::size_t i = 0; i < block.count; ++i) {
        const double n = amplitude * block.grain[i] * block.calm[i] * static_cast<double>(grain[i]);
        block.lump[i] += n;
        block.fine[i] += toFine * n;
    }
}

// The body's radius at a unit direction: the ellipsoid's, swollen by the
// lump and the shape.
[[gnu::always_inline]] inline double bodyRadius(double ellipsoid, double lump, double shape) {
    return (1 + lump + shape) * ellipsoid;
}

// Where a ray a cut does not face would meet it: farther than any rock.
constexpr double kBeyond = 1e30;

// A cut's radius at a unit direction: where the ray meets its bent face
// with steps of its steps; kBeyond where the ray runs away from its plane.
// Written for each count of steps, so that the compiler works on several
// points at once with no step of no height.
template <int Steps, class Real>
[[gnu::always_inline]] inline Real cutRadiusOf(const CutTerms<Real>& c, Real x, Real y, Real z) {
    constexpr Real kHeld = static_cast<Real>(kBendHeld);
    const Real facing = c.normalX * x + c.normalY * y + c.normalZ * z;
    const Real perFacing = 1 / (facing > static_cast<Real>(1e-6) ? facing : static_cast<Real>(1e-6));
    const Real t = c.offset * perFacing;
    const Real uFree = (t * (c.firstX * x + c.firstY * y + c.firstZ * z) - c.middleP) * c.perP;
    const Real vFree = (t * (c.secondX * x + c.secondY * y + c.secondZ * z) - c.middleQ) * c.perQ;
    const Real u = uFree < -kHeld ? -kHeld : (uFree > kHeld ? kHeld : uFree);
    const Real v = vFree < -kHeld ? -kHeld : (vFree > kHeld ? kHeld : vFree);
    const std::array<Real, 7>& k = c.bend;
    Real bent = u * (u * (k[0] + u * k[3] + v * k[4]) + v * (k[1] + v * k[5])) + v * v * (k[2] + v * k[6]);
    for (std::size_t i = 0; i < Steps; ++i) {
        const auto& st = c.steps[i];
        bent += st.height * smoothstep(t * (st.x * x + st.y * y + st.z * z) - st.start);
    }
    // The bend never takes the face farther than its reach, nor past half
    // its offset either way: the radius stays positive and the face where
    // its plane is.
    const Real held = bent < -c.most ? -c.most : (bent > c.most ? c.most : bent);
    return facing > static_cast<Real>(1e-6) ? t + held * perFacing : static_cast<Real>(kBeyond);
}

double cutRadius(const CutTerms<double>& c, double x, double y, double z) {
    switch (c.stepCount) {
        case 0: return cutRadiusOf<0>(c, x, y, z);
        case 1: return cutRadiusOf<1>(c, x, y, z);
        case 2: return cutRadiusOf<2>(c, x, y, z);
        default: return cutRadiusOf<3>(c, x, y, z);
    }
}

// The smaller of a and b, rounded over where they are within k of each
// other (0: the plain minimum).
template <class Real>
[[gnu::always_inline]] inline Real softMin(Real a, Real b, Real k) {
    const Real apart = a > b ? a - b : b - a;
    const Real h = k > apart ? (k - apart) / k : 0;
    return (a < b ? a : b) - h * h * k * static_cast<Real>(0.25);
}

// How many points of a block are looked at together to tell whether a cut
// can matter to them.
constexpr std::size_t kChunk = 16;

// What ontoSurface keeps for each point of a block, in float: its direction
// and how much of the finer grain a face takes there; its radius so far
// (worn where two surfaces meet), the nearest surface's and the next's, and
// that of the surface its edge lies on.
struct Radii {
    std::array<float, Block::kSize> x, y, z, grain;
    std::array<float, Block::kSize> radius, hard, preferred, second;
};

// Whether a cut can matter at point i: come within the margin's cap of the
// point's nearest surface yet (and so within its wear, and within how much
// farther its edge's surface may be).
[[gnu::always_inline]] inline bool reaches(const Radii& radii, const CutTerms<float>& cut, std::size_t i) {
    const float facing = cut.normalX * radii.x[i] + cut.normalY * radii.y[i] + cut.normalZ * radii.z[i];
    return (facing > 1e-6f) &
           (cut.nearest * radii.grain[i] < radii.hard[i] * static_cast<float>(1 + kMarginCap) * facing);
}

// Cut number side of shape taken into the radii of the block's points from
// first to end, with Steps steps: by each point it can matter to, and by
// those known to lie on it. What a point comes to is its own, whatever
// other points share its chunk.
template <int Steps>
[[gnu::always_inline]] inline void meetCut(Block& block, Radii& radii, const CutTerms<float>& cut, std::int32_t side,
                                           std::size_t first, std::size_t end) {
    for (std::size_t i = first; i < end; ++i) {
        const bool taken = (block.settled[i] == kNoSurface) & reaches(radii, cut, i);
        const bool known = block.settled[i] == side;
        const float r = cutRadiusOf<Steps>(cut, radii.x[i], radii.y[i], radii.z[i]) * radii.grain[i];
        const bool nearer = (taken & (r < radii.hard[i])) | known;
        const float other = r < radii.second[i] ? r : radii.second[i];
        radii.second[i] = nearer ? radii.hard[i] : (taken ? other : radii.second[i]);
        radii.hard[i] = nearer ? r : radii.hard[i];
        block.side[i] = nearer ? side : block.side[i];
        radii.preferred[i] = taken & (block.prefer[i] == side) ? r : radii.preferred[i];
        const float worn = softMin(radii.radius[i], r, cut.wear * r);
        radii.radius[i] = known ? r : (taken ? worn : radii.radius[i]);
    }
}

// Each point moved along its ray from the centre onto the rock's surface:
// the body, and where a cut's face is nearer, the face, its rim worn as
// the cut says; side becomes the surface it is nearest on.
TAVIMOR_VECTOR_CLONES
void ontoSurface(Block& block, const StyledShape& shape) {
    Radii radii;
    std::array<float, Block::kSize>& radius = radii.radius;
    std::array<float, Block::kSize>& hard = radii.hard;
    std::array<float, Block::kSize>& preferred = radii.preferred;
    std::array<float, Block::kSize>& second = radii.second;
    constexpr float kFar = static_cast<float>(kBeyond);
    for (std::size_t i = 0; i < block.count; ++i) {
        radii.x[i] = static_cast<float>(block.x[i]);
        radii.y[i] = static_cast<float>(block.y[i]);
        radii.z[i] = static_cast<float>(block.z[i]);
        radii.grain[i] = static_cast<float>(1 + shape.faceGrain * block.fine[i]);
        radius[i] = static_cast<float>(bodyRadius(block.ellipsoid[i], block.lump[i], block.shape[i]));
        hard[i] = radius[i];
        second[i] = kFar;
        preferred[i] = block.prefer[i] == -1 ? radius[i] : kFar;
        block.side[i] = -1;
    }
    // The surfaces a chunk's points are known to lie on, one bit each (the
    // body the lowest), where every point of it is known.
    constexpr std::size_t kChunks = Block::kSize / kChunk;
    std::array<std::uint64_t, kChunks> known{};
    std::array<bool, kChunks> allKnown{};
    for (std::size_t from = 0, chunk = 0; from < block.count; from += kChunk, ++chunk) {
        const std::size_t to = std::min(block.count, from + kChunk);
        allKnown[chunk] = true;
        for (std::size_t i = from; i < to; ++i) {
            allKnown[chunk] = allKnown[chunk] && block.settled[i] != kNoSurface;
            if (block.settled[i] != kNoSurface) known[chunk] |= std::uint64_t{1} << (block.settled[i] + 1);
        }
    }
    for (std::size_t c = 0; c < shape.cuts.size(); ++c) {
        const CutTerms<float>& cut = shape.manyTerms[c];
        const auto side = static_cast<std::int32_t>(c);
        const std::uint64_t bit = std::uint64_t{1} << (c + 1);
        for (std::size_t from = 0, chunk = 0; from < block.count; from += kChunk, ++chunk) {
            const std::size_t to = std::min(block.count, from + kChunk);
            // Most cuts are far from most of a chunk: where the flat plane
            // lies beyond every point by more than the face can bend, the
            // cut changes nothing there.
            std::int32_t near = (known[chunk] & bit) != 0 ? 1 : 0;
            if (near == 0 && !allKnown[chunk]) {
                for (std::size_t i = from; i < to; ++i) {
                    near |= (block.settled[i] == kNoSurface) & reaches(radii, cut, i) ? 1 : 0;
                }
            }
            if (near == 0) continue;
            switch (cut.stepCount) {
                case 0: meetCut<0>(block, radii, cut, side, from, to); break;
                case 1: meetCut<1>(block, radii, cut, side, from, to); break;
                case 2: meetCut<2>(block, radii, cut, side, from, to); break;
                default: meetCut<3>(block, radii, cut, side, from, to); break;
            }
        }
    }
    for (std::size_t i = 0; i < block.count; ++i) {
        // On the surface its edge lies on, unless another is clearly
        // nearer: the regions of the surfaces keep to the creases' edges.
        const bool stays = (preferred[i] < kFar) & (preferred[i] * static_cast<float>(1 - kNewSurface) <= hard[i]);
        radius[i] = stays ? preferred[i] : radius[i];
        block.side[i] = stays ? block.prefer[i] : block.side[i];
        const float apart = (second[i] - hard[i]) / hard[i];
        const float margin = apart < static_cast<float>(kMarginCap) ? apart : static_cast<float>(kMarginCap);
        block.margin[i] = block.settled[i] == kNoSurface ? static_cast<double>(margin) : block.settledMargin[i];
        block.own[i] = static_cast<double>(stays ? preferred[i] : hard[i]);
    }
    for (std::size_t i = 0; i < block.count; ++i) {
        const auto r = static_cast<double>(radius[i]);
        block.x[i] *= r;
        block.y[i] *= r;
        block.z[i] *= r;
    }
}

// What a position takes on from its edge's ends: its noise, the finer
// part of it, and the body's smooth shape.
struct Taken {
    double lump, fine, smooth;
    Taken toward(const Taken& to, double t) const {
        return {lump + (to.lump - lump) * t, fine + (to.fine - fine) * t, smooth + (to.smooth - smooth) * t};
    }
};

// The radius of surface side (-1 the body) at a unit direction, with what
// the position takes on there; the smooth shape worked out where sample
// says. Along a longer direction, the radius over its length.
double sideRadius(const StyledShape& shape, std::uint32_t key, int side, const Position& d, const Taken& taken,
                  bool sample) {
    if (side >= 0) {
        return cutRadius(shape.oneTerms[static_cast<std::size_t>(side)], d.x, d.y, d.z) * (1 + shape.faceGrain * taken.fine);
    }
    double smooth = taken.smooth, grain = 0;
    if (sample) smoothShapeAt(shape, key, d.x, d.y, d.z, smooth, grain);
    const InBall in = inBallOf(shape, d.x, d.y, d.z);
    return bodyRadius(in.radius, taken.lump, shapeAt(shape, in, smooth));
}

// How many times meeting works out the difference between two surfaces
// within the way, beyond its ends: over an edge that crosses a crease, and
// across one along it, from its middle (so short, and so near the crease,
// that the difference is a straight line to far better than a chord's
// height).
constexpr int kAcrossSteps = 3, kAlongSteps = 1;

// Where two surfaces meet between directions from and to (unit), what the
// position takes on taken on as the line goes: the fraction t of the way
// at which surface a stops being nearer than surface b; none where it does
// not change over the way. Over an edge their difference is nearly a
// straight line, so the way is narrowed by false position (the Illinois
// kind, which halves a stuck end's weight): a few steps find the point
// far closer than as many halvings.
// Where the ends of the way lie on a and on b, their radii there may be
// known already.
struct KnownEnds {
    std::optional<double> aAtFrom, bAtTo;
};

std::optional<double> meeting(const StyledShape& shape, std::uint32_t key, int a, int b, const Position& from,
                              const Position& to, const Taken& fromTaken, const Taken& toTaken, bool sample,
                              int steps, const KnownEnds& known = {}) {
    const auto radiusOf = [&](int side, const Position& d, const Taken& taken) {
        return sideRadius(shape, key, side, d, taken, sample);
    };
    // Along the chord, not the arc: a surface's radius along a direction
    // not of unit length is its radius over that length, so the difference
    // changes sign where it does on the arc. (The smooth shape, where it is
    // worked out, needs a unit direction.)
    const auto difference = [&](double t) {
        const Position along = from * (1 - t) + to * t;
        const Position d = sample ? unitOf(along) : along;
        const Taken taken = fromTaken.toward(toTaken, t);
        return radiusOf(a, d, taken) - radiusOf(b, d, taken);
    };
    double low = 0, high = 1;
    double atLow = known.aAtFrom ? *known.aAtFrom - radiusOf(b, from, fromTaken) : difference(low);
    double atHigh = known.bAtTo ? radiusOf(a, to, toTaken) - *known.bAtTo : difference(high);
    if (!(atLow < 0 && atHigh > 0) && !(atLow > 0 && atHigh < 0)) return std::nullopt;
    // Which end moved last: 1 the low, -1 the high.
    int moved = 0;
    for (int step = 0; step < steps; ++step) {
        const double t = low + (high - low) * atLow / (atLow - atHigh);
        const double at = difference(t);
        if (at == 0) return t;
        if ((at < 0) == (atLow < 0)) {
            low = t;
            atLow = at;
            if (moved == 1) atHigh *= 0.5;
            moved = 1;
        } else {
            high = t;
            atHigh = at;
            if (moved == -1) atLow *= 0.5;
            moved = -1;
        }
    }
    return low + (high - low) * atLow / (atLow - atHigh);
}

// How far (a fraction of the radius) from a crease the grain grows to its
// full roughness: calm next to it, so that the crease stays sharp.
constexpr double kCreaseCalm = 0.02;

// How far off the middle of an edge a new position may go to meet a
// crease: not so near the edge's ends that its triangles go thin.
constexpr double kNearestEnd = 0.08;

// How far a styled rock's coarsest level reaches from its centre at least
// and at most.
constexpr double kSmallestReach = 0.95, kLargestReach = 2.25;

// A cut as its radius is worked out in Real.
template <class Real>
CutTerms<Real> termsOf(const Cut& cut) {
    const auto real = [](double v) { return static_cast<Real>(v); };
    CutTerms<Real> terms{};
    terms.normalX = real(cut.normal.x);
    terms.normalY = real(cut.normal.y);
    terms.normalZ = real(cut.normal.z);
    terms.offset = real(cut.offset);
    terms.firstX = real(cut.first.x);
    terms.firstY = real(cut.first.y);
    terms.firstZ = real(cut.first.z);
    terms.middleP = real(cut.middleP);
    terms.perP = real(cut.perP);
    terms.secondX = real(cut.second.x);
    terms.secondY = real(cut.second.y);
    terms.secondZ = real(cut.second.z);
    terms.middleQ = real(cut.middleQ);
    terms.perQ = real(cut.perQ);
    for (std::size_t i = 0; i < 7; ++i) terms.bend[i] = real(cut.bend[i]);
    for (std::size_t i = 0; i < 3; ++i) {
        const Step& step = cut.steps[i];
        terms.steps[i] = {real(step.perWidth.x), real(step.perWidth.y), real(step.perWidth.z), real(step.start),
                          real(step.height)};
    }
    terms.stepCount = cut.stepCount;
    const double most = std::min(cut.reach, 0.5 * cut.offset);
    terms.most = real(most);
    terms.nearest = real(cut.offset - most);
    terms.wear = real(cut.wear);
    return terms;
}

// What the shape's making keeps at hand from its frame, half-axes and
// cuts.
void finishShape(StyledShape& shape) {
    shape.perAxis = {shape.frame[0] * (1 / shape.halfAxes.x), shape.frame[1] * (1 / shape.halfAxes.y),
                     shape.frame[2] * (1 / shape.halfAxes.z)};
    shape.manyTerms.clear();
    shape.oneTerms.clear();
    for (const Cut& cut : shape.cuts) {
        shape.manyTerms.push_back(termsOf<float>(cut));
        shape.oneTerms.push_back(termsOf<double>(cut));
    }
}

// The shape made k times as large: the body, its cuts, their bends and
// steps, its bedding. Its noise and dents, fractions of the radius, stay.
void scaleShape(StyledShape& shape, double k) {
    shape.halfAxes = shape.halfAxes * k;
    shape.bedSpacing *= k;
    for (Cut& cut : shape.cuts) {
        cut.offset *= k;
        cut.middleP *= k;
        cut.middleQ *= k;
        cut.perP /= k;
        cut.perQ /= k;
        for (double& b : cut.bend) b *= k;
        for (Step& step : cut.steps) {
            step.perWidth = step.perWidth * (1 / k);
            step.height *= k;
        }
        cut.reach *= k;
    }
    finishShape(shape);
}

// The shape of rock number of a run of seed in a style; spike sets how rough
// (0 the cleanest form of the style, 9 the roughest).
StyledShape styledShape(Style style, std::uint32_t seed, int number, int spike) {
    StyledShape shape;
    shape.key = mix((static_cast<std::uint64_t>(seed) << 32 | static_cast<std::uint32_t>(number)) ^
                    (static_cast<std::uint64_t>(style.index()) * 0x5851F42D4C957F2Du));
    shape.fresh = spike / 9.0;
    ShapeDraws draws(shape.key);
    const StyleKind& kind = style.kind();
    kind.shape(shape, draws);
    for (std::size_t level = 0; level < shape.roughness.size(); ++level) {
        shape.roughness[level] = kind.roughness[level].clean + kind.roughness[level].spiky * shape.fresh;
    }
    // A point's chunk keeps one bit for each surface (ontoSurface).
    if (shape.cuts.size() > kMostCuts) shape.cuts.resize(kMostCuts);
    for (Cut& cut : shape.cuts) sectionOf(shape, cut);
    for (std::size_t c = 0; c < shape.cuts.size(); ++c) shape.cuts[c].reach = reachOf(shape, c);
    finishShape(shape);
    return shape;
}

}  // namespace

void makeStyledRock(Lcg& generator, Style style, int spike, const Scale& scale, const DetailLevels& levels,
                    const RockIdentity& rock, std::vector<Position>& positions, StyledRoom& room) {
    // The run's generator moves on as for a classic rock, so that the rocks
    // after this one are the seed's whatever the style.
    generator = skipped(generator, kVertexCount);
    StyledShape shape = styledShape(style, rock.seed, rock.number, spike);
    const auto total = static_cast<std::size_t>(levels.levels.back().positionCount);
    positions.resize(total);
    std::vector<StyledPoint>& points = room.points;
    points.resize(total);
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
        block.fine[i] = 0;
        block.calm[i] = 1;
        block.prefer[i] = kNoSurface;
        block.settled[i] = kNoSurface;
    }
    bodyOf(block, shape, key, true);
    addNoise(block, key, kBroadFrequency, shape.roughness[0], false);
    addNoise(block, key + 1, 2 * kBroadFrequency, 0.5 * shape.roughness[0], false);
    std::array<bool, Block::kSize> onCrease{};
    std::array<std::array<std::int32_t, 2>, Block::kSize> creaseOf{};
    // Which of the level's positions each of the block's points is, from
    // the block's first.
    std::array<std::size_t, Block::kSize> slotOf{};
    for (std::size_t i = 0; i < kVertexCount; ++i) slotOf[i] = i;
    // The finest level's points are no edge's ends: only their positions
    // are kept.
    const auto store = [&](std::size_t first, bool finest) {
        if (finest) {
            for (std::size_t i = 0; i < block.count; ++i) positions[first + slotOf[i]] = {block.x[i], block.y[i], block.z[i]};
            return;
        }
        for (std::size_t i = 0; i < block.count; ++i) {
            // A crease point where a third surface is nearer lies on none:
            // its edges are looked at again at the next level.
            const bool onPair = onCrease[i] && (block.side[i] == creaseOf[i][0] || block.side[i] == creaseOf[i][1]);
            const std::size_t n = first + slotOf[i];
            points[n] = {block.lump[i],   block.fine[i], block.smooth[i], block.grain[i], block.margin[i],
                         block.own[i],    block.side[i],
                         onPair ? creaseOf[i] : std::array<std::int32_t, 2>{kNoSurface, kNoSurface}};
            positions[n] = {block.x[i], block.y[i], block.z[i]};
        }
    };
    // A rock as large as its style's rocks are, its farthest point 0.95 to
    // 2.3 from its centre (deep cuts can leave a small one, a long body a
    // long one): the shape scaled as a whole where its coarsest level says
    // it is not.
    {
        Block trial = block;
        ontoSurface(trial, shape);
        double reach = 0;
        for (std::size_t i = 0; i < trial.count; ++i) {
            reach = std::max(reach, trial.x[i] * trial.x[i] + trial.y[i] * trial.y[i] + trial.z[i] * trial.z[i]);
        }
        reach = std::sqrt(reach);
        if (reach < kSmallestReach) scaleShape(shape, kSmallestReach / reach);
        if (reach > kLargestReach) scaleShape(shape, kLargestReach / reach);
    }
    measureBody(block, shape);
    ontoSurface(block, shape);
    store(0, levels.levels.size() == 1);
    // Each finer level: a new position on the ray through its edge, its
    // lump its ends' and the level's own finer noise. Where its edge runs
    // from one surface to another (the body to a face, a face to the next),
    // it goes where they meet, and where its edge runs along such a
    // crease, onto it: the crease then runs along edges of this level and
    // every finer one, a smooth line, not a staircase over triangles.
    // A new position of the level at slot i of the block: on the middle of
    // its edge, or where mayMove lets it, on the crease its edge crosses or
    // runs along (and then moved says so).
    std::vector<std::uint8_t> moved;
    const auto fill = [&](std::size_t i, std::size_t position, std::size_t level, bool mayMove) {
        const bool sample = level < kSmoothSampledUntil;
        const auto [ia, ib] = levels.edgeOfPosition[position - kVertexCount];
        const auto a = static_cast<std::size_t>(ia), b = static_cast<std::size_t>(ib);
        const StyledPoint &pa = points[a], &pb = points[b];
        const double margin = std::min(pa.margin, pb.margin);
        double t = 0.5;
        onCrease[i] = false;
        // The surfaces each end lies on: its own, and where it is on a
        // crease, the two there.
        const auto on = [](const StyledPoint& v, std::int32_t surface) {
            return v.side == surface || v.crease[0] == surface || v.crease[1] == surface;
        };
        const bool across = mayMove && !on(pa, pb.side) && !on(pb, pa.side) &&
                            (pb.crease[0] == kNoSurface || (!on(pa, pb.crease[0]) && !on(pa, pb.crease[1])));
        const bool along = mayMove && pa.crease[0] != kNoSurface && pa.crease == pb.crease;
        const Taken fromA = {pa.lump, pa.fine, pa.smooth}, fromB = {pb.lump, pb.fine, pb.smooth};
        // Mostly the middle of the edge (bodyOf makes it unit).
        Position d = positions[a] + positions[b];
        if (across || along) {
            const Position da = unitOf(positions[a]), db = unitOf(positions[b]);
            if (across) {
                // An edge across a crease: the new position where it
                // crosses.
                const auto at =
                    meeting(shape, key, pa.side, pb.side, da, db, fromA, fromB, sample, kAcrossSteps, {pa.own, pb.own});
                if (at && *at >= kNearestEnd && *at <= 1 - kNearestEnd) {
                    t = *at;
                    onCrease[i] = true;
                    creaseOf[i] = {std::min(pa.side, pb.side), std::max(pa.side, pb.side)};
                }
            }
            d = unitOf(da * (1 - t) + db * t);
            if (along) {
                // An edge along a crease: across it from the middle, onto
                // it.
                const Taken middle = fromA.toward(fromB, 0.5);
                const Position side = unitOf(cross(d, db - da));
                const double reach = 0.25 * std::sqrt(dot(db - da, db - da));
                const Position from = unitOf(d - side * reach), to = unitOf(d + side * reach);
                if (const auto at =
                        meeting(shape, key, pa.crease[0], pa.crease[1], from, to, middle, middle, sample, kAlongSteps)) {
                    d = unitOf(from * (1 - *at) + to * *at);
                    onCrease[i] = true;
                    creaseOf[i] = pa.crease;
                }
            }
        }
        moved[position - levels.levels[level - 1].positionCount] = onCrease[i] ? 1 : 0;
        block.x[i] = d.x;
        block.y[i] = d.y;
        block.z[i] = d.z;
        block.lump[i] = pa.lump + (pb.lump - pa.lump) * t;
        block.fine[i] = pa.fine + (pb.fine - pa.fine) * t;
        block.smooth[i] = pa.smooth + (pb.smooth - pa.smooth) * t;
        block.grain[i] = pa.grain + (pb.grain - pa.grain) * t;
        // A position on a crease takes no grain of its own, and one beside a
        // crease little: the crease stays a smooth, sharp line.
        block.calm[i] = onCrease[i] ? 0 : smoothstep(margin / kCreaseCalm);
        // Off a crease, it lies on the surface both ends share.
        block.prefer[i] = kNoSurface;
        if (!onCrease[i]) {
            for (const std::int32_t surface : {pa.side, pa.crease[0], pa.crease[1]}) {
                if (surface != kNoSurface && block.prefer[i] == kNoSurface && on(pb, surface)) block.prefer[i] = surface;
            }
        }
        block.settled[i] = kNoSurface;
    };
    // The block's points on their surface and kept.
    const auto finish = [&](std::size_t level, std::size_t first) {
        bodyOf(block, shape, key, level < kSmoothSampledUntil);
        addNoise(block, key + 1 + static_cast<std::uint32_t>(level), kBroadFrequency * static_cast<double>(1 << level),
                 shape.roughness[level], level >= 2);
        ontoSurface(block, shape);
        store(first, level + 1 == levels.levels.size());
    };
    for (std::size_t level = 1; level < levels.levels.size(); ++level) {
        const auto start = static_cast<std::size_t>(levels.levels[level - 1].positionCount);
        const auto end = static_cast<std::size_t>(levels.levels[level].positionCount);
        const double spread = marginSpread(shape, level);
        moved.assign(end - start, 0);
        for (std::size_t first = start; first < end; first += Block::kSize) {
            block.count = std::min(Block::kSize, end - first);
            // Points known to lie on a surface go last, so that whole
            // chunks of them need look at no other.
            std::size_t open = 0, last = block.count;
            for (std::size_t n = 0; n < block.count; ++n) {
                const auto [ia, ib] = levels.edgeOfPosition[first + n - kVertexCount];
                const StyledPoint &pa = points[static_cast<std::size_t>(ia)], &pb = points[static_cast<std::size_t>(ib)];
                const double margin = std::min(pa.margin, pb.margin);
                const bool settled = level >= kSettledFrom && pa.side == pb.side && pa.crease[0] == kNoSurface &&
                                     pb.crease[0] == kNoSurface && margin > spread;
                const std::size_t i = settled ? --last : open++;
                slotOf[i] = n;
                if (!settled) {
                    fill(i, first + n, level, true);
                    continue;
                }
                // The middle of the edge, on the surface its ends lie on,
                // far from any crease.
                onCrease[i] = false;
                block.settled[i] = pa.side;
                block.settledMargin[i] = margin - spread;
                const Position d = positions[static_cast<std::size_t>(ia)] + positions[static_cast<std::size_t>(ib)];
                block.x[i] = d.x;
                block.y[i] = d.y;
                block.z[i] = d.z;
                block.lump[i] = (pa.lump + pb.lump) * 0.5;
                block.fine[i] = (pa.fine + pb.fine) * 0.5;
                block.smooth[i] = (pa.smooth + pb.smooth) * 0.5;
                block.grain[i] = (pa.grain + pb.grain) * 0.5;
                block.calm[i] = smoothstep(margin / kCreaseCalm);
                block.prefer[i] = kNoSurface;
            }
            finish(level, first);
        }
        // Where positions moved onto creases turn one of the level's faces
        // inside out (a crease that bends sharply within a thin triangle),
        // the face's moved positions go back to their edges' middles, until
        // none is: the middles of a face turned outwards never turn one of
        // its four inside out.
        const std::vector<std::array<int, 3>>& faces = levels.levels[level].faces;
        // (Each round moves some back and none on: the rounds end.)
        for (;;) {
            std::vector<std::size_t> back;
            for (std::size_t f = 0; f + 3 < faces.size(); f += 4) {
                // The fourth child of a face has its three new positions.
                const auto& inner = faces[f + 3];
                const auto isMoved = [&](int v) { return moved[static_cast<std::size_t>(v) - start] != 0; };
                if (!isMoved(inner[0]) && !isMoved(inner[1]) && !isMoved(inner[2])) continue;
                bool inside = false;
                for (std::size_t k = f; k < f + 4 && !inside; ++k) {
                    const Position& pa = positions[static_cast<std::size_t>(faces[k][0])];
                    const Position& pb = positions[static_cast<std::size_t>(faces[k][1])];
                    const Position& pc = positions[static_cast<std::size_t>(faces[k][2])];
                    inside = !(dot(cross(pc - pa, pb - pa), pa) > 0);
                }
                if (!inside) continue;
                for (const int v : inner) {
                    if (!isMoved(v)) continue;
                    moved[static_cast<std::size_t>(v) - start] = 0;
                    back.push_back(static_cast<std::size_t>(v));
                }
            }
            if (back.empty()) break;
            std::sort(back.begin(), back.end());
            back.erase(std::unique(back.begin(), back.end()), back.end());
            for (std::size_t from = 0; from < back.size(); from += Block::kSize) {
                block.count = std::min(Block::kSize, back.size() - from);
                for (std::size_t i = 0; i < block.count; ++i) {
                    slotOf[i] = back[from + i] - start;
                    fill(i, back[from + i], level, false);
                }
                finish(level, start);
            }
        }
    }
    if (scale.x != 1.0 || scale.y != 1.0 || scale.z != 1.0) {
        for (Position& p : positions) p = {p.x * scale.x, p.y * scale.y, p.z * scale.z};
    }
}

}  // namespace tavimor
