#include "export/gltf_writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "convert/converter.h"
#include "decode/texture_block.h"
#include "export/object_walk.h"
#include "export/output_file.h"
#include "export/png_encode.h"

namespace morvex {

void AppendJsonString(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    out += '"';
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        out += "\\u00";
                        out += kHex[c >> 4];
                        out += kHex[c & 15];
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        // The length of the sequence a lead byte starts and the range of its second byte
        // (the later ones are always 80..BF); 0 for bytes that start no sequence.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;   // no overlong forms
            if (c == 0xED) high = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;   // no overlong forms
            if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        }
        std::size_t good = length == 0 ? 0 : 1;  // bytes of a well-formed prefix
        while (good > 0 && good < length && i + good < n) {
            const auto next = static_cast<unsigned char>(bytes[i + good]);
            const bool fits =
                good == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
            if (!fits) break;
            ++good;
        }
        if (length != 0 && good == length) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out += kReplacement;
            i += good == 0 ? 1 : good;
        }
    }
    out += '"';
}

double RoughnessFromPower(float power) {
    const double n = PowerValue(power);
    const double roughness = std::sqrt(std::sqrt(2.0 / (n + 2.0)));
    return std::clamp(roughness, 0.0, 1.0);
}

std::string GltfFileName(std::string_view destPath, std::string_view baseName) {
    std::string name(destPath);
    name += SafeName(baseName);
    name += ".glb";
    return name;
}

