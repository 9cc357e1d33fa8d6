#include "rock_measures.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <span>
#include <utility>

#include "geometry/convex_hull.h"
#include "mesh_readers.h"

namespace tavimor::e2e {
namespace {

Point minus(const Point& a, const Point& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dotOf(const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Point crossOf(const Point& a, const Point& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Point scaled(const Point& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }

// The eigenvectors of a symmetric 3 x 3 matrix, by Jacobi rotations.
std::array<Point, 3> eigenvectorsOf(std::array<std::array<double, 3>, 3> m) {
    std::array<std::array<double, 3>, 3> v = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    for (int sweep = 0; sweep < 50; ++sweep) {
        const double off = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
        if (off < 1e-30) break;
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                if (std::abs(m[p][q]) < 1e-300) continue;
                const double theta = (m[q][q] - m[p][p]) / (2 * m[p][q]);
                const double t = (theta >= 0 ? 1 : -1) / (std::abs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (int k = 0; k < 3; ++k) {
                    const double mkp = m[k][p], mkq = m[k][q];
                    m[k][p] = c * mkp - s * mkq;
                    m[k][q] = s * mkp + c * mkq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double mpk = m[p][k], mqk = m[q][k];
                    m[p][k] = c * mpk - s * mqk;
                    m[q][k] = s * mpk + c * mqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
        }
    }
    return {Point{v[0][0], v[1][0], v[2][0]}, Point{v[0][1], v[1][1], v[2][1]}, Point{v[0][2], v[1][2], v[2][2]}};
}

// The extents along the principal axes of the surface's area, largest first.
std::array<double, 3> principalExtents(const Surface& s, const std::vector<double>& areas) {
    Point centre = {0, 0, 0};
    double total = 0;
    for (std::size_t f = 0; f < s.triangles.size(); ++f) {
        for (const std::size_t v : s.triangles[f]) {
            for (int k = 0; k < 3; ++k) centre[k] += s.positions[v][k] * areas[f] / 3;
        }
        total += areas[f];
    }
    centre = scaled(centre, 1 / total);
    std::array<std::array<double, 3>, 3> moments{};
    for (std::size_t f = 0; f < s.triangles.size(); ++f) {
        for (const std::size_t v : s.triangles[f]) {
            const Point d = minus(s.positions[v], centre);
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) moments[i][j] += d[i] * d[j] * areas[f];
            }
        }
    }
    std::array<double, 3> extents{};
    const std::array<Point, 3> axes = eigenvectorsOf(moments);
    for (int k = 0; k < 3; ++k) {
        double low = HUGE_VAL, high = -HUGE_VAL;
        for (const Point& p : s.positions) {
            low = std::min(low, dotOf(p, axes[k]));
            high = std::max(high, dotOf(p, axes[k]));
        }
        extents[k] = high - low;
    }
    std::sort(extents.rbegin(), extents.rend());
    return extents;
}

double solidityOf(const Surface& s) {
    std::vector<Position> points;
    for (const Point& p : s.positions) points.push_back({p[0], p[1], p[2]});
    std::vector<std::array<int, 3>> triangles;
    for (const auto& t : s.triangles) {
        triangles.push_back({static_cast<int>(t[0]), static_cast<int>(t[1]), static_cast<int>(t[2])});
    }
    return enclosedVolume(points, triangles) / enclosedVolume(points, convexHull(points).value());
}

// Each face's neighbours across its edges; the rocks of a run share their
// faces, so the last surface's are kept.
const std::vector<std::array<std::size_t, 3>>& neighboursOf(const Surface& s) {
    static std::vector<std::array<std::size_t, 3>> triangles, neighbours;
    if (s.triangles == triangles) return neighbours;
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> faceOf;
    for (std::size_t f = 0; f < s.triangles.size(); ++f) {
        for (std::size_t i = 0; i < 3; ++i) faceOf[{s.triangles[f][i], s.triangles[f][(i + 1) % 3]}] = f;
    }
    triangles = s.triangles;
    neighbours.assign(s.triangles.size(), {});
    for (std::size_t f = 0; f < s.triangles.size(); ++f) {
        for (std::size_t i = 0; i < 3; ++i) {
            neighbours[f][i] = faceOf.at({s.triangles[f][(i + 1) % 3], s.triangles[f][i]});
        }
    }
    return neighbours;
}

}  // namespace

Surface surfaceOfPly(const std::string& bytes) {
    const PlyMesh mesh = readPly(bytes);
    Surface s;
    for (const auto& p : mesh.positions) s.positions.push_back({p[0], p[1], p[2]});
    for (const auto& f : mesh.faces) s.triangles.push_back({f[0], f[1], f[2]});
    return s;
}

RockMeasures measure(const Surface& s) {
    const std::size_t faces = s.triangles.size();
    std::vector<Point> normals(faces);
    std::vector<double> areas(faces);
    double total = 0;
    for (std::size_t f = 0; f < faces; ++f) {
        const auto& [a, b, c] = s.triangles[f];
        const Point n = crossOf(minus(s.positions[b], s.positions[a]), minus(s.positions[c], s.positions[a]));
        const double length = std::sqrt(dotOf(n, n));
        normals[f] = length > 0 ? scaled(n, 1 / length) : Point{0, 0, 0};
        areas[f] = length / 2;
        total += areas[f];
    }
    RockMeasures m;
    const std::array<double, 3> extents = principalExtents(s, areas);
    m.a = extents[0];
    m.b = extents[1];
    m.c = extents[2];
    m.solidity = solidityOf(s);

    const std::vector<std::array<std::size_t, 3>>& neighbours = neighboursOf(s);
    double angles = 0;
    for (std::size_t f = 0; f < faces; ++f) {
        for (const std::size_t g : neighbours[f]) {
            angles += std::acos(std::clamp(dotOf(normals[f], normals[g]), -1.0, 1.0));
        }
    }
    m.roughness = angles / static_cast<double>(3 * faces) * 180 / 3.141592653589793;

    // Planar patches, grown from each face not yet in one: faces joined
    // across edges while they lie within 4 degrees and 0.4 % of a of the
    // first face's plane.
    const double cosLimit = std::cos(4 * 3.141592653589793 / 180), reach = 0.004 * m.a;
    std::vector<int> patchOf(faces, -1);
    std::vector<std::pair<double, Point>> patches;  // area, normal
    for (std::size_t seed = 0; seed < faces; ++seed) {
        if (patchOf[seed] >= 0) continue;
        const int id = static_cast<int>(patches.size());
        const Point n = normals[seed];
        const double offset = dotOf(n, s.positions[s.triangles[seed][0]]);
        const auto fits = [&](std::size_t f) {
            if (dotOf(normals[f], n) < cosLimit) return false;
            for (const std::size_t v : s.triangles[f]) {
                if (std::abs(dotOf(n, s.positions[v]) - offset) > reach) return false;
            }
            return true;
        };
        std::vector<std::size_t> stack = {seed};
        patchOf[seed] = id;
        double area = 0;
        while (!stack.empty()) {
            const std::size_t f = stack.back();
            stack.pop_back();
            area += areas[f];
            for (const std::size_t g : neighbours[f]) {
                if (patchOf[g] < 0 && fits(g)) {
                    patchOf[g] = id;
                    stack.push_back(g);
                }
            }
        }
        patches.push_back({area / total, n});
    }
    std::sort(patches.begin(), patches.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    for (const auto& [share, normal] : patches) {
        if (share < 0.02) break;
        m.planarShare += share;
        ++m.patches;
    }
    m.largestPatch = patches.empty() ? 0 : patches[0].first;
    m.twoOpposite = m.patches >= 2 && dotOf(patches[0].second, patches[1].second) < -std::cos(25 * 3.141592653589793 / 180);
    return m;
}

Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5)]; };
    return {at(0.25), at(0.5), at(0.75)};
}

}  // namespace tavimor::e2e
