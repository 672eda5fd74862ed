// Texture blocks (TEXI) and their conversion into complete BMP file images.
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

namespace morvex {

inline constexpr std::size_t kTextureNameSize = 36;

class TextureBlock : public Block {
  public:
    TextureBlock() { typeTag = kTagTexi; }
    int Release() { return 0; }
    // The texture's name: the NUL-terminated text of the first 36 payload bytes.
    std::string_view Name() const { return ByteReader(Payload()).Text(0, kTextureNameSize); }
    // The texture header and everything behind it (payload offset 36 to the payload's end).
    Bytes Header() const { return ByteReader(Payload()).Tail(kTextureNameSize); }
};

// Results of ConvertToBitmap.
enum BitmapResult : int {
    kBitmapOk = 0,
    kBitmapUnsupported = 1,  // a format code without a conversion
    kBitmapBroken = 2,       // sizes or data that do not fit
    kBitmapNoMemory = 3,
};

// Limits of what is converted. A picture wider or higher than kMaxBitmapSide, or whose pixel
// rows (stride × height) exceed kMaxBitmapPixelBytes, is refused; so is a width or height of 0
// or below. A palette longer than kMaxBitmapPalette bytes is cut to its first 256 entries (an
// 8-bit index cannot reach the others).
inline constexpr std::int64_t kMaxBitmapSide = 16384;
inline constexpr std::int64_t kMaxBitmapPixelBytes = std::int64_t{256} << 20;
inline constexpr std::int64_t kMaxBitmapPalette = 1024;
inline constexpr std::size_t kBitmapHeaderSize = 54;

// The row stride of a bitmap: bitsPerPixel × width bits rounded up to whole 4-byte words.
constexpr std::int64_t BitmapStride(std::int64_t bitsPerPixel, std::int64_t width) {
    return ((bitsPerPixel * width + 31) >> 3) & ~std::int64_t{3};
}

// Builds the complete BMP file image of the texture whose header starts at header[0] (header
// spans to the end of the block's payload): the 14-byte file header, the 40-byte info header,
// the palette in blue, green, red, fourth-byte order, and the pixel rows bottom row first. The
// image is allocated here, exactly as long as the file.
//
// Returns kBitmapOk with the whole file in `image`; otherwise `image` is empty and the result is
// kBitmapUnsupported (a format code other than 1001, 1002, 1004, 1005, 1006), kBitmapBroken (a
// header or chunk header outside the payload, sizes outside the limits above, a negative 1006
// palette count, 1006 data shorter than its palette) or kBitmapNoMemory. Short or damaged
// compressed data is not a failure: whatever it does not deliver stays 0. A 1005 texture whose
// check byte is not 0 converts to a picture of palette index 0.
int ConvertToBitmap(std::vector<std::uint8_t>& image, Bytes header);

// Exchanges row i with row rows - 1 - i for every i < rows / 2.
void FlipRows(std::uint8_t* pixels, std::size_t stride, std::int64_t rows);
// Exchanges bytes 0 and 2 of each of `count` 4-byte entries.
void SwapRedBlue(std::uint8_t* entries, std::int64_t count);
// Turns `count` 32-bit little-endian differences into running sums (modulo 2^32).
void DecodeDeltaPalette(std::uint8_t* entries, std::int64_t count);

}  // namespace morvex
