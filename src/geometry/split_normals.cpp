#include "geometry/split_normals.h"

#include <algorithm>
#include <cmath>

namespace tavimor {
namespace {

// cos^2 30 degrees, exactly: faces whose normals are further apart than 30
// degrees meet at a sharp edge, told without a root.
constexpr double kSharpCosSquared = 0.75;
static_assert(kSharpDegrees == 30, "kSharpCosSquared is cos^2 of kSharpDegrees");

// A face's outward normal, its length twice the face's area.
Position faceNormal(const LevelMesh& level, std::span<const Position> p, std::size_t f) {
    const auto& [a, b, c] = level.faces[f];
    const Position& pa = p[static_cast<std::size_t>(a)];
    return cross(p[static_cast<std::size_t>(c)] - pa, p[static_cast<std::size_t>(b)] - pa);
}

// A face's share in the normal of its corner i: its unit normal times its
// angle there, in double precision, the angle to a few millionths (the
// faces of a group lie within a few tens of degrees of each other, so
// nothing cancels that a weight's last digits would show).
Position cornerShare(const LevelMesh& level, std::span<const Position> p, std::size_t f, std::size_t i) {
    const Position& at = p[static_cast<std::size_t>(level.faces[f][i])];
    const Position u = p[static_cast<std::size_t>(level.faces[f][(i + 1) % 3])] - at;
    const Position v = p[static_cast<std::size_t>(level.faces[f][(i + 2) % 3])] - at;
    const Position n = faceNormal(level, p, f);
    const double twiceArea = std::sqrt(dot(n, n));
    if (!(twiceArea > 0)) return {0, 0, 0};
    const double along = dot(u, v), across = twiceArea;
    const double flat = along < 0 ? -along : along;
    const double low = across < flat ? across : flat, high = across < flat ? flat : across;
    const double r = low / high, square = r * r;
    double angle = r * (0.99997726 + square * (-0.33262347 + square * (0.19354346 + square * (-0.11643287 +
                                                                                          square * (0.05265332 +
                                                                                                    square * -0.01172120)))));
    angle = across > flat ? 1.5707963267948966 - angle : angle;
    angle = along < 0 ? 3.141592653589793 - angle : angle;
    return n * (angle / twiceArea);
}

}  // namespace

void splitNormals(const LevelMesh& level, const LevelEdges& edges, std::span<const Position> positions,
                  std::span<const Position> smooth, SplitNormals& split) {
    const std::size_t faces = level.faces.size();
    const auto count = static_cast<std::size_t>(level.positionCount);
    split.normals.assign(smooth.begin(), smooth.begin() + static_cast<std::ptrdiff_t>(count));
    split.owners.clear();
    split.corners.assign(level.faces.begin(), level.faces.end());
    split.splitCorners.clear();
    // Which edges are sharp, and how many sharp edges meet at each
    // position: only a position with two or more has corners to split.
    // Normals m and n are more than 30 degrees apart where m . n < cos 30
    // |m| |n|: where m . n is negative, or its square is below 3/4 m^2 n^2,
    // which needs no root.
    std::vector<Position> faceNormals(faces);
    std::vector<double> squares(faces);
    for (std::size_t f = 0; f < faces; ++f) {
        faceNormals[f] = faceNormal(level, positions, f);
        squares[f] = dot(faceNormals[f], faceNormals[f]);
    }
    std::vector<char> sharp(faces * 3, 0);
    std::vector<int> sharpAt(count, 0);
    for (std::size_t h = 0; h < faces * 3; ++h) {
        const auto t = static_cast<std::size_t>(edges.twin[h]);
        if (t < h) continue;
        const double along = dot(faceNormals[h / 3], faceNormals[t / 3]);
        if (!(along < 0 || along * along < kSharpCosSquared * (squares[h / 3] * squares[t / 3]))) continue;
        sharp[h] = sharp[t] = 1;
        ++sharpAt[static_cast<std::size_t>(level.faces[h / 3][h % 3])];
        ++sharpAt[static_cast<std::size_t>(level.faces[t / 3][t % 3])];
    }
    // The corner after c going round its position: across the edge from c's
    // position to its face's next corner.
    const auto nextAround = [&](int c) {
        const int t = edges.twin[static_cast<std::size_t>(c)];
        return t - t % 3 + (t % 3 + 1) % 3;
    };
    for (std::size_t v = 0; v < count; ++v) {
        if (sharpAt[v] < 2) continue;
        // Start just past a sharp edge, and start a new group at each.
        int start = edges.cornerAt[v];
        while (!sharp[static_cast<std::size_t>(start)]) start = nextAround(start);
        start = nextAround(start);
        int normal = static_cast<int>(v);
        Position sum = {0, 0, 0};
        const auto close = [&] {
            const double length = std::sqrt(dot(sum, sum));
            const Position n = length > 0 ? sum * (1.0 / length) : Position{0, 0, 0};
            split.normals[static_cast<std::size_t>(normal)] = {static_cast<float>(n.x), static_cast<float>(n.y),
                                                               static_cast<float>(n.z)};
        };
        int c = start;
        do {
            const auto f = static_cast<std::size_t>(c / 3), i = static_cast<std::size_t>(c % 3);
            split.corners[f][i] = normal;
            split.splitCorners.push_back(c);
            sum = sum + cornerShare(level, positions, f, i);
            if (sharp[static_cast<std::size_t>(c)]) {
                close();
                sum = {0, 0, 0};
                normal = static_cast<int>(split.normals.size());
                split.normals.push_back({0, 0, 0});
                split.owners.push_back(static_cast<int>(v));
            }
            c = nextAround(c);
        } while (c != start);
        // The walk ends across the sharp edge it started from: the group
        // opened there is not one.
        split.normals.pop_back();
        split.owners.pop_back();
    }
    std::sort(split.splitCorners.begin(), split.splitCorners.end());
}

}  // namespace tavimor
