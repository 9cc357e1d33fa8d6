// Formatting rocks in memory, and writing batches of rock files the way a
// run does (check, create, write, close, rename each), beside a baseline
// that replaces ready-made files of the same size the same way.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/run.h"
#include "formats/cob_file.h"
#include "formats/fixed_format.h"
#include "formats/glb_file.h"
#include "geometry/convex_hull.h"
#include "geometry/detailed_rock.h"
#include "geometry/normals.h"
#include "geometry/rock.h"
#include "geometry/rock_recipe.h"
#include "geometry/style.h"
#include "picture/contact_sheet.h"
#include "picture/png.h"
#include "system/file_output.h"

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

// One rock of detail 4 (37,376 triangles) of a style, made, given smooth
// normals and formatted as glTF, as a scripted run does with the levels
// built once.
class DetailFourGlb {
public:
    explicit DetailFourGlb(tavimor::Style style = tavimor::kClassic)
        : maker_({.seed = 1, .count = 1 << 30, .style = style, .spike = 9, .detail = 4, .shading = tavimor::Shading::Smooth},
                 levels_) {}
    const std::string& next(int n) {
        maker_.make(n, rock_);
        const tavimor::RockMesh mesh{.positions = rock_.positions,
                                     .normals = rock_.normals[0],
                                     .textures = std::span(&textures_, 1),
                                     .material = &maker_.recipe().style.kind().material,
                                     .name = "Rock0",
                                     .extent = &rock_.extents[0]};
        writer_->rockFiles(mesh, "ROCK0", files_);
        return files_[0].bytes;
    }
    std::int64_t triangles() const { return static_cast<std::int64_t>(levels_.levels.back().faces.size()); }

private:
    tavimor::DetailLevels levels_ = tavimor::buildDetailLevels(4);
    tavimor::TextureCoordinates textures_ = tavimor::levelTextures(levels_.levels.back());
    // The writer of the level, made once a run, as a run makes it.
    std::unique_ptr<tavimor::LevelWriter> writer_ =
        tavimor::glbFormat().writerFor(levels_.levels.back(), {tavimor::Shading::Smooth});
    tavimor::RockMaker maker_;
    tavimor::RockGeometry rock_;
    std::vector<tavimor::FormatFile> files_;
};

