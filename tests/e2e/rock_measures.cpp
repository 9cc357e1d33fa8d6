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

constexpr double kPi = 3.141592653589793;

// Solves the N x N system whose last column is the right side, by Gaussian
// elimination with partial pivoting; false where it is singular.
template <std::size_t N>
bool solve(std::array<std::array<double, N + 1>, N> m, std::array<double, N>& x) {
    for (std::size_t col = 0; col < N; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < N; ++r) {
            if (std::abs(m[r][col]) > std::abs(m[pivot][col])) pivot = r;
        }
        if (!(std::abs(m[pivot][col]) > 1e-300)) return false;
        std::swap(m[col], m[pivot]);
        for (std::size_t r = 0; r < N; ++r) {
            if (r == col) continue;
            const double k = m[r][col] / m[col][col];
            for (std::size_t c = col; c <= N; ++c) m[r][c] -= k * m[col][c];
        }
    }
    for (std::size_t i = 0; i < N; ++i) x[i] = m[i][N] / m[i][i];
    return true;
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

    // Sharp edges, and the regions between them.
    const double sharpCos = std::cos(30 * kPi / 180);
    std::vector<std::array<bool, 3>> sharp(faces);
    for (std::size_t f = 0; f < faces; ++f) {
        for (std::size_t i = 0; i < 3; ++i) sharp[f][i] = dotOf(normals[f], normals[neighbours[f][i]]) < sharpCos;
    }
    std::vector<int> regionOf(faces, -1);
    std::vector<std::vector<std::size_t>> regions;
    for (std::size_t seed = 0; seed < faces; ++seed) {
        if (regionOf[seed] >= 0) continue;
        const int id = static_cast<int>(regions.size());
        regions.emplace_back();
        std::vector<std::size_t> stack = {seed};
        regionOf[seed] = id;
        while (!stack.empty()) {
            const std::size_t f = stack.back();
            stack.pop_back();
            regions.back().push_back(f);
            for (std::size_t i = 0; i < 3; ++i) {
                const std::size_t g = neighbours[f][i];
                if (!sharp[f][i] && regionOf[g] < 0) {
                    regionOf[g] = id;
                    stack.push_back(g);
                }
            }
        }
    }
    // Each large region's best-fitting plane (through its area's centre,
    // normal to its least spread) and how far it strays from it.
    struct Face {
        double share, deviation;
        Point normal;
    };
    std::vector<Face> found;
    std::vector<bool> onFace(faces, false);
    for (const std::vector<std::size_t>& region : regions) {
        double area = 0;
        Point centre = {0, 0, 0}, mean = {0, 0, 0};
        for (const std::size_t f : region) {
            area += areas[f];
            for (const std::size_t v : s.triangles[f]) centre = {centre[0] + s.positions[v][0] * areas[f] / 3, centre[1] + s.positions[v][1] * areas[f] / 3, centre[2] + s.positions[v][2] * areas[f] / 3};
            mean = {mean[0] + normals[f][0] * areas[f], mean[1] + normals[f][1] * areas[f], mean[2] + normals[f][2] * areas[f]};
        }
        if (area < 0.02 * total) continue;
        centre = scaled(centre, 1 / area);
        std::array<std::array<double, 3>, 3> moments{};
        for (const std::size_t f : region) {
            for (const std::size_t v : s.triangles[f]) {
                const Point d = minus(s.positions[v], centre);
                for (int i = 0; i < 3; ++i) {
                    for (int j = 0; j < 3; ++j) moments[i][j] += d[i] * d[j] * areas[f] / 3;
                }
            }
        }
        // The axis of least spread: the eigenvector nearest the faces' mean
        // normal among those of the smallest moment.
        const std::array<Point, 3> axes = eigenvectorsOf(moments);
        Point normal = axes[0];
        double least = HUGE_VAL;
        for (const Point& axis : axes) {
            double spread = 0;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) spread += axis[i] * moments[i][j] * axis[j];
            }
            if (spread < least) {
                least = spread;
                normal = axis;
            }
        }
        if (dotOf(normal, mean) < 0) normal = scaled(normal, -1);
        const double deviation = std::sqrt(least / area) / m.a;
        if (deviation > 0.05) continue;
        found.push_back({area / total, deviation, normal});
        for (const std::size_t f : region) onFace[f] = true;
    }
    std::sort(found.begin(), found.end(), [](const Face& x, const Face& y) { return x.share > y.share; });
    std::vector<double> deviations;
    for (const Face& face : found) {
        m.faceShare += face.share;
        deviations.push_back(face.deviation);
    }
    m.faces = static_cast<int>(found.size());
    m.faceDeviation = deviations.empty() ? 0 : spreadOf(deviations).median;
    m.twoOpposite = found.size() >= 2 && dotOf(found[0].normal, found[1].normal) < -std::cos(25 * kPi / 180);

    // The creases: at a position where exactly two sharp edges meet, the
    // turn from the one to the other.
    std::map<std::size_t, std::vector<std::size_t>> sharpAt;  // position: the far ends of its sharp edges
    for (std::size_t f = 0; f < faces; ++f) {
        for (std::size_t i = 0; i < 3; ++i) {
            const std::size_t from = s.triangles[f][i], to = s.triangles[f][(i + 1) % 3];
            if (sharp[f][i] && from < to) {
                sharpAt[from].push_back(to);
                sharpAt[to].push_back(from);
            }
        }
    }
    std::vector<double> turns;
    for (const auto& [at, ends] : sharpAt) {
        if (ends.size() != 2) continue;
        const Point in = minus(s.positions[at], s.positions[ends[0]]), out = minus(s.positions[ends[1]], s.positions[at]);
        const double lengths = std::sqrt(dotOf(in, in) * dotOf(out, out));
        if (lengths > 0) turns.push_back(std::acos(std::clamp(dotOf(in, out) / lengths, -1.0, 1.0)) * 180 / kPi);
    }
    m.creaseTurn = turns.empty() ? 0 : spreadOf(turns).median;

    // The best-fitting ellipsoid of the positions off the faces: the
    // quadric x A x + b . x = 1 nearest them in least squares, and each
    // position's distance from it along the ray from its centre.
    std::vector<bool> offFace(s.positions.size(), false);
    for (std::size_t f = 0; f < faces; ++f) {
        if (onFace[f]) continue;
        for (const std::size_t v : s.triangles[f]) offFace[v] = true;
    }
    std::array<std::array<double, 10>, 9> normal{};
    std::size_t used = 0;
    for (std::size_t v = 0; v < s.positions.size(); ++v) {
        if (!offFace[v]) continue;
        const auto& [x, y, z] = s.positions[v];
        const double row[9] = {x * x, y * y, z * z, 2 * x * y, 2 * x * z, 2 * y * z, x, y, z};
        for (int i = 0; i < 9; ++i) {
            for (int j = 0; j < 9; ++j) normal[i][j] += row[i] * row[j];
            normal[i][9] += row[i];
        }
        ++used;
    }
    m.ellipsoidDeviation = 1;
    std::array<double, 9> q{};
    if (used >= 9 && solve(normal, q)) {
        const std::array<std::array<double, 3>, 3> A = {{{q[0], q[3], q[4]}, {q[3], q[1], q[5]}, {q[4], q[5], q[2]}}};
        const Point b = {q[6], q[7], q[8]};
        // The centre: where the gradient 2 A x + b vanishes.
        std::array<std::array<double, 4>, 3> system{};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) system[i][j] = 2 * A[i][j];
            system[i][3] = -b[i];
        }
        std::array<double, 3> c{};
        if (solve(system, c)) {
            double scale = 1;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) scale += c[i] * A[i][j] * c[j];
            }
            double squares = 0, radii = 0;
            std::size_t n = 0;
            bool ellipsoid = scale > 0;
            for (std::size_t v = 0; v < s.positions.size() && ellipsoid; ++v) {
                if (!offFace[v]) continue;
                const Point d = {s.positions[v][0] - c[0], s.positions[v][1] - c[1], s.positions[v][2] - c[2]};
                double form = 0;
                for (int i = 0; i < 3; ++i) {
                    for (int j = 0; j < 3; ++j) form += d[i] * A[i][j] * d[j];
                }
                if (!(form > 0)) {
                    ellipsoid = false;
                    break;
                }
                const double length = std::sqrt(dotOf(d, d)), lambda = std::sqrt(form / scale);
                const double off = length * (1 - 1 / lambda);
                squares += off * off;
                radii += length;
                ++n;
            }
            if (ellipsoid && n > 0) m.ellipsoidDeviation = std::sqrt(squares / static_cast<double>(n)) / (radii / static_cast<double>(n));
        }
    }
    return m;
}

Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5)]; };
    return {at(0.25), at(0.5), at(0.75)};
}

}  // namespace tavimor::e2e
