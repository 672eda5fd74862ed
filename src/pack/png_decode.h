// PNG images from untrusted bytes, decoded with libpng into 8-bit RGBA.
#pragma once

#include <cstdint>

#include "export/gltf/png_encode.h"
#include "it3/byte_reader.h"
#include "it3/result.h"

namespace morvex {

// Decodes a PNG file image of any colour type and depth into 8-bit RGBA rows, top row first.
// Refuses (Broken) what is not a PNG, a picture wider or higher than `maxSide`, and a picture of
// more pixels than its compressed data could hold (deflate expands at most about 1032 times, and
// a pixel takes at least one bit), so memory follows the file's bytes; NoMemory when libpng
// cannot get memory.
[[nodiscard]] Outcome DecodePng(Bytes png, RgbaPicture& picture, std::int64_t maxSide = 16384);

}  // namespace morvex
