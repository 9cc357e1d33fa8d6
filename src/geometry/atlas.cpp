#include "geometry/atlas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <queue>

#include "geometry/vec3.h"

namespace tavimor {
namespace {

// A chart takes in a neighbouring face while the face turns at most this
// far from the chart's mean direction (the cosine, 45 degrees): seen flat
// along it, its faces keep their size within the quarter of the median the
// density may stray.
constexpr double kChartCosine = 0.7071;
// And keeps no face that turns more than 60 degrees from its final
// direction: flat, no face is drawn more than twice as long one way as the
// other, and none turns over.
constexpr double kSteepCosine = 0.5;
static_assert(kSteepCosine < kChartCosine && kSteepCosine > 0);
// Charts keep within this share of the square root of the rock's surface
// of their seed: compact charts pack closer than long ones.
constexpr double kChartReach = 0.3;

struct Flat {
    double x, y;
};
Flat operator-(const Flat& a, const Flat& b) { return {a.x - b.x, a.y - b.y}; }
double crossOf(const Flat& a, const Flat& b) { return a.x * b.y - a.y * b.x; }

// Two unit directions across axis, e1 x e2 = axis: a face counter-clockwise
// seen from outside lies counter-clockwise on them.
std::array<Position, 2> planeOf(const Position& axis) {
    const Position other = std::abs(axis.x) <= std::abs(axis.y) && std::abs(axis.x) <= std::abs(axis.z)
                               ? Position{1, 0, 0}
                               : (std::abs(axis.y) <= std::abs(axis.z) ? Position{0, 1, 0} : Position{0, 0, 1});
    const Position e1 = unitOf(cross(other, axis));
    return {e1, cross(axis, e1)};
}

struct Chart {
    std::vector<int> faces;
    Position axis;
    // Its faces' corners flat, turned to its smallest box: a point lies at
    // (x - low.x, y - low.y) in a box width by height.
    std::vector<std::array<Flat, 3>> flat;
    // The edges that bound it, as flat.
    std::vector<std::array<Flat, 2>> rim;
    Flat low = {0, 0};
    double width = 0, height = 0;
    // Where it goes in the square, and how many quarters it is turned.
    Flat place = {0, 0};
    int turn = 0;
};

// Each face's outward normal (not unit: twice its area) and unit normal.
struct FaceNormals {
    std::vector<Position> area, unit;
};
FaceNormals normalsOf(const LevelMesh& level, std::span<const Position> positions) {
    FaceNormals out;
    out.area.resize(level.faces.size());
    out.unit.resize(level.faces.size());
    for (std::size_t f = 0; f < level.faces.size(); ++f) {
        const auto& [a, b, c] = level.faces[f];
        const Position& pa = positions[static_cast<std::size_t>(a)];
        // Clockwise seen from outside: c - a, b - a turns outward.
        out.area[f] = cross(positions[static_cast<std::size_t>(c)] - pa, positions[static_cast<std::size_t>(b)] - pa);
        out.unit[f] = unitOf(out.area[f]);
    }
    return out;
}

// Which of faces (in the order taken) overlap one taken before them when
// seen along axis, more than where they share an edge or a corner.
std::vector<std::uint8_t> overlapping(const std::vector<int>& faces, const Position& axis, const LevelMesh& level,
                                      std::span<const Position> positions) {
    const auto [e1, e2] = planeOf(axis);
    std::vector<std::array<Flat, 3>> flat(faces.size());
    Flat low = {HUGE_VAL, HUGE_VAL}, high = {-HUGE_VAL, -HUGE_VAL};
    for (std::size_t i = 0; i < faces.size(); ++i) {
        for (std::size_t k = 0; k < 3; ++k) {
            const Position& p = positions[static_cast<std::size_t>(level.faces[static_cast<std::size_t>(faces[i])][k])];
            flat[i][k] = {dot(p, e1), dot(p, e2)};
            low = {std::min(low.x, flat[i][k].x), std::min(low.y, flat[i][k].y)};
            high = {std::max(high.x, flat[i][k].x), std::max(high.y, flat[i][k].y)};
        }
    }
    // Faces by the cells of a grid their boxes cover.
    constexpr int kCells = 32;
    const double cw = (high.x - low.x) / kCells + 1e-300, ch = (high.y - low.y) / kCells + 1e-300;
    std::vector<std::vector<std::size_t>> cells(kCells * kCells);
    const auto cellRange = [&](const std::array<Flat, 3>& t) {
        const auto at = [](double v, double from, double size) {
            return std::clamp(static_cast<int>((v - from) / size), 0, kCells - 1);
        };
        return std::array<int, 4>{at(std::min({t[0].x, t[1].x, t[2].x}), low.x, cw), at(std::max({t[0].x, t[1].x, t[2].x}), low.x, cw),
                                  at(std::min({t[0].y, t[1].y, t[2].y}), low.y, ch), at(std::max({t[0].y, t[1].y, t[2].y}), low.y, ch)};
    };
    // Separated along one of either triangle's edges, a hair's width
    // allowed for the corners and edges they share.
    const auto separate = [](const std::array<Flat, 3>& a, const std::array<Flat, 3>& b) {
        for (int side = 0; side < 2; ++side) {
            const auto& s = side == 0 ? a : b;
            const auto& t = side == 0 ? b : a;
            const double area = crossOf(s[1] - s[0], s[2] - s[0]);
            for (std::size_t e = 0; e < 3; ++e) {
                const Flat p = s[e], q = s[(e + 1) % 3];
                const double hair = 1e-9 * std::abs(area);
                bool out = true;
                for (const Flat& v : t) out = out && crossOf(q - p, v - p) * (area > 0 ? 1 : -1) <= hair;
                if (out) return true;
            }
        }
        return false;
    };
    std::vector<std::uint8_t> over(faces.size(), 0);
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const auto r = cellRange(flat[i]);
        bool found = false;
        for (int y = r[2]; y <= r[3] && !found; ++y) {
            for (int x = r[0]; x <= r[1] && !found; ++x) {
                for (const std::size_t j : cells[static_cast<std::size_t>(y * kCells + x)]) {
                    if (over[j] || separate(flat[i], flat[j])) continue;
                    found = true;
                    break;
                }
            }
        }
        if (found) {
            over[i] = 1;
            continue;
        }
        for (int y = r[2]; y <= r[3]; ++y) {
            for (int x = r[0]; x <= r[1]; ++x) cells[static_cast<std::size_t>(y * kCells + x)].push_back(i);
        }
    }
    return over;
}

// The faces grown into charts: from the largest face not yet taken, the
// neighbours nearest the chart's direction first, while they are near;
// faces that end too steep for the chart's final direction are given back
// and charted again.
std::vector<Chart> growCharts(const FaceNormals& normals, const LevelEdges& edges, const LevelMesh& level,
                              std::span<const Position> positions) {
    const std::size_t faces = normals.unit.size();
    // Charts stay compact, within a reach of their seed, so that no long
    // chart sets the scale of the whole square.
    std::vector<Position> centre(faces);
    double surface = 0;
    for (std::size_t f = 0; f < faces; ++f) {
        const auto& [a, b, c] = level.faces[f];
        centre[f] = (positions[static_cast<std::size_t>(a)] + positions[static_cast<std::size_t>(b)] +
                     positions[static_cast<std::size_t>(c)]) *
                    (1.0 / 3);
        surface += std::sqrt(dot(normals.area[f], normals.area[f])) / 2;
    }
    const double reach = kChartReach * std::sqrt(surface);
    std::vector<int> chartOf(faces, -1);
    // Faces by size, largest first: the seeds in turn.
    std::vector<int> bySize(faces);
    for (std::size_t f = 0; f < faces; ++f) bySize[f] = static_cast<int>(f);
    std::vector<double> size(faces);
    for (std::size_t f = 0; f < faces; ++f) size[f] = dot(normals.area[f], normals.area[f]);
    std::stable_sort(bySize.begin(), bySize.end(), [&](int a, int b) {
        return size[static_cast<std::size_t>(a)] > size[static_cast<std::size_t>(b)];
    });
    std::vector<int> lookedAt(faces, -1);
    std::vector<Chart> charts;
    std::size_t next = 0;
    for (;;) {
        while (next < faces && chartOf[static_cast<std::size_t>(bySize[next])] >= 0) ++next;
        if (next == faces) break;
        const int seed = bySize[next];
        const int id = static_cast<int>(charts.size());
        Chart chart;
        Position sum = {0, 0, 0};
        // Candidates by how near they were to the direction when found.
        std::priority_queue<std::pair<double, int>> frontier;
        const auto take = [&](int f) {
            chart.faces.push_back(f);
            chartOf[static_cast<std::size_t>(f)] = id;
            sum = sum + normals.area[static_cast<std::size_t>(f)];
            const Position axis = unitOf(sum);
            for (int e = 0; e < 3; ++e) {
                const int g = edges.twin[static_cast<std::size_t>(3 * f + e)] / 3;
                if (chartOf[static_cast<std::size_t>(g)] >= 0 || lookedAt[static_cast<std::size_t>(g)] == id) continue;
                lookedAt[static_cast<std::size_t>(g)] = id;
                frontier.push({dot(normals.unit[static_cast<std::size_t>(g)], axis), -g});
            }
        };
        take(seed);
        while (!frontier.empty()) {
            const int f = -frontier.top().second;
            frontier.pop();
            if (chartOf[static_cast<std::size_t>(f)] >= 0) continue;
            if (dot(normals.unit[static_cast<std::size_t>(f)], unitOf(sum)) < kChartCosine) continue;
            const Position away = centre[static_cast<std::size_t>(f)] - centre[static_cast<std::size_t>(seed)];
            if (dot(away, away) > reach * reach) continue;
            take(f);
        }
        // Faces too steep for where the direction ended up go back, until
        // what stays is shallow for its own direction (at worst the seed
        // alone).
        for (;;) {
            chart.axis = unitOf(sum);
            // Seen flat, a chart may lie over itself where it winds round:
            // of two faces that overlap there, the one taken later goes.
            const std::vector<std::uint8_t> over = overlapping(chart.faces, chart.axis, level, positions);
            std::vector<int> kept;
            Position keptSum = {0, 0, 0};
            for (std::size_t i = 0; i < chart.faces.size(); ++i) {
                const int f = chart.faces[i];
                if (dot(normals.unit[static_cast<std::size_t>(f)], chart.axis) >= kSteepCosine && (!over[i] || f == seed)) {
                    kept.push_back(f);
                    keptSum = keptSum + normals.area[static_cast<std::size_t>(f)];
                }
            }
            // Only the part joined to the seed by edges stays: a chart in
            // pieces would keep no gap between them.
            {
                std::vector<int> joined = {seed};
                std::vector<std::uint8_t> inKept(faces, 0), reached(faces, 0);
                for (const int f : kept) inKept[static_cast<std::size_t>(f)] = 1;
                inKept[static_cast<std::size_t>(seed)] = 1;
                reached[static_cast<std::size_t>(seed)] = 1;
                for (std::size_t i = 0; i < joined.size(); ++i) {
                    for (int e = 0; e < 3; ++e) {
                        const int g = edges.twin[static_cast<std::size_t>(3 * joined[i] + e)] / 3;
                        if (!inKept[static_cast<std::size_t>(g)] || reached[static_cast<std::size_t>(g)]) continue;
                        reached[static_cast<std::size_t>(g)] = 1;
                        joined.push_back(g);
                    }
                }
                if (joined.size() < kept.size()) {
                    kept = std::move(joined);
                    keptSum = {0, 0, 0};
                    for (const int f : kept) keptSum = keptSum + normals.area[static_cast<std::size_t>(f)];
                }
            }
            if (kept.size() == chart.faces.size()) break;
            if (kept.empty()) {
                kept = {seed};
                keptSum = normals.area[static_cast<std::size_t>(seed)];
            }
            for (const int f : chart.faces) chartOf[static_cast<std::size_t>(f)] = -1;
            for (const int f : kept) chartOf[static_cast<std::size_t>(f)] = id;
            chart.faces = std::move(kept);
            sum = keptSum;
            // A face given back may be larger than the next seed.
            next = 0;
        }
        charts.push_back(std::move(chart));
    }
    return charts;
}

// The outline of points: their convex hull, counter-clockwise.
std::vector<Flat> outlineOf(std::vector<Flat> points) {
    std::sort(points.begin(), points.end(), [](const Flat& p, const Flat& q) { return p.x < q.x || (p.x == q.x && p.y < q.y); });
    std::vector<Flat> hull(2 * points.size());
    std::size_t k = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && crossOf(hull[k - 1] - hull[k - 2], points[i] - hull[k - 2]) <= 0) --k;
        hull[k++] = points[i];
    }
    for (std::size_t i = points.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && crossOf(hull[k - 1] - hull[k - 2], points[i - 1] - hull[k - 2]) <= 0) --k;
        hull[k++] = points[i - 1];
    }
    hull.resize(k > 1 ? k - 1 : k);
    return hull;
}

