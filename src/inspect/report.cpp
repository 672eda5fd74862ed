#include "inspect/report.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string_view>

#include "decode/decoder_factory.h"
#include "decode/material_block.h"
#include "decode/texture_block.h"
#include "decode/vertex_block.h"
#include "export/gltf/gltf_writer.h"
#include "export/object_walk.h"
#include "export/output_file.h"

namespace morvex {
namespace {

// Unknown blocks listed one by one; the total is in the totals.
constexpr std::int64_t kListedUnknownBlocks = kRepeatLimit;

std::string TagOf(const Model& model, int position) {
    if (position < 0) return {};
    return std::string(model.blocks[static_cast<std::size_t>(position)].TagText());
}

// The objects in file order, each with the material and vertex block its decoders would read.
void ListObjects(const Model& model, ModelReport& report) {
    const std::vector<ObjectBlocks> objects = FindObjects(model);
    // Reserved, not grown: a list grown by doubling holds up to three times its objects.
    report.objects.reserve(objects.size());
    for (const ObjectBlocks& found : objects) {
        ObjectReport object;
        object.index = static_cast<std::int32_t>(report.objects.size());
        object.block = found.info;
        object.name.assign(model.ObjectName(found.info));
        object.materialTag = TagOf(model, found.material);
        object.vertexTag = TagOf(model, found.vertex);
        if (found.material < 0) {
            object.skipped = "no material block";
        } else if (found.vertex < 0) {
            object.skipped = "no vertex block";
        } else {
            object.skipped = "broken material block";  // cleared when the walk reaches it
        }
        report.objects.push_back(std::move(object));
    }
}

void AddToBounds(ModelReport& report, const std::array<float, 3>& p) {
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) return;
    if (!report.boundsMin) {
        report.boundsMin = p;
        report.boundsMax = p;
        return;
    }
    for (std::size_t k = 0; k < 3; ++k) {
        (*report.boundsMin)[k] = std::min((*report.boundsMin)[k], p[k]);
        (*report.boundsMax)[k] = std::max((*report.boundsMax)[k], p[k]);
    }
}

void ReportMaterials(const MaterialBlock& table, const std::set<std::string_view>& textures,
                     ObjectReport& object, ModelReport& report) {
    // Only records that lie in the decoded table are listed, as the MQO writer does.
    const auto records = static_cast<std::int64_t>(table.TableSize() / kMaterialRecordSize);
    const auto count =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(table.Count(), 0, records));
    for (std::int32_t j = 0; j < count; ++j) {
        MaterialReport material;
        material.index = j;
        material.name.assign(table.MaterialAt(j));
        material.texture.assign(table.TextureNameAt(j));
        material.alphaMap.assign(table.AlphaMapNameAt(j));
        material.power = table.PowerAt(j);
        material.textureFound = textures.count(material.texture) > 0;
        material.alphaMapFound = textures.count(material.alphaMap) > 0;
        if (!material.texture.empty() && !material.textureFound) {
            report.missingTextures.push_back({object.name, material.name, false, material.texture});
        }
        if (!material.alphaMap.empty() && !material.alphaMapFound) {
            report.missingTextures.push_back({object.name, material.name, true, material.alphaMap});
        }
        object.materials.push_back(std::move(material));
    }
}

void ReportMeshes(ModelObject& walked, Console& console, ObjectReport& object,
                  ModelReport& report) {
    VertexBlock& vertices = walked.vertices;
    object.meshCount = vertices.Count();
    std::vector<MeshReport> written;
    WalkMeshes(console, walked, [&](std::int32_t i, std::int32_t m) {
        MeshReport mesh;
        mesh.index = i;
        mesh.written = true;
        mesh.vertices = vertices.VertexCount();
        mesh.triangles = vertices.FaceCount();
        mesh.material = m;
        mesh.materialName.assign(walked.materials.MaterialAt(m));
        for (std::int32_t k = 0; k < mesh.vertices; ++k)
            AddToBounds(report, vertices.PositionAt(k));
        written.push_back(std::move(mesh));
        return true;
    });
    // The meshes the tables locate but the walk skipped are listed as skipped; the ones beyond
    // them only counted (a count taken from the file can be any number).
    const std::int32_t located = object.meshCount < 0 ? 0 : vertices.LocatedMeshes();
    object.packMeshVertices = vertices.Layout().indexSize == 2
                                  ? 65535
                                  : std::int64_t{INT32_MAX} / vertices.Layout().stride;
    if (located < object.meshCount || written.size() < static_cast<std::size_t>(located)) {
        object.packProblem = "meshes that do not decode";
    }
    std::size_t next = 0;
    for (std::int32_t i = 0; i < located; ++i) {
        if (next < written.size() && written[next].index == i) {
            object.meshes.push_back(std::move(written[next++]));
        } else {
            MeshReport mesh;
            mesh.index = i;
            object.meshes.push_back(std::move(mesh));
        }
    }
}

