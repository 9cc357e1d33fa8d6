#include "formats/glb_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <limits>

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

constexpr int kArrayBuffer = 34962;         // vertex attributes
constexpr int kElementArrayBuffer = 34963;  // indices
constexpr int kFloat = 5126;
constexpr int kUnsignedShort = 5123;
constexpr int kUnsignedInt = 5125;
// A glb file states its length in 32 bits.
constexpr std::uint64_t kMostFileBytes = std::numeric_limits<std::uint32_t>::max();

// Two-byte indices while they fit (65535 stays free, as glTF asks).
bool shortIndices(std::uint64_t vertices) { return vertices <= 65535; }

std::uint64_t padded(std::uint64_t size) { return (size + 3) / 4 * 4; }

// The bytes of floats as glTF stores them, little-endian.
static_assert(std::endian::native == std::endian::little, "glTF's floats are copied as the machine holds them");

// Where each part of a rock's block starts, from the block's start.
struct BlockLayout {
    std::uint64_t vertices, indices;
    std::uint64_t positions = 0, normals, texcoords, indexBytes, size;
    bool hasNormals;
};

BlockLayout layoutOf(std::uint64_t vertices, std::uint64_t faces, bool normals) {
    BlockLayout b;
    b.vertices = vertices;
    b.indices = faces * 3;
    b.hasNormals = normals;
    b.normals = b.positions + b.vertices * 12;
    b.texcoords = b.normals + (normals ? b.vertices * 12 : 0);
    b.indexBytes = b.texcoords + b.vertices * 8;
    b.size = padded(b.indexBytes + b.indices * (shortIndices(vertices) ? 2 : 4));
    return b;
}

// The bounds of positions as stored (glTF wants them exactly, in single
// precision). Rounding to single precision keeps order, so the bounds of
// the doubles, rounded, are the bounds of the floats stored. Y-up: (x, y,
// z) is stored as (x, z, -y), so -y's bounds come from y's.
struct Bounds {
    std::array<float, 3> low{}, high{};
};

Bounds storedBounds(const Extent& extent) {
    const Position& low = extent.low;
    const Position& high = extent.high;
    return {{static_cast<float>(low.x), static_cast<float>(low.z), static_cast<float>(-high.y + 0.0)},
            {static_cast<float>(high.x), static_cast<float>(high.z), static_cast<float>(-low.y + 0.0)}};
}

// What the JSON says of one rock: its name, its positions' bounds, where
// its node stands (Y-up), and, with collision hulls, its hull's size and
// bounds.
struct GlbRock {
    std::string name;
    // Its glTF vertices, and where it is smooth, its own normals.
    std::uint64_t vertices = 0;
    Bounds bounds;
    Position translation = {0, 0, 0};
    std::uint64_t hullVertices = 0, hullTriangles = 0;
    Bounds hullBounds;
};

GlbRock glbRockOf(const std::string& name, std::uint64_t vertices, const Extent& extent, const Position& offset) {
    GlbRock rock;
    rock.name = name;
    rock.vertices = vertices;
    rock.bounds = storedBounds(extent);
    rock.translation = yUp(offset);
    return rock;
}

// A hull's block: its positions, then its indices, two bytes each (a hull
// has no more than kMostHullVertices vertices), ending on a 4-byte boundary.
static_assert(kMostHullVertices <= 65535);
std::uint64_t hullBlockSize(std::uint64_t vertices, std::uint64_t triangles) {
    return padded(vertices * 12 + triangles * 3 * 2);
}

// JSON text, written as it goes into a sink, or only counted. Numbers are
// spelled as nlohmann's JSON library spells them (the shortest digits that
// read back the same, "1.0" for a whole double), which readers of the
// earlier files saw.
class JsonText {
public:
    // Counts only, without a sink.
    explicit JsonText(const ByteSink* sink) : sink_(sink) {}
    ~JsonText() { flush(); }
    JsonText(const JsonText&) = delete;
    JsonText& operator=(const JsonText&) = delete;