// A chart seen along its direction, scaled so that its area there is its
// surface's (its faces lean, so a little larger), turned to its smallest
// box along an edge of its outline.
void boxChart(Chart& chart, const LevelMesh& level, const FaceNormals& normals, std::span<const Position> positions) {
    const auto [e1, e2] = planeOf(chart.axis);
    std::vector<Flat> points;
    double flat = 0, surface = 0;
    chart.flat.clear();
    for (const int f : chart.faces) {
        surface += std::sqrt(dot(normals.area[static_cast<std::size_t>(f)], normals.area[static_cast<std::size_t>(f)]));
        std::array<Flat, 3> t{};
        for (std::size_t k = 0; k < 3; ++k) {
            const Position& p = positions[static_cast<std::size_t>(level.faces[static_cast<std::size_t>(f)][k])];
            t[k] = {dot(p, e1), dot(p, e2)};
            points.push_back(t[k]);
        }
        flat += -crossOf(t[1] - t[0], t[2] - t[0]);
        chart.flat.push_back(t);
    }
    const double scale = flat > 0 ? std::sqrt(surface / flat) : 1;
    const std::vector<Flat> outline = outlineOf(std::move(points));
    double best = HUGE_VAL, bestC = 1, bestS = 0;
    Flat bestLow = {0, 0}, bestHigh = {0, 0};
    for (std::size_t k = 0; k < outline.size(); ++k) {
        const Flat d = outline[(k + 1) % outline.size()] - outline[k];
        const double length = std::sqrt(d.x * d.x + d.y * d.y);
        if (!(length > 0)) continue;
        const double c = d.x / length, s = d.y / length;
        Flat low = {HUGE_VAL, HUGE_VAL}, high = {-HUGE_VAL, -HUGE_VAL};
        for (const Flat& p : outline) {
            const Flat q = {c * p.x + s * p.y, c * p.y - s * p.x};
            low = {std::min(low.x, q.x), std::min(low.y, q.y)};
            high = {std::max(high.x, q.x), std::max(high.y, q.y)};
        }
        const double area = (high.x - low.x) * (high.y - low.y);
        if (area < best) {
            best = area;
            bestC = c;
            bestS = s;
            bestLow = low;
            bestHigh = high;
        }
    }
    for (auto& t : chart.flat) {
        for (Flat& p : t) p = {(bestC * p.x + bestS * p.y) * scale, (bestC * p.y - bestS * p.x) * scale};
    }
    chart.low = {bestLow.x * scale, bestLow.y * scale};
    chart.width = (bestHigh.x - bestLow.x) * scale;
    chart.height = (bestHigh.y - bestLow.y) * scale;
    // Its rim: the edges of one of its faces only, which bound it.
    std::vector<std::array<int, 4>> edges;  // positions low, high; face; corner
    for (std::size_t i = 0; i < chart.faces.size(); ++i) {
        const auto& corners = level.faces[static_cast<std::size_t>(chart.faces[i])];
        for (int k = 0; k < 3; ++k) {
            const int a = corners[static_cast<std::size_t>(k)], b = corners[static_cast<std::size_t>((k + 1) % 3)];
            edges.push_back({std::min(a, b), std::max(a, b), static_cast<int>(i), k});
        }
    }
    std::sort(edges.begin(), edges.end());
    chart.rim.clear();
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const bool shared = (i + 1 < edges.size() && edges[i + 1][0] == edges[i][0] && edges[i + 1][1] == edges[i][1]) ||
                            (i > 0 && edges[i - 1][0] == edges[i][0] && edges[i - 1][1] == edges[i][1]);
        if (shared) continue;
        const auto& t = chart.flat[static_cast<std::size_t>(edges[i][2])];
        const auto k = static_cast<std::size_t>(edges[i][3]);
        chart.rim.push_back({t[k], t[(k + 1) % 3]});
    }
}

