#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "geometry/convex_hull.h"
#include "geometry/extent.h"
#include "geometry/vector_clones.h"

namespace tavimor {
namespace {

// The hull's own vertices, numbered in the order the triangles meet them.
CollisionHull compact(std::span<const Position> points, const std::vector<std::array<int, 3>>& triangles) {
    CollisionHull hull;
    std::unordered_map<int, int> number;
    for (const auto& triangle : triangles) {
        std::array<int, 3> own{};
        for (std::size_t k = 0; k < 3; ++k) {
            const auto [it, added] = number.emplace(triangle[k], static_cast<int>(hull.vertices.size()));
            if (added) hull.vertices.push_back(points[static_cast<std::size_t>(triangle[k])]);
            own[k] = it->second;
        }
        hull.triangles.push_back(own);
    }
    return hull;
}

bool fits(const CollisionHull& hull) {
    return !hull.triangles.empty() && hull.vertices.size() <= kMostHullVertices &&
           hull.triangles.size() <= kMostHullTriangles;
}

// The hull as a file holds it. Its vertices lie on a grid of single
// precision numbers, each axis a power of two apart: whole multiples k of
// the step with |k| below 2^24 are floats, written and read back without
// rounding, and on them the hull is worked out exactly, in whole numbers.
// So it is convex to the last bit as any reader finds it, every face
// well-formed however thin.
__extension__ using Wide = __int128;
using GridPoint = std::array<std::int64_t, 3>;

// Six times the volume of the tetrahedron (a, b, c, p), exactly: positive
// where p lies on the side of the face (a, b, c) that its corners turn
// counter-clockwise on. Coordinates below 2^24: the products fit.
Wide orientation(const GridPoint& a, const GridPoint& b, const GridPoint& c, const GridPoint& p) {
    const std::int64_t ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
    const std::int64_t vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
    const std::int64_t nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    return Wide{nx} * (p[0] - a[0]) + Wide{ny} * (p[1] - a[1]) + Wide{nz} * (p[2] - a[2]);
}

// The convex hull of a few grid points, exactly: added one at a time, each
// replacing the faces that see it (strictly) with faces to the edges round
// them. With exact signs the faces a point sees always make one patch whose
// rim is one loop. Points on the hull's surface but no corner of it are
// left out. Empty where the points span no volume.
std::vector<std::array<int, 3>> gridHull(const std::vector<GridPoint>& p) {
    const int n = static_cast<int>(p.size());
    const auto at = [&](int i) -> const GridPoint& { return p[static_cast<std::size_t>(i)]; };
    // A first tetrahedron of four points that span volume.
    int b = -1, c = -1, d = -1;
    for (int i = 1; i < n && b < 0; ++i) {
        if (at(i) != at(0)) b = i;
    }
    for (int i = 1; i < n && b >= 0 && c < 0; ++i) {
        const GridPoint u = {at(b)[0] - at(0)[0], at(b)[1] - at(0)[1], at(b)[2] - at(0)[2]};
        const GridPoint v = {at(i)[0] - at(0)[0], at(i)[1] - at(0)[1], at(i)[2] - at(0)[2]};
        if (u[1] * v[2] - u[2] * v[1] != 0 || u[2] * v[0] - u[0] * v[2] != 0 || u[0] * v[1] - u[1] * v[0] != 0) c = i;
    }
    for (int i = 1; i < n && c >= 0 && d < 0; ++i) {
        if (orientation(at(0), at(b), at(c), at(i)) != 0) d = i;
    }
    if (d < 0) return {};
    std::vector<std::array<int, 3>> faces;
    const auto outward = [&](int x, int y, int z, int inside) {
        if (orientation(at(x), at(y), at(z), at(inside)) < 0) {
            faces.push_back({x, y, z});
        } else {
            faces.push_back({x, z, y});
        }
    };
    outward(0, b, c, d);
    outward(0, b, d, c);
    outward(0, c, d, b);
    outward(b, c, d, 0);
    std::vector<char> visible;
    std::vector<std::array<int, 2>> seenEdges, horizon;
    for (int i = 0; i < n; ++i) {
        if (i == 0 || i == b || i == c || i == d) continue;
        visible.assign(faces.size(), 0);
        seenEdges.clear();
        for (std::size_t f = 0; f < faces.size(); ++f) {
            const auto& [x, y, z] = faces[f];
            if (orientation(at(x), at(y), at(z), at(i)) <= 0) continue;
            visible[f] = 1;
            seenEdges.insert(seenEdges.end(), {{x, y}, {y, z}, {z, x}});
        }
        if (seenEdges.empty()) continue;
        // The rim: edges of seen faces whose other face is not seen.
        horizon.clear();
        for (const auto& [x, y] : seenEdges) {
            if (std::find(seenEdges.begin(), seenEdges.end(), std::array<int, 2>{y, x}) == seenEdges.end()) {
                horizon.push_back({x, y});
            }
        }
        std::size_t kept = 0;
        for (std::size_t f = 0; f < faces.size(); ++f) {
            if (visible[f] == 0) faces[kept++] = faces[f];
        }
        faces.resize(kept);
        for (const auto& [x, y] : horizon) faces.push_back({x, y, i});
    }
    return faces;
}

// How far each vertex is moved out from the hull's centre before it goes
// onto the grid: a few millionths, beyond the grid's step (a ten-millionth
// of the farthest coordinate) and a quickhull's tolerance (a millionth of
// the box), so that the hull still holds every point it was made to hold.
constexpr double kMargin = 4e-6;

// The vertices, moved out from centre by the margin and then onto the grid
// away from it, as the hull a file holds. None where they span no volume.
std::optional<CollisionHull> onTheGrid(std::span<const Position> vertices, const Position& centre) {
    std::vector<Position> grown;
    for (const Position& v : vertices) grown.push_back(centre + (v - centre) * (1 + kMargin));
    // Each axis's step: a power of two that puts the farthest coordinate
    // just below 2^23 steps out.
    std::array<int, 3> exponent{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        double farthest = 0;
        for (const Position& v : grown) farthest = std::max(farthest, std::abs(axis == 0 ? v.x : axis == 1 ? v.y : v.z));
        if (!(farthest > 0) || !std::isfinite(farthest)) return std::nullopt;
        int e = 0;
        std::frexp(farthest, &e);
        exponent[axis] = e - 23;
    }
    std::vector<GridPoint> grid;
    std::vector<Position> snapped;
    for (const Position& v : grown) {
        GridPoint g{};
        Position s{};
        const double value[3] = {v.x, v.y, v.z}, middle[3] = {centre.x, centre.y, centre.z};
        double* out[3] = {&s.x, &s.y, &s.z};
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const double steps = std::ldexp(value[axis], -exponent[axis]);
            const double whole = value[axis] > middle[axis] ? std::ceil(steps) : std::floor(steps);
            g[axis] = static_cast<std::int64_t>(whole);
            *out[axis] = std::ldexp(whole, exponent[axis]);
        }
        grid.push_back(g);
        snapped.push_back(s);
    }
    const std::vector<std::array<int, 3>> triangles = gridHull(grid);
    if (triangles.empty()) return std::nullopt;
    return compact(snapped, triangles);
}

// The box of the points as the hull of last resort.
std::optional<CollisionHull> boxOf(std::span<const Position> points) {
    const Extent box = extentOf(points);
    const Position &low = box.low, &high = box.high;
    std::vector<Position> corners;
    for (int i = 0; i < 8; ++i) corners.push_back({(i & 1) ? high.x : low.x, (i & 2) ? high.y : low.y, (i & 4) ? high.z : low.z});
    return onTheGrid(corners, (low + high) * 0.5);
}

// A face direction of the shape's hull, and the face's area.
struct Direction {
    Position normal;
    double weight;
};

// kMostHullVertices vertices at most: a convex polyhedron of F faces has at
// most 2 F - 4 vertices.
constexpr std::size_t kMostPlanes = (kMostHullVertices + 4) / 2;

// The faces' directions gathered into at most count: the largest face
// first, then each time the face turned farthest from those chosen; then
// each face joins the nearest, and each direction becomes its faces' mean,
// weighted by area, a few times over.
std::vector<Position> gatherDirections(std::vector<Direction> faces, std::size_t count) {
    std::stable_sort(faces.begin(), faces.end(), [](const Direction& a, const Direction& b) { return a.weight > b.weight; });
    std::vector<Position> chosen;
    std::vector<double> nearest(faces.size(), -2.0);  // the best dot product with a chosen one
    while (chosen.size() < std::min(count, faces.size())) {
        std::size_t pick = 0;
        for (std::size_t f = 1; f < faces.size(); ++f) {
            if (nearest[f] < nearest[pick]) pick = f;
        }
        chosen.push_back(faces[pick].normal);
        for (std::size_t f = 0; f < faces.size(); ++f) nearest[f] = std::max(nearest[f], dot(faces[f].normal, chosen.back()));
    }
    for (int round = 0; round < 4; ++round) {
        std::vector<Position> sums(chosen.size(), Position{0, 0, 0});
        for (const Direction& face : faces) {
            std::size_t best = 0;
            for (std::size_t c = 1; c < chosen.size(); ++c) {
                if (dot(face.normal, chosen[c]) > dot(face.normal, chosen[best])) best = c;
            }
            sums[best] = sums[best] + face.normal * face.weight;
        }
        for (std::size_t c = 0; c < chosen.size(); ++c) {
            if (dot(sums[c], sums[c]) > 0) chosen[c] = unitOf(sums[c]);
        }
    }
    return chosen;
}

// How far the points reach from centre along each direction (unit in the
// stretched box): every point against every direction, the directions side
// by side so that a point's products with them all are worked out at once.
// A direction n in the box is n / size on the points as they are.
TAVIMOR_VECTOR_CLONES
std::vector<double> reaches(std::span<const Position> all, const Stretch& stretch, const std::vector<Position>& directions,
                            const Position& centre) {
    std::array<double, kMostPlanes> nx{}, ny{}, nz{}, reach{};
    reach.fill(-HUGE_VAL);
    for (std::size_t k = 0; k < directions.size(); ++k) {
        nx[k] = directions[k].x / stretch.size.x;
        ny[k] = directions[k].y / stretch.size.y;
        nz[k] = directions[k].z / stretch.size.z;
    }
    for (const Position& p : all) {
        for (std::size_t k = 0; k < kMostPlanes; ++k) {
            const double d = nx[k] * p.x + ny[k] * p.y + nz[k] * p.z;
            reach[k] = d > reach[k] ? d : reach[k];
        }
    }
    std::vector<double> out(directions.size());
    for (std::size_t k = 0; k < directions.size(); ++k) {
        out[k] = reach[k] - (nx[k] * stretch.low.x + ny[k] * stretch.low.y + nz[k] * stretch.low.z) -
                 dot(directions[k], centre);
    }
    return out;
}


// Where the planes n . (x - centre) = h meet: the plane seen from the
// centre is the point n / h of the dual, the hull of those points turns
// the planes' intersection inside out, and each of its faces is a corner
// where its three planes meet. None where that hull cannot be made.
std::optional<std::vector<Position>> cornersOf(const std::vector<Position>& normals, const std::vector<double>& heights,
                                             const Position& centre) {
    std::vector<Position> dual;
    for (std::size_t k = 0; k < normals.size(); ++k) dual.push_back(normals[k] * (1.0 / (heights[k] + 1e-9)));
    const auto dualHull = convexHull(dual);
    if (!dualHull || dualHull->empty()) return std::nullopt;
    std::vector<Position> corners;
    for (const auto& [a, b, c] : *dualHull) {
        const Position& qa = dual[static_cast<std::size_t>(a)];
        const Position m = cross(dual[static_cast<std::size_t>(b)] - qa, dual[static_cast<std::size_t>(c)] - qa);
        const double e = dot(m, qa);
        if (!(e > 0)) return std::nullopt;
        corners.push_back(centre + m * (1.0 / e));
    }
    return corners;
}

}  // namespace

