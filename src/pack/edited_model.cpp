#include "pack/edited_model.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>

#include "decode/decoder_factory.h"
#include "decode/material_block.h"
#include "decode/vertex_block.h"
#include "export/gltf/json_writer.h"
#include "export/output_file.h"

namespace morvex {

std::string RepairedName(std::string_view name) {
    std::string json;
    AppendJsonString(json, name);
    return nlohmann::json::parse(json).get<std::string>();
}

bool SameName(std::string_view edited, std::string_view original) {
    const std::string repaired = RepairedName(original);
    if (edited == repaired) return true;
    // "name.001": a name an editor made unique.
    if (edited.size() < repaired.size() + 2 || edited.substr(0, repaired.size()) != repaired ||
        edited[repaired.size()] != '.') {
        return false;
    }
    const std::string_view digits = edited.substr(repaired.size() + 1);
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

namespace {

std::array<double, 3> Transform(const Matrix4& m, const std::array<double, 3>& p) {
    return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
            m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
            m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}
std::array<double, 3> Apply3(const std::array<double, 9>& m, const std::array<double, 3>& v) {
    return {m[0] * v[0] + m[3] * v[1] + m[6] * v[2], m[1] * v[0] + m[4] * v[1] + m[7] * v[2],
            m[2] * v[0] + m[5] * v[1] + m[8] * v[2]};
}
std::array<double, 3> Normalised(const std::array<double, 3>& v) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(length > 0) || !std::isfinite(length)) return {0, 1, 0};
    return {v[0] / length, v[1] / length, v[2] / length};
}
// The inverse transpose of the upper 3 by 3 of `m` (column-major), up to a positive factor:
// the cofactor matrix, turned round when the determinant is negative, which the result then
// says.
bool NormalMatrix(const Matrix4& m, std::array<double, 9>& out) {
    auto a = [&m](int row, int column) { return m[column * 4 + row]; };
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
            out[c * 3 + r] = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
        }
    }
    // Row 0 of m times its cofactors is the determinant.
    const double determinant = a(0, 0) * out[0] + a(0, 1) * out[3] + a(0, 2) * out[6];
    if (determinant >= 0) return false;
    for (double& v : out) v = -v;
    return true;
}

// The objects a glb can speak of: those with a material and a vertex block, with their tables.
struct KnownObject {
    std::unique_ptr<MaterialBlock> materials;
    bool decoded = false;
};

class Reader {
  public:
    Reader(const Model& model, const GlbFile& glb, Console& console, EditedModel& edited)
        : model_(model), glb_(glb), console_(console), edited_(edited) {}

    Outcome Run() {
        for (const ObjectBlocks& found : FindObjects(model_)) {
            if (!found.Converts()) continue;
            const Block& record = model_.blocks[static_cast<std::size_t>(found.material)];
            KnownObject known;
            known.materials = NewMaterialDecoder(record);
            known.materials->BindTo(record);
            known.decoded = known.materials->Decode() == 0;
            objects_.emplace(found.info, std::move(known));
            const std::string name = RepairedName(model_.ObjectName(found.info));
            const auto [at, inserted] = byName_.emplace(name, found.info);
            if (!inserted) at->second = -1;  // a name of two objects names neither
        }
        std::vector<Matrix4> world;
        std::vector<bool> reached;
        glb_.WorldTransforms(world, reached);
        for (std::size_t n = 0; n < glb_.nodes.size(); ++n) {
            const GlbNode& node = glb_.nodes[n];
            if (!reached[n] || node.mesh < 0) continue;
            const int object = ObjectOf(node);
            if (object < 0) {
                console_.Warning("node %s skipped: it is none of the model's objects.",
                                 ConsoleName(node.name).c_str());
                continue;
            }
            EditedObject& target = edited_.objects[object];
            target.infoPosition = object;
            if (AddPrimitives(target, node.mesh, world[n]) != Outcome::Ok) return Outcome::Broken;
        }
        // An object whose node is there without a mesh has lost all of its triangles.
        for (std::size_t n = 0; n < glb_.nodes.size(); ++n) {
            if (!reached[n] || glb_.nodes[n].mesh >= 0) continue;
            const int object = ObjectOf(glb_.nodes[n], /*byName=*/false);
            if (object >= 0) edited_.objects[object].infoPosition = object;
        }
        return Outcome::Ok;
    }

  private:
    bool IsKnown(std::int64_t info) const {
        return info >= 0 && info <= INT32_MAX && objects_.count(static_cast<int>(info)) != 0;
    }

