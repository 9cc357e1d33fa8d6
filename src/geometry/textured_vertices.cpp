#include "geometry/textured_vertices.h"

#include <algorithm>

namespace tavimor {

TextureCoordinates levelTextures(const LevelMesh& level) {
    return {level.textureVertices, level.faceTextures, level.textureOwners};
}

void baseVerticesOf(const TextureCoordinates& textures, BaseVertices& base) {
    base.vertexOf.assign(textures.owners.size(), 0);
    base.textureOf.clear();
    for (std::size_t t = 0; t < textures.owners.size(); ++t) {
        if (textures.owners[t] < 0) continue;
        base.vertexOf[t] = static_cast<std::uint32_t>(base.textureOf.size());
        base.textureOf.push_back(static_cast<int>(t));
    }
}

void splitVerticesOf(const TextureCoordinates& textures, const SplitNormals& split, SplitVertices& vertices) {
    vertices.extras.clear();
    vertices.patched.clear();
    vertices.firstNormal.assign(textures.owners.size(), -1);
    std::vector<std::array<int, 3>>& others = vertices.others;
    others.clear();
    for (const int c : split.splitCorners) {
        const auto f = static_cast<std::size_t>(c / 3), k = static_cast<std::size_t>(c % 3);
        const auto t = static_cast<std::size_t>(textures.corners[f][k]);
        const int normal = split.corners[f][k];
        if (vertices.firstNormal[t] < 0) vertices.firstNormal[t] = normal;
        if (vertices.firstNormal[t] != normal) others.push_back({static_cast<int>(t), normal, c});
    }
    // The extras in order of texture vertex and normal, each corner
    // pointed at its own.
    std::sort(others.begin(), others.end());
    for (std::size_t i = 0; i < others.size(); ++i) {
        const auto& [texture, normal, corner] = others[i];
        if (i == 0 || texture != others[i - 1][0] || normal != others[i - 1][1]) {
            vertices.extras.push_back({texture, normal});
        }
        vertices.patched.push_back(
            {static_cast<std::uint32_t>(corner), static_cast<std::uint32_t>(vertices.extras.size() - 1)});
    }
}

}  // namespace tavimor
