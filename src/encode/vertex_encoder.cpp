#include "encode/vertex_encoder.h"

namespace morvex {

std::uint32_t VertexStride(std::uint32_t) {
    return 0;
}
std::uint32_t IndexWidth(std::uint32_t) {
    return 0;
}
std::int64_t MaxMeshVertices(std::uint32_t) {
    return 0;
}

Outcome ReadOriginalMeshes(std::uint32_t, Bytes, std::vector<OriginalMesh>& meshes) {
    meshes.clear();
    return Outcome::Unsupported;
}

EncodeResult EncodeVertexBlock(std::uint32_t, std::span<const MeshInput>, std::string_view, Bytes,
                               std::vector<std::uint8_t>& payload) {
    payload.clear();
    return EncodeResult::Fail(Outcome::Unsupported, "not written yet");
}

}  // namespace morvex
