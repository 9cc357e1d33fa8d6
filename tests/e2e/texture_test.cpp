// Baked maps read back from the files as a reader finds them: the atlas's
// measures, the normal map against the finest level's normals, the
// occlusion against rays cast at the finest surface, and the bytes.
#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "json_reader.h"
#include "mesh_readers.h"

namespace tavimor::e2e {
namespace {

using V3 = std::array<double, 3>;
V3 operator+(const V3& a, const V3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
V3 operator-(const V3& a, const V3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
V3 operator*(const V3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double dot3(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
V3 cross3(const V3& a, const V3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
V3 unit3(const V3& v) { return v * (1 / std::sqrt(dot3(v, v))); }

// A glb file's rock as a reader takes it (Y-up as stored): its vertices'
// attributes, its triangles, and its images decoded.
struct Image {
    int size = 0;
    std::vector<std::uint8_t> rgb;
    std::array<double, 3> at(int x, int y) const {
        const std::size_t i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(size) + static_cast<std::size_t>(x));
        return {rgb[i] / 255.0, rgb[i + 1] / 255.0, rgb[i + 2] / 255.0};
    }
};
struct GlbRockFile {
    std::vector<V3> positions, normals;
    std::vector<std::array<double, 4>> tangents;
    std::vector<std::array<double, 2>> uv;  // glTF's: v down
    std::vector<std::array<std::uint32_t, 3>> triangles;
    std::vector<Image> images;
};

Image decodePng(std::string_view png) {
    int w = 0, h = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()), &w, &h,
                              &channels, 3),
        stbi_image_free);
    Image image;
    if (pixels == nullptr || w != h) return image;
    image.size = w;
    image.rgb.assign(pixels.get(), pixels.get() + 3 * static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    return image;
}

GlbRockFile readGlbRock(const std::string& file) {
    const GlbChunks chunks = chunksOf(file);
    const test::Json json = test::Json::parse(chunks.json);
    const auto& primitive = json["meshes"][0]["primitives"][0];
    const auto viewBytes = [&](std::size_t view) {
        const auto& v = json["bufferViews"][view];
        return std::string_view(chunks.binary).substr(static_cast<std::size_t>(v.value("byteOffset", 0)),
                                                      v["byteLength"].index());
    };
    const auto floats = [&](const char* name, std::size_t width) {
        std::vector<double> out;
        if (!primitive["attributes"].contains(name)) return out;
        const auto& a = json["accessors"][primitive["attributes"][name].index()];
        const std::string_view bytes = viewBytes(a["bufferView"].index());
        out.resize(a["count"].index() * width);
        for (std::size_t i = 0; i < out.size(); ++i) {
            float f;
            std::memcpy(&f, bytes.data() + 4 * i, 4);
            out[i] = f;
        }
        return out;
    };
    GlbRockFile rock;
    const std::vector<double> p = floats("POSITION", 3), n = floats("NORMAL", 3), t = floats("TANGENT", 4),
                              uv = floats("TEXCOORD_0", 2);
    for (std::size_t i = 0; i < p.size() / 3; ++i) rock.positions.push_back({p[3 * i], p[3 * i + 1], p[3 * i + 2]});
    for (std::size_t i = 0; i < n.size() / 3; ++i) rock.normals.push_back({n[3 * i], n[3 * i + 1], n[3 * i + 2]});
    for (std::size_t i = 0; i < t.size() / 4; ++i) rock.tangents.push_back({t[4 * i], t[4 * i + 1], t[4 * i + 2], t[4 * i + 3]});
    for (std::size_t i = 0; i < uv.size() / 2; ++i) rock.uv.push_back({uv[2 * i], uv[2 * i + 1]});
    const auto& indices = json["accessors"][primitive["indices"].index()];
    const bool wide = indices["componentType"].integer() == 5125;
    const std::string_view bytes = viewBytes(indices["bufferView"].index());
    for (std::size_t f = 0; f < indices["count"].index() / 3; ++f) {
        std::array<std::uint32_t, 3> tri{};
        for (std::size_t k = 0; k < 3; ++k) std::memcpy(&tri[k], bytes.data() + (3 * f + k) * (wide ? 4 : 2), wide ? 4 : 2);
        rock.triangles.push_back(tri);
    }
    if (json.contains("images")) {
        for (std::size_t i = 0; i < json["images"].size(); ++i) {
            rock.images.push_back(decodePng(viewBytes(json["images"][i]["bufferView"].index())));
        }
    }
    return rock;
}

// The texel centres inside a triangle of the square (coordinates in
// texels), with their barycentric weights.
template <typename Visit>
void rasterise(const std::array<std::array<double, 2>, 3>& t, int size, Visit visit) {
    const double area = (t[1][0] - t[0][0]) * (t[2][1] - t[0][1]) - (t[2][0] - t[0][0]) * (t[1][1] - t[0][1]);
    if (area == 0) return;
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min({t[0][0], t[1][0], t[2][0]}))));
    const int x1 = std::min(size - 1, static_cast<int>(std::ceil(std::max({t[0][0], t[1][0], t[2][0]}))));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min({t[0][1], t[1][1], t[2][1]}))));
    const int y1 = std::min(size - 1, static_cast<int>(std::ceil(std::max({t[0][1], t[1][1], t[2][1]}))));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double cx = x + 0.5, cy = y + 0.5;
            const double b0 = ((t[1][0] - cx) * (t[2][1] - cy) - (t[2][0] - cx) * (t[1][1] - cy)) / area;
            const double b1 = ((t[2][0] - cx) * (t[0][1] - cy) - (t[0][0] - cx) * (t[2][1] - cy)) / area;
            const double b2 = 1 - b0 - b1;
            if (b0 < 0 || b1 < 0 || b2 < 0) continue;
            visit(x, y, std::array<double, 3>{b0, b1, b2});
        }
    }
}

