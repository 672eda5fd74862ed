#include "export/gltf_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <new>

#include "export/gltf_document.h"
#include "export/gltf_textures.h"
#include "export/object_walk.h"
#include "export/output_file.h"

namespace morvex {

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

constexpr int kComponentFloat = 5126;
constexpr int kComponentUnsignedShort = 5123;
constexpr int kComponentUnsignedInt = 5125;
constexpr int kTargetArrayBuffer = 34962;
constexpr int kTargetElementArrayBuffer = 34963;

// Non-finite floats have no JSON form and no meaning for a viewer: they are written as 0.
std::array<float, 3> Finite(const std::array<float, 3>& v) {
    std::array<float, 3> finite{};
    for (std::size_t k = 0; k < 3; ++k) finite[k] = std::isfinite(v[k]) ? v[k] : 0.0f;
    return finite;
}
float Finite(float value) {
    return std::isfinite(value) ? value : 0.0f;
}

// The glTF material for Material m of the object.
int AddMaterial(GltfDocument& document, TextureLibrary& textures, const MaterialBlock& materials,
                std::int32_t m) {
    const TextureLibrary::MaterialTexture texture =
        textures.ForMaterial(materials.TextureNameAt(m), materials.AlphaMapNameAt(m), document);
    const int material = document.materials.Next();
    JsonWriter json(document.materials.items);
    json.BeginObject().Key("name").String(materials.MaterialAt(m));
    json.Key("pbrMetallicRoughness").BeginObject();
    if (texture.texture >= 0) {
        json.Key("baseColorTexture").BeginObject().Key("index").Int(texture.texture).EndObject();
    }
    json.Key("metallicFactor").Int(0);
    json.Key("roughnessFactor").Number(RoughnessFromPower(materials.PowerAt(m)));
    json.EndObject();
    if (texture.texture >= 0 && texture.alpha == AlphaUse::Mask) {
        json.Key("alphaMode").String("MASK").Key("alphaCutoff").Number(0.5);
    } else if (texture.texture >= 0 && texture.alpha == AlphaUse::Blend) {
        json.Key("alphaMode").String("BLEND");
    }
    json.EndObject();
    return material;
}

// Writes the current mesh's vertex and index data; appends the primitive to `primitives`.
// A mesh without vertices or triangles draws nothing and gives no primitive.
void AddPrimitive(GltfDocument& document, const VertexBlock& vertices, int material,
                  JsonArray& primitives) {
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
            const std::array<float, 3> position = Upright(Finite(vertices.PositionAt(k)));
            for (std::size_t c = 0; c < 3; ++c) {
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
                const std::array<float, 3> v = Upright(vertices.NormalAt(k));
                double x = v[0], y = v[1], z = v[2];
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
    for (std::int32_t t = 0; t < faces && !wide; ++t) {
        for (std::uint32_t index : vertices.FaceAt(t)) wide = wide || index >= 0xFFFF;
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

    primitives.Next();
    JsonWriter json(primitives.items);
    json.BeginObject().Key("attributes").BeginObject().Key("POSITION").Int(positionAccessor);
    if (normalAccessor >= 0) json.Key("NORMAL").Int(normalAccessor);
    json.Key("TEXCOORD_0").Int(texCoordAccessor).EndObject();
    json.Key("indices").Int(indexAccessor).Key("material").Int(material).EndObject();
}

// One node per object, with a mesh of the object's primitives when it has any.
void AddObject(GltfDocument& document, TextureLibrary& textures, Console& console,
               ModelObject& object) {
    std::map<std::int32_t, int> objectMaterials;  // Material index -> glTF material
    // Dropped after the object: kept in blocks from the heap.
    JsonArray primitives;
    VertexBlock& vertices = object.vertices;
    WalkMeshes(console, object, [&](std::int32_t, std::int32_t m) {
        if (vertices.VertexCount() <= 0 || vertices.FaceCount() <= 0) return true;
        auto found = objectMaterials.find(m);
        if (found == objectMaterials.end()) {
            found = objectMaterials.emplace(m, AddMaterial(document, textures, object.materials, m))
                        .first;
        }
        if (document.Full()) return false;
        AddPrimitive(document, vertices, found->second, primitives);
        return !document.Full();
    });
    if (document.Full()) return;

    const int node = document.nodes.Next();
    JsonWriter json(document.nodes.items);
    json.BeginObject().Key("name").String(object.name);
    if (primitives.count > 0) {
        JsonArray& meshes = document.meshes;
        const int mesh = meshes.Next();
        JsonWriter(meshes.items).BeginObject().Key("name").String(object.name).Key("primitives");
        meshes.items += '[';
        primitives.ForEachPiece([&meshes](std::string_view piece) { meshes.AppendLong(piece); });
        meshes.items += "]}";
        json.Key("mesh").Int(mesh);
    }
    json.EndObject();
    if (!document.sceneNodes.empty()) document.sceneNodes += ',';
    AppendJsonInt(document.sceneNodes, node);
}

// Builds the whole document; TooLarge when its glb would exceed 4 GiB.
Outcome BuildDocument(const Model& model, Console& console, GltfDocument& document) {
    TextureLibrary textures(model, console);
    WalkObjects(model, console, [&](ModelObject& object) {
        AddObject(document, textures, console, object);
        return !document.Full();
    });
    return document.Full() ? Outcome::TooLarge : Outcome::Ok;
}

}  // namespace

// The glb is assembled in memory (the JSON chunk, which comes first, describes the binary data
// that follows it) and written in one go.
void ExportGltf(const Model& model, Console& console, std::string_view destPath) {
    const std::string path = GltfFileName(destPath, model.baseName);
    std::unique_ptr<GltfDocument> document;
    GlbFrame frame;
    Outcome built = Outcome::NoMemory;
    // The one place where building the document runs out of memory.
    try {
        document = std::make_unique<GltfDocument>();
        built = BuildDocument(model, console, *document);
        if (built == Outcome::Ok) {
            std::uint64_t jsonSize = 0;
            document->Json([&jsonSize](std::string_view piece) { jsonSize += piece.size(); });
            built = FrameGlb(jsonSize, document->binary.Size(), frame);
        }
    } catch (const std::bad_alloc&) {
        built = Outcome::NoMemory;
    }
    if (built != Outcome::Ok) {
        console.Error("Can not write %s.", path.c_str());
        console.RecordOutputFailure();
        return;
    }

    OutputFile file(path);
    if (OpenOutput(console, file) != Outcome::Ok) return;
    console.Written(file.Path());
    file.Append(frame.head);
    document->Json([&file](std::string_view piece) { file.Append(piece); });
    file.Append(frame.tail);
    document->binary.ForEachBlock([&file](Bytes block) { file.Append(block); });
    CloseOutput(console, file);
}

}  // namespace morvex
