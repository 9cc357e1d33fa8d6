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

// Takes exactly one draw and returns a factor from 1 to 1 + spike / 9.
double randomScale(Lcg& generator, double spike);

}  // namespace tavimor
