// The payloads of re-encoded blocks, in the original block's own tag and form, from what the
// pack works with: the bridge to the encoders of src/encode.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encode/material_encoder.h"
#include "encode/texture_encoder.h"
#include "export/gltf/png_encode.h"
#include "it3/block.h"
#include "it3/result.h"
#include "pack/mesh_match.h"

namespace morvex {

// A vertex block of `original`'s tag holding `meshes`: each mesh keeps the record (and the kept
// bytes beside it) of its source mesh, with its vertex count and Material index set; the block's
// bytes that are not read keep their values. `problem` says what was refused.
[[nodiscard]] Outcome EncodeVertexBlock(const Block& original, std::string_view objectName,
                                        const std::vector<ResultMesh>& meshes,
                                        std::vector<std::uint8_t>& payload, std::string& problem);

// A TEXI block with `original`'s name, format code and header fields holding `colours` (a
// picture of another size gets the new size); `stats` says how far a quantised result lies from
// the colours.
[[nodiscard]] Outcome EncodeTextureBlock(const Block& original, const RgbaPicture& colours,
                                         std::vector<std::uint8_t>& payload,
                                         TextureEncodeStats& stats, std::string& problem);

}  // namespace morvex
