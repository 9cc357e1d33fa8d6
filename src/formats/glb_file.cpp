#include "formats/glb_file.h"

#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include <algorithm>
#include <sstream>

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

constexpr int kArrayBuffer = 34962;         // vertex attributes
constexpr int kElementArrayBuffer = 34963;  // indices

// The position each texture vertex belongs to; -1 for the two no face uses.
constexpr std::array<int, kTextureVertexCount> textureOwners() {
    std::array<int, kTextureVertexCount> owner{};
    owner.fill(-1);
    for (const Face& f : kFaces) {
        for (const Corner& c : f) owner[static_cast<std::size_t>(c.textureVertex)] = c.vertex;
    }
    return owner;
}
constexpr auto kTextureOwner = textureOwners();

int addView(tinygltf::Model& model, std::size_t offset, std::size_t length, int target) {
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = offset;
    view.byteLength = length;
    view.target = target;
    model.bufferViews.push_back(view);
    return static_cast<int>(model.bufferViews.size() - 1);
}

int addAccessor(tinygltf::Model& model, int view, int componentType, std::size_t count, int type) {
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.componentType = componentType;
    accessor.count = count;
    accessor.type = type;
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size() - 1);
}

}  // namespace

std::string glbFile(const Rock& rock, int rockNumber) {
    // One glTF vertex per texture vertex in use, in texture-vertex order.
    std::array<int, kTextureVertexCount> vertexOf{};
    std::string positions, texcoords, indices;
    std::array<float, 3> low{}, high{};
    std::size_t vertexCount = 0;
    for (int t = 0; t < kTextureVertexCount; ++t) {
        const int owner = kTextureOwner[static_cast<std::size_t>(t)];
        if (owner < 0) continue;
        vertexOf[static_cast<std::size_t>(t)] = static_cast<int>(vertexCount);
        const Position p = yUp(rock.positions[static_cast<std::size_t>(owner)]);
        const std::array<float, 3> f = {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
        for (std::size_t k = 0; k < 3; ++k) {
            low[k] = vertexCount == 0 ? f[k] : std::min(low[k], f[k]);
            high[k] = vertexCount == 0 ? f[k] : std::max(high[k], f[k]);
            appendFloat(positions, f[k]);
        }
        // glTF puts the texture origin at the top left, the rock's tables at
        // the bottom left.
        const TextureVertex& uv = kTextureVertices[static_cast<std::size_t>(t)];
        appendFloat(texcoords, uv.u);
        appendFloat(texcoords, 1.0 - uv.v);
        ++vertexCount;
    }
    for (const Face& face : kFaces) {
        for (const Corner& c : outwardCorners(face)) {
            appendU16(indices, static_cast<std::uint16_t>(vertexOf[static_cast<std::size_t>(c.textureVertex)]));
        }
    }

    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "tavimor";
    tinygltf::Buffer buffer;
    const std::string data = positions + texcoords + indices;
    buffer.data.assign(data.begin(), data.end());
    model.buffers.push_back(buffer);

    const int positionView = addView(model, 0, positions.size(), kArrayBuffer);
    const int texcoordView = addView(model, positions.size(), texcoords.size(), kArrayBuffer);
    const int indexView = addView(model, positions.size() + texcoords.size(), indices.size(), kElementArrayBuffer);
    const int position =
        addAccessor(model, positionView, TINYGLTF_COMPONENT_TYPE_FLOAT, vertexCount, TINYGLTF_TYPE_VEC3);
    // glTF wants the bounds of the positions exactly as stored, in single
    // precision.
    model.accessors[static_cast<std::size_t>(position)].minValues = {low[0], low[1], low[2]};
    model.accessors[static_cast<std::size_t>(position)].maxValues = {high[0], high[1], high[2]};
    const int texcoord =
        addAccessor(model, texcoordView, TINYGLTF_COMPONENT_TYPE_FLOAT, vertexCount, TINYGLTF_TYPE_VEC2);
    const int index =
        addAccessor(model, indexView, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, indices.size() / 2, TINYGLTF_TYPE_SCALAR);

    tinygltf::Material material;
    material.name = "rock";
    material.pbrMetallicRoughness.baseColorFactor = {kRockColour.red, kRockColour.green, kRockColour.blue, 1.0};
    // Stone is no metal, and matte.
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.pbrMetallicRoughness.roughnessFactor = 1.0;
    model.materials.push_back(material);

    tinygltf::Primitive primitive;
    primitive.attributes["POSITION"] = position;
    primitive.attributes["TEXCOORD_0"] = texcoord;
    primitive.indices = index;
    primitive.material = 0;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    tinygltf::Mesh mesh;
    mesh.name = "Rock" + std::to_string(rockNumber);
    mesh.primitives.push_back(primitive);
    model.meshes.push_back(mesh);

    tinygltf::Node node;
    node.name = mesh.name;
    node.mesh = 0;
    model.nodes.push_back(node);
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    model.scenes.push_back(scene);
    model.defaultScene = 0;

    std::ostringstream out;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&model, out, false, true) || !out) return {};
    return out.str();
}

}  // namespace tavimor
