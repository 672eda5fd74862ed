// Writing the tiled pixel layouts of texture blocks: byte tiles (format 1004), lookup tiles
// (1005) and quad tiles (1006), the inverses of decode/tile_layouts.h.
//
// Each works on an 8-bit picture (rows top first) and the bitmap row stride of its width; pixels
// between the width and the stride, which the bitmap holds as row padding, are written as 0.
// Tiles that do not fit the stride and height whole are not written, as the decoders do not place
// them.
//
// Where a tile cannot hold its pixels exactly (more than 16 colours in a lookup tile, more than
// 255 distinct 2 by 2 blocks in a quad tile), the tile's pixels are reduced to what it holds
// and changed in `image`, and `exact` is set to false; it is left alone otherwise. Indices whose
// palette entries are identical count as one colour first.
#pragma once

#include <cstdint>
#include <vector>

#include "encode/palette.h"
#include "it3/byte_reader.h"

namespace morvex {

// The index rows at `stride` bytes a row, top row first, the padding 0.
std::vector<std::uint8_t> StrideRows(const IndexedImage& image, std::size_t stride);

// 1004: rows at `stride` (whole 16-byte tiles: stride / 16 of them) and `height` in the tile
// order: tile rows of 8 × stride bytes, in each the tiles left to right, 128 bytes each, their
// 8 rows of 16 bytes. Rows of the last tile row below the picture are 0.
std::vector<std::uint8_t> SwizzleTiles(Bytes rows, std::size_t stride, std::int64_t height);

// 1005: the tile map (a nibble a tile), the lists of the tiles with any pixel not 0, the check
// byte 0 and the 4-bit codes. A tile whose pixels are all index 0 has no list. With an odd
// number of tiles the first list byte also holds the last tile's value: the lists are arranged
// (an entry moved to the front, one added, or a list made longer) so that it does.
std::vector<std::uint8_t> EncodeLookupTiles(IndexedImage& image, std::size_t stride, bool& exact);

// 1006: every tile of tileWidth × tileHeight pixels, row by row from the top-left tile: a
// codebook of 2 by 2 blocks and a reference byte a block; references share an entry through
// its mirrored forms where they can all be addressed so, and runs of 4 or more equal references
// are written as escapes (r, 255, N for 1 + N blocks).
std::vector<std::uint8_t> EncodeQuadTiles(IndexedImage& image, std::size_t stride,
                                          std::int64_t tileWidth, std::int64_t tileHeight,
                                          bool& exact);

}  // namespace morvex
