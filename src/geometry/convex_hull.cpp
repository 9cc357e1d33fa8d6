#include "geometry/convex_hull.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>

#include "geometry/extent.h"
#include "geometry/hash.h"
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

// The face each directed edge belongs to: open addressing over a table
// that grows by doubling, a removed entry kept as a marker so that later
// ones stay reachable. A hull's edges come and go by the thousand; a node
// of the standard map's for each cost more than the hull's arithmetic.
class EdgeFaces {
public:
    EdgeFaces() : slots_(64, Slot{kEmpty, -1}) {}

    void set(std::uint64_t key, int face) {
        if (2 * (used_ + 1) > slots_.size()) grow();
        std::size_t i = home(key), marker = slots_.size();
        for (; slots_[i].key != kEmpty; i = next(i)) {
            if (slots_[i].key == key) {
                slots_[i].face = face;
                return;
            }
            if (slots_[i].key == kRemoved && marker == slots_.size()) marker = i;
        }
        if (marker != slots_.size()) {
            slots_[marker] = {key, face};
            return;
        }
        slots_[i] = {key, face};
        ++used_;
    }
    // The face of key; -1 where it has none.
    int find(std::uint64_t key) const {
        for (std::size_t i = home(key); slots_[i].key != kEmpty; i = next(i)) {
            if (slots_[i].key == key) return slots_[i].face;
        }
        return -1;
    }
    // Forgets key where it belongs to face.
    void eraseIf(std::uint64_t key, int face) {
        for (std::size_t i = home(key); slots_[i].key != kEmpty; i = next(i)) {
            if (slots_[i].key == key) {
                if (slots_[i].face == face) slots_[i].key = kRemoved;
                return;
            }
        }
    }

private:
    // No edge joins a point to itself: such keys mark empty and removed
    // slots.
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    static constexpr std::uint64_t kRemoved = ~std::uint64_t{0} - 1;
    struct Slot {
        std::uint64_t key;
        int face;
    };
    std::size_t home(std::uint64_t key) const { return static_cast<std::size_t>(mix(key)) & (slots_.size() - 1); }
    std::size_t next(std::size_t i) const { return (i + 1) & (slots_.size() - 1); }
    void grow() {
        std::vector<Slot> old(2 * slots_.size(), Slot{kEmpty, -1});
        old.swap(slots_);
        used_ = 0;
        for (const Slot& slot : old) {
            if (slot.key != kEmpty && slot.key != kRemoved) set(slot.key, slot.face);
        }
    }
    std::vector<Slot> slots_;
    // Slots that are not empty, removed ones too.
    std::size_t used_ = 0;
};

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
            edges_.set(edgeKey(v[idx(k)], v[idx((k + 1) % 3)]), index);
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
        return edges_.find(edgeKey(from, to));
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
                edges_.eraseIf(edgeKey(gone.corners[idx(k)], gone.corners[idx((k + 1) % 3)]), f);
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
    EdgeFaces edges_;
    std::deque<int> work_;
};


}  // namespace

std::optional<std::vector<std::array<int, 3>>> convexHull(std::span<const Position> points) {
    // Where the finest tolerance breaks, a coarser one counts the points
    // that broke it as on a face. Seen on one smooth pebble of thousands of
    // positions in 6,000 rocks tried.
    for (const double tolerance : {kHullTolerance, 10 * kHullTolerance, 100 * kHullTolerance}) {
        if (auto triangles = convexHull(points, tolerance)) return triangles;
    }
    return std::nullopt;
}

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

}  // namespace tavimor
