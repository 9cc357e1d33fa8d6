#include "app/run_plan.h"

#include "app/rock_maker.h"

#include <algorithm>
#include <cmath>

#include "formats/obj_file.h"
#include "formats/pack.h"
#include "formats/preview.h"
#include "system/exit_status.h"
#include "system/file_names.h"
#include "system/standard_streams.h"

namespace tavimor {
namespace {

int digitsOf(int n) {
    int digits = 1;
    for (; n >= 10; n /= 10) ++digits;
    return digits;
}

// How one file went; false when the run ends here: at a file that failed,
// or once what the run prints can no longer be written.
bool saved(RunReport& report, const std::string& path, SaveResult result) {
    if (result != SaveResult::Saved) {
        report.failed(path, result);
        return false;
    }
    return outputFailure().empty();
}

// A file made whole in memory, then saved. No format makes an empty file:
// empty bytes are a format that failed to make its file.
bool saveMade(RunReport& report, const std::string& path, const std::string& bytes) {
    report.writing(path);
    return saved(report, path, bytes.empty() ? SaveResult::WriteFailed : saveFile(path, bytes, report.doneLine(path)));
}

// The levels the run writes, as the formats write them: all with levels of
// detail, else the finest alone.
std::vector<FormatLevel> prepareLevels(const DetailLevels& levels, bool all) {
    std::vector<FormatLevel> prepared(levels.levels.size());
    for (std::size_t k = 0; k < levels.levels.size(); ++k) {
        if (all || k + 1 == levels.levels.size()) prepared[k] = prepareLevel(levels.levels[k]);
    }
    return prepared;
}

int writeEachRock(const RunPlan& plan, const DetailLevels& levels, RunReport& report, double& reach) {
    const std::vector<FormatLevel> prepared = prepareLevels(levels, plan.lod);
    const int levelsWritten = plan.lod ? plan.detail + 1 : 1;
    RockMaker maker(plan, levels, levelsWritten);
    std::vector<FormatFile> files;
    for (int n = plan.count - 1; n >= 0; --n) {
        const std::string name = rockName(plan, n);
        // Made once, the same rock in every format and at every level.
        const MadeRock& rock = maker.next();
        const std::vector<Position>& positions = rock.positions;
        for (int k = 0; k < levelsWritten; ++k) {
            const auto detail = static_cast<std::size_t>(plan.detail - k);
            const Extent& extent = rock.extents[static_cast<std::size_t>(k)];
            if (k == 0) reach = std::max(reach, extent.reach);
            const RockMesh mesh{&prepared[detail], positions,
                                plan.smooth ? std::span<const Position>(rock.normals[static_cast<std::size_t>(k)])
                                            : std::span<const Position>(),
                                "Rock" + std::to_string(n), Position{0, 0, 0},
                                &extent};
            const std::string base = plan.lod ? name + "_LOD" + std::to_string(k) : name;
            // One format at a time: a finely detailed rock's files are large.
            for (const Format format : plan.formats) {
                files.clear();
                appendRockFiles(files, format, mesh, n, base);
                for (const FormatFile& file : files) {
                    if (!saveMade(report, joinPath(plan.directory, base + std::string(file.extension)), file.bytes)) {
                        return kExitFailure;
                    }
                }
            }
        }
        report.progress(plan.count - n, plan.count);
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

int writePacked(const RunPlan& plan, const DetailLevels& levels, RunReport& report, double& reach) {
    const FormatLevel level = prepareLevel(levels.levels.back());
    const bool glb = std::find(plan.formats.begin(), plan.formats.end(), Format::Glb) != plan.formats.end();
    std::vector<Position> normals;
    // Rock i is the i-th written, n = count - 1 - i, as files of their own
    // would be.
    const auto eachRock = [&](auto&& use) {
        Lcg generator{plan.seed};
        for (int i = 0; i < plan.count; ++i) {
            const int n = plan.count - 1 - i;
            use(i, n, makeDetailedRock(generator, plan.spike, plan.scale, levels, RockIdentity{plan.seed, n}));
        }
    };
    // First pass: how much ground the rocks take, and what glTF's head says
    // of each.
    Grid grid;
    std::vector<Extent> extents;
    eachRock([&](int, int, const std::vector<Position>& positions) {
        const Extent extent = extentOf(positions);
        grid.include(extent);
        reach = std::max(reach, extent.reach);
        if (glb) extents.push_back(extent);
    });
    std::vector<GlbRock> glbRocks;
    for (int i = 0; i < static_cast<int>(extents.size()); ++i) {
        glbRocks.push_back(glbRockOf(RockMesh{&level, {}, {}, rockName(plan, plan.count - 1 - i),
                                              grid.offsetOf(i, plan.count), &extents[static_cast<std::size_t>(i)]}));
    }

    std::string piece;
    for (const Format format : plan.formats) {
        const std::string extension(extensionsOf(format)[0]);
        const std::string path = joinPath(plan.directory, plan.stem + extension);
        const PackLayout layout{format, &level, plan.smooth, static_cast<std::uint64_t>(plan.count), plan.stem};
        report.writing(path);
        ReplacingFile file(path);
        const std::string head = packHead(layout, glbRocks, plan.stem + ".mtl");
        if (head.empty()) {
            report.failed(path, SaveResult::WriteFailed);
            return kExitFailure;
        }
        file.write(head);
        for (int part = 0; part < packParts(format) && file.state() == SaveResult::Saved; ++part) {
            if (!packPartNeedsRocks(format, part)) {
                for (int i = 0; i < plan.count; ++i) {
                    piece.clear();
                    appendPackPiece(piece, layout, part, RockMesh{&level, {}, {}, {}}, static_cast<std::uint64_t>(i));
                    file.write(piece);
                }
                continue;
            }
            eachRock([&](int i, int n, const std::vector<Position>& positions) {
                if (file.state() != SaveResult::Saved) return;
                if (plan.smooth) smoothNormals(*level.mesh, positions, normals);
                const RockMesh mesh{&level, positions,
                                    plan.smooth ? std::span<const Position>(normals) : std::span<const Position>(),
                                    rockName(plan, n),
                                    format == Format::Glb ? Position{0, 0, 0} : grid.offsetOf(i, plan.count)};
                piece.clear();
                appendPackPiece(piece, layout, part, mesh, static_cast<std::uint64_t>(i));
                file.write(piece);
                report.progress(i + 1, plan.count);
            });
        }
        if (!saved(report, path, file.commit(report.doneLine(path)))) return kExitFailure;
        if (format == Format::Obj && !saveMade(report, joinPath(plan.directory, plan.stem + ".mtl"), mtlFile())) {
            return kExitFailure;
        }
    }
    return kExitSuccess;
}

// The contact sheet: every rock made again and drawn at the run's finest
// detail, at one scale for all, once every rock's files are written.
int writePreview(const RunPlan& plan, const DetailLevels& levels, double reach, RunReport& report) {
    const FormatLevel level{&levels.levels.back()};
    ContactSheet sheet(plan.count, plan.previewSize, reach);
    Lcg generator{plan.seed};
    std::vector<Position> normals;
    for (int i = 0; i < plan.count; ++i) {
        const int n = plan.count - 1 - i;
        const std::vector<Position> positions =
            makeDetailedRock(generator, plan.spike, plan.scale, levels, RockIdentity{plan.seed, n});
        if (plan.smooth) smoothNormals(*level.mesh, positions, normals);
        sheet.draw(i, RockMesh{&level, positions, plan.smooth ? std::span<const Position>(normals)
                                                              : std::span<const Position>()});
    }
    return saveMade(report, plan.preview, sheet.png()) ? kExitSuccess : kExitFailure;
}

}  // namespace

std::string rockName(const RunPlan& plan, int n) {
    std::string number = std::to_string(n);
    const auto width = static_cast<std::size_t>(digitsOf(plan.count - 1));
    if (number.size() < width) number.insert(0, width - number.size(), '0');
    return plan.stem + number;
}

std::string firstWindowsDeviceName(const RunPlan& plan) {
    if (plan.pack) return isWindowsDeviceName(plan.stem) ? plan.stem : std::string();
    // Levels of detail end in _LOD<k>; device names end in one digit at
    // most: only runs of ten rocks or fewer can make one.
    for (int n = plan.count - 1; n >= 0 && plan.count <= 10 && !plan.lod; --n) {
        const std::string name = rockName(plan, n);
        if (isWindowsDeviceName(name)) return name;
    }
    return {};
}

int writeRun(const RunPlan& plan, RunReport& report) {
    const DetailLevels levels = buildDetailLevels(plan.detail);
    double reach = 0;
    const int status =
        plan.pack ? writePacked(plan, levels, report, reach) : writeEachRock(plan, levels, report, reach);
    if (status != kExitSuccess || plan.preview.empty()) return status;
    return writePreview(plan, levels, reach, report);
}

}  // namespace tavimor
