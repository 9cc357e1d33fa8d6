#include "app/run.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "app/rock_sequence.h"
#include "app/run_names.h"
#include "picture/contact_sheet.h"
#include "system/exit_status.h"
#include "system/file_names.h"
#include "system/standard_streams.h"

namespace tavimor {
namespace {

// How one file went; false when the run ends here: at a file that failed,
// or once what the run prints can no longer be written.
bool saved(RunReport& report, const std::string& path, SaveResult result) {
    if (result != SaveResult::Saved) {
        report.failed(path, result);
        return false;
    }
    return outputFailure().empty();
}

// A file made whole in memory, then saved.
bool saveMade(RunReport& report, OutputDirectory& directory, const std::string& name, const std::string& bytes) {
    const std::string path = directory.pathOf(name);
    report.writing(path);
    return saved(report, path, saveFile(directory, name, bytes, report.doneLine(path)));
}

// What the files of a run need of each rock: levels, its normals as the
// shading has them, its hull where asked for.
SequenceNeeds needsOf(const RunSettings& settings, int levels, std::function<void(MadeRock&)> finish = {}) {
    return {levels, settings.shading, settings.collision, std::move(finish)};
}

// The format writers of one detail level, in the order of the formats.
using LevelWriters = std::vector<std::unique_ptr<LevelWriter>>;

LevelWriters writersFor(const RunSettings& settings, const LevelMesh& level) {
    LevelWriters writers;
    const WriterSettings shared{settings.shading, colourOf(settings.style)};
    for (const Format* format : settings.formats) writers.push_back(format->writerFor(level, shared));
    return writers;
}

// Level k of a made rock (detail - k), as the formats take it, named as in
// a file of its own: Rock<n>, as files have always named it, or, for a
// level of detail, as its file: STEM<n>_LOD<k>. Its hull goes with the
// finest level.
RockMesh meshOf(const RunSettings& settings, const MadeRock& rock, std::size_t k) {
    const SplitNormals* split = settings.shading == Shading::Auto ? &rock.split[k] : nullptr;
    return RockMesh{
        .positions = rock.positions,
        .normals = split != nullptr                       ? std::span<const Position>(split->normals)
                   : settings.shading == Shading::Smooth ? std::span<const Position>(rock.normals[k])
                                                         : std::span<const Position>(),
        .name = settings.lod ? levelName(settings, rock.number, static_cast<int>(k)) : "Rock" + std::to_string(rock.number),
        .number = rock.number,
        .extent = &rock.extents[k],
        .hull = settings.collision && k == 0 ? &rock.hull : nullptr,
        .split = split};
}

// The files of a made rock, every level in every format in the order they
// are written, each list made into listFor(k, f) and handed to use (which
// says whether the run goes on). False when a format cannot hold the rock,
// whose file's name and why are then noted, or when use says stop.
template <typename ListFor, typename Use>
bool makeFilesOf(const RunSettings& settings, const std::vector<LevelWriters>& writers, MadeRock& rock,
                 ListFor listFor, Use use) {
    rock.notMade.clear();
    for (std::size_t k = 0; k < writers.size(); ++k) {
        const RockMesh mesh = meshOf(settings, rock, k);
        const std::string base = levelName(settings, rock.number, static_cast<int>(k));
        for (std::size_t f = 0; f < writers[k].size(); ++f) {
            std::vector<FormatFile>& files = listFor(k, f);
            if (!writers[k][f]->rockFiles(mesh, base, files)) {
                const Format& format = *settings.formats[f];
                rock.notMade = base + std::string(format.extension());
                rock.notMadeWhy = format.tooLarge();
                return false;
            }
            if (!use(base, files)) return false;
        }
    }
    return true;
}

// Every rock in files of its own, from count - 1 down to 0; reach becomes
// the farthest any rock's position lies from its centre.
int writeEachRock(const RunSettings& settings, const DetailLevels& levels, OutputDirectory& directory,
                  RunReport& report, double& reach) {
    const int levelsWritten = settings.lod ? settings.detail + 1 : 1;
    std::vector<LevelWriters> writers;  // [k] for detail - k
    for (int k = 0; k < levelsWritten; ++k) {
        writers.push_back(writersFor(settings, levels.levels[static_cast<std::size_t>(settings.detail - k)]));
    }
    const std::size_t formats = settings.formats.size();
    // Rocks made ahead are formatted where they are made, on either thread,
    // and only written here: a finely detailed rock's bytes, text above
    // all, cost more than its making. Their lists of files stay with them,
    // a list for each level in each format, the memory used again.
    const auto keep = [&](MadeRock& rock) {
        rock.files.resize(writers.size() * formats);
        std::size_t made = 0;
        makeFilesOf(
            settings, writers, rock, [&](std::size_t k, std::size_t f) -> auto& { return rock.files[k * formats + f]; },
            [&](const std::string&, const std::vector<FormatFile>&) {
                ++made;
                return true;
            });
        // Lists past a format that failed hold an earlier rock's files.
        rock.files.resize(made);
    };
    RockSequence rocks(settings, levels, needsOf(settings, levelsWritten, keep));
    const auto save = [&](const std::string& base, const std::vector<FormatFile>& files) {
        return std::all_of(files.begin(), files.end(), [&](const FormatFile& file) {
            return saveMade(report, directory, base + file.suffix, file.bytes);
        });
    };
    // A rock made in turn has its files made here, a format at a time, each
    // written before the next is made, in one list: they can be large.
    std::vector<FormatFile> inTurn;
    for (int i = 0; i < settings.count; ++i) {
        MadeRock& rock = rocks.next();
        reach = std::max(reach, rock.extents[0].reach);
        bool written = true;
        if (rocks.makesAhead()) {
            for (std::size_t list = 0; list < rock.files.size() && written; ++list) {
                written = save(levelName(settings, rock.number, static_cast<int>(list / formats)), rock.files[list]);
            }
        } else {
            written = makeFilesOf(
                settings, writers, rock, [&](std::size_t, std::size_t) -> auto& { return inTurn; }, save);
        }
        if (written && rock.notMade.empty()) {
            report.progress(i + 1, settings.count);
            continue;
        }
        if (!rock.notMade.empty()) report.notMade(directory.pathOf(rock.notMade), rock.notMadeWhy);
        return kExitFailure;
    }
    return kExitSuccess;
}

// Where each rock of a packed run stands: a square grid on the ground,
// centred on the origin, its cells wide and deep enough that no two rocks'
// bounding boxes overlap, with a tenth more for a gap.
class Grid {
public:
    void include(const Extent& rock) {
        low_ = {std::min(low_.x, rock.low.x), std::min(low_.y, rock.low.y), 0};
        high_ = {std::max(high_.x, rock.high.x), std::max(high_.y, rock.high.y), 0};
    }
    Position offsetOf(int index, int count) const {
        const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
        const int rows = (count + columns - 1) / columns;
        const double width = (high_.x - low_.x) * 1.1, depth = (high_.y - low_.y) * 1.1;
        return {(index % columns - (columns - 1) / 2.0) * width, ((rows - 1) / 2.0 - index / columns) * depth, 0};
    }

private:
    Position low_ = {HUGE_VAL, HUGE_VAL, 0};
    Position high_ = {-HUGE_VAL, -HUGE_VAL, 0};
};

// What a packed run knows of its rocks before it writes them: the ground
// they take, how far they reach and, for heads that list every rock, each
// one's extent and hull.
struct PackPlan {
    Grid grid;
    double reach = 0;
    std::vector<PackedRock> rocks;
};

// Where rock index of the pack stands: on its place of the grid, its lowest
// point on the ground (0.0 - low keeps a zero positive).
Position placeOf(const PackPlan& plan, int index, int count, const Extent& extent) {
    return plan.grid.offsetOf(index, count) + Position{0, 0, 0.0 - extent.low.z};
}

PackPlan measurePack(const RunSettings& settings, const DetailLevels& levels, bool keepRocks) {
    PackPlan plan;
    // Heads that list every rock count its split normals too.
    const bool split = keepRocks && settings.shading == Shading::Auto;
    RockSequence rocks(settings, levels, {1, split ? Shading::Auto : Shading::Flat, keepRocks && settings.collision});
    std::vector<Extent> extents;
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        const Extent& extent = rock.extents[0];
        plan.grid.include(extent);
        plan.reach = std::max(plan.reach, extent.reach);
        if (!keepRocks) continue;
        PackedRock entry{rockName(settings, rock.number), extent, {}};
        if (settings.collision) {
            entry.hullVertices = static_cast<int>(rock.hull.vertices.size());
            entry.hullTriangles = static_cast<int>(rock.hull.triangles.size());
            entry.hullExtent = extentOf(rock.hull.vertices);
        }
        if (split) {
            entry.splitNormals = rock.split[0].owners.size();
            entry.texturedExtras = rock.split[0].texturedExtras;
        }
        plan.rocks.push_back(std::move(entry));
    }
    // Placed once the grid is known.
    for (std::size_t i = 0; i < plan.rocks.size(); ++i) {
        plan.rocks[i].offset = placeOf(plan, static_cast<int>(i), settings.count, plan.rocks[i].extent);
    }
    return plan;
}

// The progress of a packed run: a step is a rock written into one file.
struct PackProgress {
    long long done = 0;
    long long total = 0;
};

// A file's pieces, gathered and written a few hundred kilobytes at a time.
class PieceWriter {
public:
    explicit PieceWriter(ReplacingFile& file) : file_(file) {}
    std::string& buffer() { return buffer_; }
    void written() {
        if (buffer_.size() >= kWriteAt) flush();
    }
    void flush() {
        file_.write(buffer_);
        buffer_.clear();
    }

private:
    static constexpr std::size_t kWriteAt = 1 << 18;
    ReplacingFile& file_;
    std::string buffer_;
};

// One pass of a packed file over its rocks, each placed on the grid.
void writePackPass(const RunSettings& settings, const DetailLevels& levels, PackWriter& writer, const PackPlan& plan,
                   int pass, PieceWriter& out, RunReport& report, PackProgress& progress) {
    if (!writer.passUsesRocks(pass)) {
        for (int i = 0; i < settings.count; ++i) {
            writer.appendPiece(out.buffer(), pass, RockMesh{});
            out.written();
        }
        return;
    }
    RockSequence rocks(settings, levels, needsOf(settings, 1));
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        RockMesh mesh = meshOf(settings, rock, 0);
        mesh.name = rockName(settings, rock.number);
        mesh.offset = placeOf(plan, i, settings.count, rock.extents[0]);
        writer.appendPiece(out.buffer(), pass, mesh);
        out.written();
        if (pass == 0) report.progress(++progress.done, progress.total);
    }
}

