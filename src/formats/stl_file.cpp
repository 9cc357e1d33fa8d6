#include "formats/stl_file.h"

#include <cmath>
#include <utility>

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

std::string stlHead(std::string_view title, std::uint32_t facets) {
    // An 80-byte header that must not start with "solid": readers take such
    // a file for the text form of STL.
    std::string out = "binary STL made by tavimor: ";
    out.append(title);
    out.resize(80, ' ');
    ByteWriter(out, 4).u32(facets);
    return out;
}

void appendFacets(std::string& out, const LevelMesh& level, const RockMesh& rock) {
    ByteWriter put(out, level.faces.size() * 50);
    for (const auto& face : level.faces) {
        const auto corners = outwardCorners(face);
        const Position a = offsetBy(rock.positions[static_cast<std::size_t>(corners[0])], rock.offset);
        const Position b = offsetBy(rock.positions[static_cast<std::size_t>(corners[1])], rock.offset);
        const Position c = offsetBy(rock.positions[static_cast<std::size_t>(corners[2])], rock.offset);
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
}

void appendFile(std::string& out, const LevelMesh& level, const RockMesh& rock) {
    out.append(stlHead(rock.name, static_cast<std::uint32_t>(level.faces.size())));
    appendFacets(out, level, rock);
}

class StlWriter final : public LevelWriter {
public:
    explicit StlWriter(const LevelMesh& level) : level_(level) {}

    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        prepareFiles(files, {".stl"});
        appendFile(files[0].bytes, level_, rock);
        return true;
    }
    bool writePackHead(const PackContents& pack, const ByteSink& put) const override {
        put(stlHead(pack.base + ", " + std::to_string(pack.rocks) + " rocks",
                    static_cast<std::uint32_t>(pack.rocks * level_.faces.size())));
        return true;
    }
    void appendPackPiece(std::string& out, int, const RockMesh& rock, std::uint64_t) const override {
        appendFacets(out, level_, rock);
    }

private:
    const LevelMesh& level_;
};

class StlFormat final : public Format {
public:
    std::string_view name() const override { return "stl"; }
    std::string_view extension() const override { return ".stl"; }
    PackLimit packLimit(const LevelCounts& counts, bool) const override {
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

std::string stlFile(const LevelMesh& level, const RockMesh& rock) {
    std::string out;
    appendFile(out, level, rock);
    return out;
}

}  // namespace tavimor
