#pragma once

// File formats: a rock in, the bytes of its files out. Each format is one
// writer in a file of its own, which says what it is (its name, its files'
// endings, what it takes and how much it can hold) and makes its bytes.
// Nothing here opens, writes or names a file on disk.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/convex_hull.h"
#include "geometry/extent.h"
#include "geometry/normals.h"
#include "geometry/rock.h"
#include "geometry/subdivision.h"

namespace tavimor {

// One rock as a format writes it: the rock's positions (Z-up, the level's
// count of them at least), and one normal per position for smooth shading
// (none: flat), or for auto shading its split normals (and normals all of
// theirs).
struct RockMesh {
    std::span<const Position> positions = {};
    std::span<const Position> normals = {};
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
};

// The name of a rock's collision hull where it sits beside the rock in the
// same file, as engines' importers pair them: Godot's suffix for a convex
// shape that only collides ("_hull" keeps the body from taking the rock's
// name), and Unreal's prefix for a convex collision mesh of the object of
// exactly that name.
inline std::string godotHullName(std::string_view rock) { return std::string(rock) + "_hull-convcolonly"; }
inline std::string unrealHullName(std::string_view rock) { return "UCX_" + std::string(rock) + "_00"; }
// How a file of hulls of its own is named after its rock's (or pack's).
inline constexpr std::string_view kHullFileSuffix = "_hull";

// A file a format makes: how its name goes on after the rock's (or the
// pack's) base name, and its bytes.
struct FormatFile {
    std::string suffix;
    std::string bytes;
};

// files made to hold count files, each with its suffix and no bytes, the
// room of the bytes there before kept: where a writer puts a rock's files.
inline void prepareFiles(std::vector<FormatFile>& files, std::initializer_list<std::string_view> suffixes) {
    files.resize(suffixes.size());
    std::size_t i = 0;
    for (const std::string_view suffix : suffixes) {
        files[i].suffix = suffix;
        files[i++].bytes.clear();
    }
}

// What a packed file's head needs to know of a rock: its name, extent and
// place, and, with collision hulls, the hull's size and extent.
struct PackedRock {
    std::string name;
    Extent extent;
    Position offset;
    int hullVertices = 0;
    int hullTriangles = 0;
    Extent hullExtent = {};
    // With auto shading, the normals beyond one per position, and the
    // pairs of a texture vertex and such a normal (SplitNormals).
    std::uint64_t splitNormals = 0;
    std::uint64_t texturedExtras = 0;
};
struct PackContents {
    // The file's base name, without its ending: the stem.
    std::string base;
    std::uint64_t rocks = 0;
    // Rock index's entry, for heads that list every rock.
    std::function<PackedRock(std::uint64_t index)> rock;
    // Whether every rock comes with its collision hull.
    bool hulls = false;
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
    // Files that go beside the packed file, once it is written.
    virtual std::vector<FormatFile> companions() const { return {}; }
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

    // How the packed files of the format end after the stem: its own, and,
    // where it keeps collision hulls in a file of their own, that one. None
    // for a format that holds one rock a file.
    virtual std::vector<std::string_view> packSuffixes(bool hulls) const {
        (void)hulls;
        return {};
    }
    // Whether a packed file's head lists every rock (PackContents::rock).
    virtual bool headListsRocks(bool hulls) const {
        (void)hulls;
        return false;
    }
    // A writer of packed file number file (as packSuffixes lists them).
    virtual std::unique_ptr<PackWriter> packWriter(const PackContents& pack, std::size_t file) const {
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
    // The rocks' colour, for the material.
    Colour colour = kRockColour;
};

// Why a format does not take a feature; empty where it does.
struct FormatRefusals {
    std::string_view detail;
    std::string_view normals;
    std::string_view pack;
    std::string_view collision;
    // Rocks of a style other than classic.
    std::string_view style;
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
    // The ending of a rock's own file, with its point.
    virtual std::string_view extension() const = 0;
    // How the names of the files beside it end (".mtl"; "_hull.stl" with
    // collision hulls), for the checks of names made before anything is
    // written.
    virtual std::vector<std::string_view> companionSuffixes(bool hulls) const {
        (void)hulls;
        return {};
    }
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
