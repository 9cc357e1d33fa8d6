#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "formats/format.h"

namespace tavimor {

// Bytes of a rock file at scale 1 with a one-digit rock number: 483 lines,
// whatever the rock's shape, because every coordinate then prints with the
// same number of characters.
inline constexpr std::size_t kCobFileSize = 12252;

// The ASCII Caligari object file: the dialogue's format, one rock of detail
// 0 a file, flat. Its writer is cobFormat() (format.h).

// The whole COB file of one rock, in the ASCII Caligari object format: header line, the PolH
// chunk with the object "Rock<rockNumber>", its vertices, texture vertices
// and faces, then the Unit, Mat1 and END chunks. Every line ends in CR LF.
// positions holds the rock's kVertexCount positions (more are ignored): a
// COB file holds detail 0 only.
std::string cobFile(std::span<const Position> positions, int rockNumber);
inline std::string cobFile(const Rock& rock, int rockNumber) { return cobFile(rock.positions, rockNumber); }

}  // namespace tavimor
