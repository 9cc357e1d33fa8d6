#pragma once

#include <cstdint>

namespace tavimor {

// The run's random generator: a linear congruential generator whose state is
// all there is to it. A run seeds one, then every rock continues the sequence
// where the previous rock stopped, so a seed fixes every rock of the run.
struct Lcg {
    std::uint32_t state = 0;
};

// Advances the generator one step and returns a draw from 0 to 32767: bits
// 16 to 30 of the new state (bit 31 is never used).
constexpr int nextRandom(Lcg& generator) {
    generator.state = generator.state * 214013u + 2531011u;
    return static_cast<int>((generator.state >> 16) & 0x7FFFu);
}

// The generator as it stands after draws more draws, worked out in a few
// dozen steps: the steps compose into one multiply and add, which composes
// with itself by squaring. Rock i of a run starts 75 i draws in, so rocks
// can be made out of turn, on several threads, and still be the rocks of
// the seed.
constexpr Lcg skipped(Lcg generator, std::uint64_t draws) {
    std::uint32_t multiply = 214013u, add = 2531011u;
    for (; draws > 0; draws >>= 1) {
        if (draws & 1) generator.state = generator.state * multiply + add;
        add = add * multiply + add;
        multiply = multiply * multiply;
    }
    return generator;
}

// The factor for a draw: from 1 (draw 0) to 1 + spike / 9 (draw 32767).
double factorOfDraw(int draw, double spike);

// Takes exactly one draw and returns its factor.
inline double randomScale(Lcg& generator, double spike) { return factorOfDraw(nextRandom(generator), spike); }

}  // namespace tavimor