// Charts packed from the bottom of the square up, each where its top comes
// lowest: a chart's lower outline sits on the outline of those below (so
// charts nest into each other's hollows, not only boxes on boxes), in
// columns of the square, each chart made larger by half the gap on every
// side, so that charts keep the gap between them and from the edge.
constexpr int kColumns = 256;
// A chart is tried turned by every quarter.
constexpr int kTurns = 4;

// A point of a chart within its box, the box turned turn quarters
// counter-clockwise about its corner and kept at (0, 0).
Flat turned(const Chart& chart, const Flat& p, int turn) {
    const Flat q = p - chart.low;
    switch (turn) {
        case 1: return {chart.height - q.y, q.x};
        case 2: return {chart.width - q.x, chart.height - q.y};
        case 3: return {q.y, chart.width - q.x};
        default: return q;
    }
}

// A chart's lowest and highest point in each column it covers, at scale,
// as if its box's corner stood at (0, 0), turned a quarter or not; -1 for
// a column it leaves empty within its box, which it then covers too.
struct Outline {
    int columns = 0;
    std::vector<double> bottom, top;
};

Outline outlineAt(const Chart& chart, double scale, int turn, double gap, double column) {
    const double width = (turn % 2 == 1 ? chart.height : chart.width) * scale + gap;
    Outline out;
    out.columns = static_cast<int>(std::ceil(width / column)) + 1;
    out.bottom.assign(static_cast<std::size_t>(out.columns), HUGE_VAL);
    out.top.assign(static_cast<std::size_t>(out.columns), -HUGE_VAL);
    const auto include = [&](double x, double y) {
        // x, y within the chart grown by half the gap, its corner at (0, 0).
        const auto c = std::min(out.columns - 1, static_cast<int>(x / column));
        out.bottom[static_cast<std::size_t>(c)] = std::min(out.bottom[static_cast<std::size_t>(c)], y);
        out.top[static_cast<std::size_t>(c)] = std::max(out.top[static_cast<std::size_t>(c)], y);
    };
    // The chart's height range over each column is its rim's: every
    // column the rim (grown by half the gap) crosses takes the heights of
    // the rim's corners within it and where the rim crosses its sides.
    for (const auto& segment : chart.rim) {
        std::array<Flat, 2> p{};
        for (std::size_t k = 0; k < 2; ++k) {
            p[k] = turned(chart, segment[k], turn);
            p[k] = {p[k].x * scale + gap / 2, p[k].y * scale + gap / 2};
        }
        const double low = std::min(p[0].x, p[1].x), high = std::max(p[0].x, p[1].x);
        const int first = static_cast<int>((low - gap / 2) / column), last = static_cast<int>((high + gap / 2) / column);
        for (int c = std::max(0, first); c <= std::min(out.columns - 1, last); ++c) {
            const double x0 = c * column - gap / 2, x1 = (c + 1) * column + gap / 2;
            double b = HUGE_VAL, h = -HUGE_VAL;
            for (const Flat& q : p) {
                if (q.x >= x0 && q.x <= x1) {
                    b = std::min(b, q.y);
                    h = std::max(h, q.y);
                }
            }
            for (const double x : {x0, x1}) {
                if ((p[0].x - x) * (p[1].x - x) < 0) {
                    const double y = p[0].y + (p[1].y - p[0].y) * (x - p[0].x) / (p[1].x - p[0].x);
                    b = std::min(b, y);
                    h = std::max(h, y);
                }
            }
            if (b > h) continue;
            include(c * column, b - gap / 2);
            include(c * column, h + gap / 2);
        }
    }
    // A column inside the box that the rim never crosses claims nothing
    // but its foot: the chart only rests on what lies below it there.
    for (int c = 0; c < out.columns; ++c) {
        if (out.bottom[static_cast<std::size_t>(c)] <= out.top[static_cast<std::size_t>(c)]) continue;
        out.bottom[static_cast<std::size_t>(c)] = 0;
        out.top[static_cast<std::size_t>(c)] = 0;
    }
    return out;
}

