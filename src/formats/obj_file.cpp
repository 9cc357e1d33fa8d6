#include "formats/obj_file.h"

#include <array>
#include <charconv>
#include <initializer_list>
#include <span>

#include "formats/mesh_export.h"

namespace tavimor {
namespace {

// Numbers as the glb holds them: single precision, in the shortest text
// that reads back as the same float. Adding zero turns a negative zero into
// a positive one.
float stored(double v) { return static_cast<float>(v) + 0.0f; }

// Gathers lines in a block of its own and appends them to out a block at
// a time: no room is made (and cleared) in out beforehand.
class LineWriter {
public:
    explicit LineWriter(std::string& out) : out_(out) {}
    ~LineWriter() { flush(); }
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Makes sure a line of up to kLongestLine characters fits.
    void line() {
        if (at_ + kLongestLine > block_ + kBlock) flush();
    }
    void text(std::string_view t) {
        for (const char c : t) *at_++ = c;
    }
    void character(char c) { *at_++ = c; }
    template <typename Number>
    void number(Number v) {
        at_ = std::to_chars(at_, block_ + kBlock, v).ptr;
    }

private:
    static constexpr std::size_t kBlock = 1 << 16;
    static constexpr std::size_t kLongestLine = 256;
    void flush() {
        out_.append(block_, static_cast<std::size_t>(at_ - block_));
        at_ = block_;
    }
    std::string& out_;
    char block_[kBlock];
    char* at_ = block_;
};

// "key a b c" lines of floats, one per vector.
void appendVectorLines(std::string& out, std::string_view key, std::span<const Position> vectors,
                       const Position& offset) {
    LineWriter put(out);
    for (const Position& vector : vectors) {
        const Position p = yUp(offsetBy(vector, offset));
        put.line();
        put.text(key);
        for (const double v : {p.x, p.y, p.z}) {
            put.character(' ');
            put.number(stored(v));
        }
        put.character('\n');
    }
}

void appendTextureLines(std::string& out, const TextureCoordinates& textures) {
    LineWriter put(out);
    for (const TextureVertex& t : textures.vertices) {
        put.line();
        put.text("vt ");
        put.number(stored(t.u));
        put.character(' ');
        put.number(stored(t.v));
        put.character('\n');
    }
}

// Where an object's positions, texture vertices and normals start in the
// file's own numbering (OBJ counts from 1 across the whole file).
struct ObjStart {
    long long position = 1;
    long long texture = 1;
    long long normal = 1;
};

// The faces, counter-clockwise seen from outside: "f v/vt" or, smooth,
// "f v/vt/vn", the normal the position's own or, split, the corner's.
void appendFaceLines(std::string& out, const LevelMesh& level, const TextureCoordinates& uv, bool smooth,
                     const ObjStart& start, const SplitNormals* split = nullptr) {
    LineWriter put(out);
    for (std::size_t f = 0; f < level.faces.size(); ++f) {
        const auto corners = outwardCorners(level.faces[f]);
        const auto textures = outwardCorners(uv.corners[f]);
        const auto normals = split != nullptr ? outwardCorners(split->corners[f]) : corners;
        put.line();
        put.character('f');
        for (std::size_t k = 0; k < 3; ++k) {
            put.character(' ');
            put.number(start.position + corners[k]);
            put.character('/');
            put.number(start.texture + textures[k]);
            if (smooth) {
                put.character('/');
                put.number(start.normal + normals[k]);
            }
        }
        put.character('\n');
    }
}

// The lines before the first object: what made the file, and its material
// library.
std::string objHead(std::string_view materialFile) {
    std::string out = "# rock made by tavimor, Y up\nmtllib ";
    out.append(materialFile);
    out.push_back('\n');
    return out;
}

// The lines of the texture coordinates the level's rocks share, and the
// faces of a file of one such rock, made once a level: the text a rock
// with these coordinates would make itself.
struct LevelText {
    TextureCoordinates textures;
    std::string textureLines;
    // With a normal at every corner, or without.
    bool smooth;
    std::string faces;
};

// With auto shading every rock's faces name normals of its own: no faces
// are kept.
LevelText levelText(const LevelMesh& level, Shading shading) {
    LevelText text{levelTextures(level), {}, shading == Shading::Smooth, {}};
    appendTextureLines(text.textureLines, text.textures);
    if (shading != Shading::Auto) appendFaceLines(text.faces, level, text.textures, text.smooth, ObjStart{});
    return text;
}

// One object: "o NAME", its positions (moved by its offset), texture
// vertices, normals where smooth, then its faces, all with the material
// "rock". The level's text is taken where the rock's texture coordinates
// are the level's; its faces, too, in a file of its own (start at 1) and
// without split normals.
void appendObject(std::string& out, const LevelMesh& level, const RockMesh& rock, const LevelText& shared,
                  const ObjStart& start, std::string_view material = "rock") {
    const bool smooth = !rock.normals.empty();
    const TextureCoordinates& uv = rock.textures.front();
    const bool levelOwn = uv.sameAs(shared.textures);
    const bool levelFaces = levelOwn && rock.split == nullptr && start.position == 1 && start.texture == 1 &&
                            start.normal == 1 && smooth == shared.smooth && !shared.faces.empty();
    // Room for the lines as long as they get (about 40 characters a vector),
    // so that a finely detailed rock's text is never copied to grow.
    out.reserve(out.size() + 64 + rock.name.size() + 40 * (static_cast<std::size_t>(level.positionCount) + rock.normals.size()) +
                shared.textureLines.size() + shared.faces.size());
    out.append("o ");
    out.append(rock.name);
    out.push_back('\n');
    appendVectorLines(out, "v", rock.positions.first(static_cast<std::size_t>(level.positionCount)), rock.offset);
    if (levelOwn) {
        out.append(shared.textureLines);
    } else {
        appendTextureLines(out, uv);
    }
    appendVectorLines(out, "vn", rock.normals, {0, 0, 0});
    // Blender's importer shades a face smooth only inside a smoothing group.
    out.append("usemtl ");
    out.append(material);
    out.append(smooth ? "\ns 1\n" : "\n");
    if (levelFaces) {
        out.append(shared.faces);
    } else {
        appendFaceLines(out, level, uv, smooth, start, rock.split);
    }
}

// The rock's collision hull after it, as Unreal's importer pairs it with the
// rock: "o UCX_NAME_00", its positions (moved by the rock's offset) and its
// faces, numbered on from firstPosition; no material, no smoothing.
void appendHullObject(std::string& out, const RockMesh& rock, long long firstPosition) {
    const CollisionHull& hull = *rock.hull;
    out.append("o ");
    out.append(unrealHullName(rock.name));
    out.push_back('\n');
    appendVectorLines(out, "v", hull.vertices, rock.offset);
    if (!rock.normals.empty()) out.append("s off\n");
    LineWriter put(out);
    for (const auto& triangle : hull.triangles) {
        put.line();
        put.character('f');
        for (const int corner : triangle) {
            put.character(' ');
            put.number(firstPosition + corner);
        }
        put.character('\n');
    }
}

// The images of a material with maps, as files beside its rock's, after
// the stem of that rock's files.
constexpr std::array<std::string_view, kImageRoles> kImageSuffixes = {"_basecolor.png", "_normal.png", "_orm.png"};

// The material library: the rocks' colour as the diffuse colour; with
// maps, the colour map as the diffuse colour's, the normal map as "norm"
// (the PBR extension's) and as "map_Bump" (which Blender and assimp read
// as a normal map), and roughness and metalness from the green and blue
// of the occlusion, roughness and metalness map, as the PBR extension
// names them.
std::string mtlFile(const Material& material, std::string_view imageStem = {}, std::string_view name = "rock",
                    bool head = true) {
    const Colour& colour = material.baseColour;
    std::string out = head ? "# material made by tavimor\n" : "";
    out.append("newmtl ");
    out.append(name);
    out.append("\nKa 0 0 0\n");
    out.append("Kd");
    // With a colour map, the map is the colour.
    const bool maps = material.hasImages();
    for (const double channel : {maps ? 1.0 : colour.red, maps ? 1.0 : colour.green, maps ? 1.0 : colour.blue}) {
        char text[32];
        out.push_back(' ');
        out.append(text, std::to_chars(text, text + sizeof text, channel).ptr);
    }
    out.push_back('\n');
    // Matte, opaque, lit by diffuse light only, as in the COB file.
    out.append("Ks 0 0 0\nd 1\nillum 1\n");
    if (!material.hasImages()) return out;
    const std::string stem(imageStem);
    const std::string colourMap = stem + std::string(kImageSuffixes[0]);
    const std::string normalMap = stem + std::string(kImageSuffixes[1]);
    const std::string ormMap = stem + std::string(kImageSuffixes[2]);
    out.append("Pr 1\nPm 0\nmap_Kd " + colourMap + "\nnorm " + normalMap + "\nmap_Bump " + normalMap +
               "\nmap_Pr -imfchan g " + ormMap + "\nmap_Pm -imfchan b " + ormMap + "\n");
    return out;
}

// A rock's objects in its own file, its material library beside it;
// packed, the same two for all of them.
constexpr FileKind kObjFiles[] = {{".obj", FileRole::Mesh},
                                  {".mtl", FileRole::MaterialLibrary},
                                  {kImageSuffixes[0], FileRole::Image, FileNeed::Textures},
                                  {kImageSuffixes[1], FileRole::Image, FileNeed::Textures},
                                  {kImageSuffixes[2], FileRole::Image, FileNeed::Textures}};
// A pack: its objects and its material library, and beside it each rock's
// maps, named after the rock.
constexpr FileKind kObjPackFiles[] = {{".obj", FileRole::Mesh},
                                      {".mtl", FileRole::MaterialLibrary},
                                      {kImageSuffixes[0], FileRole::Image, FileNeed::Textures, true},
                                      {kImageSuffixes[1], FileRole::Image, FileNeed::Textures, true},
                                      {kImageSuffixes[2], FileRole::Image, FileNeed::Textures, true}};

class ObjWriter final : public LevelWriter {
public:
    ObjWriter(const LevelMesh& level, const WriterSettings& settings)
        : level_(level), text_(levelText(level, settings.shading)) {}

