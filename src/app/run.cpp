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

// What a run's rocks are made of and look like, the same for every rock:
// its settings, the detail levels, each level's texture coordinates and
// the style's material.
struct RunLevels {
    const RunSettings& settings;
    const DetailLevels& levels;
    // [d] for level d.
    std::vector<TextureCoordinates> textures;
    const Material& material;
};

RunLevels runLevelsOf(const RunSettings& settings, const DetailLevels& levels) {
    RunLevels run{settings, levels, {}, settings.style.kind().material};
    for (const LevelMesh& level : levels.levels) run.textures.push_back(levelTextures(level));
    return run;
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
    const WriterSettings shared{settings.shading};
    for (const Format* format : settings.formats) writers.push_back(format->writerFor(level, shared));
    return writers;
}

// Level k of a made rock (detail - k), as the formats take it, named as in
// a file of its own: Rock<n>, as files have always named it, or, for a
// level of detail, as its file: STEM<n>_LOD<k>. Its hull goes with the
// finest level.
RockMesh meshOf(const RunLevels& run, const MadeRock& rock, std::size_t k) {
    const RunSettings& settings = run.settings;
    const SplitNormals* split = settings.shading == Shading::Auto ? &rock.split[k] : nullptr;
    return RockMesh{
        .positions = rock.positions,
        .normals = split != nullptr                       ? std::span<const Position>(split->normals)
                   : settings.shading == Shading::Smooth ? std::span<const Position>(rock.normals[k])
                                                         : std::span<const Position>(),
        .textures = std::span(run.textures).subspan(static_cast<std::size_t>(settings.detail) - k, 1),
        .material = &run.material,
        .name = settings.lod ? levelName(settings, rock.number, static_cast<int>(k)) : "Rock" + std::to_string(rock.number),
        .number = rock.number,
        .extent = &rock.extents[k],
        .hull = settings.collision && k == 0 ? &rock.hull : nullptr,
        .split = split};
}

// Why a rock whose hull could not be made is not written.
constexpr std::string_view kHullFailed = "its collision hull could not be made";

// The files of a made rock, every level in every format in the order they
// are written, each list made into listFor(k, f) and handed to use (which
// says whether the run goes on). False when a format cannot hold the rock,
// or its hull could not be made, whose file's name and why are then noted,
// or when use says stop.
template <typename ListFor, typename Use>
bool makeFilesOf(const RunLevels& run, const std::vector<LevelWriters>& writers, MadeRock& rock, ListFor listFor,
                 Use use) {
    const RunSettings& settings = run.settings;
    rock.notMade.clear();
    if (rock.hullFailed) {
        rock.notMade = levelName(settings, rock.number, 0) + std::string(settings.formats.front()->extension());
        rock.notMadeWhy = kHullFailed;
        return false;
    }
    for (std::size_t k = 0; k < writers.size(); ++k) {
        const RockMesh mesh = meshOf(run, rock, k);
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
int writeEachRock(const RunLevels& run, OutputDirectory& directory, RunReport& report, double& reach) {
    const RunSettings& settings = run.settings;
    const int levelsWritten = settings.lod ? settings.detail + 1 : 1;
    std::vector<LevelWriters> writers;  // [k] for detail - k
    for (int k = 0; k < levelsWritten; ++k) {
        writers.push_back(writersFor(settings, run.levels.levels[static_cast<std::size_t>(settings.detail - k)]));
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
            run, writers, rock, [&](std::size_t k, std::size_t f) -> auto& { return rock.files[k * formats + f]; },
            [&](const std::string&, const std::vector<FormatFile>&) {
                ++made;
                return true;
            });
        // Lists past a format that failed hold an earlier rock's files.
        rock.files.resize(made);
    };
    RockSequence rocks(settings, run.levels, needsOf(settings, levelsWritten, keep));
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
                run, writers, rock, [&](std::size_t, std::size_t) -> auto& { return inTurn; }, save);
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
    // The first rock whose hull could not be made; none where all were.
    std::optional<int> hullFailed;
};

