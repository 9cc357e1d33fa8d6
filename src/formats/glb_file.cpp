#include "formats/glb_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
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

// Every rock in the one file, its hull beside it in the same file.
constexpr FileKind kGlbFiles[] = {{".glb", FileRole::Mesh}};

// Two-byte indices while they fit (65535 stays free, as glTF asks).
bool shortIndices(std::uint64_t vertices) { return vertices <= 65535; }

std::uint64_t padded(std::uint64_t size) { return (size + 3) / 4 * 4; }

// The bytes of floats as glTF stores them, little-endian.
static_assert(std::endian::native == std::endian::little, "glTF's floats are copied as the machine holds them");

}  // namespace

std::size_t spellJsonNumber(double v, char* out) {
    char* at = out;
    if (std::signbit(v)) {
        *at++ = '-';
        v = -v;
    }
    if (v == 0) {
        std::memcpy(at, "0.0", 3);
        return static_cast<std::size_t>(at - out) + 3;
    }
    // The digits and the exponent of the first: d.ddde+x.
    char scientific[32];
    const char* end = std::to_chars(scientific, scientific + sizeof scientific, v, std::chars_format::scientific).ptr;
    char digits[20];
    int count = 0;
    const char* p = scientific;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits[count++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
    // Where the point goes, counted in digits from the first.
    const int point = exponent + 1;
    const auto put = [&](const char* from, int n) {
        std::memcpy(at, from, static_cast<std::size_t>(n));
        at += n;
    };
    const auto zeros = [&](int n) {
        std::memset(at, '0', static_cast<std::size_t>(n));
        at += n;
    };
    constexpr int kLongestPlain = 15, kSmallestPlain = -4;
    if (count <= point && point <= kLongestPlain) {
        put(digits, count);
        zeros(point - count);
        put(".0", 2);
    } else if (0 < point && point <= kLongestPlain) {
        put(digits, point);
        *at++ = '.';
        put(digits + point, count - point);
    } else if (kSmallestPlain < point && point <= 0) {
        put("0.", 2);
        zeros(-point);
        put(digits, count);
    } else {
        *at++ = digits[0];
        if (count > 1) {
            *at++ = '.';
            put(digits + 1, count - 1);
        }
        *at++ = 'e';
        *at++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) *at++ = '0';
        at = std::to_chars(at, at + 3, magnitude).ptr;
    }
    return static_cast<std::size_t>(at - out);
}

