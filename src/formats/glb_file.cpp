#include "formats/glb_file.h"

#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <sstream>

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

constexpr int kArrayBuffer = 34962;         // vertex attributes
constexpr int kElementArrayBuffer = 34963;  // indices

// Two-byte indices while they fit (65535 stays free, as glTF asks).
bool shortIndices(std::uint64_t vertices) { return vertices <= 65535; }

std::uint64_t padded(std::uint64_t size) { return (size + 3) / 4 * 4; }

// The bytes of floats as glTF stores them, little-endian.
static_assert(std::endian::native == std::endian::little, "glTF's floats are copied as the machine holds them");

// Where each part of a rock's block starts, from the block's start.
struct BlockLayout {
    std::uint64_t vertices, indices;
    std::uint64_t positions = 0, normals, texcoords, indexBytes, size;
};

BlockLayout layoutOf(std::uint64_t vertices, std::uint64_t faces, bool normals) {
    BlockLayout b;
    b.vertices = vertices;
    b.indices = faces * 3;
    b.normals = b.positions + b.vertices * 12;
    b.texcoords = b.normals + (normals ? b.vertices * 12 : 0);
    b.indexBytes = b.texcoords + b.vertices * 8;
    b.size = padded(b.indexBytes + b.indices * (shortIndices(vertices) ? 2 : 4));
    return b;
}

BlockLayout layoutOf(const FormatLevel& level, bool normals) {
    return layoutOf(level.glbOwners.size(), level.mesh->faces.size(), normals);
}

int addView(tinygltf::Model& model, std::uint64_t offset, std::uint64_t length, int target) {
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = static_cast<std::size_t>(offset);
    view.byteLength = static_cast<std::size_t>(length);
    view.target = target;
    model.bufferViews.push_back(view);
    return static_cast<int>(model.bufferViews.size() - 1);
}

int addAccessor(tinygltf::Model& model, int view, int componentType, std::uint64_t count, int type) {
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.componentType = componentType;
    accessor.count = static_cast<std::size_t>(count);
    accessor.type = type;
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size() - 1);
}

// The mesh and node of one rock, its block starting at start.
void addRock(tinygltf::Model& model, const GlbRock& rock, const BlockLayout& b, std::uint64_t start, bool normals,
             bool shortIndex) {
    tinygltf::Primitive primitive;
    const int positionView = addView(model, start + b.positions, b.vertices * 12, kArrayBuffer);
    const int position =
        addAccessor(model, positionView, TINYGLTF_COMPONENT_TYPE_FLOAT, b.vertices, TINYGLTF_TYPE_VEC3);
    model.accessors.back().minValues = {rock.low[0], rock.low[1], rock.low[2]};
    model.accessors.back().maxValues = {rock.high[0], rock.high[1], rock.high[2]};
    primitive.attributes["POSITION"] = position;
    if (normals) {
        const int normalView = addView(model, start + b.normals, b.vertices * 12, kArrayBuffer);
        primitive.attributes["NORMAL"] =
            addAccessor(model, normalView, TINYGLTF_COMPONENT_TYPE_FLOAT, b.vertices, TINYGLTF_TYPE_VEC3);
    }
    const int texcoordView = addView(model, start + b.texcoords, b.vertices * 8, kArrayBuffer);
    primitive.attributes["TEXCOORD_0"] =
        addAccessor(model, texcoordView, TINYGLTF_COMPONENT_TYPE_FLOAT, b.vertices, TINYGLTF_TYPE_VEC2);
    const int indexView =
        addView(model, start + b.indexBytes, b.indices * (shortIndex ? 2 : 4), kElementArrayBuffer);
    primitive.indices =
        addAccessor(model, indexView,
                    shortIndex ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                    b.indices, TINYGLTF_TYPE_SCALAR);
    primitive.material = 0;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    tinygltf::Mesh mesh;
    mesh.name = rock.name;
    mesh.primitives.push_back(primitive);
    model.meshes.push_back(mesh);

    tinygltf::Node node;
    node.name = rock.name;
    node.mesh = static_cast<int>(model.meshes.size() - 1);
    const Position& t = rock.translation;
    if (t.x != 0 || t.y != 0 || t.z != 0) node.translation = {t.x, t.y, t.z};
    model.nodes.push_back(node);
}

void putU32(std::string& out, std::uint32_t v) { ByteWriter(out, 4).u32(v); }

}  // namespace

GlbRock glbRockOf(const RockMesh& rock) {
    GlbRock entry;
    entry.name = rock.name;
    entry.translation = yUp(rock.offset);
    // Every position of a level belongs to a vertex. Rounding to single
    // precision keeps order, so the bounds of the doubles, rounded, are the
    // bounds of the floats stored.
    const auto count = static_cast<std::size_t>(rock.level->mesh->positionCount);
    const Extent extent = rock.extent != nullptr ? *rock.extent : extentOf(rock.positions.first(count));
    const Position& low = extent.low;
    const Position& high = extent.high;
    // Y-up: (x, y, z) is stored as (x, z, -y), so -y's bounds come from y's.
    entry.low = {static_cast<float>(low.x), static_cast<float>(low.z), static_cast<float>(-high.y + 0.0)};
    entry.high = {static_cast<float>(high.x), static_cast<float>(high.z), static_cast<float>(-low.y + 0.0)};
    return entry;
}


