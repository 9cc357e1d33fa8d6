#pragma once

#include <cstdint>
#include <ctime>

#include "cobwriter/object_stream.h"

namespace tavimor {

// The seed for a calendar time: its whole seconds, reduced to the low 32 bits
// (so it keeps working past 2038 and 2106 with a 64-bit time_t).
std::uint32_t seedFromCalendarTime(std::time_t seconds);

// The run's random generator. Seeded once at start-up; every rock continues
// the sequence where the previous rock stopped.
void seedRandom(std::uint32_t seed);

// Advances the generator one step and returns a draw from 0 to 32767.
int nextRandom();

// Takes exactly one draw and returns a factor from 1 to 1 + spike / 9.
double randomScale(double spike);

// Writes count vertex lines "x y z", each vertex scaled by its own random
// factor (one draw per vertex, also for spike 0).
void writeVertices(ObjectStream& out, const double* X, const double* Y, const double* Z, int count,
                   int spike);

}  // namespace tavimor
