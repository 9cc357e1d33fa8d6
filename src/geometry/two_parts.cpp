#include "geometry/two_parts.h"

namespace tavimor {

void inTurn(const Part& first, const Part& second) {
    first();
    second();
}

void inHalves(const BothParts& both, std::size_t count, const std::function<void(std::size_t from, std::size_t to, int half)>& part) {
    const std::size_t half = count / 2;
    both([&] { part(0, half, 0); }, [&] { part(half, count, 1); });
}

}  // namespace tavimor
