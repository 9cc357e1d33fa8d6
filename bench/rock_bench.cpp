// Formatting one rock in memory, and writing a batch of ten rock files the
// way a run does (one open, one write, one close each).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/rock_file.h"
#include "cobwriter/fixed_format.h"
#include "geometry/random_scale.h"

namespace {

void formatOneRock(benchmark::State& state) {
    tavimor::seedRandom(1);
    tavimor::ObjectStream out;
    for (auto _ : state) {
        tavimor::formatRock(out, 9, 9);
        benchmark::DoNotOptimize(out.bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 12252);
}
BENCHMARK(formatOneRock);

void formatOneCoordinate(benchmark::State& state) {
    char text[tavimor::kMaxFixedLength];
    double v = -0.7654321;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavimor::formatFixed6(v, text));
        v = v * -1.0000001;
    }
}
BENCHMARK(formatOneCoordinate);

void writeBatchOfTen(benchmark::State& state) {
    char pattern[] = "/tmp/tavimor-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string stem = dir + "/STONE";
    tavimor::seedRandom(1);
    for (auto _ : state) {
        for (int n = 9; n >= 0; --n) {
            const std::string name = stem + std::to_string(n) + ".COB";
            if (tavimor::saveRock(name.c_str(), n, 9) != tavimor::SaveResult::Saved) {
                state.SkipWithError("cannot write rock files");
                break;
            }
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 10);
    std::filesystem::remove_all(dir);
}
BENCHMARK(writeBatchOfTen)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