// Where rock index of the pack stands: on its place of the grid, its lowest
// point on the ground (0.0 - low keeps a zero positive).
Position placeOf(const PackPlan& plan, int index, int count, const Extent& extent) {
    return plan.grid.offsetOf(index, count) + Position{0, 0, 0.0 - extent.low.z};
}

PackPlan measurePack(const RunLevels& run, bool keepRocks) {
    const RunSettings& settings = run.settings;
    PackPlan plan;
    // Heads that list every rock count its vertices, split normals too.
    const bool split = keepRocks && settings.shading == Shading::Auto;
    RockSequence rocks(settings, run.levels, {1, split ? Shading::Auto : Shading::Flat, keepRocks && settings.collision});
    const TextureCoordinates& uv = run.textures.back();
    BaseVertices base;
    baseVerticesOf(uv, base);
    SplitVertices splitVertices;
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        const Extent& extent = rock.extents[0];
        plan.grid.include(extent);
        plan.reach = std::max(plan.reach, extent.reach);
        if (!keepRocks) continue;
        PackedRock entry{rockName(settings, rock.number), extent, {}};
        if (settings.collision) {
            if (rock.hullFailed && !plan.hullFailed) plan.hullFailed = rock.number;
            entry.hullVertices = static_cast<int>(rock.hull.vertices.size());
            entry.hullTriangles = static_cast<int>(rock.hull.triangles.size());
            if (!rock.hull.vertices.empty()) entry.hullExtent = extentOf(rock.hull.vertices);
        }
        entry.texturedVertices = base.textureOf.size();
        if (split) {
            entry.splitNormals = rock.split[0].owners.size();
            splitVerticesOf(uv, rock.split[0], splitVertices);
            entry.texturedVertices += splitVertices.extras.size();
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

// One pass of a packed file over its rocks, each placed on the grid. False
// where a rock's hull could not be made: its name is then noted.
bool writePackPass(const RunLevels& run, PackWriter& writer, const PackPlan& plan, int pass, PieceWriter& out,
                   RunReport& report, PackProgress& progress, std::string& failedRock) {
    const RunSettings& settings = run.settings;
    if (!writer.passUsesRocks(pass)) {
        for (int i = 0; i < settings.count; ++i) {
            writer.appendPiece(out.buffer(), pass, RockMesh{});
            out.written();
        }
        return true;
    }
    RockSequence rocks(settings, run.levels, needsOf(settings, 1));
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        if (rock.hullFailed) {
            failedRock = rockName(settings, rock.number);
            return false;
        }
        RockMesh mesh = meshOf(run, rock, 0);
        mesh.name = rockName(settings, rock.number);
        mesh.offset = placeOf(plan, i, settings.count, rock.extents[0]);
        writer.appendPiece(out.buffer(), pass, mesh);
        out.written();
        if (pass == 0) report.progress(++progress.done, progress.total);
    }
    return true;
}

// The packed file of kind of the format (its rocks, or its hulls where it
// keeps them apart), then the files written whole after it (following
// kinds); false when the run ends here.
bool writePackFile(const RunLevels& run, OutputDirectory& directory, const Format& format, const LevelWriter& level,
                   std::span<const FileKind> kinds, const PackPlan& plan, RunReport& report, PackProgress& progress) {
    const RunSettings& settings = run.settings;
    const std::string name = settings.stem + std::string(kinds.front().suffix);
    const std::string path = directory.pathOf(name);
    report.writing(path);
    ReplacingFile out(directory, name);
    const PackContents contents{settings.stem, static_cast<std::uint64_t>(settings.count),
                                [&](std::uint64_t i) { return plan.rocks[i]; }, settings.collision, &run.material};
    const std::unique_ptr<PackWriter> writer = level.packWriter(contents, kinds.front());
    if (!writer->writeHead([&](std::string_view bytes) { out.write(bytes); })) {
        report.notMade(path, format.tooLarge());
        return false;
    }
    PieceWriter pieces(out);
    std::string failedRock;
    for (int pass = 0; pass < writer->passes() && out.state() == SaveResult::Saved; ++pass) {
        if (!writePackPass(run, *writer, plan, pass, pieces, report, progress, failedRock)) {
            // Nothing of the file stays: it never takes the old one's place.
            report.notMade(path, "the collision hull of " + failedRock + " could not be made");
            return false;
        }
    }
    pieces.flush();
    if (!saved(report, path, out.commit(report.doneLine(path)))) return false;
    for (const FileKind& whole : kinds.subspan(1)) {
        if (!saveMade(report, directory, settings.stem + std::string(whole.suffix), writer->wholeFile(whole))) {
            return false;
        }
    }
    return true;
}

int writePacked(const RunLevels& run, OutputDirectory& directory, RunReport& report, double& reach) {
    const RunSettings& settings = run.settings;
    const LevelWriters writers = writersFor(settings, run.levels.levels.back());
    const FileChoice choice{.hulls = settings.collision};
    bool listsRocks = settings.collision;
    std::size_t pieced = 0;
    for (std::size_t f = 0; f < writers.size(); ++f) {
        listsRocks = listsRocks || writers[f]->headListsRocks(settings.collision);
        for (const FileKind& kind : filesMade(settings.formats[f]->files().pack, choice)) pieced += writtenByPieces(kind);
    }
    // With hulls, every rock's is made before anything is written: one that
    // cannot be made leaves every file as it was.
    const PackPlan plan = measurePack(run, listsRocks);
    if (plan.hullFailed) {
        const std::string rock = rockName(settings, *plan.hullFailed);
        report.notMade(directory.pathOf(settings.stem + std::string(settings.formats.front()->extension())),
                       "the collision hull of " + rock + " could not be made");
        return kExitFailure;
    }
    reach = plan.reach;
    // Progress counts over the whole run: every rock once in every file
    // written a rock at a time.
    PackProgress progress{0, static_cast<long long>(settings.count) * static_cast<long long>(pieced)};
    for (std::size_t f = 0; f < writers.size(); ++f) {
        const std::vector<FileKind> kinds = filesMade(settings.formats[f]->files().pack, choice);
        // Each file written by pieces, with the files written whole that
        // follow it.
        for (std::size_t first = 0; first < kinds.size();) {
            std::size_t end = first + 1;
            while (end < kinds.size() && !writtenByPieces(kinds[end])) ++end;
            if (!writePackFile(run, directory, *settings.formats[f], *writers[f],
                               std::span(kinds).subspan(first, end - first), plan, report, progress)) {
                return kExitFailure;
            }
            first = end;
        }
    }
    return kExitSuccess;
}

// The contact sheet: every rock made again and drawn at the run's finest
// detail, at one scale for all, once every rock's files are written.
int writePreview(const RunLevels& run, double reach, RunReport& report) {
    const RunSettings& settings = run.settings;
    ContactSheet sheet(settings.count, settings.previewSize, reach);
    RockSequence rocks(settings, run.levels, SequenceNeeds{1, settings.shading});
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        const RockMesh mesh = meshOf(run, rock, 0);
        sheet.draw(i, run.levels.levels.back(), {mesh.positions, mesh.normals, mesh.split, mesh.material->baseColour});
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
    const RunLevels run = runLevelsOf(settings, levels);
    double reach = 0;
    OutputDirectory directory(settings.directory);
    const int status =
        settings.pack ? writePacked(run, directory, report, reach) : writeEachRock(run, directory, report, reach);
    if (status != kExitSuccess || settings.preview.empty()) return status;
    return writePreview(run, reach, report);
}

}  // namespace tavimor
