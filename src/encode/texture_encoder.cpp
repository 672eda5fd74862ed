#include "encode/texture_encoder.h"

namespace morvex {

TextureImage ImageFromPicture(const Picture&) {
    return {};
}

EncodeResult EncodeTexture(Bytes, const TextureImage&, std::vector<std::uint8_t>& payload,
                           TextureEncodeStats*) {
    payload.clear();
    return EncodeResult::Fail(Outcome::Unsupported, "not written yet");
}

}  // namespace morvex