// False where the charts do not fit the square at scale. The charts,
// grown by half the gap, go into the square less half the gap at each
// edge: from the edge too they keep the whole gap.
bool packCharts(std::vector<Chart>& charts, const std::vector<std::size_t>& order, double scale, double gap,
                double topWeight) {
    const double side = 1 - gap, column = side / kColumns;
    // Heights in whole units of the square, rounded outward: the search
    // runs on integers, several columns at a time.
    constexpr double kUnits = 16777216.0;
    const auto units = [&](double v, bool up) {
        return static_cast<std::int32_t>(up ? std::ceil(v * kUnits) : std::floor(v * kUnits));
    };
    const std::int32_t ceiling = units(side, false);
    // The height filled in each column, and its sums from the left.
    std::vector<std::int32_t> sky(kColumns, 0);
    std::vector<std::int64_t> sums(kColumns + 1, 0);
    std::array<std::vector<std::int32_t>, kTurns> bottoms, tops;
    for (const std::size_t c : order) {
        Chart& chart = charts[c];
        for (int x = 0; x < kColumns; ++x) sums[static_cast<std::size_t>(x) + 1] = sums[static_cast<std::size_t>(x)] + sky[static_cast<std::size_t>(x)];
        double bestScore = HUGE_VAL;
        std::int32_t bestY = 0;
        int bestX = 0, bestTurn = 0;
        for (int turn = 0; turn < kTurns; ++turn) {
            const Outline outline = outlineAt(chart, scale, turn, gap, column);
            auto& bottom = bottoms[static_cast<std::size_t>(turn)];
            auto& top = tops[static_cast<std::size_t>(turn)];
            bottom.resize(static_cast<std::size_t>(outline.columns));
            top.resize(static_cast<std::size_t>(outline.columns));
            std::int64_t bottomSum = 0;
            std::int32_t height = 0;
            for (std::size_t k = 0; k < bottom.size(); ++k) {
                bottom[k] = units(outline.bottom[k], false);
                top[k] = units(outline.top[k], true);
                bottomSum += bottom[k];
                height = std::max(height, top[k]);
            }
            const int width = outline.columns;
            for (int x = 0; x + width <= kColumns; ++x) {
                const std::int32_t* under = sky.data() + x;
                std::int32_t y = std::numeric_limits<std::int32_t>::min();
                for (int k = 0; k < width; ++k) y = std::max(y, under[k] - bottom[static_cast<std::size_t>(k)]);
                if (static_cast<std::int64_t>(y) + height > ceiling) continue;
                // The room left empty under the chart, and a little of its
                // height: charts go where they fit closest.
                const std::int64_t waste = static_cast<std::int64_t>(width) * y + bottomSum -
                                           (sums[static_cast<std::size_t>(x + width)] - sums[static_cast<std::size_t>(x)]);
                const double score = static_cast<double>(waste) * column + topWeight * static_cast<double>(y + height);
                if (score < bestScore) {
                    bestScore = score;
                    bestY = y;
                    bestX = x;
                    bestTurn = turn;
                }
            }
        }
        if (bestScore == HUGE_VAL) return false;
        chart.turn = bestTurn;
        chart.place = {gap / 2 + bestX * column, gap / 2 + static_cast<double>(bestY) / kUnits};
        const auto& top = tops[static_cast<std::size_t>(bestTurn)];
        for (std::size_t k = 0; k < top.size(); ++k) {
            std::int32_t& filled = sky[static_cast<std::size_t>(bestX) + k];
            filled = std::max(filled, bestY + top[k]);
        }
    }
    return true;
}

}  // namespace