namespace {

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

// What the JSON says of one rock: its name, its vertices and their bounds,
// where its node stands (Y-up), and, with collision hulls, its hull's size
// and bounds.
struct GlbRock {
    std::string name;
    std::uint64_t vertices = 0;
    Bounds bounds;
    Position translation = {0, 0, 0};
    bool hull = false;
    std::uint64_t hullVertices = 0, hullTriangles = 0;
    Bounds hullBounds;
    // With baked maps, each map's PNG bytes, by role.
    std::array<std::uint64_t, kImageRoles> imageBytes = {};
};

GlbRock glbRockOf(const std::string& name, std::uint64_t vertices, const Extent& extent, const Position& offset) {
    GlbRock rock;
    rock.name = name;
    rock.vertices = vertices;
    rock.bounds = storedBounds(extent);
    rock.translation = yUp(offset);
    return rock;
}

// What every rock of a file shares: its faces, whether it has normals, its
// material.
struct GlbShared {
    std::uint64_t faces;
    bool normals;
    Material material;
    // With baked maps (each rock its own material and images) and, with
    // normals, a tangent at every vertex.
    bool maps = false;
    bool tangents = false;
};

// A list with room for a few entries, so that a rock's lists cost no
// allocation.
template <typename T, std::size_t N>
struct Few {
    std::array<T, N> items{};
    std::size_t count = 0;
    std::size_t add(const T& item) {
        items[count] = item;
        return count++;
    }
    std::span<const T> all() const { return std::span(items).first(count); }
};

struct BufferView {
    // From the start of the rock's block.
    std::uint64_t offset, length;
    int target;
};
struct Accessor {
    // The rock's own view.
    std::size_t view;
    int componentType;
    std::uint64_t count;
    std::string_view type;
    // Positions state their bounds.
    const Bounds* bounds = nullptr;
};
struct Attribute {
    std::string_view name;
    // The rock's own accessor.
    std::size_t accessor;
};
struct GlbMesh {
    // Named as its rock, or as its rock's hull; its node as well.
    bool hull;
    // In name order, as the JSON lists them.
    Few<Attribute, 5> attributes;
    std::size_t indices;
    bool material;
};

// Everything of one rock in the file: its buffer views, accessors and
// meshes (its own, then its hull's, each under a node of its own where the
// rock stands), and the bytes of its blocks, built once from what the JSON
// says of it. The JSON and the binary chunk are both written from it.
struct RockLayout {
    Few<BufferView, 12> views;
    Few<Accessor, 8> accessors;
    Few<GlbMesh, 2> meshes;
    // The views of the material's images, in order of role.
    Few<std::size_t, kImageRoles> images;
    // Whether its vertices carry tangents, after their normals.
    bool tangents = false;
    // The rock's block (positions, normals, texture coordinates and
    // indices, ending on a 4-byte boundary) and its hull's after it.
    std::uint64_t rockBlock = 0;
    std::uint64_t size = 0;
};

RockLayout layoutOf(const GlbRock& rock, const GlbShared& shared) {
    RockLayout layout;
    std::uint64_t at = 0;
    const auto view = [&](std::uint64_t length, int target) {
        const std::size_t v = layout.views.add({at, length, target});
        at += length;
        return v;
    };
    const bool shortIndex = shortIndices(rock.vertices);
    GlbMesh mesh{false, {}, 0, true};
    const std::size_t positions =
        layout.accessors.add({view(rock.vertices * 12, kArrayBuffer), kFloat, rock.vertices, "VEC3", &rock.bounds});
    std::size_t normals = 0;
    if (shared.normals) {
        normals = layout.accessors.add({view(rock.vertices * 12, kArrayBuffer), kFloat, rock.vertices, "VEC3"});
    }
    std::size_t tangents = 0;
    layout.tangents = shared.tangents;
    if (shared.tangents) {
        tangents = layout.accessors.add({view(rock.vertices * 16, kArrayBuffer), kFloat, rock.vertices, "VEC4"});
    }
    const std::size_t texcoords =
        layout.accessors.add({view(rock.vertices * 8, kArrayBuffer), kFloat, rock.vertices, "VEC2"});
    const std::uint64_t indices = shared.faces * 3;
    mesh.indices = layout.accessors.add({view(indices * (shortIndex ? 2 : 4), kElementArrayBuffer),
                                         shortIndex ? kUnsignedShort : kUnsignedInt, indices, "SCALAR"});
    if (shared.normals) mesh.attributes.add({"NORMAL", normals});
    mesh.attributes.add({"POSITION", positions});
    if (shared.tangents) mesh.attributes.add({"TANGENT", tangents});
    mesh.attributes.add({"TEXCOORD_0", texcoords});
    layout.meshes.add(mesh);
    at = padded(at);
    layout.rockBlock = at;
    if (rock.hull) {
        // A shape to collide with: no material, nothing to see. Its indices
        // take two bytes each: a hull has no more than kMostHullVertices
        // vertices.
        static_assert(kMostHullVertices <= 65535);
        GlbMesh hull{true, {}, 0, false};
        hull.attributes.add({"POSITION", layout.accessors.add({view(rock.hullVertices * 12, kArrayBuffer), kFloat,
                                                               rock.hullVertices, "VEC3", &rock.hullBounds})});
        hull.indices = layout.accessors.add({view(rock.hullTriangles * 3 * 2, kElementArrayBuffer), kUnsignedShort,
                                             rock.hullTriangles * 3, "SCALAR"});
        layout.meshes.add(hull);
        at = padded(at);
    }
    // The material's images, each a view of its own (no target: they are
    // no vertex data), after everything else.
    for (std::size_t role = 0; role < kImageRoles && shared.maps; ++role) {
        layout.images.add(view(rock.imageBytes[role], 0));
        at = padded(at);
    }
    layout.size = at;
    return layout;
}

// The most a rock's layout takes, to bound a pack before it is counted:
// a hull of the most vertices and triangles.
std::uint64_t mostHullBytes() { return padded(kMostHullVertices * 12 + kMostHullTriangles * 3 * 2); }

// JSON text, written as it goes into a sink, or only counted.
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
        char digits[32];
        return text(std::string_view(digits, spellJsonNumber(v, digits)));
    }
    // A member "key": starting an object's members after its first.
    JsonText& key(std::string_view k) { return text("\"").text(k).text("\":"); }
    // A string of s and then more.
    JsonText& string(std::string_view s, std::string_view more = {}) {
        text("\"");
        escaped(s);
        escaped(more);
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
    // A string's characters, escaped as JSON asks.
    void escaped(std::string_view s) {
        for (const char c : s) {
            if (c == '"' || c == '\\') {
                const char pair[] = {'\\', c};
                text(std::string_view(pair, 2));
            } else if (static_cast<unsigned char>(c) < 0x20) {
                constexpr char kHex[] = "0123456789abcdef";
                const char code[] = {'\\', 'u', '0', '0', kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
                text(std::string_view(code, 6));
            } else {
                text(std::string_view(&c, 1));
            }
        }
    }
    void flush() {
        if (sink_ != nullptr && !buffer_.empty()) (*sink_)(buffer_);
        buffer_.clear();
    }
    const ByteSink* sink_;
    std::string buffer_;
    std::uint64_t size_ = 0;
};

using RockAt = std::function<GlbRock(std::uint64_t)>;

// The JSON of rocks whose blocks follow one after the other, its members in
// name order: accessors, asset, bufferViews, buffers, materials, meshes,
// nodes, scene, scenes. Only what differs from glTF's defaults is written.
// Each array lists every rock's entries in turn, numbered on from the
// rocks before.
void writeJson(JsonText& out, const GlbShared& shared, std::uint64_t count, const RockAt& rockAt,
               std::uint64_t binary) {
    const auto separate = [&](bool& first) {
        if (!first) out.text(",");
        first = false;
    };
    out.text("{").key("accessors").text("[");
    bool first = true;
    std::uint64_t views = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const GlbRock rock = rockAt(i);
        const RockLayout layout = layoutOf(rock, shared);
        for (const Accessor& a : layout.accessors.all()) {
            separate(first);
            out.text("{").key("bufferView").number(views + a.view);
            out.text(",").key("componentType").number(static_cast<std::uint64_t>(a.componentType));
            out.text(",").key("count").number(a.count);
            if (a.bounds != nullptr) {
                out.text(",").key("max").floats(a.bounds->high);
                out.text(",").key("min").floats(a.bounds->low);
            }
            out.text(",").key("type").string(a.type).text("}");
        }
        views += layout.views.count;
    }
    out.text("],").key("asset").text("{").key("generator").string("tavimor");
    out.text(",").key("version").string("2.0").text("},");

    out.key("bufferViews").text("[");
    first = true;
    std::uint64_t start = 0;  // of the rock's blocks
    for (std::uint64_t i = 0; i < count; ++i) {
        const RockLayout layout = layoutOf(rockAt(i), shared);
        for (const BufferView& v : layout.views.all()) {
            separate(first);
            out.text("{").key("buffer").number(std::uint64_t{0}).text(",").key("byteLength").number(v.length);
            if (start + v.offset != 0) out.text(",").key("byteOffset").number(start + v.offset);
            if (v.target != 0) out.text(",").key("target").number(static_cast<std::uint64_t>(v.target));
            out.text("}");
        }
        start += layout.size;
    }
    out.text("],").key("buffers").text("[{").key("byteLength").number(binary).text("}],");

    const Material& material = shared.material;
    const bool maps = shared.maps;
    if (maps) {
        // Every rock's images, each in a view of its own after the rock's
        // other views.
        out.key("images").text("[");
        first = true;
        std::uint64_t before = 0;
        for (std::uint64_t i = 0; i < count; ++i) {
            const RockLayout layout = layoutOf(rockAt(i), shared);
            for (std::size_t k = 0; k < layout.images.count; ++k) {
                separate(first);
                out.text("{").key("bufferView").number(before + layout.images.items[k]);
                out.text(",").key("mimeType").string("image/png").text("}");
            }
            before += layout.views.count;
        }
        out.text("],");
    }
    // One material for every rock; with maps, one a rock, naming its own
    // three textures.
    out.key("materials").text("[");
    for (std::uint64_t i = 0; i < (maps ? count : 1); ++i) {
        if (i > 0) out.text(",");
        out.text("{").key("name").string("rock").text(",");
        if (maps) {
            out.key("normalTexture").text("{").key("index").number(3 * i + 1).text("},");
            out.key("occlusionTexture").text("{").key("index").number(3 * i + 2).text("},");
        }
        out.key("pbrMetallicRoughness").text("{");
        if (maps) {
            out.key("baseColorTexture").text("{").key("index").number(3 * i).text("},");
        } else {
            const Colour& colour = material.baseColour;
            out.key("baseColorFactor").text("[").number(colour.red).text(",").number(colour.green);
            out.text(",").number(colour.blue).text(",").number(1.0).text("],");
        }
        out.key("metallicFactor").number(material.metalness);
        if (maps) out.text(",").key("metallicRoughnessTexture").text("{").key("index").number(3 * i + 2).text("}");
        if (material.roughness != 1) out.text(",").key("roughnessFactor").number(material.roughness);
        out.text("}}");
    }
    out.text("],");

    out.key("meshes").text("[");
    first = true;
    std::uint64_t accessors = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const GlbRock rock = rockAt(i);
        const RockLayout layout = layoutOf(rock, shared);
        for (const GlbMesh& mesh : layout.meshes.all()) {
            separate(first);
            out.text("{").key("name").string(rock.name, mesh.hull ? kGodotHullSuffix : "").text(",");
            out.key("primitives").text("[{");
            out.key("attributes").text("{");
            bool firstAttribute = true;
            for (const Attribute& attribute : mesh.attributes.all()) {
                if (!firstAttribute) out.text(",");
                firstAttribute = false;
                out.key(attribute.name).number(accessors + attribute.accessor);
            }
            out.text("},").key("indices").number(accessors + mesh.indices);
            if (mesh.material) out.text(",").key("material").number(maps ? i : std::uint64_t{0});
            out.text(",").key("mode").number(std::uint64_t{4}).text("}]}");
        }
        accessors += layout.accessors.count;
    }
    out.text("],").key("nodes").text("[");
    first = true;
    std::uint64_t meshes = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const GlbRock rock = rockAt(i);
        const RockLayout layout = layoutOf(rock, shared);
        // Every mesh of the rock stands where the rock does.
        const Position& t = rock.translation;
        for (const GlbMesh& mesh : layout.meshes.all()) {
            separate(first);
            out.text("{").key("mesh").number(meshes++).text(",").key("name").string(rock.name, mesh.hull ? kGodotHullSuffix : "");
            if (t.x != 0 || t.y != 0 || t.z != 0) {
                out.text(",").key("translation").text("[").number(t.x).text(",").number(t.y).text(",");
                out.number(t.z).text("]");
            }
            out.text("}");
        }
    }
    out.text("],");
    if (maps) {
        // Smooth between texels and between mipmaps.
        out.key("samplers").text("[{").key("magFilter").number(std::uint64_t{9729});
        out.text(",").key("minFilter").number(std::uint64_t{9987}).text("}],");
    }
    out.key("scene").number(std::uint64_t{0}).text(",").key("scenes").text("[{").key("nodes").text("[");
    for (std::uint64_t i = 0; i < meshes; ++i) {
        if (i > 0) out.text(",");
        out.number(i);
    }
    out.text("]}]");
    if (maps) {
        out.text(",").key("textures").text("[");
        for (std::uint64_t i = 0; i < kImageRoles * count; ++i) {
            if (i > 0) out.text(",");
            out.text("{").key("sampler").number(std::uint64_t{0}).text(",").key("source").number(i).text("}");
        }
        out.text("]");
    }
    out.text("}");
}

