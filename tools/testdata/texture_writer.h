// Encoders that turn a picture into TEXI payloads in every texture format the converter reads:
// test data for round trips, benchmark inputs and the textures of the bundled sample.
//
// Each Encode function returns the texture header and its data, everything from payload offset
// 36 on; TexiPayload puts the name field in front. Parts of a picture that a format cannot hold
// (columns and rows outside whole tiles) are not stored; ExpectedPicture gives the picture as the
// converter will deliver it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "encode/palette.h"
#include "encode/tile_encoder.h"
#include "testdata/it3_writer.h"

namespace morvex::testdata {

// An 8-bit picture: palette indices, top row first, and its palette (4 bytes an entry: red,
// green, blue, fourth byte).
using IndexedPicture = morvex::IndexedImage;

// A 16-bit picture (values as the bitmap stores them), top row first.
struct Picture16 {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint16_t> pixels;
};

// The TEXI payload: `name` in its 36-byte field, then the texture.
ByteVector TexiPayload(std::string_view name, std::span<const std::uint8_t> texture);

// The bitmap row stride of a width at 8 or 16 bits per pixel.
std::size_t RowStride(std::int32_t bitsPerPixel, std::int32_t width);

// 1001: the pixel rows at the bitmap stride in one packed chunk.
ByteVector EncodeTexture1001(const Picture16& picture);
// 1002: palette chunk, then the index rows at the bitmap stride in a chunk.
ByteVector EncodeTexture1002(const IndexedPicture& picture);
// 1004: palette chunk, then the index rows in tiles of 16 bytes by 8 rows in a chunk.
ByteVector EncodeTexture1004(const IndexedPicture& picture);
// 1005: palette of differences in a chunk, 4 spare bytes, then the lookup tiles in a chunk.
// Empty when a 16 by 8 tile holds more than 16 different indices.
std::optional<ByteVector> EncodeTexture1005(const IndexedPicture& picture);

struct QuadTileOptions {
    int tileWidthExponent = 3;   // tile width 1 << exponent
    int tileHeightExponent = 3;  // tile height 1 << exponent
    bool packed = true;          // palette and tiles in one packed chunk, else stored raw
};
// 1006: palette and quad tiles. Empty when a tile needs more codebook entries than references
// can address.
std::optional<ByteVector> EncodeTexture1006(const IndexedPicture& picture,
                                            const QuadTileOptions& options);

// The pieces, for tests that build or damage data by hand; the tile layouts are the library's
// (src/encode/tile_encoder.h).
// The index rows at the bitmap stride, top row first, padding bytes 0.
ByteVector StrideRows(const IndexedPicture& picture);
using morvex::DeltaPalette;
using morvex::SwizzleTiles;
// The 1005 pixel data. Empty when a tile holds more than 16 colours.
std::optional<ByteVector> EncodeLookupTiles(const IndexedPicture& picture);
// All 1006 tiles of a picture, row by row. Empty when a tile holds more than 255 distinct 2 by 2
// blocks.
std::optional<ByteVector> EncodeQuadTiles(const IndexedPicture& picture, std::int32_t tileWidth,
                                          std::int32_t tileHeight);

// Which part of a picture a format stores.
enum class TileCoverage {
    Rows,         // 1001, 1002: everything
    ByteTiles,    // 1004: columns below 16 × (stride / 16)
    LookupTiles,  // 1005: columns below 16 × (stride / 16), rows above 8 × (height / 8)
    QuadTiles,    // 1006: whole tiles of the given size
};
// The picture as the converter delivers it: pixels outside the stored part are index 0.
IndexedPicture ExpectedPicture(const IndexedPicture& picture, TileCoverage coverage,
                               std::int32_t tileWidth = 0, std::int32_t tileHeight = 0);

// Procedural pictures. The sample's textures: planks of wood, a woven cloth and a skin tone, each
// with 16 colours at most. TestPicture: areas of 16 by 8 pixels with 1 to 16 colours each out of a
// 256-entry palette, built from repeated, mirrored and run-length friendly 2 by 2 blocks, with
// some areas all 0.
IndexedPicture WoodPlanks(std::int32_t width, std::int32_t height);
IndexedPicture ClothPattern(std::int32_t width, std::int32_t height);
IndexedPicture SkinTone(std::int32_t width, std::int32_t height);
IndexedPicture TestPicture(std::int32_t width, std::int32_t height, std::uint32_t seed);
Picture16 TestPicture16(std::int32_t width, std::int32_t height, std::uint32_t seed);

}  // namespace morvex::testdata
