// The shared mesh's invariants, checked once, at compile time. They take
// the compiler most of a second, so they live in this one file.
#include "geometry/topology.h"

namespace tavimor {
namespace {

constexpr bool indicesInRange() {
    for (const Face& f : kFaces) {
        for (const Corner& c : f) {
            if (c.vertex < 0 || c.vertex >= kVertexCount) return false;
            if (c.textureVertex < 0 || c.textureVertex >= kTextureVertexCount) return false;
        }
        if (f[0].vertex == f[1].vertex || f[1].vertex == f[2].vertex || f[0].vertex == f[2].vertex) return false;
    }
    return true;
}

// Each directed edge a -> b occurs once, and its reverse b -> a once: the
// mesh is closed and its faces agree on which side is outside.
constexpr bool closedAndConsistent() {
    for (const Face& f : kFaces) {
        for (int k = 0; k < 3; ++k) {
            const int a = f[static_cast<std::size_t>(k)].vertex;
            const int b = f[static_cast<std::size_t>((k + 1) % 3)].vertex;
            int same = 0;
            int reverse = 0;
            for (const Face& g : kFaces) {
                for (int m = 0; m < 3; ++m) {
                    const int c = g[static_cast<std::size_t>(m)].vertex;
                    const int d = g[static_cast<std::size_t>((m + 1) % 3)].vertex;
                    same += c == a && d == b;
                    reverse += c == b && d == a;
                }
            }
            if (same != 1 || reverse != 1) return false;
        }
    }
    return true;
}

// A texture vertex belongs to one position only (unused ones to none).
constexpr bool textureVerticesOwnedOnce() {
    std::array<int, kTextureVertexCount> owner{};
    owner.fill(-1);
    for (const Face& f : kFaces) {
        for (const Corner& c : f) {
            int& o = owner[static_cast<std::size_t>(c.textureVertex)];
            if (o >= 0 && o != c.vertex) return false;
            o = c.vertex;
        }
    }
    for (int t = 0; t < kTextureVertexCount; ++t) {
        const bool unused = owner[static_cast<std::size_t>(t)] < 0;
        if (unused != (t == 64 || t == 68)) return false;
    }
    return true;
}

}  // namespace

static_assert(indicesInRange());
static_assert(closedAndConsistent());
static_assert(textureVerticesOwnedOnce());
// Euler's formula for a closed surface of genus 0: V - E + F = 2, with every
// edge shared by two of the three-edged faces.
static_assert(kVertexCount - 3 * kFaceCount / 2 + kFaceCount == 2);

}  // namespace tavimor
