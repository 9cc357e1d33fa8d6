#pragma once

// What the formats other than COB share. Internal to formats/.

#include <array>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>

#include "formats/format.h"

namespace tavimor {

// The COB file stores faces clockwise seen from outside; OBJ, glTF, STL and
// PLY want them counter-clockwise, so the last two corners swap places.
constexpr std::array<int, 3> outwardCorners(const std::array<int, 3>& face) { return {face[0], face[2], face[1]}; }

// The rock is made Z-up. glTF is Y-up by definition, and OBJ readers
// (Blender, Maya, Unity) take it as Y-up: (x, y, z) becomes (x, z, -y), a
// rotation about X, which keeps every face's winding. Adding zero turns a
// negative zero into a positive one.
constexpr Position yUp(const Position& p) { return {p.x, p.z, -p.y + 0.0}; }

constexpr Position offsetBy(const Position& p, const Position& offset) { return p + offset; }

// What a file of hulls of its own adds to its rock's (or pack's) name.
inline constexpr std::string_view kHullName = "_hull";

// A rock's files of kinds made into files, as far as the rock has them:
// its hull's only where it has one.
inline void prepareRockFiles(std::vector<FormatFile>& files, std::span<const FileKind> kinds, const RockMesh& rock) {
    prepareFiles(files, filesMade(kinds, {.hulls = rock.hull != nullptr,
                                          .textures = rock.writesImages && rock.material != nullptr &&
                                                      rock.material->hasImages()}));
}

// The file in files that holds role; null where there is none.
inline FormatFile* fileWith(std::vector<FormatFile>& files, FileRole role) {
    for (FormatFile& file : files) {
        if (file.role == role) return &file;
    }
    return nullptr;
}

// Little-endian binary values written into room made beforehand: the same
// bytes on every machine, without growing the string a byte at a time. The
// writer must fill the room exactly; debug builds check that it does.
class ByteWriter {
public:
    // Makes room for size more bytes at the end of out.
    ByteWriter(std::string& out, std::size_t size) : out_(out), start_(out.size()), at_(start_) {
        out.resize(out.size() + size);
    }
    ~ByteWriter() { assert(at_ == out_.size() && "a binary block filled short of the room made for it"); }
    ByteWriter(const ByteWriter&) = delete;
    ByteWriter& operator=(const ByteWriter&) = delete;

    void u8(std::uint8_t v) {
        assert(at_ < out_.size() && "a binary block written past the room made for it");
        out_[at_++] = static_cast<char>(v);
    }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v & 0xFF));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
    }
    void f32(double v) { u32(std::bit_cast<std::uint32_t>(static_cast<float>(v))); }
    // Zeros until size bytes have been written.
    void zerosUpTo(std::size_t size) {
        while (at_ - start_ < size) u8(0);
    }

private:
    std::string& out_;
    std::size_t start_;
    std::size_t at_;
};

}  // namespace tavimor
