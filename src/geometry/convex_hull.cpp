#include "geometry/convex_hull.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>

#include "geometry/extent.h"
#include "geometry/vector_clones.h"

namespace tavimor {
namespace {

struct HullFace {
    std::array<int, 3> corners;
    Position normal;  // unit, outward
    double offset;    // normal . corner
    std::vector<int> outside;
    bool alive = true;
};

std::uint64_t edgeKey(int from, int to) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(from)) << 32 | static_cast<std::uint32_t>(to);
}

class Quickhull {
public:
    Quickhull(std::span<const Position> points, double tolerance) : points_(points), tolerance_(tolerance) {}

    enum class Outcome { Hull, NoVolume, Broken };

    Outcome run() {
        std::array<int, 4> start{};
        if (!startingSimplex(start)) return Outcome::NoVolume;
        const Position centre = (points_[idx(start[0])] + points_[idx(start[1])] + points_[idx(start[2])] +
                                 points_[idx(start[3])]) *
                                0.25;
        for (const auto& [a, b, c] : {std::array<int, 3>{start[0], start[1], start[2]},
                                      std::array<int, 3>{start[0], start[1], start[3]},
                                      std::array<int, 3>{start[0], start[2], start[3]},
                                      std::array<int, 3>{start[1], start[2], start[3]}}) {
            // Turned so that the simplex's centre lies behind it.
            const Position n = cross(points_[idx(b)] - points_[idx(a)], points_[idx(c)] - points_[idx(a)]);
            if (dot(n, centre - points_[idx(a)]) < 0) {
                addFace(a, b, c);
            } else {
                addFace(a, c, b);
            }
        }
        std::vector<int> everyPoint;
        for (int i = 0; i < static_cast<int>(points_.size()); ++i) {
            if (std::find(start.begin(), start.end(), i) == start.end()) everyPoint.push_back(i);
        }
        assign(everyPoint, 0);
        while (!work_.empty()) {
            const int face = work_.front();
            work_.pop_front();
            if (!faces_[idx(face)].alive || faces_[idx(face)].outside.empty()) continue;
            if (!grow(face)) return Outcome::Broken;
        }
        return closed() ? Outcome::Hull : Outcome::Broken;
    }

    std::vector<std::array<int, 3>> triangles() const {
        std::vector<std::array<int, 3>> out;
        for (const HullFace& f : faces_) {
            if (f.alive) out.push_back(f.corners);
        }
        return out;
    }

private:
    static std::size_t idx(int i) { return static_cast<std::size_t>(i); }

    double distance(const HullFace& f, int point) const { return dot(f.normal, points_[idx(point)]) - f.offset; }

    bool startingSimplex(std::array<int, 4>& start) const {
        // The points farthest apart among those extreme on an axis.
        std::array<int, 6> extreme{};
        for (int i = 0; i < static_cast<int>(points_.size()); ++i) {
            const Position& p = points_[idx(i)];
            const double values[3] = {p.x, p.y, p.z};
            for (int axis = 0; axis < 3; ++axis) {
                const Position& low = points_[idx(extreme[static_cast<std::size_t>(2 * axis)])];
                const Position& high = points_[idx(extreme[static_cast<std::size_t>(2 * axis + 1)])];
                const double lowValue[3] = {low.x, low.y, low.z}, highValue[3] = {high.x, high.y, high.z};
                if (values[axis] < lowValue[axis]) extreme[static_cast<std::size_t>(2 * axis)] = i;
                if (values[axis] > highValue[axis]) extreme[static_cast<std::size_t>(2 * axis + 1)] = i;
            }
        }
        double farthest = -1;
        for (const int a : extreme) {
            for (const int b : extreme) {
                const Position d = points_[idx(a)] - points_[idx(b)];
                if (dot(d, d) > farthest) {
                    farthest = dot(d, d);
                    start[0] = a;
                    start[1] = b;
                }
            }
        }
        if (std::sqrt(farthest) <= tolerance_) return false;
        // The point farthest from that line, then from that plane.
        const Position a = points_[idx(start[0])], along = points_[idx(start[1])] - a;
        farthest = -1;
        for (int i = 0; i < static_cast<int>(points_.size()); ++i) {
            const Position off = cross(points_[idx(i)] - a, along);
            if (dot(off, off) > farthest) {
                farthest = dot(off, off);
                start[2] = i;
            }
        }
        if (std::sqrt(farthest) / std::sqrt(dot(along, along)) <= tolerance_) return false;
        const Position normal = unitOf(cross(along, points_[idx(start[2])] - a));
        farthest = -1;
        for (int i = 0; i < static_cast<int>(points_.size()); ++i) {
            const double off = std::abs(dot(normal, points_[idx(i)] - a));
            if (off > farthest) {
                farthest = off;
                start[3] = i;
            }
        }
        return farthest > tolerance_;
    }