    JsonText& text(std::string_view t) {
        size_ += t.size();
        if (sink_ != nullptr) {
            buffer_.append(t);
            if (buffer_.size() >= kFlushAt) flush();
        }
        return *this;
    }
    JsonText& number(std::uint64_t v) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
        return text(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }
    JsonText& number(double v) {
        char digits[64];
        const char* end = nlohmann::detail::to_chars(digits, digits + sizeof digits, v);
        return text(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }
    // A member "key": starting an object's members after its first.
    JsonText& key(std::string_view k) { return text("\"").text(k).text("\":"); }
    JsonText& string(std::string_view s) {
        text("\"");
        for (const char c : s) {
            if (c == '"' || c == '\\') {
                const char escaped[] = {'\\', c};
                text(std::string_view(escaped, 2));
            } else if (static_cast<unsigned char>(c) < 0x20) {
                constexpr char kHex[] = "0123456789abcdef";
                const char escaped[] = {'\\', 'u', '0', '0', kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
                text(std::string_view(escaped, 6));
            } else {
                text(std::string_view(&c, 1));
            }
        }
        return text("\"");
    }
    JsonText& floats(std::span<const float> values) {
        text("[");
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) text(",");
            number(static_cast<double>(values[i]));
        }
        return text("]");
    }
    std::uint64_t size() const { return size_; }

private:
    static constexpr std::size_t kFlushAt = 1 << 16;
    void flush() {
        if (sink_ != nullptr && !buffer_.empty()) (*sink_)(buffer_);
        buffer_.clear();
    }
    const ByteSink* sink_;
    std::string buffer_;
    std::uint64_t size_ = 0;
};

// What every rock of a file shares: its faces, whether it has normals, its
// colour.
struct GlbShared {
    std::uint64_t faces;
    bool normals;
    Colour colour;
};

