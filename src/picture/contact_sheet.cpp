#include "picture/contact_sheet.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "picture/png.h"

namespace tavimor {
namespace {

using Vec3 = Position;

Vec3 unit(const Vec3& v) {
    const double length = std::sqrt(dot(v, v));
    return {v.x / length, v.y / length, v.z / length};
}

// Looking down about 22 degrees onto the rock's front right, Z up on the
// sheet; the light comes from over the viewer's left shoulder. The
// directions are plain numbers made unit by a square root: no sine or
// cosine, whose last bits differ between platforms.
struct View {
    Vec3 forward, right, up, light;
};

View makeView() {
    View v;
    v.forward = unit({-1.0, -2.0, -0.9});
    v.right = unit(cross(v.forward, {0, 0, 1}));
    v.up = cross(v.right, v.forward);
    v.light = unit({0.7, 0.3, 1.3});
    return v;
}

constexpr double kAmbient = 0.3;
constexpr std::uint8_t kBackground[3] = {236, 236, 232};

std::uint8_t channel(double value) {
    const double clamped = value < 0 ? 0 : (value > 1 ? 1 : value);
    return static_cast<std::uint8_t>(clamped * 255 + 0.5);
}

// How lit a surface facing along normal (unit) is.
double lightOn(const Vec3& normal, const View& view) {
    const double facing = dot(normal, view.light);
    return kAmbient + (1 - kAmbient) * (facing > 0 ? facing : 0);
}

}  // namespace

std::uint64_t mostRocksOnASheet(int tileSize) {
    const auto tile = static_cast<std::uint64_t>(tileSize) * static_cast<std::uint64_t>(tileSize);
    // Ten tiles of the largest size fit a row; every further row takes ten.
    static_assert(std::uint64_t{kTilesPerRow} * kLargestTile * kLargestTile <= kMostSheetPixels);
    return kMostSheetPixels / (kTilesPerRow * tile) * kTilesPerRow;
}

ContactSheet::ContactSheet(int rocks, int tileSize, double reach)
    : tileSize_(tileSize),
      width_(std::min(rocks, kTilesPerRow) * tileSize),
      height_((rocks + kTilesPerRow - 1) / kTilesPerRow * tileSize),
      // The largest rock, seen from any side, fills nine tenths of a tile.
      scale_(reach > 0 ? 0.45 * tileSize / reach : 1.0),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3),
      depth_(static_cast<std::size_t>(tileSize) * static_cast<std::size_t>(tileSize)) {
    for (std::size_t i = 0; i < pixels_.size(); i += 3) std::copy(kBackground, kBackground + 3, pixels_.begin() + i);
}

