// The fast six-decimal formatter against the exact one: every coordinate a
// rock can have, the neighbourhood of every rounding tie, the exact binary
// ties, and millions of random doubles. Labelled "exhaustive"; CI runs it in
// the Release build.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "formats/fixed_format.h"
#include "geometry/base_shape.h"
#include "geometry/generator.h"
#include "geometry/rock.h"

namespace tavimor {
namespace {

std::string exact(double v) {
    char text[kMaxFixedLength];
    return std::string(text, formatFixed6Exact(v, text));
}

std::string fast(double v) {
    char text[kMaxFixedLength];
    return std::string(text, formatFixed6(v, text));
}

// Collects the first disagreements from several threads.
class Mismatches {
public:
    void add(double v, const std::string& got, const std::string& wanted) {
        ++count_;
        std::lock_guard<std::mutex> lock(mutex_);
        if (examples_.size() < 5) {
            char bits[32];
            std::snprintf(bits, sizeof bits, "%016llx", static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v)));
            examples_ += std::string(bits) + ": " + got + " instead of " + wanted + "\n";
        }
    }
    long count() const { return count_; }
    const std::string& examples() const { return examples_; }

private:
    std::atomic<long> count_{0};
    std::mutex mutex_;
    std::string examples_;
};

// Runs work(begin, end) on both cores over [0, total).
void inParallel(long total, const std::function<void(long, long)>& work) {
    const long half = total / 2;
    std::thread other(work, half, total);
    work(0, half);
    other.join();
}

void compare(double v, Mismatches& mismatches) {
    const std::string got = fast(v);
    const std::string wanted = exact(v);
    if (got != wanted) mismatches.add(v, got, wanted);
}

TEST(FormatFixed6Exhaustive, EveryCoordinateARockCanHave) {
    Mismatches mismatches;
    std::atomic<long> slow{0};
    // Every spike, every draw, every vertex: 10 x 32768 x 225 values.
    inParallel(10L * 32768, [&](long begin, long end) {
        for (long i = begin; i < end; ++i) {
            const int spike = static_cast<int>(i / 32768);
            const double factor = factorOfDraw(static_cast<int>(i % 32768), spike);
            for (const Position& base : kBaseShape) {
                const Position p = scaledPosition(base, factor, Scale{});
                for (const double c : {p.x, p.y, p.z}) {
                    std::uint64_t ignored;
                    if (!fastMillionths(c, ignored)) ++slow;
                    compare(c, mismatches);
                }
            }
        }
    });
    EXPECT_EQ(mismatches.count(), 0) << mismatches.examples();
    RecordProperty("slow_path_values", static_cast<int>(slow.load()));
}

TEST(FormatFixed6Exhaustive, TwoHundredUlpsAroundEveryTieUpToTwo) {
    // For each tie (k + 1/2) / 10^6 below 2, the 401 doubles around it: the
    // exact result steps once from the lower to the upper text somewhere in
    // there; found by bisection, every fast result must be on its side.
    constexpr long kTies = 2000000;
    constexpr int kReach = 200;
    Mismatches mismatches;
    std::atomic<long> directlyChecked{0};
    inParallel(kTies, [&](long begin, long end) {
        for (long k = begin; k < end; ++k) {
            const double tie = static_cast<double>(2 * k + 1) / 2000000.0;
            const auto centre = std::bit_cast<std::uint64_t>(tie);
            const auto at = [&](int i) { return std::bit_cast<double>(centre + static_cast<std::uint64_t>(i - kReach)); };
            const std::string lower = exact(at(0));
            const std::string upper = exact(at(2 * kReach));
            int first = 0, last = 2 * kReach;  // exact(at(last)) == upper
            while (last - first > 1) {
                const int middle = (first + last) / 2;
                (exact(at(middle)) == upper ? last : first) = middle;
            }
            for (int i = 0; i <= 2 * kReach; ++i) {
                const std::string got = fast(at(i));
                const std::string& wanted = i < last ? lower : upper;
                if (got != wanted) mismatches.add(at(i), got, wanted);
            }
            // Every thousandth tie also value by value, and negated.
            if (k % 1000 == 0) {
                for (int i = 0; i <= 2 * kReach; ++i) {
                    compare(at(i), mismatches);
                    compare(-at(i), mismatches);
                }
                ++directlyChecked;
            }
        }
    });
    EXPECT_EQ(mismatches.count(), 0) << mismatches.examples();
    EXPECT_EQ(directlyChecked.load(), kTies / 1000);
}

TEST(FormatFixed6Exhaustive, ExactBinaryTies) {
    // (k + 1/2) / 10^6 is a double exactly when it is an odd multiple of
    // 1/128: all of them in the fast range, both signs.
    Mismatches mismatches;
    for (long j = 1; j < 16384L * 128; j += 2) {
        const double v = static_cast<double>(j) / 128.0;
        compare(v, mismatches);
        compare(-v, mismatches);
    }
    EXPECT_EQ(mismatches.count(), 0) << mismatches.examples();
}

TEST(FormatFixed6Exhaustive, MillionsOfRandomDoubles) {
    Mismatches mismatches;
    inParallel(2, [&](long begin, long end) {
        for (long part = begin; part < end; ++part) {
            std::mt19937_64 random(20261207 + static_cast<std::uint64_t>(part));
            std::uniform_real_distribution<double> coordinate(-20000.0, 20000.0);
            for (int i = 0; i < 2000000; ++i) {
                // Any bit pattern but NaN, and values of coordinate size.
                const double any = std::bit_cast<double>(random());
                if (!std::isnan(any)) compare(any, mismatches);
                compare(coordinate(random), mismatches);
            }
        }
    });
    EXPECT_EQ(mismatches.count(), 0) << mismatches.examples();
}

}  // namespace
}  // namespace tavimor
