#pragma once

// File formats: a rock in, the bytes of its files out. Each format is one
// writer in a file of its own, which says what it is (its name, its files'
// endings, what it takes and how much it can hold) and makes its bytes.
// Nothing here opens, writes or names a file on disk.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/bake.h"
#include "geometry/convex_hull.h"
#include "geometry/extent.h"
#include "geometry/material.h"
#include "geometry/normals.h"
#include "geometry/rock.h"
#include "geometry/split_normals.h"
#include "geometry/subdivision.h"
#include "geometry/textured_vertices.h"

namespace tavimor {

// One rock as a format writes it: the rock's positions (Z-up, the level's
// count of them at least), and one normal per position for smooth shading
// (none: flat), or for auto shading its split normals (and normals all of
// theirs); its texture coordinates and its material.
struct RockMesh {
    std::span<const Position> positions = {};
    std::span<const Position> normals = {};
    // Its sets of texture coordinates, the first first; a format that
    // holds one set takes the first.
    std::span<const TextureCoordinates> textures = {};
    const Material* material = nullptr;
    // The object's name in the file, and the rock's number.
    std::string name = {};
    int number = 0;
    // Where the rock stands in a file of many (Z-up); zero in a file of its own.
    Position offset = {0, 0, 0};
    // The extent of the level's positions, where it is known already.
    const Extent* extent = nullptr;
    // Its collision hull, where the run makes them (in the rock's own place:
    // the offset moves it too); none otherwise.
    const CollisionHull* hull = nullptr;
    // With auto shading, the normals split along sharp edges (normals
    // holds all of theirs); none otherwise.
    const SplitNormals* split = nullptr;
    // With baked maps (the material's images): the tangent of each corner
    // of each face, faces and corners as the level's (none where flat);
    // the look of each position, for a format that colours its vertices;
    // the name stem of the images' files, and whether this rock's files
    // include them (a coarser level of detail names its finest's).
    std::span<const Tangent> tangents = {};
    std::span<const PointLook> looks = {};
    std::string imageStem = {};
    bool writesImages = false;
};

// The name of a rock's collision hull where it sits beside the rock in the
// same file, as engines' importers pair them: Godot's suffix for a convex
// shape that only collides ("_hull" keeps the body from taking the rock's
// name), and Unreal's prefix for a convex collision mesh of the object of
// exactly that name.
inline constexpr std::string_view kGodotHullSuffix = "_hull-convcolonly";
inline std::string godotHullName(std::string_view rock) { return std::string(rock) + std::string(kGodotHullSuffix); }
inline std::string unrealHullName(std::string_view rock) { return "UCX_" + std::string(rock) + "_00"; }

// What a file of a format holds.
enum class FileRole { Mesh, MaterialLibrary, Image, Hull };
// What a file is made for: every rock, or only where the run makes
// collision hulls, or textures.
enum class FileNeed { Always, Hulls, Textures };

// One of the files a format makes: how its name goes on after the rock's
// (or the pack's) base name, and what it holds.
struct FileKind {
    std::string_view suffix;
    FileRole role;
    FileNeed need = FileNeed::Always;
    // In a pack: a file for each rock beside the pack, named after the
    // rock (STEM<n>), not after the pack.
    bool eachRock = false;
};

// Every file a format makes, described once: what one rock makes, its own
// file first, and what a packed file of many rocks makes, in the order
// they are written. A pack's mesh and hull files are written a rock at a
// time; a file of any other role is written whole after them. The checks
// of names made before anything is written, the writers and the progress
// of a run all read this.
struct FormatFiles {
    std::span<const FileKind> rock;
    std::span<const FileKind> pack;
};

// What a run's files come with.
struct FileChoice {
    bool hulls = false;
    bool textures = false;
};

// The kinds of files made for that choice, in order.
std::vector<FileKind> filesMade(std::span<const FileKind> kinds, FileChoice choice);

// Whether a packed file of that kind is written a rock at a time.
constexpr bool writtenByPieces(const FileKind& kind) { return kind.role == FileRole::Mesh || kind.role == FileRole::Hull; }
// Whether a packed file of that kind is written whole once the pieces are.
constexpr bool writtenWhole(const FileKind& kind) { return !writtenByPieces(kind) && !kind.eachRock; }

// A file a format makes: how its name goes on after the rock's (or the
// pack's) base name, and its bytes.
struct FormatFile {
    std::string suffix;
    std::string bytes;
    FileRole role = FileRole::Mesh;
};

// Sets files up to hold the files of kinds: each with its suffix and no
// bytes, the room of the bytes there before kept. A writer puts a rock's
// files there.
void prepareFiles(std::vector<FormatFile>& files, std::span<const FileKind> kinds);

// What a packed file's head needs to know of a rock: its name, extent and
// place, and, with collision hulls, the hull's size and extent.
struct PackedRock {
    std::string name;
    Extent extent = {};
    Position offset = {0, 0, 0};
    int hullVertices = 0;
    int hullTriangles = 0;
    Extent hullExtent = {};
    // With auto shading, the normals beyond one per position.
    std::uint64_t splitNormals = 0;
    // Its vertices where each keeps one texture coordinate and one normal:
    // one per texture vertex in use (baseVerticesOf), and with split
    // normals the extras (splitVerticesOf).
    std::uint64_t texturedVertices = 0;
    // With baked maps, the size of each map's PNG file, by role.
    std::array<std::uint64_t, kImageRoles> imageBytes = {};
};
struct PackContents {
    // The file's base name, without its ending: the stem.
    std::string base;
    std::uint64_t rocks = 0;
    // Rock index's entry, for heads that list every rock.
    std::function<PackedRock(std::uint64_t index)> rock;
    // Whether every rock comes with its collision hull.
    bool hulls = false;
    // The rocks' material (with baked maps, each rock has its own).
    const Material* material = nullptr;
    bool textures = false;
};

// Receives a file's bytes a piece at a time.
using ByteSink = std::function<void(std::string_view bytes)>;

// One file of many rocks being written: a head, then a piece of every rock
// for each of the format's passes over the rocks, in the order written.
class PackWriter {
public:
    virtual ~PackWriter() = default;
    virtual int passes() const { return 1; }
    // Whether a pass's pieces need the rocks (PLY's faces do not).
    virtual bool passUsesRocks(int pass) const {
        (void)pass;
        return true;
    }
    // Writes the head; false when the format cannot hold the pack.
    virtual bool writeHead(const ByteSink& put) = 0;
    // The next rock's piece of a pass, placed at its offset.
    virtual void appendPiece(std::string& out, int pass, const RockMesh& rock) = 0;
    // The files of the rock just pieced (pass 0) that go beside the pack
    // (the kinds each rock has), in order, into files.
    virtual void rockFiles(const RockMesh& rock, std::vector<FormatFile>& files) const {
        (void)rock;
        files.clear();
    }
    // The bytes of a file of the pack written whole once the pieces are
    // (one not writtenByPieces), from what the pieces showed.
    virtual std::string wholeFile(const FileKind& kind) const {
        (void)kind;
        return {};
    }
};

// A format's writer for one detail level of a run: what every rock of the
// level shares is worked out once, when it is made. Its rock files may be
// made on several threads at once.
class LevelWriter {
public:
    virtual ~LevelWriter() = default;