std::vector<std::string> filesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string runIn(const TempDir& dir, const std::vector<std::string>& args) {
    const CommandResult run = runTavimor(args, dir.path());
    EXPECT_EQ(run.status, 0) << run.errors;
    return run.errors;
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

constexpr const char* kStyles[] = {"classic", "boulder", "pebble", "slab", "shard", "rubble"};

// The atlas as the issue measures it, from the glb: inside the square, no
// two triangles over one texel, charts apart, the square filled, density
// even, no triangle stretched past 2:1.
struct AtlasMeasures {
    bool inside = true;
    long long overlaps = 0, selfOverlaps = 0;
    // In texels of a 1024-texel map.
    double closest = 0, border = 0;
    double fill = 0, evenShare = 0, worstStretch = 0;
};

AtlasMeasures measureAtlas(const GlbRockFile& rock) {
    AtlasMeasures m;
    constexpr int kSize = 1024;
    // Charts: triangles joined by shared vertices (smooth files: a vertex is
    // a texture vertex).
    std::vector<std::uint32_t> parent(rock.uv.size());
    std::iota(parent.begin(), parent.end(), 0u);
    const auto root = [&](std::uint32_t v) {
        while (parent[v] != v) v = parent[v] = parent[parent[v]];
        return v;
    };
    for (const auto& t : rock.triangles) {
        parent[root(t[1])] = root(t[0]);
        parent[root(t[2])] = root(t[0]);
    }
    std::vector<int> owner(static_cast<std::size_t>(kSize) * kSize, -1);
    std::vector<std::pair<double, double>> density;  // (uv area / surface area, surface area)
    double surface = 0;
    for (const auto& t : rock.triangles) {
        std::array<std::array<double, 2>, 3> uv{};
        for (std::size_t k = 0; k < 3; ++k) {
            uv[k] = rock.uv[t[k]];
            m.inside = m.inside && uv[k][0] >= 0 && uv[k][0] <= 1 && uv[k][1] >= 0 && uv[k][1] <= 1;
        }
        // v counted up: glTF's v down turned back, so faces run
        // counter-clockwise in both.
        const V3 p0 = rock.positions[t[0]], p1 = rock.positions[t[1]], p2 = rock.positions[t[2]];
        const double s1 = uv[1][0] - uv[0][0], r1 = -(uv[1][1] - uv[0][1]), s2 = uv[2][0] - uv[0][0],
                     r2 = -(uv[2][1] - uv[0][1]);
        const double flat = (s1 * r2 - s2 * r1) / 2;
        const V3 n = cross3(p1 - p0, p2 - p0);
        const double area = std::sqrt(dot3(n, n)) / 2;
        m.fill += std::abs(flat);
        surface += area;
        density.push_back({flat / area, area});
        if (flat <= 0) {
            m.worstStretch = HUGE_VAL;
            continue;
        }
        // The map's singular values: how far a unit step in the square
        // goes over the surface along its longest and shortest ways.
        const V3 du = (p1 - p0) * (r2 / (2 * flat)) - (p2 - p0) * (r1 / (2 * flat));
        const V3 dv = (p2 - p0) * (s1 / (2 * flat)) - (p1 - p0) * (s2 / (2 * flat));
        const double a = dot3(du, du), b = dot3(du, dv), c = dot3(dv, dv);
        const double root2 = std::sqrt((a - c) * (a - c) + 4 * b * b);
        m.worstStretch = std::max(m.worstStretch, std::sqrt((a + c + root2) / std::max(a + c - root2, 1e-300)));
        const int chart = static_cast<int>(root(t[0]));
        std::array<std::array<double, 2>, 3> texels{};
        for (std::size_t k = 0; k < 3; ++k) texels[k] = {uv[k][0] * kSize, uv[k][1] * kSize};
        rasterise(texels, kSize, [&](int x, int y, const std::array<double, 3>& w) {
            int& o = owner[static_cast<std::size_t>(y) * kSize + static_cast<std::size_t>(x)];
            // A texel on an edge two triangles share counts once.
            const bool edge = std::min({w[0], w[1], w[2]}) < 1e-9;
            if (o >= 0 && !edge) {
                ++m.overlaps;
                if (o == chart) ++m.selfOverlaps;
            }
            o = chart;
        });
    }
    // Charts apart, and from the square's edge: the distance between the
    // outlines' edges (those of one triangle only) of different charts.
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
    for (const auto& t : rock.triangles) {
        for (std::size_t k = 0; k < 3; ++k) ++uses[std::minmax(t[k], t[(k + 1) % 3])];
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> outline;
    for (const auto& [edge, count] : uses) {
        if (count == 1) outline.push_back(edge);
    }
    const auto pointToEdge = [&](std::uint32_t p, const std::pair<std::uint32_t, std::uint32_t>& e) {
        const auto& a = rock.uv[e.first];
        const auto& b = rock.uv[e.second];
        const auto& q = rock.uv[p];
        const double dx = b[0] - a[0], dy = b[1] - a[1];
        const double t = std::clamp(((q[0] - a[0]) * dx + (q[1] - a[1]) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        return std::hypot(a[0] + t * dx - q[0], a[1] + t * dy - q[1]);
    };
    m.closest = HUGE_VAL;
    for (std::size_t i = 0; i < outline.size(); ++i) {
        for (std::size_t j = i + 1; j < outline.size(); ++j) {
            if (root(outline[i].first) == root(outline[j].first)) continue;
            m.closest = std::min({m.closest, pointToEdge(outline[i].first, outline[j]), pointToEdge(outline[i].second, outline[j]),
                                  pointToEdge(outline[j].first, outline[i]), pointToEdge(outline[j].second, outline[i])});
        }
    }
    m.border = HUGE_VAL;
    for (const auto& uv : rock.uv) m.border = std::min({m.border, uv[0], uv[1], 1 - uv[0], 1 - uv[1]});
    std::sort(density.begin(), density.end());
    double seen = 0, median = 0;
    for (const auto& [d, area] : density) {
        seen += area;
        if (seen >= surface / 2) {
            median = d;
            break;
        }
    }
    for (const auto& [d, area] : density) {
        if (d >= 0.75 * median && d <= 1.25 * median) m.evenShare += area / surface;
    }
    return m;
}

TEST(Textures, EveryStylesAtlasMeasuresAsPromisedAtEverySize) {
    double worstFill = 1, worstEven = 1, worstStretch = 0;
    std::vector<double> fills;
    for (const char* style : kStyles) {
        for (const char* detail : {"0", "2", "3"}) {
            SCOPED_TRACE(std::string(style) + " detail " + detail);
            TempDir dir;
            runIn(dir, {"--seed", "2026", "--count", "6", "--style", style, "--detail", detail, "--textures", "128",
                        "--shading", "smooth", "--format", "glb", "--quiet"});
            for (int n = 0; n < 6; ++n) {
                const GlbRockFile rock = readGlbRock(readFile(dir.file("ROCK" + std::to_string(n) + ".glb")));
                const AtlasMeasures m = measureAtlas(rock);
                EXPECT_TRUE(m.inside) << n;
                EXPECT_EQ(m.overlaps, 0) << n << " within one chart " << m.selfOverlaps;
                // Single precision in the file: a hair under 4 texels.
                EXPECT_GE(m.closest * 1024, 4 - 1e-3) << n;
                EXPECT_GE(m.border * 1024, 4 - 1e-3) << n;
                EXPECT_GE(m.evenShare, 0.9) << n;
                EXPECT_LE(m.worstStretch, 2.0) << n;
                EXPECT_GE(m.fill, 0.55) << n;
                fills.push_back(m.fill);
                worstFill = std::min(worstFill, m.fill);
                worstEven = std::min(worstEven, m.evenShare);
                worstStretch = std::max(worstStretch, m.worstStretch);
            }
        }
    }
    // Most rocks fill well over the promise: a packer gone worse shows here first.
    EXPECT_GE(percentile(fills, 0.5), 0.6);
    std::printf("atlas: median fill %.3f, worst fill %.3f, worst share within a quarter of the median density %.3f, worst stretch %.2f\n",
                percentile(fills, 0.5), worstFill, worstEven, worstStretch);
}

TEST(Textures, TheAtlasIsTheSameAtEverySizeAndTheLevelsShareIt) {
    // The layout keeps to the square, not to its texels.
    TempDir small, large;
    runIn(small, {"--seed", "7", "--style", "shard", "--detail", "2", "--textures", "128", "--format", "obj", "--quiet"});
    runIn(large, {"--seed", "7", "--style", "shard", "--detail", "2", "--textures", "4096", "--format", "obj", "--quiet"});
    EXPECT_EQ(readFile(small.file("ROCK0.obj")), readFile(large.file("ROCK0.obj")));
    const Image big = decodePng(readFile(large.file("ROCK0_normal.png")));
    EXPECT_EQ(big.size, 4096);
    // A coarser level's texture vertices are the first of the finer
    // level's, the same lines; every level's mtl names the finest's maps.
    TempDir lod;
    runIn(lod, {"--seed", "7", "--style", "slab", "--detail", "3", "--lod", "--textures", "256", "--format", "obj",
                "--quiet"});
    const auto vtLines = [&](const std::string& name) {
        std::istringstream in(readFile(lod.file(name)));
        std::string lines;
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("vt ")) lines += line + "\n";
        }
        return lines;
    };
    const std::string finest = vtLines("ROCK0_LOD0.obj");
    for (int k = 1; k <= 3; ++k) {
        const std::string coarser = vtLines("ROCK0_LOD" + std::to_string(k) + ".obj");
        EXPECT_FALSE(coarser.empty());
        EXPECT_TRUE(finest.starts_with(coarser)) << k;
        EXPECT_NE(readFile(lod.file("ROCK0_LOD" + std::to_string(k) + ".mtl")).find("map_Kd ROCK0_LOD0_basecolor.png"),
                  std::string::npos);
        EXPECT_FALSE(fileExists(lod.file("ROCK0_LOD" + std::to_string(k) + "_basecolor.png")));
    }
}

// The finest level's smooth normal under a point of a written face of
// detail low: the face's own faces at the finest level, found by halving
// the point's weights as the levels split faces (the files list a face's
// four children in turn, corners counter-clockwise: level order a, c, b).
struct FineRock {
    PlyMesh mesh;
    int depth;
    // The finest face under the point, and the point's weights over its
    // corners in level order.
    std::pair<std::array<std::uint32_t, 3>, std::array<double, 3>> faceAt(std::size_t face, std::array<double, 3> w) const {
        // w over the written face's corners as stored (a, c, b): to level
        // order (a, b, c).
        std::array<double, 3> b = {w[0], w[2], w[1]};
        std::size_t f = face;
        for (int d = 0; d < depth; ++d) {
            std::size_t child;
            if (b[0] >= 0.5) {
                child = 0;
                // (a, ab, ca)
                b = {2 * b[0] - 1, 2 * b[1], 2 * b[2]};
            } else if (b[1] >= 0.5) {
                child = 1;
                // (ab, b, bc)
                b = {2 * b[0], 2 * b[1] - 1, 2 * b[2]};
            } else if (b[2] >= 0.5) {
                child = 2;
                // (ca, bc, c)
                b = {2 * b[0], 2 * b[1], 2 * b[2] - 1};
            } else {
                child = 3;
                // (ab, bc, ca)
                b = {1 - 2 * b[2], 1 - 2 * b[0], 1 - 2 * b[1]};
            }
            f = 4 * f + child;
        }
        const auto& stored = mesh.faces[f];
        return {{stored[0], stored[2], stored[1]}, b};
    }
    // Y-up, as the glb holds it.
    template <typename Vectors>
    V3 interpolated(const Vectors& of, std::size_t face, const std::array<double, 3>& w) const {
        const auto [corners, b] = faceAt(face, w);
        V3 sum = {0, 0, 0};
        for (std::size_t k = 0; k < 3; ++k) {
            const auto& v = of[corners[k]];
            sum = sum + V3{v[0], v[2], -v[1]} * b[k];
        }
        return sum;
    }
    V3 normalAt(std::size_t face, const std::array<double, 3>& w) const { return unit3(interpolated(mesh.normals, face, w)); }
    V3 pointAt(std::size_t face, const std::array<double, 3>& w) const { return interpolated(mesh.positions, face, w); }
};

// Every covered texel of a low rock's maps: its written face, its weights
// there, and the texel.
template <typename Visit>
void eachTexel(const GlbRockFile& low, int size, Visit visit) {
    for (std::size_t f = 0; f < low.triangles.size(); ++f) {
        std::array<std::array<double, 2>, 3> t{};
        for (std::size_t k = 0; k < 3; ++k) t[k] = {low.uv[low.triangles[f][k]][0] * size, low.uv[low.triangles[f][k]][1] * size};
        rasterise(t, size, [&](int x, int y, const std::array<double, 3>& w) { visit(f, w, x, y); });
    }
}


TEST(Textures, TheNormalMapShadesTheLowRockAsTheFinestInEveryStyle) {
    for (const char* style : kStyles) {
        SCOPED_TRACE(style);
        TempDir dir;
        runIn(dir, {"--seed", "11", "--style", style, "--detail", "2", "--shading", "smooth", "--textures", "1024",
                    "--format", "glb", "--quiet"});
        TempDir fineDir;
        runIn(fineDir, {"--seed", "11", "--style", style, "--detail", "6", "--shading", "smooth", "--format", "ply",
                        "--quiet"});
        const GlbRockFile low = readGlbRock(readFile(dir.file("ROCK0.glb")));
        const FineRock fine{readPly(readFile(fineDir.file("ROCK0.ply"))), 4};
        ASSERT_EQ(low.images.size(), 3u);
        ASSERT_EQ(low.tangents.size(), low.positions.size());
        const Image& map = low.images[1];
        std::vector<double> angles;
        eachTexel(low, map.size, [&](std::size_t f, const std::array<double, 3>& w, int x, int y) {
            V3 n = {0, 0, 0}, t = {0, 0, 0};
            for (std::size_t k = 0; k < 3; ++k) {
                const std::uint32_t v = low.triangles[f][k];
                n = n + low.normals[v] * w[k];
                t = t + V3{low.tangents[v][0], low.tangents[v][1], low.tangents[v][2]} * w[k];
            }
            n = unit3(n);
            t = unit3(t - n * dot3(n, t));
            const V3 b = cross3(n, t) * low.tangents[low.triangles[f][0]][3];
            const auto texel = map.at(x, y);
            const V3 decoded = unit3(t * (2 * texel[0] - 1) + b * (2 * texel[1] - 1) + n * (2 * texel[2] - 1));
            const double c = std::clamp(dot3(decoded, fine.normalAt(f, w)), -1.0, 1.0);
            angles.push_back(std::acos(c) * 180 / M_PI);
        });
        ASSERT_GT(angles.size(), 100000u);
        const double median = percentile(angles, 0.5), p95 = percentile(angles, 0.95);
        std::printf("%s: normal map against the finest normals, median %.2f, 95th percentile %.2f degrees\n", style,
                    median, p95);
        EXPECT_LE(median, 3.0);
        EXPECT_LE(p95, 10.0);
    }
}

// Ambient occlusion by rays: the share of directions over a point (cosine
// weighted) that leave without meeting the surface within reach, cast at
// the finest level through a grid of its triangles. The directions are
// stratified, 48 by 48: most of a rock is open to all but a few hundredths
// of its sky, and 128 random rays a point could not rank two such points
// (two such estimates of the same points agreed in rank at 0.4 to 0.7).
class RayCaster {
public:
    explicit RayCaster(const PlyMesh& mesh) {
        for (const auto& p : mesh.positions) points_.push_back({p[0], p[2], -p[1]});
        faces_ = mesh.faces;
        low_ = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
        V3 high = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        for (const V3& p : points_) {
            for (std::size_t k = 0; k < 3; ++k) {
                low_[k] = std::min(low_[k], p[k]);
                high[k] = std::max(high[k], p[k]);
            }
        }
        cell_ = std::max({high[0] - low_[0], high[1] - low_[1], high[2] - low_[2]}) / kCells;
        cells_.resize(kCells * kCells * kCells);
        for (std::size_t f = 0; f < faces_.size(); ++f) {
            std::array<int, 3> from{}, to{};
            for (std::size_t k = 0; k < 3; ++k) {
                double a = HUGE_VAL, b = -HUGE_VAL;
                for (const std::uint32_t v : faces_[f]) {
                    a = std::min(a, points_[v][k]);
                    b = std::max(b, points_[v][k]);
                }
                from[k] = cellOf(a, k);
                to[k] = cellOf(b, k);
            }
            for (int x = from[0]; x <= to[0]; ++x) {
                for (int y = from[1]; y <= to[1]; ++y) {
                    for (int z = from[2]; z <= to[2]; ++z) cells_[index(x, y, z)].push_back(static_cast<std::uint32_t>(f));
                }
            }
        }
    }
    double openness(const V3& p, const V3& n, std::mt19937& random) const {
        constexpr int kSide = 48, kRays = kSide * kSide;
        const V3 other = std::abs(n[0]) < 0.9 ? V3{1, 0, 0} : V3{0, 1, 0};
        const V3 e1 = unit3(cross3(n, other)), e2 = cross3(n, e1);
        std::uniform_real_distribution<double> u(0, 1);
        int open = 0;
        for (int i = 0; i < kSide; ++i) {
            for (int j = 0; j < kSide; ++j) {
                const double a = (i + u(random)) / kSide, phi = 2 * M_PI * (j + u(random)) / kSide;
                const double s = std::sqrt(a);
                open += !hits(p, e1 * (s * std::cos(phi)) + e2 * (s * std::sin(phi)) + n * std::sqrt(1 - a));
            }
        }
        return static_cast<double>(open) / kRays;
    }

private:
    static constexpr int kCells = 96;
    int cellOf(double v, std::size_t k) const { return std::clamp(static_cast<int>((v - low_[k]) / cell_), 0, kCells - 1); }
    std::size_t index(int x, int y, int z) const { return (static_cast<std::size_t>(x) * kCells + static_cast<std::size_t>(y)) * kCells + static_cast<std::size_t>(z); }
    // Steps of half a cell along the ray, the triangles of each cell met.
    bool hits(const V3& p, const V3& d) const {
        constexpr double kReach = 0.5, kSkip = 1e-4;
        std::size_t last = SIZE_MAX;
        for (double t = 0; t <= kReach; t += cell_ / 2) {
            const V3 q = p + d * t;
            const std::size_t c = index(cellOf(q[0], 0), cellOf(q[1], 1), cellOf(q[2], 2));
            if (c == last) continue;
            last = c;
            for (const std::uint32_t f : cells_[c]) {
                const V3 v0 = points_[faces_[f][0]], v1 = points_[faces_[f][1]], v2 = points_[faces_[f][2]];
                const V3 edge1 = v1 - v0, edge2 = v2 - v0, h = cross3(d, edge2);
                const double det = dot3(edge1, h);
                if (std::abs(det) < 1e-15) continue;
                const V3 s0 = p - v0;
                const double bu = dot3(s0, h) / det;
                if (bu < 0 || bu > 1) continue;
                const V3 q2 = cross3(s0, edge1);
                const double bv = dot3(d, q2) / det;
                if (bv < 0 || bu + bv > 1) continue;
                const double hit = dot3(edge2, q2) / det;
                if (hit > kSkip && hit < kReach) return true;
            }
        }
        return false;
    }
    std::vector<V3> points_;
    std::vector<std::array<std::uint32_t, 3>> faces_;
    V3 low_;
    double cell_ = 1;
    std::vector<std::vector<std::uint32_t>> cells_;
};

std::vector<double> ranks(const std::vector<double>& values) {
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    std::vector<double> rank(values.size());
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i;
        while (j + 1 < order.size() && values[order[j + 1]] == values[order[i]]) ++j;
        for (std::size_t k = i; k <= j; ++k) rank[order[k]] = (static_cast<double>(i) + static_cast<double>(j)) / 2;
        i = j + 1;
    }
    return rank;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const double ma = std::accumulate(a.begin(), a.end(), 0.0) / static_cast<double>(a.size());
    const double mb = std::accumulate(b.begin(), b.end(), 0.0) / static_cast<double>(b.size());
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

TEST(Textures, OcclusionIsDarkInHollowsAndCreasesAsRaysFindThem) {
    for (const char* seed : {"12", "40"}) {
        for (const char* style : {"boulder", "slab", "rubble"}) {
            SCOPED_TRACE(std::string(style) + " seed " + seed);
            TempDir dir, fineDir;
            runIn(dir, {"--seed", seed, "--style", style, "--spike", "9", "--detail", "2", "--shading", "smooth",
                        "--textures", "256", "--format", "glb", "--quiet"});
            runIn(fineDir, {"--seed", seed, "--style", style, "--spike", "9", "--detail", "6", "--shading", "smooth",
                            "--format", "ply", "--quiet"});
            const GlbRockFile low = readGlbRock(readFile(dir.file("ROCK0.glb")));
            const PlyMesh finest = readPly(readFile(fineDir.file("ROCK0.ply")));
            const FineRock fine{finest, 4};
            const RayCaster rays(finest);
            const Image& orm = low.images[2];
            std::vector<double> baked, cast, again;
            std::mt19937 random(5);
            std::uniform_real_distribution<double> pick(0, 1);
            eachTexel(low, orm.size, [&](std::size_t f, const std::array<double, 3>& w, int x, int y) {
                if (pick(random) > 0.02) return;
                const V3 n = fine.normalAt(f, w), from = fine.pointAt(f, w) + n * 0.0005;
                baked.push_back(orm.at(x, y)[0]);
                cast.push_back(rays.openness(from, n, random));
                again.push_back(rays.openness(from, n, random));
            });
            ASSERT_GT(baked.size(), 300u);
            // The rays rank the points alike when cast again: the estimate
            // is fine enough to rank the map by.
            const double steady = correlation(ranks(cast), ranks(again));
            EXPECT_GE(steady, 0.9);
            const double rho = correlation(ranks(baked), ranks(cast));
            EXPECT_GE(rho, 0.6);
            // The most shut fifth of the points, as the rays find them, is
            // darker in the map than the most open fifth.
            std::vector<std::size_t> order(cast.size());
            std::iota(order.begin(), order.end(), 0u);
            std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return cast[a] < cast[b]; });
            const std::size_t fifth = order.size() / 5;
            double shut = 0, open = 0;
            for (std::size_t i = 0; i < fifth; ++i) {
                shut += baked[order[i]] / static_cast<double>(fifth);
                open += baked[order[order.size() - 1 - i]] / static_cast<double>(fifth);
            }
            std::printf("%s, seed %s: rank correlation %.3f (the rays with themselves %.3f); occlusion in the most shut fifth %.3f, the most open %.3f\n",
                        style, seed, rho, steady, shut, open);
            EXPECT_LT(shut, open - 0.1);
        }
    }
}

