// Writing vertex blocks: an object's meshes as VPA2, VPA4, VPA5, VPA7, VPA8 or VPAC, each tag with
// its own mesh records, vertex layout, index width and chunk layout (decode/vertex_block.h):
//
//   VPAC  count, records, all vertices, an unread word, index counts, all 32-bit indices
//   VPA2  count, then per mesh: record, vertex chunk, 8 unread bytes, index chunk
//   VPA4  count, an unread word, records, one vertex chunk, an unread word, index counts, one
//   VPA5  index chunk (32-bit indices in VPA4, 16-bit in VPA5 and VPA7)
//   VPA7
//   VPA8  count, 8 unread bytes, a chunk of the records, vertex chunks of 262144 bytes each but
//         the last (one of another size, empty when the data is a multiple of 262144), a chunk of
//         12-byte index-count entries (the count at entry offset 4), a chunk of 16-bit indices
//
// The 112-byte vertices (VPA2, VPA4, VPAC) and the 40-byte ones (VPA5, VPA7, VPA8) are written as
// given, so the bytes the converter does not decode (80 of 112, 20 of 40) are the caller's.
// Records too: of a record's 116 bytes the encoder sets only the vertex count (where the tag
// keeps one; VPA2's record gets it at offset 0 like VPA4's, where the decoder does not read it)
// and the material index, and keeps the rest.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "decode/vertex_block.h"
#include "encode/encode_result.h"
#include "it3/byte_reader.h"

namespace morvex {

using MeshRecord = std::array<std::uint8_t, kMeshRecordSize>;
// The bytes kept per mesh beside its record that no reader uses: VPA2's 8 bytes between the
// vertex and the index chunk; for VPA8 the index-count entry's bytes 0 to 3 and 8 to 11. Zeros
// for the other tags, which have none.
using MeshExtra = std::array<std::uint8_t, 8>;

// The stored bytes of one mesh of an original block that a re-encoded mesh keeps.
struct OriginalMesh {
    MeshRecord record{};
    MeshExtra extra{};
};

// One mesh to write.
struct MeshInput {
    MeshRecord record{};  // normally the original mesh's; vertex count and material index are set
    MeshExtra extra{};
    Bytes vertices;                          // whole vertices of the tag's stride (112 or 40)
    std::span<const std::uint32_t> indices;  // three per triangle, each below the vertex count
    std::int32_t materialIndex = 0;
};

// The vertex size and index width of a vertex tag, and the most vertices a mesh of it may have
// (65535 for the 16-bit tags); 0 for a tag that is not a vertex tag.
std::uint32_t VertexStride(std::uint32_t tag);
std::uint32_t IndexWidth(std::uint32_t tag);
std::int64_t MaxMeshVertices(std::uint32_t tag);

// Reads the records and kept bytes of every mesh the block's tables locate (VertexBlock's
// LocatedMeshes; VPA8's records come from its record chunk). Broken when the tables cannot be
// read, Unsupported for a tag that is not a vertex tag, NoMemory.
[[nodiscard]] Outcome ReadOriginalMeshes(std::uint32_t tag, Bytes payload,
                                         std::vector<OriginalMesh>& meshes);

// Writes the payload of a vertex block of `tag` holding `meshes` in order into `payload`
// (replaced). The block-level words no reader uses (VPA4/5/7's two, VPA8's two, VPAC's one) are
// copied from `originalPayload` where it holds them, else written as 0.
//
// Refused, naming `objectName` and the mesh number: vertices that are not whole vertices of the
// tag's stride, an index count that is not a multiple of 3 or an index at or above the vertex
// count (Broken), more than MaxMeshVertices vertices or a payload beyond 2 GiB (TooLarge); a tag
// that is not a vertex tag is Unsupported. `payload` is empty on failure.
[[nodiscard]] EncodeResult EncodeVertexBlock(std::uint32_t tag, std::span<const MeshInput> meshes,
                                             std::string_view objectName, Bytes originalPayload,
                                             std::vector<std::uint8_t>& payload);

}  // namespace morvex
