#pragma once

// How a rock's surface looks to a renderer: its material.

#include <array>
#include <cstddef>
#include <string_view>

namespace tavimor {

// A colour as fractions of 1, red, green and blue.
struct Colour {
    double red, green, blue;
};

// The classic rock's diffuse colour: a warm sandstone.
inline constexpr Colour kRockColour = {0.8235294, 0.6431373, 0.5215687};

// What an image of a material stands for: the colour of its surface; its
// normals in tangent space; its ambient occlusion, roughness and
// metalness in the red, green and blue channels.
enum class ImageRole { BaseColour, Normal, OcclusionRoughnessMetal };
inline constexpr std::size_t kImageRoles = 3;

// A metallic-roughness material, as glTF describes one: factors, and
// images by role that carry them over the surface (each a PNG file's
// bytes, held by whoever made them; empty where there is none). Stone is
// no metal, and matte.
struct Material {
    Colour baseColour = kRockColour;
    double roughness = 1;
    double metalness = 0;
    std::array<std::string_view, kImageRoles> images = {};

    constexpr std::string_view image(ImageRole role) const { return images[static_cast<std::size_t>(role)]; }
    constexpr bool hasImages() const {
        for (const std::string_view image : images) {
            if (!image.empty()) return true;
        }
        return false;
    }
};

}  // namespace tavimor
