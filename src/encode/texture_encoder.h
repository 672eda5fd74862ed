// Writing texture blocks: a new picture in the format code and header of an original TEXI block.
//
// The new payload keeps the original's 36-byte name field and its header, with the fields that
// follow from the picture set anew: width and height (and for 1006 the data size and the palette
// entry count); the bytes no reader uses (1004/1005's header word, the 4 bytes between 1005's
// chunks, 1006's header bytes 8 to 13 and 22) are kept, and so are 1006's tile sizes and packed
// flag. Formats:
//
//   1001  16-bit words (5 bits each of red, green, blue; the top bit is kept from the original's
//         pixel at the same place, 0 elsewhere), rows at the bitmap stride in one packed chunk
//   1002  palette chunk, index rows at the bitmap stride in a chunk
//   1004  palette chunk, index rows in tiles of 16 bytes by 8 rows in a chunk
//   1005  palette of 32-bit differences in a chunk, the kept word, lookup tiles in a chunk: per
//         16 by 8 tile a list of at most 16 palette indices addressed by 4-bit codes
//   1006  palette and quad tiles (a codebook of 2 by 2 blocks per tile, references with
//         mirroring, repeats as escapes), raw or in one chunk as the original
//
// Lossless wherever the format can hold the picture: a palette of at most 256 colours, in 1005 at
// most 16 colours in each tile, in 1006 at most 255 distinct 2 by 2 blocks in each tile (fewer
// codebook entries where mirrored blocks share one). Otherwise the picture is quantised: the
// palette by a median cut refined with k-means, then a 1005 tile's colours or a 1006 tile's
// blocks reduced to what the tile holds; the stats tell how far the result is from the input.
// Pixels outside the whole tiles a layout places (1004's, 1005's and 1006's right and bottom
// edges when the size is not a multiple of the tile size) are not stored and read back as index 0.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/texture_block.h"
#include "encode/encode_result.h"
#include "it3/byte_reader.h"

namespace morvex {

// A picture to store, rows top first, in one of three forms.
struct TextureImage {
    enum class Form {
        Rgba,     // `rgba`: 4 bytes a pixel (red, green, blue, alpha; alpha is not stored)
        Indexed,  // `indices` (1 byte a pixel) and `palette` (4 bytes an entry: red, green, blue,
                  // and a fourth byte that is stored as it is)
        Words,    // `words`: 1001's 16-bit values as they are
    };
    Form form = Form::Rgba;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgba;
    std::vector<std::uint8_t> indices;
    std::vector<std::uint8_t> palette;
    std::vector<std::uint16_t> words;
};

// The picture a texture decodes to in the form that holds it exactly: Indexed (indices and the
// palette as decoded) for the 8-bit codes, Words for 1001.
TextureImage ImageFromPicture(const Picture& picture);

// How the stored picture compares with the one asked for.
struct TextureEncodeStats {
    bool exact = true;            // every stored pixel has the colour asked for
    std::int64_t pixels = 0;      // pixels of the picture
    std::int64_t unstored = 0;    // pixels outside the whole tiles of the layout
    std::int64_t changed = 0;     // stored pixels whose colour differs from the one asked for
    std::int32_t colours = 0;     // distinct colours asked for (red, green, blue)
    std::int32_t maxError = 0;    // the largest difference in one channel, 0 to 255
    double rootMeanSquare = 0.0;  // over the stored pixels' red, green and blue
};

// Writes the TEXI payload of `image` in the format of `original` (a whole TEXI payload: name
// field, header, data) into `payload` (replaced); `stats`, when given, is filled.
//
// The three forms go into every format: an Rgba picture is put on the original's palette where
// its colours are there (a pixel whose colour did not change keeps its index), new colours take
// entries no pixel uses any more or are appended; a palette that cannot hold them all is built
// anew. An Indexed picture keeps its indices and palette where the format holds them. For 1001,
// Rgba values are rounded to 5 bits per channel (the widening (c << 3) | (c >> 2) comes back
// exactly) and Indexed pictures take their palette's colours.
//
// Refused, naming the texture: a width or height of 0 or below, or above what the header holds
// (32767 for 1006's 16-bit fields, and for every code the sides and bytes a decoder accepts,
// Limits{}) (TooLarge); pixel data that does not match the size (Broken); an original whose
// header cannot be read (Broken) or whose format code has no encoder (Unsupported).
[[nodiscard]] EncodeResult EncodeTexture(Bytes original, const TextureImage& image,
                                         std::vector<std::uint8_t>& payload,
                                         TextureEncodeStats* stats = nullptr);

}  // namespace morvex
