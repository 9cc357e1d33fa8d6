#include "formats/pack.h"

#include "formats/obj_file.h"
#include "formats/ply_file.h"
#include "formats/stl_file.h"

namespace tavimor {

int packParts(Format format) { return format == Format::Ply ? 2 : 1; }

bool packPartNeedsRocks(Format format, int part) { return !(format == Format::Ply && part == 1); }

std::string packHead(const PackLayout& layout, std::span<const GlbRock> glbRocks, std::string_view materialFile) {
    const LevelMesh& level = *layout.level->mesh;
    const std::string title = layout.title + ", " + std::to_string(layout.rocks) + " rocks";
    switch (layout.format) {
        case Format::Obj: return objHead(materialFile);
        case Format::Glb: return glbHead(*layout.level, layout.normals, glbRocks);
        case Format::Stl:
            return stlHead("binary STL made by tavimor: " + title,
                           static_cast<std::uint32_t>(layout.rocks * level.faces.size()));
        case Format::Ply:
            return plyHead(title, layout.rocks * static_cast<std::uint64_t>(level.positionCount),
                           layout.rocks * level.faces.size(), layout.normals);
        case Format::Cob: break;
    }
    return {};
}

void appendPackPiece(std::string& out, const PackLayout& layout, int part, const RockMesh& rock, std::uint64_t index) {
    const LevelMesh& level = *layout.level->mesh;
    const auto positions = static_cast<long long>(level.positionCount);
    switch (layout.format) {
        case Format::Obj: {
            const auto i = static_cast<long long>(index);
            const auto textures = static_cast<long long>(level.textureVertices.size());
            appendObjObject(out, rock, ObjStart{1 + i * positions, 1 + i * textures, 1 + i * positions});
            break;
        }
        case Format::Glb: appendGlbBlock(out, rock); break;
        case Format::Stl: appendStlFacets(out, rock); break;
        case Format::Ply:
            if (part == 0) {
                appendPlyVertices(out, rock);
            } else {
                appendPlyFaces(out, level, static_cast<std::uint32_t>(index * static_cast<std::uint64_t>(positions)));
            }
            break;
        case Format::Cob: break;
    }
}

}  // namespace tavimor
