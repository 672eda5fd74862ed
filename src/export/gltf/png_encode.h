// Pictures as PNG images: 8-bit RGBA pixels made from a decoded picture, the alpha-map
// combination, and PNG encoding into memory (the zlib stream by libdeflate). The glTF writer
// embeds them; the functions stand on their own for any writer of PNG files.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/texture_block.h"
#include "it3/result.h"

namespace morvex {

// 8-bit RGBA pixels, rows top first, 4 × width bytes a row.
struct RgbaPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// The colours of a decoded picture, as its BMP file shows them: 8 bits per pixel are palette
// indices whose colour is the entry's red, green and blue (the fourth byte is not alpha; an index
// past the whole entries gives black); 16 bits per pixel are 5 bits each of red, green and blue,
// widened to 8 bits as (c << 3) | (c >> 2), the top bit unused. Alpha is 255 everywhere. The
// pixels are allocated here (std::bad_alloc passes through to the caller).
void ToRgba(const Picture& picture, RgbaPicture& rgba);

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

// The largest picture that is encoded: every picture a texture decodes to fits.
inline constexpr std::uint64_t kMaxPngPixels = std::uint64_t{1} << 28;

// The compression level of the PNG encoder (libdeflate's, 1 to 12), rows stored unfiltered. On
// the benchmark scene's textures (bench/bench_png.cpp) level 1 takes 26 ms of CPU where level 4
// takes 35 and libpng's fastest setting 68, for 2 % more bytes than either.
inline constexpr int kPngLevel = 1;

// Encodes the picture as a PNG file image: 8-bit RGB (the alpha channel dropped) or RGBA.
// Returns Ok, Broken (an empty or oversized picture) or NoMemory (the compressor could not be
// made), `png` then empty. std::bad_alloc passes through to the caller.
[[nodiscard]] Outcome EncodePng(const RgbaPicture& picture, bool withAlpha,
                                std::vector<std::uint8_t>& png, int level = kPngLevel);

// False for the pictures EncodePng and EncodePalettePng call Broken: whether they encode is known
// before the work.
bool CanEncodePng(const RgbaPicture& picture);
bool CanEncodePalettePng(const Picture& picture);

// Encodes an 8-bit palette picture as a palette PNG (colour type 3): its indices as they are and
// a PLTE of 256 entries holding the colours ToRgba gives each index (red, green and blue of the
// whole entries, black past them). A reader sees the same pixels as EncodePng of its RGBA form
// without alpha, from a quarter of the bytes to compress. Broken for a picture that is not
// 8-bit, empty or oversized; otherwise as EncodePng.
[[nodiscard]] Outcome EncodePalettePng(const Picture& picture, std::vector<std::uint8_t>& png,
                                       int level = kPngLevel);

}  // namespace morvex
