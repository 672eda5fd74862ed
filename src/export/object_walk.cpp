#include "export/object_walk.h"

#include <cmath>
#include <cstdint>
#include <memory>

#include "export/number_format.h"
#include "export/output_file.h"

namespace morvex {

void WalkObjects(Converter& converter, const std::function<void(ModelObject&)>& write) {
    std::unique_ptr<MaterialBlock> materials;
    std::unique_ptr<VertexBlock> vertices;
    for (std::size_t b = 0; b < converter.blocks.size(); ++b) {
        if (converter.blocks[b].TagBits() != kTagInfo) continue;
        int info = static_cast<int>(b);
        int m = converter.CreateMaterialDecoder(info, materials);
        if (m < 0 || !materials) continue;
        int v = converter.CreateVertexDecoder(info, vertices);
        if (v < 0 || !vertices) continue;
        const Block& mb = converter.blocks[static_cast<std::size_t>(m)];
        const Block& vb = converter.blocks[static_cast<std::size_t>(v)];
        materials->ReadHeader(mb.buffer, mb.offset, mb.index, mb.baseName);
        vertices->ReadHeader(vb.buffer, vb.offset, vb.index, vb.baseName);
        if (materials->Decode() != 0) {
            converter.Print("Warning : object %s skipped: broken material block.\n",
                            ConsoleName(converter.ObjectName(info)).c_str());
            continue;
        }
        ModelObject object{info, converter.ObjectName(info), *materials, *vertices};
        write(object);
        materials->Release();
    }
}

std::string ObjectFileStem(std::string_view destPath, std::string_view baseName, int number,
                           std::string_view objectName) {
    std::string stem(destPath);
    stem += SafeName(baseName);
    stem += '_';
    char digits[32];
    stem.append(digits, FormatInt(digits, number, 2));
    stem += '_';
    stem += SafeName(objectName);
    return stem;
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
    auto count = static_cast<std::uint32_t>(vertices.VertexCount());
    std::int32_t faces = vertices.FaceCount();
    for (std::int32_t t = 0; t < faces; ++t) {
        for (std::uint32_t index : vertices.FaceAt(t)) {
            if (index >= count) return false;
        }
    }
    return true;
}

}  // namespace

bool DecodeMesh(Converter& converter, ModelObject& object, std::int32_t i,
                std::int32_t& materialIndex) {
    const char* problem = nullptr;
    if (object.vertices.Decode(i, materialIndex) != 0) {
        problem = "broken vertex data";
    } else if (!FacesInRange(object.vertices)) {
        problem = "vertex index out of range";
        object.vertices.Release();
    }
    if (problem == nullptr) return true;
    converter.Print("Warning : object %s mesh %d skipped: %s.\n", ConsoleName(object.name).c_str(),
                    i, problem);
    return false;
}

void WalkMeshes(Converter& converter, ModelObject& object,
                const std::function<void(std::int32_t mesh, std::int32_t materialIndex)>& write) {
    VertexBlock& vertices = object.vertices;
    const std::int32_t count = vertices.Count();
    const std::string name = ConsoleName(object.name);
    if (count < 0) {
        converter.Print("Warning : object %s meshes skipped: negative mesh count.\n", name.c_str());
        return;
    }
    const std::int32_t located = vertices.LocatedMeshes();
    for (std::int32_t i = 0; i < located; ++i) {
        std::int32_t m = 0;
        if (!DecodeMesh(converter, object, i, m)) continue;
        write(i, m);
        vertices.Release();
    }
    if (located == count) return;
    if (count - located == 1) {
        converter.Print("Warning : object %s mesh %d skipped: broken vertex data.\n", name.c_str(),
                        located);
    } else {
        converter.Print("Warning : object %s meshes %d to %d skipped: broken vertex data.\n",
                        name.c_str(), located, count - 1);
    }
}

}  // namespace morvex
