// The tiled pixel layouts of texture blocks: byte tiles (format 1004), lookup tiles (1005) and
// quad tiles (1006).
//
// Each placement reads the unpacked pixel data of one texture and writes the pixel rows of its
// bitmap image: `stride` bytes a row, `height` rows. Tiles that do not fit the picture whole
// (columns from tile width × (stride / tile width) on, rows from tile height × (height / tile
// height) down, for 1004 the columns only) are not placed, and those pixels stay 0.
//
// Data shorter than the tiles need reads as if it were padded with zero bytes; a position before
// the start of the data (a 1006 escape can step backwards) reads as 0 as well. So a short or
// damaged texture gives palette index 0 where its data is missing.
//
// Safe for untrusted input: may produce garbage from garbage, never reads outside `source` or
// writes outside `pixels`.
#pragma once

#include <cstdint>

#include "it3/byte_reader.h"

namespace morvex {

// Format 1004: tiles 16 bytes wide and 8 rows high. Tile row ty holds 8 × stride source bytes;
// inside it the tiles lie left to right, 128 bytes each, their rows top row first. Writes the
// rows in bitmap order directly (the bottom row of the picture first); rows of the last tile row
// below the picture are passed over. Does nothing when `pixels` is shorter than stride × height.
void UnswizzleTiles(MutableBytes pixels, Bytes source, std::int64_t height, std::int64_t stride);

// Format 1005: tiles 16 by 8 pixels, numbered row by row. The data holds a 4-bit value v per tile
// (high nibble first), then for each tile with v != 0 a list of v + 1 palette indices, one check
// byte, then for each tile with v != 0 64 bytes of 4-bit codes (high nibble for the left pixel)
// that address the tile's list (a code may reach past its own list). Tiles with v = 0 stay 0.
// Writes the rows top row first: the caller flips them. Returns false, having written nothing,
// when the check byte is not 0 or `pixels` is shorter than stride × height.
bool DecodeLookupTiles(MutableBytes pixels, Bytes source, std::int64_t height, std::int64_t stride);

// Format 1006: decodes the tile whose data begins at position `start` of `source` into `dest`,
// rows `pitch` bytes apart. The tile is a codebook (a count c, then c entries of 4 palette
// indices: top left, top right, bottom left, bottom right of a 2 by 2 block) and one reference
// byte per block, blocks row by row. A reference r stands for entry r mod c, mirrored by r / c
// (1 left-right, 2 top-bottom, 3 both, more: none). The bytes r, 255, N repeat r for 1 + N blocks;
// N = 0 repeats r to the end of the tile. A codebook of size 0 has no entries: its blocks are 0,
// while its references are read by the same rules. Returns the tile's length: the position where
// reading stopped minus `start` (it can be 0 or negative when escapes stepped backwards). Writes
// nothing and returns 0 when the tile does not fit in `dest`.
std::int64_t DecodeQuadTile(MutableBytes dest, std::int64_t pitch, Bytes source, std::int64_t start,
                            std::int64_t tileWidth, std::int64_t tileHeight);

// Format 1006: all tiles, row by row from the top-left tile, each beginning where the one before
// ended. Writes the rows top row first: the caller flips them. Does nothing when `pixels` is
// shorter than stride × height.
void DecodeQuadTiles(MutableBytes pixels, Bytes source, std::int64_t height, std::int64_t stride,
                     std::int64_t tileWidth, std::int64_t tileHeight);

// The least number of source bytes a texture of these sizes carries when its data gives every
// tile placed (what our encoders and any faithful encoder write), or kPlacesNothing when the
// placement places no tile at all (the picture stays 0 whatever the data):
//
//   1005: the tile map, 4 bits a tile, and the check byte behind it: tiles / 2 + 1. A tile
//         with value 0 needs nothing more, so this is the least even for an all-zero picture.
//   1006: every tile's codebook count byte and its references. A reference byte stands for one
//         block; an escape r, 255, N for 1 + N blocks and every further 255, N behind it for N
//         more, so no reference data covers more than 128 blocks a byte (255 blocks for two
//         bytes): tiles × (1 + ceil(blocks a tile / 128)). A repeat to the end of the tile
//         (N = 0) leaves the reading position on the escape, where the next tile would begin,
//         so a texture uses it in its last tile only; the bound counts that tile like the others.
//
// The decoders read whatever data there is; DecodeTexture compares these with the data a
// texture holds to refuse pictures that their data could not have produced.
inline constexpr std::uint64_t kPlacesNothing = ~std::uint64_t{0};
std::uint64_t LeastLookupData(std::int64_t height, std::int64_t stride);
std::uint64_t LeastQuadData(std::int64_t height, std::int64_t stride, std::int64_t tileWidth,
                            std::int64_t tileHeight);

// The largest number of source bytes each placement can read for a picture of these sizes; data
// beyond it is never used.
std::uint64_t SwizzledDataLimit(std::int64_t height, std::int64_t stride);
std::uint64_t LookupDataLimit(std::int64_t height, std::int64_t stride);
std::uint64_t QuadDataLimit(std::int64_t height, std::int64_t stride, std::int64_t tileWidth,
                            std::int64_t tileHeight);

}  // namespace morvex
