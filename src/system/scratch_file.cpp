#include "system/scratch_file.h"

namespace tavimor {
namespace {

constexpr std::size_t kHeld = 1 << 18;

}  // namespace

ScratchFile::ScratchFile(const OutputDirectory& beside)
    : file_(platform::openScratchFile(beside.handle_)), ok_(file_ != platform::kNoFile) {}

ScratchFile::~ScratchFile() {
    if (file_ != platform::kNoFile) platform::closeFile(file_);
}

void ScratchFile::append(std::string_view bytes) {
    held_.append(bytes);
    size_ += bytes.size();
    if (held_.size() >= kHeld) flush();
}

void ScratchFile::flush() {
    if (ok_ && !held_.empty()) ok_ = platform::writeAll(file_, held_);
    held_.clear();
}

bool ScratchFile::read(std::uint64_t offset, char* into, std::size_t size) {
    flush();
    return ok_ && offset + size <= size_ && platform::readAt(file_, offset, into, size);
}

}  // namespace tavimor