// The JSON of rocks whose blocks follow one after the other, its members in
// name order: accessors, asset, bufferViews, buffers, materials, meshes,
// nodes, scene, scenes. Only what differs from glTF's defaults is written.
void writeJson(JsonText& out, const GlbShared& shared, std::uint64_t count,
               const std::function<GlbRock(std::uint64_t)>& rockAt, bool hulls, std::uint64_t binary) {
    // Views and accessors of a rock, and its hull's after them.
    const std::uint64_t ownPerRock = shared.normals ? 4 : 3;
    const std::uint64_t perRock = ownPerRock + (hulls ? 2 : 0);
    // Meshes and nodes: the rock's, then its hull's.
    const std::uint64_t meshesPerRock = hulls ? 2 : 1;
    const auto separate = [&](std::uint64_t i) {
        if (i > 0) out.text(",");
    };
    const auto accessor = [&](std::uint64_t view, int componentType, std::uint64_t elements, std::string_view type,
                              const Bounds* bounds) {
        out.text("{").key("bufferView").number(view);
        out.text(",").key("componentType").number(static_cast<std::uint64_t>(componentType));
        out.text(",").key("count").number(elements);
        if (bounds != nullptr) {
            out.text(",").key("max").floats(bounds->high);
            out.text(",").key("min").floats(bounds->low);
        }
        out.text(",").key("type").string(type).text("}");
    };
    out.text("{").key("accessors").text("[");
    for (std::uint64_t i = 0; i < count; ++i) {
        separate(i);
        const GlbRock rock = rockAt(i);
        const BlockLayout b = layoutOf(rock.vertices, shared.faces, shared.normals);
        const int indexType = shortIndices(b.vertices) ? kUnsignedShort : kUnsignedInt;
        const std::uint64_t first = i * perRock;
        accessor(first, kFloat, b.vertices, "VEC3", &rock.bounds);
        if (b.hasNormals) {
            out.text(",");
            accessor(first + 1, kFloat, b.vertices, "VEC3", nullptr);
        }
        out.text(",");
        accessor(first + ownPerRock - 2, kFloat, b.vertices, "VEC2", nullptr);
        out.text(",");
        accessor(first + ownPerRock - 1, indexType, b.indices, "SCALAR", nullptr);
        if (hulls) {
            out.text(",");
            accessor(first + ownPerRock, kFloat, rock.hullVertices, "VEC3", &rock.hullBounds);
            out.text(",");
            accessor(first + ownPerRock + 1, kUnsignedShort, rock.hullTriangles * 3, "SCALAR", nullptr);
        }
    }
    out.text("],").key("asset").text("{").key("generator").string("tavimor");
    out.text(",").key("version").string("2.0").text("},");

    const auto view = [&](std::uint64_t offset, std::uint64_t length, int target) {
        out.text("{").key("buffer").number(std::uint64_t{0}).text(",").key("byteLength").number(length);
        if (offset != 0) out.text(",").key("byteOffset").number(offset);
        out.text(",").key("target").number(static_cast<std::uint64_t>(target)).text("}");
    };
    out.key("bufferViews").text("[");
    std::uint64_t start = 0;  // of the rock's block: each rock's, then its hull's, in turn
    for (std::uint64_t i = 0; i < count; ++i) {
        separate(i);
        const GlbRock rock = rockAt(i);
        const BlockLayout b = layoutOf(rock.vertices, shared.faces, shared.normals);
        const int indexType = shortIndices(b.vertices) ? kUnsignedShort : kUnsignedInt;
        view(start + b.positions, b.vertices * 12, kArrayBuffer);
        if (b.hasNormals) {
            out.text(",");
            view(start + b.normals, b.vertices * 12, kArrayBuffer);
        }
        out.text(",");
        view(start + b.texcoords, b.vertices * 8, kArrayBuffer);
        out.text(",");
        view(start + b.indexBytes, b.indices * (indexType == kUnsignedShort ? 2 : 4), kElementArrayBuffer);
        start += b.size;
        if (hulls) {
            out.text(",");
            view(start, rock.hullVertices * 12, kArrayBuffer);
            out.text(",");
            view(start + rock.hullVertices * 12, rock.hullTriangles * 3 * 2, kElementArrayBuffer);
            start += hullBlockSize(rock.hullVertices, rock.hullTriangles);
        }
    }
    out.text("],").key("buffers").text("[{").key("byteLength").number(binary).text("}],");

    // Stone is no metal, and matte (a roughness of 1 is glTF's default).
    out.key("materials").text("[{").key("name").string("rock").text(",").key("pbrMetallicRoughness").text("{");
    const Colour& colour = shared.colour;
    out.key("baseColorFactor").text("[").number(colour.red).text(",").number(colour.green);
    out.text(",").number(colour.blue).text(",").number(1.0).text("],");
    out.key("metallicFactor").number(0.0).text("}}],");

    out.key("meshes").text("[");
    for (std::uint64_t i = 0; i < count; ++i) {
        separate(i);
        const std::uint64_t first = i * perRock;
        const std::string name = rockAt(i).name;
        out.text("{").key("name").string(name).text(",").key("primitives").text("[{");
        out.key("attributes").text("{");
        if (shared.normals) out.key("NORMAL").number(first + 1).text(",");
        out.key("POSITION").number(first).text(",").key("TEXCOORD_0").number(first + ownPerRock - 2).text("},");
        out.key("indices").number(first + ownPerRock - 1).text(",").key("material").number(std::uint64_t{0});
        out.text(",").key("mode").number(std::uint64_t{4}).text("}]}");
        if (hulls) {
            // A shape to collide with: no material, nothing to see.
            out.text(",{").key("name").string(godotHullName(name)).text(",").key("primitives").text("[{");
            out.key("attributes").text("{").key("POSITION").number(first + ownPerRock).text("},");
            out.key("indices").number(first + ownPerRock + 1).text(",").key("mode").number(std::uint64_t{4});
            out.text("}]}");
        }
    }
    const auto node = [&](std::uint64_t mesh, const std::string& name, const Position& t) {
        out.text("{").key("mesh").number(mesh).text(",").key("name").string(name);
        if (t.x != 0 || t.y != 0 || t.z != 0) {
            out.text(",").key("translation").text("[").number(t.x).text(",").number(t.y).text(",");
            out.number(t.z).text("]");
        }
        out.text("}");
    };
    out.text("],").key("nodes").text("[");
    for (std::uint64_t i = 0; i < count; ++i) {
        separate(i);
        const GlbRock rock = rockAt(i);
        node(i * meshesPerRock, rock.name, rock.translation);
        // The hull stands where its rock does.
        if (hulls) {
            out.text(",");
            node(i * meshesPerRock + 1, godotHullName(rock.name), rock.translation);
        }
    }
    out.text("],").key("scene").number(std::uint64_t{0}).text(",").key("scenes").text("[{").key("nodes").text("[");
    for (std::uint64_t i = 0; i < count * meshesPerRock; ++i) {
        separate(i);
        out.number(i);
    }
    out.text("]}]}");
}

