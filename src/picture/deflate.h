#pragma once

// A quick zlib stream for the program's pictures.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavimor {

// The most bytes zlibStream writes for length bytes of data.
std::size_t zlibBound(std::size_t length);

// data as a zlib stream (deflate, fixed codes, Adler-32), written to out,
// which holds zlibBound(data.size()) bytes; returns how many it wrote. The
// same data gives the same bytes everywhere.
std::size_t zlibStream(std::span<const std::uint8_t> data, std::uint8_t* out);

}  // namespace tavimor
