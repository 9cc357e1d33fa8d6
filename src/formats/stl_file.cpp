#include "formats/stl_file.h"

#include <cmath>
#include <utility>

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

// A rock's facets in its own file, its hull's in one beside it; packed, the
// same two for all of them.
constexpr FileKind kStlFiles[] = {{".stl", FileRole::Mesh}, {"_hull.stl", FileRole::Hull, FileNeed::Hulls}};

std::string stlHead(std::string_view title, std::uint32_t facets) {
    // An 80-byte header that must not start with "solid": readers take such
    // a file for the text form of STL.
    std::string out = "binary STL made by tavimor: ";
    out.append(title);
    out.resize(80, ' ');
    ByteWriter(out, 4).u32(facets);
    return out;
}

// One facet, counter-clockwise seen from outside, with its unit normal.
void putFacet(ByteWriter& put, const Position& a, const Position& b, const Position& c) {
    Position n = cross(b - a, c - a);
    const double length = std::sqrt(dot(n, n));
    if (length > 0) n = {n.x / length, n.y / length, n.z / length};
    for (const Position* p : {&std::as_const(n), &a, &b, &c}) {
        put.f32(p->x);
        put.f32(p->y);
        put.f32(p->z);
    }
    put.u16(0);  // attribute byte count
}

void appendFacets(std::string& out, const LevelMesh& level, const RockMesh& rock) {
    ByteWriter put(out, level.faces.size() * 50);
    for (const auto& face : level.faces) {
        const auto corners = outwardCorners(face);
        putFacet(put, offsetBy(rock.positions[static_cast<std::size_t>(corners[0])], rock.offset),
                 offsetBy(rock.positions[static_cast<std::size_t>(corners[1])], rock.offset),
                 offsetBy(rock.positions[static_cast<std::size_t>(corners[2])], rock.offset));
    }
}

void appendHullFacets(std::string& out, const CollisionHull& hull, const Position& offset) {
    ByteWriter put(out, hull.triangles.size() * 50);
    for (const auto& [a, b, c] : hull.triangles) {
        putFacet(put, offsetBy(hull.vertices[static_cast<std::size_t>(a)], offset),
                 offsetBy(hull.vertices[static_cast<std::size_t>(b)], offset),
                 offsetBy(hull.vertices[static_cast<std::size_t>(c)], offset));
    }
}

void appendFile(std::string& out, const LevelMesh& level, const RockMesh& rock) {
    out.append(stlHead(rock.name, static_cast<std::uint32_t>(level.faces.size())));
    appendFacets(out, level, rock);
}

// A packed file: every rock's facets, or every rock's hull's.
class StlPack final : public PackWriter {
public:
    StlPack(const LevelMesh& level, const PackContents& pack, bool hulls)
        : level_(level), pack_(pack), hulls_(hulls) {}

    bool writeHead(const ByteSink& put) override {
        std::uint64_t facets = pack_.rocks * level_.faces.size();
        if (hulls_) {
            facets = 0;
            for (std::uint64_t i = 0; i < pack_.rocks; ++i) facets += static_cast<std::uint64_t>(pack_.rock(i).hullTriangles);
        }
        put(stlHead(pack_.base + (hulls_ ? std::string(kHullName) : "") + ", " + std::to_string(pack_.rocks) +
                        " rocks",
                    static_cast<std::uint32_t>(facets)));
        return true;
    }
    void appendPiece(std::string& out, int, const RockMesh& rock) override {
        if (hulls_) {
            appendHullFacets(out, *rock.hull, rock.offset);
        } else {
            appendFacets(out, level_, rock);
        }
    }

private:
    const LevelMesh& level_;
    PackContents pack_;
    bool hulls_;
};

class StlWriter final : public LevelWriter {
public:
    explicit StlWriter(const LevelMesh& level) : level_(level) {}

    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        prepareRockFiles(files, kStlFiles, rock);
        appendFile(fileWith(files, FileRole::Mesh)->bytes, level_, rock);
        if (FormatFile* hull = fileWith(files, FileRole::Hull)) {
            hull->bytes.append(
                stlHead(rock.name + std::string(kHullName), static_cast<std::uint32_t>(rock.hull->triangles.size())));
            appendHullFacets(hull->bytes, *rock.hull, rock.offset);
        }
        return true;
    }
    bool headListsRocks(bool hulls) const override { return hulls; }
    std::unique_ptr<PackWriter> packWriter(const PackContents& pack, const FileKind& file) const override {
        return std::make_unique<StlPack>(level_, pack, file.role == FileRole::Hull);
    }

private:
    const LevelMesh& level_;
};

class StlFormat final : public Format {
public:
    std::string_view name() const override { return "stl"; }
    FormatFiles files() const override { return {kStlFiles, kStlFiles}; }
    FormatRefusals refusals() const override {
        FormatRefusals no;
        no.textures = "an STL file holds no texture maps";
        return no;
    }
    PackLimit packLimit(const LevelCounts& counts, Shading, bool) const override {
        // A hull has fewer facets than any rock: the rocks' file is the one
        // that can grow too large.
        return {4294967295u / counts.faces, "an STL file counts at most 4294967295 facets"};
    }
    std::unique_ptr<LevelWriter> writerFor(const LevelMesh& level, const WriterSettings&) const override {
        return std::make_unique<StlWriter>(level);
    }
};

}  // namespace

const Format& stlFormat() {
    static const StlFormat format;
    return format;
}

}  // namespace tavimor