void putU32(std::string& out, std::uint32_t v) { ByteWriter(out, 4).u32(v); }

// The file: header, JSON chunk padded with blanks, then the head of the
// binary chunk, whose bytes follow. False, with nothing written, if the
// file would pass glTF's 4 GiB.
bool writeHead(const GlbShared& shared, std::uint64_t count, const std::function<GlbRock(std::uint64_t)>& rockAt,
               bool hulls, const ByteSink& put) {
    std::uint64_t binary = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const GlbRock rock = rockAt(i);
        binary += layoutOf(rock.vertices, shared.faces, shared.normals).size;
        if (hulls) binary += hullBlockSize(rock.hullVertices, rock.hullTriangles);
        // Too large already without its JSON: no need to count it.
        if (binary > kMostFileBytes) return false;
    }
    std::uint64_t json;
    {
        JsonText counter(nullptr);
        writeJson(counter, shared, count, rockAt, hulls, binary);
        json = counter.size();
    }
    const std::uint64_t total = 12 + 8 + padded(json) + 8 + binary;
    if (total > kMostFileBytes) return false;
    std::string head = "glTF";
    putU32(head, 2);
    putU32(head, static_cast<std::uint32_t>(total));
    putU32(head, static_cast<std::uint32_t>(padded(json)));
    head.append("JSON");
    put(head);
    {
        JsonText text(&put);
        writeJson(text, shared, count, rockAt, hulls, binary);
    }
    std::string tail(padded(json) - json, ' ');
    putU32(tail, static_cast<std::uint32_t>(binary));
    tail.append("BIN", 4);
    put(tail);
    return true;
}

// With split normals, a rock's own glTF vertices: one for each texture
// vertex, as without them, with the normal of the first corner that uses
// it, and one more for each other normal the corners of a texture vertex
// use. Only the corners at positions whose normals split are looked at.
struct SplitVertices {
    // Of each vertex beyond one per texture vertex: its texture vertex and
    // normal.
    std::vector<std::array<int, 2>> extras;
    // The normal each texture vertex at a split position takes; -1 for the
    // others (the normal of their position).
    std::vector<int> firstNormal;
    // The corners (3 f + k) whose vertex is not their texture vertex's, and
    // the vertex (counted from the first extra).
    std::vector<std::array<std::uint32_t, 2>> patched;

