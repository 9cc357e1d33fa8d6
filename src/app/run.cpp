#include "app/run.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "app/rock_sequence.h"
#include "app/run_names.h"
#include "app/run_parts.h"
#include "picture/contact_sheet.h"
#include "system/exit_status.h"
#include "system/file_names.h"
#include "system/standard_streams.h"

namespace tavimor {

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
RunLevels runLevelsOf(const RunSettings& settings, const DetailLevels& levels) {
    RunLevels run{settings, levels, {}, settings.style.kind().material};
    for (const LevelMesh& level : levels.levels) run.textures.push_back(levelTextures(level));
    return run;
}

// What the files of a run need of each rock: levels, its normals as the
// shading has them, its hull where asked for.
SequenceNeeds needsOf(const RunSettings& settings, int levels, std::function<void(MadeRock&)> finish) {
    return {levels, settings.shading, settings.collision, std::move(finish)};
}

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
    const bool textured = settings.textures > 0;
    RockMesh mesh{
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
    if (textured) {
        const RockTextures& t = rock.textures;
        mesh.textures = std::span(t.views).subspan(k, 1);
        mesh.material = &rock.material;
        if (k < t.tangents.size()) mesh.tangents = t.tangents[k];
        mesh.looks = t.looks;
        // The maps are the finest level's, named after its files.
        mesh.imageStem = levelName(settings, rock.number, 0);
        mesh.writesImages = k == 0;
    }
    return mesh;
}

bool mapsFailed(const RunSettings& settings, const MadeRock& rock) {
    return settings.textures > 0 &&
           std::any_of(rock.images.begin(), rock.images.end(), [](const std::string& png) { return png.empty(); });
}

namespace {

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
    if (mapsFailed(settings, rock)) {
        rock.notMade = levelName(settings, rock.number, 0) + std::string(settings.formats.front()->extension());
        rock.notMadeWhy = kMapsFailed;
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
        reach = std::max(reach, rock.reachAsMade);
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

// The contact sheet: every rock made again and drawn at the run's finest
// detail, at one scale for all, once every rock's files are written. Each
// is framed about its centre as made, whatever origin its files have.
int writePreview(const RunLevels& run, double reach, RunReport& report) {
    RunSettings centred = run.settings;
    centred.origin = Origin::Centre;
    const RunSettings& settings = centred;
    ContactSheet sheet(settings.count, settings.previewSize, reach);
    RockSequence rocks(settings, run.levels, SequenceNeeds{1, settings.shading});
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        const RockMesh mesh = meshOf(run, rock, 0);
        SheetRock drawn{mesh.positions, mesh.normals, mesh.split, mesh.material->baseColour};
        if (settings.textures > 0) {
            drawn.uv = mesh.textures.front();
            drawn.colourMap = rock.textures.maps.baseColour;
            drawn.mapSize = rock.textures.maps.pixels;
        }
        sheet.draw(i, run.levels.levels[static_cast<std::size_t>(settings.detail)], drawn);
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
    // Maps are baked from the finest level there is; the levels above the
    // written one need no texture vertices.
    const DetailLevels levels = buildDetailLevels(settings.textures > 0 ? kMostDetail : settings.detail, settings.detail);
    const RunLevels run = runLevelsOf(settings, levels);
    double reach = 0;
    OutputDirectory directory(settings.directory);
    const int status =
        settings.pack ? writePacked(run, directory, report, reach) : writeEachRock(run, directory, report, reach);
    if (status != kExitSuccess || settings.preview.empty()) return status;
    return writePreview(run, reach, report);
}

}  // namespace tavimor
