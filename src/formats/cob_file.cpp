#include "formats/cob_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

#include "formats/fixed_format.h"
#include "formats/mesh_export.h"
#include "geometry/topology.h"

namespace tavimor {
namespace {

// Everything before the rock number. The chunk sizes are fixed text that
// readers of the format have always been given, not the chunks' real sizes.
constexpr std::string_view kHeadBeforeNumber =
    "Caligari V00.01ALH             \r\n"
    "PolH V0.02 Id 1940332 Parent 0 Size 00011541\r\n"
    "Name Rock";

constexpr std::string_view kHeadAfterNumber =
    "\r\n"
    "center 0 0 0\r\n"
    "x axis 1 0 0\r\n"
    "y axis 0 1 0\r\n"
    "z axis 0 0 1\r\n"
    "Transform\r\n"
    "1 0 0 0\r\n"
    "0 1 0 0\r\n"
    "0 0 1 0\r\n"
    "0 0 0 1\r\n"
    "World Vertices 75\r\n";
static_assert(kVertexCount == 75, "the World Vertices line states the vertex count");

constexpr std::string_view kMaterialHead =
    "Unit V0.01 Id 1940333 Parent 1940332 Size 00000009\r\n"
    "Units 2\r\n"
    "Mat1 V0.05 Id 2142740 Parent 1940332 Size 00000197\r\n"
    "mat# 0\r\n"
    "shader: phong  facet: smooth\r\n"
    "rgb ";

constexpr std::string_view kEnd =
    "\r\n"
    "alpha 1  ka 0  ks 0  exp 0  ior 1\r\n"
    "END  V1.00 Id 0 Parent 0 Size        0\r\n";

// The colour's channels are written with seven decimals, all of them exact.
constexpr int kColourDecimals = 7;

// Writes text into a buffer, or only counts it when the buffer is null, so
// that one routine both sizes and fills the constant tail at compile time.
struct TextSink {
    char* at = nullptr;
    std::size_t size = 0;