    // The files of one rock into files, named base + suffix, its own file
    // first; the room of the bytes already in files is used again. False
    // when the format cannot hold the rock.
    virtual bool rockFiles(const RockMesh& rock, std::string_view base, std::vector<FormatFile>& files) const = 0;

    // Whether a packed file's head lists every rock (PackContents::rock).
    virtual bool headListsRocks(bool hulls) const {
        (void)hulls;
        return false;
    }
    // A writer of the packed file of that kind (one of the format's pack
    // files, written by pieces).
    virtual std::unique_ptr<PackWriter> packWriter(const PackContents& pack, const FileKind& file) const {
        (void)pack;
        (void)file;
        return nullptr;
    }
};

// What every rock of a run has in common as a writer sees it.
struct WriterSettings {
    // Smooth: every rock comes with a normal per position; auto: with its
    // split normals.
    Shading shading = Shading::Flat;
};

// Why a format does not take a feature; empty where it does.
struct FormatRefusals {
    std::string_view detail;
    std::string_view normals;
    std::string_view pack;
    std::string_view collision;
    // Rocks of a style other than classic.
    std::string_view style;
    // Baked texture maps.
    std::string_view textures;
    // Baked texture maps on flat faces.
    std::string_view flatTextures;
};

// How many rocks a packed file can hold at most, and why no more.
struct PackLimit {
    std::uint64_t rocks = UINT64_MAX;
    std::string_view why = {};
};

class Format {
public:
    virtual ~Format() = default;
    // As the command line names it.
    virtual std::string_view name() const = 0;
    virtual FormatFiles files() const = 0;
    // The ending of a rock's own file, with its point.
    std::string_view extension() const { return files().rock.front().suffix; }
    virtual FormatRefusals refusals() const { return {}; }
    virtual PackLimit packLimit(const LevelCounts& counts, Shading shading, bool hulls) const {
        (void)counts;
        (void)shading;
        (void)hulls;
        return {};
    }
    // Why the format could not hold a rock or a pack, for the message.
    virtual std::string_view tooLarge() const { return {}; }
    virtual std::unique_ptr<LevelWriter> writerFor(const LevelMesh& level, const WriterSettings& settings) const = 0;
};

// Every format, in the order the help lists them.
std::span<const Format* const> allFormats();
// The format of that name, or null.
const Format* formatNamed(std::string_view name);
// The dialogue's format: the ASCII Caligari object file.
const Format& cobFormat();

}  // namespace tavimor
