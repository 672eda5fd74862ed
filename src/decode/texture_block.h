// Texture blocks (TEXI) and their conversion into complete BMP file images.
//
// A TEXI payload holds a 36-byte NUL-terminated name field, then a texture header whose format
// code (1001, 1002, 1004, 1005, 1006) says how the palette and the pixels are stored.
//
// Safe for untrusted input: sizes are computed in 64 bits and capped, chunks are checked against
// the payload, and tile data that runs out is clipped; garbage in gives garbage pixels or a
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

// Builds the complete BMP file image of the texture whose header starts at header[0] (header
// spans to the end of the block's payload). On kBitmapOk `image` holds the whole file.
int ConvertToBitmap(std::vector<std::uint8_t>& image, Bytes header);

// Exchanges row i with row rows - 1 - i for every i < rows / 2.
void FlipRows(std::uint8_t* pixels, std::size_t stride, std::int64_t rows);
// Exchanges bytes 0 and 2 of each of `count` 4-byte entries.
void SwapRedBlue(std::uint8_t* entries, std::int64_t count);
// Turns `count` 32-bit little-endian differences into running sums (modulo 2^32).
void DecodeDeltaPalette(std::uint8_t* entries, std::int64_t count);

}  // namespace morvex
