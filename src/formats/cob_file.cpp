#include "formats/cob_file.h"

#include <array>
#include <charconv>
#include <string_view>

#include "formats/fixed_format.h"
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

// Texture vertices, faces and the closing chunks: the same in every file.
constexpr void writeTail(TextSink& out) {
    out.put("Texture Vertices ");
    out.putNumber(kTextureVertexCount);
    out.put("\r\n");
    for (const TextureVertex& t : kTextureVertices) {
        out.putDecimals(t.u, 6);
        out.put(' ');
        out.putDecimals(t.v, 6);
        out.put("\r\n");
    }
    out.put("Faces ");
    out.putNumber(kFaceCount);
    out.put("\r\n");
    for (const Face& face : kFaces) {
        out.put("Face verts 3 flags 0 mat 0\r\n");
        // Every corner, the last one too, is followed by a blank.
        for (const Corner& corner : face) {
            out.put('<');
            out.putNumber(corner.vertex);
            out.put(',');
            out.putNumber(corner.textureVertex);
            out.put("> ");
        }
        out.put("\r\n");
    }
    out.put(kMaterialHead);
    out.putDecimals(kRockColour.red, kColourDecimals);
    out.put(',');
    out.putDecimals(kRockColour.green, kColourDecimals);
    out.put(',');
    out.putDecimals(kRockColour.blue, kColourDecimals);
    out.put(kEnd);
}

constexpr std::size_t tailSize() {
    TextSink counter;
    writeTail(counter);
    return counter.size;
}

template <std::size_t N>
constexpr std::array<char, N> buildTail() {
    std::array<char, N> text{};
    TextSink sink{text.data()};
    writeTail(sink);
    return text;
}

constexpr std::array<char, tailSize()> kTail = buildTail<tailSize()>();

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

}  // namespace

std::string cobFile(std::span<const Position> positions, int rockNumber) {
    std::string out;
    out.reserve(kCobFileSize + 16);
    out.append(kHeadBeforeNumber);
    char number[12];
    out.append(number, std::to_chars(number, number + sizeof number, rockNumber).ptr);
    out.append(kHeadAfterNumber);
    appendVertices(out, positions);
    out.append(kTail.data(), kTail.size());
    return out;
}

namespace {

class CobWriter final : public LevelWriter {
public:
    bool rockFiles(const RockMesh& rock, std::string_view, std::vector<FormatFile>& files) const override {
        prepareFiles(files, {".COB"});
        files[0].bytes = cobFile(rock.positions, rock.number);
        return true;
    }
};

class CobFormat final : public Format {
public:
    std::string_view name() const override { return "cob"; }
    std::string_view extension() const override { return ".COB"; }
    FormatRefusals refusals() const override {
        return {.detail = "a COB file holds detail 0 only",
                .normals = "a COB file has no normals",
                .pack = "a COB file holds one rock",
                .collision = "a COB file holds no collision shape",
                .style = "a COB file holds classic rocks only"};
    }
    std::unique_ptr<LevelWriter> writerFor(const LevelMesh&, const WriterSettings&) const override { return std::make_unique<CobWriter>(); }
};

}  // namespace

const Format& cobFormat() {
    static const CobFormat format;
    return format;
}

}  // namespace tavimor
