#pragma once

// Binary little-endian PLY, Z-up: the vertices, then the faces. Each vertex
// starts with the rock's colour, red, green, blue, before its position, so
// the data always begins with the red byte (210), never with a byte that a
// reader could take for the end of the header's last line: assimp 5.2
// swallows a leading 0x0A, the low byte of the first x in one rock of 256,
// and it refuses faces before vertices or any element before them. Readers
// find properties by name, and show the colour. Its writer is plyFormat().

#include "formats/format.h"

namespace tavimor {

const Format& plyFormat();

}  // namespace tavimor