    void find(const LevelMesh& level, const SplitNormals& split) {
        extras.clear();
        patched.clear();
        others_.clear();
        firstNormal.assign(level.textureOwners.size(), -1);
        for (const int c : split.splitCorners) {
            const auto f = static_cast<std::size_t>(c / 3), k = static_cast<std::size_t>(c % 3);
            const auto t = static_cast<std::size_t>(level.faceTextures[f][k]);
            const int normal = split.corners[f][k];
            if (firstNormal[t] < 0) firstNormal[t] = normal;
            if (firstNormal[t] != normal) others_.push_back({static_cast<int>(t), normal, c});
        }
        // The extras in order of texture vertex and normal, each corner
        // pointed at its own.
        std::sort(others_.begin(), others_.end());
        for (std::size_t i = 0; i < others_.size(); ++i) {
            const auto& [texture, normal, corner] = others_[i];
            if (i == 0 || texture != others_[i - 1][0] || normal != others_[i - 1][1]) extras.push_back({texture, normal});
            patched.push_back({static_cast<std::uint32_t>(corner), static_cast<std::uint32_t>(extras.size() - 1)});
        }
    }

private:
    // Texture vertex, normal, corner.
    std::vector<std::array<int, 3>> others_;
};

class GlbWriter final : public LevelWriter {
public:
    GlbWriter(const LevelMesh& level, const WriterSettings& settings)
        : level_(level), shared_{level.faces.size(), settings.shading != Shading::Flat, settings.colour} {
        vertexOf_.assign(level.textureOwners.size(), 0);
        for (std::size_t t = 0; t < level.textureOwners.size(); ++t) {
            if (level.textureOwners[t] < 0) continue;
            vertexOf_[t] = static_cast<std::uint32_t>(owners_.size());
            owners_.push_back(level.textureOwners[t]);
            textureOf_.push_back(t);
            // glTF puts the texture origin at the top left, the rock's tables at
            // the bottom left.
            ByteWriter put(texcoords_, 8);
            put.f32(level.textureVertices[t].u);
            put.f32(1.0 - level.textureVertices[t].v);
        }
        indices_ = indexBytes(owners_.size());
    }

    // A file of one rock appended to out; false, with out as it was, past
    // glTF's 4 GiB.
    bool appendFile(std::string& out, const RockMesh& rock) const {
        const auto count = static_cast<std::size_t>(level_.positionCount);
        const Extent extent = rock.extent != nullptr ? *rock.extent : extentOf(rock.positions.first(count));
        SplitVertices split;
        if (rock.split != nullptr) split.find(level_, *rock.split);
        GlbRock entry = glbRockOf(rock.name, owners_.size() + split.extras.size(), extent, rock.offset);
        const bool hull = rock.hull != nullptr;
        if (hull) {
            entry.hullVertices = rock.hull->vertices.size();
            entry.hullTriangles = rock.hull->triangles.size();
            entry.hullBounds = storedBounds(extentOf(rock.hull->vertices));
        }
        const std::size_t start = out.size();
        const bool fits = writeHead(shared_, 1, [&](std::uint64_t) { return entry; }, hull,
                                    [&](std::string_view bytes) { out.append(bytes); });
        if (!fits) {
            out.resize(start);
            return false;
        }
        appendBlock(out, rock, split);
        if (hull) appendHullBlock(out, *rock.hull);
        return true;
    }

    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        prepareFiles(files, {".glb"});
        return appendFile(files[0].bytes, rock);
    }
    std::vector<std::string_view> packSuffixes(bool) const override { return {".glb"}; }
    bool headListsRocks(bool) const override { return true; }
    std::unique_ptr<PackWriter> packWriter(const PackContents& pack, std::size_t) const override {
        return std::make_unique<Pack>(*this, pack);
    }

