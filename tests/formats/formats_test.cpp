// The byte layouts of the formats beside COB, made as a run makes them:
// through each format's writer. Whether real readers take the files is
// checked with assimp and the Khronos validator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "formats/cob_file.h"
#include "formats/glb_file.h"
#include "formats/obj_file.h"
#include "formats/ply_file.h"
#include "formats/stl_file.h"
#include "geometry/convex_hull.h"
#include "geometry/detailed_rock.h"
#include "geometry/normals.h"
#include "geometry/style.h"

namespace tavimor {
namespace {

const LevelMesh& levelZero() {
    static const DetailLevels levels = buildDetailLevels(0);
    return levels.levels[0];
}

// A rock as a run hands it to a writer: its positions, normals where it
// has them, its level's texture coordinates and the classic material.
struct TestRock {
    const LevelMesh* level;
    std::vector<Position> positions;
    std::vector<Position> normals = {};
    int number = 0;
    TextureCoordinates textures = levelTextures(*level);
    const Material* material = &kClassic.kind().material;
    const CollisionHull* hull = nullptr;
    RockMesh mesh() const {
        return RockMesh{.positions = positions,
                        .normals = normals,
                        .textures = std::span(&textures, 1),
                        .material = material,
                        .name = "Rock" + std::to_string(number),
                        .number = number,
                        .hull = hull};
    }
};

TestRock rockOf(std::uint32_t seed, int spike, int number = 0) {
    Lcg generator{seed};
    const Rock rock = makeRock(generator, spike);
    return {&levelZero(), {rock.positions.begin(), rock.positions.end()}, {}, number};
}

// A rock's files as its format's writer makes them for a run of that
// shading; none where the format cannot hold it.
std::vector<FormatFile> filesOf(const Format& format, const TestRock& rock, Shading shading = Shading::Flat) {
    std::vector<FormatFile> files;
    const bool made = format.writerFor(*rock.level, {shading})->rockFiles(rock.mesh(), "R", files);
    return made ? files : std::vector<FormatFile>{};
}

std::string fileOf(const Format& format, const TestRock& rock, Shading shading = Shading::Flat) {
    const std::vector<FormatFile> files = filesOf(format, rock, shading);
    return files.empty() ? std::string() : files[0].bytes;
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
        const std::string stl = fileOf(stlFormat(), rockOf(11, spike, 3));
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
    for (const bool smooth : {false, true}) {
        TestRock made = rockOf(2, 4, 7);
        if (smooth) made.normals.assign(75, Position{0, 0, 1});
        const std::string ply = fileOf(plyFormat(), made, smooth ? Shading::Smooth : Shading::Flat);
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
            EXPECT_EQ(floatAt(ply, at + 3), static_cast<float>(made.positions[v].x));
        }
        for (std::size_t f = 0, at = header.size() + 75 * stride; f < 146; ++f, at += 13) {
            EXPECT_EQ(ply[at], 3);
            for (std::size_t k = 0; k < 3; ++k) EXPECT_LT(u32At(ply, at + 1 + 4 * k), 75u);
        }
    }
}

TEST(Obj, LinesCountsMaterialAndNoNegativeZero) {
    // Spike 0 keeps the base shape's zeros; Y-up turns y = 0 into z = -0.
    const std::vector<FormatFile> files = filesOf(objFormat(), rockOf(1, 0, 12));
    ASSERT_EQ(files.size(), 2u);
    const std::string& obj = files[0].bytes;
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
    EXPECT_NE(obj.find("mtllib R.mtl\no Rock12\n"), std::string::npos);
    EXPECT_NE(obj.find("\nusemtl rock\n"), std::string::npos);
    EXPECT_EQ(files[1].suffix, ".mtl");
    EXPECT_NE(files[1].bytes.find("newmtl rock\n"), std::string::npos);
    EXPECT_NE(files[1].bytes.find("\nKd 0.8235294 0.6431373 0.5215687\n"), std::string::npos);
}

TEST(Glb, NormalsAndWideIndicesWhereTheyAreNeeded) {
    // Detail 5 has more vertices than two-byte indices can count.
    for (const int detail : {1, 5}) {
        const DetailLevels levels = buildDetailLevels(detail);
        Lcg generator{3};
        TestRock rock{&levels.levels.back(), makeDetailedRock(generator, 9, {}, levels, {3, 0})};
        smoothNormals(levels.levels.back(), rock.positions, rock.normals);
        const std::string glb = fileOf(glbFormat(), rock, Shading::Smooth);
        ASSERT_FALSE(glb.empty());
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
    const std::string glb = fileOf(glbFormat(), rockOf(5, 9));
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
    EXPECT_EQ(fileOf(glbFormat(), rockOf(5, 9)), glb) << "the same rock must give the same bytes";
}

TEST(Glb, APackPastFourGibibytesIsRefusedWithNothingWritten) {
    const std::unique_ptr<LevelWriter> writer = glbFormat().writerFor(levelZero(), {});
    std::string written;
    // Two million rocks of 91 vertices each.
    const PackContents pack{"R", 2000000, [](std::uint64_t) { return PackedRock{.name = "R", .texturedVertices = 91}; },
                            false, &kClassic.kind().material};
    EXPECT_FALSE(writer->packWriter(pack, glbFormat().files().pack[0])->writeHead([&](std::string_view bytes) {
        written.append(bytes);
    }));
    EXPECT_TRUE(written.empty());
    EXPECT_FALSE(glbFormat().tooLarge().empty());
}

// Numbers in the JSON: the shortest digits that read back, laid out as the
// files have always had them.
TEST(Glb, NumbersAreSpelledShortestInTheFilesLayout) {
    const struct {
        double value;
        std::string_view text;
    } cases[] = {{0.0, "0.0"},
                 {-0.0, "-0.0"},
                 {1.0, "1.0"},
                 {-2.0, "-2.0"},
                 {0.5, "0.5"},
                 {146 / 255.0, "0.5725490196078431"},
                 {static_cast<double>(0.1f), "0.10000000149011612"},
                 // A tie at the seventeenth digit goes to the even one.
                 {static_cast<double>(1.4309768676757812f), "1.4309768676757812"},
                 {123456789012345.0, "123456789012345.0"},
                 {1e15, "1e+15"},
                 {1.5e300, "1.5e+300"},
                 {0.0001, "0.0001"},
                 {0.00012, "0.00012"},
                 {1e-5, "1e-05"},
                 {-2.5e-7, "-2.5e-07"},
                 {4.9406564584124654e-324, "5e-324"},
                 {1.7976931348623157e308, "1.7976931348623157e+308"}};
    for (const auto& c : cases) {
        char text[32];
        EXPECT_EQ(std::string_view(text, spellJsonNumber(c.value, text)), c.text) << c.value;
    }
}

// Every format describes its files once; what its writer makes for a rock,
// with and without a hull, is what the description says, in its order.
TEST(Formats, WritersMakeTheFilesTheirDescriptionsList) {
    TestRock rock = rockOf(4, 6);
    const CollisionHull hull = collisionHull(rock.positions, rock.positions).value();
    for (const Format* format : allFormats()) {
        for (const bool hulls : {false, true}) {
            SCOPED_TRACE(std::string(format->name()) + (hulls ? " with a hull" : ""));
            if (hulls && !format->refusals().collision.empty()) continue;
            rock.hull = hulls ? &hull : nullptr;
            const std::vector<FormatFile> files = filesOf(*format, rock);
            const std::vector<FileKind> kinds = filesMade(format->files().rock, {.hulls = hulls});
            ASSERT_EQ(files.size(), kinds.size());
            for (std::size_t i = 0; i < files.size(); ++i) {
                EXPECT_EQ(files[i].suffix, kinds[i].suffix);
                EXPECT_EQ(files[i].role, kinds[i].role);
                EXPECT_FALSE(files[i].bytes.empty());
            }
            EXPECT_EQ(files[0].suffix, format->extension());
        }
    }
}

// A writer keeps what the level's own texture coordinates make; a rock
// with texture coordinates of its own writes those, and a copy of the
// level's writes the very bytes the kept text does.
TEST(Formats, TextureCoordinatesAndTheMaterialAreWhatTheRockIsGiven) {
    const DetailLevels levels = buildDetailLevels(1);
    Lcg generator{8};
    TestRock rock{&levels.levels.back(), makeDetailedRock(generator, 7, {}, levels, {8, 0})};
    const LevelMesh& level = levels.levels.back();
    const std::vector<TextureVertex> copied = level.textureVertices;
    const std::vector<std::array<int, 3>> corners = level.faceTextures;
    const std::vector<int> owners = level.textureOwners;
    std::vector<TextureVertex> moved = copied;
    for (TextureVertex& t : moved) t = {t.u * 0.5, t.v * 0.25};
    for (const Format* format : {&objFormat(), &glbFormat(), &plyFormat()}) {
        SCOPED_TRACE(format->name());
        const std::string own = fileOf(*format, rock);
        TestRock copy = rock;
        copy.textures = {copied, corners, owners};
        EXPECT_EQ(fileOf(*format, copy), own);
        copy.textures.vertices = moved;
        EXPECT_EQ(fileOf(*format, copy) == own, format == &plyFormat()) << "PLY holds no texture coordinates";
    }
    // COB, at detail 0, as the dialogue writes it and from what it is given.
    const TestRock classic = rockOf(9, 5);
    const std::string cob = fileOf(cobFormat(), classic);
    EXPECT_EQ(cob, cobFile(classic.positions, 0));
    TestRock copy = classic;
    const std::vector<TextureVertex> base(kTextureVertices.begin(), kTextureVertices.end());
    copy.textures.vertices = base;
    EXPECT_EQ(fileOf(cobFormat(), copy), cob);
    std::vector<TextureVertex> shifted = base;
    shifted[0] = {0.5, 0.25};
    copy.textures.vertices = shifted;
    const Material grey{.baseColour = {0.5, 0.25, 0.125}};
    copy.material = &grey;
    const std::string changed = fileOf(cobFormat(), copy);
    EXPECT_EQ(changed.size(), cob.size());
    EXPECT_NE(changed.find("Texture Vertices 93\r\n0.500000 0.250000\r\n"), std::string::npos);
    EXPECT_NE(changed.find("rgb 0.5000000,0.2500000,0.1250000\r\n"), std::string::npos);
    // The material's colour reaches every format that keeps one.
    TestRock coloured = rock;
    coloured.material = &grey;
    EXPECT_NE(filesOf(objFormat(), coloured)[1].bytes.find("\nKd 0.5 0.25 0.125\n"), std::string::npos);
    EXPECT_NE(fileOf(glbFormat(), coloured).find("\"baseColorFactor\":[0.5,0.25,0.125,1.0]"), std::string::npos);
    const std::string ply = fileOf(plyFormat(), coloured);
    EXPECT_EQ(static_cast<unsigned char>(ply[ply.find("end_header\n") + 11]), 128);
}

}  // namespace
}  // namespace tavimor
