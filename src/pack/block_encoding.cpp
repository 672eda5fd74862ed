#include "pack/block_encoding.h"

#include "encode/vertex_encoder.h"

namespace morvex {

Outcome EncodeVertexBlock(const Block& original, std::string_view objectName,
                          const std::vector<ResultMesh>& meshes, std::vector<std::uint8_t>& payload,
                          std::string& problem) {
    const std::uint32_t tag = original.TagBits();
    std::vector<OriginalMesh> stored;
    if (ReadOriginalMeshes(tag, original.Payload(), stored) != Outcome::Ok) {
        problem = "its vertex block's tables can not be read";
        return Outcome::Broken;
    }
    const std::uint32_t stride = VertexStride(tag), width = IndexWidth(tag);
    std::vector<std::vector<std::uint32_t>> indices(meshes.size());
    std::vector<MeshInput> inputs(meshes.size());
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const ResultMesh& mesh = meshes[m];
        if (mesh.source < 0 || static_cast<std::size_t>(mesh.source) >= stored.size()) {
            problem = "mesh " + std::to_string(mesh.source) + " is not in its vertex block";
            return Outcome::Broken;
        }
        MeshInput& input = inputs[m];
        input.record = stored[static_cast<std::size_t>(mesh.source)].record;
        input.extra = stored[static_cast<std::size_t>(mesh.source)].extra;
        // Whole vertices and whole triangles: the bytes behind them are never read.
        input.vertices = Bytes(mesh.vertexBytes).first(mesh.vertexBytes.size() / stride * stride);
        const std::size_t corners = mesh.indexBytes.size() / width / 3 * 3;
        indices[m].resize(corners);
        for (std::size_t k = 0; k < corners; ++k) {
            const std::uint8_t* at = mesh.indexBytes.data() + k * width;
            indices[m][k] = width == 2 ? LoadU16(at) : LoadU32(at);
        }
        input.indices = indices[m];
        input.materialIndex = mesh.materialIndex;
    }
    const EncodeResult result =
        morvex::EncodeVertexBlock(tag, inputs, objectName, original.Payload(), payload);
    problem = result.message;
    return result.outcome;
}

Outcome EncodeTextureBlock(const Block& original, const RgbaPicture& colours,
                           std::vector<std::uint8_t>& payload, TextureEncodeStats& stats,
                           std::string& problem) {
    TextureImage image;
    image.form = TextureImage::Form::Rgba;
    image.width = static_cast<std::int32_t>(colours.width);
    image.height = static_cast<std::int32_t>(colours.height);
    image.rgba = colours.pixels;
    const EncodeResult result = EncodeTexture(original.Payload(), image, payload, &stats);
    problem = result.message;
    return result.outcome;
}

}  // namespace morvex
