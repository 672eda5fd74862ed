// A small, strict BMP reader for the texture tests: it parses an uncompressed 8-bit or 16-bit
// bitmap from its headers alone (it knows nothing of how the converter builds one) and returns
// the pixels top row first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testdata/texture_writer.h"

namespace morvex::test {

struct BitmapFile {
    std::uint32_t fileSize = 0;
    std::uint32_t pixelOffset = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t bitsPerPixel = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t coloursUsed = 0;
    std::vector<std::uint8_t> palette;  // as stored: blue, green, red, fourth byte
    std::vector<std::uint32_t> pixels;  // width × height values, top row first
    std::uint32_t At(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

inline std::uint32_t ReadLe(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; --k) v = (v << 8) | b[at + static_cast<std::size_t>(k)];
    return v;
}

// Parses `file`; on failure returns nothing and says why in `error`.
inline std::optional<BitmapFile> ReadBitmap(const std::vector<std::uint8_t>& file,
                                            std::string* error = nullptr) {
    auto fail = [&](const char* why) -> std::optional<BitmapFile> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (file.size() < 54) return fail("shorter than the two headers");
    if (file[0] != 'B' || file[1] != 'M') return fail("no BM signature");
    BitmapFile bmp;
    bmp.fileSize = ReadLe(file, 2, 4);
    if (bmp.fileSize != file.size()) return fail("file size field differs from the length");
    if (ReadLe(file, 6, 4) != 0) return fail("reserved fields not 0");
    bmp.pixelOffset = ReadLe(file, 10, 4);
    if (ReadLe(file, 14, 4) != 40) return fail("info header size not 40");
    bmp.width = static_cast<std::int32_t>(ReadLe(file, 18, 4));
    bmp.height = static_cast<std::int32_t>(ReadLe(file, 22, 4));
    if (bmp.width <= 0 || bmp.height <= 0) return fail("width or height not positive");
    if (ReadLe(file, 26, 2) != 1) return fail("planes not 1");
    bmp.bitsPerPixel = static_cast<std::uint16_t>(ReadLe(file, 28, 2));
    if (bmp.bitsPerPixel != 8 && bmp.bitsPerPixel != 16) return fail("not 8 or 16 bits");
    if (ReadLe(file, 30, 4) != 0) return fail("compressed");
    bmp.imageSize = ReadLe(file, 34, 4);
    bmp.coloursUsed = ReadLe(file, 46, 4);
    const std::size_t stride =
        ((static_cast<std::size_t>(bmp.bitsPerPixel) * static_cast<std::size_t>(bmp.width) + 31) /
         32) *
        4;
    const std::size_t rowsBytes = stride * static_cast<std::size_t>(bmp.height);
    if (bmp.imageSize != rowsBytes) return fail("image size not stride x height");
    if (bmp.pixelOffset < 54 || bmp.pixelOffset > file.size() ||
        file.size() - bmp.pixelOffset != rowsBytes) {
        return fail("pixel rows do not end the file");
    }
    if (std::size_t{54} + 4 * std::size_t{bmp.coloursUsed} > bmp.pixelOffset) {
        return fail("palette overlaps the pixel rows");
    }
    bmp.palette.assign(file.begin() + 54, file.begin() + bmp.pixelOffset);
    for (std::int32_t y = 0; y < bmp.height; ++y) {
        // Rows are stored bottom row first.
        std::size_t row = bmp.pixelOffset + static_cast<std::size_t>(bmp.height - 1 - y) * stride;
        for (std::int32_t x = 0; x < bmp.width; ++x) {
            bmp.pixels.push_back(bmp.bitsPerPixel == 8
                                     ? file[row + static_cast<std::size_t>(x)]
                                     : ReadLe(file, row + 2 * static_cast<std::size_t>(x), 2));
        }
    }
    return bmp;
}

// The palette of an 8-bit picture as the bitmap stores it: red and blue exchanged; entries past
// the 256th are not kept.
inline std::vector<std::uint8_t> BitmapPalette(const std::vector<std::uint8_t>& palette) {
    std::vector<std::uint8_t> out(
        palette.begin(),
        palette.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(palette.size(), 1024)));
    for (std::size_t i = 0; i + 4 <= out.size(); i += 4) std::swap(out[i], out[i + 2]);
    return out;
}

}  // namespace morvex::test