void ContactSheet::draw(int index, const LevelMesh& level, const SheetRock& rock) {
    const View view = makeView();
    const std::span<const Position> positions = rock.positions, normals = rock.normals;
    const bool smooth = !normals.empty();
    const int left = index % kTilesPerRow * tileSize_, top = index / kTilesPerRow * tileSize_;
    const double centre = tileSize_ / 2.0;
    std::fill(depth_.begin(), depth_.end(), std::numeric_limits<float>::infinity());

    // Every position seen once: where it lands in the tile, how deep, and
    // (smooth) how lit.
    const auto count = static_cast<std::size_t>(level.positionCount);
    projected_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3& p = positions[i];
        projected_[i] = {centre + scale_ * dot(p, view.right), centre - scale_ * dot(p, view.up),
                         dot(p, view.forward), smooth ? lightOn(normals[i], view) : 0};
    }
    // Split normals light each corner by its own normal.
    if (rock.split != nullptr) {
        cornerLight_.resize(normals.size());
        for (std::size_t n = 0; n < normals.size(); ++n) cornerLight_[n] = lightOn(normals[n], view);
    }
    for (std::size_t f = 0; f < level.faces.size(); ++f) {
        const auto& face = level.faces[f];
        const Vec3 p[3] = {positions[static_cast<std::size_t>(face[0])], positions[static_cast<std::size_t>(face[1])],
                           positions[static_cast<std::size_t>(face[2])]};
        // The corners run clockwise seen from outside: (c - a) x (b - a)
        // points out. A face turned away from the viewer is hidden.
        const Vec3 outward = cross(p[2] - p[0], p[1] - p[0]);
        if (dot(outward, view.forward) >= 0) continue;
        Seen q[3];
        for (std::size_t k = 0; k < 3; ++k) q[k] = projected_[static_cast<std::size_t>(face[k])];
        if (rock.split != nullptr) {
            for (std::size_t k = 0; k < 3; ++k) q[k].light = cornerLight_[static_cast<std::size_t>(rock.split->corners[f][k])];
        }
        if (!smooth) {
            const double faceLight = lightOn(unit(outward), view);
            for (Seen& corner : q) corner.light = faceLight;
        }
        const double area = (q[1].x - q[0].x) * (q[2].y - q[0].y) - (q[1].y - q[0].y) * (q[2].x - q[0].x);
        if (area == 0) continue;
        // The corners' weights at (x, y) are planes: a x + b y + c, over
        // the area, so that a pixel costs two products a weight.
        const double perArea = 1 / area;
        const auto plane = [&](const Seen& from, const Seen& to) {
            return std::array<double, 3>{(from.y - to.y) * perArea, (to.x - from.x) * perArea,
                                         (from.x * to.y - from.y * to.x) * perArea};
        };
        const std::array<double, 3> e0 = plane(q[1], q[2]), e1 = plane(q[2], q[0]);
        // The face's corners in its colour map, where it has one.
        const bool mapped = rock.mapSize > 0;
        std::array<TextureVertex, 3> t{};
        if (mapped) {
            for (std::size_t k = 0; k < 3; ++k) t[k] = rock.uv.vertices[static_cast<std::size_t>(rock.uv.corners[f][k])];
        }
        const auto low = [&](double a, double b, double c) { return std::max(0, static_cast<int>(std::min({a, b, c}))); };
        const auto high = [&](double a, double b, double c) {
            return std::min(tileSize_ - 1, static_cast<int>(std::max({a, b, c})));
        };
        const int x0 = low(q[0].x, q[1].x, q[2].x), x1 = high(q[0].x, q[1].x, q[2].x);
        const int y0 = low(q[0].y, q[1].y, q[2].y), y1 = high(q[0].y, q[1].y, q[2].y);
        for (int y = y0; y <= y1; ++y) {
            const double py = y + 0.5, px = x0 + 0.5;
            const double row0 = e0[0] * px + e0[1] * py + e0[2], row1 = e1[0] * px + e1[1] * py + e1[2];
            float* depthRow = &depth_[static_cast<std::size_t>(y) * static_cast<std::size_t>(tileSize_)];
            std::uint8_t* pixelRow =
                &pixels_[(static_cast<std::size_t>(top + y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(left)) * 3];
            for (int x = x0; x <= x1; ++x) {
                // Where the pixel's centre lies in the triangle: weights of
                // the corners, all at least 0 inside.
                const double step = x - x0;
                const double w0 = row0 + e0[0] * step, w1 = row1 + e1[0] * step, w2 = 1 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                const auto depth = static_cast<float>(w0 * q[0].depth + w1 * q[1].depth + w2 * q[2].depth);
                if (depth >= depthRow[x]) continue;
                depthRow[x] = depth;
                const double light = w0 * q[0].light + w1 * q[1].light + w2 * q[2].light;
                std::uint8_t* pixel = pixelRow + static_cast<std::size_t>(x) * 3;
                Colour colour = rock.colour;
                if (mapped) {
                    // The texel under the pixel (the sheet is seen square
                    // on, so the map's place is the corners' weighted).
                    const double u = w0 * t[0].u + w1 * t[1].u + w2 * t[2].u;
                    const double v = w0 * t[0].v + w1 * t[1].v + w2 * t[2].v;
                    const int size = rock.mapSize;
                    const int tx = std::clamp(static_cast<int>(u * size), 0, size - 1);
                    const int ty = std::clamp(static_cast<int>((1 - v) * size), 0, size - 1);
                    const std::uint8_t* texel =
                        &rock.colourMap[(static_cast<std::size_t>(ty) * static_cast<std::size_t>(size) + static_cast<std::size_t>(tx)) * 3];
                    colour = {texel[0] / 255.0, texel[1] / 255.0, texel[2] / 255.0};
                }
                pixel[0] = channel(colour.red * light);
                pixel[1] = channel(colour.green * light);
                pixel[2] = channel(colour.blue * light);
            }
        }
    }
}

std::optional<std::string> ContactSheet::png() const { return encodePng(width_, height_, pixels_); }

}  // namespace tavimor