TEST(Textures, TheColourMapIsTheStylesStoneOnAverage) {
    // Linear means of the style colours in the table, from their sRGB bytes.
    const struct {
        const char* style;
        std::array<int, 3> bytes;
    } styles[] = {{"classic", {210, 164, 133}}, {"boulder", {146, 142, 136}}, {"slab", {181, 150, 112}},
                  {"shard", {112, 114, 120}}};
    const auto linear = [](double s) { return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4); };
    for (const auto& [style, bytes] : styles) {
        SCOPED_TRACE(style);
        TempDir dir;
        runIn(dir, {"--seed", "13", "--style", style, "--detail", "3", "--textures", "512", "--shading", "smooth",
                    "--format", "glb", "--quiet"});
        const GlbRockFile rock = readGlbRock(readFile(dir.file("ROCK0.glb")));
        const Image& colour = rock.images[0];
        std::array<double, 3> sum{};
        double spread = 0;
        long long count = 0;
        std::vector<double> reds;
        eachTexel(rock, colour.size, [&](std::size_t, const std::array<double, 3>&, int x, int y) {
            const auto c = colour.at(x, y);
            for (std::size_t k = 0; k < 3; ++k) sum[k] += linear(c[k]);
            reds.push_back(c[0]);
            ++count;
        });
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(sum[k] / static_cast<double>(count), linear(bytes[k] / 255.0), 0.1 * linear(bytes[k] / 255.0)) << k;
        }
        // Not one flat colour: mottled and speckled.
        spread = percentile(reds, 0.95) - percentile(reds, 0.05);
        EXPECT_GE(spread, 0.04);
    }
}

