// Texture blocks (TEXI) and their decoding into pictures.
//
// A TEXI payload holds a 36-byte NUL-terminated name field, then a texture header whose format
// code says how the palette and the pixels are stored:
//
//   1001  16-bit pixels in one packed chunk, rows top first at the bitmap stride
//   1002  palette chunk, then a chunk of 8-bit indices, rows top first at the bitmap stride
//   1004  palette chunk, then a chunk of 8-bit indices in 16 by 8 byte tiles
//   1005  palette chunk of 32-bit differences, 4 unread bytes, then a chunk of lookup tiles
//   1006  palette and quad tiles, stored raw or together in one packed chunk
//
// The header of 1001 to 1005: format code, width and height (signed 32-bit), and for 1004 and
// 1005 one unread word. The 1006 header is 24 bytes: format code, data size (from header offset
// 8 to the end of the pixel data, used when stored raw), palette entry count (i16 at 14), tile
// width and height exponents (bytes at 16 and 17, low 5 bits), width and height (i16 at 18 and
// 20) and the packed flag (byte 23). Palette entries are red, green, blue and a fourth byte.
//
// Safe for untrusted input: sizes are computed in 64 bits and capped, chunks are checked against
// the payload, and tile data that runs out reads as zeros; garbage in gives garbage pixels or a
// refusal, never a read or write outside a buffer.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "it3/block.h"
#include "it3/limits.h"
#include "it3/result.h"

namespace morvex {

inline constexpr std::size_t kTextureNameSize = 36;

// The format codes that convert.
inline constexpr std::uint32_t kFormat16Bit = 1001;
inline constexpr std::uint32_t kFormatIndexed = 1002;
inline constexpr std::uint32_t kFormatByteTiles = 1004;
inline constexpr std::uint32_t kFormatLookupTiles = 1005;
inline constexpr std::uint32_t kFormatQuadTiles = 1006;

// The name of the texture in a TEXI block: the NUL-terminated text of its first 36 payload bytes.
inline std::string_view TextureName(const Block& record) {
    return ByteReader(record.Payload()).Text(0, kTextureNameSize);
}

class TextureBlock : public Block {
  public:
    TextureBlock() { typeTag = kTagTexi; }
    int Release() { return 0; }
    std::string_view Name() const { return TextureName(*this); }
    // The texture header and everything behind it (payload offset 36 to the payload's end).
    Bytes Header() const { return ByteReader(Payload()).Tail(kTextureNameSize); }
};

// Limits of what is decoded. A picture wider or higher than Limits::pictureSide, or whose pixel
// rows (stride × height) exceed Limits::pictureBytes, is refused; so is a width or height of 0
// or below. A palette longer than kMaxPalette bytes is cut to its first 256 entries (an 8-bit
// index cannot reach the others).
//
// A picture of more than kUnbackedPictureBytes pixel bytes is refused as well when its stored
// data could not have produced it: when the pixel data the texture holds (the bytes its pixel
// chunk's stream produces, or the raw 1006 bytes present) is less than the least data a
// texture of that layout carries (every row for 1001 and 1002, every tile row for 1004, the
// tile map for 1005, a codebook count and the densest references for every 1006 tile; see
// tile_layouts.h), or when the layout places no tile at all. So the work a texture costs
// follows the data it holds, not the size its header declares; a real texture always carries
// data for its pixels. Smaller pictures keep reading missing data as zeros.
inline constexpr std::int64_t kUnbackedPictureBytes = 4096;
inline constexpr std::int64_t kMaxPalette = 1024;

// The row stride of a picture: bitsPerPixel × width bits rounded up to whole 4-byte words.
constexpr std::int64_t PictureStride(std::int64_t bitsPerPixel, std::int64_t width) {
    return ((bitsPerPixel * width + 31) >> 3) & ~std::int64_t{3};
}

// A decoded texture: what every image writer starts from.
//
// 8 bits per pixel are indices into the palette; 16 bits per pixel are little-endian words of
// 5 bits each of red (bits 10 to 14), green (5 to 9) and blue (0 to 4), the top bit unused. The
// rows lie bottom row of the picture first, Stride() bytes each (the padding bytes at the end of
// a row are 0). The palette holds the bytes as decoded: entries of red, green, blue and a fourth
// byte, which is not alpha; a trailing partial entry is kept as it is, and an index past the
// whole entries names no colour.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerPixel = 8;
    std::vector<std::uint8_t> palette;
    std::vector<std::uint8_t> pixels;

    std::int64_t Stride() const { return PictureStride(bitsPerPixel, width); }
    // The whole palette entries.
    std::size_t PaletteEntries() const { return palette.size() / 4; }
    // Row y counted from the top of the picture.
    const std::uint8_t* RowFromTop(std::int64_t y) const {
        return pixels.data() + static_cast<std::size_t>((height - 1 - y) * Stride());
    }
};

// Decodes the texture whose header starts at header[0] (header spans to the end of the block's
// payload) into `picture`.
//
// Returns Ok with the whole picture; otherwise `picture` is empty and the result is
// Unsupported (a format code other than 1001, 1002, 1004, 1005, 1006), Broken (a header or
// chunk header outside the payload, sizes outside the limits above, a negative 1006 palette
// count, 1006 data shorter than its palette, a large picture its data cannot have produced) or
// NoMemory. Otherwise short or damaged compressed data is not a failure: whatever it does not
// deliver stays 0. A 1005 texture whose check byte is not 0
// decodes to a picture of palette index 0.
[[nodiscard]] Outcome DecodeTexture(Bytes header, Picture& picture,
                                    const Limits& limits = Limits{});

// Exchanges row i with row rows - 1 - i for every i < rows / 2.
void FlipRows(std::uint8_t* pixels, std::size_t stride, std::int64_t rows);
// Exchanges bytes 0 and 2 of each of `count` 4-byte entries.
void SwapRedBlue(std::uint8_t* entries, std::int64_t count);
// Turns `count` 32-bit little-endian differences into running sums (modulo 2^32).
void DecodeDeltaPalette(std::uint8_t* entries, std::int64_t count);

}  // namespace morvex