    int addFace(int a, int b, int c) {
        HullFace f;
        f.corners = {a, b, c};
        f.normal = unitOf(cross(points_[idx(b)] - points_[idx(a)], points_[idx(c)] - points_[idx(a)]));
        f.offset = dot(f.normal, points_[idx(a)]);
        const int index = static_cast<int>(faces_.size());
        faces_.push_back(std::move(f));
        for (int k = 0; k < 3; ++k) {
            const auto& v = faces_.back().corners;
            edges_[edgeKey(v[idx(k)], v[idx((k + 1) % 3)])] = index;
        }
        return index;
    }

    // Each point goes to the first of the faces from first on that it lies
    // outside of, or, inside all, is done with.
    void assign(const std::vector<int>& candidates, int first) {
        for (const int p : candidates) {
            for (int f = first; f < static_cast<int>(faces_.size()); ++f) {
                if (faces_[idx(f)].alive && distance(faces_[idx(f)], p) > tolerance_) {
                    faces_[idx(f)].outside.push_back(p);
                    break;
                }
            }
        }
        for (int f = first; f < static_cast<int>(faces_.size()); ++f) {
            if (!faces_[idx(f)].outside.empty()) work_.push_back(f);
        }
    }

    // Whether the live faces make one closed surface: each edge of each in
    // one face only, and its twin in another. Rounding can leave two faces
    // on one edge and none on its twin.
    bool closed() const {
        for (int f = 0; f < static_cast<int>(faces_.size()); ++f) {
            const HullFace& face = faces_[idx(f)];
            if (!face.alive) continue;
            for (int k = 0; k < 3; ++k) {
                const int from = face.corners[idx(k)], to = face.corners[idx((k + 1) % 3)];
                const int twin = across(to, from);
                if (across(from, to) != f || twin < 0 || !faces_[idx(twin)].alive) return false;
            }
        }
        return true;
    }

    // The face across the edge from one corner to another; -1 where no live
    // face has that edge, which only rounding can bring about (a point
    // counted on one face and off its neighbour, so that the faces it sees
    // leave no closed horizon).
    int across(int from, int to) const {
        const auto it = edges_.find(edgeKey(from, to));
        return it == edges_.end() ? -1 : it->second;
    }

    // Adds the farthest point outside face: the faces it sees go, and new
    // faces join it to the edges of the hole they leave. False where the
    // faces it sees do not join up.
    bool grow(int face) {
        const std::vector<int>& outside = faces_[idx(face)].outside;
        const int eye = *std::max_element(outside.begin(), outside.end(), [&](int p, int q) {
            return distance(faces_[idx(face)], p) < distance(faces_[idx(face)], q);
        });
        // The faces the eye sees, from this one across their edges.
        std::vector<int> visible = {face};
        std::vector<char> seen(faces_.size(), 0);
        seen[idx(face)] = 1;
        for (std::size_t i = 0; i < visible.size(); ++i) {
            const auto& v = faces_[idx(visible[i])].corners;
            for (int k = 0; k < 3; ++k) {
                const int next = across(v[idx((k + 1) % 3)], v[idx(k)]);
                if (next < 0) return false;
                if (seen[idx(next)] == 0 && distance(faces_[idx(next)], eye) > tolerance_) {
                    seen[idx(next)] = 1;
                    visible.push_back(next);
                }
            }
        }
        std::vector<std::array<int, 2>> horizon;
        std::vector<int> orphans;
        for (const int f : visible) {
            const auto& v = faces_[idx(f)].corners;
            for (int k = 0; k < 3; ++k) {
                const int next = across(v[idx((k + 1) % 3)], v[idx(k)]);
                if (next < 0) return false;
                if (seen[idx(next)] == 0) horizon.push_back({v[idx(k)], v[idx((k + 1) % 3)]});
            }
            for (const int p : faces_[idx(f)].outside) {
                if (p != eye) orphans.push_back(p);
            }
        }
        for (const int f : visible) {
            HullFace& gone = faces_[idx(f)];
            gone.alive = false;
            gone.outside.clear();
            gone.outside.shrink_to_fit();
            for (int k = 0; k < 3; ++k) {
                const auto it = edges_.find(edgeKey(gone.corners[idx(k)], gone.corners[idx((k + 1) % 3)]));
                if (it != edges_.end() && it->second == f) edges_.erase(it);
            }
        }
        const int first = static_cast<int>(faces_.size());
        for (const auto& [a, b] : horizon) addFace(a, b, eye);
        assign(orphans, first);
        return true;
    }