TEST(Textures, SameBytesEveryRunAndNothingWrittenWhereAFormatCannotHoldMaps) {
    TempDir once, again;
    const std::vector<std::string> args = {"--seed", "14", "--count", "3", "--style", "pebble", "--detail", "2",
                                           "--shading", "auto", "--lod", "--textures", "256", "--format", "glb,obj,ply",
                                           "--quiet"};
    runIn(once, args);
    runIn(again, args);
    ASSERT_EQ(filesIn(once), filesIn(again));
    EXPECT_EQ(filesIn(once).size(), 3u * 3u * (1 + 2 + 1) + 3u * 3u);
    for (const std::string& name : filesIn(once)) EXPECT_EQ(readFile(once.file(name)), readFile(again.file(name))) << name;
    // Packed: the maps of each rock beside the pack, the pack's rocks as
    // the rocks of their own files (the same maps, the same texture
    // coordinates).
    TempDir packed, single;
    const std::vector<std::string> rocks = {"--seed", "15", "--count", "3", "--style", "slab", "--detail", "2",
                                            "--shading", "smooth", "--textures", "128", "--format", "obj", "--quiet"};
    runIn(single, rocks);
    std::vector<std::string> pack = rocks;
    pack.push_back("--pack");
    runIn(packed, pack);
    TempDir packedAgain;
    runIn(packedAgain, pack);
    EXPECT_EQ(filesIn(packed), filesIn(packedAgain));
    for (const std::string& name : filesIn(packed)) EXPECT_EQ(readFile(packed.file(name)), readFile(packedAgain.file(name))) << name;
    const std::string library = readFile(packed.file("ROCK.mtl"));
    for (int n = 0; n < 3; ++n) {
        const std::string rock = "ROCK" + std::to_string(n);
        EXPECT_NE(library.find("newmtl " + rock + "\n"), std::string::npos) << rock;
        EXPECT_NE(library.find("map_Kd " + rock + "_basecolor.png\n"), std::string::npos) << rock;
        for (const char* role : {"_basecolor.png", "_normal.png", "_orm.png"}) {
            EXPECT_EQ(readFile(packed.file(rock + role)), readFile(single.file(rock + role))) << rock << role;
        }
    }
    for (const char* formats : {"cob", "ply,stl", "stl"}) {
        TempDir none;
        const CommandResult run = runTavimor({"--textures", "256", "--format", formats}, none.path());
        EXPECT_EQ(run.status, 2) << formats;
        EXPECT_TRUE(filesIn(none).empty()) << formats;
    }
}

}  // namespace
}  // namespace tavimor::e2e