void ReportTextures(const Model& model, ModelReport& report) {
    TextureBlock texture;
    for (std::size_t b = 0; b < model.blocks.size(); ++b) {
        const Block& record = model.blocks[b];
        if (record.TagBits() != kTagTexi || texture.BindTo(record) < 0) continue;
        TextureReport entry;
        entry.block = static_cast<std::int32_t>(b);
        entry.name.assign(texture.Name());
        entry.file = SafeName(entry.name, model.names.files) + ".bmp";
        const Bytes header = texture.Header();
        const ByteReader reader(header);
        std::int32_t code = 0;
        if (reader.I32(0, code)) {
            entry.format = code;
            std::int32_t width = 0, height = 0;
            std::int16_t width16 = 0, height16 = 0;
            if (code == 1006 && reader.I16(18, width16) && reader.I16(20, height16)) {
                width = width16, height = height16;
            } else if (code >= 1001 && code <= 1005 && reader.I32(4, width) &&
                       reader.I32(8, height)) {
            } else {
                width = height = 0;
            }
            entry.width = width;
            entry.height = height;
        }
        Picture picture;
        const Outcome decoded = DecodeTexture(header, picture, model.limits);
        entry.converts = decoded == Outcome::Ok;
        if (!entry.converts) entry.problem = std::string(OutcomeName(decoded));
        report.textures.push_back(std::move(entry));
    }
    texture.Release();
}

void Split(const std::string& lines, std::vector<std::string>& warnings) {
    constexpr std::string_view kPrefix = "Warning : ";
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string::npos) end = lines.size();
        std::string_view line(lines.data() + start, end - start);
        if (line.substr(0, kPrefix.size()) == kPrefix) line.remove_prefix(kPrefix.size());
        warnings.emplace_back(line);
        start = end + 1;
    }
}

}  // namespace

ModelReport BuildReport(const Model& model) {
    ModelReport report;
    report.path = model.path;
    report.size = static_cast<std::int64_t>(model.buffer.size());
    report.blocks = static_cast<std::int64_t>(model.blocks.size());

    std::int64_t end = 0;
    for (const Block& block : model.blocks) {
        if (block.registryIndex == 0 && ++report.totals.unknownBlocks <= kListedUnknownBlocks) {
            report.unknownBlocks.push_back(
                {std::string(block.TagText()), block.TagBits(), block.offset});
        }
        end = static_cast<std::int64_t>(block.offset) + block.size;
    }
    if (end < report.size) report.brokenBlock = end;

    std::set<std::string_view> textureNames;
    for (const Block& block : model.blocks) {
        if (block.TagBits() == kTagTexi) textureNames.insert(TextureName(block));
    }

    ListObjects(model, report);
    Console console = Console::Capturing();
    int number = 0;
    WalkObjects(model, console, [&](ModelObject& walked) {
        ObjectReport& object = report.objects[walked.index];
        object.written = true;
        object.skipped = {};
        const std::string stem =
            ObjectFileStem("", model.baseName, number, walked.name, model.names.files);
        // The OBJ and MQO writers create no file under a name that a folder cannot hold, and
        // the next object takes the number; the glb holds the object all the same.
        if (FileNameFits(stem + ".obj")) {
            ++number;
            object.files = {stem + ".obj", stem + ".mtl"};
            object.mqoFile = stem + ".mqo";
        }
        ReportMaterials(walked.materials, textureNames, object, report);
        ReportMeshes(walked, console, object, report);
        return true;
    });
    console.SummariseRepeats();
    Split(console.Captured(), report.warnings);

    ReportTextures(model, report);

    ReportTotals& totals = report.totals;
    for (const ObjectReport& object : report.objects) {
        ++totals.objects;
        if (!object.written) continue;
        ++totals.objectsWritten;
        totals.materials += static_cast<std::int64_t>(object.materials.size());
        totals.meshes += static_cast<std::int64_t>(object.meshes.size());
        for (const MeshReport& mesh : object.meshes) {
            if (!mesh.written) continue;
            ++totals.meshesWritten;
            totals.vertices += mesh.vertices;
            totals.triangles += mesh.triangles;
        }
        report.objFiles.insert(report.objFiles.end(), object.files.begin(), object.files.end());
        if (!object.mqoFile.empty()) report.mqoFiles.push_back(object.mqoFile);
    }
    std::set<std::string> bitmaps;
    for (const TextureReport& texture : report.textures) {
        ++totals.textures;
        if (!texture.converts) continue;
        ++totals.texturesConverting;
        // A second texture of the same name replaces the first one's file; a name the folder
        // cannot hold is not created.
        if (!FileNameFits(texture.file) || !bitmaps.insert(texture.file).second) continue;
        report.objFiles.push_back(texture.file);
        report.mqoFiles.push_back(texture.file);
    }
    totals.missingTextures = static_cast<std::int64_t>(report.missingTextures.size());
    report.gltfFile = GltfFileName("", model.baseName, model.names.files);
    return report;
}

ModelReport FailedReport(std::string path, std::string error) {
    ModelReport report;
    report.path = std::move(path);
    report.error = std::move(error);
    return report;
}

}  // namespace morvex