void putU32(std::string& out, std::uint32_t v) { ByteWriter(out, 4).u32(v); }

// The file: header, JSON chunk padded with blanks, then the head of the
// binary chunk, whose bytes follow. False, with nothing written, if the
// file would pass glTF's 4 GiB.
bool writeHead(const GlbShared& shared, std::uint64_t count, const RockAt& rockAt, const ByteSink& put) {
    std::uint64_t binary = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        binary += layoutOf(rockAt(i), shared).size;
        // Too large already without its JSON: no need to count it.
        if (binary > kMostFileBytes) return false;
    }
    std::uint64_t json;
    {
        JsonText counter(nullptr);
        writeJson(counter, shared, count, rockAt, binary);
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
        writeJson(text, shared, count, rockAt, binary);
    }
    std::string tail(padded(json) - json, ' ');
    putU32(tail, static_cast<std::uint32_t>(binary));
    tail.append("BIN", 4);
    put(tail);
    return true;
}

// A rock's glTF vertices: one for each texture vertex in use (the base
// vertices of its texture coordinates), then, with split normals, one for
// each further normal a texture vertex's corners use.
struct RockVertices {
    const BaseVertices* base = nullptr;
    SplitVertices split;
    bool splits = false;
    std::size_t count() const { return base->textureOf.size() + (splits ? split.extras.size() : 0); }
};

