// Formatting rocks in memory, and writing batches of rock files the way a
// run does (one open, one write, one close each), beside a baseline that
// writes ready-made files of the same size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "system/file_output.h"
#include "formats/cob_file.h"
#include "formats/fixed_format.h"
#include "geometry/rock.h"

namespace {

void formatOneRock(benchmark::State& state) {
    tavimor::Lcg generator{1};
    std::int64_t bytesMade = 0;
    for (auto _ : state) {
        const std::string bytes = tavimor::cobFile(tavimor::makeRock(generator, 9), 9);
        benchmark::DoNotOptimize(bytes.data());
        bytesMade += static_cast<std::int64_t>(bytes.size());
    }
    state.SetBytesProcessed(bytesMade);
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

constexpr int kBatch = 10000;

// A fresh, empty directory for every timed batch; removed untimed. It is
// made in $TAVIMOR_BENCH_DIR (default /tmp), so that file systems can be
// compared.
class FreshDirectory {
public:
    FreshDirectory() {
        const char* parent = std::getenv("TAVIMOR_BENCH_DIR");
        std::string pattern = std::string(parent != nullptr ? parent : "/tmp") + "/tavimor-bench-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~FreshDirectory() {
        if (made()) std::filesystem::remove_all(path_);
    }
    bool made() const { return !path_.empty(); }
    std::string file(int n) const { return path_ + "/ROCK" + std::to_string(n) + ".COB"; }

private:
    std::string path_;
};

template <typename MakeBytes>
void writeBatch(benchmark::State& state, MakeBytes makeBytes) {
    for (auto _ : state) {
        state.PauseTiming();
        {
            FreshDirectory dir;
            if (!dir.made()) {
                state.ResumeTiming();
                state.SkipWithError("cannot make a directory for the files");
                break;
            }
            std::vector<std::string> names;
            for (int n = kBatch - 1; n >= 0; --n) names.push_back(dir.file(n));
            state.ResumeTiming();
            for (int n = kBatch - 1; n >= 0; --n) {
                if (tavimor::saveFile(names[static_cast<std::size_t>(kBatch - 1 - n)], makeBytes(n)) !=
                    tavimor::SaveResult::Saved) {
                    state.SkipWithError("cannot write rock files");
                    break;
                }
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
}

// 10,000 rocks made, formatted and written, as a scripted run does.
void writeTenThousandRocks(benchmark::State& state) {
    tavimor::Lcg generator{1};
    writeBatch(state, [&](int n) { return tavimor::cobFile(tavimor::makeRock(generator, 9), n % 10); });
}
BENCHMARK(writeTenThousandRocks)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The file system's own pace: 10,000 ready-made files of a rock's size.
void writeTenThousandReadyFiles(benchmark::State& state) {
    const std::string ready(tavimor::kCobFileSize, 'x');
    writeBatch(state, [&](int) -> const std::string& { return ready; });
}
BENCHMARK(writeTenThousandReadyFiles)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