    // The object of a node: its extras, its mesh's extras, else its name.
    int ObjectOf(const GlbNode& node, bool byName = true) const {
        if (IsKnown(node.it3.object)) return static_cast<int>(node.it3.object);
        if (node.mesh >= 0) {
            const std::int64_t fromMesh =
                glb_.meshes[static_cast<std::size_t>(node.mesh)].it3.object;
            if (IsKnown(fromMesh)) return static_cast<int>(fromMesh);
        }
        if (!byName) return -1;
        for (const auto& [name, info] : byName_) {
            if (info >= 0 && SameName(node.name, model_.ObjectName(info))) return info;
        }
        return -1;
    }

    // The Material record of glb material `g` in `object`, or -1.
    std::int32_t RecordOf(int object, int g) const {
        if (g < 0) return -1;
        const GlbMaterial& material = glb_.materials[static_cast<std::size_t>(g)];
        const KnownObject& known = objects_.at(object);
        if (!known.decoded) return -1;
        const MaterialBlock& table = *known.materials;
        const auto records = static_cast<std::int64_t>(table.TableSize() / kMaterialRecordSize);
        if (material.it3.object == object && material.it3.material >= 0 &&
            material.it3.material < records) {
            return static_cast<std::int32_t>(material.it3.material);
        }
        for (std::int32_t r = 0; r < records; ++r) {
            if (SameName(material.name, table.MaterialAt(r))) return r;
        }
        return -1;
    }

    Outcome AddPrimitives(EditedObject& target, int glbMesh, const Matrix4& world) {
        const GlbMesh& mesh = glb_.meshes[static_cast<std::size_t>(glbMesh)];
        // The mesh's own record of which it3 mesh each primitive is, when it is whole.
        const bool hinted = mesh.it3.object == target.infoPosition &&
                            mesh.it3.meshes.size() == mesh.primitives.size();
        for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
            const GlbPrimitive& primitive = mesh.primitives[p];
            EditedPrimitive placed;
            placed.glbMesh = glbMesh;
            placed.glbPrimitive = static_cast<int>(p);
            placed.world = world;
            placed.record = RecordOf(target.infoPosition, primitive.material);
            if (placed.record < 0) {
                console_.Error("object %s: a primitive of mesh %s uses no material of the object.",
                               ConsoleName(model_.ObjectName(target.infoPosition)).c_str(),
                               ConsoleName(mesh.name).c_str());
                return Outcome::Broken;
            }
            placed.mesh = hinted ? static_cast<std::int32_t>(mesh.it3.meshes[p]) : -1;
            NoteMaterial(target, placed.record, primitive.material);
            target.primitives.push_back(placed);
        }
        return Outcome::Ok;
    }

    void NoteMaterial(EditedObject& target, std::int32_t record, int g) {
        if (target.materials.count(record) != 0) return;
        const GlbMaterial& material = glb_.materials[static_cast<std::size_t>(g)];
        EditedMaterial edited;
        edited.name = material.name;
        edited.roughness = material.roughness;
        if (material.baseColorTexture >= 0) {
            edited.image = glb_.textureSources[static_cast<std::size_t>(material.baseColorTexture)];
        }
        target.materials.emplace(record, std::move(edited));
    }

    const Model& model_;
    const GlbFile& glb_;
    Console& console_;
    EditedModel& edited_;
    std::map<int, KnownObject> objects_;
    std::map<std::string, int> byName_;
};

}  // namespace

Outcome ReadEditedModel(const Model& model, const GlbFile& glb, Console& console,
                        EditedModel& edited) {
    return Reader(model, glb, console, edited).Run();
}

namespace {

// glTF's normals are unit vectors. One that is not (an editor's arithmetic overflowed on
// coordinates near the float range, or gave up and wrote NaN) has no direction to trust: the
// vertex is taken to have no normal, so that it keeps its stored one.
bool IsUnit(const float* n) {
    const double length =
        std::sqrt(static_cast<double>(n[0]) * n[0] + static_cast<double>(n[1]) * n[1] +
                  static_cast<double>(n[2]) * n[2]);
    return std::fabs(length - 1.0) <= 1e-3;
}

}  // namespace

