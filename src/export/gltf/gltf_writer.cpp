#include "export/gltf/gltf_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <new>

#include "export/gltf/gltf_document.h"
#include "export/gltf/gltf_textures.h"
#include "export/object_walk.h"
#include "export/output_file.h"
#include "it3/parallel.h"

namespace morvex {

double RoughnessFromPower(float power) {
    const double n = PowerValue(power);
    const double roughness = std::sqrt(std::sqrt(2.0 / (n + 2.0)));
    return std::clamp(roughness, 0.0, 1.0);
}

std::string GltfFileName(std::string_view destPath, std::string_view baseName, NameForm form) {
    std::string name(destPath);
    name += SafeName(baseName, form);
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

// The identifiers that lead from a glTF node, mesh or material back to the it3 object (the
// position of its INFO block) it was made from: "extras":{"it3":{"object":N, ...}}.
void BeginIt3Extras(JsonWriter& json, int infoPosition) {
    json.Key("extras").BeginObject().Key("it3").BeginObject().Key("object").Int(infoPosition);
}

// The glTF material for Material m of the object.
int AddMaterial(GltfDocument& document, TextureLibrary& textures, const MaterialBlock& materials,
                int infoPosition, std::int32_t m) {
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
    BeginIt3Extras(json, infoPosition);
    json.Key("material").Int(m).EndObject().EndObject();
    json.EndObject();
    return material;
}

// A mesh on its way into the document. Its JSON is written and its views are set aside in the
// BIN chunk in mesh order; their bytes are written afterwards, on any thread.
struct MeshViews {
    MeshData mesh;
    std::shared_ptr<const void> hold;  // keeps the mesh's bytes while they are written
    std::vector<MutableBytes> positions, normals, texCoords, indices;
    bool wide = false;  // 32-bit indices
};

std::array<float, 3> UprightPosition(const MeshData& mesh, std::int32_t k) {
    return Upright(Finite(mesh.PositionAt(k)));
}

// Adds the JSON of `mesh`'s primitive (views, accessors and the primitive in `primitives`) and
// sets its views aside in `views`. A mesh without vertices or triangles draws nothing and is
// not given to it.
void AddPrimitive(GltfDocument& document, const MeshData& mesh, int material, JsonArray& primitives,
                  MeshViews& views) {
    const std::int32_t n = mesh.vertexCount;
    const auto count = static_cast<std::size_t>(n);

    float bounds[6];
    for (int k = 0; k < 3; ++k) {
        bounds[k] = std::numeric_limits<float>::infinity();
        bounds[3 + k] = -std::numeric_limits<float>::infinity();
    }
    for (std::int32_t k = 0; k < n; ++k) {
        const std::array<float, 3> position = UprightPosition(mesh, k);
        for (std::size_t c = 0; c < 3; ++c) {
            bounds[c] = std::min(bounds[c], position[c]);
            bounds[3 + c] = std::max(bounds[3 + c], position[c]);
        }
    }
    const int positionView = document.ReserveView(count * 12, kTargetArrayBuffer, views.positions);
    const int positionAccessor =
        document.AddAccessor(positionView, kComponentFloat, n, "VEC3", bounds);

    int normalAccessor = -1;
    views.normals.clear();
    if (mesh.HasNormals()) {
        const int view = document.ReserveView(count * 12, kTargetArrayBuffer, views.normals);
        normalAccessor = document.AddAccessor(view, kComponentFloat, n, "VEC3");
    }

    const int texCoordView = document.ReserveView(count * 8, kTargetArrayBuffer, views.texCoords);
    const int texCoordAccessor = document.AddAccessor(texCoordView, kComponentFloat, n, "VEC2");

    // Indices keep the source's width, except that 16-bit indices naming vertex 65535 are
    // widened: glTF reserves the largest value of an index type for primitive restart. Every
    // index names a vertex of the mesh, so only a mesh of more vertices can name it.
    const auto corners = static_cast<std::size_t>(mesh.faceCount) * 3;
    bool wide = mesh.indexSize == 4;
    if (!wide && n > 0xFFFF) {
        for (std::int32_t t = 0; t < mesh.faceCount && !wide; ++t) {
            for (std::uint32_t index : mesh.FaceAt(t)) wide = wide || index >= 0xFFFF;
        }
    }
    views.wide = wide;
    const int indexView =
        document.ReserveView(corners * (wide ? 4 : 2), kTargetElementArrayBuffer, views.indices);
    const int indexAccessor =
        document.AddAccessor(indexView, wide ? kComponentUnsignedInt : kComponentUnsignedShort,
                             static_cast<std::int64_t>(corners), "SCALAR");

    primitives.Next();
    JsonWriter json(primitives.items);
    json.BeginObject().Key("attributes").BeginObject().Key("POSITION").Int(positionAccessor);
    if (normalAccessor >= 0) json.Key("NORMAL").Int(normalAccessor);
    json.Key("TEXCOORD_0").Int(texCoordAccessor).EndObject();
    json.Key("indices").Int(indexAccessor).Key("material").Int(material).EndObject();
    views.mesh = mesh;
}

// Writes the bytes of the views AddPrimitive set aside.
void WriteViews(MeshViews& views) {
    const MeshData& mesh = views.mesh;
    const std::int32_t n = mesh.vertexCount;
    {
        ViewWriter out(views.positions);
        for (std::int32_t k = 0; k < n; ++k) {
            const std::array<float, 3> position = UprightPosition(mesh, k);
            out.Float(position[0]);
            out.Float(position[1]);
            out.Float(position[2]);
        }
    }
    if (!views.normals.empty()) {
        ViewWriter out(views.normals);
        for (std::int32_t k = 0; k < n; ++k) {
            const std::array<float, 3> v = UnitNormal(Upright(mesh.NormalAt(k)));
            out.Float(v[0]);
            out.Float(v[1]);
            out.Float(v[2]);
        }
    }
    {
        ViewWriter out(views.texCoords);
        for (std::int32_t k = 0; k < n; ++k) {
            const auto t = mesh.TexCoordAt(k);
            out.Float(Finite(t[0]));
            out.Float(Finite(t[1]));
        }
    }
    ViewWriter out(views.indices);
    for (std::int32_t t = 0; t < mesh.faceCount; ++t) {
        const auto f = mesh.FaceAt(t);
        // The OBJ output's corner order.
        for (std::uint32_t index : {f[0], f[2], f[1]}) {
            if (views.wide) {
                out.U32(index);
            } else {
                out.U16(index);
            }
        }
    }
}

// The bytes of a mesh's views, about.
std::size_t ViewBytes(const MeshData& mesh) {
    return static_cast<std::size_t>(mesh.vertexCount) * 32 +
           static_cast<std::size_t>(mesh.faceCount) * 3 * mesh.indexSize;
}
constexpr std::size_t kSmallMesh = std::size_t{16} << 10;

// One node per object, with a mesh of the object's primitives when it has any. The meshes are
// decoded and their JSON written in order; their views are written in parallel.
void AddObject(GltfDocument& document, TextureLibrary& textures, Console& console,
               ModelObject& object, std::vector<std::unique_ptr<MeshViews>>& pieces) {
    std::map<std::int32_t, int> objectMaterials;  // Material index -> glTF material
    std::vector<std::int32_t> primitiveMeshes;    // the it3 mesh of each primitive
    // Dropped after the object: kept in blocks from the heap.
    JsonArray primitives;
    VertexBlock& vertices = object.vertices;
    MeshCursor cursor(console, object);
    bool stop = false;
    auto next = [&](MeshViews& views) {
        std::int32_t i = 0, m = 0;
        while (!stop && cursor.Next(i, m)) {
            if (vertices.VertexCount() <= 0 || vertices.FaceCount() <= 0) continue;
            auto found = objectMaterials.find(m);
            if (found == objectMaterials.end()) {
                found = objectMaterials
                            .emplace(m, AddMaterial(document, textures, object.materials,
                                                    object.infoPosition, m))
                            .first;
            }
            if (document.Full()) break;
            const MeshData& mesh = vertices.Current();
            AddPrimitive(document, mesh, found->second, primitives, views);
            primitiveMeshes.push_back(i);
            stop = document.Full();
            if (ViewBytes(mesh) < kSmallMesh) {
                // Written here: handing it to another thread would cost more than its bytes.
                WriteViews(views);
                continue;
            }
            views.hold = vertices.HoldCurrent();
            return true;
        }
        stop = true;
        return false;
    };
    // Two pieces per thread: a mesh's views are written faster than the next mesh decodes.
    RunInOrder<MeshViews>(
        next, WriteViews, [](MeshViews& views) { views.hold.reset(); }, 2, &pieces);
    vertices.Release();
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
        meshes.items += "],";
        JsonWriter extras(meshes.items);
        BeginIt3Extras(extras, object.infoPosition);
        extras.Key("meshes").BeginArray();
        for (std::int32_t i : primitiveMeshes) extras.Int(i);
        extras.EndArray().EndObject().EndObject();
        meshes.items += '}';
        json.Key("mesh").Int(mesh);
    }
    BeginIt3Extras(json, object.infoPosition);
    json.EndObject().EndObject();
    json.EndObject();
    if (!document.sceneNodes.empty()) document.sceneNodes += ',';
    AppendJsonInt(document.sceneNodes, node);
}

// Builds the whole document; TooLarge when its glb would exceed 4 GiB.
Outcome BuildDocument(const Model& model, Console& console, GltfDocument& document) {
    TextureLibrary textures(model, console);
    std::vector<std::unique_ptr<MeshViews>> pieces;  // reused from one object to the next
    WalkObjects(model, console, [&](ModelObject& object) {
        AddObject(document, textures, console, object, pieces);
        return !document.Full();
    });
    return document.Full() ? Outcome::TooLarge : Outcome::Ok;
}

}  // namespace

