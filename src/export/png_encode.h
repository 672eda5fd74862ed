// Pictures for embedding: BMP file images (as ConvertToBitmap builds them) turned into 8-bit
// RGBA pixels, the alpha-map combination, and PNG encoding into memory with libpng.
//
// Safe for untrusted input: every field of a BMP image is checked against its length before use;
// a palette index past the palette reads as black, never outside the image.
#pragma once

#include <cstdint>
#include <vector>

#include "it3/byte_reader.h"

namespace morvex {

// 8-bit RGBA pixels, rows top first, 4 × width bytes a row.
struct RgbaPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// Reads a BMP file image of the kinds ConvertToBitmap builds: the 14-byte file header, the
// 40-byte info header, a palette of blue, green, red, fourth-byte entries (colours used of them),
// rows bottom first (top first when the height is negative) at a stride of whole 4-byte words,
// no compression. 8 bits per pixel are palette indices: the colour is the entry's red, green
// and blue; the fourth byte is not alpha (BMP readers ignore it) and an index past the palette
// gives black. 16 bits per pixel are read as BMP reads them: 5 bits each of red (bits 10-14),
// green (5-9) and blue (0-4), widened to 8 bits as (c << 3) | (c >> 2); the top bit is not alpha.
// Alpha is 255 everywhere. Returns false (picture empty) for anything else: a short image,
// another signature, header size, bit depth or compression, a width or height of 0, more than
// kMaxPicturePixels pixels, or rows that do not fit the image.
bool DecodeBitmap(Bytes image, RgbaPicture& picture);

inline constexpr std::uint64_t kMaxPicturePixels = std::uint64_t{1} << 28;

// Puts the luminance of `alphaMap` into the alpha channel of `base`: Y = (77 R + 150 G + 29 B +
// 128) >> 8 of the alpha map's pixel at the same relative position (nearest neighbour, so an
// alpha map of another size is stretched over the base picture).
void CombineAlpha(RgbaPicture& base, const RgbaPicture& alphaMap);

// How a picture's alpha channel is used.
enum class AlphaUse {
    Opaque,  // every alpha is 255
    Mask,    // alphas are 0 or 255 only
    Blend,   // other values too
};
AlphaUse ClassifyAlpha(const RgbaPicture& picture);

// Encodes the picture as a PNG file image: 8-bit RGB (the alpha channel dropped) or RGBA.
// Returns false (png empty) when libpng fails or memory runs out.
bool EncodePng(const RgbaPicture& picture, bool withAlpha, std::vector<std::uint8_t>& png);

}  // namespace morvex