const std::vector<CornerWeights>& cornerWeights(int depth) {
    static const std::array<std::vector<CornerWeights>, kMostDetail + 1> tables = [] {
        std::array<std::vector<CornerWeights>, kMostDetail + 1> t;
        t[0] = {{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}};
        for (std::size_t d = 1; d <= kMostDetail; ++d) {
            for (const CornerWeights& w : t[d - 1]) {
                const auto mid = [](const std::array<double, 3>& p, const std::array<double, 3>& q) {
                    return std::array<double, 3>{(p[0] + q[0]) / 2, (p[1] + q[1]) / 2, (p[2] + q[2]) / 2};
                };
                const auto& [a, b, c] = w;
                const auto ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
                // As the levels split a face: a ab ca, ab b bc, ca bc c, ab bc ca.
                t[d].push_back({a, ab, ca});
                t[d].push_back({ab, b, bc});
                t[d].push_back({ca, bc, c});
                t[d].push_back({ab, bc, ca});
            }
        }
        return t;
    }();
    return tables[static_cast<std::size_t>(depth)];
}

// The first way's scale is found to 1.25^(1/256), under a tenth of a
// percent of the square's fill; each later way's, from near the best, to
// a tenth in 32.
constexpr int kHalvings = 8, kLaterHalvings = 5;
RockAtlas rockAtlas(const DetailLevels& levels, int level, std::span<const Position> positions) {
    const LevelMesh& at = levels.levels[static_cast<std::size_t>(level)];
    const FaceNormals normals = normalsOf(at, positions);
    std::vector<Chart> charts = growCharts(normals, edgesOf(at), at, positions);
    double total = 0;
    for (Chart& chart : charts) {
        boxChart(chart, at, normals, positions);
        total += chart.width * chart.height;
    }
    // The largest scale at which the pack fits the square, by halving the
    // interval, for charts taken in a few orders and placed by a few
    // weights of their tops against the room they leave: the best of them.
    // After the first, a way is tried further only where it beats the best
    // so far.
    struct Way {
        double (*size)(const Chart&);
        double topWeight;
    };
    const std::array<Way, 10> ways = {{
        {[](const Chart& c) { return std::max(c.width, c.height); }, 0.2},
        {[](const Chart& c) { return c.width * c.height; }, 0.2},
        {[](const Chart& c) { return std::max(c.width, c.height); }, 0.05},
        {[](const Chart& c) { return c.width * c.height; }, 1.0},
        {[](const Chart& c) { return c.width + c.height; }, 0.5},
        {[](const Chart& c) { return std::min(c.width, c.height); }, 0.2},
        {[](const Chart& c) { return c.height; }, 0.2},
        {[](const Chart& c) { return c.width; }, 0.2},
        {[](const Chart& c) { return std::max(c.width, c.height); }, 0.6},
        {[](const Chart& c) { return c.width * c.height; }, 0.05},
    }};
    std::vector<std::size_t> order(charts.size());
    double low = 0;
    Way best = ways[0];
    std::vector<std::size_t> bestOrder;
    for (const Way& way : ways) {
        for (std::size_t c = 0; c < order.size(); ++c) order[c] = c;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return way.size(charts[a]) > way.size(charts[b]); });
        const auto fits = [&](double scale) { return packCharts(charts, order, scale, kChartGap, way.topWeight); };
        double from = low, to;
        if (low == 0) {
            to = 1 / std::sqrt(total);
            while (fits(to)) {
                from = to;
                to *= 1.25;
            }
        } else {
            if (!fits(low * (1 + 1.0 / 128))) continue;
            from = low * (1 + 1.0 / 128);
            to = low * 1.1;
        }
        for (int i = 0; i < (low == 0 ? kHalvings : kLaterHalvings); ++i) {
            const double mid = (from + to) / 2;
            (fits(mid) ? from : to) = mid;
        }
        if (from > low) {
            low = from;
            best = way;
            bestOrder = order;
        }
    }
    packCharts(charts, bestOrder, low, kChartGap, best.topWeight);
    RockAtlas atlas;
    atlas.level = level;
    atlas.charts = static_cast<int>(charts.size());
    atlas.chartOf.assign(at.faces.size(), 0);
    atlas.corners.resize(at.faces.size());
    for (std::size_t c = 0; c < charts.size(); ++c) {
        const Chart& chart = charts[c];
        for (std::size_t i = 0; i < chart.faces.size(); ++i) {
            const auto f = static_cast<std::size_t>(chart.faces[i]);
            atlas.chartOf[f] = static_cast<int>(c);
            for (std::size_t k = 0; k < 3; ++k) {
                const Flat q = turned(chart, chart.flat[i][k], chart.turn);
                atlas.corners[f][k] = {chart.place.x + kChartGap / 2 + q.x * low, chart.place.y + kChartGap / 2 + q.y * low};
            }
        }
    }
    return atlas;
}