    std::span<const Position> points_;
    double tolerance_;
    std::vector<HullFace> faces_;
    std::unordered_map<std::uint64_t, int> edges_;
    std::deque<int> work_;
};


}  // namespace

std::optional<std::vector<std::array<int, 3>>> convexHull(std::span<const Position> points, double tolerance) {
    if (points.size() < 4) return std::vector<std::array<int, 3>>{};
    // Worked out on the points stretched to fill a unit box: a stretch
    // keeps which points make the hull and how its faces join, and a rock
    // a thousand times longer than it is thick then has faces as well
    // shaped as a round one.
    const Stretch stretch = stretchOf(extentOf(points));
    if (!stretch.spansVolume()) return std::vector<std::array<int, 3>>{};
    std::vector<Position> unit(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) unit[i] = stretch.in(points[i]);
    Quickhull hull(unit, tolerance);
    switch (hull.run()) {
        case Quickhull::Outcome::Hull: return hull.triangles();
        case Quickhull::Outcome::NoVolume: return std::vector<std::array<int, 3>>{};
        case Quickhull::Outcome::Broken: break;
    }
    return std::nullopt;
}

double enclosedVolume(std::span<const Position> vertices, std::span<const std::array<int, 3>> triangles) {
    double sixfold = 0;
    for (const auto& [a, b, c] : triangles) {
        sixfold += dot(vertices[static_cast<std::size_t>(a)],
                       cross(vertices[static_cast<std::size_t>(b)], vertices[static_cast<std::size_t>(c)]));
    }
    return sixfold / 6;
}

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

// A face direction of the shape's hull, and the face's area.
struct Direction {
    Position normal;
    double weight;
};

// kMostHullVertices vertices at most: a convex polyhedron of F faces has at
// most 2 F - 4 vertices.
constexpr std::size_t kMostPlanes = (kMostHullVertices + 4) / 2;

// The faces' directions gathered into at most kMostPlanes: the largest face
// first, then each time the face turned farthest from those chosen; then
// each face joins the nearest, and each direction becomes its faces' mean,
// weighted by area, a few times over.
std::vector<Position> gatherDirections(std::vector<Direction> faces) {
    std::stable_sort(faces.begin(), faces.end(), [](const Direction& a, const Direction& b) { return a.weight > b.weight; });
    std::vector<Position> chosen;
    std::vector<double> nearest(faces.size(), -2.0);  // the best dot product with a chosen one
    while (chosen.size() < std::min(kMostPlanes, faces.size())) {
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

// Corners closer than a hundredth of the box merged into the first of them.
// Planes that meet almost together leave corners a hair apart, and the
// faces between such corners are so small that a file's single precision
// tilts them by more than the rock's own roughness; an engine fares no
// better with them.
std::vector<Position> welding(const std::vector<Position>& corners) {
    constexpr double kApart = 0.01;
    std::vector<Position> kept;
    for (const Position& corner : corners) {
        const bool near = std::any_of(kept.begin(), kept.end(), [&](const Position& k) {
            const Position d = corner - k;
            return dot(d, d) < kApart * kApart;
        });
        if (!near) kept.push_back(corner);
    }
    return kept;
}

// The box of the points: the hull of last resort.
std::optional<CollisionHull> boxOf(std::span<const Position> points) {
    const Extent box = extentOf(points);
    const Position &low = box.low, &high = box.high;
    std::vector<Position> corners;
    for (int i = 0; i < 8; ++i) corners.push_back({(i & 1) ? high.x : low.x, (i & 2) ? high.y : low.y, (i & 4) ? high.z : low.z});
    const auto triangles = convexHull(corners);
    if (!triangles) return std::nullopt;
    return compact(corners, *triangles);
}

}  // namespace

namespace {

// How far the points reach along each direction (unit in the stretched
// box): every point against every direction, the directions side by side
// so that a point's products with them all are worked out at once. A
// direction n in the box is n / size on the points as they are.
TAVIMOR_VECTOR_CLONES
std::vector<double> reaches(std::span<const Position> all, const Stretch& stretch, const std::vector<Position>& directions) {
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
        out[k] = reach[k] - (nx[k] * stretch.low.x + ny[k] * stretch.low.y + nz[k] * stretch.low.z);
    }
    return out;
}

}  // namespace

