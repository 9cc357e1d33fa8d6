#pragma once

// Pictures as PNG files' bytes.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tavimor {

// A picture of width by height pixels, RGB, row by row, as a PNG file; none
// if it cannot be encoded.
std::optional<std::string> encodePng(int width, int height, std::span<const std::uint8_t> rgb);

}  // namespace tavimor
