#include "app/rock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "cobwriter/object_writer.h"
#include "geometry/random_scale.h"
#include "geometry/vertex_template.h"

namespace tavimor {
namespace {

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void formatRock(ObjectStream& out, int rockNumber, int spike) {
    out.bytes.clear();
    out.bytes.reserve(kRockFileSize);
    VertexTemplate shape = allocateVertexTemplate();
    fillVertexTemplate(shape.X.data(), shape.Y.data(), shape.Z.data());
    writeHead(out, rockNumber, kVertexCount);
    writeVertices(out, shape.X.data(), shape.Y.data(), shape.Z.data(), kVertexCount, spike);
    writeTail(out);
}

SaveResult saveRock(const char* name, int rockNumber, int spike) {
    int fd;
    do {
        fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return SaveResult::OpenFailed;

    SaveResult result = SaveResult::Saved;
    try {
        ObjectStream rock;
        formatRock(rock, rockNumber, spike);
        if (!writeAll(fd, rock.bytes)) result = SaveResult::WriteFailed;
    } catch (const std::bad_alloc&) {
        result = SaveResult::OutOfMemory;
    }
    // A failing close can mean the data never reached the disk.
    if (close(fd) != 0 && result == SaveResult::Saved) result = SaveResult::WriteFailed;
    if (result != SaveResult::Saved) unlink(name);
    return result;
}

}  // namespace tavimor