std::optional<CollisionHull> collisionHull(std::span<const Position> all, std::span<const Position> shape) {
    if (all.empty()) return CollisionHull{};
    const Stretch stretch = stretchOf(extentOf(all));
    if (!stretch.spansVolume()) return boxOf(all);
    const Position middle = stretch.out({0.5, 0.5, 0.5});
    std::vector<Position> unitShape(shape.size());
    for (std::size_t i = 0; i < shape.size(); ++i) unitShape[i] = stretch.in(shape[i]);
    // Where the rock is its own shape, its hull at the finest tolerance
    // (which the margin covers) is the exact hull, and the hull itself if
    // it is small enough.
    const bool own = shape.size() == all.size();
    auto shapeTriangles = own ? convexHull(unitShape, kHullTolerance) : std::nullopt;
    if (shapeTriangles && !shapeTriangles->empty()) {
        const CollisionHull vertices = compact(all, *shapeTriangles);
        if (fits(vertices)) {
            if (std::optional<CollisionHull> hull = onTheGrid(vertices.vertices, middle); hull && fits(*hull)) return hull;
        }
    }
    if (!shapeTriangles) shapeTriangles = convexHull(unitShape);
    if (!shapeTriangles) return std::nullopt;
    if (shapeTriangles->empty()) return boxOf(all);
    std::vector<Direction> faces;
    Position centre = {0, 0, 0};
    for (const auto& [a, b, c] : *shapeTriangles) {
        const Position& pa = unitShape[static_cast<std::size_t>(a)];
        const Position& pb = unitShape[static_cast<std::size_t>(b)];
        const Position& pc = unitShape[static_cast<std::size_t>(c)];
        const Position n = cross(pb - pa, pc - pa);
        faces.push_back({unitOf(n), std::sqrt(dot(n, n))});
        centre = centre + (pa + pb + pc);
    }
    // A point well inside: the mean of the hull's corners.
    centre = centre * (1.0 / (3.0 * static_cast<double>(shapeTriangles->size())));
    // The faces gathered into count directions, each plane pushed out to
    // the last point of all, intersected.
    const auto planesHull = [&](std::size_t count) -> std::optional<CollisionHull> {
        const std::vector<Position> directions = gatherDirections(faces, count);
        const std::optional<std::vector<Position>> meet =
            cornersOf(directions, reaches(all, stretch, directions, centre), centre);
        if (!meet) return std::nullopt;
        std::vector<Position> out;
        for (const Position& corner : *meet) out.push_back(stretch.out(corner));
        std::optional<CollisionHull> hull = onTheGrid(out, stretch.out(centre));
        return hull && fits(*hull) ? hull : std::nullopt;
    };
    std::optional<CollisionHull> best = planesHull(kMostPlanes);
    if (!best) return boxOf(all);
    if (shape.size() != all.size()) return best;
    // The gathered planes are close enough (most rocks): no need of more.
    constexpr double kCloseEnough = 1.12;
    if (enclosedVolume(best->vertices, best->triangles) <= kCloseEnough * enclosedVolume(all, *shapeTriangles)) return best;
    // Where the rock is its own shape (detail 0), its exact hull has too
    // many corners, often by a few: its own faces' planes, the smallest
    // faces' taken away until the rest meet at few enough corners, hold it
    // closer than gathered ones, above all a long, faceted rock.
    std::vector<std::size_t> order(faces.size());
    for (std::size_t f = 0; f < order.size(); ++f) order[f] = f;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return faces[a].weight > faces[b].weight; });
    std::vector<Position> normals;
    std::vector<double> heights;
    for (const std::size_t f : order) {
        // Pushed out to the last point: a thin face's normal, worked out
        // from its corners, may lean a little.
        normals.push_back(faces[f].normal);
        double reach = -HUGE_VAL;
        for (const Position& p : unitShape) reach = std::max(reach, dot(faces[f].normal, p - centre));
        heights.push_back(reach);
    }
    while (normals.size() > 4) {
        const std::optional<std::vector<Position>> meet = cornersOf(normals, heights, centre);
        if (!meet) break;
        // A corner for each face of the dual hull: where more than three
        // planes meet, the same corner several times, but for rounding.
        std::vector<Position> distinct;
        for (const Position& corner : *meet) {
            const bool seen = std::any_of(distinct.begin(), distinct.end(), [&](const Position& d) {
                const Position apart = corner - d;
                return dot(apart, apart) < 1e-18;
            });
            if (!seen) distinct.push_back(corner);
        }
        // Taking a triangle's plane away takes its corners and leaves about
        // one where its neighbours meet: a few at a time, as many as the
        // corners are too many.
        if (distinct.size() > kMostHullVertices) {
            const std::size_t over = distinct.size() - kMostHullVertices;
            const std::size_t away = std::min(normals.size() - 4, std::max<std::size_t>(1, over / 2));
            normals.resize(normals.size() - away);
            heights.resize(heights.size() - away);
            continue;
        }
        std::vector<Position> out;
        for (const Position& corner : distinct) out.push_back(stretch.out(corner));
        std::optional<CollisionHull> hull = onTheGrid(out, stretch.out(centre));
        if (hull && fits(*hull) &&
            enclosedVolume(hull->vertices, hull->triangles) < enclosedVolume(best->vertices, best->triangles)) {
            best = std::move(hull);
        }
        break;
    }
    return best;
}

}  // namespace tavimor
