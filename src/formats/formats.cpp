#include "formats/formats.h"

#include "formats/cob_file.h"
#include "formats/glb_file.h"
#include "formats/obj_file.h"
#include "formats/ply_file.h"
#include "formats/stl_file.h"

namespace tavimor {

void appendRockFiles(std::vector<FormatFile>& files, Format format, const RockMesh& rock, int rockNumber,
                     std::string_view baseName) {
    switch (format) {
        case Format::Cob: files.push_back({".COB", cobFile(rock.positions, rockNumber)}); break;
        case Format::Obj:
            files.push_back({".obj", objFile(rock, std::string(baseName) + ".mtl")});
            files.push_back({".mtl", mtlFile()});
            break;
        case Format::Glb: files.push_back({".glb", glbFile(rock)}); break;
        case Format::Stl: files.push_back({".stl", stlFile(rock, rockNumber)}); break;
        case Format::Ply: files.push_back({".ply", plyFile(rock, rockNumber)}); break;
    }
}

FormatLevel prepareLevel(const LevelMesh& mesh) {
    FormatLevel level;
    level.mesh = &mesh;
    prepareGlbLevel(level);
    return level;
}

std::vector<std::string_view> extensionsOf(Format format) {
    switch (format) {
        case Format::Cob: return {".COB"};
        case Format::Obj: return {".obj", ".mtl"};
        case Format::Glb: return {".glb"};
        case Format::Stl: return {".stl"};
        case Format::Ply: return {".ply"};
    }
    return {};
}

}  // namespace tavimor