Outcome LoadGeometry(const GlbFile& glb, std::string_view objectName, Console& console,
                     EditedObject& object) {
    const std::string name = ConsoleName(objectName);
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;
    std::string problem;
    // Room for every vertex and triangle, from the accessors' counts (each bounded by the bytes
    // of its bufferView), so that they are not copied while they grow.
    std::uint64_t vertices = 0, triangles = 0;
    for (const EditedPrimitive& placed : object.primitives) {
        const GlbPrimitive& p = glb.meshes[static_cast<std::size_t>(placed.glbMesh)]
                                    .primitives[static_cast<std::size_t>(placed.glbPrimitive)];
        GlbFile::Elements e;
        if (glb.FloatElements(p.position, 3, e, problem)) vertices += e.count;
        if (p.indices >= 0 && glb.IndexElements(p.indices, e, problem)) triangles += e.count / 3;
        if (p.indices < 0) triangles += e.count / 3;
    }
    object.vertices.clear();
    object.triangles.clear();
    object.vertices.reserve(static_cast<std::size_t>(vertices));
    object.triangles.reserve(static_cast<std::size_t>(triangles));
    for (EditedPrimitive& placed : object.primitives) {
        const GlbMesh& mesh = glb.meshes[static_cast<std::size_t>(placed.glbMesh)];
        const GlbPrimitive& primitive =
            mesh.primitives[static_cast<std::size_t>(placed.glbPrimitive)];
        const bool identity = !placed.Transformed();
        // Normals go through the inverse transpose of the upper 3 by 3.
        std::array<double, 9> normalMatrix{};
        bool mirrored = false;  // a transform that mirrors turns every triangle over
        if (!identity) mirrored = NormalMatrix(placed.world, normalMatrix);
        normals.clear();
        texCoords.clear();
        problem.clear();
        if (primitive.position < 0 ||
            glb.Floats(primitive.position, 3, positions, problem) != Outcome::Ok ||
            (primitive.normal >= 0 &&
             glb.Floats(primitive.normal, 3, normals, problem) != Outcome::Ok) ||
            (primitive.texCoord >= 0 &&
             glb.Floats(primitive.texCoord, 2, texCoords, problem) != Outcome::Ok) ||
            (primitive.indices >= 0 &&
             glb.Indices(primitive.indices, indices, problem) != Outcome::Ok)) {
            if (problem.empty()) problem = "a primitive has no positions";
            console.Error("object %s: mesh %s: %s.", name.c_str(), ConsoleName(mesh.name).c_str(),
                          problem.c_str());
            return Outcome::Broken;
        }
        const std::size_t count = positions.size() / 3;
        if ((!normals.empty() && normals.size() != count * 3) ||
            (!texCoords.empty() && texCoords.size() != count * 2)) {
            console.Error("object %s: mesh %s: attributes of different lengths.", name.c_str(),
                          ConsoleName(mesh.name).c_str());
            return Outcome::Broken;
        }
        if (primitive.indices < 0) {
            indices.resize(count);
            for (std::size_t k = 0; k < count; ++k) indices[k] = static_cast<std::uint32_t>(k);
        }
        const auto base = static_cast<std::uint32_t>(object.vertices.size());
        if (count > UINT32_MAX - base) {
            console.Error("object %s: too many vertices.", name.c_str());
            return Outcome::Broken;
        }
        placed.firstVertex = base;
        placed.vertexCount = static_cast<std::uint32_t>(count);
        placed.firstTriangle = object.triangles.size();
        placed.triangleCount = indices.size() / 3;
        for (std::size_t k = 0; k < count; ++k) {
            EditedVertex v;
            // glTF (x, y, z) was the model's (x, z, -y).
            auto back = [](const std::array<double, 3>& g) {
                return std::array<float, 3>{static_cast<float>(g[0]), static_cast<float>(-g[2]),
                                            static_cast<float>(g[1])};
            };
            const std::array<double, 3> p3 = {positions[3 * k], positions[3 * k + 1],
                                              positions[3 * k + 2]};
            v.position = back(p3);
            v.placed = identity ? v.position : back(Transform(placed.world, p3));
            if (!normals.empty() && IsUnit(normals.data() + 3 * k)) {
                const std::array<double, 3> n3 = {normals[3 * k], normals[3 * k + 1],
                                                  normals[3 * k + 2]};
                v.normal = back(n3);
                v.placedNormal = identity ? v.normal : back(Normalised(Apply3(normalMatrix, n3)));
                v.hasNormal = true;
            }
            if (!texCoords.empty()) {
                v.texCoord = {texCoords[2 * k], texCoords[2 * k + 1]};
                v.hasTexCoord = true;
            }
            object.vertices.push_back(v);
        }
        for (std::size_t t = 0; t + 2 < indices.size(); t += 3) {
            EditedTriangle triangle;
            for (int c = 0; c < 3; ++c) {
                if (indices[t + static_cast<std::size_t>(c)] >= count) {
                    console.Error(
                        "object %s: mesh %s: a triangle names a vertex it does not "
                        "have.",
                        name.c_str(), ConsoleName(mesh.name).c_str());
                    return Outcome::Broken;
                }
            }
            // Written first, third, second.
            triangle.corners = {base + indices[t], base + indices[t + 2], base + indices[t + 1]};
            if (mirrored) std::swap(triangle.corners[1], triangle.corners[2]);
            triangle.material = placed.record;
            triangle.mesh = placed.mesh;
            object.triangles.push_back(triangle);
        }
    }
    return Outcome::Ok;
}

}  // namespace morvex
