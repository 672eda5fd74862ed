// Files made to cost a conversion as much as possible for their size: large declared pictures
// behind a few bytes of data, the same pictures combined into many glTF images, many blocks of
// such textures, and many empty objects. The malformed-file corpus replays them; the work-bound
// tests convert them and the largest textures the format can back with little data, and assert
// what the conversion did through its counters.
#pragma once

#include <cstdint>
#include <string_view>

#include "testdata/it3_writer.h"

namespace morvex::testdata {

// A 1006 texture of width × height stored raw with one palette entry and one tile covering the
// whole picture, filled by one repeat to the end of the tile: a few bytes for any size.
ByteVector OneTileTexture(std::int16_t width, std::int16_t height);

// One object whose Material uses the same 16384 × 16384 texture as its texture and alpha map.
ByteVector LargeTextureAsItsOwnAlphaMap();

// `pairs` textures of 16384 × 16384 and one object with `pairs` Materials, Material k using
// texture k with texture k + 1 (cyclically) as its alpha map.
ByteVector LargeTexturePairs(int pairs);

// TEXI blocks of every format code, each declaring the largest picture its format allows with a
// few bytes of data, until the file reaches `bytes`; one object uses the first of them.
ByteVector ManyLargeTextureBlocks(std::size_t bytes);

// `objects` objects with an empty material table and no meshes: two files each in OBJ mode.
ByteVector ManyEmptyObjects(int objects);

// An empty INFO block followed by 8-byte blocks of `tag` (payload size 0) up to `bytes` bytes:
// the densest block list a file can ask for. Tag "\0\0\0\0" is what an INFO header followed by
// zeros (a sparse file) reads as, one unknown block each; tag "INFO" makes as many empty objects.
ByteVector DenseBlocks(std::string_view tag, std::size_t bytes);

// The densest texture the 1006 layout reads: a packed width × height picture in one tile of
// tiles of 2^exponent pixels a side, all palette index 1, whose references are one long escape
// chain each (255, 255 pairs: 255 blocks for two bytes): about the least data a picture of that
// size can carry, compressed to about a thousandth of it.
ByteVector DenseQuadTexture(std::int16_t width, std::int16_t height, int tileExponent);

// The densest 1005 texture: every tile of value 0, so the data is the tile map and its check
// byte, compressed.
ByteVector ZeroLookupTexture(std::int32_t width, std::int32_t height);

}  // namespace morvex::testdata