    constexpr void put(std::string_view text) {
        if (at != nullptr) {
            for (const char c : text) at[size++] = c;
        } else {
            size += text.size();
        }
    }
    constexpr void put(char c) { put(std::string_view(&c, 1)); }
    constexpr void putNumber(int value) {
        char digits[12];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (n > 0) put(digits[--n]);
    }
    // A number with the given decimals, all of them exact: the texture
    // coordinates have six, the colour seven. Their text is that of the
    // general formatter.
    constexpr void putDecimals(double value, int decimals) {
        if (value < 0) put('-');
        const double magnitude = value < 0 ? -value : value;
        long long unit = 1;
        for (int i = 0; i < decimals; ++i) unit *= 10;
        const auto scaled = static_cast<long long>(magnitude * static_cast<double>(unit) + 0.5);
        putNumber(static_cast<int>(scaled / unit));
        put('.');
        auto fraction = scaled % unit;
        char digits[18];
        for (int i = decimals - 1; i >= 0; --i, fraction /= 10) digits[i] = static_cast<char>('0' + fraction % 10);
        put(std::string_view(digits, static_cast<std::size_t>(decimals)));
    }
};

constexpr bool exactWith(double value, int decimals) {
    const double magnitude = value < 0 ? -value : value;
    long long unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    const auto scaled = static_cast<long long>(magnitude * static_cast<double>(unit) + 0.5);
    return static_cast<double>(scaled) / static_cast<double>(unit) == magnitude;
}

constexpr bool textureVerticesHaveSixDecimals() {
    for (const TextureVertex& t : kTextureVertices) {
        if (!exactWith(t.u, 6) || !exactWith(t.v, 6)) return false;
    }
    return true;
}
static_assert(textureVerticesHaveSixDecimals());
static_assert(exactWith(kRockColour.red, kColourDecimals) && exactWith(kRockColour.green, kColourDecimals) &&
              exactWith(kRockColour.blue, kColourDecimals));

// What follows a rock's vertices: its texture vertices, faces (positions
// clockwise seen from outside, as the file keeps them, and their corners'
// texture vertices) and its colour.
struct CobTail {
    std::span<const TextureVertex> textures;
    std::span<const std::array<int, 3>> faces;
    std::span<const std::array<int, 3>> corners;
    Colour colour;
};

// Texture vertices, faces and the closing chunks.
constexpr void writeTail(TextSink& out, const CobTail& tail) {
    out.put("Texture Vertices ");
    out.putNumber(static_cast<int>(tail.textures.size()));
    out.put("\r\n");
    for (const TextureVertex& t : tail.textures) {
        out.putDecimals(t.u, 6);
        out.put(' ');
        out.putDecimals(t.v, 6);
        out.put("\r\n");
    }
    out.put("Faces ");
    out.putNumber(static_cast<int>(tail.faces.size()));
    out.put("\r\n");
    for (std::size_t f = 0; f < tail.faces.size(); ++f) {
        out.put("Face verts 3 flags 0 mat 0\r\n");
        // Every corner, the last one too, is followed by a blank.
        for (std::size_t k = 0; k < 3; ++k) {
            out.put('<');
            out.putNumber(tail.faces[f][k]);
            out.put(',');
            out.putNumber(tail.corners[f][k]);
            out.put("> ");
        }
        out.put("\r\n");
    }
    out.put(kMaterialHead);
    out.putDecimals(tail.colour.red, kColourDecimals);
    out.put(',');
    out.putDecimals(tail.colour.green, kColourDecimals);
    out.put(',');
    out.putDecimals(tail.colour.blue, kColourDecimals);
    out.put(kEnd);
}

// The base shape's faces as positions and as texture vertices.
template <bool kPositions>
constexpr std::array<std::array<int, 3>, kFaceCount> faceCorners() {
    std::array<std::array<int, 3>, kFaceCount> out{};
    for (std::size_t f = 0; f < kFaceCount; ++f) {
        for (std::size_t k = 0; k < 3; ++k) out[f][k] = kPositions ? kFaces[f][k].vertex : kFaces[f][k].textureVertex;
    }
    return out;
}
constexpr std::array<std::array<int, 3>, kFaceCount> kFacePositions = faceCorners<true>();
constexpr std::array<std::array<int, 3>, kFaceCount> kFaceTextures = faceCorners<false>();

// The classic rock's tail: the base shape's tables and the classic colour,
// the same in every file.
constexpr CobTail kClassicTail = {kTextureVertices, kFacePositions, kFaceTextures, kRockColour};

constexpr std::size_t tailSize(const CobTail& tail) {
    TextSink counter;
    writeTail(counter, tail);
    return counter.size;
}

template <std::size_t N>
constexpr std::array<char, N> buildTail() {
    std::array<char, N> text{};
    TextSink sink{text.data()};
    writeTail(sink, kClassicTail);
    return text;
}

constexpr std::array<char, tailSize(kClassicTail)> kTail = buildTail<tailSize(kClassicTail)>();

// One vertex line per position, in index order: "x y z".
void appendVertices(std::string& out, std::span<const Position> positions) {
    char line[3 * kMaxFixedLength + 4];
    for (const Position& p : positions.first(kVertexCount)) {
        std::size_t n = formatFixed6(p.x, line);
        line[n++] = ' ';
        n += formatFixed6(p.y, line + n);
        line[n++] = ' ';
        n += formatFixed6(p.z, line + n);
        line[n++] = '\r';
        line[n++] = '\n';
        out.append(line, n);
    }
}

// The head and vertices of a rock's file.
std::string headAndVertices(std::span<const Position> positions, int rockNumber) {
    std::string out;
    out.reserve(kCobFileSize + 16);
    out.append(kHeadBeforeNumber);
    char number[12];
    out.append(number, std::to_chars(number, number + sizeof number, rockNumber).ptr);
    out.append(kHeadAfterNumber);
    appendVertices(out, positions);
    return out;
}

// Whether a rock's tail is the classic one, whose text is made once.
bool isClassic(const CobTail& tail) {
    const auto sameVertex = [](const TextureVertex& a, const TextureVertex& b) { return a.u == b.u && a.v == b.v; };
    const Colour& c = tail.colour;
    return std::ranges::equal(tail.textures, kClassicTail.textures, sameVertex) &&
           std::ranges::equal(tail.faces, kClassicTail.faces) && std::ranges::equal(tail.corners, kClassicTail.corners) &&
           c.red == kRockColour.red && c.green == kRockColour.green && c.blue == kRockColour.blue;
}

}  // namespace

std::string cobFile(std::span<const Position> positions, int rockNumber) {
    std::string out = headAndVertices(positions, rockNumber);
    out.append(kTail.data(), kTail.size());
    return out;
}

namespace {

// The one file of a rock.
constexpr FileKind kCobFiles[] = {{".COB", FileRole::Mesh}};

class CobWriter final : public LevelWriter {
public:
    explicit CobWriter(const LevelMesh& level) : level_(level) {}

    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        prepareRockFiles(files, kCobFiles, rock);
        const TextureCoordinates& uv = rock.textures.front();
        const CobTail tail = {uv.vertices, level_.faces, uv.corners, rock.material->baseColour};
        if (isClassic(tail)) {
            files[0].bytes = cobFile(rock.positions, rock.number);
            return true;
        }
        std::string& out = files[0].bytes;
        out = headAndVertices(rock.positions, rock.number);
        const std::size_t start = out.size();
        out.resize(start + tailSize(tail));
        TextSink sink{out.data() + start};
        writeTail(sink, tail);
        return true;
    }

private:
    const LevelMesh& level_;
};

class CobFormat final : public Format {
public:
    std::string_view name() const override { return "cob"; }
    FormatFiles files() const override { return {kCobFiles, {}}; }
    FormatRefusals refusals() const override {
        return {.detail = "a COB file holds detail 0 only",
                .normals = "a COB file has no normals",
                .pack = "a COB file holds one rock",
                .collision = "a COB file holds no collision shape",
                .style = "a COB file holds classic rocks only",
                .textures = "a COB file holds no texture maps",
                .flatTextures = {}};
    }
    std::unique_ptr<LevelWriter> writerFor(const LevelMesh& level, const WriterSettings&) const override {
        return std::make_unique<CobWriter>(level);
    }
};

}  // namespace

const Format& cobFormat() {
    static const CobFormat format;
    return format;
}

}  // namespace tavimor