class GlbWriter final : public LevelWriter {
public:
    GlbWriter(const LevelMesh& level, const WriterSettings& settings)
        : level_(level), normals_(settings.shading != Shading::Flat), levelTextures_(levelTextures(level)) {
        baseVerticesOf(levelTextures_, levelBase_);
        // What every rock with the level's own texture coordinates writes
        // the same: those coordinates, and its indices.
        appendTexcoords(texcoords_, levelTextures_, levelBase_);
        indices_ = indexBytes(levelTextures_, levelBase_, levelBase_.textureOf.size());
    }

    // A file of one rock appended to out; false, with out as it was, past
    // glTF's 4 GiB.
    bool appendFile(std::string& out, const RockMesh& rock) const {
        const auto count = static_cast<std::size_t>(level_.positionCount);
        const Extent extent = rock.extent != nullptr ? *rock.extent : extentOf(rock.positions.first(count));
        RockVertices vertices;
        BaseVertices own;
        verticesOf(rock, own, vertices);
        GlbRock entry = glbRockOf(rock.name, vertices.count(), extent, rock.offset);
        if (rock.hull != nullptr) {
            entry.hull = true;
            entry.hullVertices = rock.hull->vertices.size();
            entry.hullTriangles = rock.hull->triangles.size();
            entry.hullBounds = storedBounds(extentOf(rock.hull->vertices));
        }
        const GlbShared shared = sharedOf(*rock.material, !rock.tangents.empty() || rock.material->hasImages());
        entry.imageBytes = imageBytesOf(rock);
        const std::size_t start = out.size();
        const bool fits = writeHead(shared, 1, [&](std::uint64_t) { return entry; },
                                    [&](std::string_view bytes) { out.append(bytes); });
        if (!fits) {
            out.resize(start);
            return false;
        }
        appendBlocks(out, rock, vertices, layoutOf(entry, shared));
        return true;
    }

    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        prepareRockFiles(files, kGlbFiles, rock);
        return appendFile(files[0].bytes, rock);
    }
    bool headListsRocks(bool) const override { return true; }
    std::unique_ptr<PackWriter> packWriter(const PackContents& pack, const FileKind&) const override {
        return std::make_unique<Pack>(*this, pack);
    }