void atlasTextures(const RockAtlas& atlas, const DetailLevels& levels, int level, TextureMesh& mesh) {
    const LevelMesh& at = levels.levels[static_cast<std::size_t>(level)];
    const auto positions = static_cast<std::size_t>(at.positionCount);
    const int shift = 2 * (level - atlas.level);
    const auto coarse = static_cast<std::size_t>(levels.levels[static_cast<std::size_t>(atlas.level)].positionCount);
    // The charts at each position: a short list each, in a slot chain.
    struct Slot {
        int chart, next;
    };
    std::vector<int> first(positions, -1);
    std::vector<Slot> slots;
    slots.reserve(positions + positions / 4);
    for (std::size_t f = 0; f < at.faces.size(); ++f) {
        const int chart = atlas.chartOf[f >> shift];
        for (const int p : at.faces[f]) {
            int s = first[static_cast<std::size_t>(p)];
            while (s >= 0 && slots[static_cast<std::size_t>(s)].chart != chart) s = slots[static_cast<std::size_t>(s)].next;
            if (s >= 0) continue;
            slots.push_back({chart, first[static_cast<std::size_t>(p)]});
            first[static_cast<std::size_t>(p)] = static_cast<int>(slots.size() - 1);
        }
    }
    // Texture vertices in order of position, then chart: start[p] is the
    // first of position p's, charts[t] the chart of texture vertex t.
    std::vector<int> start(positions + 1, 0);
    std::vector<int> charts;
    charts.reserve(slots.size());
    for (std::size_t p = 0; p < positions; ++p) {
        start[p] = static_cast<int>(charts.size());
        for (int s = first[p]; s >= 0; s = slots[static_cast<std::size_t>(s)].next) {
            charts.push_back(slots[static_cast<std::size_t>(s)].chart);
        }
        std::sort(charts.begin() + start[p], charts.end());
    }
    start[positions] = static_cast<int>(charts.size());
    const auto find = [&](int p, int chart) {
        int t = start[static_cast<std::size_t>(p)];
        while (charts[static_cast<std::size_t>(t)] != chart) ++t;
        return t;
    };
    mesh.vertices.assign(charts.size(), {0, 0});
    mesh.owners.resize(charts.size());
    for (std::size_t p = 0; p < positions; ++p) {
        for (int t = start[p]; t < start[p + 1]; ++t) mesh.owners[static_cast<std::size_t>(t)] = static_cast<int>(p);
    }
    // The atlas's own level from its faces' corners; every finer position
    // halfway along its edge, whose ends lie in the same chart.
    const LevelMesh& base = levels.levels[static_cast<std::size_t>(atlas.level)];
    for (std::size_t f = 0; f < base.faces.size(); ++f) {
        for (std::size_t k = 0; k < 3; ++k) {
            mesh.vertices[static_cast<std::size_t>(find(base.faces[f][k], atlas.chartOf[f]))] = atlas.corners[f][k];
        }
    }
    for (std::size_t p = coarse; p < positions; ++p) {
        const auto& [a, b] = levels.edgeOfPosition[p - kVertexCount];
        for (int t = start[p]; t < start[p + 1]; ++t) {
            const int chart = charts[static_cast<std::size_t>(t)];
            const TextureVertex& u = mesh.vertices[static_cast<std::size_t>(find(a, chart))];
            const TextureVertex& v = mesh.vertices[static_cast<std::size_t>(find(b, chart))];
            mesh.vertices[static_cast<std::size_t>(t)] = {(u.u + v.u) / 2, (u.v + v.v) / 2};
        }
    }
    mesh.corners.resize(at.faces.size());
    for (std::size_t f = 0; f < at.faces.size(); ++f) {
        const int chart = atlas.chartOf[f >> shift];
        for (std::size_t k = 0; k < 3; ++k) mesh.corners[f][k] = find(at.faces[f][k], chart);
    }
}

}  // namespace tavimor