private:
    // Every rock's block in turn, each followed by its hull's where there
    // is one. A rock's mesh stays where it was made; its node carries its
    // place.
    class Pack final : public PackWriter {
    public:
        Pack(const GlbWriter& writer, PackContents pack) : writer_(writer), pack_(std::move(pack)) {}
        bool writeHead(const ByteSink& put) override {
            return tavimor::writeHead(writer_.shared_, pack_.rocks,
                                      [&](std::uint64_t i) {
                                          const PackedRock rock = pack_.rock(i);
                                          GlbRock entry =
                                              glbRockOf(rock.name, writer_.owners_.size() + rock.texturedExtras,
                                                        rock.extent, rock.offset);
                                          entry.hullVertices = static_cast<std::uint64_t>(rock.hullVertices);
                                          entry.hullTriangles = static_cast<std::uint64_t>(rock.hullTriangles);
                                          entry.hullBounds = storedBounds(rock.hullExtent);
                                          return entry;
                                      },
                                      pack_.hulls, put);
        }
        void appendPiece(std::string& out, int, const RockMesh& rock) override {
            if (rock.split != nullptr) split_.find(writer_.level_, *rock.split);
            writer_.appendBlock(out, rock, split_);
            if (rock.hull != nullptr) writer_.appendHullBlock(out, *rock.hull);
        }

    private:
        const GlbWriter& writer_;
        PackContents pack_;
        SplitVertices split_;
    };

    // A hull's block: its positions, Y-up, then its triangles' corners.
    static void appendHullBlock(std::string& out, const CollisionHull& hull) {
        ByteWriter put(out, static_cast<std::size_t>(hullBlockSize(hull.vertices.size(), hull.triangles.size())));
        for (const Position& vertex : hull.vertices) {
            const Position p = yUp(vertex);
            put.f32(p.x);
            put.f32(p.y);
            put.f32(p.z);
        }
        for (const auto& triangle : hull.triangles) {
            for (const int corner : triangle) put.u16(static_cast<std::uint16_t>(corner));
        }
        put.zerosUpTo(static_cast<std::size_t>(hullBlockSize(hull.vertices.size(), hull.triangles.size())));
    }

    // The indices of the faces' corners, counter-clockwise seen from
    // outside: each corner's texture vertex's glTF vertex.
    std::string indexBytes(std::size_t vertices) const {
        const bool shortIndex = shortIndices(vertices);
        std::string out;
        ByteWriter put(out, level_.faceTextures.size() * 3 * (shortIndex ? 2 : 4));
        for (const auto& textures : level_.faceTextures) {
            for (const int t : outwardCorners(textures)) {
                const std::uint32_t index = vertexOf_[static_cast<std::size_t>(t)];
                if (shortIndex) {
                    put.u16(static_cast<std::uint16_t>(index));
                } else {
                    put.u32(index);
                }
            }
        }
        return out;
    }

    // One rock's block: positions, normals where smooth, texture coordinates
    // and indices, ending on a 4-byte boundary.
    void appendBlock(std::string& out, const RockMesh& rock, const SplitVertices& split) const {
        const bool splits = rock.split != nullptr;
        const std::size_t extras = splits ? split.extras.size() : 0;
        const std::size_t vertices = owners_.size() + extras;
        const BlockLayout layout = layoutOf(vertices, shared_.faces, shared_.normals);
        const std::size_t end = out.size() + static_cast<std::size_t>(layout.size);
        out.reserve(end);
        // A vertex attribute, gathered from the vectors it belongs to, a few
        // hundred vertices at a time: its position's, or with split normals,
        // its normal's.
        const auto appendVectors = [&](std::span<const Position> from, bool byNormal) {
            constexpr std::size_t kChunk = 256;
            std::array<float, 3 * kChunk> chunk;
            for (std::size_t first = 0; first < vertices; first += kChunk) {
                const std::size_t count = std::min(kChunk, vertices - first);
                for (std::size_t i = 0; i < count; ++i) {
                    const std::size_t v = first + i;
                    std::size_t at;
                    if (v < owners_.size()) {
                        const int normal = splits && byNormal ? split.firstNormal[textureOf_[v]] : -1;
                        at = static_cast<std::size_t>(normal >= 0 ? normal : owners_[v]);
                    } else {
                        const auto& [texture, normal] = split.extras[v - owners_.size()];
                        at = static_cast<std::size_t>(byNormal ? normal : level_.textureOwners[static_cast<std::size_t>(texture)]);
                    }
                    const Position p = yUp(from[at]);
                    chunk[3 * i] = static_cast<float>(p.x);
                    chunk[3 * i + 1] = static_cast<float>(p.y);
                    chunk[3 * i + 2] = static_cast<float>(p.z);
                }
                out.append(reinterpret_cast<const char*>(chunk.data()), count * 12);
            }
        };
        appendVectors(rock.positions, false);
        if (layout.hasNormals) appendVectors(rock.normals, true);
        out.append(texcoords_);
        if (extras == 0) {
            // The rest is the level's own, the same in every rock.
            out.append(indices_);
        } else {
            {
                ByteWriter put(out, extras * 8);
                for (const auto& [texture, normal] : split.extras) {
                    const TextureVertex& t = level_.textureVertices[static_cast<std::size_t>(texture)];
                    put.f32(t.u);
                    put.f32(1.0 - t.v);
                }
            }
            // The level's indices, widened where the extras pass 65535, and
            // the corners of the extras patched in.
            const bool shortIndex = shortIndices(vertices);
            const std::size_t start = out.size(), size = shortIndex ? 2 : 4;
            if (shortIndex == shortIndices(owners_.size())) {
                out.append(indices_);
            } else {
                out.append(indexBytes(vertices));
            }
            for (const auto& [corner, extra] : split.patched) {
                // Written counter-clockwise: corners 1 and 2 of each face swap.
                const std::uint32_t k = corner % 3, at = corner - k + (k == 0 ? 0 : 3 - k);
                const auto index = static_cast<std::uint32_t>(owners_.size() + extra);
                for (std::size_t b = 0; b < size; ++b) out[start + at * size + b] = static_cast<char>((index >> (8 * b)) & 0xFF);
            }
        }
        out.resize(end, '\0');
    }

    const LevelMesh& level_;
    GlbShared shared_;
    // A glTF vertex for each texture vertex in use, and the position it
    // belongs to.
    std::vector<int> owners_;
    std::vector<std::size_t> textureOf_;
    std::vector<std::uint32_t> vertexOf_;
    // The texture coordinates and indices, as they are written.
    std::string texcoords_, indices_;
};

