// Every rock of a run in one file per format: measured once (where each
// stands, and for heads that list every rock, each one's extent, hull and
// vertices, kept on disk, so that memory stays flat in the count), then
// written a rock at a time, its hull made once and read back in every pass.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "app/run_names.h"
#include "app/run_parts.h"
#include "system/exit_status.h"
#include "system/scratch_file.h"

namespace tavimor {
namespace {

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

// Plain numbers in and out of the scratch files, as this machine holds
// them: they never leave the run.
template <typename T>
void put(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
template <typename T>
T take(const char*& at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

void putExtent(std::string& out, const Extent& e) {
    for (const double v : {e.low.x, e.low.y, e.low.z, e.high.x, e.high.y, e.high.z, e.reach}) put(out, v);
}
Extent takeExtent(const char*& at) {
    Extent e;
    for (double* v : {&e.low.x, &e.low.y, &e.low.z, &e.high.x, &e.high.y, &e.high.z, &e.reach}) *v = take<double>(at);
    return e;
}

// What a packed file's head needs of a rock, a fixed size each: its extent,
// its hull's size and extent, its split normals and vertices.
constexpr std::size_t kRecordSize = 2 * 7 * 8 + 2 * 2 + 2 * 8 + kImageRoles * 8;

std::string recordOf(const PackedRock& rock) {
    std::string out;
    putExtent(out, rock.extent);
    putExtent(out, rock.hullExtent);
    put(out, static_cast<std::uint16_t>(rock.hullVertices));
    put(out, static_cast<std::uint16_t>(rock.hullTriangles));
    put(out, rock.splitNormals);
    put(out, rock.texturedVertices);
    for (const std::uint64_t bytes : rock.imageBytes) put(out, bytes);
    return out;
}

PackedRock rockOfRecord(const char* at) {
    PackedRock rock;
    rock.extent = takeExtent(at);
    rock.hullExtent = takeExtent(at);
    rock.hullVertices = take<std::uint16_t>(at);
    rock.hullTriangles = take<std::uint16_t>(at);
    rock.splitNormals = take<std::uint64_t>(at);
    rock.texturedVertices = take<std::uint64_t>(at);
    for (std::uint64_t& bytes : rock.imageBytes) bytes = take<std::uint64_t>(at);
    return rock;
}

// A hull as the scratch file keeps it: its counts, its vertices in single
// precision (they lie on a grid of floats, so nothing is lost) and its
// corners in a byte each (a hull has at most 64 vertices).
static_assert(kMostHullVertices <= 256);
void putHull(std::string& out, const CollisionHull& hull) {
    put(out, static_cast<std::uint16_t>(hull.vertices.size()));
    put(out, static_cast<std::uint16_t>(hull.triangles.size()));
    for (const Position& v : hull.vertices) {
        for (const double c : {v.x, v.y, v.z}) put(out, static_cast<float>(c));
    }
    for (const auto& t : hull.triangles) {
        for (const int corner : t) put(out, static_cast<std::uint8_t>(corner));
    }
}

// What a packed run keeps of its rocks between its passes, on disk: a
// record for each rock (where a head lists every rock) and each rock's
// hull (where it has one), so that a hull is made once a run and memory
// stays flat in the count.
class PackStore {
public:
    PackStore(const OutputDirectory& beside, bool records, bool hulls) {
        if (records) records_.emplace(beside);
        if (hulls) hulls_.emplace(beside);
    }
    bool ok() const { return (!records_ || records_->ok()) && (!hulls_ || hulls_->ok()); }
    void add(const PackedRock& rock, const CollisionHull* hull) {
        if (records_) records_->append(recordOf(rock));
        if (hulls_ && hull != nullptr) {
            scratch_.clear();
            putHull(scratch_, *hull);
            hulls_->append(scratch_);
        }
    }
    // Rock index's record, read a block of records at a time: heads ask
    // for them in order, again and again.
    std::optional<PackedRock> record(std::uint64_t index) {
        if (!records_) return std::nullopt;
        const std::uint64_t block = index / kBlock;
        if (block != cached_) {
            const std::uint64_t first = block * kBlock * kRecordSize;
            const std::uint64_t size = std::min<std::uint64_t>(kBlock * kRecordSize, records_->size() - first);
            cache_.resize(static_cast<std::size_t>(size));
            if (!records_->read(first, cache_.data(), cache_.size())) return std::nullopt;
            cached_ = block;
        }
        return rockOfRecord(cache_.data() + (index % kBlock) * kRecordSize);
    }

    // The hulls in the order they were kept, for one pass over the rocks.
    class Hulls {
    public:
        explicit Hulls(PackStore& store) : store_(store) {}
        // The next rock's hull; none where it cannot be read back.
        const CollisionHull* next() {
            char counts[4];
            if (!read(counts, 4)) return nullptr;
            const char* at = counts;
            const auto vertices = take<std::uint16_t>(at), triangles = take<std::uint16_t>(at);
            bytes_.resize(std::size_t{vertices} * 12 + std::size_t{triangles} * 3);
            if (!read(bytes_.data(), bytes_.size())) return nullptr;
            at = bytes_.data();
            hull_.vertices.resize(vertices);
            for (Position& v : hull_.vertices) {
                v.x = take<float>(at);
                v.y = take<float>(at);
                v.z = take<float>(at);
            }
            hull_.triangles.resize(triangles);
            for (auto& t : hull_.triangles) {
                for (int& corner : t) corner = take<std::uint8_t>(at);
            }
            return &hull_;
        }

    private:
        // Size bytes on from where the last read ended, through a buffer.
        bool read(char* into, std::size_t size) {
            ScratchFile& file = *store_.hulls_;
            while (size > 0) {
                if (at_ == buffer_.size()) {
                    const std::uint64_t left = file.size() - offset_;
                    if (left == 0) return false;
                    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, 1 << 16)));
                    if (!file.read(offset_, buffer_.data(), buffer_.size())) return false;
                    offset_ += buffer_.size();
                    at_ = 0;
                }
                const std::size_t n = std::min(size, buffer_.size() - at_);
                std::memcpy(into, buffer_.data() + at_, n);
                at_ += n;
                into += n;
                size -= n;
            }
            return true;
        }
        PackStore& store_;
        std::string buffer_;
        std::size_t at_ = 0;
        std::uint64_t offset_ = 0;
        std::string bytes_;
        CollisionHull hull_;
    };

private:
    static constexpr std::uint64_t kBlock = 512;
    std::optional<ScratchFile> records_, hulls_;
    std::string scratch_;
    std::string cache_;
    std::uint64_t cached_ = UINT64_MAX;
};

// What a packed run knows of its rocks before it writes them: the ground
// they take, how far they reach, and what it keeps of each.
struct PackPlan {
    Grid grid;
    double reach = 0;
    // The first rock whose hull could not be made; none where all were.
    std::optional<int> hullFailed;
};

// Where rock index of the pack stands: on its place of the grid, its lowest
// point on the ground (0.0 - low keeps a zero positive).
Position placeOf(const PackPlan& plan, int index, int count, const Extent& extent) {
    return plan.grid.offsetOf(index, count) + Position{0, 0, 0.0 - extent.low.z};
}

// Every rock made once, with its hull where the run makes them: its place
// on the grid measured, and what the heads and the passes need of it kept.
PackPlan measurePack(const RunLevels& run, PackStore& store, bool records) {
    const RunSettings& settings = run.settings;
    PackPlan plan;
    // Heads that list every rock count its vertices, split normals too;
    // baked maps are baked as they will be written, with the run's shading.
    const bool maps = settings.textures > 0;
    const bool split = records && settings.shading == Shading::Auto;
    const Shading shading = maps ? settings.shading : (split ? Shading::Auto : Shading::Flat);
    RockSequence rocks(settings, run.levels, {1, shading, settings.collision});
    BaseVertices base;
    baseVerticesOf(run.textures[static_cast<std::size_t>(settings.detail)], base);
    SplitVertices splitVertices;
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        const Extent& extent = rock.extents[0];
        plan.grid.include(extent);
        plan.reach = std::max(plan.reach, rock.reachAsMade);
        if (rock.hullFailed && !plan.hullFailed) plan.hullFailed = rock.number;
        PackedRock entry;
        entry.extent = extent;
        if (settings.collision) {
            entry.hullVertices = static_cast<int>(rock.hull.vertices.size());
            entry.hullTriangles = static_cast<int>(rock.hull.triangles.size());
            if (!rock.hull.vertices.empty()) entry.hullExtent = extentOf(rock.hull.vertices);
        }
        // A rock with maps has texture coordinates of its own.
        const TextureCoordinates& uv = maps ? rock.textures.views[0] : run.textures[static_cast<std::size_t>(settings.detail)];
        if (maps) {
            baseVerticesOf(uv, base);
            for (std::size_t role = 0; role < kImageRoles; ++role) entry.imageBytes[role] = rock.images[role].size();
        }
        entry.texturedVertices = base.textureOf.size();
        if (split) {
            entry.splitNormals = rock.split[0].owners.size();
            splitVerticesOf(uv, rock.split[0], splitVertices);
            entry.texturedVertices += splitVertices.extras.size();
        }
        store.add(entry, settings.collision ? &rock.hull : nullptr);
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

// One pass of a packed file over its rocks, each placed on the grid, its
// hull read back. False where a hull could not be read back.
bool writePackPass(const RunLevels& run, PackWriter& writer, const PackPlan& plan, PackStore& store, int pass,
                   PieceWriter& out, OutputDirectory& directory, RunReport& report, PackProgress& progress,
                   bool& filesFailed) {
    const RunSettings& settings = run.settings;
    if (!writer.passUsesRocks(pass)) {
        for (int i = 0; i < settings.count; ++i) {
            writer.appendPiece(out.buffer(), pass, RockMesh{});
            out.written();
        }
        return true;
    }
    SequenceNeeds needs = needsOf(settings, 1);
    needs.hull = false;
    std::vector<FormatFile> beside;
    RockSequence rocks(settings, run.levels, needs);
    PackStore::Hulls hulls(store);
    for (int i = 0; i < settings.count; ++i) {
        const MadeRock& rock = rocks.next();
        RockMesh mesh = meshOf(run, rock, 0);
        if (settings.collision) {
            mesh.hull = hulls.next();
            if (mesh.hull == nullptr) return false;
        }
        mesh.name = rockName(settings, rock.number);
        mesh.imageStem = mesh.name;
        mesh.offset = placeOf(plan, i, settings.count, rock.extents[0]);
        if (mapsFailed(settings, rock)) {
            report.notMade(directory.pathOf(mesh.name), kMapsFailed);
            filesFailed = true;
            return true;
        }
        writer.appendPiece(out.buffer(), pass, mesh);
        out.written();
        if (pass == 0) {
            // The rock's own files beside the pack (its maps), in place
            // before the pack that names them.
            writer.rockFiles(mesh, beside);
            for (const FormatFile& file : beside) {
                if (!saveMade(report, directory, mesh.name + file.suffix, file.bytes)) {
                    filesFailed = true;
                    return true;
                }
            }
            report.progress(++progress.done, progress.total);
        }
    }
    return true;
}

// The packed file of kind of the format (its rocks, or its hulls where it
// keeps them apart), then the files written whole after it (following
// kinds); false when the run ends here.
bool writePackFile(const RunLevels& run, OutputDirectory& directory, const Format& format, const LevelWriter& level,
                   std::span<const FileKind> kinds, const PackPlan& plan, PackStore& store, RunReport& report,
                   PackProgress& progress) {
    const RunSettings& settings = run.settings;
    const std::string name = settings.stem + std::string(kinds.front().suffix);
    const std::string path = directory.pathOf(name);
    report.writing(path);
    ReplacingFile out(directory, name);
    bool readBack = true;
    const auto rockAt = [&](std::uint64_t i) {
        std::optional<PackedRock> rock = store.record(i);
        if (!rock) {
            readBack = false;
            return PackedRock{};
        }
        const int number = settings.count - 1 - static_cast<int>(i);
        rock->name = rockName(settings, number);
        rock->offset = placeOf(plan, static_cast<int>(i), settings.count, rock->extent);
        return *rock;
    };
    const PackContents contents{settings.stem, static_cast<std::uint64_t>(settings.count), rockAt, settings.collision,
                                &run.material, settings.textures > 0};
    const std::unique_ptr<PackWriter> writer = level.packWriter(contents, kinds.front());
    if (!writer->writeHead([&](std::string_view bytes) { out.write(bytes); })) {
        report.notMade(path, format.tooLarge());
        return false;
    }
    PieceWriter pieces(out);
    bool filesFailed = false;
    for (int pass = 0; pass < writer->passes() && out.state() == SaveResult::Saved && readBack && !filesFailed; ++pass) {
        readBack = writePackPass(run, *writer, plan, store, pass, pieces, directory, report, progress, filesFailed);
    }
    // A file of a rock beside the pack failed, and said so: the pack never
    // takes the old one's place.
    if (filesFailed) return false;
    pieces.flush();
    // What the run kept of its rocks could not be read back: nothing of
    // the file stays, and it never takes the old one's place.
    if (!readBack) {
        report.failed(path, SaveResult::WriteFailed);
        return false;
    }
    if (!saved(report, path, out.commit(report.doneLine(path)))) return false;
    for (const FileKind& whole : kinds.subspan(1)) {
        if (!writtenWhole(whole)) continue;
        if (!saveMade(report, directory, settings.stem + std::string(whole.suffix), writer->wholeFile(whole))) {
            return false;
        }
    }
    return true;
}

}  // namespace

int writePacked(const RunLevels& run, OutputDirectory& directory, RunReport& report, double& reach) {
    const RunSettings& settings = run.settings;
    const LevelWriters writers = writersFor(settings, run.levels.levels[static_cast<std::size_t>(settings.detail)]);
    const FileChoice choice{.hulls = settings.collision, .textures = settings.textures > 0};
    bool listsRocks = false;
    std::size_t pieced = 0;
    for (std::size_t f = 0; f < writers.size(); ++f) {
        listsRocks = listsRocks || writers[f]->headListsRocks(settings.collision);
        for (const FileKind& kind : filesMade(settings.formats[f]->files().pack, choice)) pieced += writtenByPieces(kind);
    }
    // With hulls, every rock's is made before anything is written: one that
    // cannot be made leaves every file as it was.
    PackStore store(directory, listsRocks, settings.collision);
    const PackPlan plan = measurePack(run, store, listsRocks);
    const std::string first = directory.pathOf(settings.stem + std::string(settings.formats.front()->extension()));
    if (plan.hullFailed) {
        report.notMade(first, "the collision hull of " + rockName(settings, *plan.hullFailed) + " could not be made");
        return kExitFailure;
    }
    if (!store.ok()) {
        report.failed(first, SaveResult::WriteFailed);
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
        for (std::size_t start = 0; start < kinds.size();) {
            std::size_t end = start + 1;
            while (end < kinds.size() && !writtenByPieces(kinds[end])) ++end;
            if (!writePackFile(run, directory, *settings.formats[f], *writers[f],
                               std::span(kinds).subspan(start, end - start), plan, store, report, progress)) {
                return kExitFailure;
            }
            start = end;
        }
    }
    return kExitSuccess;
}

}  // namespace tavimor
