#include "export/object_walk.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "decode/decoder_factory.h"
#include "export/output_file.h"
#include "export/text/number_format.h"

namespace morvex {

void WalkObjects(const Model& model, Console& console,
                 const std::function<bool(ModelObject&)>& write) {
    std::unique_ptr<MaterialBlock> materials;
    std::unique_ptr<VertexBlock> vertices;
    std::int64_t written = 0;
    const std::vector<ObjectBlocks> objects = FindObjects(model);
    for (std::size_t k = 0; k < objects.size(); ++k) {
        const ObjectBlocks& found = objects[k];
        if (!found.Converts()) continue;
        const Block& materialRecord = model.blocks[static_cast<std::size_t>(found.material)];
        const Block& vertexRecord = model.blocks[static_cast<std::size_t>(found.vertex)];
        materials = NewMaterialDecoder(materialRecord);
        vertices.reset();  // the previous object's data goes before this object's is decoded
        vertices = NewVertexDecoder(vertexRecord);
        materials->BindTo(materialRecord);
        vertices->BindTo(vertexRecord);
        const std::string_view name = model.ObjectName(found.info);
        if (materials->Decode() != 0) {
            if (console.Repeat(Repeated::Object))
                console.Damage("object %s skipped: broken material block.",
                               ConsoleName(name).c_str());
            continue;
        }
        if (written >= model.limits.objects) {
            console.Damage("object %s and the objects behind it skipped: more than %lld objects.",
                           ConsoleName(name).c_str(), static_cast<long long>(model.limits.objects));
            materials->Release();
            break;
        }
        ModelObject object{
            found.info, k, name, *materials, *vertices, model.limits.meshes, model.limits.meshSize};
        ++written;
        const bool more = write(object);
        materials->Release();
        if (!more) break;
    }
}

void ForEachMaterial(const Model& model,
                     const std::function<void(const MaterialBlock&, std::int32_t)>& visit) {
    for (const ObjectBlocks& object : FindObjects(model)) {
        if (!object.Converts()) continue;
        const Block& record = model.blocks[static_cast<std::size_t>(object.material)];
        const std::unique_ptr<MaterialBlock> materials = NewMaterialDecoder(record);
        materials->BindTo(record);
        if (materials->Decode() != 0) continue;
        const auto records =
            static_cast<std::int64_t>(materials->TableSize() / kMaterialRecordSize);
        for (std::int32_t j = 0; j < records; ++j) visit(*materials, j);
    }
}

std::string ObjectFileStem(std::string_view destPath, std::string_view baseName, int number,
                           std::string_view objectName, NameForm form) {
    std::string stem(destPath);
    stem += SafeName(baseName, form);
    stem += '_';
    stem += IntText(number, 2);
    stem += '_';
    stem += SafeName(objectName, form);
    return stem;
}

std::array<float, 3> UnitNormal(const std::array<float, 3>& v) {
    double x = v[0], y = v[1], z = v[2];
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!std::isfinite(length) || !(length > 0)) return {0, 1, 0};
    return {static_cast<float>(x / length), static_cast<float>(y / length),
            static_cast<float>(z / length)};
}

double PowerValue(float power) {
    if (std::isnan(power)) return 0.0;
    double t = std::trunc(static_cast<double>(power));
    if (t > INT32_MAX) t = INT32_MAX;
    if (t < INT32_MIN) t = INT32_MIN;
    return std::fabs(t);
}

namespace {

bool FacesInRange(const VertexBlock& vertices) {
    const auto count = static_cast<std::uint32_t>(vertices.VertexCount());
    const std::int32_t faces = vertices.FaceCount();
    for (std::int32_t t = 0; t < faces; ++t) {
        for (std::uint32_t index : vertices.FaceAt(t)) {
            if (index >= count) return false;
        }
    }
    return true;
}

}  // namespace

bool DecodeMesh(Console& console, ModelObject& object, std::int32_t i,
                std::int32_t& materialIndex) {
    const char* problem = nullptr;
    if (object.vertices.Decode(i, materialIndex) != 0) {
        problem = "broken vertex data";
    } else if (object.vertices.VertexCount() > object.meshSizeLimit ||
               object.vertices.FaceCount() > object.meshSizeLimit) {
        if (console.Repeat(Repeated::Mesh))
            console.Damage("object %s mesh %d skipped: more than %lld vertices or triangles.",
                           ConsoleName(object.name).c_str(), i,
                           static_cast<long long>(object.meshSizeLimit));
        object.vertices.Release();
        return false;
    } else if (!FacesInRange(object.vertices)) {
        problem = "vertex index out of range";
        object.vertices.Release();
    }
    if (problem == nullptr) return true;
    if (!console.Repeat(Repeated::Mesh)) return false;
    console.Damage("object %s mesh %d skipped: %s.", ConsoleName(object.name).c_str(), i, problem);
    return false;
}

MeshCursor::MeshCursor(Console& console, ModelObject& object)
    : console_(console), object_(object), count_(object.vertices.Count()) {
    if (count_ < 0) {
        if (console_.Repeat(Repeated::Mesh))
            console_.Damage("object %s meshes skipped: negative mesh count.",
                            ConsoleName(object_.name).c_str());
        done_ = true;
        return;
    }
    located_ = object_.vertices.LocatedMeshes();
    allowed_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(object_.meshLimit, 0, located_));
}

bool MeshCursor::Next(std::int32_t& mesh, std::int32_t& materialIndex) {
    object_.vertices.Release();
    if (done_) return false;
    while (next_ < allowed_) {
        const std::int32_t i = next_++;
        if (DecodeMesh(console_, object_, i, materialIndex)) {
            mesh = i;
            return true;
        }
    }
    done_ = true;
    const std::string name = ConsoleName(object_.name);
    if (allowed_ < located_ && console_.Repeat(Repeated::Mesh)) {
        console_.Damage("object %s meshes %d to %d skipped: more than %lld meshes.", name.c_str(),
                        allowed_, located_ - 1, static_cast<long long>(object_.meshLimit));
    }
    if (located_ == count_ || !console_.Repeat(Repeated::Mesh)) return false;
    if (count_ - located_ == 1) {
        console_.Damage("object %s mesh %d skipped: broken vertex data.", name.c_str(), located_);
    } else {
        console_.Damage("object %s meshes %d to %d skipped: broken vertex data.", name.c_str(),
                        located_, count_ - 1);
    }
    return false;
}

void WalkMeshes(Console& console, ModelObject& object,
                const std::function<bool(std::int32_t mesh, std::int32_t materialIndex)>& write) {
    MeshCursor cursor(console, object);
    std::int32_t mesh = 0, materialIndex = 0;
    while (cursor.Next(mesh, materialIndex)) {
        if (!write(mesh, materialIndex)) {
            object.vertices.Release();
            return;
        }
    }
}

}  // namespace morvex
