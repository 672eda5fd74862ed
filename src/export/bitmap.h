// BMP files of pictures, as the texture export writes them.
//
// A file is the 14-byte file header ("BM", the file size, 4 zero bytes, the offset of the pixel
// rows), the 40-byte info header (width, positive height, 1 plane, 8 or 16 bits per pixel, no
// compression, the size of the pixel rows, colours used = whole palette entries), the palette
// with each whole entry's red and blue exchanged (blue, green, red, fourth byte), then the
// picture's rows, bottom row first.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/texture_block.h"
#include "export/output_file.h"
#include "it3/byte_reader.h"
#include "it3/result.h"

namespace morvex {

inline constexpr std::size_t kBitmapHeaderSize = 54;

// The headers and the palette: everything of the file before the pixel rows.
std::vector<std::uint8_t> BitmapHead(const Picture& picture);

// Appends the whole file to `file`.
void WriteBitmap(OutputFile& file, const Picture& picture);

// Decodes the texture whose header starts at header[0] (DecodeTexture) and builds its complete
// BMP file image in `image`. Returns DecodeTexture's result; `image` is empty unless it is Ok.
[[nodiscard]] Outcome ConvertToBitmap(std::vector<std::uint8_t>& image, Bytes header,
                                      const Limits& limits = Limits{});

}  // namespace morvex
