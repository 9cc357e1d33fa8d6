#include "formats/cob_file.h"
#include "formats/format.h"
#include "formats/glb_file.h"
#include "formats/obj_file.h"
#include "formats/ply_file.h"
#include "formats/stl_file.h"

namespace tavimor {

std::vector<FileKind> filesMade(std::span<const FileKind> kinds, FileChoice choice) {
    std::vector<FileKind> made;
    for (const FileKind& kind : kinds) {
        const bool wanted = kind.need == FileNeed::Always || (kind.need == FileNeed::Hulls && choice.hulls) ||
                            (kind.need == FileNeed::Textures && choice.textures);
        if (wanted) made.push_back(kind);
    }
    return made;
}

void prepareFiles(std::vector<FormatFile>& files, std::span<const FileKind> kinds) {
    files.resize(kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        files[i].suffix = kinds[i].suffix;
        files[i].role = kinds[i].role;
        files[i].bytes.clear();
    }
}

std::span<const Format* const> allFormats() {
    static const Format* const formats[] = {&cobFormat(), &objFormat(), &glbFormat(), &stlFormat(), &plyFormat()};
    return formats;
}

const Format* formatNamed(std::string_view name) {
    for (const Format* format : allFormats()) {
        if (format->name() == name) return format;
    }
    return nullptr;
}

}  // namespace tavimor