std::uint64_t glbBlockSize(const LevelCounts& counts, bool normals) {
    return layoutOf(counts.usedTextureVertices, counts.faces, normals).size;
}

namespace {

// The JSON of rocks whose blocks follow one after the other; empty if the
// library fails to write it.
std::string jsonOf(const FormatLevel& level, bool normals, std::span<const GlbRock> rocks) {
    const BlockLayout layout = layoutOf(level, normals);
    const bool shortIndex = shortIndices(layout.vertices);
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "tavimor";
    tinygltf::Material material;
    material.name = "rock";
    material.pbrMetallicRoughness.baseColorFactor = {kRockColour.red, kRockColour.green, kRockColour.blue, 1.0};
    // Stone is no metal, and matte.
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.pbrMetallicRoughness.roughnessFactor = 1.0;
    model.materials.push_back(material);
    tinygltf::Scene scene;
    for (std::size_t i = 0; i < rocks.size(); ++i) {
        addRock(model, rocks[i], layout, i * layout.size, normals, shortIndex);
        scene.nodes.push_back(static_cast<int>(i));
    }
    model.scenes.push_back(scene);
    model.defaultScene = 0;

    // tinygltf writes the JSON; the buffer's bytes never pass through it, so
    // that a file of many rocks can be written a rock at a time. The buffer
    // goes into the JSON here, where tinygltf itself puts it: its members
    // come in name order, "buffers" right before "materials".
    std::ostringstream text;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&model, text, false, false) || !text) return {};
    std::string content = text.str();
    // The text form ends with a line end; the binary form has none.
    while (!content.empty() && content.back() == '\n') content.pop_back();
    const std::size_t materials = content.find(",\"materials\":");
    if (materials == std::string::npos) return {};
    content.insert(materials, ",\"buffers\":[{\"byteLength\":" + std::to_string(layout.size * rocks.size()) + "}]");
    return content;
}

// The container: header, JSON chunk padded with blanks, and the head of the
// binary chunk. Empty if the file would pass glTF's 4 GiB.
std::string containerHead(std::string json, std::uint64_t binary) {
    if (json.empty()) return {};
    json.resize(padded(json.size()), ' ');
    const std::uint64_t total = 12 + 8 + json.size() + 8 + binary;
    if (total > std::numeric_limits<std::uint32_t>::max()) return {};
    std::string out = "glTF";
    putU32(out, 2);
    putU32(out, static_cast<std::uint32_t>(total));
    putU32(out, static_cast<std::uint32_t>(json.size()));
    out.append("JSON");
    out.append(json);
    putU32(out, static_cast<std::uint32_t>(binary));
    out.append("BIN", 4);
    return out;
}

// A file of one rock differs from the next only in its name and bounds. Its
// JSON is written by tinygltf once per level, with stand-ins that appear
// nowhere else (floats of six whole numbers, and a name no rock has), and
// each rock's values take their places, printed as tinygltf prints them.
constexpr std::string_view kStandInName = "\"@tavimor rock name@\"";
constexpr float kStandIns[6] = {8388601.0f, 8388602.0f, 8388603.0f, 8388604.0f, 8388605.0f, 8388606.0f};

std::string numberText(double value) { return nlohmann::json(value).dump(); }

std::vector<GlbJsonPiece> templateOf(const FormatLevel& level, bool normals) {
    GlbRock standIn;
    standIn.name = std::string(kStandInName.substr(1, kStandInName.size() - 2));
    standIn.low = {kStandIns[0], kStandIns[1], kStandIns[2]};
    standIn.high = {kStandIns[3], kStandIns[4], kStandIns[5]};
    const std::string json = jsonOf(level, normals, std::span<const GlbRock>(&standIn, 1));
    std::array<std::string, 7> standInTexts;
    for (std::size_t k = 0; k < 6; ++k) standInTexts[k] = numberText(kStandIns[k]);
    standInTexts[GlbJsonPiece::kGlbName] = kStandInName;
    // The pieces between the stand-ins, each stand-in as a piece of its own.
    std::vector<GlbJsonPiece> pieces;
    std::size_t from = 0;
    for (;;) {
        std::size_t next = std::string::npos;
        int value = GlbJsonPiece::kText;
        for (std::size_t k = 0; k < standInTexts.size(); ++k) {
            const std::size_t at = json.find(standInTexts[k], from);
            if (at < next) next = at, value = static_cast<int>(k);
        }
        if (next == std::string::npos) break;
        pieces.push_back({json.substr(from, next - from)});
        pieces.push_back({{}, value});
        from = next + standInTexts[static_cast<std::size_t>(value)].size();
    }
    pieces.push_back({json.substr(from)});
    return pieces;
}