// Packed file number file of the format (its rocks, or its hulls where it
// keeps them apart), then the files beside it; false when the run ends
// here.
bool writePackFile(const RunSettings& settings, const DetailLevels& levels, OutputDirectory& directory,
                   const Format& format, const LevelWriter& level, std::size_t file, const PackPlan& plan,
                   RunReport& report, PackProgress& progress) {
    const std::string name = settings.stem + std::string(level.packSuffixes(settings.collision)[file]);
    const std::string path = directory.pathOf(name);
    report.writing(path);
    ReplacingFile out(directory, name);
    const PackContents contents{settings.stem, static_cast<std::uint64_t>(settings.count),
                                [&](std::uint64_t i) { return plan.rocks[i]; }, settings.collision};
    const std::unique_ptr<PackWriter> writer = level.packWriter(contents, file);
    if (!writer->writeHead([&](std::string_view bytes) { out.write(bytes); })) {
        report.notMade(path, format.tooLarge());
        return false;
    }
    PieceWriter pieces(out);
    for (int pass = 0; pass < writer->passes() && out.state() == SaveResult::Saved; ++pass) {
        writePackPass(settings, levels, *writer, plan, pass, pieces, report, progress);
    }
    pieces.flush();
    if (!saved(report, path, out.commit(report.doneLine(path)))) return false;
    for (const FormatFile& companion : writer->companions()) {
        if (!saveMade(report, directory, settings.stem + companion.suffix, companion.bytes)) return false;
    }
    return true;
}

