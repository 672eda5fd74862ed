// The payloads of re-encoded blocks, in the original block's own tag and form: what the pack
// hands to the encoders of src/encode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/vertex_block.h"
#include "it3/block.h"
#include "it3/result.h"
#include "pack/mesh_match.h"
#include "pack/texture_edits.h"

namespace morvex {

// A vertex block of `original`'s tag holding `meshes`: each mesh keeps the record (and, in VPA8,
// the index-count entry) of its source mesh, with its vertex count and Material index set; the
// block's bytes that are not read keep their values.
[[nodiscard]] Outcome EncodeVertexBlock(const Block& original, const VertexLayout& layout,
                                        const std::vector<ResultMesh>& meshes,
                                        std::vector<std::uint8_t>& payload, std::string& problem);

// A material block of `original`'s tag holding `table` (whole 384-byte records).
[[nodiscard]] Outcome EncodeMaterialBlock(const Block& original, Bytes table,
                                          std::vector<std::uint8_t>& payload, std::string& problem);

// A TEXI block with `original`'s name, format code and header fields holding the repainted
// pixels (a larger or smaller picture gets the new size).
[[nodiscard]] Outcome EncodeTextureBlock(const Block& original, const RepaintedTexture& texture,
                                         std::vector<std::uint8_t>& payload, std::string& problem);

}  // namespace morvex