// The JSON of one rock from the level's template.
std::string jsonFromTemplate(const std::vector<GlbJsonPiece>& pieces, const GlbRock& rock) {
    const float values[6] = {rock.low[0], rock.low[1], rock.low[2], rock.high[0], rock.high[1], rock.high[2]};
    std::string json;
    for (const GlbJsonPiece& piece : pieces) {
        if (piece.value == GlbJsonPiece::kText) {
            json += piece.text;
        } else if (piece.value == GlbJsonPiece::kGlbName) {
            json += nlohmann::json(rock.name).dump();
        } else {
            json += numberText(values[piece.value]);
        }
    }
    return json;
}

}  // namespace

std::string glbHead(const FormatLevel& level, bool normals, std::span<const GlbRock> rocks) {
    const std::uint64_t binary = layoutOf(level, normals).size * rocks.size();
    const std::vector<GlbJsonPiece>& pieces = normals ? level.glbSmoothJson : level.glbFlatJson;
    // One rock standing at the centre: its file of its own.
    const bool own = rocks.size() == 1 && !pieces.empty() && rocks[0].translation.x == 0 &&
                     rocks[0].translation.y == 0 && rocks[0].translation.z == 0;
    return containerHead(own ? jsonFromTemplate(pieces, rocks[0]) : jsonOf(level, normals, rocks), binary);
}

void prepareGlbLevel(FormatLevel& level) {
    const LevelMesh& mesh = *level.mesh;
    level.glbFlatJson.clear();
    level.glbSmoothJson.clear();
    std::vector<std::uint32_t> vertexOf(mesh.textureOwners.size());
    level.glbOwners.clear();
    level.glbTexcoords.clear();
    for (std::size_t t = 0; t < mesh.textureOwners.size(); ++t) {
        if (mesh.textureOwners[t] < 0) continue;
        vertexOf[t] = static_cast<std::uint32_t>(level.glbOwners.size());
        level.glbOwners.push_back(mesh.textureOwners[t]);
        // glTF puts the texture origin at the top left, the rock's tables at
        // the bottom left.
        ByteWriter put(level.glbTexcoords, 8);
        put.f32(mesh.textureVertices[t].u);
        put.f32(1.0 - mesh.textureVertices[t].v);
    }
    const bool shortIndex = shortIndices(level.glbOwners.size());
    level.glbIndices.clear();
    ByteWriter put(level.glbIndices, mesh.faceTextures.size() * 3 * (shortIndex ? 2 : 4));
    for (const auto& textures : mesh.faceTextures) {
        for (const int t : outwardCorners(textures)) {
            const std::uint32_t index = vertexOf[static_cast<std::size_t>(t)];
            if (shortIndex) {
                put.u16(static_cast<std::uint16_t>(index));
            } else {
                put.u32(index);
            }
        }
    }
    level.glbFlatJson = templateOf(level, false);
    level.glbSmoothJson = templateOf(level, true);
}

void appendGlbBlock(std::string& out, const RockMesh& rock) {
    const FormatLevel& level = *rock.level;
    const bool normals = !rock.normals.empty();
    const BlockLayout layout = layoutOf(level, normals);
    const std::size_t end = out.size() + static_cast<std::size_t>(layout.size);
    out.reserve(end);
    // A vertex attribute, gathered from the positions it belongs to, a few
    // hundred vertices at a time.
    const auto appendVectors = [&](std::span<const Position> from) {
        constexpr std::size_t kChunk = 256;
        std::array<float, 3 * kChunk> chunk;
        const std::vector<int>& owners = level.glbOwners;
        for (std::size_t first = 0; first < owners.size(); first += kChunk) {
            const std::size_t count = std::min(kChunk, owners.size() - first);
            for (std::size_t i = 0; i < count; ++i) {
                const Position p = yUp(from[static_cast<std::size_t>(owners[first + i])]);
                chunk[3 * i] = static_cast<float>(p.x);
                chunk[3 * i + 1] = static_cast<float>(p.y);
                chunk[3 * i + 2] = static_cast<float>(p.z);
            }
            out.append(reinterpret_cast<const char*>(chunk.data()), count * 12);
        }
    };
    appendVectors(rock.positions);
    if (normals) appendVectors(rock.normals);
    // The rest is the level's own: the same in every rock.
    out.append(level.glbTexcoords);
    out.append(level.glbIndices);
    out.resize(end, '\0');
}

std::string glbFile(const RockMesh& rock) {
    const GlbRock entry = glbRockOf(rock);
    const std::string head = glbHead(*rock.level, !rock.normals.empty(), std::span<const GlbRock>(&entry, 1));
    if (head.empty()) return head;
    std::string out;
    out.reserve(head.size() + static_cast<std::size_t>(layoutOf(*rock.level, !rock.normals.empty()).size));
    out.append(head);
    appendGlbBlock(out, rock);
    return out;
}

}  // namespace tavimor
