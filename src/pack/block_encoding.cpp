#include "pack/block_encoding.h"

namespace morvex {

Outcome EncodeVertexBlock(const Block&, const VertexLayout&, const std::vector<ResultMesh>&,
                          std::vector<std::uint8_t>&, std::string& problem) {
    problem = "vertex blocks can not be encoded yet";
    return Outcome::Unsupported;
}

Outcome EncodeMaterialBlock(const Block&, Bytes, std::vector<std::uint8_t>&, std::string& problem) {
    problem = "material blocks can not be encoded yet";
    return Outcome::Unsupported;
}

Outcome EncodeTextureBlock(const Block&, const RepaintedTexture&, std::vector<std::uint8_t>&,
                           std::string& problem) {
    problem = "textures can not be encoded yet";
    return Outcome::Unsupported;
}

}  // namespace morvex