class GlbFormat final : public Format {
public:
    std::string_view name() const override { return "glb"; }
    std::string_view extension() const override { return ".glb"; }
    PackLimit packLimit(const LevelCounts& counts, Shading shading, bool hulls) const override {
        // The JSON of a rock takes well under 2 KiB, and its hull's as much
        // again beside the hull's block.
        const std::uint64_t hull = hulls ? hullBlockSize(kMostHullVertices, kMostHullTriangles) + 2048 : 0;
        // Split normals add vertices as they come: a quarter more is
        // allowed for here, and the head refuses a file past 4 GiB.
        const std::uint64_t vertices = counts.usedTextureVertices + (shading == Shading::Auto ? counts.usedTextureVertices / 4 : 0);
        const std::uint64_t perRock = layoutOf(vertices, counts.faces, shading != Shading::Flat).size + 2048 + hull;
        return {(kMostFileBytes - 4096) / perRock, "a glb file holds at most 4 GiB"};
    }
    std::string_view tooLarge() const override { return "a glb file holds at most 4 GiB"; }
    std::unique_ptr<LevelWriter> writerFor(const LevelMesh& level, const WriterSettings& settings) const override {
        return std::make_unique<GlbWriter>(level, settings);
    }
};

}  // namespace

const Format& glbFormat() {
    static const GlbFormat format;
    return format;
}

std::optional<std::string> glbFile(const LevelMesh& level, const RockMesh& rock) {
    std::string out;
    const WriterSettings settings{rock.split != nullptr ? Shading::Auto : rock.normals.empty() ? Shading::Flat : Shading::Smooth};
    if (!GlbWriter(level, settings).appendFile(out, rock)) return std::nullopt;
    return out;
}

}  // namespace tavimor
