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

void PutFloat(std::uint8_t* out, float value) {
    StoreU32(out, std::bit_cast<std::uint32_t>(value));
}

// Everything the JSON chunk describes and the BIN chunk holds, built object by object.
class GltfDocument {
  public:
    // Adds a bufferView over the first `length` bytes of `data` (its storage padded with zeros
    // to a multiple of 4 bytes, so that every view starts 4-byte aligned). Returns its index.
    int AddView(std::vector<std::uint8_t> data, std::size_t length, int target) {
        data.resize((length + 3) & ~std::size_t{3}, 0);
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
        binarySize += data.size();
        pieces.push_back(std::move(data));
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

    // The whole JSON chunk text (not yet padded).
    std::string Json() const {
        std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"morvex\"},\"scene\":0,";
        json += "\"scenes\":[{";
        if (!sceneNodes.empty()) json += "\"nodes\":[" + sceneNodes + "]";
        json += "}]";
        auto array = [&json](std::string_view name, const JsonArray& a) {
            if (a.count == 0) return;
            json += ",\"";
            json += name;
            json += "\":[";
            json += a.items;
            json += ']';
        };
        array("nodes", nodes);
        array("meshes", meshes);
        array("materials", materials);
        array("textures", textures);
        if (textures.count > 0) {
            json += ",\"samplers\":[{\"wrapS\":";
            AppendInt(json, kWrapRepeat);
            json += ",\"wrapT\":";
            AppendInt(json, kWrapRepeat);
            json += "}]";
        }
        array("images", images);
        array("accessors", accessors);
        array("bufferViews", bufferViews);
        if (binarySize > 0) {
            json += ",\"buffers\":[{\"byteLength\":";
            AppendInt(json, static_cast<std::int64_t>(binarySize));
            json += "}]";
        }
        json += '}';
        return json;
    }

    std::string sceneNodes;
    JsonArray nodes, meshes, materials, textures, images, accessors, bufferViews;
    std::vector<std::vector<std::uint8_t>> pieces;  // the BIN chunk in order
    std::uint64_t binarySize = 0;
};

// The textures that materials name, found among the file's TEXI blocks, each converted at most
// once, and the glTF textures made of them, one per distinct (texture, alpha map) pair.
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
        const std::optional<std::size_t> base = Find(textureName), alpha = Find(alphaName);
        if (!base && !alpha) return {};
        const std::pair<std::size_t, std::size_t> key{base.value_or(kNone), alpha.value_or(kNone)};
        if (auto made = made_.find(key); made != made_.end()) return made->second;

