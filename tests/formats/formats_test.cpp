// The byte layouts of the formats beside COB. Whether real
// readers take the files is checked with assimp and the Khronos validator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>
#include <string>

#include "formats/glb_file.h"
#include "formats/obj_file.h"
#include "formats/ply_file.h"
#include "formats/stl_file.h"
#include "geometry/detailed_rock.h"
#include "geometry/normals.h"

namespace tavimor {
namespace {

const LevelMesh& levelZero() {
    static const DetailLevels levels = buildDetailLevels(0);
    return levels.levels[0];
}

// A rock of detail 0, flat, as a file of its own names it. The mesh is
// asked for where the rock stays: it points into the rock.
struct TestRock {
    Rock rock;
    int number;
    RockMesh mesh() const { return RockMesh{rock.positions, {}, "Rock" + std::to_string(number), number}; }
};

TestRock rockOf(std::uint32_t seed, int spike, int number = 0) {
    Lcg generator{seed};
    return {makeRock(generator, spike), number};
}

std::uint32_t u32At(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

float floatAt(const std::string& bytes, std::size_t at) {
    const std::uint32_t bits = u32At(bytes, at);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

TEST(Stl, LayoutAndNormalsThatAgreeWithTheWinding) {
    for (const int spike : {0, 9}) {
        const TestRock made = rockOf(11, spike, 3);
        const std::string stl = stlFile(levelZero(), made.mesh());
        ASSERT_EQ(stl.size(), 84u + 146u * 50u);
        EXPECT_FALSE(stl.starts_with("solid")) << "readers would take it for text";
        EXPECT_EQ(u32At(stl, 80), 146u);
        for (std::size_t f = 0; f < 146; ++f) {
            const std::size_t at = 84 + 50 * f;
            float v[12];
            for (int k = 0; k < 12; ++k) v[k] = floatAt(stl, at + 4 * static_cast<std::size_t>(k));
            const double n[3] = {v[0], v[1], v[2]};
            const double u[3] = {v[6] - v[3], v[7] - v[4], v[8] - v[5]};
            const double w[3] = {v[9] - v[3], v[10] - v[4], v[11] - v[5]};
            const double cross[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
            EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-6) << f;
            EXPECT_GT(n[0] * cross[0] + n[1] * cross[1] + n[2] * cross[2], 0.0) << f;
            EXPECT_EQ(stl[at + 48], 0);
            EXPECT_EQ(stl[at + 49], 0);
        }
    }
}

TEST(Ply, HeaderSizeAndTheFirstDataByteForFlatAndSmooth) {
    const TestRock made = rockOf(2, 4, 7);
    const std::vector<Position> normals(75, Position{0, 0, 1});
    for (const bool smooth : {false, true}) {
        RockMesh mesh = made.mesh();
        if (smooth) mesh.normals = normals;
        const std::string ply = plyFile(levelZero(), mesh);
        const std::string header = std::string(
                                       "ply\nformat binary_little_endian 1.0\ncomment made by tavimor\nobj_info Rock7\n"
                                       "element vertex 75\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
                                       "property float x\nproperty float y\nproperty float z\n") +
                                   (smooth ? "property float nx\nproperty float ny\nproperty float nz\n" : "") +
                                   "element face 146\nproperty list uchar int vertex_indices\nend_header\n";
        ASSERT_TRUE(ply.starts_with(header));
        const std::size_t stride = smooth ? 27 : 15;
        EXPECT_EQ(ply.size(), header.size() + 75 * stride + 146 * 13);
        // The data begins with the colour's red, never a line end a reader
        // could swallow with the header's.
        EXPECT_EQ(static_cast<unsigned char>(ply[header.size()]), 210);
        for (std::size_t v = 0, at = header.size(); v < 75; ++v, at += stride) {
            EXPECT_EQ(floatAt(ply, at + 3), static_cast<float>(made.rock.positions[v].x));
        }
        for (std::size_t f = 0, at = header.size() + 75 * stride; f < 146; ++f, at += 13) {
            EXPECT_EQ(ply[at], 3);
            for (std::size_t k = 0; k < 3; ++k) EXPECT_LT(u32At(ply, at + 1 + 4 * k), 75u);
        }
    }
}

TEST(Obj, LinesCountsAndNoNegativeZero) {
    // Spike 0 keeps the base shape's zeros; Y-up turns y = 0 into z = -0.
    const TestRock made = rockOf(1, 0, 12);
    const std::string obj = objFile(levelZero(), made.mesh(), "R12.mtl");
    std::istringstream in(obj);
    int v = 0, vt = 0, f = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind, word;
        words >> kind;
        v += kind == "v";
        vt += kind == "vt";
        f += kind == "f";
        while (words >> word) EXPECT_NE(word, "-0") << line;
    }
    EXPECT_EQ(v, 75);
    EXPECT_EQ(vt, 93);
    EXPECT_EQ(f, 146);
    EXPECT_NE(obj.find("mtllib R12.mtl\no Rock12\n"), std::string::npos);
    EXPECT_NE(obj.find("\nusemtl rock\n"), std::string::npos);
    EXPECT_NE(mtlFile().find("newmtl rock\n"), std::string::npos);
    EXPECT_NE(mtlFile().find("\nKd 0.8235294 0.6431373 0.5215687\n"), std::string::npos);
}

TEST(Glb, NormalsAndWideIndicesWhereTheyAreNeeded) {
    // Detail 5 has more vertices than two-byte indices can count.
    for (const int detail : {1, 5}) {
        const DetailLevels levels = buildDetailLevels(detail);
        Lcg generator{3};
        const std::vector<Position> positions = makeDetailedRock(generator, 9, {}, levels, {3, 0});
        std::vector<Position> normals;
        smoothNormals(levels.levels.back(), positions, normals);
        const std::optional<std::string> made = glbFile(levels.levels.back(), RockMesh{positions, normals, "Rock0"});
        ASSERT_TRUE(made);
        const std::string& glb = *made;
        const std::uint32_t jsonLength = u32At(glb, 12);
        const std::string json = glb.substr(20, jsonLength);
        EXPECT_NE(json.find("\"NORMAL\""), std::string::npos);
        // 5125 is UNSIGNED_INT, 5123 UNSIGNED_SHORT.
        EXPECT_NE(json.find(detail == 5 ? "\"componentType\":5125" : "\"componentType\":5123"), std::string::npos);
        std::size_t vertices = 0;
        for (const int owner : levels.levels.back().textureOwners) vertices += owner >= 0;
        EXPECT_EQ(detail == 5, vertices > 65535);
        const std::size_t indexBytes = levels.levels.back().faces.size() * 3 * (detail == 5 ? 4 : 2);
        EXPECT_EQ(u32At(glb, 20 + jsonLength), (vertices * 32 + indexBytes + 3) / 4 * 4);
        EXPECT_EQ(u32At(glb, 8), glb.size());
    }
}

TEST(Glb, ContainerHeaderAndChunks) {
    const TestRock made = rockOf(5, 9);
    const std::optional<std::string> file = glbFile(levelZero(), made.mesh());
    ASSERT_TRUE(file);
    const std::string& glb = *file;
    ASSERT_GE(glb.size(), 28u);
    EXPECT_EQ(glb.substr(0, 4), "glTF");
    EXPECT_EQ(u32At(glb, 4), 2u);
    EXPECT_EQ(u32At(glb, 8), glb.size());
    const std::uint32_t jsonLength = u32At(glb, 12);
    EXPECT_EQ(glb.substr(16, 4), "JSON");
    EXPECT_EQ(jsonLength % 4, 0u);
    const std::size_t bin = 20 + jsonLength;
    EXPECT_EQ(glb.substr(bin + 4, 4), std::string("BIN\0", 4));
    // 91 vertices of 12 + 8 bytes, then 438 two-byte indices.
    EXPECT_EQ(u32At(glb, bin), 91u * 20u + 438u * 2u);
    EXPECT_EQ(bin + 8 + u32At(glb, bin), glb.size());
    EXPECT_EQ(glbFile(levelZero(), rockOf(5, 9).mesh()), glb) << "the same rock must give the same bytes";
}

TEST(Glb, APackPastFourGibibytesIsRefusedWithNothingWritten) {
    const std::unique_ptr<LevelWriter> writer = glbFormat().writerFor(levelZero(), {});
    std::string written;
    const PackContents pack{"R", 2000000, [](std::uint64_t) { return PackedRock{"R", {}, {}}; }};
    EXPECT_FALSE(writer->packWriter(pack, 0)->writeHead([&](std::string_view bytes) { written.append(bytes); }));
    EXPECT_TRUE(written.empty());
    EXPECT_FALSE(glbFormat().tooLarge().empty());
}

}  // namespace
}  // namespace tavimor