private:
    // Every rock's blocks in turn. A rock's mesh stays where it was made;
    // its node carries its place.
    class Pack final : public PackWriter {
    public:
        Pack(const GlbWriter& writer, PackContents pack) : writer_(writer), pack_(std::move(pack)) {}
        bool writeHead(const ByteSink& put) override {
            return tavimor::writeHead(writer_.sharedOf(*pack_.material, pack_.textures), pack_.rocks, [&](std::uint64_t i) {
                return entryOf(pack_.rock(i));
            }, put);
        }
        void appendPiece(std::string& out, int, const RockMesh& rock) override {
            writer_.verticesOf(rock, own_, vertices_);
            writer_.appendBlocks(out, rock, vertices_, layoutOf(entryOf(rock), writer_.sharedOf(*rock.material, pack_.textures)));
        }

    private:
        // What the head said of a rock: it sized the rock's blocks.
        GlbRock entryOf(const PackedRock& rock) const {
            GlbRock entry = glbRockOf(rock.name, rock.texturedVertices, rock.extent, rock.offset);
            entry.hull = pack_.hulls;
            entry.hullVertices = static_cast<std::uint64_t>(rock.hullVertices);
            entry.hullTriangles = static_cast<std::uint64_t>(rock.hullTriangles);
            entry.hullBounds = storedBounds(rock.hullExtent);
            entry.imageBytes = rock.imageBytes;
            return entry;
        }
        // The same of a rock as it is written; only the sizes matter here.
        GlbRock entryOf(const RockMesh& rock) const {
            GlbRock entry;
            entry.vertices = vertices_.count();
            if (pack_.textures) entry.imageBytes = imageBytesOf(rock);
            entry.hull = rock.hull != nullptr;
            if (entry.hull) {
                entry.hullVertices = rock.hull->vertices.size();
                entry.hullTriangles = rock.hull->triangles.size();
            }
            return entry;
        }

        const GlbWriter& writer_;
        PackContents pack_;
        BaseVertices own_;
        RockVertices vertices_;
    };

    // With maps, every rock has its own; a tangent at every vertex with
    // normals.
    GlbShared sharedOf(const Material& material, bool maps = false) const {
        return {level_.faces.size(), normals_, material, maps, maps && normals_};
    }
    static std::array<std::uint64_t, kImageRoles> imageBytesOf(const RockMesh& rock) {
        std::array<std::uint64_t, kImageRoles> bytes{};
        for (std::size_t role = 0; role < kImageRoles; ++role) bytes[role] = rock.material->images[role].size();
        return bytes;
    }

    // A rock's vertices: its texture coordinates' base vertices (the
    // level's, or its own made into own), and its split ones.
    void verticesOf(const RockMesh& rock, BaseVertices& own, RockVertices& vertices) const {
        const TextureCoordinates& uv = rock.textures.front();
        if (uv.sameAs(levelTextures_)) {
            vertices.base = &levelBase_;
        } else {
            baseVerticesOf(uv, own);
            vertices.base = &own;
        }
        vertices.splits = rock.split != nullptr;
        if (vertices.splits) splitVerticesOf(uv, *rock.split, vertices.split);
    }

    // Texture coordinates of the base vertices. glTF puts the texture
    // origin at the top left, the rock's at the bottom left.
    static void appendTexcoords(std::string& out, const TextureCoordinates& uv, const BaseVertices& base) {
        ByteWriter put(out, base.textureOf.size() * 8);
        for (const int t : base.textureOf) {
            put.f32(uv.vertices[static_cast<std::size_t>(t)].u);
            put.f32(1.0 - uv.vertices[static_cast<std::size_t>(t)].v);
        }
    }

    // The indices of the faces' corners, counter-clockwise seen from
    // outside: each corner's texture vertex's base vertex, as wide as
    // vertices in all need.
    std::string indexBytes(const TextureCoordinates& uv, const BaseVertices& base, std::size_t vertices) const {
        const bool shortIndex = shortIndices(vertices);
        std::string out;
        ByteWriter put(out, uv.corners.size() * 3 * (shortIndex ? 2 : 4));
        for (const auto& textures : uv.corners) {
            for (const int t : outwardCorners(textures)) {
                const std::uint32_t index = base.vertexOf[static_cast<std::size_t>(t)];
                if (shortIndex) {
                    put.u16(static_cast<std::uint16_t>(index));
                } else {
                    put.u32(index);
                }
            }
        }
        return out;
    }

    // A rock's blocks as its layout places them: positions, normals where
    // smooth, texture coordinates and indices, then its hull's.
    void appendBlocks(std::string& out, const RockMesh& rock, const RockVertices& vertices,
                      const RockLayout& layout) const {
        const std::size_t start = out.size();
        out.reserve(start + static_cast<std::size_t>(layout.size));
        const BaseVertices& base = *vertices.base;
        const std::size_t baseCount = base.textureOf.size();
        const std::size_t extras = vertices.splits ? vertices.split.extras.size() : 0;
        const std::size_t count = baseCount + extras;
        const TextureCoordinates& uv = rock.textures.front();
        // A vertex attribute, gathered from the vectors it belongs to, a few
        // hundred vertices at a time: its position's, or with split normals,
        // its normal's.
        const auto appendVectors = [&](std::span<const Position> from, bool byNormal) {
            constexpr std::size_t kChunk = 256;
            std::array<float, 3 * kChunk> chunk;
            for (std::size_t first = 0; first < count; first += kChunk) {
                const std::size_t n = std::min(kChunk, count - first);
                for (std::size_t i = 0; i < n; ++i) {
                    const std::size_t v = first + i;
                    std::size_t at;
                    if (v < baseCount) {
                        const auto t = static_cast<std::size_t>(base.textureOf[v]);
                        const int normal = vertices.splits && byNormal ? vertices.split.firstNormal[t] : -1;
                        at = static_cast<std::size_t>(normal >= 0 ? normal : uv.owners[t]);
                    } else {
                        const auto& [texture, normal] = vertices.split.extras[v - baseCount];
                        at = static_cast<std::size_t>(byNormal ? normal : uv.owners[static_cast<std::size_t>(texture)]);
                    }
                    const Position p = yUp(from[at]);
                    chunk[3 * i] = static_cast<float>(p.x);
                    chunk[3 * i + 1] = static_cast<float>(p.y);
                    chunk[3 * i + 2] = static_cast<float>(p.z);
                }
                out.append(reinterpret_cast<const char*>(chunk.data()), n * 12);
            }
        };
        appendVectors(rock.positions, false);
        if (normals_) appendVectors(rock.normals, true);
        if (layout.tangents) appendTangents(out, rock, vertices);
        const bool levelOwn = uv.sameAs(levelTextures_);
        if (levelOwn) {
            out.append(texcoords_);
        } else {
            appendTexcoords(out, uv, base);
        }
        if (extras > 0) {
            ByteWriter put(out, extras * 8);
            for (const auto& [texture, normal] : vertices.split.extras) {
                const TextureVertex& t = uv.vertices[static_cast<std::size_t>(texture)];
                put.f32(t.u);
                put.f32(1.0 - t.v);
            }
        }
        // The indices, widened where the extras pass 65535, and the corners
        // of the extras patched in.
        const bool shortIndex = shortIndices(count);
        const std::size_t indexStart = out.size(), size = shortIndex ? 2 : 4;
        if (levelOwn && shortIndex == shortIndices(baseCount)) {
            out.append(indices_);
        } else {
            out.append(indexBytes(uv, base, count));
        }
        const std::span<const std::array<std::uint32_t, 2>> patched =
            vertices.splits ? std::span(vertices.split.patched) : std::span<const std::array<std::uint32_t, 2>>();
        for (const auto& [corner, extra] : patched) {
            // Written counter-clockwise: corners 1 and 2 of each face swap.
            const std::uint32_t k = corner % 3, at = corner - k + (k == 0 ? 0 : 3 - k);
            const auto index = static_cast<std::uint32_t>(baseCount + extra);
            for (std::size_t b = 0; b < size; ++b) {
                out[indexStart + at * size + b] = static_cast<char>((index >> (8 * b)) & 0xFF);
            }
        }
        out.resize(start + static_cast<std::size_t>(layout.rockBlock), '\0');
        if (rock.hull != nullptr) appendHullBlock(out, *rock.hull);
        for (std::size_t i = 0; i < layout.images.count; ++i) {
            const BufferView& v = layout.views.items[layout.images.items[i]];
            out.resize(start + static_cast<std::size_t>(v.offset), '\0');
            out.append(rock.material->images[i]);
        }
        out.resize(start + static_cast<std::size_t>(layout.size), '\0');
    }

    // Each vertex's tangent (Y-up, as its normal) and the side of its
    // bitangent: any of its corners', which all share it.
    static void appendTangents(std::string& out, const RockMesh& rock, const RockVertices& vertices) {
        const BaseVertices& base = *vertices.base;
        const TextureCoordinates& uv = rock.textures.front();
        std::vector<std::uint32_t> vertexOf(uv.corners.size() * 3);
        for (std::size_t c = 0; c < vertexOf.size(); ++c) {
            vertexOf[c] = base.vertexOf[static_cast<std::size_t>(uv.corners[c / 3][c % 3])];
        }
        if (vertices.splits) {
            const auto baseCount = static_cast<std::uint32_t>(base.textureOf.size());
            for (const auto& [corner, extra] : vertices.split.patched) vertexOf[corner] = baseCount + extra;
        }
        std::vector<Tangent> tangents(vertices.count(), Tangent{{1, 0, 0}, 1});
        for (std::size_t c = 0; c < vertexOf.size(); ++c) tangents[vertexOf[c]] = rock.tangents[c];
        ByteWriter put(out, tangents.size() * 16);
        for (const Tangent& t : tangents) {
            const Position d = yUp(t.direction);
            put.f32(d.x);
            put.f32(d.y);
            put.f32(d.z);
            put.f32(t.w);
        }
    }

    // A hull's block: its positions, Y-up, then its triangles' corners.
    static void appendHullBlock(std::string& out, const CollisionHull& hull) {
        const std::size_t size = static_cast<std::size_t>(padded(hull.vertices.size() * 12 + hull.triangles.size() * 6));
        ByteWriter put(out, size);
        for (const Position& vertex : hull.vertices) {
            const Position p = yUp(vertex);
            put.f32(p.x);
            put.f32(p.y);
            put.f32(p.z);
        }
        for (const auto& triangle : hull.triangles) {
            for (const int corner : triangle) put.u16(static_cast<std::uint16_t>(corner));
        }
        put.zerosUpTo(size);
    }

    const LevelMesh& level_;
    bool normals_;
    // The level's own texture coordinates and their vertices, and what
    // every rock that has them writes the same.
    TextureCoordinates levelTextures_;
    BaseVertices levelBase_;
    std::string texcoords_, indices_;
};

class GlbFormat final : public Format {
public:
    std::string_view name() const override { return "glb"; }
    FormatFiles files() const override { return {kGlbFiles, kGlbFiles}; }
    FormatRefusals refusals() const override {
        FormatRefusals no;
        no.flatTextures = "glTF decodes a normal map with the mesh's normals and tangents";
        return no;
    }
    PackLimit packLimit(const LevelCounts& counts, Shading shading, bool hulls) const override {
        // The JSON of a rock takes well under 2 KiB, and its hull's as much
        // again beside the hull's block.
        const std::uint64_t hull = hulls ? mostHullBytes() + 2048 : 0;
        // Split normals add vertices as they come: a quarter more is
        // allowed for here, and the head refuses a file past 4 GiB.
        const std::uint64_t vertices =
            counts.usedTextureVertices + (shading == Shading::Auto ? counts.usedTextureVertices / 4 : 0);
        GlbRock most;
        most.vertices = vertices;
        const std::uint64_t perRock =
            layoutOf(most, {counts.faces, shading != Shading::Flat, {}}).size + 2048 + hull;
        return {(kMostFileBytes - 4096) / perRock, tooLarge()};
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

}  // namespace tavimor