        MaterialTexture result;
        RgbaPicture picture;
        if (base) picture = *Picture(*base);
        if (alpha) {
            const RgbaPicture& alphaMap = *Picture(*alpha);
            if (!base) {
                picture.width = alphaMap.width;
                picture.height = alphaMap.height;
                picture.pixels.assign(alphaMap.pixels.size(), 255);
            }
            CombineAlpha(picture, alphaMap);
            result.alpha = ClassifyAlpha(picture);
        }
        std::vector<std::uint8_t> png;
        if (EncodePng(picture, result.alpha != AlphaUse::Opaque, png)) {
            const std::size_t length = png.size();
            const int view = document.AddView(std::move(png), length, 0);
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
    // its warning once.
    std::optional<std::size_t> Find(std::string_view name) {
        if (name.empty()) return std::nullopt;
        auto found = byName_.find(name);
        if (found == byName_.end()) return std::nullopt;
        const std::size_t position = found->second;
        auto converted = pictures_.find(position);
        if (converted == pictures_.end()) {
            converted = pictures_.emplace(position, Convert(position)).first;
            if (!converted->second) {
                converter_.Print("Warning : can not convert texture %s.\n",
                                 ConsoleName(name).c_str());
            }
        }
        if (!converted->second) return std::nullopt;
        return position;
    }

    std::optional<RgbaPicture> Convert(std::size_t position) const {
        const Block& record = converter_.blocks[position];
        TextureBlock texture;
        texture.ReadHeader(record.buffer, record.offset, record.index, record.baseName);
        std::vector<std::uint8_t> image;
        RgbaPicture picture;
        if (ConvertToBitmap(image, texture.Header()) != kBitmapOk ||
            !DecodeBitmap(image, picture)) {
            return std::nullopt;
        }
        return picture;
    }

    const RgbaPicture* Picture(std::size_t position) const { return &*pictures_.at(position); }

    std::string_view NameAt(std::size_t position) const {
        const Block& record = converter_.blocks[position];
        return ByteReader(record.Payload()).Text(0, kTextureNameSize);
    }

    Converter& converter_;
    std::unordered_map<std::string_view, std::size_t> byName_;
    std::map<std::size_t, std::optional<RgbaPicture>> pictures_;
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

    std::vector<std::uint8_t> positions(count * 12);
    float bounds[6];
    for (int k = 0; k < 3; ++k) {
        bounds[k] = std::numeric_limits<float>::infinity();
        bounds[3 + k] = -std::numeric_limits<float>::infinity();
    }
    for (std::int32_t k = 0; k < n; ++k) {
        const auto p = vertices.PositionAt(k);
        const float out[3] = {Finite(p[0]), Finite(p[2]), -Finite(p[1])};
        for (int c = 0; c < 3; ++c) {
            PutFloat(&positions[12 * static_cast<std::size_t>(k) + 4 * static_cast<std::size_t>(c)],
                     out[c]);
            bounds[c] = std::min(bounds[c], out[c]);
            bounds[3 + c] = std::max(bounds[3 + c], out[c]);
        }
    }
    const int positionView = document.AddView(std::move(positions), count * 12, kTargetArrayBuffer);
    const int positionAccessor =
        document.AddAccessor(positionView, kComponentFloat, n, "VEC3", bounds);

    int normalAccessor = -1;
    if (vertices.HasNormals()) {
        // glTF requires unit normals: each is scaled to length 1; one of length 0 (or not
        // finite) has no direction and becomes (0, 1, 0), up.
        std::vector<std::uint8_t> normals(count * 12);
        for (std::int32_t k = 0; k < n; ++k) {
            const auto v = vertices.NormalAt(k);
            double x = v[0], y = v[2], z = -static_cast<double>(v[1]);
            const double length = std::sqrt(x * x + y * y + z * z);
            if (std::isfinite(length) && length > 0) {
                x /= length, y /= length, z /= length;
            } else {
                x = 0, y = 1, z = 0;
            }
            std::uint8_t* at = &normals[12 * static_cast<std::size_t>(k)];
            PutFloat(at, static_cast<float>(x));
            PutFloat(at + 4, static_cast<float>(y));
            PutFloat(at + 8, static_cast<float>(z));
        }
        const int view = document.AddView(std::move(normals), count * 12, kTargetArrayBuffer);
        normalAccessor = document.AddAccessor(view, kComponentFloat, n, "VEC3");
    }

    std::vector<std::uint8_t> texCoords(count * 8);
    for (std::int32_t k = 0; k < n; ++k) {
        const auto t = vertices.TexCoordAt(k);
        PutFloat(&texCoords[8 * static_cast<std::size_t>(k)], Finite(t[0]));
        PutFloat(&texCoords[8 * static_cast<std::size_t>(k) + 4], Finite(t[1]));
    }
    const int texCoordView = document.AddView(std::move(texCoords), count * 8, kTargetArrayBuffer);
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
    std::vector<std::uint8_t> indices(corners * indexSize);
    for (std::int32_t t = 0; t < faces; ++t) {
        const auto f = vertices.FaceAt(t);
        const std::uint32_t order[3] = {f[0], f[2], f[1]};  // the OBJ output's corner order
        std::uint8_t* at = &indices[static_cast<std::size_t>(t) * 3 * indexSize];
        for (std::uint32_t index : order) {
            if (wide) {
                StoreU32(at, index);
            } else {
                StoreU16(at, index);
            }
            at += indexSize;
        }
    }
    const int indexView =
        document.AddView(std::move(indices), corners * indexSize, kTargetElementArrayBuffer);
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
    std::string head;
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
                document->meshes.items += ",\"primitives\":[" + primitives + "]}";
                json += ",\"mesh\":";
                AppendInt(json, mesh);
            }
            json += '}';
            if (!document->sceneNodes.empty()) document->sceneNodes += ',';
            AppendInt(document->sceneNodes, node);
        });

        std::string json = document->Json();
        json.resize((json.size() + 3) & ~std::size_t{3}, ' ');
        const std::uint64_t binary = document->binarySize;
        const std::uint64_t total = 12 + 8 + json.size() + (binary > 0 ? 8 + binary : 0);
        if (total > UINT32_MAX) {
            // Every length in a glb is 32 bits: such a model cannot be written as one.
            Print("Error : Can not write %s.\n", path.c_str());
            RecordOutputFailure();
            return 0;
        }
        head.reserve(28 + json.size());
        AppendU32(head, kGlbMagic);
        AppendU32(head, kGlbVersion);
        AppendU32(head, static_cast<std::uint32_t>(total));
        AppendU32(head, static_cast<std::uint32_t>(json.size()));
        AppendU32(head, kChunkJson);
        head += json;
        if (binary > 0) {
            AppendU32(head, static_cast<std::uint32_t>(binary));
            AppendU32(head, kChunkBin);
        }
    } catch (const std::bad_alloc&) {
        Print("Error : Can not write %s.\n", path.c_str());
        RecordOutputFailure();
        return 0;
    }

    OutputFile file(path);
    if (!OpenOutput(*this, file)) return 0;
    Print("-> %s\n", file.Path().c_str());
    file.Append(head);
    for (const std::vector<std::uint8_t>& piece : document->pieces) file.Append(Bytes(piece));
    CloseOutput(*this, file);
    return 0;
}

}  // namespace morvex
