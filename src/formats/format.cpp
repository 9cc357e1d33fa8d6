#include "formats/cob_file.h"
#include "formats/format.h"
#include "formats/glb_file.h"
#include "formats/obj_file.h"
#include "formats/ply_file.h"
#include "formats/stl_file.h"

namespace tavimor {

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
