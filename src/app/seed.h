#pragma once

#include <cstdint>
#include <ctime>

namespace tavimor {

// The seed for a calendar time: its whole seconds, reduced to the low 32 bits
// (so it keeps working past 2038 and 2106 with a 64-bit time_t). Converting
// through the unsigned 64-bit type keeps the low 32 bits of the two's
// complement value, whatever the sign and size of time_t.
constexpr std::uint32_t seedFromCalendarTime(std::time_t seconds) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds));
}

}  // namespace tavimor
