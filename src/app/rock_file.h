#pragma once

#include <string>

#include "cobwriter/object_stream.h"

namespace tavimor {

// Builds one rock's object file in memory: a fresh base template, the head
// for rock number rockNumber, the randomly scaled vertices (kVertexCount
// draws) and the constant tail. Throws std::bad_alloc when memory runs out.
void formatRock(ObjectStream& out, int rockNumber, int spike);

enum class SaveResult { Saved, OpenFailed, WriteFailed, OutOfMemory };

// Creates or empties the file name in the current directory and writes one
// rock into it, with one open, one write and one close. A file that could
// not be written completely is removed again.
SaveResult saveRock(const char* name, int rockNumber, int spike);

}  // namespace tavimor