std::optional<CollisionHull> collisionHull(std::span<const Position> all, std::span<const Position> shape) {
    if (all.empty()) return CollisionHull{};
    if (shape.size() == all.size()) {
        // Small enough as it is: the exact hull.
        const auto exactTriangles = convexHull(all);
        if (!exactTriangles) return std::nullopt;
        CollisionHull exact = compact(all, *exactTriangles);
        if (fits(exact)) return exact;
    }
    const Stretch stretch = stretchOf(extentOf(all));
    if (!stretch.spansVolume()) return boxOf(all);
    std::vector<Position> unitShape(shape.size());
    for (std::size_t i = 0; i < shape.size(); ++i) unitShape[i] = stretch.in(shape[i]);
    const auto shapeTriangles = convexHull(unitShape);
    if (!shapeTriangles) return std::nullopt;
    const std::vector<std::array<int, 3>>& shapeHull = *shapeTriangles;
    if (shapeHull.empty()) return boxOf(all);
    std::vector<Direction> faces;
    Position centre = {0, 0, 0};
    for (const auto& [a, b, c] : shapeHull) {
        const Position& pa = unitShape[static_cast<std::size_t>(a)];
        const Position& pb = unitShape[static_cast<std::size_t>(b)];
        const Position& pc = unitShape[static_cast<std::size_t>(c)];
        const Position n = cross(pb - pa, pc - pa);
        faces.push_back({unitOf(n), std::sqrt(dot(n, n))});
        centre = centre + (pa + pb + pc);
    }
    // A point well inside: the mean of the hull's corners.
    centre = centre * (1.0 / (3.0 * static_cast<double>(shapeHull.size())));
    const std::vector<Position> directions = gatherDirections(faces);
    const std::vector<double> reach = reaches(all, stretch, directions);
    std::vector<Position> dual;
    for (std::size_t k = 0; k < directions.size(); ++k) {
        // The plane n . (x - centre) = h, a hair beyond the last point, is,
        // seen from the centre, the point n / h of the dual: the hull of
        // those points turns the planes' intersection inside out.
        const double h = reach[k] - dot(directions[k], centre) + 1e-9;
        dual.push_back(directions[k] * (1.0 / h));
    }
    const auto dualTriangles = convexHull(dual);
    if (!dualTriangles) return std::nullopt;
    const std::vector<std::array<int, 3>>& dualHull = *dualTriangles;
    if (dualHull.empty()) return boxOf(all);
    // Each face of the dual hull is a corner where its three planes meet.
    std::vector<Position> corners;
    for (const auto& [a, b, c] : dualHull) {
        const Position& qa = dual[static_cast<std::size_t>(a)];
        const Position m = cross(dual[static_cast<std::size_t>(b)] - qa, dual[static_cast<std::size_t>(c)] - qa);
        const double e = dot(m, qa);
        if (!(e > 0)) return boxOf(all);
        corners.push_back(centre + m * (1.0 / e));
    }
    const std::vector<Position> welded = welding(corners);
    const auto weldedTriangles = convexHull(welded);
    if (!weldedTriangles) return std::nullopt;
    const std::vector<std::array<int, 3>>& triangles = *weldedTriangles;
    if (triangles.empty()) return boxOf(all);
    // Grown about the centre until it holds every corner of the planes'
    // intersection again, and so every point, with a hundred-thousandth to
    // spare for the rounding of files: single precision tilts a face by a
    // few millionths of its size.
    double grow = 1;
    for (const auto& [a, b, c] : triangles) {
        const Position& pa = welded[static_cast<std::size_t>(a)];
        const Position n = cross(welded[static_cast<std::size_t>(b)] - pa, welded[static_cast<std::size_t>(c)] - pa);
        const double inside = dot(n, pa - centre);
        for (const Position& corner : corners) grow = std::max(grow, dot(n, corner - centre) / inside);
    }
    grow *= 1 + 1e-5;
    std::vector<Position> out;
    for (const Position& p : welded) out.push_back(stretch.out(centre + (p - centre) * grow));
    CollisionHull hull = compact(out, triangles);
    if (fits(hull)) return hull;
    return boxOf(all);
}

}  // namespace tavimor