int writePacked(const RunSettings& settings, const DetailLevels& levels, OutputDirectory& directory,
                RunReport& report, double& reach) {
    const LevelWriters writers = writersFor(settings, levels.levels.back());
    bool listsRocks = false;
    std::size_t files = 0;
    for (const auto& writer : writers) {
        listsRocks = listsRocks || writer->headListsRocks(settings.collision);
        files += writer->packSuffixes(settings.collision).size();
    }
    const PackPlan plan = measurePack(settings, levels, listsRocks);
    reach = plan.reach;
    // Progress counts over the whole run: every rock once in every file.
    PackProgress progress{0, static_cast<long long>(settings.count) * static_cast<long long>(files)};
    for (std::size_t f = 0; f < writers.size(); ++f) {
        for (std::size_t file = 0; file < writers[f]->packSuffixes(settings.collision).size(); ++file) {
            if (!writePackFile(settings, levels, directory, *settings.formats[f], *writers[f], file, plan, report,
                               progress)) {
                return kExitFailure;
            }
        }
    }
    return kExitSuccess;
}

// The contact sheet: every rock made again and drawn at the run's finest
// detail, at one scale for all, once every rock's files are written.
int writePreview(const RunSettings& settings, const DetailLevels& levels, double reach, RunReport& report) {
    ContactSheet sheet(settings.count, settings.previewSize, reach);
    RockSequence rocks(settings, levels, SequenceNeeds{1, settings.shading});
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        const RockMesh mesh = meshOf(settings, rock, 0);
        sheet.draw(i, levels.levels.back(), {mesh.positions, mesh.normals, mesh.split, colourOf(settings.style)});
    }
    const std::optional<std::string> png = sheet.png();
    if (!png) {
        report.notMade(settings.preview, "the PNG encoder failed");
        return kExitFailure;
    }
    // Named as it was asked for: its directory as given, or none.
    const std::string_view name = fileNameOf(settings.preview);
    OutputDirectory directory(settings.preview.substr(0, settings.preview.size() - name.size()));
    return saveMade(report, directory, std::string(name), *png) ? kExitSuccess : kExitFailure;
}

}  // namespace

int writeRun(const RunSettings& settings, RunReport& report) {
    const DetailLevels levels = buildDetailLevels(settings.detail);
    double reach = 0;
    OutputDirectory directory(settings.directory);
    const int status = settings.pack ? writePacked(settings, levels, directory, report, reach)
                                     : writeEachRock(settings, levels, directory, report, reach);
    if (status != kExitSuccess || settings.preview.empty()) return status;
    return writePreview(settings, levels, reach, report);
}

}  // namespace tavimor
