#pragma once

// Room on disk for what a run must keep of every rock and cannot keep in
// memory without growing with the count: written once, then read back as
// often as needed. No name reaches it; it is gone when the run ends,
// however the run ends.

#include <cstdint>
#include <string>
#include <string_view>

#include "system/file_output.h"
#include "system/platform.h"

namespace tavimor {

class ScratchFile {
public:
    // In the directory the run writes into: where its files have room.
    explicit ScratchFile(const OutputDirectory& beside);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // False once creating it or a write to it has failed.
    bool ok() const { return ok_; }
    // Adds bytes at the end; they reach the file a buffer at a time.
    void append(std::string_view bytes);
    // The bytes written so far.
    std::uint64_t size() const { return size_; }
    // Size bytes from offset into into, once every byte is appended (the
    // first read writes out what is held); false where that failed.
    bool read(std::uint64_t offset, char* into, std::size_t size);

private:
    void flush();
    platform::FileHandle file_;
    bool ok_;
    std::uint64_t size_ = 0;
    std::string held_;
};

}  // namespace tavimor
