#pragma once

// Work in two parts, run at once where the caller has a thread beside to
// give them and one after the other where not. Each part writes only its
// own share and sums only its own, and the shares are set by the work, not
// by the threads: the result is the same bit for bit either way.

#include <cstddef>
#include <functional>

namespace tavimor {

using Part = std::function<void()>;
using BothParts = std::function<void(const Part& first, const Part& second)>;

// The first part, then the second, on the caller's thread.
void inTurn(const Part& first, const Part& second);

// Items [0, count) in two halves, [0, count / 2) and [count / 2, count),
// the first numbered 0 and the second 1.
void inHalves(const BothParts& both, std::size_t count, const std::function<void(std::size_t from, std::size_t to, int half)>& part);

}  // namespace tavimor
