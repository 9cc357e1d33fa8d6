#include "geometry/tangents.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace tavimor {

double arcCosine(double x) {
    // acos x = sqrt(1 - x) (a0 + a1 x + ... + a7 x^7) for x in [0, 1], and
    // pi - acos(-x) below.
    constexpr double kPi = 3.14159265358979323846;
    constexpr double a[] = {1.5707963050, -0.2145988016, 0.0889789874, -0.0501743046,
                            0.0308918810, -0.0170881256, 0.0066700901, -0.0012624911};
    const double v = std::min(1.0, std::abs(x));
    double sum = a[7];
    for (int i = 6; i >= 0; --i) sum = sum * v + a[i];
    const double angle = std::sqrt(1 - v) * sum;
    return x < 0 ? kPi - angle : angle;
}

void mikkTangents(std::span<const std::array<int, 3>> faces, std::span<const Position> positions,
                  const TextureCoordinates& uv, std::span<const Position> normals,
                  std::span<const std::array<int, 3>> normalOf, std::vector<Tangent>& tangents) {
    const std::size_t corners = 3 * faces.size();
    // A vertex is a texture vertex with one normal: the corners of each,
    // found by sorting them by the pair.
    const auto keyOf = [&](std::size_t c) {
        return (static_cast<std::uint64_t>(uv.corners[c / 3][c % 3]) << 32) |
               static_cast<std::uint32_t>(normalOf[c / 3][c % 3]);
    };
    std::vector<std::uint32_t> order(corners);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const std::uint64_t ka = keyOf(a), kb = keyOf(b);
        return ka < kb || (ka == kb && a < b);
    });
    // Each corner's share, flattened onto its normal and weighted by its
    // angle; each face's side (whether u, v turn as its corners do).
    std::vector<Position> share(corners);
    std::vector<double> side(faces.size());
    for (std::size_t f = 0; f < faces.size(); ++f) {
        // Counter-clockwise seen from outside, as the files hold them.
        const std::array<std::size_t, 3> k = {0, 2, 1};
        std::array<Position, 3> p;
        std::array<TextureVertex, 3> t;
        for (std::size_t i = 0; i < 3; ++i) {
            p[i] = positions[static_cast<std::size_t>(faces[f][k[i]])];
            t[i] = uv.vertices[static_cast<std::size_t>(uv.corners[f][k[i]])];
        }
        const Position d1 = p[1] - p[0], d2 = p[2] - p[0];
        const double s1 = t[1].u - t[0].u, r1 = t[1].v - t[0].v, s2 = t[2].u - t[0].u, r2 = t[2].v - t[0].v;
        const double area = s1 * r2 - r1 * s2;
        Position along = d1 * r2 - d2 * r1;
        if (area < 0) along = along * -1.0;
        along = unitOf(along);
        side[f] = area > 0 ? 1 : -1;
        for (std::size_t i = 0; i < 3; ++i) {
            const std::size_t c = 3 * f + k[i];
            const Position& n = normals[static_cast<std::size_t>(normalOf[f][k[i]])];
            const Position flat = unitOf(along - n * dot(n, along));
            Position e1 = p[(i + 2) % 3] - p[i], e2 = p[(i + 1) % 3] - p[i];
            e1 = unitOf(e1 - n * dot(n, e1));
            e2 = unitOf(e2 - n * dot(n, e2));
            const double cosine = std::clamp(dot(e1, e2), -1.0, 1.0);
            share[c] = flat * arcCosine(cosine);
        }
    }
    tangents.resize(corners);
    for (std::size_t first = 0; first < corners;) {
        std::size_t end = first + 1;
        while (end < corners && keyOf(order[end]) == keyOf(order[first])) ++end;
        Position sum = {0, 0, 0};
        for (std::size_t i = first; i < end; ++i) sum = sum + share[order[i]];
        const Tangent tangent = {unitOf(sum), side[order[first] / 3]};
        for (std::size_t i = first; i < end; ++i) tangents[order[i]] = tangent;
        first = end;
    }
}

}  // namespace tavimor