namespace {

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kGlbVersion = 2;
constexpr std::uint32_t kChunkJson = 0x4E4F534A;  // "JSON"
constexpr std::uint32_t kChunkBin = 0x004E4942;   // "BIN\0"
constexpr int kComponentFloat = 5126;
constexpr int kComponentUnsignedShort = 5123;
constexpr int kComponentUnsignedInt = 5125;
constexpr int kTargetArrayBuffer = 34962;
constexpr int kTargetElementArrayBuffer = 34963;
constexpr int kWrapRepeat = 10497;

void AppendInt(std::string& out, std::int64_t value) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// The shortest text that reads back as exactly `value`: a float widened to double prints its
// exact value, so the accessor bounds equal the stored floats bit for bit.
void AppendNumber(std::string& out, double value) {
    char digits[32];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// The items of one top-level JSON array, comma-separated.
struct JsonArray {
    std::string items;
    int count = 0;

    // Starts a new item; returns its index.
    int Next() {
        if (count > 0) items += ',';
        return count++;
    }
};

// Non-finite floats have no JSON form and no meaning for a viewer: they are written as 0.
float Finite(float value) {
    return std::isfinite(value) ? value : 0.0f;
}

// Bytes appended in blocks of a fixed size: growing never copies what is held, and no more
// than one block is held beyond the bytes themselves.
class BlockBuffer {
  public:
    static constexpr std::size_t kBlock = std::size_t{1} << 20;

    void Append(const std::uint8_t* data, std::size_t length) {
        while (length > 0) {
            if (blocks_.empty() || blocks_.back().size() == kBlock) {
                blocks_.emplace_back();
                blocks_.back().reserve(kBlock);
            }
            std::vector<std::uint8_t>& block = blocks_.back();
            const std::size_t n = std::min(length, kBlock - block.size());
            block.insert(block.end(), data, data + n);
            data += n;
            length -= n;
        }
    }
    void AppendZeros(std::size_t length) {
        static constexpr std::uint8_t kZeros[4] = {};
        while (length > 0) {
            const std::size_t n = std::min(length, sizeof kZeros);
            Append(kZeros, n);
            length -= n;
        }
    }
    const std::vector<std::vector<std::uint8_t>>& Blocks() const { return blocks_; }

  private:
    std::vector<std::vector<std::uint8_t>> blocks_;
};

// A view's bytes written straight into the BIN chunk, a few at a time, so that no copy of a
// whole attribute array is held beside the chunk.
class ViewWriter {
  public:
    explicit ViewWriter(BlockBuffer& buffer) : buffer_(buffer) {}
    ~ViewWriter() { Flush(); }
    ViewWriter(const ViewWriter&) = delete;
    ViewWriter& operator=(const ViewWriter&) = delete;

    void Float(float value) {
        std::uint8_t bytes[4];
        StoreU32(bytes, std::bit_cast<std::uint32_t>(value));
        Put(bytes, 4);
    }
    void U16(std::uint32_t value) {
        std::uint8_t bytes[2];
        StoreU16(bytes, value);
        Put(bytes, 2);
    }
    void U32(std::uint32_t value) {
        std::uint8_t bytes[4];
        StoreU32(bytes, value);
        Put(bytes, 4);
    }

    void Raw(Bytes bytes) {
        Flush();
        buffer_.Append(bytes.data(), bytes.size());
    }

  private:
    void Put(const std::uint8_t* bytes, std::size_t n) {
        if (used_ + n > sizeof staging_) Flush();
        std::memcpy(staging_ + used_, bytes, n);
        used_ += n;
    }
    void Flush() {
        buffer_.Append(staging_, used_);
        used_ = 0;
    }

    BlockBuffer& buffer_;
    std::uint8_t staging_[4096];
    std::size_t used_ = 0;
};

// Thrown when the document can no longer fit the 32-bit lengths of a glb.
struct DocumentTooLarge {};

// Everything the JSON chunk describes and the BIN chunk holds, built object by object.
class GltfDocument {
  public:
    // At least the size of the glb: the headers, the JSON arrays (without the text around
    // them) and the BIN chunk.
    std::uint64_t SizeAtLeast() const {
        std::uint64_t size = 28 + sceneNodes.size() + binarySize;
        for (const JsonArray* a :
             {&nodes, &meshes, &materials, &textures, &images, &accessors, &bufferViews}) {
            size += a->items.size();
        }
        return size;
    }
    // Stops the conversion as soon as the glb cannot be written: nothing more is built for it.
    void CheckSize() const {
        if (SizeAtLeast() > UINT32_MAX) throw DocumentTooLarge{};
    }

    // Adds a bufferView of `length` bytes, which `write` appends to the BIN chunk through a
    // ViewWriter; they are padded with zeros to a multiple of 4 bytes, so that every view starts
    // 4-byte aligned. Returns the view's index.
    template <class Write>
    int AddView(std::size_t length, int target, Write&& write) {
        const std::size_t padded = (length + 3) & ~std::size_t{3};
        const int view = bufferViews.Next();
        std::string& json = bufferViews.items;
        json += "{\"buffer\":0,\"byteOffset\":";
        AppendInt(json, static_cast<std::int64_t>(binarySize));
        json += ",\"byteLength\":";
        AppendInt(json, static_cast<std::int64_t>(length));
        if (target != 0) {
            json += ",\"target\":";
            AppendInt(json, target);
        }
        json += '}';
        {
            ViewWriter writer(binary);
            write(writer);
        }
        binary.AppendZeros(padded - length);
        binarySize += padded;
        CheckSize();
        return view;
    }

    // Adds an accessor over a whole bufferView; `bounds` holds min and max, 3 values each.
    int AddAccessor(int view, int componentType, std::int64_t count, std::string_view type,
                    const float* bounds = nullptr) {
        const int accessor = accessors.Next();
        std::string& json = accessors.items;
        json += "{\"bufferView\":";
        AppendInt(json, view);
        json += ",\"componentType\":";
        AppendInt(json, componentType);
        json += ",\"count\":";
        AppendInt(json, count);
        json += ",\"type\":\"";
        json += type;
        json += '"';
        if (bounds != nullptr) {
            for (int side = 0; side < 2; ++side) {
                json += side == 0 ? ",\"min\":[" : ",\"max\":[";
                for (int k = 0; k < 3; ++k) {
                    if (k > 0) json += ',';
                    AppendNumber(json, bounds[3 * side + k]);
                }
                json += ']';
            }
        }
        json += '}';
        return accessor;
    }

    // Hands the JSON chunk text (not yet padded) to `put` piece by piece: the arrays are large
    // for a model of many meshes, and are not copied into one text.
    template <class Put>
    void Json(Put&& put) const {
        std::string text;
        put("{\"asset\":{\"version\":\"2.0\",\"generator\":\"morvex\"},\"scene\":0,");
        put("\"scenes\":[{");
        if (!sceneNodes.empty()) {
            put("\"nodes\":[");
            put(sceneNodes);
            put("]");
        }
        put("}]");
        auto array = [&put](std::string_view name, const JsonArray& a) {
            if (a.count == 0) return;
            put(",\"");
            put(name);
            put("\":[");
            put(a.items);
            put("]");
        };
        array("nodes", nodes);
        array("meshes", meshes);
        array("materials", materials);
        array("textures", textures);
        if (textures.count > 0) {
            text = ",\"samplers\":[{\"wrapS\":";
            AppendInt(text, kWrapRepeat);
            text += ",\"wrapT\":";
            AppendInt(text, kWrapRepeat);
            text += "}]";
            put(text);
        }
        array("images", images);
        array("accessors", accessors);
        array("bufferViews", bufferViews);
        if (binarySize > 0) {
            text = ",\"buffers\":[{\"byteLength\":";
            AppendInt(text, static_cast<std::int64_t>(binarySize));
            text += "}]";
            put(text);
        }
        put("}");
    }

    std::string sceneNodes;
    JsonArray nodes, meshes, materials, textures, images, accessors, bufferViews;
    BlockBuffer binary;  // the BIN chunk
    std::uint64_t binarySize = 0;
};

// The textures that materials name, found among the file's TEXI blocks, and the glTF textures
// made of them, one per distinct (texture, alpha map) pair.
//
// A converted picture takes 4 bytes a pixel, and a texture of a few dozen bytes can declare
// 16384 by 16384 pixels: keeping the pictures of every texture would let a file of n such
// textures hold n GiB. So only whether a texture converts is remembered; the pictures of a pair
// are converted when the pair's image is made and released right after, and at most two
// pictures (texture and alpha map) are alive at any time.
class TextureLibrary {
  public:
    explicit TextureLibrary(Converter& converter) : converter_(converter) {
        for (std::size_t b = 0; b < converter.blocks.size(); ++b) {
            const Block& record = converter.blocks[b];
            if (record.TagBits() != kTagTexi) continue;
            TextureBlock texture;
            if (texture.ReadHeader(record.buffer, record.offset, record.index, record.baseName) <
                0) {
                continue;
            }
            byName_.emplace(texture.Name(), b);  // the first block of a name wins
        }
    }

    struct MaterialTexture {
        int texture = -1;  // the glTF texture, -1 for none
        AlphaUse alpha = AlphaUse::Opaque;
    };

    // The texture of a material whose texture and alpha map have the given names (empty: none).
    // A texture that is missing or cannot be converted counts as none. With an alpha map, the
    // image is RGBA: the base texture's colours (white without one) with the alpha map's
    // luminance as alpha.
    MaterialTexture ForMaterial(std::string_view textureName, std::string_view alphaName,
                                GltfDocument& document) {
        // A texture seen for the first time is converted by Find, and its picture is used
        // below; one seen before is converted again only when a new pair needs it.
        RgbaPicture picture, alphaMap;
        const std::optional<std::size_t> base = Find(textureName, picture);
        const std::optional<std::size_t> alpha = Find(alphaName, alphaMap);
        if (!base && !alpha) return {};
        const std::pair<std::size_t, std::size_t> key{base.value_or(kNone), alpha.value_or(kNone)};
        if (auto made = made_.find(key); made != made_.end()) return made->second;

        MaterialTexture result;
        if (base && picture.pixels.empty() && !Convert(*base, picture)) return Unmade(key);
        if (alpha) {
            if (alphaMap.pixels.empty() && !Convert(*alpha, alphaMap)) return Unmade(key);
            if (!base) {
                picture.width = alphaMap.width;
                picture.height = alphaMap.height;
                picture.pixels.assign(alphaMap.pixels.size(), 255);
            }
            CombineAlpha(picture, alphaMap);
            alphaMap = RgbaPicture();
            result.alpha = ClassifyAlpha(picture);
        }
        std::vector<std::uint8_t> png;
        const bool encoded = EncodePng(picture, result.alpha != AlphaUse::Opaque, png);
        picture = RgbaPicture();
        if (encoded) {
            const std::size_t length = png.size();
            const int view = document.AddView(length, 0, [&png](ViewWriter& out) { out.Raw(png); });
            png = {};
            const int image = document.images.Next();
            std::string& json = document.images.items;
            json += "{\"name\":";
            AppendJsonString(json, base ? NameAt(*base) : NameAt(*alpha));
            json += ",\"bufferView\":";
            AppendInt(json, view);
            json += ",\"mimeType\":\"image/png\"}";
            result.texture = document.textures.Next();
            document.textures.items += "{\"sampler\":0,\"source\":";
            AppendInt(document.textures.items, image);
            document.textures.items += '}';
        } else {
            result = {};
        }
        made_.emplace(key, result);
        return result;
    }

  private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

    // The block position of a texture that is present and converts; a failed conversion prints
    // its warning once. The first lookup of a texture converts it to find out, leaving the
    // converted picture in `picture` (untouched on later lookups).
    std::optional<std::size_t> Find(std::string_view name, RgbaPicture& picture) {
        if (name.empty()) return std::nullopt;
        auto found = byName_.find(name);
        if (found == byName_.end()) return std::nullopt;
        const std::size_t position = found->second;
        auto known = converts_.find(position);
        if (known == converts_.end()) {
            known = converts_.emplace(position, Convert(position, picture)).first;
            if (!known->second) {
                picture = RgbaPicture();
                converter_.Print("Warning : can not convert texture %s.\n",
                                 ConsoleName(name).c_str());
            }
        }
        if (!known->second) return std::nullopt;
        return position;
    }

    bool Convert(std::size_t position, RgbaPicture& picture) const {
        const Block& record = converter_.blocks[position];
        TextureBlock texture;
        texture.ReadHeader(record.buffer, record.offset, record.index, record.baseName);
        std::vector<std::uint8_t> image;
        return ConvertToBitmap(image, texture.Header()) == kBitmapOk &&
               DecodeBitmap(image, picture);
    }

    // A pair whose pictures could not be made after all (no memory): no texture.
    MaterialTexture Unmade(const std::pair<std::size_t, std::size_t>& key) {
        made_.emplace(key, MaterialTexture{});
        return {};
    }

    std::string_view NameAt(std::size_t position) const {
        const Block& record = converter_.blocks[position];
        return ByteReader(record.Payload()).Text(0, kTextureNameSize);
    }

    Converter& converter_;
    std::unordered_map<std::string_view, std::size_t> byName_;
    std::map<std::size_t, bool> converts_;  // block position -> the texture converts
    std::map<std::pair<std::size_t, std::size_t>, MaterialTexture> made_;
};

// The glTF material for Material m of the object.
int AddMaterial(GltfDocument& document, TextureLibrary& textures, const MaterialBlock& materials,
                std::int32_t m) {
    const TextureLibrary::MaterialTexture texture =
        textures.ForMaterial(materials.TextureNameAt(m), materials.AlphaMapNameAt(m), document);
    const int material = document.materials.Next();
    std::string& json = document.materials.items;
    json += "{\"name\":";
    AppendJsonString(json, materials.MaterialAt(m));
    json += ",\"pbrMetallicRoughness\":{";
    if (texture.texture >= 0) {
        json += "\"baseColorTexture\":{\"index\":";
        AppendInt(json, texture.texture);
        json += "},";
    }
    json += "\"metallicFactor\":0,\"roughnessFactor\":";
    AppendNumber(json, RoughnessFromPower(materials.PowerAt(m)));
    json += '}';
    if (texture.texture >= 0 && texture.alpha == AlphaUse::Mask) {
        json += ",\"alphaMode\":\"MASK\",\"alphaCutoff\":0.5";
    } else if (texture.texture >= 0 && texture.alpha == AlphaUse::Blend) {
        json += ",\"alphaMode\":\"BLEND\"";
    }
    json += '}';
    return material;
}

// Writes the current mesh's vertex and index data; appends the primitive's JSON to `primitives`.
// A mesh without vertices or triangles draws nothing and gives no primitive.
void AddPrimitive(GltfDocument& document, const VertexBlock& vertices, int material,
                  std::string& primitives) {
    const std::int32_t n = vertices.VertexCount();
    const std::int32_t faces = vertices.FaceCount();
    if (n <= 0 || faces <= 0) return;
    const auto count = static_cast<std::size_t>(n);

    float bounds[6];
    for (int k = 0; k < 3; ++k) {
        bounds[k] = std::numeric_limits<float>::infinity();
        bounds[3 + k] = -std::numeric_limits<float>::infinity();
    }
    const int positionView = document.AddView(count * 12, kTargetArrayBuffer, [&](ViewWriter& out) {
        for (std::int32_t k = 0; k < n; ++k) {
            const auto p = vertices.PositionAt(k);
            const float position[3] = {Finite(p[0]), Finite(p[2]), -Finite(p[1])};
            for (int c = 0; c < 3; ++c) {
                out.Float(position[c]);
                bounds[c] = std::min(bounds[c], position[c]);
                bounds[3 + c] = std::max(bounds[3 + c], position[c]);
            }
        }
    });
    const int positionAccessor =
        document.AddAccessor(positionView, kComponentFloat, n, "VEC3", bounds);

    int normalAccessor = -1;
    if (vertices.HasNormals()) {
        // glTF requires unit normals: each is scaled to length 1; one of length 0 (or not
        // finite) has no direction and becomes (0, 1, 0), up.
        const int view = document.AddView(count * 12, kTargetArrayBuffer, [&](ViewWriter& out) {
            for (std::int32_t k = 0; k < n; ++k) {
                const auto v = vertices.NormalAt(k);
                double x = v[0], y = v[2], z = -static_cast<double>(v[1]);
                const double length = std::sqrt(x * x + y * y + z * z);
                if (std::isfinite(length) && length > 0) {
                    x /= length, y /= length, z /= length;
                } else {
                    x = 0, y = 1, z = 0;
                }
                out.Float(static_cast<float>(x));
                out.Float(static_cast<float>(y));
                out.Float(static_cast<float>(z));
            }
        });
        normalAccessor = document.AddAccessor(view, kComponentFloat, n, "VEC3");
    }

    const int texCoordView = document.AddView(count * 8, kTargetArrayBuffer, [&](ViewWriter& out) {
        for (std::int32_t k = 0; k < n; ++k) {
            const auto t = vertices.TexCoordAt(k);
            out.Float(Finite(t[0]));
            out.Float(Finite(t[1]));
        }
    });
    const int texCoordAccessor = document.AddAccessor(texCoordView, kComponentFloat, n, "VEC2");

    // Indices keep the source's width, except that 16-bit indices naming vertex 65535 are
    // widened: glTF reserves the largest value of an index type for primitive restart.
    const auto corners = static_cast<std::size_t>(faces) * 3;
    bool wide = vertices.Layout().indexSize == 4;
    if (!wide) {
        for (std::int32_t t = 0; t < faces && !wide; ++t) {
            for (std::uint32_t index : vertices.FaceAt(t)) wide = wide || index >= 0xFFFF;
        }
    }
    const std::size_t indexSize = wide ? 4 : 2;
    const int indexView =
        document.AddView(corners * indexSize, kTargetElementArrayBuffer, [&](ViewWriter& out) {
            for (std::int32_t t = 0; t < faces; ++t) {
                const auto f = vertices.FaceAt(t);
                // The OBJ output's corner order.
                for (std::uint32_t index : {f[0], f[2], f[1]}) {
                    if (wide) {
                        out.U32(index);
                    } else {
                        out.U16(index);
                    }
                }
            }
        });
    const int indexAccessor =
        document.AddAccessor(indexView, wide ? kComponentUnsignedInt : kComponentUnsignedShort,
                             static_cast<std::int64_t>(corners), "SCALAR");

    if (!primitives.empty()) primitives += ',';
    primitives += "{\"attributes\":{\"POSITION\":";
    AppendInt(primitives, positionAccessor);
    if (normalAccessor >= 0) {
        primitives += ",\"NORMAL\":";
        AppendInt(primitives, normalAccessor);
    }
    primitives += ",\"TEXCOORD_0\":";
    AppendInt(primitives, texCoordAccessor);
    primitives += "},\"indices\":";
    AppendInt(primitives, indexAccessor);
    primitives += ",\"material\":";
    AppendInt(primitives, material);
    primitives += '}';
}

void AppendU32(std::string& out, std::uint32_t value) {
    std::uint8_t bytes[4];
    StoreU32(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

}  // namespace

// The glb is assembled in memory (the JSON chunk, which comes first, describes the binary data
// that follows it) and written in one go. A model without any object that can be written still
// gives a valid file: an empty scene and no BIN chunk.
int Converter::ExportGltf(std::string_view destPath) {
    const std::string path = GltfFileName(destPath, baseName);
    std::string head, tail;  // around the JSON text: the headers, the padding and the BIN header
    std::unique_ptr<GltfDocument> document;
    try {
        document = std::make_unique<GltfDocument>();
        TextureLibrary textures(*this);
        WalkObjects(*this, [&](ModelObject& object) {
            std::map<std::int32_t, int> objectMaterials;  // Material index -> glTF material
            std::string primitives;
            VertexBlock& vertices = object.vertices;
            WalkMeshes(*this, object, [&](std::int32_t, std::int32_t m) {
                if (vertices.VertexCount() > 0 && vertices.FaceCount() > 0) {
                    auto found = objectMaterials.find(m);
                    if (found == objectMaterials.end()) {
                        found =
                            objectMaterials
                                .emplace(m, AddMaterial(*document, textures, object.materials, m))
                                .first;
                    }
                    AddPrimitive(*document, vertices, found->second, primitives);
                    document->CheckSize();
                }
            });
            const int node = document->nodes.Next();
            std::string& json = document->nodes.items;
            json += "{\"name\":";
            AppendJsonString(json, object.name);
            if (!primitives.empty()) {
                const int mesh = document->meshes.Next();
                document->meshes.items += "{\"name\":";
                AppendJsonString(document->meshes.items, object.name);
                document->meshes.items += ",\"primitives\":[";
                document->meshes.items += primitives;
                document->meshes.items += "]}";
                json += ",\"mesh\":";
                AppendInt(json, mesh);
            }
            json += '}';
            if (!document->sceneNodes.empty()) document->sceneNodes += ',';
            AppendInt(document->sceneNodes, node);
            document->CheckSize();
        });

        std::uint64_t jsonSize = 0;
        document->Json([&jsonSize](std::string_view piece) { jsonSize += piece.size(); });
        const std::uint64_t padding = (4 - jsonSize % 4) % 4;
        jsonSize += padding;
        const std::uint64_t binary = document->binarySize;
        const std::uint64_t total = 12 + 8 + jsonSize + (binary > 0 ? 8 + binary : 0);
        if (total > UINT32_MAX) throw DocumentTooLarge{};
        AppendU32(head, kGlbMagic);
        AppendU32(head, kGlbVersion);
        AppendU32(head, static_cast<std::uint32_t>(total));
        AppendU32(head, static_cast<std::uint32_t>(jsonSize));
        AppendU32(head, kChunkJson);
        tail.assign(padding, ' ');
        if (binary > 0) {
            AppendU32(tail, static_cast<std::uint32_t>(binary));
            AppendU32(tail, kChunkBin);
        }
    } catch (const DocumentTooLarge&) {
        // Every length in a glb is 32 bits: such a model cannot be written as one.
        Print("Error : Can not write %s.\n", path.c_str());
        RecordOutputFailure();
        return 0;
    } catch (const std::bad_alloc&) {
        Print("Error : Can not write %s.\n", path.c_str());
        RecordOutputFailure();
        return 0;
    }

    OutputFile file(path);
    if (!OpenOutput(*this, file)) return 0;
    Print("-> %s\n", file.Path().c_str());
    file.Append(head);
    document->Json([&file](std::string_view piece) { file.Append(piece); });
    file.Append(tail);
    for (const std::vector<std::uint8_t>& block : document->binary.Blocks()) {
        file.Append(Bytes(block));
    }
    CloseOutput(*this, file);
    return 0;
}

}  // namespace morvex