// The glb is assembled in memory (the JSON chunk, which comes first, describes the binary data
// that follows it) and written in one go.
void ExportGltf(const Model& model, Console& console, std::string_view destPath,
                const platform::Folder* folder) {
    ExportGltfFile(model, console, GltfFileName(destPath, model.baseName, model.names.files),
                   folder);
}

void ExportGltfFile(const Model& model, Console& console, const std::string& path,
                    const platform::Folder* folder) {
    std::unique_ptr<GltfDocument> document;
    GlbFrame frame;
    Outcome built = Outcome::NoMemory;
    // The one place where building the document runs out of memory.
    try {
        document = std::make_unique<GltfDocument>();
        built = BuildDocument(model, console, *document);
        if (built == Outcome::Ok) built = document->Finish();
        if (built == Outcome::Ok) {
            std::uint64_t jsonSize = 0;
            document->Json([&jsonSize](std::string_view piece) { jsonSize += piece.size(); });
            built = FrameGlb(jsonSize, document->binary.Size(), frame);
        }
    } catch (const std::bad_alloc&) {
        built = Outcome::NoMemory;
    }
    if (built != Outcome::Ok) {
        console.Error("Can not write %s.", ConsoleName(path).c_str());
        console.RecordOutputFailure();
        return;
    }

    OutputFile file(path, folder);
    if (OpenOutput(console, file) != Outcome::Ok) return;
    console.Written(file.Path());
    file.Append(frame.head);
    document->Json([&file](std::string_view piece) { file.Append(piece); });
    file.Append(frame.tail);
    document->binary.ForEachBlock([&file](Bytes block) { file.Append(block); });
    CloseOutput(console, file);
}

}  // namespace morvex