void formatDetailFourRock(benchmark::State& state) {
    DetailFourGlb rocks;
    int n = 0;
    for (auto _ : state) {
        const std::string& bytes = rocks.next(n++);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["triangles"] =
        benchmark::Counter(static_cast<double>(state.iterations() * rocks.triangles()), benchmark::Counter::kIsRate);
}
BENCHMARK(formatDetailFourRock)->Unit(benchmark::kMicrosecond);

// The same for each style other than classic, which may cost at most three
// times as much.
void formatStyledDetailFourRock(benchmark::State& state) {
    const tavimor::Style style(static_cast<std::size_t>(state.range(0)));
    state.SetLabel(std::string(style.name()));
    DetailFourGlb rocks(style);
    int n = 0;
    for (auto _ : state) {
        const std::string& bytes = rocks.next(n++);
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(formatStyledDetailFourRock)
    ->DenseRange(1, static_cast<int>(tavimor::kStyleCount) - 1)
    ->Unit(benchmark::kMicrosecond);

// The collision hull of a rock of detail 4: 18,690 positions, as a file
// holds them, into at most 64 vertices, its directions from detail 1, as a
// run makes it.
void collisionHullOfDetailFourRock(benchmark::State& state) {
    const tavimor::DetailLevels levels = tavimor::buildDetailLevels(4);
    std::vector<std::vector<tavimor::Position>> rocks;
    tavimor::Lcg generator{1};
    for (int n = 0; n < 16; ++n) {
        std::vector<tavimor::Position> rock = tavimor::makeDetailedRock(generator, 9, {}, levels, {1, n});
        for (tavimor::Position& p : rock) p = {double(float(p.x)), double(float(p.y)), double(float(p.z))};
        rocks.push_back(rock);
    }
    const auto shape = static_cast<std::size_t>(levels.levels[1].positionCount);
    std::size_t n = 0;
    for (auto _ : state) {
        const auto& rock = rocks[n++ % rocks.size()];
        const tavimor::CollisionHull hull =
            tavimor::collisionHull(rock, std::span<const tavimor::Position>(rock).first(shape)).value();
        benchmark::DoNotOptimize(hull.vertices.data());
    }
}
BENCHMARK(collisionHullOfDetailFourRock)->Unit(benchmark::kMicrosecond);

// Baked maps for one detail-2 boulder, 1024 pixels, smooth: the rock made
// with its finest level, its atlas, looks and tangents, then the bake (what
// a textured rock costs beyond its files), and the three maps' encoding.
tavimor::RockRecipe texturedRecipe() {
    tavimor::RockRecipe recipe;
    recipe.seed = 5;
    recipe.style = *tavimor::styleNamed("boulder");
    recipe.detail = 2;
    recipe.shading = tavimor::Shading::Smooth;
    recipe.textures = 1024;
    return recipe;
}

void bakeOneRockAtTenTwentyFour(benchmark::State& state) {
    const tavimor::DetailLevels levels = tavimor::buildDetailLevels(tavimor::kMostDetail);
    const tavimor::RockMaker maker(texturedRecipe(), levels);
    tavimor::RockGeometry rock;
    for (auto _ : state) {
        maker.make(0, rock);
        benchmark::DoNotOptimize(rock.textures.maps.normal.data());
    }
}
BENCHMARK(bakeOneRockAtTenTwentyFour)->Unit(benchmark::kMillisecond);

void encodeThreeMapsAtTenTwentyFour(benchmark::State& state) {
    const tavimor::DetailLevels levels = tavimor::buildDetailLevels(tavimor::kMostDetail);
    const tavimor::RockMaker maker(texturedRecipe(), levels);
    tavimor::RockGeometry rock;
    maker.make(0, rock);
    const tavimor::BakedMaps& maps = rock.textures.maps;
    for (auto _ : state) {
        for (const auto* pixels : {&maps.baseColour, &maps.normal, &maps.orm}) {
            benchmark::DoNotOptimize(tavimor::encodePng(maps.pixels, maps.pixels, *pixels));
        }
    }
}
BENCHMARK(encodeThreeMapsAtTenTwentyFour)->Unit(benchmark::kMillisecond);

// The contact sheet of 100 rocks as a run draws it once the rocks are
// written: every rock made again, drawn into its tile of 256 pixels, and
// the sheet encoded as PNG. The argument is the detail.
void drawSheetOfHundredRocks(benchmark::State& state) {
    const int detail = static_cast<int>(state.range(0));
    const tavimor::DetailLevels levels = tavimor::buildDetailLevels(detail);
    std::size_t bytes = 0;
    for (auto _ : state) {
        tavimor::ContactSheet sheet(100, 256, 2.0);
        tavimor::Lcg generator{1};
        for (int i = 0; i < 100; ++i) {
            const auto positions = tavimor::makeDetailedRock(generator, 9, {}, levels, tavimor::RockIdentity{1, 99 - i});
            sheet.draw(i, levels.levels.back(), {positions});
        }
        bytes = sheet.png().value().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(drawSheetOfHundredRocks)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);

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
    const std::string& path() const { return path_; }
    std::string file(int n) const { return path_ + "/ROCK" + std::to_string(n) + ".COB"; }

private:
    std::string path_;
};

// Writes file n at path; false on a failure.
template <typename Save>
void writeBatch(benchmark::State& state, Save save, int batch = kBatch) {
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
            for (int n = batch - 1; n >= 0; --n) names.push_back(dir.file(n));
            state.ResumeTiming();
            for (int n = batch - 1; n >= 0; --n) {
                if (!save(names[static_cast<std::size_t>(batch - 1 - n)], n)) {
                    state.SkipWithError("cannot write the files");
                    break;
                }
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch);
}

// Replaces the file at path with bytes the way the baseline does: a new
// temporary file, written, closed and renamed, with nothing else around it.
bool replaceReady(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return close(fd) == 0 && written && rename(temporary.c_str(), path.c_str()) == 0;
}

// 10,000 rocks made, formatted and written, as a scripted run does: each
// checked, written under a temporary name and renamed into place.
void writeTenThousandRocks(benchmark::State& state) {
    tavimor::Lcg generator{1};
    std::unique_ptr<tavimor::OutputDirectory> directory;
    writeBatch(state, [&](const std::string& path, int n) {
        // The run's directory, opened once, as a run opens it.
        const std::string name = path.substr(path.rfind('/') + 1);
        if (n == kBatch - 1) directory = std::make_unique<tavimor::OutputDirectory>(path.substr(0, path.rfind('/')));
        return tavimor::saveFile(*directory, name, tavimor::cobFile(tavimor::makeRock(generator, 9), n % 10)) ==
               tavimor::SaveResult::Saved;
    });
}
BENCHMARK(writeTenThousandRocks)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The file system's own pace for the same replacement: 10,000 ready-made
// files of a rock's size, each created under a temporary name, written,
// closed and renamed, with nothing else around it.
void writeTenThousandReadyFiles(benchmark::State& state) {
    const std::string ready(tavimor::kCobFileSize, 'x');
    writeBatch(state, [&](const std::string& path, int) { return replaceReady(path, ready); });
}
BENCHMARK(writeTenThousandReadyFiles)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A run that tells nothing.
class QuietReport final : public tavimor::RunReport {
public:
    void failed(const std::string&, tavimor::SaveResult) override {}
    void notMade(const std::string&, std::string_view) override {}
};

// 100 rocks of detail 4, smooth, as glTF files: a whole scripted run, its
// levels built once, each rock made (one ahead, on a second thread), given
// its normals, formatted and written.
void writeHundredDetailFourRocks(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        {
            FreshDirectory dir;
            const tavimor::RunSettings plan{.count = 100, .spike = 9, .seed = 1, .stem = "ROCK",
                                            .formats = {&tavimor::glbFormat()}, .directory = dir.path(), .detail = 4,
                                            .shading = tavimor::Shading::Smooth};
            QuietReport report;
            state.ResumeTiming();
            if (!dir.made() || tavimor::writeRun(plan, report) != 0) state.SkipWithError("cannot write the rocks");
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 100);
}
BENCHMARK(writeHundredDetailFourRocks)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The file system's pace for 100 ready-made files of the same size.
void writeHundredReadyDetailFourFiles(benchmark::State& state) {
    const std::string ready(DetailFourGlb().next(0).size(), 'x');
    writeBatch(state, [&](const std::string& path, int) { return replaceReady(path, ready); }, 100);
}
BENCHMARK(writeHundredReadyDetailFourFiles)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