    bool rockFiles(const RockMesh& rock, std::string_view base, std::vector<FormatFile>& files) const override {
        prepareRockFiles(files, kObjFiles, rock);
        std::string& obj = fileWith(files, FileRole::Mesh)->bytes;
        obj.append(objHead(std::string(base) + ".mtl"));
        appendObject(obj, level_, rock, text_, ObjStart{});
        if (rock.hull != nullptr) appendHullObject(obj, rock, 1 + level_.positionCount);
        fileWith(files, FileRole::MaterialLibrary)->bytes = mtlFile(*rock.material, rock.imageStem);
        // The maps beside the rock that names them, in order of role.
        std::size_t role = 0;
        for (FormatFile& file : files) {
            if (file.role == FileRole::Image) file.bytes = rock.material->images[role++];
        }
        return true;
    }
    std::unique_ptr<PackWriter> packWriter(const PackContents& pack, const FileKind&) const override {
        return std::make_unique<Pack>(*this, pack);
    }

private:
    // Every rock an object, each followed by its hull where there is one:
    // OBJ counts positions across the whole file, so where each object's
    // start is known only as the rocks go by.
    class Pack final : public PackWriter {
    public:
        Pack(const ObjWriter& writer, const PackContents& pack) : writer_(writer), pack_(pack) {}
        bool writeHead(const ByteSink& put) override {
            put(objHead(pack_.base + ".mtl"));
            return true;
        }
        void appendPiece(std::string& out, int, const RockMesh& rock) override {
            const LevelMesh& level = writer_.level_;
            const auto positions = static_cast<long long>(level.positionCount);
            // With maps, each rock has a material of its own, named as
            // the rock, naming its maps beside the pack.
            const bool maps = pack_.textures;
            appendObject(out, level, rock, writer_.text_, start_, maps ? std::string_view(rock.name) : "rock");
            if (maps) materials_.append(mtlFile(*rock.material, rock.imageStem, rock.name, materials_.empty()));
            start_.position += positions;
            start_.texture += static_cast<long long>(rock.textures.front().vertices.size());
            start_.normal += static_cast<long long>(rock.normals.size());
            if (rock.hull != nullptr) {
                appendHullObject(out, rock, start_.position);
                start_.position += static_cast<long long>(rock.hull->vertices.size());
            }
        }
        std::string wholeFile(const FileKind&) const override {
            return pack_.textures ? materials_ : mtlFile(*pack_.material);
        }
        void rockFiles(const RockMesh& rock, std::vector<FormatFile>& files) const override {
            files.clear();
            if (!pack_.textures) return;
            for (std::size_t role = 0; role < kImageRoles; ++role) {
                files.push_back({std::string(kImageSuffixes[role]), std::string(rock.material->images[role]), FileRole::Image});
            }
        }

    private:
        const ObjWriter& writer_;
        PackContents pack_;
        ObjStart start_;
        // The material library as the rocks go by: a material each.
        std::string materials_;
    };

    const LevelMesh& level_;
    const LevelText text_;
};

class ObjFormat final : public Format {
public:
    std::string_view name() const override { return "obj"; }
    FormatFiles files() const override { return {kObjFiles, kObjPackFiles}; }
    std::unique_ptr<LevelWriter> writerFor(const LevelMesh& level, const WriterSettings& settings) const override {
        return std::make_unique<ObjWriter>(level, settings);
    }
};

}  // namespace

const Format& objFormat() {
    static const ObjFormat format;
    return format;
}

}  // namespace tavimor
